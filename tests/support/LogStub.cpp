#include "LogStub.h"

#include <vector>

#include "TestProcess.h"

namespace testsupport {

LogStub::LogStub() {
    m_h = LoadLibraryA((ProgramDir() + "log.dll").c_str());
    if (!m_h)
        return;
    m_setMode = reinterpret_cast<void(__cdecl*)(const char*)>(
        reinterpret_cast<void (*)()>(GetProcAddress(m_h, "LogStub_SetMode")));
    m_take = reinterpret_cast<int(__cdecl*)(char*, int)>(
        reinterpret_cast<void (*)()>(GetProcAddress(m_h, "LogStub_TakeEvents")));
    Take();
}

LogStub::~LogStub() {
    if (m_setMode)
        m_setMode("");
    if (m_h)
        FreeLibrary(m_h);
}

std::string LogStub::Take() {
    if (!m_take)
        return "";
    std::vector<char> buf(1 << 20);
    m_take(buf.data(), (int)buf.size());
    return buf.data();
}

}  // namespace testsupport
