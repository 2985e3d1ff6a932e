// Text forms of values for trace messages and the property page.
#pragma once

#include <windows.h>

// Scratch buffer size for one converted value; large enough for the longest
// text of either conversion and its terminator.
#define CONV_BUFFER_SIZE 32

// Writes a signed 64-bit integer with blank-separated groups of three digits
// ("-1 234 567") into pszConv (at least 27 bytes) and returns pszConv.
LPSTR LL2Str(LONGLONG llValue, LPSTR pszConv);

// Writes a reference time (100 ns units) as seconds with three decimals and,
// when it is not a whole number of milliseconds, "'" and the remaining four
// digits ("1.234'5678"), into pszConv (at least 23 bytes); returns pszConv.
LPSTR RefTime2Str(LONGLONG rtTime, LPSTR pszConv);
