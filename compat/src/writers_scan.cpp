// The process scan of the writer probe (writers.h): which process, of
// those this one may inspect, holds a file open for writing, told from
// /proc without ever following a descriptor's link into the file system
// behind it (see writers.cpp). Nothing here keeps state: the probe calls it
// without its lock.
#include "writers.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

namespace compat {
namespace {

constexpr unsigned long kKernelThreadFlag = 0x00200000;  // PF_KTHREAD, in /proc/<pid>/stat
constexpr ino_t kInitialPidNamespace = 0xEFFFFFFCu;      // the first PID namespace's inode number
constexpr int64_t kScanBudgetNs = 250 * 1000000LL;       // a scan longer than this stops, incomplete

// Whether /proc lists every process of the machine. It does not inside a
// child PID namespace (a container), nor when it hides other users'
// processes (hidepid=invisible) from anyone but root.
bool ProcListsEveryProcess() {
    static const bool s_every = [] {
        struct stat st;
        if (stat("/proc/self/ns/pid", &st) == 0 && st.st_ino != kInitialPidNamespace)
            return false;
        if (geteuid() == 0)
            return true;
        FILE* f = fopen("/proc/self/mountinfo", "re");
        if (!f)
            return true;
        bool hidden = false;
        char line[1024], mountPoint[256];
        while (fgets(line, sizeof(line), f)) {
            if (sscanf(line, "%*s %*s %*s %*s %255s", mountPoint) != 1 || strcmp(mountPoint, "/proc") != 0)
                continue;
            const char* super = strstr(line, " - proc ");
            if (super && (strstr(super, "hidepid=2") || strstr(super, "hidepid=invisible")))
                hidden = true;
        }
        fclose(f);
        return !hidden;
    }();
    return s_every;
}

// The fields of a process's stat file the probe needs.
struct ProcStat {
    char state = 0;
    unsigned long flags = 0;
    unsigned long long start = 0;  // clock ticks after boot
};

// Reads the stat file `rel` under dirFd. False when it cannot be read or
// understood; *pGone is then set when there is no such process.
bool ReadProcStat(int dirFd, const char* rel, ProcStat* ps, bool* pGone) {
    char buf[1024];
    *pGone = false;
    const int fd = openat(dirFd, rel, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *pGone = errno == ENOENT || errno == ESRCH;
        return false;
    }
    const ssize_t n = read(fd, buf, sizeof(buf) - 1);
    const int err = errno;
    close(fd);
    if (n <= 0) {
        *pGone = n < 0 && err == ESRCH;
        return false;
    }
    buf[n] = 0;
    // The command name, in parentheses, may hold blanks: the fields are
    // counted from its closing parenthesis. The state is the third field,
    // the flags the ninth, the start time the twenty-second.
    const char* p = strrchr(buf, ')');
    return p &&
           sscanf(p + 1, " %c %*d %*d %*d %*d %*d %lu %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                  &ps->state, &ps->flags, &ps->start) == 3;
}

// Whether a process whose descriptors we may not see hides nothing: it is a
// kernel thread (no files) or has ended.
bool HidesNoFiles(int procFd, const char* pid) {
    char rel[300];
    snprintf(rel, sizeof(rel), "%s/stat", pid);
    ProcStat ps;
    bool gone = false;
    if (!ReadProcStat(procFd, rel, &ps, &gone))
        return gone;
    return (ps.flags & kKernelThreadFlag) != 0;
}

// What one descriptor's fdinfo tells.
struct FdInfo {
    unsigned long flags = 0;
    uint64_t mntId = 0;  // 0: not shown (kernels before 3.15)
    uint64_t ino = 0;
    bool hasIno = false;  // kernels before 5.14 show no inode number
};

// Reads an fdinfo entry; false with errno set when it cannot be read.
bool ReadFdInfo(int dirFd, const char* rel, FdInfo* info) {
    const int fd = openat(dirFd, rel, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[512];
    const ssize_t n = read(fd, buf, sizeof(buf) - 1);
    const int err = errno;
    close(fd);
    if (n <= 0) {
        errno = n < 0 ? err : ENOENT;
        return false;
    }
    buf[n] = 0;
    const char* flags = strstr(buf, "flags:");
    if (!flags) {
        errno = ENOENT;
        return false;
    }
    info->flags = strtoul(flags + 6, nullptr, 8);
    if (const char* mnt = strstr(buf, "mnt_id:"))
        info->mntId = strtoull(mnt + 7, nullptr, 10);
    if (const char* ino = strstr(buf, "\nino:")) {
        info->ino = strtoull(ino + 5, nullptr, 10);
        info->hasIno = true;
    }
    return true;
}

// The device of a mount of this process's mount namespace, by mount id.
bool DeviceOfMount(uint64_t mntId, dev_t* dev) {
    FILE* f = fopen("/proc/self/mountinfo", "re");
    if (!f)
        return false;
    bool found = false;
    char* line = nullptr;
    size_t cb = 0;
    unsigned long long id = 0;
    unsigned major = 0, minor = 0;
    while (!found && getline(&line, &cb, f) > 0)
        found = sscanf(line, "%llu %*u %u:%u", &id, &major, &minor) == 3 && id == mntId;
    free(line);
    fclose(f);
    if (found)
        *dev = makedev(major, minor);
    return found;
}

enum class Held {
    kNo,      // not the file, or not opened for writing
    kWriter,  // the file, opened for writing
    kUnseen,  // cannot be told: the process may not be inspected
};

// What descriptor `fd` of process `pid` holds. fdDir is its /proc/<pid>/fd
// directory; procFd is /proc.
Held Inspect(int procFd, int fdDir, const char* pid, const char* fd, const ScanTarget& t) {
    // The link's own mode tells how the descriptor was opened (proc gives
    // it the owner's write bit for a descriptor open for writing), even
    // where the link may not be read: most descriptors end here.
    struct stat ls;
    if (fstatat(fdDir, fd, &ls, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Held::kNo : Held::kUnseen;
    if (!(ls.st_mode & S_IWUSR))
        return Held::kNo;
    // The link's text costs no visit to the file system behind it; pipes,
    // sockets and anonymous inodes do not begin with a slash.
    char link[8];
    if (readlinkat(fdDir, fd, link, sizeof(link)) <= 0)
        return errno == ENOENT ? Held::kNo : Held::kUnseen;  // closed meanwhile, or not ours to see
    if (link[0] != '/')
        return Held::kNo;
    char rel[300];
    snprintf(rel, sizeof(rel), "%s/fdinfo/%s", pid, fd);
    FdInfo info;
    if (!ReadFdInfo(procFd, rel, &info))
        return errno == ENOENT ? Held::kNo : Held::kUnseen;
    const int mode = (int)(info.flags & O_ACCMODE);
    if (mode != O_WRONLY && mode != O_RDWR)
        return Held::kNo;
    if (info.hasIno) {
        if (info.ino != t.ino)
            return Held::kNo;
        if (info.mntId && info.mntId == t.mntId)
            return Held::kWriter;
        // The same inode number through another mount: a bind mount of the
        // same file system, or another file system, or a mount of another
        // namespace that cannot be told apart.
        dev_t dev = 0;
        if (info.mntId && DeviceOfMount(info.mntId, &dev))
            return dev == t.dev ? Held::kWriter : Held::kNo;
        return Held::kUnseen;
    }
    // No inode number: the link is followed, but only into the recording's
    // own file system, which has just answered for the recording itself.
    if (info.mntId && info.mntId != t.mntId) {
        dev_t dev = 0;
        if (!DeviceOfMount(info.mntId, &dev))
            return Held::kUnseen;
        if (dev != t.dev)
            return Held::kNo;
    }
    struct stat st;
    if (fstatat(fdDir, fd, &st, 0) != 0)
        return errno == ENOENT ? Held::kNo : Held::kUnseen;
    return st.st_dev == t.dev && st.st_ino == t.ino ? Held::kWriter : Held::kNo;
}

}  // namespace

// Whether descriptor fd of process pid still holds the file for writing.
bool StillWrites(pid_t pid, int fd, const ScanTarget& t) {
    const int procFd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFd < 0)
        return false;
    char spid[24], sfd[24], rel[64];
    snprintf(spid, sizeof(spid), "%d", (int)pid);
    snprintf(sfd, sizeof(sfd), "%d", fd);
    snprintf(rel, sizeof(rel), "%s/fd", spid);
    const int fdDir = openat(procFd, rel, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool writes = fdDir >= 0 && Inspect(procFd, fdDir, spid, sfd, t) == Held::kWriter;
    if (fdDir >= 0)
        close(fdDir);
    close(procFd);
    return writes;
}

// Looks through the descriptors of every process, this one included, for
// one that holds the file open for writing.
ScanResult ScanProcesses(const ScanTarget& t) {
    ScanResult r;
    DIR* proc = opendir("/proc");
    if (!proc)
        return r;
    const int procFd = dirfd(proc);
    r.whole = ProcListsEveryProcess();
    const int64_t deadline = MonotonicNs() + kScanBudgetNs;
    char rel[600];
    while (!r.found) {
        const struct dirent* pe = readdir(proc);
        if (!pe)
            break;
        const char* pid = pe->d_name;
        if (pid[0] < '0' || pid[0] > '9')
            continue;
        if (MonotonicNs() > deadline) {
            // Whatever the machine is doing, the probe answers within its
            // poll: the processes not seen count as unseen.
            r.whole = false;
            break;
        }
        snprintf(rel, sizeof(rel), "%s/fd", pid);
        const int fdDir = openat(procFd, rel, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdDir < 0) {
            if (errno != ENOENT && r.whole && !HidesNoFiles(procFd, pid))
                r.whole = false;
            continue;
        }
        DIR* fds = fdopendir(fdDir);
        if (!fds) {
            close(fdDir);
            continue;
        }
        while (const struct dirent* fe = readdir(fds)) {
            if (fe->d_name[0] < '0' || fe->d_name[0] > '9')
                continue;
            const Held h = Inspect(procFd, fdDir, pid, fe->d_name, t);
            if (h == Held::kWriter) {
                r.found = true;
                r.pid = (pid_t)atoi(pid);
                r.fd = atoi(fe->d_name);
                break;
            }
            if (h == Held::kUnseen) {
                // Listed, but its descriptors may not be read (root without
                // the right to trace, a process that changed its user): it
                // may be the writer.
                r.whole = false;
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return r;
}

int64_t MonotonicNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

bool ReadProcessStart(pid_t pid, unsigned long long* pStart, bool* pGone) {
    char path[64];
    snprintf(path, sizeof(path), "/proc/%d/stat", (int)pid);
    ProcStat ps;
    if (!ReadProcStat(AT_FDCWD, path, &ps, pGone))
        return false;
    *pStart = ps.start;
    // A zombie no longer runs.
    *pGone = ps.state == 'Z' || ps.state == 'X' || ps.state == 'x';
    return true;
}

}  // namespace compat
