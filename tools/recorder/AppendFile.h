// The recorder's file, opened to append as a recorder opens its recording:
// for writing, letting others read and write it meanwhile. Each system has
// its own side (AppendFile_posix.cpp, AppendFile_win.cpp).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace recorder {

enum class OpenResult {
    kOpen,
    // Another process holds the file open refusing writers (a player's probe
    // for a writer, which asks for read access without write sharing): the
    // system refused with a sharing violation, and a moment later it may not.
    // Only Windows keeps share modes; elsewhere an open is never refused so.
    kRefused,
    kFailed,  // any other failure; the reason is printed
};

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile() { Close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens the file to append, creating it; bEmpty cuts it to 0 bytes first.
    OpenResult Open(const char* path, bool bEmpty);
    // The file's size: where the next write lands.
    uint64_t Size();
    // Writes all n bytes at the end, unbuffered, so that readers see them at
    // once. False (the reason printed) when the system refused.
    bool Write(const void* data, size_t n);
    // False when the close failed (the reason printed). Closing a closed
    // file does nothing.
    bool Close();
    bool IsOpen() const;

private:
    intptr_t m_handle = -1;  // a descriptor, or a HANDLE's value
};

}  // namespace recorder
