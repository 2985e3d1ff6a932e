// The filter through its COM interfaces: what it answers, Load, state changes
// with and without a connected pin, graph membership and the graph dump, the
// control interface, and the component's class objects.
#include <windows.h>
#include <dshow.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <string>

#include "CoFileSource.h"
#include "DebugCapture.h"
#include "GraphStubs.h"
#include "LogStub.h"
#include "PinTestSupport.h"
#include "TempDir.h"
#include "TestProcess.h"

using namespace testsupport;

namespace {

const std::string kMpeg2Pack("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3", 13);

// Polls the condition for up to 30 s (a Wine process can take seconds to
// start on a busy machine).
template <class F>
bool WaitUntilTrue(F condition) {
    for (int i = 0; i < 15000 && !condition(); ++i)
        Sleep(2);
    return condition();
}

size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

std::string MakeFile(TempDir& dir, const char* name, size_t size, const std::string& head = kMpeg2Pack) {
    std::string bytes = head;
    bytes.resize(size, '\x5A');
    return dir.Write(name, bytes);
}

// A downstream filter that seeks as a filter and records SetPositions.
class CSeekingFilter : public StubFilter, public IMediaSeeking {
public:
    explicit CSeekingFilter(IFilterGraph* pGraph) : StubFilter(pGraph, L"Splitter", CLSID_FilterGraph) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IMediaSeeking)) {
            *ppv = static_cast<IMediaSeeking*>(this);
            AddRef();
            return S_OK;
        }
        return StubFilter::QueryInterface(riid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() override { return StubFilter::AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return StubFilter::Release(); }
    STDMETHOD(SetPositions)(LONGLONG* pCurrent, DWORD dwCurrent, LONGLONG* pStop, DWORD dwStop) override {
        m_nSeeks++;
        m_llLastSeek = pCurrent ? *pCurrent : -1;
        m_bAbsolute =
            dwCurrent == AM_SEEKING_AbsolutePositioning && !pStop && dwStop == AM_SEEKING_NoPositioning;
        return S_OK;
    }
    int m_nSeeks = 0;
    LONGLONG m_llLastSeek = -1;
    bool m_bAbsolute = false;
    // The rest of IMediaSeeking is never called by the filter.
    STDMETHOD(GetCapabilities)(DWORD*) override { return E_NOTIMPL; }
    STDMETHOD(CheckCapabilities)(DWORD*) override { return E_NOTIMPL; }
    STDMETHOD(IsFormatSupported)(const GUID*) override { return E_NOTIMPL; }
    STDMETHOD(QueryPreferredFormat)(GUID*) override { return E_NOTIMPL; }
    STDMETHOD(GetTimeFormat)(GUID*) override { return E_NOTIMPL; }
    STDMETHOD(IsUsingTimeFormat)(const GUID*) override { return E_NOTIMPL; }
    STDMETHOD(SetTimeFormat)(const GUID*) override { return E_NOTIMPL; }
    STDMETHOD(GetDuration)(LONGLONG*) override { return E_NOTIMPL; }
    STDMETHOD(GetStopPosition)(LONGLONG*) override { return E_NOTIMPL; }
    STDMETHOD(GetCurrentPosition)(LONGLONG*) override { return E_NOTIMPL; }
    STDMETHOD(ConvertTimeFormat)(LONGLONG*, const GUID*, LONGLONG, const GUID*) override { return E_NOTIMPL; }
    STDMETHOD(GetPositions)(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    STDMETHOD(GetAvailable)(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    STDMETHOD(SetRate)(double) override { return E_NOTIMPL; }
    STDMETHOD(GetRate)(double*) override { return E_NOTIMPL; }
    STDMETHOD(GetPreroll)(LONGLONG*) override { return E_NOTIMPL; }
};

// A filter in a stand-in graph, its pin connected to a scripted splitter
// input. The setting the pin saves at release goes to a private store.
class FilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearDebugText();
        ASSERT_EQ(S_OK, CComCreator<CCoFileSource>::CreateInstance(NULL, IID_IBaseFilter,
                                                                   reinterpret_cast<void**>(&m_pFilter)));
        ASSERT_EQ(S_OK, m_pFilter->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&m_pLoad)));
        ASSERT_EQ(S_OK,
                  m_pFilter->QueryInterface(IID_IOrvexFileSource, reinterpret_cast<void**>(&m_pControl)));
        m_pControl->SetSeekingSupported(FALSE);
        ASSERT_EQ(S_OK, m_pFilter->FindPin(L"Output", &m_pOut));
    }
    void TearDown() override {
        if (m_pFilter)
            m_pFilter->Stop();
        if (m_pOut)
            m_pOut->Disconnect();
        if (m_pSplitterPin)
            m_pSplitterPin->Release();
        if (m_pFilter)
            m_pFilter->JoinFilterGraph(NULL, NULL);
        for (IUnknown* p : {(IUnknown*)m_pOut, (IUnknown*)m_pLoad, (IUnknown*)m_pControl})
            if (p)
                p->Release();
        if (m_pFilter) {
            EXPECT_EQ(0u, m_pFilter->Release());
        }
        EXPECT_EQ(1u, m_graph.m_nRef.load());
    }
    // Joins the stand-in graph and connects the pin to a scripted splitter
    // input owned by m_splitter.
    void JoinAndConnect(const std::string& path) {
        m_graph.m_joined.push_back(m_pFilter);
        ASSERT_EQ(S_OK, m_pFilter->JoinFilterGraph(&m_graph, L"Source"));
        ASSERT_EQ(S_OK, m_pLoad->Load(Widen(path).c_str(), NULL));
        m_pSplitterPin = NewScriptedPin();
        m_pSplitterPin->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM};
        m_pSplitterPin->m_pOwner = &m_splitter;
        ASSERT_EQ(S_OK, m_pOut->Connect(m_pSplitterPin, NULL));
    }
    FILTER_STATE State() {
        FILTER_STATE e = State_Running;
        EXPECT_EQ(S_OK, m_pFilter->GetState(0, &e));
        return e;
    }

    RegistrySandbox m_registry;
    TempDir m_dir;
    StubGraph m_graph;
    CSeekingFilter m_splitter{&m_graph};
    IBaseFilter* m_pFilter = NULL;
    IFileSourceFilter* m_pLoad = NULL;
    IOrvexFileSource* m_pControl = NULL;
    IPin* m_pOut = NULL;
    CComObject<CScriptedInputPin>* m_pSplitterPin = NULL;
};

TEST_F(FilterTest, AnswersItsInterfacesWithOneIdentity) {
    IUnknown* pIdentity = NULL;
    ASSERT_EQ(S_OK, m_pFilter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pIdentity)));
    for (const IID* piid : {&IID_IBaseFilter, &IID_IFileSourceFilter, &IID_IOrvexFileSource,
                            &IID_ISpecifyPropertyPages, &IID_IPersist, &IID_IMediaFilter}) {
        IUnknown* p = NULL;
        ASSERT_EQ(S_OK, m_pFilter->QueryInterface(*piid, reinterpret_cast<void**>(&p)));
        IUnknown* pUnk = NULL;
        EXPECT_EQ(S_OK, p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnk)));
        EXPECT_EQ(pIdentity, pUnk);
        pUnk->Release();
        p->Release();
    }
    pIdentity->Release();
    for (const IID* piid : {&IID_IPin, &IID_IAsyncReader, &IID_IMediaSeeking, &IID_IMemAllocator}) {
        void* p = (void*)1;
        EXPECT_EQ(E_NOINTERFACE, m_pFilter->QueryInterface(*piid, &p));
        EXPECT_EQ(nullptr, p);
    }
}

TEST_F(FilterTest, NamesItsClassAndItsPropertyPage) {
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(S_OK, m_pFilter->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_CoFileSource, clsid));
    ISpecifyPropertyPages* pPages = NULL;
    ASSERT_EQ(S_OK, m_pFilter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&pPages)));
    CAUUID pages = {};
    EXPECT_EQ(S_OK, pPages->GetPages(&pages));
    ASSERT_EQ(1u, pages.cElems);
    EXPECT_TRUE(IsEqualCLSID(CLSID_FileSourcePage, pages.pElems[0]));
    CoTaskMemFree(pages.pElems);
    pPages->Release();
}

TEST_F(FilterTest, CallersNullsGetTheirCodes) {
    // Without an assertion's box.
    EXPECT_EQ(E_INVALIDARG, m_pFilter->GetClassID(NULL));
    EXPECT_EQ(E_INVALIDARG, m_pFilter->QueryFilterInfo(NULL));
    EXPECT_EQ(E_POINTER, m_pFilter->GetState(0, NULL));
}

TEST_F(FilterTest, FindsItsPinByExactNameAndKeepsGraphAndName) {
    IPin* pPin = (IPin*)1;
    EXPECT_EQ(VFW_E_NOT_FOUND, m_pFilter->FindPin(L"output", &pPin));
    EXPECT_EQ(nullptr, pPin);
    const std::wstring longName(200, L'n');
    ASSERT_EQ(S_OK, m_pFilter->JoinFilterGraph(&m_graph, longName.c_str()));
    PIN_INFO info = {};
    ASSERT_EQ(S_OK, m_pOut->QueryPinInfo(&info));
    ASSERT_EQ(m_pFilter, info.pFilter);  // the pin holds its filter while it is in a graph
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_EQ(std::wstring(L"Output"), info.achName);
    info.pFilter->Release();
    FILTER_INFO fi = {};
    ASSERT_EQ(S_OK, m_pFilter->QueryFilterInfo(&fi));
    EXPECT_EQ(longName.substr(0, 127), fi.achName);
    EXPECT_EQ(static_cast<IFilterGraph*>(&m_graph), fi.pGraph);
    fi.pGraph->Release();
    ASSERT_EQ(S_OK, m_pFilter->JoinFilterGraph(NULL, NULL));
    ASSERT_EQ(S_OK, m_pFilter->QueryFilterInfo(&fi));
    EXPECT_EQ(std::wstring(), fi.achName);
    EXPECT_EQ(nullptr, fi.pGraph);
}

TEST_F(FilterTest, LoadRefusesNoNameAndTypesOtherThanStreams) {
    const std::string first = MakeFile(m_dir, "first.mpg", 4000);
    LPOLESTR pszName = (LPOLESTR)1;
    EXPECT_EQ(S_OK, m_pLoad->GetCurFile(&pszName, NULL));
    EXPECT_EQ(nullptr, pszName);
    EXPECT_EQ(E_INVALIDARG, m_pLoad->Load(NULL, NULL));
    AM_MEDIA_TYPE mt = {};
    mt.majortype = MEDIATYPE_Video;
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m_pLoad->Load(Widen(first).c_str(), &mt));
    EXPECT_EQ(S_OK, m_pLoad->GetCurFile(&pszName, NULL));
    EXPECT_EQ(nullptr, pszName);
}

TEST_F(FilterTest, PauseAndRunNeedAConnectedPin) {
    // The filter stays stopped.
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_pFilter->Pause());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_pFilter->Run(0));
    EXPECT_EQ(State_Stopped, State());
}

TEST_F(FilterTest, CurrentFileIsTheLoadedNameWithItsSubtype) {
    const std::string first = MakeFile(m_dir, "first.mpg", 4000);
    JoinAndConnect(first);
    LPOLESTR pszName = NULL;
    AM_MEDIA_TYPE mt = {};
    ASSERT_EQ(S_OK, m_pLoad->GetCurFile(&pszName, &mt));
    EXPECT_EQ(Widen(first), pszName);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, mt.subtype));
    CoTaskMemFree(pszName);
    ASSERT_EQ(nullptr, mt.pbFormat);
}

TEST_F(FilterTest, PausedLoadTakesTheFileAndSendsTheSplitterToItsStart) {
    JoinAndConnect(MakeFile(m_dir, "first.mpg", 4000));
    ASSERT_EQ(S_OK, m_pFilter->Pause());
    EXPECT_EQ(State_Paused, State());
    const std::string second = MakeFile(m_dir, "second.mpg", 5000);
    AM_MEDIA_TYPE mt = {};
    mt.majortype = MEDIATYPE_Stream;
    EXPECT_EQ(S_OK, m_pLoad->Load(Widen(second).c_str(), &mt));
    EXPECT_EQ(1, m_splitter.m_nSeeks);
    EXPECT_EQ(0, m_splitter.m_llLastSeek);
    EXPECT_TRUE(m_splitter.m_bAbsolute);
    LONGLONG llSize = 0;
    EXPECT_EQ(S_OK, m_pControl->GetFileSize(&llSize, NULL));
    EXPECT_EQ(5000, llSize);
}

TEST_F(FilterTest, RunningLoadIsRefused) {
    const std::string first = MakeFile(m_dir, "first.mpg", 4000);
    JoinAndConnect(first);
    ASSERT_EQ(S_OK, m_pFilter->Pause());
    ASSERT_EQ(S_OK, m_pFilter->Run(0));
    EXPECT_EQ(VFW_E_NOT_STOPPED, m_pLoad->Load(Widen(first).c_str(), NULL));
    EXPECT_EQ(S_OK, m_pFilter->Stop());
    EXPECT_EQ(State_Stopped, State());
}

TEST_F(FilterTest, AFileLoadedAfterStreamingWaitsNearItsGrowingEnd) {
    JoinAndConnect(MakeFile(m_dir, "first.mpg", 4000));
    ASSERT_EQ(S_OK, m_pFilter->Pause());
    ASSERT_EQ(S_OK, m_pFilter->Run(0));
    ASSERT_EQ(S_OK, m_pFilter->Stop());

    // Stopped after streaming, reads of that file no longer wait; a file
    // loaded now is read as on a fresh filter: near its growing end, a read
    // waits.
    const std::string growing = m_dir.File("growing.mpg");
    ChildProcess recorder;
    ASSERT_TRUE(recorder.Start({HelperPath("recorder"), growing, "--seed", "3", "--size", "1000000", "--rate",
                                "2000000", "--pause", "900000:60000"}));
    ASSERT_TRUE(WaitUntilTrue([&] { return ProbeForWriter(growing) == ERROR_SHARING_VIOLATION; }));
    ASSERT_EQ(S_OK, m_pLoad->Load(Widen(growing).c_str(), NULL));
    ASSERT_TRUE(WaitUntilTrue([&] { return std::filesystem::file_size(growing) >= 900000; }));
    IAsyncReader* pReader = NULL;
    ASSERT_EQ(S_OK, m_pOut->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&pReader)));
    BYTE b[2] = {};
    // Across the end (stopped, a read waits for its own bytes, not a margin).
    auto read = std::async(std::launch::async, [&] { return pReader->SyncRead(899999, 2, b); });
    EXPECT_TRUE(WaitUntilTrue([&] {
        DWORD dw = 0;
        return m_pControl->GetWaitSize(&dw) == S_OK && dw != 0;
    }));
    pReader->BeginFlush();
    EXPECT_EQ(S_FALSE, read.get());  // the flush ended the wait: the byte there
    pReader->EndFlush();
    pReader->Release();
    recorder.Kill();
}

// The graph is written to the log once each time the filter leaves the
// stopped state.
TEST_F(FilterTest, DumpsTheGraphOncePerStart) {
    LogStub log;
    ASSERT_TRUE(log.Loaded());
    StubFilter other(&m_graph, L"Renderer", CLSID_MemoryAllocator);
    StubPin otherIn(&other, L"In", PINDIR_INPUT);
    other.m_pins.push_back(&otherIn);
    m_graph.m_filters.push_back(&other);
    JoinAndConnect(MakeFile(m_dir, "a.mpg", 4000));
    log.Take();
    // The walk calls into every filter of the graph: a read on another
    // thread, which needs the filter's state lock, must not wait for it.
    int nWalks = 0;
    m_graph.m_onEnumFilters = [&] {
        ++nWalks;
        auto state = std::async(std::launch::async,
                                [&] { return static_cast<CCoFileSource*>(m_pFilter)->GetStateLocked(); });
        EXPECT_EQ(std::future_status::ready, state.wait_for(std::chrono::seconds(10)));
    };

    ASSERT_EQ(S_OK, m_pFilter->Pause());
    ASSERT_EQ(S_OK, m_pFilter->Run(0));
    const std::string first = log.Take();
    EXPECT_EQ(1u, CountOf(first, "[Filter Graph]")) << first;
    EXPECT_NE(std::string::npos, first.find("\tINPUT: [In]    NOT CONNECTED\r\n")) << first;
    EXPECT_NE(std::string::npos,
              first.find("(Source)\r\n\tOUTPUT: [Output] -> [Splitter] ( MEDIATYPE_Stream / "
                         "MEDIASUBTYPE_MPEG2_PROGRAM"))
        << first;

    ASSERT_EQ(S_OK, m_pFilter->Stop());
    ASSERT_EQ(S_OK, m_pFilter->Pause());
    EXPECT_EQ(1u, CountOf(log.Take(), "[Filter Graph]"));
    EXPECT_EQ(2, nWalks);
    m_graph.m_onEnumFilters = nullptr;
}

TEST_F(FilterTest, ControlInterfaceFiguresWithoutAFile) {
    LONGLONG llSize = -1, llPos = -1;
    LONG lRate = -1;
    DWORD dw = 1;
    EXPECT_EQ(S_OK, m_pControl->GetFileSize(&llSize, &lRate));
    EXPECT_EQ(0, llSize);
    EXPECT_EQ(0, lRate);
    EXPECT_EQ(S_OK, m_pControl->GetReadPos(&llPos, NULL));
    EXPECT_EQ(0, llPos);
    EXPECT_EQ(S_OK, m_pControl->GetWaitSize(&dw));
    EXPECT_EQ(0u, dw);
}

TEST_F(FilterTest, ControlInterfaceBufferSizeAndItsLimit) {
    DWORD dw = 1;
    EXPECT_EQ(S_OK, m_pControl->GetBuffSize(&dw));
    EXPECT_EQ(2097152u, dw);
    EXPECT_EQ(S_OK, m_pControl->SetBuffSize(20000000));
    EXPECT_EQ(S_OK, m_pControl->GetBuffSize(&dw));
    EXPECT_EQ(10485760u, dw);
    EXPECT_EQ(S_OK, m_pControl->SetBuffSize(0));
    EXPECT_EQ(S_OK, m_pControl->GetBuffSize(&dw));
    EXPECT_EQ(0u, dw);
}

TEST_F(FilterTest, ControlInterfaceRefusesNullPointers) {
    EXPECT_EQ(E_POINTER, m_pControl->GetFileSize(NULL, NULL));
    EXPECT_EQ(E_POINTER, m_pControl->GetReadPos(NULL, NULL));
    EXPECT_EQ(E_POINTER, m_pControl->GetWaitSize(NULL));
    EXPECT_EQ(E_POINTER, m_pControl->GetBuffSize(NULL));
}

TEST_F(FilterTest, SeekingChangeReconnectsAndOnlyAStoppedFilterTakesIt) {
    // A change reconnects a connected pin; no change does nothing.
    EXPECT_EQ(S_FALSE, m_pControl->IsSeekingSupported());
    EXPECT_EQ(S_OK, m_pControl->SetSeekingSupported(7));
    EXPECT_EQ(S_OK, m_pControl->IsSeekingSupported());
    EXPECT_EQ(S_FALSE, m_pControl->SetSeekingSupported(TRUE));
    EXPECT_EQ(0, m_graph.m_nReconnects.load());
    JoinAndConnect(MakeFile(m_dir, "a.mpg", 4000));
    EXPECT_EQ(S_OK, m_pControl->SetSeekingSupported(FALSE));
    EXPECT_EQ(1, m_graph.m_nReconnects.load());
    m_graph.m_hrReconnect = E_FAIL;
    EXPECT_EQ(E_FAIL, m_pControl->SetSeekingSupported(TRUE));
    EXPECT_EQ(S_OK, m_pControl->IsSeekingSupported());  // the setting stays
    ASSERT_EQ(S_OK, m_pFilter->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, m_pControl->SetSeekingSupported(FALSE));
    EXPECT_EQ(S_OK, m_pControl->IsSeekingSupported());
}

// The component's class objects, through the module's own exports.
TEST(FilterModule, ClassObjectsRefuseAggregationAndHoldTheModule) {
    RegistrySandbox registry;
    const std::string path = ProgramDir() + ModuleFile("OrvexFileSource");
    HMODULE hModule = ComponentModule();
    ASSERT_TRUE(hModule != NULL) << path;
    typedef HRESULT(STDAPICALLTYPE * PFN_GETCLASSOBJECT)(REFCLSID, REFIID, void**);
    typedef HRESULT(STDAPICALLTYPE * PFN_CANUNLOAD)();
    const PFN_GETCLASSOBJECT pfnGetClassObject = reinterpret_cast<PFN_GETCLASSOBJECT>(
        reinterpret_cast<void (*)()>(GetProcAddress(hModule, "DllGetClassObject")));
    const PFN_CANUNLOAD pfnCanUnloadNow = reinterpret_cast<PFN_CANUNLOAD>(
        reinterpret_cast<void (*)()>(GetProcAddress(hModule, "DllCanUnloadNow")));
    ASSERT_TRUE(pfnGetClassObject && pfnCanUnloadNow);

    IClassFactory* pFactory = (IClassFactory*)1;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              pfnGetClassObject(CLSID_AsyncReader, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    EXPECT_EQ(nullptr, pFactory);
    EXPECT_EQ(S_OK, pfnCanUnloadNow());
    ASSERT_EQ(S_OK,
              pfnGetClassObject(CLSID_CoFileSource, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    EXPECT_EQ(S_FALSE, pfnCanUnloadNow());

    IUnknown* pOuter = pFactory;  // any object will do as an outer one
    void* p = (void*)1;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, pFactory->CreateInstance(pOuter, IID_IUnknown, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, pFactory->CreateInstance(pOuter, IID_IBaseFilter, &p));
    IBaseFilter* pFilter = NULL;
    ASSERT_EQ(S_OK, pFactory->CreateInstance(NULL, IID_IBaseFilter, reinterpret_cast<void**>(&pFilter)));
    pFactory->Release();
    EXPECT_EQ(S_FALSE, pfnCanUnloadNow());
    EXPECT_EQ(0u, pFilter->Release());
    EXPECT_EQ(S_OK, pfnCanUnloadNow());

    ASSERT_EQ(S_OK,
              pfnGetClassObject(CLSID_CoFileSource, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    EXPECT_EQ(S_OK, pFactory->LockServer(TRUE));
    pFactory->Release();
    EXPECT_EQ(S_FALSE, pfnCanUnloadNow());
    ASSERT_EQ(S_OK,
              pfnGetClassObject(CLSID_CoFileSource, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    EXPECT_EQ(S_OK, pFactory->LockServer(FALSE));
    pFactory->Release();
    EXPECT_EQ(S_OK, pfnCanUnloadNow());
}

}  // namespace
