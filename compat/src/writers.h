// The writer probe behind the sharing rule. Internal to compat/.
#pragma once

#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace compat {

// Whether some process may still be writing the file, so that an open that
// refuses write sharing must fail. `path` is the file as the caller names
// it; `st` is what stat() said of it just before.
bool WriterMayBeActive(const char* path, const struct stat& st);

// Whether the last writer a scan found for the file was a process that has
// ended since (told by its start time, so that a pid used again is not taken
// for it), and no writer is seen now. Told once for each such writer. False
// when no such writer was seen, or it cannot be told.
bool WriterProcessExited(const char* path, const struct stat& st);

// ---- The process scan (writers_scan.cpp), for the probe

// The monotonic clock in nanoseconds.
int64_t MonotonicNs();

// The file a scan looks for.
struct ScanTarget {
    dev_t dev;
    ino_t ino;
    uint64_t mntId;  // 0: not known
};

struct ScanResult {
    bool found = false;  // a process holds the file open for writing
    pid_t pid = 0;
    int fd = -1;
    bool whole = false;  // every process was inspected (meaningful when none was found)
};

// Looks through the descriptors of every process, this one included, for
// one that holds the file open for writing; stops, incomplete, after a time
// budget (250 ms).
ScanResult ScanProcesses(const ScanTarget& t);

// Whether descriptor fd of process pid still holds the file for writing.
bool StillWrites(pid_t pid, int fd, const ScanTarget& t);

// The start time of a process (clock ticks after boot) and whether it has
// ended (a zombie no longer runs). False when it cannot be read; *pGone is
// then set when there is no such process.
bool ReadProcessStart(pid_t pid, unsigned long long* pStart, bool* pGone);

}  // namespace compat
