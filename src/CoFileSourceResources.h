// The module whose resources (the string table) the component's code loads.
#pragma once

#include <windows.h>

// The component's own module once DllMain has named it; before that null,
// which names the process's main module (test programs that link the code
// directly carry the resources themselves).
HINSTANCE GetResourceInstance();
void SetResourceInstance(HINSTANCE hInstance);
