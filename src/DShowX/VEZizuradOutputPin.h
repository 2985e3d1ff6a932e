// The library's pins, third layer: the output side of connecting. The output
// pin takes the initiative in Connect, agrees a media type with the
// downstream input pin (its types first, then this pin's own) and hands
// itself over through ReceiveConnection.
//
// These pins are pull pins: a connection counts only when the downstream pin
// asked for the pin's IAsyncReader while connecting (the reader-requested
// rule). The concrete pin answers that interface through QueryReader, which
// sets the flag; a peer that accepts the connection without ever asking is
// disconnected again and Connect fails with E_FAIL.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "DShowX/VEZizuradPin.h"

class COutputPin : public IPinImpl, public IQualityControlImpl<COutputPin> {
public:
    explicit COutputPin(LPCSTR pszDebugPrefix) : IPinImpl(PINDIR_OUTPUT, pszDebugPrefix) {}

    // Holds the pin lock throughout; the peer's EnumMediaTypes,
    // ReceiveConnection and Disconnect are called with it held. On failure
    // the pin is unconnected and keeps its previous media type.
    STDMETHOD(Connect)(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(ReceiveConnection)(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override { return E_NOTIMPL; }
    // Disconnects both sides; needs a stopped filter.
    STDMETHOD(Disconnect)() override;

    // The interface-table function of the pull interface TReader of pin
    // class TPin: hands out TReader add-referenced and sets the
    // reader-requested flag.
    template <class TPin, class TReader>
    static HRESULT QueryReader(void* pThis, REFIID riid, void** ppv) {
        if (!ppv)
            return E_POINTER;
        TPin* pPin = static_cast<TPin*>(pThis);
        TReader* pReader = pPin;
        pReader->AddRef();
        *ppv = pReader;
        pPin->m_bReaderRequested.store(true);
        return S_OK;
    }

    // True when the type's major type is MEDIATYPE_Stream.
    static bool CheckMediaType(const AM_MEDIA_TYPE* pmt) { return IsAcceptablePinType(pmt); }

protected:
    // The steps of Connect, all under the pin lock.
    HRESULT TryMediaTypes(IPin* pExternInputPin) REQUIRES(m_cs);
    HRESULT AgreeExternMT(IPin* pExternInputPin) REQUIRES(m_cs);
    HRESULT AgreeInnerMT(IPin* pExternInputPin) REQUIRES(m_cs);
    // One complete type: checked, made the pin's type and offered.
    HRESULT AttemptConnection2(IPin* pExternInputPin, const AM_MEDIA_TYPE* pmt) REQUIRES(m_cs);
    // Offers the pin with its type to the peer.
    HRESULT AttemptConnection1(IPin* pExternInputPin) REQUIRES(m_cs);
    bool IsCounterpart(IPin* pPin);

private:
    // The shared body of AgreeExternMT and AgreeInnerMT.
    HRESULT AgreeMT(IPin* pExternInputPin, IEnumMediaTypes* pEnum, HRESULT hrEnum, LPCSTR pszName)
        REQUIRES(m_cs);
    // Breaks the connection with the current peer and calls its Disconnect.
    void BreakConnection() REQUIRES(m_cs);
};
