// The part of Google Benchmark's interface our benchmarks use, for the
// Windows build, where the library is not available. Each benchmark runs
// with a doubling iteration count until one run lasts at least the minimum
// time (0.5 s), and its last run is reported.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace benchmark {

class State {
public:
    explicit State(int64_t iterations) : m_max(iterations) {}

    // Not trivial, so that an unused loop variable draws no warning.
    struct Value {
        ~Value() {}
    };
    class Iterator {
    public:
        explicit Iterator(int64_t left) : m_left(left) {}
        Value operator*() const { return Value(); }
        Iterator& operator++() {
            --m_left;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return m_left != other.m_left && m_left > 0; }

    private:
        int64_t m_left;
    };
    Iterator begin() { return Iterator(m_error ? 0 : m_max); }
    Iterator end() { return Iterator(0); }

    int64_t iterations() const { return m_max; }
    void SetBytesProcessed(int64_t bytes) { m_bytes = bytes; }
    void SkipWithError(const char* message) {
        m_error = true;
        m_message = message;
    }

    int64_t m_max;
    int64_t m_bytes = 0;
    bool m_error = false;
    std::string m_message;
};

namespace internal {

typedef void (*Function)(State&);

class Benchmark {
public:
    Benchmark(const char* name, Function fn) : m_name(name), m_fn(fn) {}
    Benchmark* UseRealTime() { return this; }  // the harness measures real time anyway
    Benchmark* MinTime(double seconds) {
        m_minTime = seconds;
        return this;
    }

    std::string m_name;
    Function m_fn;
    double m_minTime = 0.5;
};

Benchmark* Register(const char* name, Function fn);

}  // namespace internal

template <class T>
inline void DoNotOptimize(T const& value) {
    asm volatile("" : : "r,m"(value) : "memory");
}

// The reporters: this harness writes its own table whatever is passed.
class BenchmarkReporter {
public:
    virtual ~BenchmarkReporter() {}
};
class ConsoleReporter : public BenchmarkReporter {
public:
    enum OutputOptions { OO_None = 0, OO_Color = 1, OO_Tabular = 2, OO_Defaults = OO_Color | OO_Tabular };
    explicit ConsoleReporter(OutputOptions = OO_Defaults) {}
};

void Initialize(int* argc, char** argv);
size_t RunSpecifiedBenchmarks();
inline size_t RunSpecifiedBenchmarks(BenchmarkReporter*) {
    return RunSpecifiedBenchmarks();
}
void Shutdown();

}  // namespace benchmark

#define BENCHMARK_CONCAT2(a, b) a##b
#define BENCHMARK_CONCAT(a, b) BENCHMARK_CONCAT2(a, b)
#define BENCHMARK(fn)                                                                   \
    static ::benchmark::internal::Benchmark* BENCHMARK_CONCAT(s_benchmark_, __LINE__) = \
        ::benchmark::internal::Register(#fn, fn)
