// The block cache against plain positioned reads, on a page-cached file of
// 512 MiB made for the run:
//   - sequential 64 KiB pieces through the whole file;
//   - random 64 KiB pieces inside a 16 MiB window (cache hits). The window is
//     the file's last 16 MiB, so the read-ahead thread, which runs up to two
//     thirds of the cache ahead of a read, cannot fill the slots with blocks
//     outside it.
// Both sides read through the platform's file API, the plain side with one
// positioned ReadFile per piece. Ends with the headline figures (ratios of
// throughput, cache over plain).
#include <windows.h>

#include <benchmark/benchmark.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "Reader/FileRead.h"
#include "bench/BenchFiles.h"
#include "bench/Headlines.h"

namespace {

const LONGLONG kFileSize = 512ll << 20;
const LONG kPiece = 64 * 1024;
const LONGLONG kWindow = 16ll << 20;

std::string g_path;
std::map<std::string, double> g_mbps;  // benchmark name -> MB/s of its last run

bool CachedReadPiece(CCachedReadFile& file, LONGLONG pos, BYTE* buf) {
    LONG cb = 0;
    file.CachedRead(pos, kPiece, buf, &cb);
    return cb == kPiece;
}

// The measured loop: one 64 KiB piece per iteration, at the offsets next()
// gives, through read().
template <class Read, class Next>
void Loop(benchmark::State& state, const char* name, Read read, Next next) {
    const double mbps = benchfiles::TimedLoop(state, kPiece, read, next);
    if (mbps > 0)
        g_mbps[name] = mbps;
}

struct Sequential : benchfiles::Sequential {
    Sequential() : benchfiles::Sequential{kFileSize, kPiece} {}
};

// Random offsets inside the window; the same ones for both sides.
struct InWindow {
    std::mt19937_64 rng{7};
    LONGLONG operator()() {
        return kFileSize - kWindow + (LONGLONG)(rng() % (uint64_t)(kWindow - kPiece + 1));
    }
};

template <class Next>
void PlainLoop(benchmark::State& state, const char* name) {
    HANDLE h = benchfiles::OpenPlain(g_path);
    Loop(
        state, name, [h](LONGLONG pos, BYTE* buf) { return benchfiles::PositionedRead(h, pos, buf, kPiece); },
        Next());
    CloseHandle(h);
}

template <class Next>
void CachedLoop(benchmark::State& state, const char* name, bool bFillWindow) {
    CCachedReadFile file;
    file.Init(0x60000, 0x1400000);
    if (FAILED(file.OpenFile(g_path.c_str())))
        state.SkipWithError("open failed");
    if (bFillWindow) {
        // The figure is for hits: the window goes into the cache first.
        std::vector<BYTE> buf(kPiece);
        for (LONGLONG pos = kFileSize - kWindow; pos < kFileSize; pos += kPiece)
            CachedReadPiece(file, pos, buf.data());
    }
    Loop(
        state, name, [&file](LONGLONG pos, BYTE* buf) { return CachedReadPiece(file, pos, buf); }, Next());
}

void BM_PlainSeq64k(benchmark::State& state) {
    PlainLoop<Sequential>(state, "plain_seq");
}
void BM_CachedSeq64k(benchmark::State& state) {
    CachedLoop<Sequential>(state, "cached_seq", false);
}
void BM_PlainRand64k(benchmark::State& state) {
    PlainLoop<InWindow>(state, "plain_rand");
}
void BM_CachedRand64k(benchmark::State& state) {
    CachedLoop<InWindow>(state, "cached_rand", true);
}

BENCHMARK(BM_PlainSeq64k)->UseRealTime();
BENCHMARK(BM_CachedSeq64k)->UseRealTime();
BENCHMARK(BM_PlainRand64k)->UseRealTime();
BENCHMARK(BM_CachedRand64k)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const headlines::Options options = headlines::Parse(&argc, argv);
    const benchfiles::ScratchFile file("orvex-bench-", "reader-512m.bin", kFileSize, 1);
    if (!file.Ok())
        return 1;
    g_path = file.Path();
    benchmark::Initialize(&argc, argv);
    std::vector<double> seq, rnd;
    for (int rep = 0; rep < options.repetitions; ++rep) {
        headlines::RunBenchmarks();
        const double s = g_mbps["plain_seq"] > 0 ? g_mbps["cached_seq"] / g_mbps["plain_seq"] : 0;
        const double r = g_mbps["plain_rand"] > 0 ? g_mbps["cached_rand"] / g_mbps["plain_rand"] : 0;
        printf(
            "reader, repetition %d: seq64k cached %.0f MB/s, plain %.0f MB/s (%.2f); rand64k_hits cached "
            "%.0f "
            "MB/s, plain %.0f MB/s (%.2f)\n",
            rep + 1, g_mbps["cached_seq"], g_mbps["plain_seq"], s, g_mbps["cached_rand"],
            g_mbps["plain_rand"], r);
        fflush(stdout);
        seq.push_back(s);
        rnd.push_back(r);
    }
    benchmark::Shutdown();

    headlines::Print(options, "reader.seq64k.ratio_vs_" + options.baseline, headlines::Median(seq));
    headlines::Print(options, "reader.rand64k_hits.ratio_vs_" + options.baseline, headlines::Median(rnd));
    return 0;
}
