// The writer probe behind the sharing rule on Linux: writers the probe may
// inspect are seen exactly; a writer of another user, or on a network file
// system, is judged from the file (close-after-write notifications, changes
// seen, and on a local file system the modification time); a writer whose
// process has ended is told from one that closed the file and lives on.
#include <windows.h>
#include <compat/compat.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "TestProcess.h"
#include "WinAPI/WriterProcess.h"

extern char** environ;

namespace {

using testsupport::ProbeForWriter;
using testsupport::ProbeUntil;
using testsupport::TempDir;
using Clock = std::chrono::steady_clock;

const unsigned long kAnswerLost = 99999;

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A file last changed an hour ago.
std::string OldFile(const TempDir& dir, const char* name, mode_t mode) {
    const std::string path = dir.Write(name, std::string(1000, 'x'));
    chmod(path.c_str(), mode);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - 3600, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    return path;
}

const std::vector<std::string> kNobody = {"--reuid=65534", "--regid=65534", "--clear-groups"};
// Root that may not trace other users' processes: it may list their
// descriptors, but neither follow nor read them.
const std::vector<std::string> kNoTrace = {"--bounding-set=-sys_ptrace", "--inh-caps=-sys_ptrace"};

// The probe in a process run by setpriv with the arguments given, which may
// not inspect this root process's descriptors; it answers requests through
// pipes.
class ProbeAs {
public:
    ProbeAs(const TempDir& dir, const std::string& file, const std::vector<std::string>& setpriv = kNobody) {
        // A copy in the temporary folder: the build tree may be closed to nobody.
        const std::string exe = dir.File("writerprobe");
        chmod(dir.Path().c_str(), 0755);
        if (!testsupport::CopyFileTo(testsupport::HelperPath("writerprobe"), exe) || chmod(exe.c_str(), 0755))
            return;
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC))
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<const char*> argv = {"setpriv"};
        for (const std::string& a : setpriv)
            argv.push_back(a.c_str());
        argv.insert(argv.end(), {exe.c_str(), file.c_str(), nullptr});
        if (posix_spawnp(&m_pid, argv[0], &actions, nullptr, const_cast<char**>(argv.data()), environ) != 0)
            m_pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        m_to = fdopen(in[1], "w");
        m_from = fdopen(out[0], "r");
    }
    ~ProbeAs() {
        if (m_to)
            fclose(m_to);  // the helper ends at the end of its input
        if (m_from)
            fclose(m_from);
        if (m_pid)
            waitpid(m_pid, nullptr, 0);
    }
    std::string Ask(const std::string& request) {
        char line[64];
        if (!m_to || !m_from || fprintf(m_to, "%s\n", request.c_str()) < 0 || fflush(m_to) ||
            !fgets(line, sizeof(line), m_from))
            return "";
        return std::string(line, strcspn(line, "\n"));
    }
    unsigned long Probe() {
        const std::string answer = Ask("probe");
        return answer.empty() ? kAnswerLost : strtoul(answer.c_str(), nullptr, 10);
    }

private:
    pid_t m_pid = 0;
    FILE* m_to = nullptr;
    FILE* m_from = nullptr;
};

#define SKIP_UNLESS_ROOT() \
    if (geteuid() != 0)    \
    GTEST_SKIP() << "needs root, to run the probe as another user"

// A recorder of another user appends to the file; it is followed through a
// pause shorter than the idle time and ends with its close. The reader may
// not write the file: finished reads as an access denial, as on Windows, but
// an active writer as a sharing violation. A recorder that then opens the
// file for a chunk and closes it after, with no look in between (a reader
// looks only once the file stops growing), ends that chunk with its own
// close: its open is not a visitor's.
TEST(UnseenWriter, IsFollowedThroughPausesUntilItClosesTheFile) {
    SKIP_UNLESS_ROOT();
    TempDir dir;
    const std::string path = OldFile(dir, "rec.mpg", 0644);
    ProbeAs probe(dir, path);
    EXPECT_EQ((unsigned long)ERROR_ACCESS_DENIED, probe.Probe());

    const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    const std::string chunk(2048, 'r');
    ASSERT_EQ((ssize_t)chunk.size(), write(fd, chunk.data(), chunk.size()));
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, probe.Probe());
    SleepMs(3000);  // the default idle time is longer
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, probe.Probe());
    ASSERT_EQ((ssize_t)chunk.size(), write(fd, chunk.data(), chunk.size()));
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, probe.Probe());
    close(fd);
    EXPECT_EQ((unsigned long)ERROR_ACCESS_DENIED, probe.Probe());

    for (int i = 0; i < 2; ++i) {
        const int chunkFd = open(path.c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(chunkFd, 0);
        ASSERT_EQ((ssize_t)chunk.size(), write(chunkFd, chunk.data(), chunk.size()));
        close(chunkFd);
        EXPECT_EQ((unsigned long)ERROR_ACCESS_DENIED, probe.Probe()) << "after chunk " << i;
    }
}

// A file the reader may not even read can carry no watch: only its
// modification time tells, and the writing ends after the idle time. A
// writer the reader may inspect counts whatever the idle time.
TEST(UnseenWriter, WithoutNotificationsEndsAfterTheIdleTime) {
    SKIP_UNLESS_ROOT();
    TempDir dir;
    const std::string path = OldFile(dir, "rec.mpg", 0600);
    ProbeAs probe(dir, path);
    ASSERT_EQ("ok", probe.Ask("idle 1000"));
    EXPECT_EQ((unsigned long)ERROR_ACCESS_DENIED, probe.Probe());

    const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    Clock::time_point lastWrite;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(100, write(fd, std::string(100, 'r').data(), 100));
        lastWrite = Clock::now();
        EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, probe.Probe()) << "write " << i;
        SleepMs(300);
    }
    unsigned long answer = ERROR_SHARING_VIOLATION;
    while (answer == ERROR_SHARING_VIOLATION && Clock::now() - lastWrite < std::chrono::seconds(5)) {
        SleepMs(50);
        answer = probe.Probe();
    }
    const auto still = Clock::now() - lastWrite;
    EXPECT_EQ((unsigned long)ERROR_ACCESS_DENIED, answer);
    EXPECT_GE(still, std::chrono::milliseconds(1000));
    EXPECT_LT(still, std::chrono::milliseconds(2500));
    close(fd);

    // A writer of nobody's own, idle far longer than the idle time.
    ASSERT_EQ(0, chown(path.c_str(), 65534, 65534));
    ASSERT_EQ("ok", probe.Ask("idle 1"));
    testsupport::ChildProcess holder;
    ASSERT_TRUE(holder.Start({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                              "/bin/sh", "-c", "exec 3>>\"$0\"; exec sleep 1.5", path}));
    answer = ProbeUntil([&] { return probe.Probe(); }, ERROR_SHARING_VIOLATION, 2000);
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, answer);
    EXPECT_EQ(0, holder.Wait(5000));
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, probe.Probe());
}

// A recording deleted and made again under its name gets the same inode
// number at once. Where the reader could not watch the first (it may not
// read it), nothing told its end: what was known of it must not make the
// new one look written.
TEST(UnseenWriter, ANewFileWithADeletedOnesInodeNumberIsNotTakenForIt) {
    SKIP_UNLESS_ROOT();
    TempDir dir;
    const std::string path = OldFile(dir, "rec.mpg", 0600);
    ProbeAs probe(dir, path);
    EXPECT_EQ((unsigned long)ERROR_ACCESS_DENIED, probe.Probe());
    struct stat before, after;
    ASSERT_EQ(0, stat(path.c_str(), &before));
    ASSERT_EQ(0, unlink(path.c_str()));
    ASSERT_EQ(path, dir.Write("rec.mpg", std::string(3000, 'y')));  // dated back an hour
    ASSERT_EQ(0, stat(path.c_str(), &after));
    if (after.st_ino != before.st_ino)
        GTEST_SKIP() << "the file system gave the new file another inode number";
    EXPECT_EQ((unsigned long)ERROR_ACCESS_DENIED, probe.Probe());
}

// Root without the right to trace lists the descriptors of another user's
// recorder but cannot tell what they hold: that writer is unseen, not
// absent, and the file's own signs decide until its close.
TEST(UnseenWriter, ADescriptorThatCannotBeReadHidesAWriter) {
    SKIP_UNLESS_ROOT();
    TempDir dir;
    const std::string path = OldFile(dir, "rec.mpg", 0644);
    ASSERT_EQ(0, chown(path.c_str(), 65534, 65534));
    ProbeAs probe(dir, path, kNoTrace);
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, probe.Probe());
    testsupport::ChildProcess writer;
    ASSERT_TRUE(writer.Start({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                              "/bin/sh", "-c", "exec 3>>\"$0\"; printf x >&3; exec sleep 1.5", path}));
    const unsigned long answer = ProbeUntil([&] { return probe.Probe(); }, ERROR_SHARING_VIOLATION, 1000);
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, answer);
    EXPECT_EQ(0, writer.Wait(5000));
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, probe.Probe());
}

// The open file a writer found holds may pass to a child; the file is being
// written until its last holder closes it, whoever that is.
TEST(SharingRule, AnInheritedWriterHoldsTheFileUntilItsLastHolderCloses) {
    TempDir dir;
    const std::string path = dir.Write("rec.mpg", "x");
    testsupport::ChildProcess sh;
    ASSERT_TRUE(sh.Start({"/bin/sh", "-c", "exec 3>>\"$0\"; sleep 1.5 & sleep 0.5", path}));
    const auto probe = [&] { return ProbeForWriter(path); };
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, ProbeUntil(probe, ERROR_SHARING_VIOLATION, 1000));
    EXPECT_EQ(0, sh.Wait(5000));
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, ProbeForWriter(path));
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, ProbeUntil(probe, ERROR_SUCCESS, 5000));
}

// Threads of one process share what the probe has learnt of a file.
TEST(SharingRule, ThreadsProbeTogether) {
    TempDir dir;
    const std::string path = dir.Write("rec.mpg", "x");
    std::atomic<int> wrong{0};
    auto probeAll = [&](unsigned long expected) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 25; ++i)
                    wrong += ProbeForWriter(path) != expected;
            });
        for (std::thread& t : threads)
            t.join();
    };
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    probeAll(ERROR_SHARING_VIOLATION);
    close(fd);
    probeAll(ERROR_SUCCESS);
    EXPECT_EQ(0, wrong.load());
}

// Files of one folder taken for a network file system's, and an idle time,
// for as long as it lives.
class RemoteFolder {
public:
    RemoteFolder(const TempDir& dir, DWORD idleMs) {
        testsupport::SetEnvVar("COMPAT_TEST_REMOTE_DIR", dir.Path());
        CompatSetWriterIdleTime(idleMs);
    }
    ~RemoteFolder() {
        testsupport::SetEnvVar("COMPAT_TEST_REMOTE_DIR", "");
        CompatSetWriterIdleTime(COMPAT_WRITER_IDLE_DEFAULT);
    }
};

// Another machine writes the file, stamping it with a clock an hour behind
// ours: the file is judged by the changes seen, never by the distance of its
// time to ours. Seen first, it counts as changing until the idle time has
// passed without a change; a change seen later counts again, however old
// the time it carries.
TEST(NetworkFileSystem, FilesAreJudgedByChangesSeenNotByTheirClock) {
    TempDir dir;
    RemoteFolder remote(dir, 1000);
    const std::string path = OldFile(dir, "rec.mpg", 0644);
    const auto probe = [&] { return ProbeForWriter(path); };
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, ProbeForWriter(path)) << "first look";
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, ProbeUntil(probe, ERROR_SUCCESS, 5000));

    // Grown by the server, dated an hour back (no descriptor here).
    ASSERT_EQ(0, truncate(path.c_str(), 5000));
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - 3600, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, ProbeForWriter(path)) << "after a change";
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, ProbeUntil(probe, ERROR_SUCCESS, 5000));
}

// Waits until a child process has made the file, as a sign that it has come
// that far.
void AwaitSign(const std::string& path) {
    for (int i = 0; i < 500 && access(path.c_str(), F_OK) != 0; ++i)
        SleepMs(10);
}

// The last writer's process: it ended (the recording is over), or it closed
// the file and runs on (it may open it again), or another writer holds the
// file now. Each writer makes a sign once it holds the file, and the probe
// looks then.
TEST(WriterProcess, AnEndedWriterIsToldFromOneThatClosedAndLivesOn) {
    TempDir dir;
    const std::string path = dir.Write("rec.mpg", "x");
    EXPECT_FALSE(HasWriterProcessExited(path.c_str())) << "no writer seen yet";

    // Writes, holds the file half a second (the sleep does not inherit the
    // descriptor), and ends.
    testsupport::ChildProcess writer;
    ASSERT_TRUE(writer.Start(
        {"/bin/sh", "-c", "exec 3>>\"$0\"; printf x >&3; : >\"$1\"; sleep 0.5 3>&-", path, dir.File("w1")}));
    AwaitSign(dir.File("w1"));
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, ProbeForWriter(path));
    EXPECT_FALSE(HasWriterProcessExited(path.c_str())) << "while it writes";
    EXPECT_EQ(0, writer.Wait(5000));
    EXPECT_TRUE(HasWriterProcessExited(path.c_str())) << "its process has ended";

    // A reader opens the file just before the next writer's last close, which
    // then looks like the end of that reader's visit; the writer's end still
    // ends the writing.
    testsupport::ChildProcess visited;
    ASSERT_TRUE(visited.Start(
        {"/bin/sh", "-c", "exec 3>>\"$0\"; printf x >&3; : >\"$1\"; sleep 0.5 3>&-", path, dir.File("w1b")}));
    AwaitSign(dir.File("w1b"));
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, ProbeForWriter(path));
    close(open(path.c_str(), O_RDONLY));
    EXPECT_EQ(0, visited.Wait(5000));
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, ProbeForWriter(path)) << "the writer has ended";

    // Another writer holds the file now.
    testsupport::ChildProcess holder;
    ASSERT_TRUE(
        holder.Start({"/bin/sh", "-c", "exec 3>>\"$0\"; : >\"$1\"; exec sleep 30", path, dir.File("w2")}));
    AwaitSign(dir.File("w2"));
    EXPECT_FALSE(HasWriterProcessExited(path.c_str())) << "a new writer holds it";
    holder.Kill();

    // Closes the file and lives on, in the same process.
    testsupport::ChildProcess closer;
    ASSERT_TRUE(
        closer.Start({"/bin/sh", "-c",
                      "exec 3>>\"$0\"; printf x >&3; : >\"$1\"; sleep 0.5 3>&-; exec 3>&-; : >\"$2\"; "
                      "exec sleep 30",
                      path, dir.File("w3"), dir.File("w3-closed")}));
    AwaitSign(dir.File("w3"));
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, ProbeForWriter(path));
    AwaitSign(dir.File("w3-closed"));
    EXPECT_FALSE(HasWriterProcessExited(path.c_str())) << "closed, and running";
    closer.Kill();
    EXPECT_TRUE(HasWriterProcessExited(path.c_str())) << "closed, and ended since";
    // Told once: a writer that comes later and no scan shows gets a close's
    // grace, not an end at its first pause.
    EXPECT_FALSE(HasWriterProcessExited(path.c_str())) << "told already";
}

}  // namespace
