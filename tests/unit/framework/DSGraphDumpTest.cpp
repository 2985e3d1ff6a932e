// The text buffer and the graph dump, against a graph of stand-in filters;
// the dump reaches the stand-in log library as the component's would.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "DShowX/DSGraphDump.h"
#include "DShowX/DSTrace.h"
#include "DebugCapture.h"
#include "GraphStubs.h"
#include "LogStub.h"

namespace {

using testsupport::StubFilter;
using testsupport::StubGraph;
using testsupport::StubPin;

TEST(CTextBuffer, GrowsToTheNextMultipleOf4096AboveTheNeed) {
    CTextBuffer text;
    EXPECT_TRUE(text.Append(""));  // nothing to add: no block yet
    EXPECT_EQ(nullptr, text.GetText());
    ASSERT_TRUE(text.Reserve(4096));
    EXPECT_EQ(8192u, text.GetCapacity());
    EXPECT_STREQ("", text.GetText());

    const std::string line(1000, 'x');
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(text.Append(line.c_str()));
    ASSERT_TRUE(text.Append(std::string(191, 'y').c_str()));  // 8191 characters and the terminator fit
    EXPECT_EQ(8192u, text.GetCapacity());
    ASSERT_TRUE(text.Append("z"));
    EXPECT_EQ(12288u, text.GetCapacity());
    EXPECT_EQ(8192u, text.GetLength());
    EXPECT_EQ('z', text.GetText()[8191]);

    // A need that cannot be met empties the buffer.
    EXPECT_FALSE(text.Reserve(0xFFFFF800u));
    EXPECT_EQ(nullptr, text.GetText());
    EXPECT_EQ(0u, text.GetCapacity());
    EXPECT_EQ(0u, text.GetLength());

    ASSERT_TRUE(text.Append("abc"));
    LPSTR psz = text.Detach();
    EXPECT_STREQ("abc", psz);
    EXPECT_EQ(nullptr, text.GetText());
    CoTaskMemFree(psz);
}

const CLSID kClsidFileSource = {0x50838349, 0x7C4B, 0x4700, {0xAE, 0x28, 0x23, 0x94, 0x0A, 0x6B, 0xF6, 0xB6}};
const CLSID kClsidSplitter = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

const std::string kHeader = "\r\n[Filter Graph]------------------------------------------------------\r\n";
const std::string kClosing =
    "\r\n--------------------------------------------------------------------\r\n\r\n";
const std::string kSourceLine = "\r\nFilter {50838349-7C4B-4700-AE28-23940A6BF6B6} (TallowFileSource)\r\n";
const std::string kSplitterLine = "\r\nFilter {11111111-2222-3333-4444-555555555555} (MPEG-2 Splitter)\r\n";
const std::string kReaderLine = "\r\nFilter Async Reader (File Source (Async.))\r\n";
const std::string kStreamType = "( MEDIATYPE_Stream / MEDIASUBTYPE_MPEG2_PROGRAM / GUID_NULL )\r\n";
const std::string kOutputLine = "\tOUTPUT: [Output] -> [MPEG-2 Splitter] " + kStreamType;
const std::string kInputLine = "\tINPUT: [Input] -> [TallowFileSource] " + kStreamType;
const std::string kVideoLine = "\tOUTPUT: [Video]    NOT CONNECTED\r\n";

// Our source connected to a splitter with one unconnected output, and a
// reader without pins.
class GraphDump : public ::testing::Test {
protected:
    void SetUp() override {
        StubPin::Link(m_out, m_in, MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM);
        m_source.m_pins = {&m_out};
        m_splitter.m_pins = {&m_in, &m_video};
        m_graph.m_filters = {&m_source, &m_splitter, &m_reader};
    }
    // Every reference the walk took was given back.
    void TearDown() override {
        EXPECT_EQ(0, testsupport::LiveStubEnumerators());
        for (IUnknown* p :
             std::initializer_list<IUnknown*>{static_cast<IFilterGraph*>(&m_graph), &m_source, &m_splitter,
                                              &m_reader, &m_out, &m_in, &m_video}) {
            p->AddRef();
            EXPECT_EQ(1u, p->Release());
        }
    }
    std::string Dump() {
        CFilterChainParser parser;
        LPSTR psz = NULL;
        EXPECT_EQ(S_OK, parser.GetFiltersChain(&m_graph, &psz));
        const std::string text = psz ? psz : "<none>";
        CoTaskMemFree(psz);
        return text;
    }

    StubGraph m_graph;
    StubFilter m_source{&m_graph, L"TallowFileSource", kClsidFileSource};
    StubFilter m_splitter{&m_graph, L"MPEG-2 Splitter", kClsidSplitter};
    StubFilter m_reader{&m_graph, L"File Source (Async.)", CLSID_AsyncReader};
    StubPin m_out{&m_source, L"Output", PINDIR_OUTPUT};
    StubPin m_in{&m_splitter, L"Input", PINDIR_INPUT};
    StubPin m_video{&m_splitter, L"Video", PINDIR_OUTPUT};
};

TEST_F(GraphDump, WritesEveryFilterPinAndConnectionToTheLog) {
    ILogObject* pLog = NULL;
    ASSERT_EQ(S_OK, GetLogObject(&pLog));  // the component's holder has connected to the log
    testsupport::LogStub log;
    ASSERT_TRUE(log.Loaded());
    DumpGraphToLog(&m_graph);
    const std::string text = kHeader + kSourceLine + kOutputLine + kSplitterLine + kInputLine + kVideoLine +
                             kReaderLine + kClosing;
    EXPECT_EQ("write " + std::to_string(text.size()) + " " + text + "\n", log.Take());
}

TEST_F(GraphDump, EmptyGraphAndNoGraph) {
    m_graph.m_filters.clear();
    EXPECT_EQ(kHeader + kClosing, Dump());

    ILogObject* pLog = NULL;
    ASSERT_EQ(S_OK, GetLogObject(&pLog));  // the holder connects first: the record starts after it
    testsupport::LogStub log;
    testsupport::ClearDebugText();
    DumpGraphToLog(NULL);
    EXPECT_EQ("###Err### _FilterBase::ParseGraphToLogFile(): empty graph pointer\n",
              testsupport::DebugText());
    EXPECT_EQ("", log.Take());
}

TEST_F(GraphDump, FailuresOfFiltersAndPinsLeaveALineAndTheWalkGoesOn) {
    m_source.m_hrGetClassID = E_NOTIMPL;
    m_in.m_hrConnectionMediaType = E_UNEXPECTED;
    m_video.m_hrConnectedTo = E_FAIL;
    m_reader.m_hrEnumPins = E_OUTOFMEMORY;
    EXPECT_EQ(kHeader +
                  "###Err### CFilterChainParser::GetFilterData(): pFilter->GetClassID()=0x80004001\r\n\r\n" +
                  kSplitterLine + "\tINPUT: [Input] -> [TallowFileSource] " +
                  "\r\n###Err### CFilterChainParser::GetPinMediaType(): "
                  "pPin->ConnectionMediaType()=0x8000FFFF\r\n" +
                  "\tOUTPUT: [Video]\r\n###Err### CFilterChainParser::GetPinData(): "
                  "pPin->ConnectedTo()=0x80004005\r\n" +
                  kReaderLine +
                  "###Err### CFilterChainParser::GetFilterData(): pFilter->EnumPins()=0x8007000E\r\n\r\n" +
                  kClosing,
              Dump());

    m_source.m_hrGetClassID = S_OK;
    m_in.m_hrConnectionMediaType = S_OK;
    m_video.m_hrConnectedTo = S_OK;
    m_reader.m_hrEnumPins = S_OK;
    m_out.m_hrQueryPinInfo = E_FAIL;
    m_in.m_pPeer = NULL;
    m_video.m_pOwner = NULL;  // a pin that names no filter
    m_reader.m_hrQueryFilterInfo = E_FAIL;
    testsupport::ExpectAsserts asserts;
    EXPECT_EQ(
        kHeader + kSourceLine +
            "###Err### CFilterChainParser::GetPinData(): pPin->QueryPinInfo()=0x80004005\r\n\r\n" +
            kSplitterLine + "\tINPUT: [Input]    NOT CONNECTED\r\n" + kVideoLine +
            "###Err### CFilterChainParser::GetFilterData(): pFilter->QueryFilterInfo()=0x80004005\r\n\r\n" +
            kClosing,
        Dump());
    EXPECT_TRUE(asserts.Saw("rgInfo.pFilter != NULL"));
}

TEST_F(GraphDump, PeerFailuresAndTheGraphsOwnEnumeration) {
    m_in.m_hrQueryPinInfo = E_ABORT;  // seen from the source's output pin
    m_graph.m_nFailNextAt = 1;
    EXPECT_EQ(
        kHeader + kSourceLine + "\tOUTPUT: [Output]" +
            "\r\n###Err### CFilterChainParser::GetPinData(): spPinConnected->QueryPinInfo()=0x80004004\r\n" +
            "###Err### CFilterChainParser::GetFiltersChain(): spEnum->Next()=0x80004005\r\n" + kClosing,
        Dump());

    // Without the graph's enumerator the dump ends after the error line.
    m_graph.m_hrEnumFilters = E_NOINTERFACE;
    EXPECT_EQ(
        kHeader + "###Err### CFilterChainParser::GetFiltersChain(): pGraph->EnumFilters()=0x80004002\r\n",
        Dump());
}

TEST(CFilterChainParser, RefusesNullArguments) {
    CFilterChainParser parser;
    StubGraph graph;
    LPSTR psz = (LPSTR)1;
    testsupport::ExpectAsserts asserts;
    EXPECT_EQ(E_INVALIDARG, parser.GetFiltersChain(NULL, &psz));
    EXPECT_EQ(nullptr, psz);
    EXPECT_EQ(E_POINTER, parser.GetFiltersChain(&graph, NULL));
    EXPECT_EQ(2u, asserts.Count());
}

}  // namespace
