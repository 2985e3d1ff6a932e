#include "CoFileSourceResources.h"

namespace {

// Set by DllMain while the loader holds its lock, before any other code of
// the component runs; only read afterwards.
HINSTANCE g_hResourceInstance = NULL;

}  // namespace

HINSTANCE GetResourceInstance() {
    return g_hResourceInstance;
}

void SetResourceInstance(HINSTANCE hInstance) {
    g_hResourceInstance = hInstance;
}
