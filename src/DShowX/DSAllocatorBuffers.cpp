#include "DShowX/DSAllocatorBuffers.h"

#include <string.h>

#include <new>

#include "DShowX/DSTrace.h"

// ---------------------------------------------------------------- CAllocatorBuffers

CAllocatorBuffers::CAllocatorBuffers() : m_pMemory(NULL), m_nCount(0), m_stackFree(NULL), m_nFree(0) {}

CAllocatorBuffers::~CAllocatorBuffers() {
    Free();
}

HRESULT CAllocatorBuffers::Correct(ALLOCATOR_PROPERTIES& rgProps) {
    // A power of two is the only value that equals its own lowest set bit. A
    // negative value is refused before the test: the most negative one would
    // pass it.
    const DWORD dwAlign = (DWORD)rgProps.cbAlign;
    // The request comes from whoever asks the allocator: refused with a
    // code, not questioned.
    if (rgProps.cbAlign < 0 || ((0u - dwAlign) & dwAlign) != dwAlign)
        return RefuseCall(VFW_E_BADALIGN,
                          "CCAllocatorBuffers::Correct(): Alignment requested not a power of 2");
    if (rgProps.cBuffers < 1 || rgProps.cbBuffer < 1)
        return RefuseCall(VFW_E_SIZENOTSET,
                          "CAllocatorBuffers::Correct() : Invalid numbers of buffers or buffer size");
    // A negative prefix would put the first buffer's prefix before the block.
    if (rgProps.cbPrefix < 0)
        return E_INVALIDARG;

    LONG cbAlign = rgProps.cbAlign;
    if (cbAlign == 0) {
        DSTrace(TRACE_GENERAL, 2, "WARNING. CAllocatorBuffers::Correct(): rgProps.cbAlign == 0\n");
        cbAlign = 1;
    }
    // Prefix plus buffer rounded up to the alignment, less the prefix; in 64
    // bits, and refused when the rounded stride does not fit a LONG (32 bits
    // on both targets).
    const LONGLONG llStride =
        ((LONGLONG)rgProps.cbBuffer + rgProps.cbPrefix - 1) / cbAlign * cbAlign + cbAlign;
    if (llStride > 0x7FFFFFFF)
        return E_INVALIDARG;
    const LONG cbCorrected = (LONG)(llStride - rgProps.cbPrefix);
    if (cbCorrected != rgProps.cbBuffer) {
        DSTrace(TRACE_GENERAL, 2,
                "WARNING. CAllocatorBuffers::Correct(): input props = { %i, %i, %i, %i }, corrected size of "
                "buffer = "
                "%i\n",
                rgProps.cBuffers, rgProps.cbBuffer, rgProps.cbAlign, rgProps.cbPrefix, cbCorrected);
    }
    rgProps.cbBuffer = cbCorrected;
    rgProps.cbAlign = cbAlign;
    return S_OK;
}

HRESULT CAllocatorBuffers::Allocate(const ALLOCATOR_PROPERTIES& rgProps) {
    ASSERT(rgProps.cBuffers > 0 && rgProps.cbBuffer > 0 && rgProps.cbAlign >= 0);
    if (rgProps.cBuffers <= 0 || rgProps.cbBuffer <= 0 || rgProps.cbAlign < 0 || rgProps.cbPrefix < 0)
        return E_INVALIDARG;
    const ULONGLONG cbAlign = rgProps.cbAlign ? (ULONGLONG)rgProps.cbAlign : 1;

    ASSERT(IsAllReturn());
    Free();

    // Each buffer's prefix starts at a multiple of the alignment.
    const ULONGLONG cbPrefix = (ULONGLONG)rgProps.cbPrefix;
    const ULONGLONG cbStride = (cbPrefix + (ULONGLONG)rgProps.cbBuffer + cbAlign - 1) / cbAlign * cbAlign;
    ULONGLONG cbTotal = cbPrefix + (ULONGLONG)rgProps.cbBuffer + cbStride * (ULONGLONG)(rgProps.cBuffers - 1);
    // The block starts at a multiple of the allocation granularity; a larger
    // alignment needs room to move the first buffer up.
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    if (cbAlign > (ULONGLONG)si.dwAllocationGranularity)
        cbTotal += cbAlign - si.dwAllocationGranularity;
    if (cbTotal > (ULONGLONG)(SIZE_T)-1)
        return E_OUTOFMEMORY;

    BYTE** stackFree = new (std::nothrow) BYTE*[rgProps.cBuffers];
    if (!stackFree)
        return E_OUTOFMEMORY;
    ASSERT(m_pMemory == NULL);
    m_pMemory = static_cast<BYTE*>(VirtualAlloc(NULL, (SIZE_T)cbTotal, MEM_COMMIT, PAGE_READWRITE));
    if (!m_pMemory) {
        delete[] stackFree;
        return E_OUTOFMEMORY;
    }
    m_stackFree = stackFree;
    m_nCount = m_nFree = rgProps.cBuffers;

    const UINT_PTR uBase = ((UINT_PTR)m_pMemory + (UINT_PTR)(cbAlign - 1)) & ~(UINT_PTR)(cbAlign - 1);
    BYTE* pBuffer = reinterpret_cast<BYTE*>(uBase) + cbPrefix;
    for (LONG i = 0; i < m_nCount; ++i, pBuffer += cbStride)
        m_stackFree[i] = pBuffer;
    return S_OK;
}

void CAllocatorBuffers::Free() {
    if (m_pMemory)
        VirtualFree(m_pMemory, 0, MEM_RELEASE);
    m_pMemory = NULL;
    delete[] m_stackFree;
    m_stackFree = NULL;
    m_nCount = m_nFree = 0;
}

BYTE* CAllocatorBuffers::Pop() {
    ASSERT(m_stackFree != NULL);
    if (!m_stackFree || m_nFree == 0)
        return NULL;
    return m_stackFree[--m_nFree];
}

void CAllocatorBuffers::Push(BYTE* pBuffer) {
    ASSERT(m_stackFree != NULL && !IsAllReturn());
    if (!m_stackFree || IsAllReturn())
        return;
    m_stackFree[m_nFree++] = pBuffer;
}

// ---------------------------------------------------------------- CSampleArray

CSampleArray::CSampleArray(size_t cbBlock)
    : m_cbBlock(cbBlock), m_ppArr(NULL), m_nSize(0), m_nAll(0), m_nBusy(0) {}

CSampleArray::~CSampleArray() {
    Free();
}

bool CSampleArray::Grow(LONG nSize) {
    // Only free blocks are in the array; they move to the new one.
    void** ppArr = new (std::nothrow) void*[nSize];
    if (!ppArr)
        return false;
    if (m_nBusy)
        memcpy(ppArr, m_ppArr, m_nBusy * sizeof(void*));
    delete[] m_ppArr;
    m_ppArr = ppArr;
    m_nSize = nSize;
    return true;
}

HRESULT CSampleArray::Reserve(LONG nCount) {
    while (m_nAll > nCount && m_nBusy > 0) {
        ::operator delete(m_ppArr[--m_nBusy]);
        --m_nAll;
    }
    // Room for every block in existence: those held by samples come back.
    if (m_nSize < nCount && !Grow(nCount))
        return E_OUTOFMEMORY;
    while (m_nAll < nCount) {
        void* pBlock = ::operator new(m_cbBlock, std::nothrow);
        if (!pBlock)
            return E_OUTOFMEMORY;
        m_ppArr[m_nBusy++] = pBlock;
        ++m_nAll;
    }
    return S_OK;
}

void CSampleArray::Free() {
    ASSERT(m_nBusy == m_nAll);
    for (LONG i = 0; i < m_nBusy; ++i)
        ::operator delete(m_ppArr[i]);
    delete[] m_ppArr;
    m_ppArr = NULL;
    m_nSize = m_nAll = m_nBusy = 0;
}

void* CSampleArray::Get() {
    if (m_nBusy == 0) {
        ASSERT(m_nBusy == 0);
        if (m_nAll == m_nSize && !Grow(m_nSize ? m_nSize * 2 : 1))
            return NULL;
        void* pBlock = ::operator new(m_cbBlock, std::nothrow);
        if (!pBlock)
            return NULL;
        m_ppArr[m_nBusy++] = pBlock;
        ++m_nAll;
    }
    void* p = m_ppArr[--m_nBusy];
    ASSERT(p != NULL && _T("CSampleArray::Get()"));
    memset(p, 0, m_cbBlock);
    return p;
}

void CSampleArray::Put(void* pBlock) {
    ASSERT(m_ppArr != NULL);
    ASSERT(m_nBusy < m_nAll);
    if (!m_ppArr || m_nBusy >= m_nAll)
        return;
    m_ppArr[m_nBusy++] = pBlock;
}
