// The headline lines of the benchmark programs ("name: value"), and the
// options that shape them, taken out of the command line before the
// benchmark library reads it:
//   --headline-prefix=P  put P before every name ("wine." for the runs under
//                        Wine, whose figures are the product's);
//   --baseline=NAME      the plain baseline's name in ratio headlines
//                        ("pread" natively, "readfile" under Wine);
//   --repetitions=N      measure N times and report the median (under Wine
//                        figures move with the core the Wine server lands on).
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace headlines {

struct Options {
    std::string prefix;
    std::string baseline = "pread";
    int repetitions = 1;
};

inline Options Parse(int* argc, char** argv) {
    Options o;
    int out = 1;
    for (int i = 1; i < *argc; ++i) {
        const char* a = argv[i];
        if (strncmp(a, "--headline-prefix=", 18) == 0)
            o.prefix = a + 18;
        else if (strncmp(a, "--baseline=", 11) == 0)
            o.baseline = a + 11;
        else if (strncmp(a, "--repetitions=", 14) == 0)
            o.repetitions = std::max(1, atoi(a + 14));
        else
            argv[out++] = argv[i];
    }
    *argc = out;
    argv[out] = nullptr;
    return o;
}

// Runs every registered benchmark once more. Each run gets a console
// reporter of its own: the library's default one (Google Benchmark 1.7)
// crashes on a second run when the output is not a terminal, as under
// make bench.
inline void RunBenchmarks() {
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
}

inline double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline void Print(const Options& o, const std::string& name, double value, const char* format = "%.2f") {
    printf("%s%s: ", o.prefix.c_str(), name.c_str());
    printf(format, value);
    printf("\n");
    fflush(stdout);
}

}  // namespace headlines
