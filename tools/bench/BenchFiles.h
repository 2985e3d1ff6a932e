// What the file benchmarks share: a file of the recorder's content made for
// the run and left in the page cache, plain positioned reads as the
// baseline, and the timed loop that pulls fixed-size pieces through a reader.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "recorder/RecorderContent.h"

namespace benchfiles {

// Writes SIZE bytes of the recorder's content for SEED and reads them once,
// so that the file sits in the page cache.
inline bool MakePageCachedFile(const std::string& path, LONGLONG size, uint64_t seed) {
    std::vector<uint8_t> chunk(4 << 20);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (LONGLONG pos = 0; pos < size; pos += (LONGLONG)chunk.size()) {
            recorder::FillContent(seed, (uint64_t)pos, chunk.data(), chunk.size());
            out.write((const char*)chunk.data(), (std::streamsize)chunk.size());
        }
        if (!out)
            return false;
    }
    std::ifstream in(path, std::ios::binary);
    while (in.read((char*)chunk.data(), (std::streamsize)chunk.size())) {
    }
    // A finished file, long ago: a writer probe that cannot inspect every
    // process (on Linux) takes a recent change for a writer at work, and a
    // read near the end would wait for it.
    std::error_code ec;
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1), ec);
    return true;
}

// A page-cached file of the recorder's content in a directory of the run's
// own, which goes with the object.
class ScratchFile {
public:
    ScratchFile(const char* prefix, const char* name, LONGLONG size, uint64_t seed)
        : m_dir(std::filesystem::temp_directory_path() / (prefix + std::to_string(GetCurrentProcessId()))) {
        std::error_code ec;
        std::filesystem::create_directories(m_dir, ec);
        m_path = (m_dir / name).string();
        m_ok = MakePageCachedFile(m_path, size, seed);
        if (!m_ok)
            fprintf(stderr, "cannot write %s\n", m_path.c_str());
    }
    ~ScratchFile() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    bool Ok() const { return m_ok; }
    const std::string& Path() const { return m_path; }

private:
    std::filesystem::path m_dir;
    std::string m_path;
    bool m_ok = false;
};

inline HANDLE OpenPlain(const std::string& path) {
    return CreateFileA(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       0, NULL);
}

// The baseline: one positioned read of exactly LEN bytes.
inline bool PositionedRead(HANDLE h, LONGLONG pos, BYTE* buf, LONG len) {
    OVERLAPPED ov = {};
    ov.Offset = (DWORD)pos;
    ov.OffsetHigh = (DWORD)((ULONGLONG)pos >> 32);
    DWORD cb = 0;
    return ReadFile(h, buf, (DWORD)len, &cb, &ov) && cb == (DWORD)len;
}

// Sequential offsets through the whole file, starting again at its end.
struct Sequential {
    LONGLONG fileSize;
    LONGLONG piece;
    LONGLONG pos = -piece;
    LONGLONG operator()() { return pos = (pos + piece) % fileSize; }
};

// The measured loop: one piece per iteration, at the offsets next() gives,
// through read(). Timed by the wall clock, since a cache works on a second
// thread too; returns MB/s (0 when the run took no measurable time).
template <class Read, class Next>
double TimedLoop(benchmark::State& state, LONG piece, Read read, Next next) {
    std::vector<BYTE> buf((size_t)piece);
    long long bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!read(next(), buf.data()))
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(buf.data());
        bytes += piece;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetBytesProcessed(bytes);
    return s > 0 ? (double)bytes / s / 1e6 : 0;
}

}  // namespace benchfiles
