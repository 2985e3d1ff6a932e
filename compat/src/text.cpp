// Text conversion and the Microsoft-flavoured formatters.
#include "kobject.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Rewrites a Microsoft printf format into the C library's dialect:
//   %I64d -> %lld, %I32d -> %d, %Id -> %zd, %ld (32-bit long on Windows) -> %d,
//   %hs -> %s, %hc -> %c, %p -> %016lX (Windows prints 16 upper-case digits).
// %S and %C (wide string and character) mean the same in both dialects.
// Returns false when the result does not fit.
bool TranslateFormat(const char* in, char* out, size_t cbOut) {
    size_t o = 0;
    auto put = [&](char c) {
        if (o + 1 >= cbOut)
            return false;
        out[o++] = c;
        return true;
    };
    auto puts = [&](const char* s) {
        while (*s)
            if (!put(*s++))
                return false;
        return true;
    };
    for (const char* p = in; *p;) {
        if (*p != '%') {
            if (!put(*p++))
                return false;
            continue;
        }
        if (!put(*p++))
            return false;
        if (*p == '%') {
            if (!put(*p++))
                return false;
            continue;
        }
        // flags, width, precision
        while (*p && strchr("-+ #0", *p))
            if (!put(*p++))
                return false;
        while (*p && (*p == '*' || (*p >= '0' && *p <= '9')))
            if (!put(*p++))
                return false;
        if (*p == '.') {
            if (!put(*p++))
                return false;
            while (*p && (*p == '*' || (*p >= '0' && *p <= '9')))
                if (!put(*p++))
                    return false;
        }
        // length modifier
        const char* mod = "";
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            mod = "ll";
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            p += 3;
        } else if (p[0] == 'I') {
            mod = "z";
            p += 1;
        } else if (p[0] == 'l' && p[1] == 'l') {
            mod = "ll";
            p += 2;
        } else if (p[0] == 'l') {
            ++p;
            if (*p == 's' || *p == 'c')
                mod = "l";  // wide string or character
        } else if (p[0] == 'h' && (p[1] == 's' || p[1] == 'c')) {
            ++p;  // narrow string or character: the default here
        } else if (p[0] == 'h' && p[1] == 'h') {
            mod = "hh";
            p += 2;
        } else if (p[0] == 'h') {
            mod = "h";
            ++p;
        } else if (p[0] == 'L') {
            mod = "L";
            ++p;
        }
        if (*p == 'p') {
            if (!puts("016lX"))
                return false;
            ++p;
            continue;
        }
        if (!puts(mod))
            return false;
        if (*p && !put(*p++))
            return false;
    }
    out[o] = 0;
    return true;
}

// Formats with the translated format. Returns what vsnprintf returns.
int FormatTranslated(char* buffer, size_t count, const char* format, va_list args) {
    char local[1024];
    char* fmt = local;
    size_t need = strlen(format) * 2 + 16;
    if (need > sizeof(local))
        fmt = static_cast<char*>(malloc(need));
    if (!fmt)
        return -1;
    int n = -1;
    if (TranslateFormat(format, fmt, fmt == local ? sizeof(local) : need)) {
        n = vsnprintf(buffer, count, fmt, args);
    }
    if (fmt != local)
        free(fmt);
    return n;
}

int DecodeUtf8(const unsigned char* s, int len, int* used, uint32_t* cp) {
    unsigned c = s[0];
    int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || n > len)
        return 0;
    uint32_t v = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (int i = 1; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        v = (v << 6) | (s[i] & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kMin[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *used = n;
    *cp = v;
    return 1;
}

int EncodeUtf8(uint32_t v, char* out) {
    if (v < 0x80) {
        out[0] = (char)v;
        return 1;
    }
    if (v < 0x800) {
        out[0] = (char)(0xC0 | (v >> 6));
        out[1] = (char)(0x80 | (v & 0x3F));
        return 2;
    }
    if (v < 0x10000) {
        out[0] = (char)(0xE0 | (v >> 12));
        out[1] = (char)(0x80 | ((v >> 6) & 0x3F));
        out[2] = (char)(0x80 | (v & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (v >> 18));
    out[1] = (char)(0x80 | ((v >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((v >> 6) & 0x3F));
    out[3] = (char)(0x80 | (v & 0x3F));
    return 4;
}

}  // namespace

extern "C" {

int _vsnprintf(char* buffer, size_t count, const char* format, va_list argptr) {
    if (!format || (!buffer && count))
        return -1;
    va_list copy;
    va_copy(copy, argptr);
    int n = FormatTranslated(buffer, count, format, copy);
    va_end(copy);
    if (n < 0)
        return -1;
    if ((size_t)n < count)
        return n;
    // The C library cut the text and terminated it; the Microsoft formatter
    // fills all count bytes instead and leaves the text unterminated, so the
    // byte the terminator took is recovered from a second, one larger run.
    if (count > 0) {
        char tail[4097];
        char* full = count < sizeof(tail) ? tail : static_cast<char*>(malloc(count + 1));
        if (full) {
            va_copy(copy, argptr);
            FormatTranslated(full, count + 1, format, copy);
            va_end(copy);
            buffer[count - 1] = full[count - 1];
            if (full != tail)
                free(full);
        }
    }
    return (size_t)n == count ? n : -1;
}

int _snprintf(char* buffer, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(buffer, count, format, args);
    va_end(args);
    return n;
}

int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist) {
    if (!lpOut || !lpFmt)
        return -1;
    va_list copy;
    va_copy(copy, arglist);
    int n = FormatTranslated(lpOut, 1024, lpFmt, copy);
    va_end(copy);
    if (n < 0) {
        lpOut[0] = 0;
        return 0;
    }
    return n < 1024 ? n : 1023;
}

int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
    va_list args;
    va_start(args, lpFmt);
    int n = wvsprintfA(lpOut, lpFmt, args);
    va_end(args);
    return n;
}

int WINAPI lstrlenA(LPCSTR lpString) {
    return lpString ? (int)strlen(lpString) : 0;
}
int WINAPI lstrlenW(LPCWSTR lpString) {
    return lpString ? (int)wcslen(lpString) : 0;
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    if (CodePage != CP_ACP && CodePage != CP_UTF8 && CodePage != CP_OEMCP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 || (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int len = cbMultiByte < 0 ? (int)strlen(lpMultiByteStr) + 1 : cbMultiByte;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    int out = 0;
    for (int i = 0; i < len;) {
        uint32_t cp;
        int used;
        if (!DecodeUtf8(s + i, len - i, &used, &cp)) {
            if (dwFlags & MB_ERR_INVALID_CHARS) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            cp = 0xFFFD;
            used = 1;
        }
        if (cchWideChar) {
            if (out >= cchWideChar) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            lpWideCharStr[out] = (WCHAR)cp;
        }
        ++out;
        i += used;
    }
    return out;
}

// The ANSI code page is UTF-8 here. As under Wine, the best-fit flag and a
// default character are accepted and change nothing (UTF-8 needs neither); a
// value that is no Unicode scalar (a lone surrogate) becomes U+FFFD and is
// reported through lpUsedDefaultChar, or fails the call with
// ERROR_NO_UNICODE_TRANSLATION under WC_ERR_INVALID_CHARS.
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR, LPBOOL lpUsedDefaultChar) {
    if (CodePage != CP_ACP && CodePage != CP_UTF8 && CodePage != CP_OEMCP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0 || (cbMultiByte > 0 && !lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = FALSE;
    int len = cchWideChar < 0 ? (int)wcslen(lpWideCharStr) + 1 : cchWideChar;
    int out = 0;
    for (int i = 0; i < len; ++i) {
        uint32_t cp = (uint32_t)lpWideCharStr[i];
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            if (dwFlags & WC_ERR_INVALID_CHARS) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            if (lpUsedDefaultChar)
                *lpUsedDefaultChar = TRUE;
            cp = 0xFFFD;
        }
        char enc[4];
        int n = EncodeUtf8(cp, enc);
        if (cbMultiByte) {
            if (out + n > cbMultiByte) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            memcpy(lpMultiByteStr + out, enc, n);
        }
        out += n;
    }
    return out;
}

}  // extern "C"
