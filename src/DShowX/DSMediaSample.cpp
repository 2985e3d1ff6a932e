#include "DShowX/DSMediaSample.h"

#include <stddef.h>
#include <string.h>

#include <new>

#include "DShowX/DSMemoryAllocator.h"
#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"
#include "DShowX/DSTypes.h"

namespace {

// Where each member of the exchanged record ends: a member is present when
// the caller's size covers its end. Taken from the record itself, so the
// 64-bit layout (pointers of 8 bytes, 64 bytes in all) is right too.
#define PROPS_END(member) \
    ((DWORD)(offsetof(AM_SAMPLE2_PROPERTIES, member) + sizeof(((AM_SAMPLE2_PROPERTIES*)0)->member)))

const DWORD kEndTypeSpecificFlags = PROPS_END(dwTypeSpecificFlags);
const DWORD kEndSampleFlags = PROPS_END(dwSampleFlags);
const DWORD kEndActual = PROPS_END(lActual);
const DWORD kEndStart = PROPS_END(tStart);
const DWORD kEndStop = PROPS_END(tStop);
const DWORD kEndStreamId = PROPS_END(dwStreamId);
const DWORD kEndMediaType = PROPS_END(pMediaType);
const DWORD kEndBuffer = PROPS_END(pbBuffer);
const DWORD kEndBufferSize = PROPS_END(cbBuffer);
const DWORD kPropsSize = (DWORD)sizeof(AM_SAMPLE2_PROPERTIES);

LPCSTR BoolText(BOOL b) {
    return b ? "TRUE" : "FALSE";
}

// A stream time for a trace: its text, or "???" when it is not there.
LPCSTR TimeText(bool bValid, REFERENCE_TIME rt, LPSTR pszConv) {
    return bValid ? RefTime2Str(rt, pszConv) : "???";
}

}  // namespace

// ---------------------------------------------------------------- CMediaSample

CMediaSample::CMediaSample()
    : m_pBuffer(NULL),
      m_cbBuffer(0),
      m_lActual(0),
      m_dwFlags(0),
      m_dwTypeSpecificFlags(0),
      m_pMediaType(NULL),
      m_tStart(0),
      m_tStop(0),
      m_mtStart(0),
      m_mtStop(0),
      m_dwStreamId(0),
      m_pAllocator(NULL) {}

CMediaSample::~CMediaSample() {
    MTFree(m_pMediaType);
}

LPCSTR CMediaSample::GetDebugPrefix() const {
    return "CMediaSample - ";
}

HRESULT CMediaSample::FinalConstruct() {
    DSTrace(TRACE_GENERAL, 10, "CMediaSample::FinalConstruct\n");
    return S_OK;
}

void CMediaSample::FinalRelease(IMemAllocatorNotifyCallbackTemp** ppNotify) {
    DSTrace(TRACE_GENERAL, 10, "CMediaSample::FinalRelease\n");
    if (m_pAllocator) {
        BYTE* pBuffer = NULL;
        if (GetPointer(&pBuffer) != S_OK) {
            ASSERT(!_T("pSample->GetPointer() != S_OK"));
            pBuffer = NULL;
        }
        if (m_pAllocator->PutBackBuffer(pBuffer, ppNotify) != S_OK)
            ASSERT(!_T("ReleaseBuffer() != S_OK"));
    }
    MTFree(m_pMediaType);
    m_pMediaType = NULL;
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer) {
    // Addresses are printed by their low 32 bits, as the text's conversion takes.
    DSTrace(TRACE_COM, 12, "%sIMediaSample::GetPointer(): pBuffer=0x%X\n", GetDebugPrefix(),
            (UINT)(UINT_PTR)m_pBuffer);
    if (!ppBuffer)
        return RefuseCall(E_POINTER, "CMediaSample::GetPointer - null ppBuffer");
    ASSERT(m_pBuffer != NULL);
    *ppBuffer = m_pBuffer;
    return m_pBuffer ? S_OK : E_FAIL;
}

STDMETHODIMP_(LONG) CMediaSample::GetSize() {
    DSTrace(TRACE_COM, 12, "%sIMediaSample::GetSize(): cbBuffer=%u (0x%X)\n", GetDebugPrefix(), m_cbBuffer,
            m_cbBuffer);
    return m_cbBuffer;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    CHAR szStart[CONV_BUFFER_SIZE], szStop[CONV_BUFFER_SIZE];
    const bool bStart = (m_dwFlags & AM_SAMPLE_TIMEVALID) != 0;
    const bool bStop = (m_dwFlags & AM_SAMPLE_STOPVALID) != 0;
    DSTrace(TRACE_COM, 12, "%sIMediaSample::GetTime(), tS=%s  tE=%s\n", GetDebugPrefix(),
            TimeText(bStart, m_tStart, szStart),
            bStop ? RefTime2Str(m_tStop, szStop) : TimeText(bStart, m_tStart + 1, szStop));
    if (!pTimeStart || !pTimeEnd)
        return RefuseCall(E_INVALIDARG, "CMediaSample::GetTime - null pTimeStart or pTimeEnd");
    if (bStop) {
        *pTimeStart = m_tStart;
        *pTimeEnd = m_tStop;
        return S_OK;
    }
    if (bStart) {
        *pTimeStart = m_tStart;
        *pTimeEnd = m_tStart + 1;
        return VFW_S_NO_STOP_TIME;
    }
    return VFW_E_SAMPLE_TIME_NOT_SET;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    CHAR szStart[CONV_BUFFER_SIZE], szStop[CONV_BUFFER_SIZE];
    DSTrace(TRACE_COM, 12, "%sIMediaSample::SetTime( tS=%s  tE=%s )\n", GetDebugPrefix(),
            TimeText(pTimeStart != NULL, pTimeStart ? *pTimeStart : 0, szStart),
            TimeText(pTimeEnd != NULL, pTimeEnd ? *pTimeEnd : 0, szStop));
    if (!pTimeStart) {
        if (pTimeEnd)
            ASSERT(pTimeEnd == NULL);
        m_dwFlags &= ~(DWORD)(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
        m_tStart = m_tStop = 0;
        return S_OK;
    }
    if (pTimeEnd) {
        if (*pTimeEnd < *pTimeStart) {
            ASSERT(*pTimeEnd >= *pTimeStart);
            return E_INVALIDARG;
        }
        m_tStop = *pTimeEnd;
        m_dwFlags |= AM_SAMPLE_STOPVALID;
    } else {
        m_dwFlags &= ~(DWORD)AM_SAMPLE_STOPVALID;
        m_tStop = 0;
    }
    m_tStart = *pTimeStart;
    m_dwFlags |= AM_SAMPLE_TIMEVALID;
    return S_OK;
}

HRESULT CMediaSample::TestFlag(DWORD dwFlag, LPCSTR pszFormat) {
    const BOOL bSet = (m_dwFlags & dwFlag) != 0;
    DSTrace(TRACE_COM, 12, pszFormat, GetDebugPrefix(), BoolText(bSet));
    return bSet ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetFlag(DWORD dwFlag, BOOL bSet, LPCSTR pszFormat) {
    DSTrace(TRACE_COM, 10, pszFormat, GetDebugPrefix(), BoolText(bSet));
    if (bSet)
        m_dwFlags |= dwFlag;
    else
        m_dwFlags &= ~dwFlag;
    return S_OK;
}

STDMETHODIMP CMediaSample::IsSyncPoint() {
    return TestFlag(AM_SAMPLE_SPLICEPOINT, "%sIMediaSample::IsSyncPoint(): %s\n");
}

STDMETHODIMP CMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
    return SetFlag(AM_SAMPLE_SPLICEPOINT, bIsSyncPoint, "%sIMediaSample::SetSyncPoint( %s )\n");
}

STDMETHODIMP CMediaSample::IsPreroll() {
    return TestFlag(AM_SAMPLE_PREROLL, "%sIMediaSample::IsPreroll(): %s\n");
}

STDMETHODIMP CMediaSample::SetPreroll(BOOL bIsPreroll) {
    return SetFlag(AM_SAMPLE_PREROLL, bIsPreroll, "%sIMediaSample::SetPreroll( %s )\n");
}

STDMETHODIMP CMediaSample::IsDiscontinuity() {
    return TestFlag(AM_SAMPLE_DATADISCONTINUITY, "%sIMediaSample::IsDiscontinuity(): %s\n");
}

STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
    return SetFlag(AM_SAMPLE_DATADISCONTINUITY, bDiscontinuity, "%sIMediaSample::SetDiscontinuity( %s )\n");
}

STDMETHODIMP_(LONG) CMediaSample::GetActualDataLength() {
    DSTrace(TRACE_COM, 12, "%sIMediaSample::GetActualDataLength(): cbActual=%u\n", GetDebugPrefix(),
            m_lActual);
    return m_lActual;
}

STDMETHODIMP CMediaSample::SetActualDataLength(LONG lLen) {
    DSTrace(TRACE_COM, 10, "%sIMediaSample::SetActualDataLength( %u )\n", GetDebugPrefix(), lLen);
    if (lLen > m_cbBuffer) {
        ASSERT(!_T("Actual sample's data length greater then buffer size"));
        return VFW_E_BUFFER_OVERFLOW;
    }
    // A negative length would read as a huge one to anyone taking it unsigned.
    if (lLen < 0)
        return E_INVALIDARG;
    m_lActual = lLen;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    DSTrace(TRACE_COM, 12, "%sIMediaSample::GetMediaType()\n", GetDebugPrefix());
    if (!ppMediaType)
        return RefuseCall(E_POINTER, "CMediaSample::GetMediaType - null ppMediaType");
    if (m_dwFlags & AM_SAMPLE_TYPECHANGED) {
        ASSERT(m_pMediaType != NULL);
        *ppMediaType = MTDup(m_pMediaType);
        return *ppMediaType ? S_OK : E_OUTOFMEMORY;
    }
    ASSERT(m_pMediaType == NULL);
    *ppMediaType = NULL;
    return S_FALSE;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
    DSTrace(TRACE_COM, 8, "%sIMediaSample::SetMediaType()\n", GetDebugPrefix());
    // The copy is made before the old type is freed: pMediaType may be the
    // attached type itself, as GetProperties hands it out.
    AM_MEDIA_TYPE* pNew = pMediaType ? MTDup(pMediaType) : NULL;
    MTFree(m_pMediaType);
    m_pMediaType = NULL;
    m_dwFlags &= ~(DWORD)AM_SAMPLE_TYPECHANGED;
    if (!pMediaType)
        return S_OK;
    if (!pNew)
        return E_OUTOFMEMORY;
    m_pMediaType = pNew;
    m_dwFlags |= AM_SAMPLE_TYPECHANGED;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    const bool bValid = (m_dwFlags & SAMPLE_MEDIATIMEVALID) != 0;
    DSTrace(TRACE_COM, 12, "%sIMediaSample::GetMediaTime(): mS=%I64i  mE=%I64i\n", GetDebugPrefix(),
            bValid ? m_mtStart : 0, bValid ? m_mtStop : 0);
    if (!pTimeStart || !pTimeEnd)
        return RefuseCall(E_INVALIDARG, "CMediaSample::GetMediaTime - null pTimeStart or pTimeEnd");
    if (bValid) {
        *pTimeStart = m_mtStart;
        *pTimeEnd = m_mtStop;
        return S_OK;
    }
    *pTimeStart = *pTimeEnd = 0;
    return VFW_E_MEDIA_TIME_NOT_SET;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    DSTrace(TRACE_COM, 12, "%sIMediaSample::SetMediaTime( mS=%I64i  mE=%I64i )\n", GetDebugPrefix(),
            pTimeStart ? *pTimeStart : 0, pTimeEnd ? *pTimeEnd : 0);
    if (!pTimeStart) {
        if (pTimeEnd)
            ASSERT(pTimeEnd == NULL);
        m_dwFlags &= ~(DWORD)SAMPLE_MEDIATIMEVALID;
        m_mtStart = m_mtStop = 0;
        return S_OK;
    }
    if (!pTimeEnd) {
        ASSERT(pTimeEnd != NULL);
        return E_INVALIDARG;
    }
    if (!(*pTimeEnd > *pTimeStart)) {
        ASSERT(*pTimeEnd > *pTimeStart);
        return E_INVALIDARG;
    }
    m_mtStart = *pTimeStart;
    m_mtStop = *pTimeEnd;
    m_dwFlags |= SAMPLE_MEDIATIMEVALID;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetProperties(DWORD cbProperties, BYTE* pbProperties) {
    DSTrace(TRACE_COM, 12, "%sIMediaSample2::GetProperties( cbProps=%u )\n", GetDebugPrefix(), cbProperties);
    if (cbProperties == 0)
        return S_OK;
    if (!pbProperties)
        return RefuseCall(E_POINTER, "CMediaSample::GetProperties - null pbProperties");

    const DWORD cbCopy = cbProperties < kPropsSize ? cbProperties : kPropsSize;
    AM_SAMPLE2_PROPERTIES props;
    memset(&props, 0, sizeof(props));
    props.cbData = cbCopy;
    props.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
    props.dwSampleFlags = m_dwFlags & ~(DWORD)SAMPLE_MEDIATIMEVALID;
    props.lActual = m_lActual;
    props.tStart = m_tStart;
    props.tStop = m_tStop;
    props.dwStreamId = m_dwStreamId;
    props.pMediaType = (m_dwFlags & AM_SAMPLE_TYPECHANGED) ? m_pMediaType : NULL;
    props.pbBuffer = m_pBuffer;
    props.cbBuffer = m_cbBuffer;
    memcpy(pbProperties, &props, cbCopy);
    return S_OK;
}

STDMETHODIMP CMediaSample::SetProperties(DWORD cbProperties, const BYTE* pbProperties) {
    DSTrace(TRACE_COM, 12, "%sIMediaSample2::SetProperties( cbProps=%u, pbProps=0x%X )\n", GetDebugPrefix(),
            cbProperties, (UINT)(UINT_PTR)pbProperties);
    if (cbProperties < kEndTypeSpecificFlags)
        return S_OK;
    if (!pbProperties)
        return RefuseCall(E_POINTER, "CMediaSample::SetProperties - null pbProperties");

    // Only the bytes the caller vouched for are read, into a record of our own.
    DWORD cbData;
    memcpy(&cbData, pbProperties, sizeof(cbData));
    if (cbData < cbProperties)
        cbProperties = cbData;
    if (cbProperties > kPropsSize)
        return E_INVALIDARG;
    AM_SAMPLE2_PROPERTIES props;
    memset(&props, 0, sizeof(props));
    memcpy(&props, pbProperties, cbProperties);
    const AM_SAMPLE2_PROPERTIES* pProps = &props;

    const bool bFlags = cbProperties >= kEndSampleFlags;
    if (bFlags && (pProps->dwSampleFlags & ~(DWORD)SAMPLE_SETTABLE_FLAGS))
        return E_INVALIDARG;
    if (bFlags && cbProperties < kEndStop && (pProps->dwSampleFlags & AM_SAMPLE_TIMEVALID) &&
        !(m_dwFlags & AM_SAMPLE_STOPVALID))
        return E_INVALIDARG;
    if (cbProperties >= kEndBuffer && pProps->pbBuffer && pProps->pbBuffer != m_pBuffer)
        return E_INVALIDARG;
    if (cbProperties >= kEndBufferSize) {
        if (pProps->cbBuffer != 0 && pProps->cbBuffer != m_cbBuffer)
            return E_INVALIDARG;
        if (pProps->cbBuffer < pProps->lActual)
            return E_INVALIDARG;
    }
    // The valid length must fit the buffer, whatever else the record says.
    if (cbProperties >= kEndActual && (pProps->lActual < 0 || pProps->lActual > m_cbBuffer))
        return E_INVALIDARG;

    // AM_SAMPLE_TYPECHANGED says whether a type is attached. A record that
    // carries the type field decides it; one too short to carry it keeps the
    // sample's type and bit.
    const bool bTypeField = cbProperties >= kEndMediaType;
    AM_MEDIA_TYPE* pNewType = NULL;
    if (bTypeField) {
        if (pProps->dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
            if (!pProps->pMediaType) {
                ASSERT(pProps->pMediaType != NULL);
                return E_POINTER;
            }
            DSTrace(TRACE_COM, 8, "%sIMediaSample2::SetProperties - change media type\n", GetDebugPrefix());
            pNewType = MTDup(pProps->pMediaType);
            if (!pNewType)
                return E_OUTOFMEMORY;
        } else if (pProps->pMediaType) {
            ASSERT(pProps->pMediaType == NULL);
        }
    }

    m_dwTypeSpecificFlags = pProps->dwTypeSpecificFlags;
    if (bFlags) {
        const DWORD dwKept = SAMPLE_MEDIATIMEVALID | (bTypeField ? 0 : (DWORD)AM_SAMPLE_TYPECHANGED);
        m_dwFlags = (pProps->dwSampleFlags & ~dwKept) | (m_dwFlags & dwKept);
    }
    if (cbProperties >= kEndActual)
        m_lActual = pProps->lActual;
    if (cbProperties >= kEndStart)
        m_tStart = pProps->tStart;
    if (cbProperties >= kEndStop)
        m_tStop = pProps->tStop;
    if (cbProperties >= kEndStreamId)
        m_dwStreamId = pProps->dwStreamId;
    if (bTypeField) {
        MTFree(m_pMediaType);
        m_pMediaType = pNewType;
    }
    return S_OK;
}

// ---------------------------------------------------------------- CComSampleObject

STDMETHODIMP CComSampleObject::QueryInterface(REFIID riid, void** ppv) {
    return InternalQueryInterface(static_cast<CMediaSample*>(this), GetInterfaceTable(), riid, ppv);
}

STDMETHODIMP_(ULONG) CComSampleObject::AddRef() {
    return InternalAddRef();
}

STDMETHODIMP_(ULONG) CComSampleObject::Release() {
    const ULONG nRef = InternalRelease();
    if (nRef != 0)
        return nRef;

    // The sample's allocator reference is not counted, and giving the buffer
    // back after a decommit can drop the allocator's last reference of its
    // own: hold one until the block is back too.
    CMemoryAllocator* pAllocator = m_pAllocator;
    if (pAllocator)
        pAllocator->AddRef();
    m_dwRef = 1;
    IMemAllocatorNotifyCallbackTemp* pNotify = NULL;
    FinalRelease(&pNotify);
    this->~CComSampleObject();
    if (pAllocator) {
        // The block first, so that the callback finds a whole free sample.
        pAllocator->ReturnSample(this);
        if (pNotify) {
            pNotify->NotifyRelease();
            pNotify->Release();
        }
        pAllocator->Release();
    }
    return 0;
}

HRESULT CComSampleObject::InitInstance(void* pSample, CMemoryAllocator* pAlloc, BYTE* pBuffer, LONG cbBuffer,
                                       IMediaSample** ppMediaSample) {
    ASSERT(pSample != NULL && ppMediaSample != NULL);
    if (!pSample || !ppMediaSample)
        return E_POINTER;
    *ppMediaSample = NULL;
    ASSERT(pAlloc != NULL && pBuffer != NULL && cbBuffer > 0);
    if (!pAlloc || !pBuffer || cbBuffer <= 0)
        return E_INVALIDARG;

    // Nobody else sees the new sample yet: its count is set, not changed by
    // interlocked operations, and the one reference it starts with is the
    // caller's.
    CComSampleObject* p = new (pSample) CComSampleObject();
    p->m_pAllocator = pAlloc;
    p->SetBuffer(pBuffer, cbBuffer);
    p->m_dwRef.store(1, std::memory_order_relaxed);
    p->FinalConstruct();
    *ppMediaSample = static_cast<IMediaSample*>(p);
    return S_OK;
}

void CComSampleObject::SetBuffer(BYTE* pBuffer, LONG cbBuffer) {
    ASSERT((m_pBuffer != NULL && m_cbBuffer != 0) || (m_pBuffer == NULL && m_cbBuffer == 0));
    m_pBuffer = pBuffer;
    m_cbBuffer = cbBuffer;
}
