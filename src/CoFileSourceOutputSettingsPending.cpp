// Temporary, Linux build only: the platform layer has no registry yet, so the
// setting keeps its default there. Removed once the registry lands.
#include "CoFileSourceOutput.h"

HRESULT CFileSourceOutput::LoadFromRegistry() {
    return E_FAIL;
}

HRESULT CFileSourceOutput::SaveToRegistry() {
    return E_FAIL;
}
