#include "WinAPI/Blob.h"

#include <string.h>

#include "DShowX/DSTrace.h"

namespace {
const ULONGLONG kPage = 4096;
}

CBlob::CBlob() : m_cbCapacity(0) {
    m_blobData.cbData = 0;
    m_blobData.pbData = NULL;
}

CBlob::~CBlob() {
    FreeMem();
}

void CBlob::FreeMem() {
    if (m_blobData.pbData)
        VirtualFree(m_blobData.pbData, 0, MEM_RELEASE);
    m_blobData.pbData = NULL;
    m_blobData.cbData = 0;
    m_cbCapacity = 0;
}

HRESULT CBlob::AllocMem(DWORD cbSize, BOOL bFill, BYTE bFillByte) {
    bool bZeroed = false;
    if (!m_blobData.pbData || m_cbCapacity < cbSize) {
        FreeMem();
        // Rounded in 64 bits: a size near 4 GiB must not wrap to a tiny one.
        const ULONGLONG cbCapacity = ((ULONGLONG)cbSize + kPage - 1) & ~(kPage - 1);
        if (cbSize == 0 || cbCapacity > 0xFFFFFFFFull)
            return E_OUTOFMEMORY;
        // Plain read-write memory: the cache holds data, never code.
        BYTE* pb = (BYTE*)VirtualAlloc(NULL, (SIZE_T)cbCapacity, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (!pb)
            return E_OUTOFMEMORY;
        m_blobData.pbData = pb;
        m_cbCapacity = (DWORD)cbCapacity;
        bZeroed = true;
    }
    m_blobData.cbData = cbSize;
    // New memory comes zeroed from the system, untouched: filling it with
    // zeros would only fault in every page at once (a 20 MiB cache per file).
    if (bFill && !(bZeroed && bFillByte == 0))
        memset(m_blobData.pbData, bFillByte, cbSize);
    return S_OK;
}

BYTE* CBlob::Offset(DWORD _dwOffset) const {
// The check reads as the diagnostics report it; NULL here is offset 0.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpointer-arith"
#ifdef __clang__
#pragma clang diagnostic ignored "-Wnull-arithmetic"
#endif
    ASSERT(m_blobData.cbData > _dwOffset || _dwOffset == NULL);
#pragma GCC diagnostic pop
    if (_dwOffset >= m_blobData.cbData)
        return NULL;
    return m_blobData.pbData + _dwOffset;
}

BOOL CBlob::IsValid() const {
    if (m_blobData.cbData == 0)
        return FALSE;
    ASSERT(m_blobData.pbData);
    return TRUE;
}
