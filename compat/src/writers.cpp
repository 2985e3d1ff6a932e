// Whether some process may still be writing a file: the Linux side of the
// Windows sharing rule, under which an open that refuses write sharing fails
// while another handle writes the file. The read path asks it every 500 ms
// while a read waits for a recording to grow.
//
// Linux keeps no share modes, so the writers are looked for:
//  - Among the processes this one may inspect, exactly: each entry of
//    /proc/<pid>/fd names an open file, and /proc/<pid>/fdinfo tells whether
//    it was opened for writing.
//  - Another user's processes (a recorder running as a service user), and
//    processes outside our PID namespace, cannot be inspected. Once a scan
//    meets one, the file itself is asked as well: a file that changed within
//    the idle time counts as being written until an inotify close-after-write
//    tells that its writer has closed it.
//
// A scan costs one or two microseconds per open descriptor on the machine,
// so it runs only when its answer can have changed. Each probed file gets an
// inotify watch before its first scan, and:
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
    int wd = -1;  // its inotify watch; -1 without one
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

// Whether the descriptor behind an fdinfo entry was opened for writing.
bool OpenedForWriting(int dirFd, const char* fdinfo) {
    const int fd = openat(dirFd, fdinfo, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof(buf) - 1);
    close(fd);
    if (n <= 0)
        return false;
    buf[n] = 0;
    const char* flags = strstr(buf, "flags:");
    if (!flags)
        return false;
    const int mode = (int)(strtoul(flags + 6, nullptr, 8) & O_ACCMODE);
    return mode == O_WRONLY || mode == O_RDWR;
}

// Whether descriptor fd of process pid still names the file, opened for
// writing.
bool StillWrites(pid_t pid, int fd, dev_t dev, ino_t ino) {
    char path[64];
    snprintf(path, sizeof(path), "/proc/%d/fd/%d", (int)pid, fd);
    struct stat st;
    if (stat(path, &st) != 0 || st.st_dev != dev || st.st_ino != ino)
        return false;
    snprintf(path, sizeof(path), "/proc/%d/fdinfo/%d", (int)pid, fd);
    return OpenedForWriting(AT_FDCWD, path);
}

struct ScanResult {
    bool found = false;  // a process holds the file open for writing
    pid_t pid = 0;
    int fd = -1;
    bool whole = false;  // every process was inspected (meaningful when none was found)
};

// Looks through the descriptors of every process, this one included, for
// one that holds the file open for writing.
ScanResult ScanProcesses(dev_t dev, ino_t ino) {
    ScanResult r;
    DIR* proc = opendir("/proc");
    if (!proc)
        return r;
    const int procFd = dirfd(proc);
    r.whole = ProcListsEveryProcess();
    char rel[600];
    while (!r.found) {
        const struct dirent* pe = readdir(proc);
        if (!pe)
            break;
        const char* pid = pe->d_name;
        if (pid[0] < '0' || pid[0] > '9')
            continue;
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
            // Relative to the open directory: no walk from /proc per entry.
            struct stat st;
            if (fstatat(fdDir, fe->d_name, &st, 0) != 0 || st.st_dev != dev || st.st_ino != ino)
                continue;
            snprintf(rel, sizeof(rel), "%s/fdinfo/%s", pid, fe->d_name);
            if (OpenedForWriting(procFd, rel)) {
                r.found = true;
                r.pid = (pid_t)atoi(pid);
                r.fd = atoi(fe->d_name);
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

// Reads every notification that has come.
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
bool StillChanging(WatchedFile& f, const char* path, const struct stat& st, int64_t now) {
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

bool Decide(WatchedFile& f, const char* path, const struct stat& st, int64_t now) {
    const bool watched = f.wd >= 0;
    if (f.writerHeld)
        return true;
    // A close-after-write came, or there is no watch: the writer seen last
    // may still hold the file through the same descriptor.
    if (f.writerPid) {
        if (StillWrites(f.writerPid, f.writerFd, f.dev, f.ino)) {
            f.writerHeld = watched;
            return true;
        }
        f.writerPid = 0;
    }
    if (!f.scanStands) {
        const ScanResult r = ScanProcesses(f.dev, f.ino);
        if (r.found) {
            f.writerPid = r.pid;
            f.writerFd = r.fd;
            f.writerHeld = watched;
            return true;
        }
        f.scanStands = watched;
        f.scanWhole = r.whole;
    }
    if (f.scanWhole)
        return false;  // every process was inspected, and none writes
    return StillChanging(f, path, st, now);
}

}  // namespace

bool WriterMayBeActive(const char* path, const struct stat& st) {
    ProbeState& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    const int64_t now = MonotonicNs();
    EnsureInotify(s);
    Drain(s, now);
    WatchedFile* f = FindFile(s, st.st_dev, st.st_ino);
    if (!f)
        f = &AddFile(s, path, st, now);
    f->lastProbeNs = now;
    const bool active = Decide(*f, path, st, now);
    f->opensSinceProbe = 0;
    return active;
}

}  // namespace compat

extern "C" void CompatSetWriterIdleTime(DWORD milliseconds) {
    compat::g_idleMs.store(milliseconds, std::memory_order_relaxed);
}
