// Text forms of values for trace messages and the property page: numbers and
// times, GUID and FOURCC names, and the dumps of media types, format blocks
// and allocators.
#pragma once

#include <windows.h>
#include <dshow.h>

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

// ---------------------------------------------------------------- GUID names

// One named identifier of a name table.
struct GUIDNAME {
    const GUID* pGuid;
    LPCSTR pszName;
};

// The name tables are chained in a fixed list, searched in order.
struct GUIDNAME_NODE {
    GUIDNAME* pGuidName;  // never null
    UINT cElems;          // greater than 0
    const GUIDNAME_NODE* pNext;
};

// The list of name tables: the platform's identifiers, filters and
// categories (195 entries), then other makers' filters (17).
const GUIDNAME_NODE* GetGuidNameTables();

// Sorts every table by the GUID's bytes in memory order, once per process;
// every lookup does it first. Safe to call from several threads at once.
void SortGuidNameTables();

// Maximum size of a name, GUID or media-type text built by the routines below.
#define GUID_NAME_SIZE 128
#define GUID_STR_SIZE 40
#define FOURCC_STR_SIZE 5

// The name of a GUID, cut to nMaxSym - 1 characters, into pszName: a table's
// name, else "TAG_0x%X" (a format tag; "(MP3)" added for 0x55), "FCC_" and the
// four characters, or the registry form. An empty constant text when the
// buffer is null or nMaxSym is not positive.
LPCSTR Guid2Name(REFGUID rguid, LPSTR pszName, int nMaxSym);

// The registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into pszGuid
// (GUID_STR_SIZE characters).
LPSTR Guid2Str(REFGUID rguid, LPSTR pszGuid);

// The four characters of a code, least significant byte first, into pszFCC
// (FOURCC_STR_SIZE characters); empty when any of them is not printable.
LPSTR Fourcc2Str(DWORD dwFourcc, LPSTR pszFCC);

// A compression value as text (GUID_NAME_SIZE characters): its four
// characters, its name ("BI_RGB", "RGB565", ...) or "0x%X".
LPSTR Fourcc2Name(DWORD dwCompression, LPSTR pszFCC);

// "( major / subtype / format )" into pszMediaType, cut to cchMediaType; the
// full form adds " width*height" for video formats and "\r\n". A null media
// type gives "Empty media type\n".
LPSTR ParseMediaType(const AM_MEDIA_TYPE* pmt, LPSTR pszMediaType, int cchMediaType, BOOL bFull);

// ---------------------------------------------------------------- dumps to the trace

// Each writes with DSTrace under the caller's category and level; nothing
// happens for category 0 or a level above TRACE_LEVEL. Format blocks are read
// only as far as cbFormat covers them.
void Debug_MediaType(DWORD dwCategory, UINT nLevel, const AM_MEDIA_TYPE* pmt);
void Debug_WaveFormatEx(DWORD dwCategory, UINT nLevel, const WAVEFORMATEX* pwfx, LPCSTR pszPrefix);
void Debug_BitmapInfoHeader(DWORD dwCategory, UINT nLevel, const BITMAPINFOHEADER* pbih, LPCSTR pszPrefix);
void Debug_DvInfo(DWORD dwCategory, UINT nLevel, const DVINFO* pdv, LPCSTR pszPrefix);
void Debug_Allocator(DWORD dwCategory, UINT nLevel, IMemAllocator* pAllocator, LPCSTR pszPrefix);
