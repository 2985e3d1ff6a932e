// What CCachedReadFile::CachedRead must answer, worked out from a plain
// positioned read of the same file: shared by the randomized test and the
// fuzz target.
#pragma once

#include <windows.h>

#include <vector>

namespace readertest {

struct Expected {
    HRESULT hr;
    std::vector<BYTE> bytes;
};

inline Expected PlainRead(HANDLE hFile, LONGLONG llSize, DWORD dwBlock, LONGLONG pos, LONG len) {
    Expected e;
    if (pos >= llSize) {
        e.hr = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        return e;
    }
    e.bytes.resize((size_t)len);
    DWORD cb = 0;
    OVERLAPPED ov = {};
    ov.Offset = (DWORD)pos;
    ov.OffsetHigh = (DWORD)((ULONGLONG)pos >> 32);
    if (len > 0 && !ReadFile(hFile, e.bytes.data(), (DWORD)len, &cb, &ov))
        cb = 0;
    e.bytes.resize(cb);
    // S_FALSE when the read ran into the end: it came up short, or its last
    // block was the file's last (the cache then finds no next block). A last
    // block that is incomplete is read directly, and that read answers S_OK
    // when it delivered everything.
    if (len == 0) {
        e.hr = S_OK;
    } else {
        const LONGLONG llLastBlock = (pos + (LONGLONG)cb - 1) / dwBlock * dwBlock;
        if (llLastBlock + dwBlock > llSize)
            e.hr = (LONG)cb < len ? S_FALSE : S_OK;
        else
            e.hr = llLastBlock + dwBlock >= llSize ? S_FALSE : S_OK;
    }
    return e;
}

}  // namespace readertest
