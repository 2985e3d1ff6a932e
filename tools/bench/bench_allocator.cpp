// GetBuffer + final Release cycles of the library's memory allocator, on one
// thread and on two threads sharing one allocator.
#include <windows.h>
#include <dshow.h>

#include <benchmark/benchmark.h>

#include <stdio.h>

#include "DShowX/DSAllocators.h"

namespace {

IMemAllocator* MakeAllocator(LONG cBuffers) {
    IMemAllocator* pAlloc = NULL;
    if (FAILED(CreateMemoryAllocator(&pAlloc)))
        return NULL;
    ALLOCATOR_PROPERTIES req = {cBuffers, 65536, 16, 0}, act;
    pAlloc->SetProperties(&req, &act);
    pAlloc->Commit();
    return pAlloc;
}

void Cycle(benchmark::State& state, IMemAllocator* pAlloc) {
    for (auto _ : state) {
        IMediaSample* pSample = NULL;
        if (pAlloc->GetBuffer(&pSample, NULL, NULL, 0) != S_OK) {
            state.SkipWithError("GetBuffer failed");
            break;
        }
        benchmark::DoNotOptimize(pSample);
        pSample->Release();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_AllocatorCycle(benchmark::State& state) {
    IMemAllocator* pAlloc = MakeAllocator(4);
    Cycle(state, pAlloc);
    pAlloc->Decommit();
    pAlloc->Release();
}
BENCHMARK(BM_AllocatorCycle);

// Two threads on one allocator with as many buffers as threads: the cost of
// the shared lock, without waiting for buffers. Made before any benchmark
// runs, so both threads find it.
IMemAllocator* g_pShared = NULL;
void BM_AllocatorCycleShared(benchmark::State& state) {
    Cycle(state, g_pShared);
}
BENCHMARK(BM_AllocatorCycleShared)->Threads(2)->UseRealTime();

// Collects the single-thread figure for the headline line.
class HeadlineReporter : public benchmark::ConsoleReporter {
public:
    // Without colours: their escape codes would precede the headline line.
    HeadlineReporter() : ConsoleReporter(OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.benchmark_name() == "BM_AllocatorCycle" && run.iterations > 0)
                m_dCycleNs = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double m_dCycleNs = 0;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    g_pShared = MakeAllocator(2);
    HeadlineReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    g_pShared->Decommit();
    g_pShared->Release();
    benchmark::Shutdown();
    printf("allocator.cycle.ns: %.1f\n", reporter.m_dCycleNs);
    return 0;
}
