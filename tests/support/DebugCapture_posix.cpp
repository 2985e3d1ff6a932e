// Linux: the platform layer's debugger-output sink.
#include <windows.h>
#include <compat/compat.h>

#include "DShowX/DSTrace.h"
#include "DebugCapture.h"

namespace testsupport {

static void Sink(void*, const char* text) {
    OnDebugText(text);
}

void InstallDebugCapture() {
    CompatSetDebugOutputSink(Sink, nullptr);
    // Assertion boxes answer Ignore unless a test says otherwise.
    CompatSetMessageBoxAnswer(IDIGNORE);
}

void SetDebugCapturePassThrough(bool) {}

NoDebugListener::NoDebugListener() {
    CompatSetDebugOutputSink(nullptr, nullptr);
    DSTraceForceOutput(FALSE);
    DSTraceRefreshListener();
}

NoDebugListener::~NoDebugListener() {
    CompatSetDebugOutputSink(Sink, nullptr);
    DSTraceForceOutput(TRUE);
    DSTraceRefreshListener();
}

}  // namespace testsupport
