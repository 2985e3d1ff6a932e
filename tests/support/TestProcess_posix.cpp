#include "TestProcess.h"

#include <windows.h>
#include <compat/compat.h>

#include "RegistrySandbox.h"

#include <signal.h>
#include <stdlib.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <climits>

extern char** environ;

namespace testsupport {

std::string ProgramDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return "./";
    buf[n] = 0;
    std::string path(buf);
    return path.substr(0, path.rfind('/') + 1);
}

TestPipe::TestPipe(const std::string& dir) : m_name(dir + "pipe") {
    mkfifo(m_name.c_str(), 0600);
}

TestPipe::~TestPipe() {
    (void)m_hServer;  // a FIFO has no server end
    unlink(m_name.c_str());
}

std::string NullDeviceName() {
    return "/dev/null";
}

bool LimitRegistryChanges(long n) {
    CompatSetRegistryChangeBudget(n);
    return true;
}

bool SetRegistryWritable(bool bWritable) {
    CompatSetRegistryWritable(bWritable ? TRUE : FALSE);
    return true;
}

std::string HelperPath(const std::string& name) {
    return ProgramDir() + name;
}

std::string ModuleFile(const std::string& base) {
    return base + ".so";
}

bool HasMediaRuntime() {
    return false;
}

bool ExceptionsCrossModules() {
    return true;
}

std::string GetEnvVar(const std::string& name) {
    const char* v = getenv(name.c_str());
    return v ? v : "";
}

void SetEnvVar(const std::string& name, const std::string& value) {
    if (value.empty())
        unsetenv(name.c_str());
    else
        setenv(name.c_str(), value.c_str(), 1);
}

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                         const std::string& workingDir) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // An extra entry replaces an inherited one of the same name (the C
    // library takes the first of two).
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool bReplaced = false;
        for (const std::string& x : extraEnv)
            bReplaced = bReplaced || x.compare(0, name.size(), name) == 0;
        if (!bReplaced)
            env.push_back(entry);
    }
    for (const std::string& e : extraEnv)
        env.push_back(e);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    pid_t pid;
    int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0)
        return false;
    m_id = pid;
    m_running = true;
    return true;
}

int ChildProcess::Wait(unsigned milliseconds) {
    if (!m_running)
        return -1;
    for (unsigned waited = 0;; waited += 5) {
        int status = 0;
        pid_t r = waitpid((pid_t)m_id, &status, WNOHANG);
        if (r == (pid_t)m_id) {
            m_running = false;
            if (WIFEXITED(status))
                return WEXITSTATUS(status);
            return 128 + WTERMSIG(status);
        }
        if (waited >= milliseconds)
            return -1;
        struct timespec ts = {0, 5 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
}

void ChildProcess::Kill() {
    if (!m_running)
        return;
    kill((pid_t)m_id, SIGKILL);
    int status;
    waitpid((pid_t)m_id, &status, 0);
    m_running = false;
}

}  // namespace testsupport
