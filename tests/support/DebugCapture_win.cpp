// Windows: OutputDebugStringA raises DBG_PRINTEXCEPTION_C before it looks for
// a debugger; a vectored handler sees it first and takes the text.
#include <windows.h>

#include "DebugCapture.h"

namespace testsupport {

static LONG CALLBACK DebugPrintHandler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* rec = info->ExceptionRecord;
    if (rec->ExceptionCode == DBG_PRINTEXCEPTION_C && rec->NumberParameters >= 2) {
        OnDebugText(reinterpret_cast<const char*>(rec->ExceptionInformation[1]));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void InstallDebugCapture() {
    AddVectoredExceptionHandler(1, DebugPrintHandler);
}

}  // namespace testsupport
