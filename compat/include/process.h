// The C run-time's thread start for the Linux build.
#pragma once

#include <windef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Starts a thread like CreateThread and returns its handle as a number, 0 on
// failure (errno and the last error are set).
uintptr_t _beginthreadex(void* security, unsigned stack_size, unsigned(__stdcall* start_address)(void*),
                         void* arglist, unsigned initflag, unsigned* thrdaddr);
void _endthreadex(unsigned retval) __attribute__((noreturn));

#ifdef __cplusplus
}
#endif
