// GetBuffer + final Release cycles of the library's memory allocator, on one
// thread and on two threads sharing one allocator. Each benchmark times its
// own loop, so the program uses only the part of Google Benchmark's interface
// that the Windows build's stand-in offers too.
#include <windows.h>
#include <dshow.h>

#include <benchmark/benchmark.h>

#include <stdio.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "DShowX/DSAllocators.h"
#include "bench/Headlines.h"

namespace {

std::map<std::string, double> g_nsPerCycle;  // benchmark -> ns per cycle of its last run

IMemAllocator* MakeAllocator(LONG cBuffers) {
    IMemAllocator* pAlloc = NULL;
    if (FAILED(CreateMemoryAllocator(&pAlloc)))
        return NULL;
    ALLOCATOR_PROPERTIES req = {cBuffers, 65536, 16, 0}, act;
    if (FAILED(pAlloc->SetProperties(&req, &act)) || FAILED(pAlloc->Commit())) {
        pAlloc->Release();
        return NULL;
    }
    return pAlloc;
}

void FreeAllocator(IMemAllocator* pAlloc) {
    if (!pAlloc)
        return;
    pAlloc->Decommit();
    pAlloc->Release();
}

// n cycles; false when a buffer could not be had.
bool Cycles(IMemAllocator* pAlloc, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        IMediaSample* pSample = NULL;
        if (pAlloc->GetBuffer(&pSample, NULL, NULL, 0) != S_OK)
            return false;
        benchmark::DoNotOptimize(pSample);
        pSample->Release();
    }
    return true;
}

// The second thread cycles until told to stop, counting its cycles.
struct CyclesArgs {
    IMemAllocator* pAlloc;
    std::atomic<bool> bStop;
    int64_t n;
    bool bOk;
};

DWORD WINAPI CyclesThread(LPVOID pv) {
    CyclesArgs* args = static_cast<CyclesArgs*>(pv);
    while (!args->bStop.load(std::memory_order_relaxed)) {
        if (!Cycles(args->pAlloc, 1)) {
            args->bOk = false;
            break;
        }
        ++args->n;
    }
    return 0;
}

void BM_AllocatorCycle(benchmark::State& state) {
    IMemAllocator* pAlloc = MakeAllocator(4);
    if (!pAlloc) {
        state.SkipWithError("no allocator");
        return;
    }
    int64_t n = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!Cycles(pAlloc, 1)) {
            state.SkipWithError("GetBuffer failed");
            break;
        }
        ++n;
    }
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    if (n)
        g_nsPerCycle["one"] = ns / (double)n;
    FreeAllocator(pAlloc);
}
BENCHMARK(BM_AllocatorCycle);

// Two threads on one allocator with as many buffers as threads: the cost of
// the shared lock, without waiting for buffers. Reported as wall-clock time
// per cycle of all threads together.
void BM_AllocatorCycleTwoThreads(benchmark::State& state) {
    IMemAllocator* pAlloc = MakeAllocator(2);
    if (!pAlloc) {
        state.SkipWithError("no allocator");
        return;
    }
    CyclesArgs other;
    other.pAlloc = pAlloc;
    other.bStop = false;
    other.n = 0;
    other.bOk = true;
    const auto start = std::chrono::steady_clock::now();
    HANDLE hThread = CreateThread(NULL, 0, CyclesThread, &other, 0, NULL);
    bool bOk = true;
    int64_t n = 0;
    for (auto _ : state) {
        if (!Cycles(pAlloc, 1)) {
            bOk = false;
            break;
        }
        ++n;
    }
    other.bStop = true;
    if (hThread) {
        WaitForSingleObject(hThread, INFINITE);
        CloseHandle(hThread);
    }
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    if (!bOk || !other.bOk || !hThread)
        state.SkipWithError("GetBuffer failed");
    else if (n + other.n)
        g_nsPerCycle["two"] = ns / (double)(n + other.n);
    FreeAllocator(pAlloc);
}
BENCHMARK(BM_AllocatorCycleTwoThreads)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const headlines::Options options = headlines::Parse(&argc, argv);
    benchmark::Initialize(&argc, argv);
    std::vector<double> one;
    for (int rep = 0; rep < options.repetitions; ++rep) {
        headlines::RunBenchmarks();
        printf("allocator cycle: one thread %.1f ns, two threads %.1f ns per cycle (wall clock)\n",
               g_nsPerCycle["one"], g_nsPerCycle["two"]);
        one.push_back(g_nsPerCycle["one"]);
    }
    benchmark::Shutdown();
    headlines::Print(options, "allocator.cycle.ns", headlines::Median(one), "%.1f");
    return 0;
}
