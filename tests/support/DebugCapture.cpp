#include "DebugCapture.h"

#include <gtest/gtest.h>

#include <mutex>

namespace testsupport {
namespace {

const size_t kMaxCapture = 8u << 20;

std::mutex g_lock;  // guards g_text and g_expect, and the scopes' reports
std::string g_text;
ExpectAsserts* g_expect = nullptr;  // innermost scope

bool IsAssertReport(const char* text) {
    return strncmp(text, "###Err###\n", 10) == 0;
}

}  // namespace

void OnDebugText(const char* text) {
    bool unexpected = false;
    {
        std::lock_guard<std::mutex> g(g_lock);
        if (g_text.size() > kMaxCapture)
            g_text.erase(0, g_text.size() - kMaxCapture / 2);
        g_text += text;
        if (IsAssertReport(text)) {
            if (g_expect)
                g_expect->m_reports.emplace_back(text);
            else
                unexpected = true;
        }
    }
    if (unexpected)
        ADD_FAILURE() << "unexpected assertion:\n" << text;
}

std::string DebugText() {
    std::lock_guard<std::mutex> g(g_lock);
    return g_text;
}

void ClearDebugText() {
    std::lock_guard<std::mutex> g(g_lock);
    g_text.clear();
}

ExpectAsserts::ExpectAsserts() {
    std::lock_guard<std::mutex> g(g_lock);
    m_outer = g_expect;
    g_expect = this;
}

ExpectAsserts::~ExpectAsserts() {
    std::lock_guard<std::mutex> g(g_lock);
    g_expect = m_outer;
}

size_t ExpectAsserts::Count() const {
    std::lock_guard<std::mutex> g(g_lock);
    return m_reports.size();
}

std::vector<std::string> ExpectAsserts::Reports() const {
    std::lock_guard<std::mutex> g(g_lock);
    return m_reports;
}

bool ExpectAsserts::Saw(const std::string& expression) const {
    const std::string needle = "ASSERT( \"" + expression + "\" )\n";
    std::lock_guard<std::mutex> g(g_lock);
    for (const std::string& r : m_reports)
        if (r.find(needle) != std::string::npos)
            return true;
    return false;
}

}  // namespace testsupport
