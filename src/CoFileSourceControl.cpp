// CCoFileSource's control interface, IOrvexFileSource: the pin's live figures
// and its two run-time settings. Every figure is a single value the pin keeps
// atomic (the read position is copied under the pin's statistics lock), so
// any thread may ask at any time.
#include "CoFileSource.h"

#include "DShowX/DSTrace.h"

STDMETHODIMP CCoFileSource::SetBuffSize(DWORD dwBuffSize) {
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    pPin->SetBuffSize(dwBuffSize);  // the pin caps it
    return S_OK;
}

STDMETHODIMP CCoFileSource::GetBuffSize(DWORD* _pdwBuffSizeKb) {
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    if (!_pdwBuffSizeKb)
        return RefuseCall(E_POINTER, "CCoFileSource::GetBuffSize - null _pdwBuffSizeKb");
    *_pdwBuffSizeKb = pPin->GetBuffSize();
    return S_OK;
}

STDMETHODIMP CCoFileSource::GetFileSize(LONGLONG* _pn64FileSize, LONG* _plWriteSpeed) {
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    if (!_pn64FileSize)
        return RefuseCall(E_POINTER, "CCoFileSource::GetFileSize - null _pn64FileSize");
    // The size the cache last saw: the file is not measured for a figure.
    const LONGLONG llSize = pPin->GetFileLength(FALSE);
    *_pn64FileSize = llSize < 0 ? 0 : llSize;
    if (_plWriteSpeed)
        *_plWriteSpeed = pPin->GetWriteSpeed();
    return S_OK;
}

STDMETHODIMP CCoFileSource::GetReadPos(LONGLONG* _pn64ReadPos, LONG* _plReadSpeed) {
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    if (!_pn64ReadPos)
        return RefuseCall(E_POINTER, "CCoFileSource::GetReadPos - null _pn64ReadPos");
    return pPin->GetReadPos(_pn64ReadPos, _plReadSpeed);
}

STDMETHODIMP CCoFileSource::GetWaitSize(DWORD* _pdwWaitSize) {
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    if (!_pdwWaitSize)
        return RefuseCall(E_POINTER, "CCoFileSource::GetWaitSize - null _pdwWaitSize");
    *_pdwWaitSize = pPin->GetWaitSize();
    return S_OK;
}

STDMETHODIMP CCoFileSource::IsSeekingSupported() {
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    return pPin->IsSeekingAllowed() ? S_OK : S_FALSE;
}

STDMETHODIMP CCoFileSource::SetSeekingSupported(BOOL bAllow) {
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    if (PeekState() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!pPin->SetSeekingAllowed(bAllow != FALSE))
        return S_FALSE;
    if (!pPin->IsConnected())
        return S_OK;
    // The length the pin reports for a growing file depends on the setting:
    // the downstream filter must connect again to see it.
    CComPtr<IPin> spPin(static_cast<IPin*>(pPin));
    const HRESULT hr = ReconnectPin(spPin);
    if (FAILED(hr))
        DSTrace(TRACE_APP2, 1,
                "###Err### CCoFileSource::SetSeekingSupported - ReconnectPin() FAILED hr = 0x%08X\n", hr);
    return hr;
}

STDMETHODIMP CCoFileSource::GetMargin(DWORD* pdwBytes, DWORD* pdwMilliseconds, BOOL* pbMeasured) {
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    if (!pdwBytes || !pdwMilliseconds || !pbMeasured)
        return RefuseCall(E_POINTER, "CCoFileSource::GetMargin - null result pointer");
    bool bMeasured = false;
    pPin->GetMargin(pdwBytes, pdwMilliseconds, &bMeasured);
    *pbMeasured = bMeasured ? TRUE : FALSE;
    return S_OK;
}

STDMETHODIMP CCoFileSource::SetMarginTime(DWORD dwMilliseconds) {
    CFileSourceOutput* pPin = Pin();
    if (!pPin)
        return E_UNEXPECTED;
    if (dwMilliseconds > MAX_MARGIN_TIME)
        return RefuseCall(E_INVALIDARG, "CCoFileSource::SetMarginTime - out of range");
    pPin->SetMarginTime(dwMilliseconds);
    return S_OK;
}
