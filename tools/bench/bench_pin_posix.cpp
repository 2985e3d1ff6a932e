// Sequential 64 KiB SyncRead through the output pin against plain positioned
// reads, on a page-cached file of 256 MiB made for the run; the block cache
// read directly is measured too, so the pin's own cost shows. The file is
// finished, so no read waits. Ends with the headline figure (throughput of
// the pin over plain reads).
#include <windows.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "CoFileSourceOutput.h"
#include "bench/Headlines.h"
#include "recorder/RecorderContent.h"

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
};

// The sequential loop over the file, one 64 KiB piece per iteration, timed
// by the wall clock (the cache works on a second thread too).
template <class Read>
void Loop(benchmark::State& state, const char* name, Read read) {
    std::vector<BYTE> buf(kPiece);
    long long bytes = 0;
    LONGLONG pos = -kPiece;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        pos = (pos + kPiece) % kFileSize;
        if (!read(pos, buf.data()))
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(buf.data());
        bytes += kPiece;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetBytesProcessed(bytes);
    if (s > 0)
        g_mbps[name] = (double)bytes / s / 1e6;
}

void BM_PlainSeq64k(benchmark::State& state) {
    HANDLE h = CreateFileA(g_path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    Loop(state, "plain", [h](LONGLONG pos, BYTE* buf) {
        OVERLAPPED ov = {};
        ov.Offset = (DWORD)pos;
        ov.OffsetHigh = (DWORD)((ULONGLONG)pos >> 32);
        DWORD cb = 0;
        return ReadFile(h, buf, kPiece, &cb, &ov) && cb == (DWORD)kPiece;
    });
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
    pFilter->StoreState(State_Running);
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

// Writes the file and reads it once, so that it sits in the page cache.
bool MakeFile(const std::string& path) {
    std::vector<uint8_t> chunk(4 << 20);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (LONGLONG pos = 0; pos < kFileSize; pos += (LONGLONG)chunk.size()) {
            recorder::FillContent(2, (uint64_t)pos, chunk.data(), chunk.size());
            out.write((const char*)chunk.data(), (std::streamsize)chunk.size());
        }
        if (!out)
            return false;
    }
    std::ifstream in(path, std::ios::binary);
    while (in.read((char*)chunk.data(), (std::streamsize)chunk.size())) {
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const headlines::Options options = headlines::Parse(&argc, argv);
    std::error_code ec;
    const fs::path dir =
        fs::temp_directory_path() / ("orvex-bench-pin-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir, ec);
    g_path = (dir / "pin-256m.bin").string();
    if (!MakeFile(g_path)) {
        fprintf(stderr, "cannot write %s\n", g_path.c_str());
        fs::remove_all(dir, ec);
        return 1;
    }
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
    fs::remove_all(dir, ec);
    headlines::Print(options, "pin.seq64k.ratio_vs_" + options.baseline, headlines::Median(ratios));
    return 0;
}
