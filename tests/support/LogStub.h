// The stand-in log library the build puts beside the test program (log.dll,
// natively log.so), loaded for a test so that its mode and its record of
// events survive the holders that load and free it.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

class LogStub {
public:
    LogStub();   // loads the stand-in and clears its record
    ~LogStub();  // restores the normal mode
    LogStub(const LogStub&) = delete;
    LogStub& operator=(const LogStub&) = delete;

    bool Loaded() const { return m_setMode && m_take; }
    // "fail", "throw", "keep" or "" (see tests/helpers/logstub.cpp).
    void SetMode(const char* mode) { m_setMode(mode); }
    // The events recorded since the last call, one per line.
    std::string Take();

private:
    HMODULE m_h = NULL;
    void(__cdecl* m_setMode)(const char*) = nullptr;
    int(__cdecl* m_take)(char*, int) = nullptr;
};

}  // namespace testsupport
