#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include "DShowX/DSEnums.h"
#include "DebugCapture.h"

namespace {

#define STUB(name, args)            \
    STDMETHOD(name) args override { \
        return E_NOTIMPL;           \
    }

// A pin with only what the enumerators use: identity and a media type.
class CStubPin : public IPin, public CComObjectRootBase {
public:
    BEGIN_INTERFACE_TABLE(CStubPin)
    INTERFACE_ENTRY(IPin)
    END_INTERFACE_TABLE()

    const CMType& GetPinMediaType() const { return m_mt; }
    ULONG RefCount() const { return (ULONG)m_dwRef; }

    STUB(Connect, (IPin*, const AM_MEDIA_TYPE*))
    STUB(ReceiveConnection, (IPin*, const AM_MEDIA_TYPE*))
    STUB(Disconnect, ())
    STUB(ConnectedTo, (IPin**))
    STUB(ConnectionMediaType, (AM_MEDIA_TYPE*))
    STUB(QueryPinInfo, (PIN_INFO*))
    STUB(QueryDirection, (PIN_DIRECTION*))
    STUB(QueryId, (LPWSTR*))
    STUB(QueryAccept, (const AM_MEDIA_TYPE*))
    STUB(EnumMediaTypes, (IEnumMediaTypes**))
    STUB(QueryInternalConnections, (IPin**, ULONG*))
    STUB(EndOfStream, ())
    STUB(BeginFlush, ())
    STUB(EndFlush, ())
    STUB(NewSegment, (REFERENCE_TIME, REFERENCE_TIME, double))

    CMType m_mt;
};

// A filter with an optional output pin.
class CStubFilter : public IBaseFilter, public CComObjectRootBase {
public:
    BEGIN_INTERFACE_TABLE(CStubFilter)
    INTERFACE_ENTRY(IBaseFilter)
    END_INTERFACE_TABLE()

    void FinalRelease() {
        if (m_apOut)
            m_apOut->Release();
    }
    IBaseFilter* GetFilterInterface() { return this; }
    CComObject<CStubPin>* GetOutputPin() { return m_apOut; }
    ULONG RefCount() const { return (ULONG)m_dwRef; }

    STUB(GetClassID, (CLSID*))
    STUB(Stop, ())
    STUB(Pause, ())
    STUB(Run, (REFERENCE_TIME))
    STUB(GetState, (DWORD, FILTER_STATE*))
    STUB(SetSyncSource, (IReferenceClock*))
    STUB(GetSyncSource, (IReferenceClock**))
    STUB(EnumPins, (IEnumPins**))
    STUB(FindPin, (LPCWSTR, IPin**))
    STUB(QueryFilterInfo, (FILTER_INFO*))
    STUB(JoinFilterGraph, (IFilterGraph*, LPCWSTR))
    STUB(QueryVendorInfo, (LPWSTR*))

    CComObject<CStubPin>* m_apOut = NULL;
};

class Enumerators : public ::testing::Test {
protected:
    void SetUp() override {
        m_nLocks = CComModuleLock::GetLockCount();
        ASSERT_EQ(S_OK, CComObject<CStubFilter>::CreateObject(&m_pFilter));
        ASSERT_EQ(S_OK, CComObject<CStubPin>::CreateObject(&m_pFilter->m_apOut));
        m_pPin = m_pFilter->m_apOut;
    }
    void TearDown() override {
        EXPECT_EQ(0u, m_pFilter->Release());
        EXPECT_EQ(m_nLocks, CComModuleLock::GetLockCount());
    }
    IEnumPins* Pins() {
        IEnumPins* p = NULL;
        EXPECT_EQ(S_OK, CPinEnum<CStubFilter>::Create(m_pFilter, 0, &p));
        return p;
    }

    LONG m_nLocks = 0;
    CComObject<CStubFilter>* m_pFilter = NULL;
    CComObject<CStubPin>* m_pPin = NULL;
};

TEST_F(Enumerators, PinEnumeratorYieldsTheOutputPinOnce) {
    IEnumPins* pEnum = Pins();
    EXPECT_EQ(2u, m_pFilter->RefCount());  // the enumerator holds the filter
    EXPECT_EQ(m_nLocks + 3, CComModuleLock::GetLockCount());
    IPin* pins[3] = {};
    ULONG n = 99;
    EXPECT_EQ(S_OK, pEnum->Next(1, pins, &n));
    EXPECT_EQ(1u, n);
    EXPECT_EQ(static_cast<IPin*>(m_pPin), pins[0]);
    EXPECT_EQ(2u, m_pPin->RefCount());
    pins[0]->Release();
    EXPECT_EQ(S_FALSE, pEnum->Next(1, pins, &n));
    EXPECT_EQ(0u, n);

    EXPECT_EQ(S_OK, pEnum->Reset());
    EXPECT_EQ(S_FALSE, pEnum->Next(3, pins, &n));
    EXPECT_EQ(1u, n);
    pins[0]->Release();

    EXPECT_EQ(S_OK, pEnum->Reset());
    EXPECT_EQ(E_INVALIDARG, pEnum->Next(2, pins, NULL));
    EXPECT_EQ(E_POINTER, pEnum->Next(1, NULL, &n));
    EXPECT_EQ(S_OK, pEnum->Next(1, pins, NULL));
    pins[0]->Release();
    EXPECT_EQ(0u, pEnum->Release());
    EXPECT_EQ(1u, m_pFilter->RefCount());
}

TEST_F(Enumerators, SkipProbesTheLastSkippedPosition) {
    IEnumPins* pEnum = Pins();
    EXPECT_EQ(S_OK, pEnum->Skip(0));  // position 0 holds the pin
    EXPECT_EQ(S_OK, pEnum->Skip(1));
    EXPECT_EQ(S_FALSE, pEnum->Skip(0));  // at the end, and stays there
    IPin* pin = NULL;
    ULONG n = 0;
    EXPECT_EQ(S_FALSE, pEnum->Next(1, &pin, &n));
    EXPECT_EQ(S_OK, pEnum->Reset());
    EXPECT_EQ(S_FALSE, pEnum->Skip(2));  // still advances by two
    EXPECT_EQ(S_FALSE, pEnum->Skip(0));
    EXPECT_EQ(S_FALSE, pEnum->Skip(0xFFFFFFFF));
    EXPECT_EQ(1u, m_pPin->RefCount());  // probes give their elements back
    pEnum->Release();
}

TEST_F(Enumerators, CloneKeepsThePosition) {
    IEnumPins* pEnum = Pins();
    IPin* pin = NULL;
    ASSERT_EQ(S_OK, pEnum->Next(1, &pin, NULL));
    pin->Release();
    IEnumPins* pClone = NULL;
    ASSERT_EQ(S_OK, pEnum->Clone(&pClone));  // past the end is fine
    ULONG n = 7;
    EXPECT_EQ(S_FALSE, pClone->Next(1, &pin, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(S_OK, pClone->Reset());
    EXPECT_EQ(S_OK, pClone->Next(1, &pin, &n));
    pin->Release();
    EXPECT_EQ(3u, m_pFilter->RefCount());
    pClone->Release();
    pEnum->Release();
    testsupport::ExpectAsserts expect;
    EXPECT_EQ(E_INVALIDARG, CPinEnum<CStubFilter>::Create(NULL, 0, &pEnum));
    EXPECT_EQ(E_POINTER, CPinEnum<CStubFilter>::Create(m_pFilter, 0, NULL));
}

TEST_F(Enumerators, FilterWithoutPinYieldsNothing) {
    m_pFilter->m_apOut->Release();
    m_pFilter->m_apOut = NULL;
    IEnumPins* pEnum = Pins();
    IPin* pin = NULL;
    ULONG n = 5;
    EXPECT_EQ(S_FALSE, pEnum->Next(1, &pin, &n));
    EXPECT_EQ(0u, n);
    pEnum->Release();
}

TEST_F(Enumerators, MediaTypeEnumeratorFollowsThePinAndHandsOutCopies) {
    IEnumMediaTypes* pEnum = NULL;
    ASSERT_EQ(S_OK, CMediaTypesEnum<CStubPin>::Create(m_pPin, 0, &pEnum));
    EXPECT_EQ(2u, m_pPin->RefCount());
    AM_MEDIA_TYPE* types[2] = {};
    ULONG n = 3;
    EXPECT_EQ(S_FALSE, pEnum->Next(1, types, &n));  // no type set
    EXPECT_EQ(0u, n);

    AM_MEDIA_TYPE mt;
    MTInit(&mt, MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM);
    mt.cbFormat = 4;
    mt.pbFormat = MTAllocFormat(4, NULL);
    ASSERT_EQ(S_OK, m_pPin->m_mt.Set(&mt));
    CoTaskMemFree(mt.pbFormat);
    // No snapshot: the type set since shows in the next call.
    ASSERT_EQ(S_OK, pEnum->Next(1, types, &n));
    MTFree(types[0]);
    EXPECT_EQ(S_FALSE, pEnum->Next(1, types, &n));
    EXPECT_EQ(S_OK, pEnum->Reset());
    ASSERT_EQ(S_OK, pEnum->Next(1, types, &n));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, types[0]->subtype));
    EXPECT_NE(m_pPin->m_mt.pbFormat, types[0]->pbFormat);
    MTFree(types[0]);
    pEnum->Release();
    EXPECT_EQ(1u, m_pPin->RefCount());
}

// A source whose elements run out of sync from a given position on.
struct SyncSource {
    ULONG nElems = 5;
    ULONG nFailFrom = 0xFFFFFFFF;
    int nLive = 0;  // elements handed out and not yet freed
    void AddRef() {}
    void Release() {}
};

class CSyncAccessor {
public:
    typedef IEnumPins EnumInterface;
    typedef IPin* DataType;
    typedef SyncSource SourceType;
    static const IID* EnumIID() { return &IID_IEnumPins; }
    void SetSource(SyncSource* p) { m_pSource = p; }
    HRESULT GetData(ULONG nPos, IPin** pp) {
        *pp = NULL;
        if (nPos >= m_pSource->nFailFrom)
            return VFW_E_ENUM_OUT_OF_SYNC;
        if (nPos >= m_pSource->nElems)
            return S_FALSE;
        ++m_pSource->nLive;
        *pp = reinterpret_cast<IPin*>(UINT_PTR(0x1000 + nPos));
        return S_OK;
    }
    void FreeData(IPin*) { --m_pSource->nLive; }
    SyncSource* m_pSource = NULL;
};

TEST(AccessorEnum, FailureLeavesNothingBehindAndOutOfSyncSticksUntilReset) {
    SyncSource source;
    IEnumPins* pEnum = NULL;
    ASSERT_EQ(S_OK, CAccessorEnum<CSyncAccessor>::Create(&source, 0, &pEnum));
    IPin* elems[4] = {};
    ULONG n = 0;
    ASSERT_EQ(S_OK, pEnum->Next(1, elems, &n));
    source.nLive = 0;
    source.nFailFrom = 3;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pEnum->Next(4, elems, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(0, source.nLive);
    for (IPin* p : elems)
        EXPECT_EQ(nullptr, p);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pEnum->Skip(1));
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pEnum->Next(1, elems, &n));
    IEnumPins* pClone = NULL;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pEnum->Clone(&pClone));
    source.nFailFrom = 0xFFFFFFFF;
    EXPECT_EQ(S_OK, pEnum->Reset());
    EXPECT_EQ(S_OK, pEnum->Skip(2));
    // The failed call did not move the position: the next element is 1.
    EXPECT_EQ(S_OK, pEnum->Next(1, elems, &n));
    EXPECT_EQ(reinterpret_cast<IPin*>(UINT_PTR(0x1002)), elems[0]);
    pEnum->Release();
}

}  // namespace
