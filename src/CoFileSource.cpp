// CCoFileSource: creation and release of the pin, graph membership, Load and
// GetCurFile.
#include "CoFileSource.h"

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"

#include <string.h>

namespace {

// The name in the ANSI code page, for a trace line.
LPCSTR NameForTrace(LPCOLESTR pszName, LPSTR pszBuffer, int cbBuffer) {
    pszBuffer[0] = 0;
    if (pszName && WideCharToMultiByte(CP_ACP, 0, pszName, -1, pszBuffer, cbBuffer, NULL, NULL) <= 0)
        pszBuffer[0] = 0;
    pszBuffer[cbBuffer - 1] = 0;
    return pszBuffer;
}

}  // namespace

CCoFileSource::~CCoFileSource() {
    if (m_apOut)
        m_apOut->Release();
    m_apOut = NULL;
}

CFileSourceOutput* CCoFileSource::Pin() {
    ASSERT(m_apOut != NULL);
    return m_apOut;
}

HRESULT CCoFileSource::FinalConstruct() {
    DSTrace(TRACE_APP2, 2, "CCoFileSource::FinalConstruct\n");
    if (m_apOut) {
        ASSERT(m_eState == State_Stopped);
        ASSERT(!m_apOut->IsConnected());
        DetachPin();
        m_apOut->SetOwner(NULL);
        m_apOut->Release();
        m_apOut = NULL;
    }
    const HRESULT hr = CreatePinInstance(&m_apOut, 0, "Output");
    if (m_apOut) {
        ASSERT(m_apOut->m_ePinDir == PINDIR_OUTPUT);
        m_apOut->SetOwner(this);
    }
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1,
                "###Err### CCoFileSource::FinalConstruct - CreatePinInstance() FAILED hr = 0x%08X\n", hr);
        return hr;
    }
    return S_OK;
}

void CCoFileSource::FinalRelease() {
    DSTrace(TRACE_APP2, 2, "CCoFileSource::FinalRelease\n");
    CCritSecLock lock(m_cs);
    DetachPin();
    // The pin may outlive the filter (a caller holds it): it must not reach
    // it any more.
    if (m_apOut)
        m_apOut->SetOwner(NULL);
    ResetSourceFilter();
}

HRESULT CCoFileSource::Filter_Activate(BOOL bJoin) {
    DSTrace(TRACE_APP2, 8, "CCoFileSource::Filter_Activate(%s)\n", bJoin ? "JOIN" : "REMOVE");
    DetachPin();
    ResetSourceFilter();
    if (!bJoin)
        return S_OK;
    // Without a pin there is nothing to attach: the filter cannot join.
    return AttachPin();
}

HRESULT CCoFileSource::SetState(FILTER_STATE eState, REFERENCE_TIME tStart) {
    const FILTER_STATE eOld = PeekState();
    CFileSourceOutput* pPin = m_apOut;
    if (pPin && eOld == State_Stopped && eState != State_Stopped)
        pPin->FilterStarting();
    const HRESULT hr = _SourceFilterBase::SetState(eState, tStart);
    if (pPin && eState == State_Stopped)
        pPin->FilterStopped(eOld != State_Stopped);
    return hr;
}

STDMETHODIMP CCoFileSource::Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) {
    CHAR szName[MAX_PATH * 2];
    DSTrace(TRACE_APP2, 8, "CCoFileSource::Load( %s )\n", NameForTrace(pszFileName, szName, sizeof(szName)));
    if (!pszFileName)
        return E_INVALIDARG;
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    if (pmt && !IsEqualGUID(pmt->majortype, MEDIATYPE_Stream))
        return VFW_E_TYPE_NOT_ACCEPTED;
    // A paused filter takes a new file; a running one does not.
    if (PeekState() == State_Running)
        return VFW_E_NOT_STOPPED;
    const HRESULT hr = pPin->SetFileName(pszFileName, pmt);
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1, "###Err### CCoFileSource::Load - m_pOut->SetFileName(%s) FAILED hr = 0x%08X\n",
                NameForTrace(pszFileName, szName, sizeof(szName)), hr);
        return hr;
    }
    if (pPin->IsConnected())
        SeekDownstreamToStart();
    return S_OK;
}

void CCoFileSource::SeekDownstreamToStart() {
    CComPtr<IPin> spConnected;
    m_apOut->GetConnected(&spConnected);
    if (!spConnected)
        return;
    PIN_INFO info = {};
    HRESULT hr = spConnected->QueryPinInfo(&info);
    ASSERT(SUCCEEDED(hr));
    if (FAILED(hr) || !info.pFilter)
        return;
    CComPtr<IBaseFilter> spDownstream;
    spDownstream.Attach(info.pFilter);
    // A splitter may seek as a filter, or on its output pins (as the
    // platform's own splitters do). One without seeking is no fault: Load
    // has succeeded all the same.
    CComPtr<IMediaSeeking> spSeeking;
    if (FAILED(spDownstream->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&spSeeking)))) {
        spSeeking.Release();
        CComPtr<IEnumPins> spEnum;
        if (SUCCEEDED(spDownstream->EnumPins(&spEnum)) && spEnum) {
            for (;;) {
                CComPtr<IPin> spPin;
                if (spEnum->Next(1, &spPin, NULL) != S_OK)
                    break;
                PIN_DIRECTION eDir = PINDIR_INPUT;
                if (SUCCEEDED(spPin->QueryDirection(&eDir)) && eDir == PINDIR_OUTPUT &&
                    SUCCEEDED(spPin->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&spSeeking))))
                    break;
                spSeeking.Release();
            }
        }
    }
    if (!spSeeking)
        return;
    LONGLONG llStart = 0;
    hr = spSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, NULL, AM_SEEKING_NoPositioning);
    DSTrace(TRACE_APP2, 8, "[FS] CCoFileSource::Load - qpMediaSeeking->SetPositions()  hr = 0x%08X\n", hr);
}

STDMETHODIMP CCoFileSource::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
    DSTrace(TRACE_APP2, 8, "CCoFileSource::GetCurFile()\n");
    // Out parameters are cleared first: a caller may free the media type
    // whatever the outcome.
    if (pmt)
        memset(pmt, 0, sizeof(*pmt));
    if (!ppszFileName)
        return RefuseCall(E_POINTER, "CCoFileSource::GetCurFile - null name pointer");
    *ppszFileName = NULL;
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    const HRESULT hr = pPin->GetCurFile(ppszFileName, pmt);
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1,
                "###Err### CCoFileSource::GetCurFile - m_pOut->GetCurFile() FAILED hr = 0x%08X\n", hr);
        return hr;
    }
    return S_OK;
}
