#include <windows.h>

#include "TestProcess.h"

#include "RegistrySandbox.h"

namespace testsupport {

std::string ProgramDir() {
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, buf, MAX_PATH);
    std::string path(buf, n);
    return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string HelperPath(const std::string& name) {
    return ProgramDir() + name + ".exe";
}

std::string ModuleFile(const std::string& base) {
    return base + ".dll";
}

TestPipe::TestPipe(const std::string&) {
    static LONG s_nPipes = 0;
    m_name = "\\\\.\\pipe\\orvex-test-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(InterlockedIncrement(&s_nPipes));
    m_hServer = CreateNamedPipeA(m_name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 4, 4096,
                                 4096, 0, NULL);
}

TestPipe::~TestPipe() {
    if (m_hServer && m_hServer != INVALID_HANDLE_VALUE)
        CloseHandle(m_hServer);
}

std::string NullDeviceName() {
    return "NUL";
}

bool LimitRegistryChanges(long) {
    return false;
}

bool SetRegistryWritable(bool) {
    return false;
}

bool HasMediaRuntime() {
    return true;
}

bool ExceptionsCrossModules() {
    // x86_64 unwinds through the system's tables of every module.
    return sizeof(void*) == 8;
}

std::string GetEnvVar(const std::string& name) {
    char buf[4096];
    const DWORD n = GetEnvironmentVariableA(name.c_str(), buf, sizeof(buf));
    return n > 0 && n < sizeof(buf) ? std::string(buf, n) : std::string();
}

void SetEnvVar(const std::string& name, const std::string& value) {
    SetEnvironmentVariableA(name.c_str(), value.empty() ? NULL : value.c_str());
}

ChildProcess::~ChildProcess() {
    Kill();
}

static std::string Quote(const std::string& a) {
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos)
        return a;
    std::string q = "\"";
    for (char c : a) {
        if (c == '"')
            q += '\\';
        q += c;
    }
    return q + "\"";
}

bool ChildProcess::Start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                         const std::string& workingDir) {
    std::string cmd;
    for (const std::string& a : args)
        cmd += (cmd.empty() ? "" : " ") + Quote(a);
    // The child inherits this process's environment with the extra entries.
    std::string block;
    if (!extraEnv.empty()) {
        LPCH env = GetEnvironmentStringsA();
        for (LPCH p = env; *p; p += strlen(p) + 1)
            block.append(p, strlen(p) + 1);
        FreeEnvironmentStringsA(env);
        for (const std::string& e : extraEnv)
            block.append(e.c_str(), e.size() + 1);
        block.push_back('\0');
    }
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(args[0].c_str(), &cmd[0], NULL, NULL, FALSE, 0, block.empty() ? NULL : &block[0],
                        workingDir.empty() ? NULL : workingDir.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    m_id = (long long)(INT_PTR)pi.hProcess;
    m_running = true;
    return true;
}

int ChildProcess::Wait(unsigned milliseconds) {
    if (!m_running)
        return -1;
    HANDLE h = (HANDLE)(INT_PTR)m_id;
    if (WaitForSingleObject(h, milliseconds) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(h, &code);
    CloseHandle(h);
    m_running = false;
    return (int)code;
}

void ChildProcess::Kill() {
    if (!m_running)
        return;
    HANDLE h = (HANDLE)(INT_PTR)m_id;
    TerminateProcess(h, 1);
    WaitForSingleObject(h, 10000);
    CloseHandle(h);
    m_running = false;
}

}  // namespace testsupport
