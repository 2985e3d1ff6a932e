// Sequential 64 KiB SyncRead on a page-cached file of 256 MiB made for the
// run, three ways in one process: through the component's output pin (the
// filter created by CoCreateInstance, added to a filter graph and loaded; its
// pin's IAsyncReader), through the platform's own "File Source (Async.)" in
// the same way, and a plain positioned ReadFile loop. Under Wine these are
// the product's figures. The file is finished, so no read waits.
//
// Then the same pieces asked for as a splitter's pull pin asks in its
// asynchronous mode, through both pins: four requests in flight (Request),
// the oldest waited for (WaitForNext) and its sample asked for again at the
// next piece, on samples of an allocator agreed with the pin
// (RequestAllocator, the platform's memory allocator preferred).
//
// The component is not registered: the program loads the DLL beside it and
// registers its class object for this process only (CoRegisterClassObject),
// so CoCreateInstance finds it and the machine's registry stays as it was.
//
// Ends with the headline figures: the pin's throughput over ReadFile's and
// over the platform reader's, and its queued throughput over the platform
// reader's (the median of the repetitions).
#include <windows.h>
#include <dshow.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "IOrvexFileSource.h"
#include "bench/BenchFiles.h"
#include "bench/Headlines.h"

namespace {

const LONGLONG kFileSize = 256ll << 20;
const LONG kPiece = 64 * 1024;
const int kInFlight = 4;

std::string g_path;
std::map<std::string, double> g_mbps;  // benchmark name -> MB/s of its last run
IAsyncReader* g_pin = nullptr;         // the component's pin
IAsyncReader* g_platform = nullptr;    // the platform reader's pin
IMemAllocator* g_pinAlloc = nullptr;   // the allocators agreed with each pin
IMemAllocator* g_platformAlloc = nullptr;
HANDLE g_file = INVALID_HANDLE_VALUE;

// The sequential loop over the file, one 64 KiB piece per iteration.
template <class Read>
void Loop(benchmark::State& state, const char* name, Read read) {
    const double mbps = benchfiles::TimedLoop(state, kPiece, read, benchfiles::Sequential{kFileSize, kPiece});
    if (mbps > 0)
        g_mbps[name] = mbps;
}

void BM_ReadFileSeq64k(benchmark::State& state) {
    Loop(state, "readfile",
         [](LONGLONG pos, BYTE* buf) { return benchfiles::PositionedRead(g_file, pos, buf, kPiece); });
}

void BM_PlatformReaderSeq64k(benchmark::State& state) {
    Loop(state, "platform",
         [](LONGLONG pos, BYTE* buf) { return g_platform->SyncRead(pos, kPiece, buf) == S_OK; });
}

void BM_PinSeq64k(benchmark::State& state) {
    Loop(state, "pin", [](LONGLONG pos, BYTE* buf) { return g_pin->SyncRead(pos, kPiece, buf) == S_OK; });
}

// kInFlight requests always queued: each piece that comes back is asked
// for again at the next position. Timed by the wall clock; MB/s.
void QueuedLoop(benchmark::State& state, const char* name, IAsyncReader* reader, IMemAllocator* alloc) {
    benchfiles::Sequential next{kFileSize, kPiece};
    int inFlight = 0;
    auto ask = [&](IMediaSample* sample) {
        const LONGLONG pos = next();
        REFERENCE_TIME start = pos * 10000000, stop = (pos + kPiece) * 10000000;
        sample->SetTime(&start, &stop);
        const bool asked = reader->Request(sample, (DWORD_PTR)pos) == S_OK;
        inFlight += asked;
        return asked;
    };
    auto back = [&](DWORD_PTR* user) {
        IMediaSample* sample = nullptr;
        const HRESULT hr = reader->WaitForNext(INFINITE, &sample, user);
        inFlight -= sample != nullptr;
        return hr == S_OK ? sample : nullptr;
    };
    std::vector<IMediaSample*> samples;
    bool ok = true;
    for (int i = 0; i < kInFlight && ok; ++i) {
        IMediaSample* sample = nullptr;
        ok = alloc->GetBuffer(&sample, nullptr, nullptr, 0) == S_OK;
        if (ok) {
            samples.push_back(sample);
            ok = ask(sample);
        }
    }
    long long bytes = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        DWORD_PTR user = 0;
        IMediaSample* sample = ok ? back(&user) : nullptr;
        if (!sample || !ask(sample)) {
            ok = false;
            state.SkipWithError("request failed");
            break;
        }
        bytes += kPiece;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // What is still in flight comes back (the file is finished: nothing
    // waits) before the samples go.
    for (int tries = 0; inFlight > 0 && tries < 4 * kInFlight; ++tries) {
        DWORD_PTR user = 0;
        back(&user);
    }
    for (IMediaSample* sample : samples)
        sample->Release();
    state.SetBytesProcessed(bytes);
    if (ok && s > 0)
        g_mbps[name] = (double)bytes / s / 1e6;
}

void BM_PlatformReaderQueued64k(benchmark::State& state) {
    QueuedLoop(state, "platform_queued", g_platform, g_platformAlloc);
}

void BM_PinQueued64k(benchmark::State& state) {
    QueuedLoop(state, "pin_queued", g_pin, g_pinAlloc);
}

BENCHMARK(BM_ReadFileSeq64k)->UseRealTime();
BENCHMARK(BM_PlatformReaderSeq64k)->UseRealTime();
BENCHMARK(BM_PinSeq64k)->UseRealTime();
BENCHMARK(BM_PlatformReaderQueued64k)->UseRealTime();
BENCHMARK(BM_PinQueued64k)->UseRealTime();

// A source filter of the class in a graph, loaded with the file: its output
// pin's IAsyncReader.
HRESULT LoadedReader(IGraphBuilder* graph, REFCLSID clsid, const WCHAR* name, const std::wstring& path,
                     IAsyncReader** reader) {
    IBaseFilter* filter = nullptr;
    IFileSourceFilter* load = nullptr;
    IEnumPins* pins = nullptr;
    IPin* pin = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void**)&filter);
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(filter, name);
    if (SUCCEEDED(hr))
        hr = filter->QueryInterface(IID_IFileSourceFilter, (void**)&load);
    if (SUCCEEDED(hr))
        hr = load->Load(path.c_str(), nullptr);
    if (SUCCEEDED(hr))
        hr = filter->EnumPins(&pins);
    if (SUCCEEDED(hr))
        hr = pins->Next(1, &pin, nullptr) == S_OK ? S_OK : VFW_E_NOT_FOUND;
    if (SUCCEEDED(hr))
        hr = pin->QueryInterface(IID_IAsyncReader, (void**)reader);
    if (pin)
        pin->Release();
    if (pins)
        pins->Release();
    if (load)
        load->Release();
    if (filter)
        filter->Release();  // the graph holds it
    return hr;
}

// An allocator for queued reads through the pin: the platform's memory
// allocator offered, the one the pin agrees committed.
HRESULT AgreedAllocator(IAsyncReader* reader, IMemAllocator** agreed) {
    IMemAllocator* preferred = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  (void**)&preferred);
    ALLOCATOR_PROPERTIES props = {kInFlight * 2, kPiece, 1, 0};
    if (SUCCEEDED(hr))
        hr = reader->RequestAllocator(preferred, &props, agreed);
    if (SUCCEEDED(hr))
        hr = (*agreed)->Commit();
    if (preferred)
        preferred->Release();
    return hr;
}

// The component's class object, registered for this process from the DLL
// beside the program.
HRESULT RegisterComponent(HMODULE* module, DWORD* cookie) {
    CHAR exe[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    if (!n || n >= MAX_PATH)
        return E_FAIL;
    std::string dll(exe, n);
    dll = dll.substr(0, dll.find_last_of("\\/") + 1) + "OrvexFileSource.dll";
    *module = LoadLibraryA(dll.c_str());
    if (!*module)
        return HRESULT_FROM_WIN32(GetLastError());
    typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void**);
    const GetClassObjectFn get = (GetClassObjectFn)(void*)GetProcAddress(*module, "DllGetClassObject");
    IClassFactory* factory = nullptr;
    HRESULT hr = get ? get(CLSID_CoFileSource, IID_IClassFactory, (void**)&factory) : E_NOINTERFACE;
    if (SUCCEEDED(hr)) {
        hr = CoRegisterClassObject(CLSID_CoFileSource, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                   cookie);
        factory->Release();
    }
    return hr;
}

}  // namespace

int main(int argc, char** argv) {
    const headlines::Options options = headlines::Parse(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    const benchfiles::ScratchFile file("orvex-bench-pin-", "pin-256m.bin", kFileSize, 2);
    if (!file.Ok())
        return 1;
    g_path = file.Path();
    const std::wstring path(g_path.begin(), g_path.end());

    HMODULE module = nullptr;
    DWORD cookie = 0;
    IGraphBuilder* graph = nullptr;
    HRESULT hr = RegisterComponent(&module, &cookie);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              (void**)&graph);
    if (SUCCEEDED(hr))
        hr = LoadedReader(graph, CLSID_CoFileSource, L"Component", path, &g_pin);
    if (SUCCEEDED(hr))
        hr = LoadedReader(graph, CLSID_AsyncReader, L"Platform reader", path, &g_platform);
    if (SUCCEEDED(hr))
        hr = AgreedAllocator(g_pin, &g_pinAlloc);
    if (SUCCEEDED(hr))
        hr = AgreedAllocator(g_platform, &g_platformAlloc);
    g_file = benchfiles::OpenPlain(g_path);
    int rc = 0;
    if (FAILED(hr) || g_file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "pin benchmark: setup failed: 0x%08lX\n", (unsigned long)hr);
        rc = 1;
    } else {
        benchmark::Initialize(&argc, argv);
        std::vector<double> vsReadFile, vsPlatform, queuedVsPlatform;
        for (int rep = 0; rep < options.repetitions; ++rep) {
            g_mbps.clear();
            headlines::RunBenchmarks();
            const double pin = g_mbps["pin"], platform = g_mbps["platform"], plain = g_mbps["readfile"];
            const double pinQueued = g_mbps["pin_queued"], platformQueued = g_mbps["platform_queued"];
            printf(
                "pin, repetition %d: seq64k pin %.0f MB/s, platform reader %.0f MB/s, ReadFile %.0f MB/s; "
                "async64k pin %.0f MB/s, platform reader %.0f MB/s\n",
                rep + 1, pin, platform, plain, pinQueued, platformQueued);
            fflush(stdout);
            vsReadFile.push_back(plain > 0 ? pin / plain : 0);
            vsPlatform.push_back(platform > 0 ? pin / platform : 0);
            queuedVsPlatform.push_back(platformQueued > 0 ? pinQueued / platformQueued : 0);
        }
        benchmark::Shutdown();
        headlines::Print(options, "pin.seq64k.ratio_vs_" + options.baseline, headlines::Median(vsReadFile));
        headlines::Print(options, "pin.seq64k.ratio_vs_wine_async", headlines::Median(vsPlatform));
        headlines::Print(options, "pin.async64k.ratio_vs_wine_async", headlines::Median(queuedVsPlatform));
    }
    if (g_file != INVALID_HANDLE_VALUE)
        CloseHandle(g_file);
    for (IMemAllocator* alloc : {g_pinAlloc, g_platformAlloc})
        if (alloc) {
            alloc->Decommit();
            alloc->Release();
        }
    if (g_platform)
        g_platform->Release();
    if (g_pin)
        g_pin->Release();
    if (graph)
        graph->Release();
    if (cookie)
        CoRevokeClassObject(cookie);
    CoUninitialize();
    if (module)
        FreeLibrary(module);
    return rc;
}
