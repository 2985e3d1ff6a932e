// Small helpers over the platform's functions.
#pragma once

#include <windows.h>

// The module (DLL or program) that holds the calling code: the component
// when it runs as the component, the test program in unit tests. Its string
// table and file name are the component's own.
HMODULE GetCurrentModule();
