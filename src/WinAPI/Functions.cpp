#include "WinAPI/Functions.h"

namespace {
// Any address inside this module names it.
const char s_chModuleAnchor = 0;
}  // namespace

HMODULE GetCurrentModule() {
    HMODULE hModule = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       &s_chModuleAnchor, &hModule);
    return hModule;
}
