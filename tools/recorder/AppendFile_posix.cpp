// The recorder's file on POSIX systems: a descriptor opened with O_APPEND.
// No share modes exist, so an open is never refused for another's.
#include "AppendFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace recorder {

OpenResult AppendFile::Open(const char* path, bool bEmpty) {
    Close();
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | (bEmpty ? O_TRUNC : 0), 0666);
    if (fd < 0) {
        perror("recorder: open");
        return OpenResult::kFailed;
    }
    m_handle = fd;
    return OpenResult::kOpen;
}

uint64_t AppendFile::Size() {
    struct stat st;
    return m_handle >= 0 && fstat((int)m_handle, &st) == 0 ? (uint64_t)st.st_size : 0;
}

bool AppendFile::Write(const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = write((int)m_handle, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            perror("recorder: write");
            return false;
        }
        p += w;
        n -= (size_t)w;
    }
    return true;
}

bool AppendFile::Close() {
    if (m_handle < 0)
        return true;
    const int rc = close((int)m_handle);
    m_handle = -1;
    if (rc != 0)
        perror("recorder: close");
    return rc == 0;
}

bool AppendFile::IsOpen() const {
    return m_handle >= 0;
}

}  // namespace recorder
