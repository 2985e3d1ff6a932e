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
    // ReceiveConnection and Disconnect are called with it held. Without a
    // type (or with one whose major type and subtype are both null) the
    // peer's types are tried first, as it lists them (those naming another
    // kind of stream than the pin's own are passed over), then the pin's
    // own. A caller's type names the pin's own: a null major type or subtype is
    // completed from it, and a type of another major type or subtype is
    // refused with VFW_E_TYPE_NOT_ACCEPTED before the peer is called. The
    // type agreed is the connection's (ConnectionMediaType); the pin's own
    // type, the one it offers, never changes here.
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
    // One type: checked, made the connection's type and offered.
    HRESULT AttemptConnection2(IPin* pExternInputPin, const AM_MEDIA_TYPE* pmt) REQUIRES(m_cs);
    // Offers the pin with the connection's type to the peer.
    HRESULT AttemptConnection1(IPin* pExternInputPin) REQUIRES(m_cs);
    // A caller's type with its null GUIDs taken from the pin's own type;
    // VFW_E_TYPE_NOT_ACCEPTED when it names another type than the pin's.
    HRESULT CompleteType(const AM_MEDIA_TYPE* pmt, CMType& mtWhole) EXCLUDES(m_csConn);
    // The type's major type and subtype are the pin's own, a null GUID on
    // either side standing for any.
    bool NamesOwnType(const AM_MEDIA_TYPE* pmt) EXCLUDES(m_csConn);
    // Neither a major type nor a subtype: no type at all.
    static bool IsWildcardType(const AM_MEDIA_TYPE* pmt);
    bool IsCounterpart(IPin* pPin);

private:
    // The shared body of AgreeExternMT and AgreeInnerMT.
    HRESULT AgreeMT(IPin* pExternInputPin, IEnumMediaTypes* pEnum, HRESULT hrEnum, LPCSTR pszName)
        REQUIRES(m_cs);
    // Breaks the connection with the current peer and calls its Disconnect.
    void BreakConnection() REQUIRES(m_cs);
};
