// Child processes and helper programs for tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// The full path of a helper program built beside the test program.
std::string HelperPath(const std::string& name);
// The directory of the running test program, with a trailing separator.
std::string ProgramDir();
// The file name of a module built beside the tests: "log" is log.dll on
// Windows and log.so natively (where LoadLibraryA("log.dll") finds log.so).
std::string ModuleFile(const std::string& base);
// The component's module, loaded on the first call and kept until the
// process ends (NULL when it cannot be loaded). Natively the component
// carries its own copy of the platform layer, whose process-wide tables an
// unload would leave behind as leaks: tests that call into the component's
// exports share this one load and never unload it.
HMODULE ComponentModule();

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // kills a child that still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts args[0] with the arguments; extraEnv entries ("NAME=value") are
    // added to the inherited environment; workingDir, when not empty, is the
    // child's current directory.
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {},
               const std::string& workingDir = std::string());
    // The exit code, or -1 when the child did not end within the time.
    int Wait(unsigned milliseconds);
    void Kill();
    bool Running() const { return m_running; }

private:
    bool m_running = false;
    long long m_id = 0;  // pid, or the process handle's value
};

// Runs a program to its end and returns its exit code (-1: did not start or
// did not end within the time).
int RunProcess(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {},
               const std::string& workingDir = std::string(), unsigned milliseconds = 60000);

// True where the platform's media runtime exists (Windows, and Wine): the
// filter graph and filter mapper. The Linux build has none.
bool HasMediaRuntime();

// True when a C++ exception thrown in one module can be caught in another.
// Not on 32-bit Windows: there each module built with a static run-time
// unwinds through its own DWARF tables and cannot see the other's frames.
bool ExceptionsCrossModules();

// A named pipe that no one writes to, with a server end held while it
// lives (Windows), or a FIFO in the directory (Linux): opening and reading
// it as a file would block.
class TestPipe {
public:
    explicit TestPipe(const std::string& dir);
    ~TestPipe();
    TestPipe(const TestPipe&) = delete;
    TestPipe& operator=(const TestPipe&) = delete;
    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    void* m_hServer = nullptr;
};

// The name of the platform's null device ("NUL", "/dev/null").
std::string NullDeviceName();

// The process's environment variable, or "" when it is not set.
std::string GetEnvVar(const std::string& name);
// Sets a variable of the process's environment; an empty value removes it.
void SetEnvVar(const std::string& name, const std::string& value);

}  // namespace testsupport
