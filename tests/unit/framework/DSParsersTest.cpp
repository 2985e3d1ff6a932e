#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include "DShowX/DSParsers.h"
#include "DebugCapture.h"

namespace {

struct Example {
    LONGLONG value;
    const char* text;
};

TEST(LL2Str, WorkedExamples) {
    const Example examples[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1 000"},
        {1001, "1 001"},
        {1000000, "1 000 000"},
        {1234567, "1 234 567"},
        {4294967296LL, "4 294 967 296"},
        {-1000, "-1 000"},
        {-7, "-7"},
        {1000000000000000000LL, "1 000 000 000 000 000 000"},
        {9223372036854775807LL, "9 223 372 036 854 775 807"},
        {-9223372036854775807LL - 1, "-9 223 372 036 854 775 808"},
    };
    for (const Example& e : examples) {
        CHAR sz[CONV_BUFFER_SIZE];
        EXPECT_STREQ(e.text, LL2Str(e.value, sz)) << e.value;
    }
}

TEST(RefTime2Str, WorkedExamples) {
    const Example examples[] = {
        {0, "0.000"},
        {1, "0.000'0001"},
        {10000, "0.001"},
        {10001, "0.001'0001"},
        {10000000, "1.000"},
        {12345678, "1.234'5678"},
        {36000000000LL, "3600.000"},
        {-1, "-0.000'0001"},
        {-5000000, "-0.500"},
        {-15000000, "-1.500"},
        {-12345678, "-1.234'5678"},
        {10000000000000000LL, "1000000000.000"},
        {10000000000000005LL, "1000000000.000'0005"},
        {-10000000000000000LL, "-1000000000.000"},
        {-10000000000000005LL, "-1000000000.000'0005"},
        {9223372036854775807LL, "922337203685.477'5807"},
        {-9223372036854775807LL - 1, "-922337203685.477'5808"},
    };
    for (const Example& e : examples) {
        CHAR sz[CONV_BUFFER_SIZE];
        EXPECT_STREQ(e.text, RefTime2Str(e.value, sz)) << e.value;
    }
}

// The longest texts must fit the documented minimum buffers exactly.
TEST(ValueFormatting, LongestTextsFitTheirBuffers) {
    CHAR sz[CONV_BUFFER_SIZE];
    memset(sz, 'x', sizeof(sz));
    LL2Str(-9223372036854775807LL - 1, sz);
    EXPECT_EQ(26u, strlen(sz));
    EXPECT_EQ('x', sz[27]);
    memset(sz, 'x', sizeof(sz));
    RefTime2Str(-9223372036854775807LL - 1, sz);
    EXPECT_EQ(22u, strlen(sz));
    EXPECT_EQ('x', sz[23]);
}

TEST(ValueFormatting, NullBufferIsReportedAndRefused) {
    testsupport::ExpectAsserts expect;
    EXPECT_EQ(nullptr, LL2Str(5, nullptr));
    EXPECT_EQ(nullptr, RefTime2Str(5, nullptr));
    EXPECT_EQ(2u, expect.Count());
    EXPECT_TRUE(expect.Saw("pszConv != NULL"));
}

}  // namespace
