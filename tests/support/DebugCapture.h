// Captures the process's debugger output for tests, so that traces never go
// to the console and assertion reports can be checked. An assertion report
// that no ExpectAsserts scope is waiting for fails the running test.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Installs the platform's hook; called once by the test main.
void InstallDebugCapture();

// Called by the platform hook for every debugger-output text.
void OnDebugText(const char* text);

// While an instance lives, the trace facility finds nobody listening: its
// process-local switch is off and, on Linux, the platform layer's sink (which
// counts as a listener there) is removed, so nothing is captured there.
class NoDebugListener {
public:
    NoDebugListener();
    ~NoDebugListener();
    NoDebugListener(const NoDebugListener&) = delete;
    NoDebugListener& operator=(const NoDebugListener&) = delete;
};

// Windows: lets debugger output pass the capture on to the system (a
// debug-output listener of the session receives it); true while set.
void SetDebugCapturePassThrough(bool bPass);

// Everything captured since the last ClearDebugText (bounded: very long runs
// keep the most recent megabytes).
std::string DebugText();
void ClearDebugText();

// While an instance lives, assertion reports are collected instead of failing
// the test. Scopes may nest; the innermost collects.
class ExpectAsserts {
public:
    ExpectAsserts();
    ~ExpectAsserts();
    ExpectAsserts(const ExpectAsserts&) = delete;
    ExpectAsserts& operator=(const ExpectAsserts&) = delete;

    size_t Count() const;
    std::vector<std::string> Reports() const;
    // True when one report's expression is exactly this text.
    bool Saw(const std::string& expression) const;

private:
    ExpectAsserts* m_outer;
    std::vector<std::string> m_reports;  // guarded by the capture's lock
    friend void OnDebugText(const char* text);
};

}  // namespace testsupport
