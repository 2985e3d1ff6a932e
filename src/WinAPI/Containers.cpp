#include "WinAPI/Containers.h"

#include <string.h>

#include "DShowX/DSTrace.h"

namespace {
const UINT kGrowth = 4096;
}

bool CTextBuffer::Reserve(UINT cbNeeded) {
    if (m_pszText && m_cbCapacity >= cbNeeded)
        return true;
    const UINT cbNew = (cbNeeded / kGrowth) * kGrowth + kGrowth;
    LPSTR pszNew = cbNew > cbNeeded ? static_cast<LPSTR>(CoTaskMemRealloc(m_pszText, cbNew)) : NULL;
    if (!pszNew) {
        Free();
        return false;
    }
    if (!m_pszText)
        pszNew[0] = 0;
    m_pszText = pszNew;
    m_cbCapacity = cbNew;
    return true;
}

bool CTextBuffer::Append(LPCSTR psz) {
    ASSERT(psz != NULL);
    if (!psz || !*psz)
        return true;
    const size_t cch = strlen(psz);
    // The length, the new characters and the terminator must fit a 32-bit size.
    if (cch >= (size_t)(0xFFFFFFFFu - m_cchLength)) {
        Free();
        return false;
    }
    if (!Reserve(m_cchLength + (UINT)cch + 1))
        return false;
    memcpy(m_pszText + m_cchLength, psz, cch + 1);
    m_cchLength += (UINT)cch;
    return true;
}

LPSTR CTextBuffer::Detach() {
    LPSTR psz = m_pszText;
    m_pszText = NULL;
    m_cbCapacity = 0;
    m_cchLength = 0;
    return psz;
}

void CTextBuffer::Free() {
    CoTaskMemFree(m_pszText);
    m_pszText = NULL;
    m_cbCapacity = 0;
    m_cchLength = 0;
}
