// A first look at the diagnostics: traces a few lines and formats values.
// Natively the debugger output goes to stderr with COMPAT_DEBUG_OUTPUT=stderr.
#include <windows.h>

#include <stdio.h>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"

int main() {
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szC[CONV_BUFFER_SIZE];
    const LONGLONG values[] = {0, 1000, 786432, 21234312, -9223372036854775807LL - 1};
    for (LONGLONG v : values)
        printf("LL2Str(%lld) = \"%s\"\n", (long long)v, LL2Str(v, szA));
    const LONGLONG times[] = {0, 1, 12345678, -5000000, 36000000000LL, 9223372036854775807LL};
    for (LONGLONG t : times)
        printf("RefTime2Str(%lld) = \"%s\"\n", (long long)t, RefTime2Str(t, szA));

    DSTrace(TRACE_APP2, 2, "[FS] CCachedReadFile::Init( %s, %s ) - %s slots\n", LL2Str(0x60000, szA),
            LL2Str(0x1400000, szB), LL2Str(54, szC));
    DSTrace(TRACE_APP1, 10, "dropped: level 10 is above the threshold\n");
    CHAR szError[FORMAT_ERROR_BUFFER_SIZE];
    printf("%s\n", FormatError(szError, "opening a file", "hr", 0x80070020));
    return 0;
}
