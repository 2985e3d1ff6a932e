// Trace filtering and formatting, assertion reports, error texts.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"
#include "DebugCapture.h"

namespace {

using testsupport::ClearDebugText;
using testsupport::DebugText;
using testsupport::ExpectAsserts;

TEST(DSTrace, FiltersByCategoryAndLevelAndAddsNothing) {
    ClearDebugText();
    DSTrace(0, 0, "category zero\n");
    DSTrace(TRACE_APP1, 9, "level nine\n");
    DSTrace(TRACE_COM, 12, "level twelve\n");
    EXPECT_EQ("", DebugText());
    DSTrace(TRACE_APP2, 8, "level %s %I64i\n", "eight", (LONGLONG)-5000000000LL);
    DSTrace(0x80000000, 0, "any category bit\n");
    EXPECT_EQ("level eight -5000000000\nany category bit\n", DebugText());
}

// With nobody listening a message costs no formatting: its arguments are not
// even evaluated and nothing reaches the debugger output. Asking whether
// anyone listens leaves the last error the arguments may read.
TEST(DSTrace, NothingIsBuiltOrWrittenWithoutAListener) {
    int nBuilt = 0;
    CHAR sz[CONV_BUFFER_SIZE];
    auto Built = [&]() {
        ++nBuilt;
        return LL2Str(1234567, sz);
    };
    {
        testsupport::NoDebugListener none;
        ClearDebugText();
        DSTrace(TRACE_APP2, 1, "error %s\n", Built());
        DSTrace(TRACE_APP1, 8, "traffic %s\n", Built());
        EXPECT_FALSE(DSTraceListening());
        EXPECT_EQ(0, nBuilt);
        EXPECT_EQ("", DebugText());
        DSTraceRefreshListener();
        SetLastError(ERROR_SHARING_VIOLATION);
        DSTrace(TRACE_APP2, 1, "asks whether anyone listens\n");
        EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    }
    ClearDebugText();
    DSTrace(TRACE_APP1, 8, "traffic %s\n", Built());
    EXPECT_EQ(1, nBuilt);
    EXPECT_EQ("traffic 1 234 567\n", DebugText());
}

TEST(DSTrace, TextOf511CharactersIsWrittenWhole) {
    const std::string text(511, 'a');
    ClearDebugText();
    DSTrace(TRACE_APP1, 1, "%s", text.c_str());
    EXPECT_EQ(text, DebugText());
}

TEST(DSTrace, LongerTextFailsTheAssertionAndIsCutButTerminated) {
    for (size_t len : {512u, 513u, 2000u}) {
        const std::string text(len, 'b');
        ExpectAsserts expect;
        ClearDebugText();
        DSTrace(TRACE_APP1, 1, "%s", text.c_str());
        EXPECT_EQ(1u, expect.Count()) << len;
        EXPECT_TRUE(expect.Saw("nBuf < sizeof(szBuffer)")) << len;
        EXPECT_NE(std::string::npos, expect.Reports()[0].find("DShowX/DSTrace.cpp("));
        // The 511 characters that fit are still written, after the report.
        const std::string out = DebugText();
        EXPECT_EQ(std::string::npos, out.find(std::string(512, 'b')));
        ASSERT_GE(out.size(), 511u);
        EXPECT_EQ(std::string(511, 'b'), out.substr(out.size() - 511));
    }
}

TEST(FormatError, HeadNoteAndDescription) {
    CHAR sz[FORMAT_ERROR_BUFFER_SIZE];
    ASSERT_EQ(sz, FormatError(sz, "", "GetLastError()", 0x80004005));
    const std::string text(sz);
    EXPECT_EQ(0u, text.find("GetLastError()=0x80004005 (-2147467259)\n\n")) << text;
    EXPECT_GT(text.size(), strlen("GetLastError()=0x80004005 (-2147467259)\n\n")) << "no description";

    ASSERT_EQ(sz, FormatError(sz, NULL, "hr", 0x8004022E));
    EXPECT_EQ(0u, std::string(sz).find("hr=0x8004022E (-2147220946)\nno message\n")) << sz;
}

TEST(FormatError, NullBufferOrNameWritesNothing) {
    CHAR sz[FORMAT_ERROR_BUFFER_SIZE];
    memset(sz, 'q', sizeof(sz));
    EXPECT_EQ(nullptr, FormatError(sz, "note", NULL, 5));
    EXPECT_EQ('q', sz[0]);
    EXPECT_EQ(nullptr, FormatError(NULL, "note", "name", 5));
}

TEST(FormatError, TextNeverEndsInBlanksOrLineBreaks) {
    const DWORD codes[] = {0,          ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION,
                           0x80070026, 0x8004022E,           0x12345678};
    for (DWORD code : codes) {
        CHAR sz[FORMAT_ERROR_BUFFER_SIZE];
        FormatError(sz, "", "code", code);
        size_t len = strlen(sz);
        ASSERT_GT(len, 0u);
        EXPECT_GT((unsigned char)sz[len - 1], 0x20) << code;
    }
}

TEST(FormatError, OverlongNoteIsCutToTheBuffer) {
    const std::string note(3000, 'n');
    CHAR sz[FORMAT_ERROR_BUFFER_SIZE + 16];
    memset(sz, 'z', sizeof(sz));
    FormatError(sz, note.c_str(), "code", 1);
    EXPECT_EQ((size_t)FORMAT_ERROR_BUFFER_SIZE - 1, strlen(sz));
    EXPECT_EQ('z', sz[FORMAT_ERROR_BUFFER_SIZE]);
}

TEST(AssertFailed, ReportsTheFailureAndKeepsTheLastError) {
    ExpectAsserts expect;
    ClearDebugText();
    SetLastError(1234);
    const int line = __LINE__ + 1;
    ASSERT(1 + 1 == 3);
    EXPECT_EQ(1234u, GetLastError());
    ASSERT_EQ(1u, expect.Count());
    const std::string report = expect.Reports()[0];
    EXPECT_EQ(0u, report.find("###Err###\n")) << report;
    const std::string body = "DSTraceTest.cpp(" + std::to_string(line) +
                             "): ASSERT( \"1 + 1 == 3\" )\nGetLastError()=0x000004D2 (1234)\n";
    EXPECT_NE(std::string::npos, report.find(body)) << report;
    EXPECT_EQ('\n', report.back());
    // Ignore (the test's answer) goes on after "exit ASSERT".
    const std::string out = DebugText();
    EXPECT_EQ(out.size() - strlen("\nexit ASSERT"), out.rfind("\nexit ASSERT"));
}

TEST(AssertFailed, IdiomsKeepTheirSourceText) {
    ExpectAsserts expect;
    const char* pszName = NULL;
    ASSERT(!_T("MTDup() : CoTaskMemAlloc() == NULL"));
    ASSERT(pszName != NULL && _T("Guid2Name()"));
    ASSERT(FALSE);
    EXPECT_TRUE(expect.Saw("!_T(\"MTDup() : CoTaskMemAlloc() == NULL\")"));
    EXPECT_TRUE(expect.Saw("pszName != NULL && _T(\"Guid2Name()\")"));
    EXPECT_TRUE(expect.Saw("FALSE"));
}

TEST(AssertFailed, OverlongExpressionIsCutToItsBuffers) {
    ExpectAsserts expect;
    const std::string expr(1500, 'e');
    AssertFailed("file.cpp", 1, expr.c_str());
    ASSERT_EQ(1u, expect.Count());
    EXPECT_EQ((size_t)ASSERT_BUFFER_SIZE - 1, expect.Reports()[0].size());
}

}  // namespace
