// Whether some process may still be writing a file: the Linux side of the
// Windows sharing rule, under which an open that refuses write sharing fails
// while another handle writes the file. The read path asks it every 500 ms
// while a read waits for a recording to grow.
//
// Linux keeps no share modes, so the writers are looked for:
//  - Among the processes this one may inspect, exactly: each entry of
//    /proc/<pid>/fd names an open file, and /proc/<pid>/fdinfo tells whether
//    it was opened for writing.
//  - Some writers cannot be seen: another user's process (a recorder running
//    as a service user) unless this one may trace it, root included; a
//    process outside our PID namespace; a writer on another machine of a
//    network file system. When a scan meets a process whose descriptors it
//    may not read (whether or not it may list them), or the file lies on a
//    network file system, the file itself is asked as well: a file that
//    changed within the idle time counts as being written until an inotify
//    close-after-write tells that its writer has closed it.
//
// A descriptor is told from its link's own mode (the access it was opened
// with), its link's text (readlink, which never reaches the file system
// behind it) and its fdinfo (mount id, inode number), never by following
// the link: a stat through /proc/<pid>/fd asks the file system that holds
// the file, and one on a dead network mount never answers. The scan also
// stops after a time budget, so that a probe, and the read that waits
// behind it, stays within its poll.
//
// A scan costs a microsecond or so per open descriptor on the machine (a few
// for those open for writing that name files), so it runs only when its
// answer can have changed. Each probed file gets an inotify watch before its
// first scan, and:
//  - a writer once found keeps the file open until a close-after-write
//    arrives (whichever process holds its open file by then, through fork or
//    a passed descriptor, still writes);
//  - after a scan found no writer, a new writer must open the file first,
//    which the watch reports (IN_OPEN).
// Without a watch (no inotify instance, no watch left, no read permission on
// the file) every probe scans, and the file shows its changes only through
// its size and modification time.
//
// The file is never opened for writing here: that would send close-write
// notifications to other programs. Nor is a lease taken: breaking one sends
// SIGIO, which ends a process that does not expect it.
#include "writers.h"

#include <windows.h>
#include <compat/compat.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace compat {
namespace {

constexpr uint32_t kWatchMask = IN_MODIFY | IN_CLOSE_WRITE | IN_OPEN;
constexpr size_t kMaxFiles = 64;                         // watched files kept at once
constexpr int64_t kForgetNs = 600 * 1000000000LL;        // a file not probed for 10 minutes is forgotten
constexpr unsigned long kKernelThreadFlag = 0x00200000;  // PF_KTHREAD, in /proc/<pid>/stat
constexpr ino_t kInitialPidNamespace = 0xEFFFFFFCu;      // the first PID namespace's inode number
constexpr int64_t kScanBudgetNs = 250 * 1000000LL;       // a scan longer than this stops, incomplete

// The idle time a process starts with: COMPAT_WRITER_IDLE_MS from the
// environment (a program that loads the component can set it before the
// component's copy of this layer starts), else the default.
DWORD IdleFromEnvironment() {
    const char* v = getenv("COMPAT_WRITER_IDLE_MS");
    if (!v || !*v)
        return COMPAT_WRITER_IDLE_DEFAULT;
    char* end = nullptr;
    const unsigned long ms = strtoul(v, &end, 10);
    return end && *end == 0 && ms < INFINITE ? (DWORD)ms : COMPAT_WRITER_IDLE_DEFAULT;
}

std::atomic<DWORD> g_idleMs{IdleFromEnvironment()};

int64_t MonotonicNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

// How long ago the modification time lies; 0 for one in the future (another
// machine's clock), about 11 days at most.
int64_t AgeNs(const struct timespec& mtime) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (mtime.tv_sec > now.tv_sec)
        return 0;
    const time_t secs = now.tv_sec - std::max<time_t>(mtime.tv_sec, 0);
    if (secs > 1000000)
        return 1000000 * 1000000000LL;
    return std::max<int64_t>(0, (int64_t)secs * 1000000000 + (now.tv_nsec - mtime.tv_nsec));
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// What is known of one probed file.
struct WatchedFile {
    dev_t dev = 0;
    ino_t ino = 0;
    uint64_t mntId = 0;   // the mount it was reached through (0: not known)
    bool remote = false;  // on a network file system: other machines' writers are never seen
    int wd = -1;          // its inotify watch; -1 without one
    int64_t lastProbeNs = 0;
    // A writer among the processes we may inspect.
    pid_t writerPid = 0;  // 0: none known
    int writerFd = -1;
    bool writerHeld = false;  // its open file is open still: no close-after-write came since it was seen
    // The last scan of the processes.
    bool scanStands = false;  // it found no writer, and nothing has opened the file since
    bool scanWhole = false;   // it inspected every process
    // The file itself, for the writers that no scan shows.
    int64_t lastChangeNs = 0;       // when it was last seen changing (monotonic clock)
    bool closedAfterWrite = false;  // a close-after-write came after that change
    bool changeNotified = false;    // an IN_MODIFY came since size and mtime were taken
    off_t size = 0;
    struct timespec mtime = {0, 0};
    unsigned opensSinceProbe = 0;  // IN_OPEN since the last probe: a close-after-write may be theirs
    bool gone = false;             // its watch ended with the file: to be dropped
};

struct ProbeState {
    // Guards every member. A leaf lock: nothing else is taken while it is
    // held. It is held through a scan of /proc, so that concurrent probes
    // wait for one scan instead of running several.
    std::mutex lock;
    int inotifyFd = -1;
    pid_t owner = 0;  // the process that made inotifyFd
    std::vector<WatchedFile> files;
};

ProbeState& State() {
    static ProbeState* s = new ProbeState;  // never destroyed: threads may outlive statics
    return *s;
}

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

// Whether a process whose descriptors we may not see hides nothing: it is a
// kernel thread (no files) or has ended.
bool HidesNoFiles(int procFd, const char* pid) {
    char rel[300], buf[512];
    snprintf(rel, sizeof(rel), "%s/stat", pid);
    const int fd = openat(procFd, rel, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ESRCH;
    const ssize_t n = read(fd, buf, sizeof(buf) - 1);
    close(fd);
    if (n <= 0)
        return false;
    buf[n] = 0;
    // The command name, in parentheses, may hold blanks: the fields that
    // follow are counted from its closing parenthesis.
    const char* p = strrchr(buf, ')');
    unsigned long flags = 0;
    return p && sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %lu", &flags) == 1 && (flags & kKernelThreadFlag);
}

// The file a scan looks for.
struct Target {
    dev_t dev;
    ino_t ino;
    uint64_t mntId;  // 0: not known
};

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
Held Inspect(int procFd, int fdDir, const char* pid, const char* fd, const Target& t) {
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

// Whether descriptor fd of process pid still holds the file for writing.
bool StillWrites(pid_t pid, int fd, const Target& t) {
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

struct ScanResult {
    bool found = false;  // a process holds the file open for writing
    pid_t pid = 0;
    int fd = -1;
    bool whole = false;  // every process was inspected (meaningful when none was found)
};

// Looks through the descriptors of every process, this one included, for
// one that holds the file open for writing.
ScanResult ScanProcesses(const Target& t) {
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

WatchedFile* FindByWatch(ProbeState& s, int wd) {
    for (WatchedFile& f : s.files)
        if (f.wd == wd)
            return &f;
    return nullptr;
}

WatchedFile* FindFile(ProbeState& s, dev_t dev, ino_t ino) {
    for (WatchedFile& f : s.files)
        if (f.dev == dev && f.ino == ino)
            return &f;
    return nullptr;
}

// What one notification tells of a file.
void OnEvent(WatchedFile& f, uint32_t mask, int64_t now) {
    if (mask & IN_OPEN) {
        // Someone opened it, perhaps to write: the last scan no longer stands.
        f.scanStands = false;
        ++f.opensSinceProbe;
    }
    if (mask & IN_MODIFY) {
        f.lastChangeNs = now;
        f.closedAfterWrite = false;
        f.changeNotified = true;
    }
    if (mask & IN_CLOSE_WRITE) {
        // An open file that could write is closed for good; it may have been
        // the writer we know. When someone opened the file since the last
        // probe, the close may end their short visit instead of the
        // recorder's work: then only the idle time ends the writing.
        f.writerHeld = false;
        if (f.opensSinceProbe)
            --f.opensSinceProbe;
        else
            f.closedAfterWrite = true;
    }
}

// Notifications were lost: anything may have happened to every file.
void OnOverflow(ProbeState& s, int64_t now) {
    for (WatchedFile& f : s.files) {
        f.writerHeld = false;
        f.scanStands = false;
        f.lastChangeNs = now;
        f.closedAfterWrite = false;
        f.changeNotified = true;
        ++f.opensSinceProbe;
    }
}

// Reads every notification that has come. Files whose watch ended are only
// marked: DropGone removes them, where no reference to one is held.
void Drain(ProbeState& s, int64_t now) {
    if (s.inotifyFd < 0)
        return;
    alignas(struct inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(s.inotifyFd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + (ssize_t)sizeof(struct inotify_event) <= n;) {
            struct inotify_event ev;
            memcpy(&ev, buf + at, sizeof(ev));
            at += (ssize_t)sizeof(ev) + ev.len;
            if (ev.mask & IN_Q_OVERFLOW) {
                OnOverflow(s, now);
                continue;
            }
            WatchedFile* f = FindByWatch(s, ev.wd);
            if (!f)
                continue;
            if (ev.mask & IN_IGNORED) {
                // The file is gone (or we removed the watch); its inode
                // number may come back with another file.
                f->wd = -1;
                f->gone = true;
                continue;
            }
            OnEvent(*f, ev.mask, now);
        }
    }
}

void DropGone(ProbeState& s) {
    s.files.erase(std::remove_if(s.files.begin(), s.files.end(), [](const WatchedFile& f) { return f.gone; }),
                  s.files.end());
}

std::vector<WatchedFile>::iterator Forget(ProbeState& s, std::vector<WatchedFile>::iterator it) {
    if (it->wd >= 0)
        inotify_rm_watch(s.inotifyFd, it->wd);
    return s.files.erase(it);
}

// Drops the files nobody has asked about for a while, and makes room for one
// more.
void ForgetStale(ProbeState& s, int64_t now) {
    for (auto it = s.files.begin(); it != s.files.end();) {
        if (now - it->lastProbeNs > kForgetNs)
            it = Forget(s, it);
        else
            ++it;
    }
    if (s.files.size() >= kMaxFiles)
        Forget(s, std::min_element(s.files.begin(), s.files.end(),
                                   [](const WatchedFile& a, const WatchedFile& b) {
                                       return a.lastProbeNs < b.lastProbeNs;
                                   }));
}

// Makes the inotify instance when there is none; a forked child starts
// over with one of its own, or it would take its parent's notifications.
void EnsureInotify(ProbeState& s) {
    const pid_t self = getpid();
    if (s.owner != self) {
        if (s.inotifyFd >= 0)
            close(s.inotifyFd);
        s.inotifyFd = -1;
        s.files.clear();
        s.owner = self;
    }
    if (s.inotifyFd < 0)
        s.inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

// The id of the mount through which the name reaches the file; 0 when it
// cannot be told (kernels before 5.8) or the name has moved on.
uint64_t MountIdOf(const char* path, const struct stat& st) {
    struct statx stx;
    if (statx(AT_FDCWD, path, 0, STATX_INO | STATX_MNT_ID, &stx) != 0 || !(stx.stx_mask & STATX_MNT_ID) ||
        makedev(stx.stx_dev_major, stx.stx_dev_minor) != st.st_dev || stx.stx_ino != st.st_ino)
        return 0;
    return stx.stx_mnt_id;
}

// Whether the file lies on a file system that other machines may write
// (their writers never show in this machine's processes) or whose writes
// may come through a daemon (FUSE).
bool OnNetworkFileSystem(const char* path) {
    static const unsigned long kRemote[] = {
        0x6969,      // NFS
        0x517B,      // SMB
        0xFF534D42,  // CIFS
        0xFE534D42,  // SMB2
        0x65735546,  // FUSE
        0x00C36400,  // Ceph
        0x01021997,  // 9P
        0x5346414F,  // AFS
        0x6B414653,  // kAFS
        0x47504653,  // GPFS
        0x0BD00BD0,  // Lustre
        0x013111A8,  // IBRIX
        0x73757245,  // Coda
        0x564C,      // NCP
    };
    struct statfs sfs;
    if (statfs(path, &sfs) != 0)
        return false;
    for (unsigned long type : kRemote)
        if ((unsigned long)(unsigned)sfs.f_type == type)
            return true;
    return false;
}

WatchedFile& AddFile(ProbeState& s, const char* path, const struct stat& st, int64_t now) {
    ForgetStale(s, now);
    WatchedFile f;
    f.dev = st.st_dev;
    f.ino = st.st_ino;
    // What happened before the first probe shows only in the modification
    // time: a file changed within the idle time counts as being written.
    f.lastChangeNs = now - AgeNs(st.st_mtim);
    f.size = st.st_size;
    f.mtime = st.st_mtim;
    f.mntId = MountIdOf(path, st);
    f.remote = OnNetworkFileSystem(path);
    // The watch comes before the first scan, so a writer that opens the file
    // after the scan has passed its process still shows.
    if (s.inotifyFd >= 0) {
        int wd = inotify_add_watch(s.inotifyFd, path, kWatchMask);
        struct stat again;
        if (wd >= 0 && (stat(path, &again) != 0 || again.st_dev != st.st_dev || again.st_ino != st.st_ino)) {
            // The name has moved to another file meanwhile: the watch would
            // tell of that one.
            if (!FindByWatch(s, wd))
                inotify_rm_watch(s.inotifyFd, wd);
            wd = -1;
        }
        f.wd = wd;
    }
    s.files.push_back(f);
    return s.files.back();
}

// The file rule, for writers no scan shows: a change since the idle time,
// and no close-after-write after it.
bool StillChanging(ProbeState& s, WatchedFile& f, const char* path, const struct stat& st, int64_t now) {
    // Taken after the notifications were read, so that a change they report
    // is not taken for an unreported one next time.
    struct stat cur;
    if (stat(path, &cur) != 0 || cur.st_dev != f.dev || cur.st_ino != f.ino)
        cur = st;
    if (cur.st_size != f.size || !SameTime(cur.st_mtim, f.mtime)) {
        // A change the watch did not report: a network file system, a write
        // under way, no watch at all.
        if (!f.changeNotified) {
            f.lastChangeNs = now;
            f.closedAfterWrite = false;
            // A writer that opened the file since the notifications were
            // read has written already: its open is in the queue now, and
            // is its own, not a visitor's whose close-after-write could be
            // taken for the writer's. It is read with this probe, so that
            // the writer's close is known for what it is.
            Drain(s, now);
        }
        f.size = cur.st_size;
        f.mtime = cur.st_mtim;
    }
    f.changeNotified = false;
    if (f.closedAfterWrite)
        return false;
    const DWORD idleMs = g_idleMs.load(std::memory_order_relaxed);
    return idleMs == INFINITE || now - f.lastChangeNs < (int64_t)idleMs * 1000000;
}

bool Decide(ProbeState& s, WatchedFile& f, const char* path, const struct stat& st, int64_t now) {
    const bool watched = f.wd >= 0;
    if (f.writerHeld)
        return true;
    // A close-after-write came, or there is no watch: the writer seen last
    // may still hold the file through the same descriptor.
    const Target t = {f.dev, f.ino, f.mntId};
    if (f.writerPid) {
        if (StillWrites(f.writerPid, f.writerFd, t)) {
            f.writerHeld = watched;
            return true;
        }
        f.writerPid = 0;
    }
    if (!f.scanStands) {
        const ScanResult r = ScanProcesses(t);
        if (r.found) {
            f.writerPid = r.pid;
            f.writerFd = r.fd;
            f.writerHeld = watched;
            return true;
        }
        f.scanStands = watched;
        f.scanWhole = r.whole;
    }
    if (f.scanWhole && !f.remote)
        return false;  // every process that can write it was inspected, and none writes
    return StillChanging(s, f, path, st, now);
}

}  // namespace

bool WriterMayBeActive(const char* path, const struct stat& st) {
    ProbeState& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    const int64_t now = MonotonicNs();
    EnsureInotify(s);
    Drain(s, now);
    DropGone(s);
    WatchedFile* f = FindFile(s, st.st_dev, st.st_ino);
    if (!f)
        f = &AddFile(s, path, st, now);
    f->lastProbeNs = now;
    const bool active = Decide(s, *f, path, st, now);
    f->opensSinceProbe = 0;
    return active;
}

}  // namespace compat

extern "C" void CompatSetWriterIdleTime(DWORD milliseconds) {
    compat::g_idleMs.store(milliseconds, std::memory_order_relaxed);
}
