// The recorder's file on Windows: a handle with write access that shares
// reading and writing, as the C run-time's append mode opens it. A reader
// that refuses write sharing (a player probing for a writer) makes the open
// fail with a sharing violation while it holds the file.
#include "AppendFile.h"

#include <windows.h>

#include <stdio.h>

namespace recorder {

namespace {

void PrintError(const char* what) {
    fprintf(stderr, "recorder: %s: error %lu\n", what, (unsigned long)GetLastError());
}

HANDLE Handle(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

}  // namespace

OpenResult AppendFile::Open(const char* path, bool bEmpty) {
    Close();
    const HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 bEmpty ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION)
            return OpenResult::kRefused;
        PrintError("open");
        return OpenResult::kFailed;
    }
    m_handle = reinterpret_cast<intptr_t>(h);
    return OpenResult::kOpen;
}

uint64_t AppendFile::Size() {
    LARGE_INTEGER size;
    return m_handle != -1 && GetFileSizeEx(Handle(m_handle), &size) ? (uint64_t)size.QuadPart : 0;
}

bool AppendFile::Write(const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        // At the end, wherever other writers have put it.
        const LARGE_INTEGER zero = {};
        DWORD cb = 0;
        const DWORD want = n > 0x40000000 ? 0x40000000 : (DWORD)n;
        if (!SetFilePointerEx(Handle(m_handle), zero, NULL, FILE_END) ||
            !WriteFile(Handle(m_handle), p, want, &cb, NULL) || cb == 0) {
            PrintError("write");
            return false;
        }
        p += cb;
        n -= cb;
    }
    return true;
}

bool AppendFile::Close() {
    if (m_handle == -1)
        return true;
    const BOOL ok = CloseHandle(Handle(m_handle));
    m_handle = -1;
    if (!ok)
        PrintError("close");
    return ok != FALSE;
}

bool AppendFile::IsOpen() const {
    return m_handle != -1;
}

}  // namespace recorder
