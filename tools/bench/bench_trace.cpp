// What a trace costs when nobody listens: one level-8 message with a 64-bit
// argument converted to text, as the read path writes them. The argument is
// not even built then; the message costs the listener check.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"
#include "bench/Headlines.h"

namespace {

double g_nsDropped = 0;

void BM_TraceDropped(benchmark::State& state) {
    CHAR sz[CONV_BUFFER_SIZE];
    LONGLONG llPos = 1234567;
    int64_t n = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        DSTrace(TRACE_APP2, 8, "[FS] CCachedReadFile::CachedRead() - Position: %s\n", LL2Str(llPos, sz));
        llPos += 65536;
        ++n;
    }
    benchmark::DoNotOptimize(llPos);
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    if (n)
        g_nsDropped = ns / (double)n;
}
BENCHMARK(BM_TraceDropped)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const headlines::Options options = headlines::Parse(&argc, argv);
    benchmark::Initialize(&argc, argv);
    if (DSTraceListening()) {
        fprintf(stderr,
                "a debugger or a debug-output listener is attached: the figure would not be the "
                "dropped trace's\n");
        return 1;
    }
    std::vector<double> ns;
    for (int rep = 0; rep < options.repetitions; ++rep) {
        headlines::RunBenchmarks();
        ns.push_back(g_nsDropped);
    }
    benchmark::Shutdown();
    headlines::Print(options, "trace.dropped.ns", headlines::Median(ns), "%.1f");
    return 0;
}
