// A stand-in for the outside log library, for tests. It records what the
// component hands it: in memory (LogStub_Events) and, when LOGSTUB_FILE names
// a file, appended to that file, one event per line.
//
// LogStub_SetMode chooses a misbehaviour: "fail" (the export returns 1),
// "throw" (Connect throws), "keep" (Disconnect leaves the holder's pointer set).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <stdexcept>
#include <string>

#include "DShowX/DSTrace.h"

namespace {

std::mutex g_lock;     // guards g_events and g_mode
std::string g_events;  // "connect\n", "write <n> <text>\n", "disconnect\n"
std::string g_mode;

void Record(const std::string& event) {
    std::lock_guard<std::mutex> g(g_lock);
    g_events += event;
    g_events += '\n';
    if (const char* path = getenv("LOGSTUB_FILE")) {
        if (FILE* f = fopen(path, "ab")) {
            fprintf(f, "%s\n", event.c_str());
            fclose(f);
        }
    }
}

std::string Mode() {
    std::lock_guard<std::mutex> g(g_lock);
    return g_mode;
}

class CLogStub : public ILogObject {
public:
    LONG STDMETHODCALLTYPE Reserved0() override { return 0; }
    LONG STDMETHODCALLTYPE Reserved1() override { return 0; }
    LONG STDMETHODCALLTYPE Reserved2() override { return 0; }
    LONG STDMETHODCALLTYPE Reserved3() override { return 0; }
    LONG STDMETHODCALLTYPE Reserved4() override { return 0; }
    LONG STDMETHODCALLTYPE Write(ULONG cchText, LPCSTR pszText) override {
        Record("write " + std::to_string(cchText) + " " + std::string(pszText ? pszText : "(null)"));
        return 0;
    }
    LONG STDMETHODCALLTYPE Reserved6() override { return 0; }
    LONG STDMETHODCALLTYPE Connect(ILogObject** ppHolder, DWORD_PTR a, DWORD_PTR b) override {
        Record(std::string("connect ") + (ppHolder && *ppHolder == this ? "holder" : "other") + " " +
               std::to_string(a) + " " + std::to_string(b));
        if (Mode() == "throw")
            throw std::runtime_error("log stub: Connect fails");
        return 0;
    }
    LONG STDMETHODCALLTYPE Disconnect(ILogObject** ppHolder) override {
        Record("disconnect");
        if (ppHolder && Mode() != "keep")
            *ppHolder = NULL;
        return 0;
    }
};

CLogStub g_stub;

}  // namespace

extern "C" {

int __cdecl Exp_GetLogObject(ILogObject** ppLog) {
    Record("export");
    if (Mode() == "fail")
        return 1;
    *ppLog = &g_stub;
    return 0;
}

void __cdecl LogStub_SetMode(const char* pszMode) {
    std::lock_guard<std::mutex> g(g_lock);
    g_mode = pszMode ? pszMode : "";
}

// Copies the events recorded so far (terminated, cut to cbBuffer) and clears them.
int __cdecl LogStub_TakeEvents(char* pszBuffer, int cbBuffer) {
    std::lock_guard<std::mutex> g(g_lock);
    int n = (int)g_events.size();
    if (pszBuffer && cbBuffer > 0) {
        int m = n < cbBuffer - 1 ? n : cbBuffer - 1;
        memcpy(pszBuffer, g_events.data(), m);
        pszBuffer[m] = 0;
    }
    g_events.clear();
    return n;
}

}  // extern "C"
