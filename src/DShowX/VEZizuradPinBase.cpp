#include "DShowX/VEZizuradPinBase.h"

#include <stdio.h>
#include <string.h>

_PinBase::_PinBase(PIN_DIRECTION eDir, LPCSTR pszDebugPrefix)
    : m_ePinDir(eDir), m_nIndex(0), m_pQualitySink(NULL), m_pFilter(NULL), m_bReaderRequested(false) {
    InitializeCriticalSection(&m_csConn);
    m_szName[0] = 0;
    m_szDebugPrefix[0] = 0;
    if (pszDebugPrefix)
        _snprintf(m_szDebugPrefix, sizeof(m_szDebugPrefix) - 1, "%s", pszDebugPrefix);
    m_szDebugPrefix[sizeof(m_szDebugPrefix) - 1] = 0;
}

_PinBase::~_PinBase() {
    ASSERT(!m_spConnected);
    DeleteCriticalSection(&m_csConn);
}

void _PinBase::SetIdentity(UINT nIndex, LPCSTR pszName) {
    m_nIndex = nIndex;
    if (pszName && *pszName) {
        strncpy(m_szName, pszName, sizeof(m_szName) - 1);
        m_szName[sizeof(m_szName) - 1] = 0;
    } else {
        _snprintf(m_szName, sizeof(m_szName) - 1, m_ePinDir == PINDIR_OUTPUT ? "Out %u" : "In %u", nIndex);
        m_szName[sizeof(m_szName) - 1] = 0;
    }
}

void _PinBase::SetFilter(_FilterStateBase* pFilter, IBaseFilter* pIBaseFilter) {
    m_pFilter.store(pFilter);
    CComPtr<IBaseFilter> spOld;
    EnterCriticalSection(&m_csConn);
    spOld.Attach(m_spFilter.Detach());
    m_spFilter = pIBaseFilter;
    LeaveCriticalSection(&m_csConn);
}

bool _PinBase::IsConnected() {
    EnterCriticalSection(&m_csConn);
    const bool bConnected = m_spConnected.p != NULL;
    LeaveCriticalSection(&m_csConn);
    return bConnected;
}

void _PinBase::GetConnected(IPin** ppPin) {
    EnterCriticalSection(&m_csConn);
    m_spConnected.CopyTo(ppPin);
    LeaveCriticalSection(&m_csConn);
}

HRESULT _PinBase::CopyMediaTypeTo(CMType& mt) {
    EnterCriticalSection(&m_csConn);
    const HRESULT hr = mt.Set(&m_mt);
    LeaveCriticalSection(&m_csConn);
    return hr;
}

HRESULT _PinBase::CopyMediaTypeRecord(AM_MEDIA_TYPE* pmt) {
    EnterCriticalSection(&m_csConn);
    const HRESULT hr = MTCopy(pmt, &m_mt);
    LeaveCriticalSection(&m_csConn);
    return hr;
}

HRESULT _PinBase::SetMediaType(const AM_MEDIA_TYPE* pmt) {
    EnterCriticalSection(&m_csConn);
    const HRESULT hr = m_mt.Set(pmt);
    LeaveCriticalSection(&m_csConn);
    return hr;
}

void _PinBase::SetQualitySink(IQualityControl* piqc) {
    CObjectLock<CComObjectRootMT> lock(this);
    m_pQualitySink = piqc;
}

void _PinBase::AttachConnected(IPin* pPin) {
    EnterCriticalSection(&m_csConn);
    ASSERT(!m_spConnected);
    m_spConnected = pPin;
    LeaveCriticalSection(&m_csConn);
}

IPin* _PinBase::DetachConnected() {
    EnterCriticalSection(&m_csConn);
    IPin* pOld = m_spConnected.Detach();
    LeaveCriticalSection(&m_csConn);
    return pOld;
}
