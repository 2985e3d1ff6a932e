// Windows: OutputDebugStringA raises DBG_PRINTEXCEPTION_C before it looks for
// a debugger; a vectored handler sees it first and takes the text.
#include <windows.h>

#include "DebugCapture.h"

#include <atomic>

#include "DShowX/DSTrace.h"

namespace testsupport {

static std::atomic<bool> s_bPassThrough{false};

static LONG CALLBACK DebugPrintHandler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* rec = info->ExceptionRecord;
    if (rec->ExceptionCode == DBG_PRINTEXCEPTION_C && rec->NumberParameters >= 2 && !s_bPassThrough) {
        OnDebugText(reinterpret_cast<const char*>(rec->ExceptionInformation[1]));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void InstallDebugCapture() {
    AddVectoredExceptionHandler(1, DebugPrintHandler);
}

void SetDebugCapturePassThrough(bool bPass) {
    s_bPassThrough = bPass;
}

NoDebugListener::NoDebugListener() {
    DSTraceForceOutput(FALSE);
    DSTraceRefreshListener();
}

NoDebugListener::~NoDebugListener() {
    DSTraceForceOutput(TRUE);
    DSTraceRefreshListener();
}

}  // namespace testsupport
