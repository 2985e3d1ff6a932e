// Sequential 64 KiB SyncRead through the output pin against plain positioned
// reads, on a page-cached file of 256 MiB made for the run; the block cache
// read directly is measured too, so the pin's own cost shows. The file is
// finished, so no read waits. Ends with the headline figure (throughput of
// the pin over plain reads).
#include <windows.h>

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "CoFileSourceOutput.h"
#include "bench/BenchFiles.h"
#include "bench/Headlines.h"

namespace {

const LONGLONG kFileSize = 256ll << 20;
const LONG kPiece = 64 * 1024;

std::string g_path;
std::map<std::string, double> g_mbps;  // benchmark name -> MB/s of its last run

// The filter that owns the pin: always running.
class CBenchFilter : public IUnknown, public _FilterStateBase, public CComObjectRootBase {
public:
    BEGIN_INTERFACE_TABLE(CBenchFilter)
    INTERFACE_ENTRY(IUnknown)
    END_INTERFACE_TABLE()

    void SetFilterState(FILTER_STATE eState) {
        CCritSecLock lock(m_csState);
        StoreState(eState);
    }
};

// The sequential loop over the file, one 64 KiB piece per iteration.
template <class Read>
void Loop(benchmark::State& state, const char* name, Read read) {
    const double mbps = benchfiles::TimedLoop(state, kPiece, read, benchfiles::Sequential{kFileSize, kPiece});
    if (mbps > 0)
        g_mbps[name] = mbps;
}

void BM_PlainSeq64k(benchmark::State& state) {
    HANDLE h = benchfiles::OpenPlain(g_path);
    Loop(state, "plain",
         [h](LONGLONG pos, BYTE* buf) { return benchfiles::PositionedRead(h, pos, buf, kPiece); });
    CloseHandle(h);
}

void BM_ReaderSeq64k(benchmark::State& state) {
    CCachedReadFile file;
    file.Init(PIN_BLOCK_SIZE, PIN_CACHE_SIZE);
    if (FAILED(file.OpenFile(g_path.c_str())))
        state.SkipWithError("open failed");
    Loop(state, "reader", [&file](LONGLONG pos, BYTE* buf) {
        LONG cb = 0;
        file.CachedRead(pos, kPiece, buf, &cb);
        return cb == kPiece;
    });
}

void BM_PinSeq64k(benchmark::State& state) {
    CComObject<CBenchFilter>* pFilter = NULL;
    CComObject<CFileSourceOutput>* pPin = NULL;
    if (FAILED(CComObject<CBenchFilter>::CreateObject(&pFilter)) ||
        FAILED(CreatePinInstance(&pPin, 0, "Output"))) {
        state.SkipWithError("no pin");
        return;
    }
    pPin->SetFilter(pFilter, NULL);
    pFilter->SetFilterState(State_Running);
    const std::wstring name(g_path.begin(), g_path.end());
    if (FAILED(pPin->SetFileName(name.c_str(), NULL)))
        state.SkipWithError("open failed");
    Loop(state, "pin", [pPin](LONGLONG pos, BYTE* buf) { return pPin->SyncRead(pos, kPiece, buf) == S_OK; });
    pPin->SetFilter(NULL, NULL);
    pPin->Release();
    pFilter->Release();
}

BENCHMARK(BM_PlainSeq64k)->UseRealTime();
BENCHMARK(BM_ReaderSeq64k)->UseRealTime();
BENCHMARK(BM_PinSeq64k)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const headlines::Options options = headlines::Parse(&argc, argv);
    const benchfiles::ScratchFile file("orvex-bench-pin-", "pin-256m.bin", kFileSize, 2);
    if (!file.Ok())
        return 1;
    g_path = file.Path();
    benchmark::Initialize(&argc, argv);
    std::vector<double> ratios;
    for (int rep = 0; rep < options.repetitions; ++rep) {
        headlines::RunBenchmarks();
        const double pin = g_mbps["pin"], reader = g_mbps["reader"], plain = g_mbps["plain"];
        const double ratio = plain > 0 ? pin / plain : 0;
        printf("pin, repetition %d: seq64k pin %.0f MB/s, reader alone %.0f MB/s, plain %.0f MB/s (%.2f)\n",
               rep + 1, pin, reader, plain, ratio);
        fflush(stdout);
        ratios.push_back(ratio);
    }
    benchmark::Shutdown();
    headlines::Print(options, "pin.seq64k.ratio_vs_" + options.baseline, headlines::Median(ratios));
    return 0;
}
