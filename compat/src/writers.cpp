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
// A writer a scan found is remembered with its process's start time after
// it has gone, so that the read path can tell a writer whose process has
// ended (the recording is over) from one that closed the file and may come
// back (WriterProcessExited).
//
// The state of every probed file is kept under one lock, held only to read
// or change it: the system calls that may wait on a file system (stat,
// statfs, inotify_add_watch) and the scan run without it (ProbeState).
//
// The file is never opened for writing here: that would send close-write
// notifications to other programs. Nor is a lease taken: breaking one sends
// SIGIO, which ends a process that does not expect it. The scan of the
// processes is in writers_scan.cpp.
#include "writers.h"

#include <windows.h>
#include <compat/compat.h>

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
constexpr size_t kMaxFiles = 64;                   // watched files kept at once
constexpr int64_t kForgetNs = 600 * 1000000000LL;  // a file not probed for 10 minutes is forgotten

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
    // When the file was made (0: not known). A file system gives a deleted
    // file's inode number to the next file made at once, so an entry that
    // outlived its file (no watch told its end) must not answer for the new one.
    int64_t birthNs = 0;
    uint64_t mntId = 0;   // the mount it was reached through (0: not known)
    bool remote = false;  // on a network file system: other machines' writers are never seen
    int wd = -1;          // its inotify watch; -1 without one
    int64_t lastProbeNs = 0;
    // A writer among the processes we may inspect.
    pid_t writerPid = 0;  // 0: none known
    int writerFd = -1;
    bool writerHeld = false;  // its open file is open still: no close-after-write came since it was seen
    // The writer a scan found last, kept after it has gone until its end is
    // told: its process and that process's start time (clock ticks after
    // boot; 0: not known), so that a pid used again is not taken for it.
    pid_t lastWriterPid = 0;
    unsigned long long lastWriterStart = 0;
    // The last scan of the processes.
    bool scanStands = false;  // it found no writer, and nothing has opened the file since
    bool scanWhole = false;   // it inspected every process
    // Opens, closes-after-write and lost notifications taken in so far: a
    // scan made without the lock stands only when none came meanwhile.
    uint64_t notes = 0;
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
    // Guards every member and every WatchedFile. A leaf lock: nothing else
    // is taken while it is held, and it is held only to read or change the
    // state, with no call that can wait on a file system: the stat, statfs
    // and inotify_add_watch of a file, the reads of /proc and the scan all
    // run without it, so a dead network mount under one recording holds up
    // its own probes only. Concurrent probes of one file may then scan in
    // parallel; what a scan found is kept only when no notification about
    // the file came in meanwhile (WatchedFile::notes).
    std::mutex lock;
    int inotifyFd = -1;
    pid_t owner = 0;  // the process that made inotifyFd
    std::vector<WatchedFile> files;
};

ProbeState& State() {
    static ProbeState* s = new ProbeState;  // never destroyed: threads may outlive statics
    return *s;
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
    if (mask & (IN_OPEN | IN_CLOSE_WRITE))
        ++f.notes;
    if (mask & IN_OPEN) {
        // Someone opened it, perhaps to write: the last scan no longer stands.
        f.scanStands = false;
        ++f.opensSinceProbe;
    }
    if (mask & IN_MODIFY) {
        f.lastChangeNs = now;
        f.closedAfterWrite = false;
        f.changeNotified = true;
        // Whoever opened the file since the last probe and writes it now is
        // the writer, not a visitor: a recorder that opens its file for each
        // chunk and closes it after, with no probe in between (the file grew
        // meanwhile), ends that chunk with its own close-after-write.
        f.opensSinceProbe = 0;
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
        ++f.notes;
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

// The entry of the file st names, made at birthNs (0: not known); an entry
// of an earlier file that had its inode number is dropped.
WatchedFile* FindCurrent(ProbeState& s, const struct stat& st, int64_t birthNs) {
    const auto it = std::find_if(s.files.begin(), s.files.end(), [&](const WatchedFile& f) {
        return f.dev == st.st_dev && f.ino == st.st_ino;
    });
    if (it == s.files.end())
        return nullptr;
    if (birthNs && it->birthNs && it->birthNs != birthNs) {
        Forget(s, it);
        return nullptr;
    }
    return &*it;
}

// When the file the name leads to was made; 0 when the file system does not
// tell, or the name has moved on.
int64_t BirthNs(const char* path, const struct stat& st) {
    struct statx stx;
    if (statx(AT_FDCWD, path, 0, STATX_INO | STATX_BTIME, &stx) != 0 || !(stx.stx_mask & STATX_BTIME) ||
        makedev(stx.stx_dev_major, stx.stx_dev_minor) != st.st_dev || stx.stx_ino != st.st_ino)
        return 0;
    return (int64_t)stx.stx_btime.tv_sec * 1000000000 + stx.stx_btime.tv_nsec;
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
// may come through a daemon (FUSE). COMPAT_TEST_REMOTE_DIR names a folder
// whose files count as remote, for tests (nothing else makes a network file
// system here).
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
    const char* testDir = getenv("COMPAT_TEST_REMOTE_DIR");
    if (testDir && *testDir && strncmp(path, testDir, strlen(testDir)) == 0)
        return true;
    struct statfs sfs;
    if (statfs(path, &sfs) != 0)
        return false;
    for (unsigned long type : kRemote)
        if ((unsigned long)(unsigned)sfs.f_type == type)
            return true;
    return false;
}

// What a new file's entry starts with, learnt without the lock.
struct FirstLook {
    uint64_t mntId = 0;
    bool remote = false;
    int wd = -1;
    bool moved = false;  // the name led to another file once watched: the watch is not this file's
};

FirstLook LookAtNewFile(int inotifyFd, const char* path, const struct stat& st) {
    FirstLook l;
    l.mntId = MountIdOf(path, st);
    l.remote = OnNetworkFileSystem(path);
    // The watch comes before the first scan, so a writer that opens the file
    // after the scan has passed its process still shows.
    if (inotifyFd >= 0) {
        l.wd = inotify_add_watch(inotifyFd, path, kWatchMask);
        struct stat again;
        l.moved =
            l.wd >= 0 && (stat(path, &again) != 0 || again.st_dev != st.st_dev || again.st_ino != st.st_ino);
    }
    return l;
}

WatchedFile& AddFile(ProbeState& s, const FirstLook& l, const struct stat& st, int64_t birthNs, int64_t now) {
    ForgetStale(s, now);
    WatchedFile f;
    f.dev = st.st_dev;
    f.ino = st.st_ino;
    f.birthNs = birthNs;
    // What happened before the first probe shows only in the modification
    // time. On a local file system that time comes from this machine's
    // clock: a file changed within the idle time counts as being written.
    // On a network file system it comes from the server's, which may lag
    // ours by any amount (a live recording would look finished): there the
    // file counts as changing from its first look on, until the idle time
    // has passed without a change seen.
    f.remote = l.remote;
    f.lastChangeNs = f.remote ? now : now - AgeNs(st.st_mtim);
    f.size = st.st_size;
    f.mtime = st.st_mtim;
    f.mntId = l.mntId;
    f.wd = l.moved ? -1 : l.wd;
    s.files.push_back(f);
    return s.files.back();
}

// What a probe needs of a file's entry, copied under the lock.
struct Snapshot {
    ScanTarget t;
    bool watched;
    bool remote;
    bool writerHeld;
    pid_t writerPid;
    int writerFd;
    bool scanStands;
    bool scanWhole;
    uint64_t notes;
    pid_t lastWriterPid;
    unsigned long long lastWriterStart;
};

Snapshot Take(const WatchedFile& f) {
    return {{f.dev, f.ino, f.mntId},
            f.wd >= 0,
            f.remote,
            f.writerHeld,
            f.writerPid,
            f.writerFd,
            f.scanStands,
            f.scanWhole,
            f.notes,
            f.lastWriterPid,
            f.lastWriterStart};
}

// Reads the notifications and takes the file's entry, adding one for a file
// not probed before (its first look runs without the lock).
Snapshot Enter(ProbeState& s, const char* path, const struct stat& st, int64_t now) {
    const int64_t birthNs = BirthNs(path, st);
    int inotifyFd = -1;
    {
        std::lock_guard<std::mutex> g(s.lock);
        EnsureInotify(s);
        Drain(s, now);
        DropGone(s);
        if (WatchedFile* f = FindCurrent(s, st, birthNs)) {
            f->lastProbeNs = now;
            return Take(*f);
        }
        inotifyFd = s.inotifyFd;
    }
    const FirstLook l = LookAtNewFile(inotifyFd, path, st);
    std::lock_guard<std::mutex> g(s.lock);
    // Another probe may have added the file meanwhile: it keeps its watch,
    // or takes this one when it has none.
    WatchedFile* f = FindCurrent(s, st, birthNs);
    if (f && f->wd < 0 && !l.moved)
        f->wd = l.wd;
    if (l.wd >= 0 && (l.moved || (f && f->wd != l.wd)) && !FindByWatch(s, l.wd))
        inotify_rm_watch(s.inotifyFd, l.wd);  // a watch of another file, or one not needed
    if (!f)
        f = &AddFile(s, l, st, birthNs, now);
    f->lastProbeNs = now;
    return Take(*f);
}

// Runs fn on the file's entry under the lock; false when the entry has gone
// meanwhile (the file deleted, or forgotten for another).
template <class Fn>
bool WithFile(ProbeState& s, const ScanTarget& t, Fn fn) {
    std::lock_guard<std::mutex> g(s.lock);
    WatchedFile* f = FindFile(s, t.dev, t.ino);
    if (!f)
        return false;
    fn(*f);
    return true;
}

// Whether a process we may inspect writes the file: the writer seen last
// (a close-after-write came, or there is no watch: it may still hold the
// file through the same descriptor), else a scan unless the last one
// stands. *pWhole tells whether every process was inspected.
bool SeesWriter(ProbeState& s, const Snapshot& v, bool* pWhole) {
    *pWhole = v.scanWhole;
    if (v.writerHeld)
        return true;
    if (v.writerPid) {
        const bool writes = StillWrites(v.writerPid, v.writerFd, v.t);
        WithFile(s, v.t, [&](WatchedFile& f) {
            if (f.writerPid != v.writerPid || f.writerFd != v.writerFd)
                return;
            if (writes)
                f.writerHeld = v.watched && f.notes == v.notes;
            else
                f.writerPid = 0;
        });
        if (writes)
            return true;
    }
    if (v.scanStands)
        return false;
    const ScanResult r = ScanProcesses(v.t);
    unsigned long long start = 0;
    bool gone = false;
    if (r.found && !ReadProcessStart(r.pid, &start, &gone))
        start = 0;
    WithFile(s, v.t, [&](WatchedFile& f) {
        // Nothing opened or closed the file while the scan ran: what it
        // found holds until the next notification.
        const bool quiet = f.notes == v.notes;
        if (r.found) {
            f.writerPid = r.pid;
            f.writerFd = r.fd;
            f.writerHeld = v.watched && quiet;
            f.lastWriterPid = r.pid;
            f.lastWriterStart = start;
        } else {
            f.scanStands = v.watched && quiet;
            f.scanWhole = r.whole;
        }
    });
    *pWhole = r.whole;
    return r.found;
}

// The file rule, for writers no scan shows: a change within the idle time,
// and no close-after-write after it. `cur` is what stat says of the file
// now, taken after the notifications were read, so that a change they
// report is not taken for an unreported one next time.
bool StillChanging(ProbeState& s, WatchedFile& f, const struct stat& cur, int64_t now) {
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

// Whether the process of the writer a scan found last has ended (or its pid
// now belongs to another process).
bool LastWriterGone(const Snapshot& v) {
    if (!v.lastWriterPid)
        return false;
    unsigned long long startNow = 0;
    bool gone = false;
    const bool known = ReadProcessStart(v.lastWriterPid, &startNow, &gone);
    return gone || (known && v.lastWriterStart && startNow != v.lastWriterStart);
}

bool Decide(ProbeState& s, const Snapshot& v, const char* path, const struct stat& st, int64_t now) {
    bool whole = false;
    if (SeesWriter(s, v, &whole))
        return true;
    if (whole && !v.remote)
        return false;  // every process that can write it was inspected, and none writes
    struct stat cur;
    if (stat(path, &cur) != 0 || cur.st_dev != v.t.dev || cur.st_ino != v.t.ino)
        cur = st;
    bool changing = true;  // the entry gone meanwhile: the file itself cannot tell
    WithFile(s, v.t, [&](WatchedFile& f) { changing = StillChanging(s, f, cur, now); });
    // The writer we saw has ended and none holds the file now: the changes
    // the file shows were its own, even when its last close was taken for a
    // reader's visit (someone opened the file just before it).
    return changing && !LastWriterGone(v);
}

}  // namespace

bool WriterMayBeActive(const char* path, const struct stat& st) {
    ProbeState& s = State();
    const int64_t now = MonotonicNs();
    const Snapshot v = Enter(s, path, st, now);
    const bool active = Decide(s, v, path, st, now);
    WithFile(s, v.t, [](WatchedFile& f) { f.opensSinceProbe = 0; });
    return active;
}

bool WriterProcessExited(const char* path, const struct stat& st) {
    ProbeState& s = State();
    const Snapshot v = Enter(s, path, st, MonotonicNs());
    if (!LastWriterGone(v))
        return false;  // none seen, or it runs still, or its pid is another process's now
    // It has gone: the recording has ended unless another writer holds the
    // file now (or the one gone passed its open file on).
    bool whole = false;
    if (SeesWriter(s, v, &whole))
        return false;
    // Told once: a writer that comes later and no scan shows (another
    // user's, one on another machine) gets the grace of a close again.
    WithFile(s, v.t, [&](WatchedFile& f) {
        if (f.lastWriterPid == v.lastWriterPid)
            f.lastWriterPid = 0;
    });
    return true;
}

}  // namespace compat

extern "C" BOOL CompatWriterProcessExited(LPCSTR pszPath) {
    struct stat st;
    if (!pszPath || stat(pszPath, &st) != 0 || !S_ISREG(st.st_mode))
        return FALSE;
    return compat::WriterProcessExited(pszPath, st) ? TRUE : FALSE;
}

extern "C" void CompatSetWriterIdleTime(DWORD milliseconds) {
    compat::g_idleMs.store(milliseconds, std::memory_order_relaxed);
}
