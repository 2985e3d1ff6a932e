#include "DShowX/VEZizuradPinBase.h"

#include <stdio.h>
#include <string.h>

_PinBase::_PinBase(PIN_DIRECTION eDir, LPCSTR pszDebugPrefix)
    : m_ePinDir(eDir),
      m_nIndex(0),
      m_pQualitySink(NULL),
      m_pFilter(NULL),
      m_pOwner(NULL),
      m_bReaderRequested(false) {
    m_szName[0] = 0;
    m_szDebugPrefix[0] = 0;
    if (pszDebugPrefix)
        _snprintf(m_szDebugPrefix, sizeof(m_szDebugPrefix) - 1, "%s", pszDebugPrefix);
    m_szDebugPrefix[sizeof(m_szDebugPrefix) - 1] = 0;
}

_PinBase::~_PinBase() {
    CCritSecLock lock(m_csConn);
    ASSERT(!m_spConnected);
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
    // The old filter's reference goes after the lock (spOld is older).
    CComPtr<IBaseFilter> spOld;
    CCritSecLock lock(m_csConn);
    spOld.Attach(m_spFilter.Detach());
    m_spFilter = pIBaseFilter;
}

void _PinBase::SetOwner(_FilterStateBase* pOwner) {
    CCritSecLock lock(m_csConn);
    m_pOwner = pOwner;
}

HRESULT _PinBase::GetOwnerFilter(IBaseFilter** ppFilter) {
    *ppFilter = NULL;
    CCritSecLock lock(m_csConn);
    if (m_spFilter) {
        m_spFilter.CopyTo(ppFilter);
        return S_OK;
    }
    // Under m_csConn: the owner clears m_pOwner under it before it is torn
    // down, so the filter asked here is whole.
    if (m_pOwner)
        *ppFilter = m_pOwner->ReferenceFilter();
    return *ppFilter ? S_OK : VFW_E_NEED_OWNER;
}

bool _PinBase::IsConnected() {
    CCritSecLock lock(m_csConn);
    return m_spConnected.p != NULL;
}

void _PinBase::GetConnected(IPin** ppPin) {
    CCritSecLock lock(m_csConn);
    m_spConnected.CopyTo(ppPin);
}

HRESULT _PinBase::CopyMediaTypeTo(CMType& mt) {
    CCritSecLock lock(m_csConn);
    return mt.Set(&m_mt);
}

HRESULT _PinBase::CopyMediaTypeRecord(AM_MEDIA_TYPE* pmt) {
    CCritSecLock lock(m_csConn);
    return MTCopy(pmt, &m_mt);
}

HRESULT _PinBase::SetMediaType(const AM_MEDIA_TYPE* pmt) {
    CCritSecLock lock(m_csConn);
    return m_mt.Set(pmt);
}

HRESULT _PinBase::CopyConnectionTypeTo(CMType& mt) {
    CCritSecLock lock(m_csConn);
    return mt.Set(&m_mtConn);
}

HRESULT _PinBase::SetConnectionType(const AM_MEDIA_TYPE* pmt) {
    CCritSecLock lock(m_csConn);
    return m_mtConn.Set(pmt);
}

void _PinBase::SetQualitySink(IQualityControl* piqc) {
    CCritSecLock lock(m_cs);
    m_pQualitySink = piqc;
}

void _PinBase::AttachConnected(IPin* pPin) {
    CCritSecLock lock(m_csConn);
    ASSERT(!m_spConnected);
    m_spConnected = pPin;
}

IPin* _PinBase::DetachConnected() {
    CCritSecLock lock(m_csConn);
    return m_spConnected.Detach();
}
