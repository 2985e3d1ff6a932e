#include <windows.h>

#include "TempDir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> s_counter{0};
    std::random_device rd;
    for (;;) {
        fs::path p = fs::temp_directory_path() /
                     ("orvex-test-" + std::to_string(rd()) + "-" + std::to_string(s_counter++));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            m_path = p.string();
            m_path += fs::path::preferred_separator;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
    std::string path = File(name);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), (std::streamsize)bytes.size());
    }
    Backdate(path);
    return path;
}

void Backdate(const std::string& path) {
    std::error_code ec;
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1), ec);
}

bool CopyFileTo(const std::string& from, const std::string& to) {
    std::error_code ec;
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

unsigned long ProbeForWriter(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(h);
    return ERROR_SUCCESS;
}

unsigned long ProbeUntil(const std::function<unsigned long()>& probe, unsigned long want, unsigned ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    unsigned long answer = probe();
    while (answer != want && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        answer = probe();
    }
    return answer;
}

}  // namespace testsupport
