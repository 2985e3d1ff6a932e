// Formatting and text conversion as the system's traces use them.
#include <windows.h>
#include <errors.h>

#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <string>

namespace {

int Format(char* buf, size_t count, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = _vsnprintf(buf, count, fmt, args);
    va_end(args);
    return n;
}

TEST(TextFormat, BoundedFormatterHasTheRunTimeSemantics) {
    char buf[8];
    memset(buf, '#', sizeof(buf));
    EXPECT_EQ(7, Format(buf, 8, "%s", "1234567"));
    EXPECT_STREQ("1234567", buf);
    // Exactly the buffer's size: all bytes written, no terminator.
    memset(buf, '#', sizeof(buf));
    EXPECT_EQ(8, Format(buf, 8, "%s", "12345678"));
    EXPECT_EQ(0, memcmp(buf, "12345678", 8));
    // Longer: -1, the buffer filled with the start of the text.
    memset(buf, '#', sizeof(buf));
    EXPECT_EQ(-1, Format(buf, 8, "%s", "123456789abc"));
    EXPECT_EQ(0, memcmp(buf, "12345678", 8));
}

TEST(TextFormat, SixtyFourBitConversionsOfTheRunTime) {
    char buf[128];
    Format(buf, sizeof(buf), "%I64i|%I64u|%I64X|%I64d", (LONGLONG)-9223372036854775807LL - 1,
           (ULONGLONG)18446744073709551615ULL, (ULONGLONG)0xABCDEF0123ULL, (LONGLONG)42);
    EXPECT_STREQ("-9223372036854775808|18446744073709551615|ABCDEF0123|42", buf);
    // A 32-bit LONG and DWORD with the l modifier, as Windows code writes them.
    Format(buf, sizeof(buf), "%ld %lu %lX 0x%08X", (LONG)-5, (DWORD)4000000000u, (DWORD)0xBEEF,
           (DWORD)0x8004022E);
    EXPECT_STREQ("-5 4000000000 BEEF 0x8004022E", buf);
}

TEST(TextFormat, WsprintfFormatsIntegersAndStrings) {
    char buf[1100];
    EXPECT_EQ(12, wsprintfA(buf, "%d.%03u'%04u", -12, 34u, 5u));
    EXPECT_STREQ("-12.034'0005", buf);
    EXPECT_EQ(7, wsprintfA(buf, "[%s]", "hello"));
    EXPECT_STREQ("[hello]", buf);
    // Output stops at 1024 bytes with the terminator.
    std::string longText(1500, 'x');
    memset(buf, '#', sizeof(buf));
    wsprintfA(buf, "%s", longText.c_str());
    EXPECT_EQ(1023u, strlen(buf));
    EXPECT_EQ('#', buf[1024]);
}

TEST(TextFormat, WideConversionsRoundTrip) {
    const char* text = "Recording 01.mpg";
    int cch = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    EXPECT_EQ((int)strlen(text) + 1, cch);
    WCHAR wide[64];
    EXPECT_EQ(cch, MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 64));
    EXPECT_EQ((WCHAR)'R', wide[0]);
    EXPECT_EQ((WCHAR)0, wide[cch - 1]);
    char back[64];
    EXPECT_EQ(cch, WideCharToMultiByte(CP_ACP, 0, wide, -1, back, sizeof(back), NULL, NULL));
    EXPECT_STREQ(text, back);

    // UTF-8 beyond ASCII, and a destination that is too small.
    const char* utf8 = "caf\xC3\xA9";
    EXPECT_EQ(5, MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 64));
    EXPECT_EQ((WCHAR)0xE9, wide[3]);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 2));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(6, WideCharToMultiByte(CP_UTF8, 0, wide, -1, back, sizeof(back), NULL, NULL));
    EXPECT_STREQ(utf8, back);

    // A lone surrogate has no UTF-8 form: the call fails when asked to.
    const WCHAR lone[] = {'a', (WCHAR)0xD800, 0};
    EXPECT_EQ(0,
              WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, back, sizeof(back), NULL, NULL));
    EXPECT_EQ((DWORD)ERROR_NO_UNICODE_TRANSLATION, GetLastError());
}

TEST(TextFormat, GuidText) {
    const GUID g = {0x50838349, 0x7C4B, 0x4700, {0xAE, 0x28, 0x23, 0x94, 0x0A, 0x6B, 0xF6, 0xB6}};
    OLECHAR sz[40];
    EXPECT_EQ(39, StringFromGUID2(g, sz, 40));
    char narrow[40];
    WideCharToMultiByte(CP_ACP, 0, sz, -1, narrow, sizeof(narrow), NULL, NULL);
    EXPECT_STREQ("{50838349-7C4B-4700-AE28-23940A6BF6B6}", narrow);
    EXPECT_EQ(0, StringFromGUID2(g, sz, 38));
}

TEST(TextFormat, PlatformDescribesErrorCodes) {
    char buf[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                             ERROR_SHARING_VIOLATION, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf,
                             sizeof(buf), NULL);
    EXPECT_GT(n, 0u);
    EXPECT_EQ(n, strlen(buf));
    // The media run-time describes its own codes.
    n = AMGetErrorTextA((HRESULT)0x8004022E, buf, sizeof(buf));
    EXPECT_GT(n, 0u);
    EXPECT_EQ(n, strlen(buf));
}

}  // namespace
