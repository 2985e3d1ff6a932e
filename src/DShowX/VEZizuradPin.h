// The library's pins, second layer: the IPin operations common to every pin
// (IPinImpl) and a quality-control stub (IQualityControlImpl).
#pragma once

#include <windows.h>
#include <dshow.h>

#include "DShowX/DSTrace.h"
#include "DShowX/VEZizuradPinBase.h"

// A type a pin of this library accepts: present, with the major type
// MEDIATYPE_Stream. The subtype and the format are not looked at.
bool IsAcceptablePinType(const AM_MEDIA_TYPE* pmt);

// IPin over the pin base. Connect, ReceiveConnection, Disconnect and the
// flushing operations belong to the derived pins. Locks as in _PinBase:
// ConnectionMediaType copies under m_csConn; EnumMediaTypes holds the pin
// lock; the others take none.
class IPinImpl : public IPin, public _PinBase {
public:
    IPinImpl(PIN_DIRECTION eDir, LPCSTR pszDebugPrefix) : _PinBase(eDir, pszDebugPrefix) {}

    STDMETHOD(ConnectedTo)(IPin** ppPin) override;
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) override;
    STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) override;
    STDMETHOD(QueryId)(LPWSTR* Id) override;
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* pmt) override;
    // The enumerator gets a snapshot of the pin's media type, copied under
    // the pin lock: it reads its source without any lock, and the pin's type
    // may change meanwhile (a new file, a connection).
    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) override;
    STDMETHOD(QueryInternalConnections)(IPin** apPin, ULONG* nPin) override;
    STDMETHOD(EndOfStream)() override { return E_NOTIMPL; }
    STDMETHOD(NewSegment)(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override {
        return E_NOTIMPL;
    }
};

// IQualityControl for a pin class T derived from _PinBase: Notify does
// nothing, SetSink stores the sink (not counted) under the pin lock.
template <class T>
class IQualityControlImpl : public IQualityControl {
public:
    STDMETHOD(Notify)(IBaseFilter* pSelf, Quality q) override {
        DSTrace(TRACE_COM, 10, "%sIQualityControlImpl::Notify\n", Pin()->GetDebugPrefix());
        return S_OK;
    }
    STDMETHOD(SetSink)(IQualityControl* piqc) override {
        DSTrace(TRACE_COM, 10, "%sIQualityControlImpl::SetSink\n", Pin()->GetDebugPrefix());
        Pin()->SetQualitySink(piqc);
        return S_OK;
    }

private:
    T* Pin() { return static_cast<T*>(this); }
};
