// Files and the Windows sharing rule.
#include "kobject.h"
#include "writers.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace compat {
namespace {

// An open file. Windows serialises the I/O of a synchronous file object, so
// a read and the file-pointer update that goes with it never interleave with
// another thread's; m_ioLock does the same here.
class KFile : public KObject {
public:
    KFile(int fd) : KObject(kFile), m_fd(fd) {}
    ~KFile() override { close(m_fd); }
    const int m_fd;
    std::mutex m_ioLock;  // guards the descriptor's offset across a read and its update
};

// Windows tells a missing directory (ERROR_PATH_NOT_FOUND) from a missing
// file (ERROR_FILE_NOT_FOUND).
bool ParentExists(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return true;
    struct stat st;
    return stat(slash == 0 ? "/" : path.substr(0, slash).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

KFile* FileOf(const KRef& r) {
    return static_cast<KFile*>(r.get());
}

}  // namespace
}  // namespace compat

using namespace compat;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD, HANDLE hTemplateFile) {
    if (!lpFileName || hTemplateFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    if (!*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = ToPosixPath(lpFileName);
    const bool wantsWrite =
        (dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    // An open for attributes alone reads no data: it needs no read right on
    // the file, and share modes do not apply to it.
    const bool attributesOnly =
        !wantsWrite && (dwDesiredAccess & (GENERIC_READ | FILE_READ_DATA | DELETE)) == 0;

    // The file is looked at before it is opened: a probe that meets a writer
    // leaves no open behind, which the writer probe's watch would take for a
    // new writer. Directories, FIFOs and devices are refused unopened.
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        int err = errno;
        SetLastError(err == ENOENT && !ParentExists(path) ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(err));
        return INVALID_HANDLE_VALUE;
    }
    if (!S_ISREG(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // The sharing rule comes before the access check, unlike on Windows: a
    // reader that may not write a recording (another user's, the usual case
    // for a recorder running as a service) still learns that it is being
    // written, instead of an access denial that tells nothing.
    const bool refusesWriters = !attributesOnly && !(dwShareMode & FILE_SHARE_WRITE);
    if (refusesWriters && WriterMayBeActive(path.c_str(), st)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }

    // O_NONBLOCK keeps a FIFO that replaced the file meanwhile from blocking
    // the open; it is refused below.
    // O_PATH neither needs the read right nor tells inotify watchers of an
    // open, which the writer probe would take for a new writer.
    int fd = open(path.c_str(),
                  attributesOnly ? O_PATH | O_CLOEXEC : O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        int err = errno;
        SetLastError(err == ENOENT && !ParentExists(path) ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(err));
        return INVALID_HANDLE_VALUE;
    }
    struct stat opened;
    if (fstat(fd, &opened) != 0) {
        int err = errno;
        close(fd);
        SetLastError(Win32ErrorFromErrno(err));
        return INVALID_HANDLE_VALUE;
    }
    if (!S_ISREG(opened.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // The name was given to another file between the look and the open: the
    // rule holds for the file opened.
    if (refusesWriters && (opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) &&
        WriterMayBeActive(path.c_str(), opened)) {
        close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    if (!attributesOnly) {
        int fl = fcntl(fd, F_GETFL);
        if (fl >= 0)
            fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    }

    // Write access is checked, never exercised: opening for writing would
    // fire close-write notifications at other programs.
    if (wantsWrite && access(path.c_str(), W_OK) != 0) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(new KFile(fd));
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    KRef r = LookupHandle(hFile, KObject::kFile);
    if (!r)
        return FALSE;
    if (!lpBuffer && nNumberOfBytesToRead) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (!lpNumberOfBytesRead && !lpOverlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    KFile* f = FileOf(r);
    std::lock_guard<std::mutex> g(f->m_ioLock);
    off_t offset = 0;
    if (lpOverlapped) {
        offset = (off_t)(((ULONGLONG)lpOverlapped->OffsetHigh << 32) | lpOverlapped->Offset);
        if (offset < 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    DWORD done = 0;
    BYTE* dst = static_cast<BYTE*>(lpBuffer);
    while (done < nNumberOfBytesToRead) {
        ssize_t n = lpOverlapped ? pread(f->m_fd, dst + done, nNumberOfBytesToRead - done, offset + done)
                                 : read(f->m_fd, dst + done, nNumberOfBytesToRead - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // A handle opened for attributes alone has no read right.
            int err = errno;
            if (err == EBADF) {
                if (lpNumberOfBytesRead)
                    *lpNumberOfBytesRead = done;
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            }
            if (lpNumberOfBytesRead)
                *lpNumberOfBytesRead = done;
            SetLastError(Win32ErrorFromErrno(err));
            return FALSE;
        }
        if (n == 0)
            break;  // end of file: success with a short count
        done += (DWORD)n;
    }
    if (lpOverlapped) {
        lseek(f->m_fd, offset + done, SEEK_SET);
        lpOverlapped->Internal = 0;
        lpOverlapped->InternalHigh = done;
        // A positioned read that starts at or past the end fails, as on Windows.
        if (done == 0 && nNumberOfBytesToRead > 0) {
            SetLastError(ERROR_HANDLE_EOF);
            return FALSE;
        }
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = done;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                             DWORD dwMoveMethod) {
    KRef r = LookupHandle(hFile, KObject::kFile);
    if (!r)
        return FALSE;
    int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
                 : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
                 : dwMoveMethod == FILE_END     ? SEEK_END
                                                : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    KFile* f = FileOf(r);
    std::lock_guard<std::mutex> g(f->m_ioLock);
    off_t base = whence == SEEK_SET ? 0 : lseek(f->m_fd, 0, whence);
    if (base < 0 || (liDistanceToMove.QuadPart < 0 && base + liDistanceToMove.QuadPart < 0)) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return FALSE;
    }
    off_t pos = lseek(f->m_fd, base + liDistanceToMove.QuadPart, SEEK_SET);
    if (pos < 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    if (lpNewFilePointer)
        lpNewFilePointer->QuadPart = pos;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    LARGE_INTEGER dist, pos;
    if (lpDistanceToMoveHigh) {
        dist.LowPart = (DWORD)lDistanceToMove;
        dist.HighPart = *lpDistanceToMoveHigh;
    } else {
        dist.QuadPart = lDistanceToMove;
    }
    if (!SetFilePointerEx(hFile, dist, &pos, dwMoveMethod))
        return INVALID_SET_FILE_POINTER;
    if (lpDistanceToMoveHigh) {
        *lpDistanceToMoveHigh = pos.HighPart;
    } else if (pos.HighPart != 0) {
        // The position does not fit the single 32-bit result.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    // A low half of 0xFFFFFFFF is ambiguous; the last error tells success.
    SetLastError(ERROR_SUCCESS);
    return pos.LowPart;
}

BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    KRef r = LookupHandle(hFile, KObject::kFile);
    if (!r)
        return FALSE;
    struct stat st;
    if (fstat(FileOf(r)->m_fd, &st) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    lpFileSize->QuadPart = st.st_size;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(hFile, &size))
        return INVALID_FILE_SIZE;
    if (lpFileSizeHigh)
        *lpFileSizeHigh = (DWORD)size.HighPart;
    SetLastError(ERROR_SUCCESS);
    return size.LowPart;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    char buf[4096];
    if (!getcwd(buf, sizeof(buf))) {
        SetLastError(Win32ErrorFromErrno(errno));
        return 0;
    }
    DWORD len = (DWORD)strlen(buf);
    if (!lpBuffer || nBufferLength <= len)
        return len + 1;  // size needed, terminator included
    memcpy(lpBuffer, buf, len + 1);
    return len;
}

DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
    if (lpFilePart)
        *lpFilePart = NULL;
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::string full;
    if (lpFileName[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof(cwd))) {
            SetLastError(Win32ErrorFromErrno(errno));
            return 0;
        }
        full = cwd;
        full += '/';
    }
    full += lpFileName;
    // "." parts and repeated separators go; ".." parts stay (see the header).
    std::string clean;
    size_t i = 0;
    while (i < full.size()) {
        size_t end = full.find('/', i);
        if (end == std::string::npos)
            end = full.size();
        const std::string part = full.substr(i, end - i);
        if (!part.empty() && part != ".") {
            clean += '/';
            clean += part;
        }
        i = end + 1;
    }
    if (clean.empty() || full.back() == '/')
        clean += '/';
    const DWORD len = (DWORD)clean.size();
    if (!lpBuffer || nBufferLength <= len)
        return len + 1;
    memcpy(lpBuffer, clean.c_str(), len + 1);
    if (lpFilePart) {
        char* slash = strrchr(lpBuffer, '/');
        *lpFilePart = slash && slash[1] ? slash + 1 : NULL;
    }
    SetLastError(ERROR_SUCCESS);
    return len;
}

DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
    if (lpFilePart)
        *lpFilePart = NULL;
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    // A name that is no valid text (a lone surrogate) has no form on disk.
    const int cb = WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, lpFileName, -1, NULL, 0, NULL, NULL);
    if (cb <= 0)
        return 0;
    std::string name((size_t)cb, '\0');
    WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, lpFileName, -1, &name[0], cb, NULL, NULL);
    const DWORD cbFull = GetFullPathNameA(name.c_str(), 0, NULL, NULL);
    if (cbFull == 0)
        return 0;
    std::string full((size_t)cbFull, '\0');
    if (GetFullPathNameA(name.c_str(), cbFull, &full[0], NULL) == 0)
        return 0;
    const int cch = MultiByteToWideChar(CP_ACP, 0, full.c_str(), -1, NULL, 0);
    if (cch <= 0)
        return 0;
    if (!lpBuffer || nBufferLength < (DWORD)cch)
        return (DWORD)cch;  // size needed, terminator included
    MultiByteToWideChar(CP_ACP, 0, full.c_str(), -1, lpBuffer, cch);
    if (lpFilePart) {
        LPWSTR slash = wcsrchr(lpBuffer, L'/');
        *lpFilePart = slash && slash[1] ? slash + 1 : NULL;
    }
    SetLastError(ERROR_SUCCESS);
    return (DWORD)cch - 1;
}

DWORD WINAPI GetFileType(HANDLE hFile) {
    KRef r = LookupHandle(hFile, KObject::kFile);
    if (!r)
        return FILE_TYPE_UNKNOWN;
    SetLastError(ERROR_SUCCESS);
    return FILE_TYPE_DISK;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    KRef r = LookupHandle(hFile, KObject::kFile);
    if (!r)
        return FALSE;
    if (!lpFileInformation) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    struct stat st;
    if (fstat(FileOf(r)->m_fd, &st) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    info.dwFileAttributes = (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
    // FILETIME counts 100 ns from 1601; the epoch lies 11644473600 s later.
    const auto fileTime = [](const struct timespec& ts) {
        const ULONGLONG t =
            ((ULONGLONG)ts.tv_sec + 11644473600ULL) * 10000000ULL + (ULONGLONG)ts.tv_nsec / 100;
        FILETIME ft;
        ft.dwLowDateTime = (DWORD)t;
        ft.dwHighDateTime = (DWORD)(t >> 32);
        return ft;
    };
    info.ftCreationTime = fileTime(st.st_ctim);
    info.ftLastAccessTime = fileTime(st.st_atim);
    info.ftLastWriteTime = fileTime(st.st_mtim);
    info.dwVolumeSerialNumber = (DWORD)st.st_dev;
    info.nFileSizeHigh = (DWORD)((ULONGLONG)st.st_size >> 32);
    info.nFileSizeLow = (DWORD)st.st_size;
    info.nNumberOfLinks = (DWORD)st.st_nlink;
    info.nFileIndexHigh = (DWORD)((ULONGLONG)st.st_ino >> 32);
    info.nFileIndexLow = (DWORD)st.st_ino;
    *lpFileInformation = info;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // extern "C"
