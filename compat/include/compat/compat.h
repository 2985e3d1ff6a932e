// Controls of the Linux platform layer that have no Windows counterpart.
// Tests use them to observe and steer what Windows would show a person.
#pragma once

#include <windef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Receives every OutputDebugStringA text. Null restores the default sink.
typedef void (*COMPAT_DEBUG_SINK)(void* context, const char* text);
void CompatSetDebugOutputSink(COMPAT_DEBUG_SINK sink, void* context);

// The answer every MessageBoxA gives from now on (IDABORT, IDRETRY, IDIGNORE,
// ...); 0 restores the environment's policy.
void CompatSetMessageBoxAnswer(int answer);

#ifdef __cplusplus
}
#endif
