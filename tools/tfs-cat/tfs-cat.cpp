// tfs-cat: follows a recording that is still being written into standard
// output, through the component's own filter (the native OrvexFileSource.so
// beside this program), so that any player reading a pipe plays it while it
// grows:
//
//   tfs-cat [--margin BYTES] [--from BYTES] [--idle SECONDS] [--stats] FILE | ffplay -
//
// It reads the filter's pin sequentially in 64 KiB pieces, so it waits
// exactly as the pin waits: for the recording's first 768 KiB, for a margin
// past each read near the end, and for the recorder to close the file.
//
// Threads: the main thread reads and writes. A signal thread sleeps in
// sigwait for SIGINT and SIGTERM (blocked everywhere else) and ends a waiting
// read through the pin's BeginFlush. With --stats a statistics thread wakes
// once a second (a timed wait on an event the main thread sets at the end).
#include <windows.h>
#include <dshow.h>

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "IOrvexFileSource.h"

namespace {

const LONG kPiece = 64 * 1024;

const char kHelp[] =
    "NAME\n"
    "    tfs-cat - follow a growing recording into a player\n"
    "\n"
    "SYNOPSIS\n"
    "    tfs-cat [--margin BYTES] [--from BYTES] [--idle SECONDS] [--stats] FILE\n"
    "\n"
    "DESCRIPTION\n"
    "    Writes FILE to standard output while a recorder may still be writing it,\n"
    "    and ends once the recorder has closed the file and its last byte is out:\n"
    "        tfs-cat recording.mpg | ffplay -\n"
    "    The file is read through the TallowFileSource filter: it waits for the\n"
    "    recording's first 768 KiB, and a read near the end waits until the file\n"
    "    holds a margin past it, so a player never reads up to the live edge.\n"
    "\n"
    "OPTIONS\n"
    "    --margin BYTES   how far the file must extend past a read before the read\n"
    "                     goes on (default 2097152, at most 10485760)\n"
    "    --from BYTES     start at this byte instead of the first\n"
    "    --idle SECONDS   when the writer runs as another user and cannot be seen,\n"
    "                     the file counts as finished once it has not changed for\n"
    "                     this long and no close was seen (default 10)\n"
    "    --stats          once a second, print the file's size and growth rate, the\n"
    "                     read position and rate, and the bytes a read waits for,\n"
    "                     to standard error\n"
    "    --help           this text\n"
    "\n"
    "EXIT STATUS\n"
    "    0  the file was written to its end, or the reader of the pipe went away\n"
    "    1  the file could not be opened or read, or it was cut below what had been written out\n"
    "    2  bad arguments\n"
    "    130, 143  ended by SIGINT or SIGTERM\n";

struct Options {
    std::string file;
    LONGLONG llFrom = 0;
    LONGLONG llMargin = -1;  // -1: the filter's default
    double dIdle = 10;
    bool bStats = false;
};

int Usage(const char* pszWhy) {
    fprintf(stderr,
            "tfs-cat: %s\nusage: tfs-cat [--margin BYTES] [--from BYTES] [--idle SECONDS] [--stats] FILE\n",
            pszWhy);
    return 2;
}

bool Number(const char* psz, double dMax, double* pd) {
    char* end = nullptr;
    errno = 0;
    const double d = strtod(psz, &end);
    if (errno || !end || *end || end == psz || d < 0 || d > dMax)
        return false;
    *pd = d;
    return true;
}

// The component does not hold the graph a filter joins: this one only lets
// the filter join, so that its pin has an owner whose state it can read.
class CLonelyGraph : public IFilterGraph, public IMediaEventSink {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IFilterGraph))
            *ppv = static_cast<IFilterGraph*>(this);
        else if (IsEqualIID(riid, IID_IMediaEventSink))
            *ppv = static_cast<IMediaEventSink*>(this);
        else
            return *ppv = nullptr, E_NOINTERFACE;
        return S_OK;
    }
    // The graph lives as long as the program.
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(AddFilter)(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHOD(RemoveFilter)(IBaseFilter*) override { return E_NOTIMPL; }
    STDMETHOD(EnumFilters)(IEnumFilters**) override { return E_NOTIMPL; }
    STDMETHOD(FindFilterByName)(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHOD(ConnectDirect)(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(Reconnect)(IPin*) override { return E_NOTIMPL; }
    STDMETHOD(Disconnect)(IPin*) override { return E_NOTIMPL; }
    STDMETHOD(SetDefaultSyncSource)() override { return E_NOTIMPL; }
    STDMETHOD(Notify)(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }
};

// What the threads share.
std::atomic<int> g_nSignal{0};
std::atomic<bool> g_bLoading{true};
IAsyncReader* g_pReader = nullptr;                   // set before the signal thread may use it
IOrvexFileSource* g_pControl = nullptr;              // for the statistics thread
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;  // guards g_bDone with g_done
pthread_cond_t g_done = PTHREAD_COND_INITIALIZER;
bool g_bDone = false;

// Woken by SIGINT or SIGTERM only (blocked in every other thread).
void* SignalThread(void* pSet) {
    int nSignal = 0;
    if (sigwait(static_cast<sigset_t*>(pSet), &nSignal) != 0)
        return nullptr;
    g_nSignal = nSignal;
    // While Load still waits for the recording's first bytes there is no read
    // to end: nothing has been written yet either.
    if (g_bLoading)
        _exit(128 + nSignal);
    g_pReader->BeginFlush();
    return nullptr;
}

// Woken once a second by its timed wait, and at the end by the main thread.
void* StatsThread(void*) {
    pthread_mutex_lock(&g_lock);
    while (!g_bDone) {
        timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        ts.tv_sec += 1;
        pthread_cond_timedwait(&g_done, &g_lock, &ts);
        if (g_bDone)
            break;
        OrvexFigures f;
        GetOrvexFigures(g_pControl, &f);
        fprintf(stderr, "tfs-cat: size %lld (+%ld B/s), read %lld (%ld B/s), waiting for %lu bytes\n",
                (long long)f.llFileSize, (long)f.lWriteSpeed, (long long)f.llReadPos, (long)f.lReadSpeed,
                (unsigned long)f.dwWaitSize);
    }
    pthread_mutex_unlock(&g_lock);
    return nullptr;
}

// Writes all n bytes; false when the reader of the pipe went away.
bool WriteAll(const BYTE* pb, size_t n) {
    while (n > 0) {
        const ssize_t w = write(STDOUT_FILENO, pb, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        pb += w;
        n -= (size_t)w;
    }
    return true;
}

std::string ErrorText(HRESULT hr) {
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
        return "no such file";
    if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))
        return "permission denied or not a regular file";
    if (hr == E_INVALIDARG)
        return "the file is empty";
    char sz[32];
    snprintf(sz, sizeof(sz), "error 0x%08X", (unsigned)hr);
    return sz;
}

typedef HRESULT(STDAPICALLTYPE* PFN_GETCLASSOBJECT)(REFCLSID, REFIID, void**);

// The filter from the component beside this program.
HRESULT CreateFilter(IBaseFilter** ppFilter) {
    char szExe[4096];
    const ssize_t n = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    if (n <= 0)
        return E_FAIL;
    szExe[n] = 0;
    std::string path(szExe);
    path = path.substr(0, path.rfind('/') + 1) + "OrvexFileSource.so";
    void* hModule = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!hModule) {
        fprintf(stderr, "tfs-cat: %s\n", dlerror());
        return E_FAIL;
    }
    const PFN_GETCLASSOBJECT pfn = reinterpret_cast<PFN_GETCLASSOBJECT>(dlsym(hModule, "DllGetClassObject"));
    if (!pfn)
        return E_FAIL;
    IClassFactory* pFactory = nullptr;
    HRESULT hr = pfn(CLSID_CoFileSource, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr))
        return hr;
    hr = pFactory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(ppFilter));
    pFactory->Release();
    return hr;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        double d = 0;
        if (a == "--help" || a == "-h") {
            fputs(kHelp, stdout);
            return 0;
        } else if (a == "--stats") {
            o.bStats = true;
        } else if (a == "--margin" || a == "--from" || a == "--idle") {
            if (i + 1 >= argc || !Number(argv[++i], a == "--idle" ? 86400 : 9.2e18, &d))
                return Usage(("bad value for " + a).c_str());
            if (a == "--margin")
                o.llMargin = (LONGLONG)d;
            else if (a == "--from")
                o.llFrom = (LONGLONG)d;
            else
                o.dIdle = d;
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage(("unknown option " + a).c_str());
        } else if (o.file.empty()) {
            o.file = a;
        } else {
            return Usage("one file only");
        }
    }
    if (o.file.empty())
        return Usage("no file");

    // A player that quits closes the pipe: the write then fails with EPIPE
    // instead of killing this process. The two signals go to one thread,
    // also in the threads the component starts.
    signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_t signalThread;
    pthread_create(&signalThread, nullptr, SignalThread, &set);
    // For the component's own copy of the platform layer, read when it loads.
    setenv("COMPAT_WRITER_IDLE_MS", std::to_string((unsigned long)(o.dIdle * 1000)).c_str(), 1);

    IBaseFilter* pFilter = nullptr;
    HRESULT hr = CreateFilter(&pFilter);
    if (FAILED(hr)) {
        fprintf(stderr, "tfs-cat: cannot create the filter: %s\n", ErrorText(hr).c_str());
        return 1;
    }
    CLonelyGraph graph;
    IFileSourceFilter* pLoad = nullptr;
    IPin* pPin = nullptr;
    pFilter->JoinFilterGraph(&graph, L"tfs-cat");
    pFilter->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&pLoad));
    pFilter->QueryInterface(IID_IOrvexFileSource, reinterpret_cast<void**>(&g_pControl));
    pFilter->FindPin(L"Output", &pPin);
    if (!pLoad || !g_pControl || !pPin ||
        FAILED(pPin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&g_pReader)))) {
        fprintf(stderr, "tfs-cat: the filter lacks its interfaces\n");
        return 1;
    }
    // Reads near the end must wait whatever the user's stored setting says;
    // the setting is put back before the filter saves it at release.
    const bool bSeeking = g_pControl->IsSeekingSupported() == S_OK;
    g_pControl->SetSeekingSupported(FALSE);
    if (o.llMargin >= 0)
        g_pControl->SetBuffSize(
            (DWORD)(o.llMargin < ORVEX_MAX_WAIT_MARGIN ? o.llMargin : ORVEX_MAX_WAIT_MARGIN));

    std::wstring name(o.file.size() + 1, L'\0');
    const int cch = MultiByteToWideChar(CP_ACP, 0, o.file.c_str(), -1, &name[0], (int)name.size());
    hr = cch > 0 ? pLoad->Load(name.c_str(), nullptr) : HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    g_bLoading = false;
    if (g_nSignal)
        _exit(128 + g_nSignal);
    int rc = 0;
    if (FAILED(hr)) {
        fprintf(stderr, "tfs-cat: %s: %s\n", o.file.c_str(), ErrorText(hr).c_str());
        rc = 1;
    }

    pthread_t statsThread;
    const bool bStatsThread =
        !rc && o.bStats && pthread_create(&statsThread, nullptr, StatsThread, nullptr) == 0;
    std::vector<BYTE> buf(kPiece);
    for (LONGLONG llPos = o.llFrom; !rc;) {
        hr = g_pReader->SyncRead(llPos, kPiece, buf.data());
        if (g_nSignal) {
            rc = 128 + g_nSignal;
            break;
        }
        if (hr == S_OK) {
            if (!WriteAll(buf.data(), kPiece))
                break;  // the player went away: that is no error
            llPos += kPiece;
            continue;
        }
        // Past the end of a finished file: with --from beyond it nothing
        // more; after bytes were written out, the file was cut below them.
        if (hr == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) && llPos == o.llFrom)
            break;
        if (hr != S_FALSE && hr != HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)) {
            fprintf(stderr, "tfs-cat: %s: read at %lld: %s\n", o.file.c_str(), (long long)llPos,
                    ErrorText(hr).c_str());
            rc = 1;
            break;
        }
        // Short: the writer has closed the file and it ends inside this
        // piece (or the file was cut). The read says how many bytes it delivered only by the zeros
        // after them, so the tail is read again at its exact length.
        struct stat st;
        if (stat(o.file.c_str(), &st) != 0) {
            rc = 1;
            break;
        }
        if (st.st_size < llPos) {
            // Cut below what was written out (a recorder that starts again
            // under the same name): what follows is another recording.
            fprintf(stderr, "tfs-cat: %s: cut to %lld bytes below the read position %lld\n", o.file.c_str(),
                    (long long)st.st_size, (long long)llPos);
            rc = 1;
            break;
        }
        const LONGLONG llTail = st.st_size - llPos;
        if (llTail >= kPiece)
            continue;  // it grew after all: read on
        if (llTail > 0 && g_pReader->SyncRead(llPos, (LONG)llTail, buf.data()) != S_OK)
            continue;  // it changed again meanwhile: look once more
        if (!WriteAll(buf.data(), (size_t)llTail))
            break;
        break;
    }

    if (bStatsThread) {
        pthread_mutex_lock(&g_lock);
        g_bDone = true;
        pthread_cond_signal(&g_done);
        pthread_mutex_unlock(&g_lock);
        pthread_join(statsThread, nullptr);
    }
    g_pControl->SetSeekingSupported(bSeeking ? TRUE : FALSE);
    g_pReader->Release();
    pPin->Release();
    pLoad->Release();
    g_pControl->Release();
    pFilter->JoinFilterGraph(nullptr, nullptr);
    pFilter->Release();
    return rc;
}
