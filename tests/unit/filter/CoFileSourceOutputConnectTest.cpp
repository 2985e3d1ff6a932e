// The output pin against a scripted downstream pin: connecting (its types
// first, then ours; the refusals; the pull-interface rule), disconnecting,
// the pin's identity, and allocator agreement with SyncReadAligned's checks.
#include <windows.h>
#include <dshow.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include "DebugCapture.h"
#include "DShowX/DSMemoryAllocator.h"
#include "PinTestSupport.h"
#include "TempDir.h"

using namespace testsupport;

namespace {

// 13 bytes of a well-formed MPEG-2 pack header, then filler.
std::string MpegFile(size_t n) {
    std::string s = std::string("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3", 13);
    s.resize(n, '\x5A');
    return s;
}

class PinConnect : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_pin.Load(m_dir.Write("a.mpg", MpegFile(4096))));
        m_pPeer = NewScriptedPin();
    }
    void TearDown() override {
        m_pin->Disconnect();
        m_pPeer->Release();
    }
    TempDir m_dir;
    PinUnderTest m_pin;
    CComObject<CScriptedInputPin>* m_pPeer = NULL;
};

TEST_F(PinConnect, PeerTypesFirstThenOwnAndDisconnectOnBothSides) {
    // The peer lists an audio type (never offered back: not a stream) and a
    // stream type it will refuse; it accepts only the pin's own type.
    m_pPeer->m_offered = {{MEDIATYPE_Audio, GUID_NULL}, {MEDIATYPE_Stream, GUID_NULL}};
    m_pPeer->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM};
    ASSERT_EQ(S_OK, m_pin->Connect(m_pPeer, NULL));
    EXPECT_EQ((std::vector<std::string>{"Receive NULL", "Receive MPEG2"}), m_pPeer->Calls());

    IPin* pConnected = NULL;
    EXPECT_EQ(S_OK, m_pin->ConnectedTo(&pConnected));
    EXPECT_EQ(static_cast<IPin*>(m_pPeer), pConnected);
    pConnected->Release();
    AM_MEDIA_TYPE mt = {};
    ASSERT_EQ(S_OK, m_pin->ConnectionMediaType(&mt));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, mt.subtype));

    EXPECT_EQ(S_OK, m_pin->Disconnect());
    EXPECT_EQ("Disconnect", m_pPeer->Calls().back());
    EXPECT_FALSE(m_pPeer->m_spConnector);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_pin->ConnectedTo(&pConnected));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_pin->ConnectionMediaType(&mt));
    EXPECT_EQ(S_FALSE, m_pin->Disconnect());

    // A type with a null major type is no type: negotiation as without one.
    AM_MEDIA_TYPE partial = {};
    partial.subtype = MEDIASUBTYPE_MPEG2_PROGRAM;
    EXPECT_EQ(S_OK, m_pin->Connect(m_pPeer, &partial));
}

// The refusals, each leaving the pin unconnected with its type.
TEST_F(PinConnect, RefusesATypeThatIsNoStreamWithoutCallingThePeer) {
    m_pPeer->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM};
    CMType audio(MEDIATYPE_Audio, GUID_NULL);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m_pin->Connect(m_pPeer, &audio));
    EXPECT_TRUE(m_pPeer->Calls().empty());
}

// The subtype of the connection, and of the one type the pin offers.
std::pair<std::string, std::string> ConnectionAndOffer(IPin* pPin) {
    std::pair<std::string, std::string> names("none", "none");
    CMType mt;
    if (pPin->ConnectionMediaType(&mt) == S_OK) {
        EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Stream, mt.majortype));
        names.first = SubtypeName(mt.subtype);
    }
    IEnumMediaTypes* pEnum = NULL;
    AM_MEDIA_TYPE* pmt = NULL;
    if (pPin->EnumMediaTypes(&pEnum) == S_OK && pEnum->Next(1, &pmt, NULL) == S_OK) {
        names.second = SubtypeName(pmt->subtype);
        MTFree(pmt);
    }
    if (pEnum)
        pEnum->Release();
    return names;
}

// A caller's partial type stands for the pin's own: the connection gets the
// whole type, and the pin offers the file's type after the disconnect, so a
// later connect without a type still finds the splitter for it.
TEST_F(PinConnect, APartialTypeIsCompletedAndNeverBecomesThePinsOwn) {
    m_pPeer->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM, GUID_NULL};
    CMType partial(MEDIATYPE_Stream, GUID_NULL);
    ASSERT_EQ(S_OK, m_pin->Connect(m_pPeer, &partial));
    EXPECT_EQ((std::vector<std::string>{"Receive MPEG2"}), m_pPeer->Calls());
    EXPECT_EQ(std::make_pair(std::string("MPEG2"), std::string("MPEG2")), ConnectionAndOffer(m_pin.Pin()));
    ASSERT_EQ(S_OK, m_pin->Disconnect());
    EXPECT_EQ(std::make_pair(std::string("none"), std::string("MPEG2")), ConnectionAndOffer(m_pin.Pin()));

    // A peer that lists a partial type itself is offered it as listed; the
    // pin's own type stays the file's.
    m_pPeer->m_offered = {{MEDIATYPE_Stream, GUID_NULL}};
    ASSERT_EQ(S_OK, m_pin->Connect(m_pPeer, NULL));
    EXPECT_EQ(std::make_pair(std::string("NULL"), std::string("MPEG2")), ConnectionAndOffer(m_pin.Pin()));
    ASSERT_EQ(S_OK, m_pin->Disconnect());
    EXPECT_EQ(std::make_pair(std::string("none"), std::string("MPEG2")), ConnectionAndOffer(m_pin.Pin()));
}

// A type naming another kind of stream than the file's would have the
// splitter misread it: refused before the peer sees it, whether the caller
// names it or the peer lists it.
TEST_F(PinConnect, RefusesTypesThatNameAnotherStream) {
    m_pPeer->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM, MEDIASUBTYPE_Avi};
    CMType avi(MEDIATYPE_Stream, MEDIASUBTYPE_Avi);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m_pin->Connect(m_pPeer, &avi));
    CMType aviSubtypeOnly(GUID_NULL, MEDIASUBTYPE_Avi);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m_pin->Connect(m_pPeer, &aviSubtypeOnly));
    EXPECT_TRUE(m_pPeer->Calls().empty());
    EXPECT_FALSE(m_pin->IsConnected());

    m_pPeer->m_offered = {{MEDIATYPE_Stream, MEDIASUBTYPE_Avi}};
    ASSERT_EQ(S_OK, m_pin->Connect(m_pPeer, NULL));
    EXPECT_EQ((std::vector<std::string>{"Receive MPEG2"}), m_pPeer->Calls());
}

TEST_F(PinConnect, RefusesAPeerOfTheSameDirection) {
    m_pPeer->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM};
    m_pPeer->m_eDir = PINDIR_OUTPUT;
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, m_pin->Connect(m_pPeer, NULL));
}

TEST_F(PinConnect, RefusesToConnectUnlessStopped) {
    m_pPeer->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM};
    m_pin.Filter()->SetFilterState(State_Running);
    EXPECT_EQ(VFW_E_NOT_STOPPED, m_pin->Connect(m_pPeer, NULL));
    m_pin.Filter()->SetFilterState(State_Stopped);
}

TEST_F(PinConnect, RefusesAPeerThatAcceptsNoType) {
    m_pPeer->m_accepted = {};
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, m_pin->Connect(m_pPeer, NULL));
}

// A peer that takes the connection with a success code other than S_OK is
// not connected, so the pin must not report success.
TEST_F(PinConnect, APeerThatAcceptsWithAnotherSuccessCodeIsNoConnection) {
    m_pPeer->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM};
    m_pPeer->m_hrAccept = S_FALSE;
    EXPECT_TRUE(FAILED(m_pin->Connect(m_pPeer, NULL)));
    EXPECT_FALSE(m_pin->IsConnected());
}

// Accepted without a look at IAsyncReader: disconnected again, E_FAIL, and
// the pin keeps the type it had.
TEST_F(PinConnect, APeerThatNeverAsksForThePullInterfaceIsDisconnected) {
    m_pPeer->m_bAskReader = false;
    CMType other(MEDIATYPE_Stream, GUID_NULL);
    m_pPeer->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM};
    EXPECT_EQ(E_FAIL, m_pin->Connect(m_pPeer, &other));
    EXPECT_FALSE(m_pin->IsConnected());
    EXPECT_EQ("Disconnect", m_pPeer->Calls().back());
    AM_MEDIA_TYPE mt = {};
    LPOLESTR pszName = NULL;
    ASSERT_EQ(S_OK, m_pin->GetCurFile(&pszName, &mt));
    CoTaskMemFree(pszName);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, mt.subtype));
}

TEST_F(PinConnect, ConnectedItRefusesAnotherConnectionAndADisconnectUnlessStopped) {
    CMType other(MEDIATYPE_Stream, GUID_NULL);
    m_pPeer->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM};
    ASSERT_EQ(S_OK, m_pin->Connect(m_pPeer, &other));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, m_pin->Connect(m_pPeer, NULL));
    m_pin.Filter()->SetFilterState(State_Paused);
    EXPECT_EQ(VFW_E_NOT_STOPPED, m_pin->Disconnect());
    m_pin.Filter()->SetFilterState(State_Stopped);
}

TEST(PinIdentity, NamesQueriesAndTheTypeSnapshot) {
    PinUnderTest pin;
    LPWSTR pszId = NULL;
    ASSERT_EQ(S_OK, pin->QueryId(&pszId));
    EXPECT_EQ(std::wstring(L"Output"), pszId);
    CoTaskMemFree(pszId);
    PIN_INFO info = {};
    ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
    EXPECT_EQ(std::wstring(L"Output"), info.achName);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_EQ(static_cast<IBaseFilter*>(pin.Filter()), info.pFilter);
    info.pFilter->Release();

    PinUnderTest unnamed(3, NULL);
    EXPECT_STREQ("Out 3", unnamed->GetName());
    PinUnderTest longName(0, std::string(200, 'n').c_str());
    EXPECT_EQ(127u, strlen(longName->GetName()));

    CMType stream(MEDIATYPE_Stream, MEDIASUBTYPE_Avi);
    EXPECT_EQ(S_OK, pin->QueryAccept(&stream));
    EXPECT_EQ(S_FALSE, pin->QueryAccept(NULL));

    // The enumerator holds the type the pin had when it was made.
    IEnumMediaTypes* pEnum = NULL;
    ASSERT_EQ(S_OK, pin->EnumMediaTypes(&pEnum));
    TempDir dir;
    ASSERT_EQ(S_OK, pin.Load(dir.Write("a.mpg", MpegFile(100))));
    AM_MEDIA_TYPE* pmt = NULL;
    EXPECT_EQ(S_FALSE, pEnum->Next(1, &pmt, NULL));
    pEnum->Release();
    ASSERT_EQ(S_OK, pin->EnumMediaTypes(&pEnum));
    ASSERT_EQ(S_OK, pEnum->Next(1, &pmt, NULL));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, pmt->subtype));
    MTFree(pmt);
    pEnum->Release();
}

// The library's allocator, made to report the alignment m_lAlign.
class CSkewedAllocator : public CMemoryAllocator {
public:
    STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override {
        ALLOCATOR_PROPERTIES request = *pRequest;
        request.cbAlign = m_lAlign & (m_lAlign - 1) ? 1 : m_lAlign;
        const HRESULT hr = CMemoryAllocator::SetProperties(&request, pActual);
        pActual->cbAlign = m_lAlign;
        return hr;
    }
    LONG m_lAlign = 3;
};

TEST(PinAllocator, AgreementPassesOverAnAlignmentThatIsNoPowerOfTwo) {
    TempDir dir;
    PinUnderTest pin;
    ASSERT_EQ(S_OK, pin.Load(dir.Write("a.mpg", MpegFile(8192))));
    CComObject<CSkewedAllocator>* pSkewed = NULL;
    ASSERT_EQ(S_OK, CComObject<CSkewedAllocator>::CreateObject(&pSkewed));

    ALLOCATOR_PROPERTIES props = {};
    IMemAllocator* pActual = NULL;
    // Without a preferred allocator the library's own is agreed.
    ASSERT_EQ(S_OK, pin->RequestAllocator(NULL, &props, &pActual));
    ASSERT_NE(nullptr, pActual);
    pActual->Release();
    pActual = NULL;
    props = ALLOCATOR_PROPERTIES();
    // A preferred allocator with an alignment that is no power of two is
    // passed over; the request is completed in place.
    ASSERT_EQ(S_OK, pin->RequestAllocator(pSkewed, &props, &pActual));
    EXPECT_NE(static_cast<IMemAllocator*>(pSkewed), pActual);
    EXPECT_EQ(8, props.cBuffers);
    EXPECT_EQ(65536, props.cbBuffer);
    EXPECT_EQ(512, props.cbAlign);
    ALLOCATOR_PROPERTIES actual = {};
    ASSERT_EQ(S_OK, pActual->GetProperties(&actual));
    EXPECT_EQ(8, actual.cBuffers);
    EXPECT_EQ(512, actual.cbAlign);

    pSkewed->m_lAlign = 1024;
    IMemAllocator* pPreferred = NULL;
    ASSERT_EQ(S_OK, pin->RequestAllocator(pSkewed, &props, &pPreferred));
    EXPECT_EQ(static_cast<IMemAllocator*>(pSkewed), pPreferred);
    pPreferred->Release();
    pSkewed->Release();
    pActual->Release();
}

// Aligned reads against the library allocator's samples (512).
TEST(PinAllocator, AlignedReadsCheckTheSamplesRange) {
    TempDir dir;
    PinUnderTest pin;
    ASSERT_EQ(S_OK, pin.Load(dir.Write("a.mpg", MpegFile(8192))));
    ALLOCATOR_PROPERTIES props = {};
    IMemAllocator* pActual = NULL;
    ASSERT_EQ(S_OK, pin->RequestAllocator(NULL, &props, &pActual));
    ALLOCATOR_PROPERTIES actual = {};
    ASSERT_EQ(S_OK, pActual->GetProperties(&actual));
    ASSERT_EQ(512, actual.cbAlign);
    ASSERT_EQ(65536, actual.cbBuffer);
    IMemAllocator* pPreferred = NULL;
    ASSERT_EQ(S_OK, pin->RequestAllocator(pActual, &props, &pPreferred));
    pPreferred->Release();
    ASSERT_EQ(S_OK, pActual->Commit());
    IMediaSample* pSample = NULL;
    ASSERT_EQ(S_OK, pActual->GetBuffer(&pSample, NULL, NULL, 0));
    BYTE* pb = NULL;
    pSample->GetPointer(&pb);
    memset(pb, 0xCD, 65536);
    // Times as the sample carries them, unchecked (stop may lie before start).
    IMediaSample2* pSample2 = NULL;
    pSample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&pSample2));
    auto read = [&](LONGLONG llStart, LONGLONG llStop) {
        AM_SAMPLE2_PROPERTIES times = {};
        pSample2->GetProperties(sizeof(times), (BYTE*)&times);
        times.dwSampleFlags = AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
        times.tStart = llStart * 10000000;
        times.tStop = llStop * 10000000;
        pSample2->SetProperties(sizeof(times), (const BYTE*)&times);
        return pin->SyncReadAligned(pSample);
    };
    EXPECT_EQ(VFW_E_BADALIGN, read(512, 1000));
    EXPECT_EQ(E_FAIL, read(0, 65536 + 512));
    // A splitter's bad range gets its code, without an assertion's box.
    EXPECT_EQ(E_INVALIDARG, read(1024, 512));
    EXPECT_EQ(E_INVALIDARG, read(512, 512));
    EXPECT_EQ(0xCD, pb[0]);
    EXPECT_EQ(S_OK, read(512, 1024));
    EXPECT_EQ(0, memcmp(pb, MpegFile(1024).data() + 512, 512));
    EXPECT_EQ(512, pSample->GetActualDataLength());
    // Across the end of the (finished) file: what is there, and its length.
    EXPECT_EQ(S_FALSE, read(7680, 9216));
    EXPECT_EQ(512, pSample->GetActualDataLength());
    pSample2->Release();
    pSample->Release();
    pActual->Decommit();
    pActual->Release();
}

}  // namespace
