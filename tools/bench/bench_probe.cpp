// What the read path's writer probe costs: an open for reading that refuses
// others' writes, which fails with a sharing violation while another handle
// may write the file. The read path asks it every 500 ms while a read waits
// for growth.
//   probe.us           a file this process appends to between probes, as a
//                      recorder does while the reader waits (the headline);
//   probe.first.us     the first probe of a file nobody writes;
//   probe.finished.us  a later probe of that file (the open succeeds).
// The writer is this process itself (a C run-time stream), so the program
// needs no helper and runs the same under Wine.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <stdio.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/Headlines.h"

namespace {

namespace fs = std::filesystem;

fs::path g_dir;
// Every file a probe meets for the first time gets a name of its own: the
// benchmarks run several times, and a file written again within the idle
// time rightly counts as being written.
int64_t g_nextFile = 0;
std::string NewFileName(const char* stem) {
    return (g_dir / (stem + std::to_string(g_nextFile++) + ".bin")).string();
}
std::map<std::string, double> g_usPerProbe;  // benchmark -> µs per probe of its last run

// The probe's answer: the open's error code, ERROR_SUCCESS when it opened.
DWORD Probe(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(h);
    return ERROR_SUCCESS;
}

// A file nobody writes is dated back: where some process cannot be
// inspected, a file changed within the last seconds counts as being written.
bool Backdate(const std::string& path) {
    std::error_code ec;
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1), ec);
    return !ec;
}

// Times one probe per iteration; between the probes, `between` runs untimed.
template <class Between>
void TimeProbes(benchmark::State& state, const char* name, const std::string& path, DWORD expected,
                Between between) {
    using Clock = std::chrono::steady_clock;
    Clock::duration spent{};
    int64_t n = 0;
    for (auto _ : state) {
        if (!between()) {
            state.SkipWithError("the file could not be prepared");
            return;
        }
        const auto start = Clock::now();
        const DWORD dw = Probe(path);
        spent += Clock::now() - start;
        if (dw != expected) {
            state.SkipWithError("the probe gave an unexpected answer");
            return;
        }
        ++n;
    }
    if (n)
        g_usPerProbe[name] = std::chrono::duration<double, std::micro>(spent).count() / (double)n;
}

void BM_ProbeWhileWritten(benchmark::State& state) {
    const std::string path = (g_dir / "written.bin").string();
    FILE* f = fopen(path.c_str(), "ab");
    if (!f) {
        state.SkipWithError("cannot write the file");
        return;
    }
    static const char kChunk[188] = {0x47};
    TimeProbes(state, "written", path, ERROR_SHARING_VIOLATION,
               [&] { return fwrite(kChunk, sizeof(kChunk), 1, f) == 1 && fflush(f) == 0; });
    fclose(f);
}
BENCHMARK(BM_ProbeWhileWritten)->UseRealTime();

void BM_ProbeFirst(benchmark::State& state) {
    std::string path;
    using Clock = std::chrono::steady_clock;
    Clock::duration spent{};
    int64_t n = 0;
    for (auto _ : state) {
        std::error_code ec;
        fs::remove(path, ec);
        path = NewFileName("first-");
        FILE* f = fopen(path.c_str(), "wb");
        if (!f || fclose(f) != 0 || !Backdate(path)) {
            state.SkipWithError("cannot write the file");
            return;
        }
        const auto start = Clock::now();
        const DWORD dw = Probe(path);
        spent += Clock::now() - start;
        if (dw != ERROR_SUCCESS) {
            state.SkipWithError("the probe gave an unexpected answer");
            return;
        }
        ++n;
    }
    std::error_code ec;
    fs::remove(path, ec);
    if (n)
        g_usPerProbe["first"] = std::chrono::duration<double, std::micro>(spent).count() / (double)n;
}
BENCHMARK(BM_ProbeFirst)->UseRealTime();

void BM_ProbeFinished(benchmark::State& state) {
    const std::string path = NewFileName("finished-");
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite("x", 1, 1, f) != 1 || fclose(f) != 0 || !Backdate(path)) {
        state.SkipWithError("cannot write the file");
        return;
    }
    TimeProbes(state, "finished", path, ERROR_SUCCESS, [] { return true; });
    std::error_code ec;
    fs::remove(path, ec);
}
BENCHMARK(BM_ProbeFinished)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const headlines::Options options = headlines::Parse(&argc, argv);
    std::error_code ec;
    g_dir = fs::temp_directory_path() / ("orvex-bench-probe-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(g_dir, ec);
    // The cost of a scan of the processes grows with the open descriptors.
    size_t nProcesses = 0, nDescriptors = 0;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] < '0' || name[0] > '9')
            continue;
        ++nProcesses;
        std::error_code ecFd;
        for (fs::directory_iterator fd(it->path() / "fd", ecFd), fdEnd; !ecFd && fd != fdEnd;
             fd.increment(ecFd))
            ++nDescriptors;
    }
    if (nProcesses)
        printf("probe: %zu processes with %zu open descriptors on the machine\n", nProcesses, nDescriptors);
    benchmark::Initialize(&argc, argv);
    std::vector<double> written, first, finished;
    for (int rep = 0; rep < options.repetitions; ++rep) {
        headlines::RunBenchmarks();
        printf("probe, repetition %d: while written %.2f us, first %.2f us, finished %.2f us\n", rep + 1,
               g_usPerProbe["written"], g_usPerProbe["first"], g_usPerProbe["finished"]);
        fflush(stdout);
        written.push_back(g_usPerProbe["written"]);
        first.push_back(g_usPerProbe["first"]);
        finished.push_back(g_usPerProbe["finished"]);
    }
    benchmark::Shutdown();
    fs::remove_all(g_dir, ec);
    headlines::Print(options, "probe.us", headlines::Median(written));
    headlines::Print(options, "probe.first.us", headlines::Median(first));
    headlines::Print(options, "probe.finished.us", headlines::Median(finished));
    return 0;
}
