#include <stdio.h>

#include <chrono>
#include <memory>

#include "benchmark/benchmark.h"

namespace benchmark {
namespace {

std::vector<std::unique_ptr<internal::Benchmark>>& Registry() {
    static std::vector<std::unique_ptr<internal::Benchmark>> s;
    return s;
}

}  // namespace

internal::Benchmark* internal::Register(const char* name, Function fn) {
    Registry().emplace_back(new Benchmark(name, fn));
    return Registry().back().get();
}

void Initialize(int*, char**) {}
void Shutdown() {}

size_t RunSpecifiedBenchmarks() {
    printf("%-24s %14s %12s %14s\n", "Benchmark", "Time/iter", "Iterations", "Throughput");
    for (const auto& b : Registry()) {
        for (int64_t n = 1;; n *= 2) {
            State state(n);
            const auto start = std::chrono::steady_clock::now();
            b->m_fn(state);
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (state.m_error) {
                printf("%-24s ERROR: %s\n", b->m_name.c_str(), state.m_message.c_str());
                break;
            }
            if (s >= b->m_minTime || n >= (int64_t(1) << 40)) {
                printf("%-24s %11.0f ns %12lld %9.1f MB/s\n", b->m_name.c_str(), s * 1e9 / (double)n,
                       (long long)n, s > 0 ? (double)state.m_bytes / s / 1e6 : 0.0);
                break;
            }
        }
        fflush(stdout);
    }
    return Registry().size();
}

}  // namespace benchmark
