// Fuzzes the diagnostics' formatting with arbitrary values and error codes:
// nothing may be written past a buffer, every text is terminated.
#include <windows.h>

#include <stdint.h>
#include <string.h>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8)
        return 0;
    LONGLONG v;
    memcpy(&v, data, sizeof(v));
    CHAR sz[CONV_BUFFER_SIZE];
    if (strlen(LL2Str(v, sz)) > 26)
        __builtin_trap();
    if (strlen(RefTime2Str(v, sz)) > 22)
        __builtin_trap();

    // The rest of the input as the note of an error text.
    CHAR szNote[2048];
    size_t n = size - 8 < sizeof(szNote) - 1 ? size - 8 : sizeof(szNote) - 1;
    memcpy(szNote, data + 8, n);
    szNote[n] = 0;
    CHAR szError[FORMAT_ERROR_BUFFER_SIZE];
    if (strlen(FormatError(szError, szNote, "code", (DWORD)v)) >= sizeof(szError))
        __builtin_trap();
    // A trace with the note as an argument: long texts are cut, not overrun.
    DSTrace(TRACE_APP1, 1, "%s\n", szNote);
    return 0;
}
