// tfs-cat: follows a recording that is still being written into standard
// output, through the component's own filter (the native OrvexFileSource.so
// beside this program), so that any player reading a pipe plays it while it
// grows:
//
//   tfs-cat [--live | --from BYTES] [--margin TIME|BYTES] ... FILE | ffplay -
//
// It reads the filter's pin sequentially, so it waits exactly as the pin
// waits: for the recording's first 768 KiB, for a margin past each read near
// the end, and for the recorder to close the file. The bytes come only
// through the filter's interfaces; the program's own descriptor of the file
// serves to tell which file it follows (a name may come to lead to another)
// and how large that file is when the pin answers short.
//
// Reads near the end of a growing file wait at least one poll of the pin
// (500 ms), so there each read asks for what the file holds past the margin,
// and at least what it grows in one poll: the player gets the recording at
// its rate, a margin and one or two polls behind the recorder.
//
// Threads: the main thread reads and writes. A signal thread sleeps in
// sigwait for SIGINT and SIGTERM (blocked everywhere else); it ends a waiting
// read through the pin's BeginFlush and the main thread's own waits through
// g_wake, and when the main thread is not finishing 30 ms later (a write
// blocked on a full pipe, a Load waiting for the first bytes) it ends the
// process itself. With --stats a statistics thread wakes once a second (a
// timed wait on g_wake, which the main thread broadcasts when it finishes);
// it writes its line holding no lock, so a blocked standard error stops it
// alone, and the process ends without it.
#include <windows.h>
#include <dshow.h>

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "Args.h"
#include "FollowedFile.h"
#include "IOrvexFileSource.h"
#include "MpegPack.h"

using namespace tfscat;

namespace {

// Reads far from the end, and of a finished file, take 64 KiB: the buffer
// then stays in the processor's cache between the pin's copy and the write.
const LONG kPiece = 64 * 1024;
const LONG kMaxRead = 1024 * 1024;  // the largest read near the end, and the buffer
// A read of a growing file that ends this close to its end waits for growth,
// at least one poll of the pin.
const LONGLONG kWaitZone = 768 * 1024;
const double kPoll = 0.5;              // the pin's poll while a read waits
const double kWaited = 0.4;            // a read that took this long waited, and its size is fresh
const double kIdleLook = 0.1;          // --idle looks for growth this often once the filter ended
const LONGLONG kLiveSearch = 4 << 20;  // --live looks this far for a pack header
const double kLiveMeasure = 3;         // --live measures the growth rate this long at most
const size_t kHead = 64;  // room before a read in the buffer, for --live's carry; keeps the read aligned

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
std::atomic<IAsyncReader*> g_pReader{nullptr};  // set once the pin is there
IOrvexFileSource2* g_pControl = nullptr;        // set before the statistics thread starts
// g_lock guards g_bFinishing and g_bStatsAsking; g_wake (monotonic clock) is
// broadcast when a signal came, when the main thread finishes and when the
// statistics thread is out of the filter. Leaf lock, held only to read or
// change those two: no call into the filter is made with it held, except
// the signal thread's BeginFlush, and no write.
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_wake;
bool g_bFinishing = false;    // the main thread is out of every blocking call; the filter goes
bool g_bStatsAsking = false;  // the statistics thread is in the filter's control interface

struct timespec Deadline(double dSeconds) {
    const double d = Now() + dSeconds;
    struct timespec ts;
    ts.tv_sec = (time_t)d;
    ts.tv_nsec = (long)((d - (double)ts.tv_sec) * 1e9);
    return ts;
}

// Woken by SIGINT or SIGTERM only (blocked in every other thread).
void* SignalThread(void* pSet) {
    int nSignal = 0;
    if (sigwait(static_cast<sigset_t*>(pSet), &nSignal) != 0)
        return nullptr;
    g_nSignal = nSignal;
    pthread_mutex_lock(&g_lock);
    IAsyncReader* pReader = g_pReader;
    if (!g_bFinishing && pReader)
        pReader->BeginFlush();  // a read waiting for growth ends at once
    pthread_cond_broadcast(&g_wake);
    // A write blocked on a full pipe (a paused player) or a Load waiting for
    // a recording's first bytes cannot be ended from here: the process ends
    // without them.
    const struct timespec deadline = Deadline(0.03);
    while (!g_bFinishing && pthread_cond_timedwait(&g_wake, &g_lock, &deadline) != ETIMEDOUT) {
    }
    const bool bFinishing = g_bFinishing;
    pthread_mutex_unlock(&g_lock);
    if (!bFinishing)
        _exit(128 + nSignal);
    return nullptr;
}

// Sleeps until the time has passed or a signal came; false for the signal.
bool Pause(double dSeconds) {
    const struct timespec deadline = Deadline(dSeconds);
    pthread_mutex_lock(&g_lock);
    while (!g_nSignal && pthread_cond_timedwait(&g_wake, &g_lock, &deadline) != ETIMEDOUT) {
    }
    pthread_mutex_unlock(&g_lock);
    return !g_nSignal;
}

// Writes all n bytes to fd; false when the reader of the pipe went away.
bool WriteAll(int fd, const void* pv, size_t n) {
    const char* pb = static_cast<const char*>(pv);
    while (n > 0) {
        const ssize_t w = write(fd, pb, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        pb += w;
        n -= (size_t)w;
    }
    return true;
}

// Woken once a second by its timed wait, and at the end by the main thread.
// It asks the filter with g_bStatsAsking set (the main thread lets the
// filter go only once it is clear) and writes its line holding no lock and
// no stdio stream: a standard error that blocks (a terminal stopped with
// Ctrl-S, a log reader that stalls) holds up this thread alone, and the
// main thread does not wait for it at the end.
void* StatsThread(void*) {
    for (;;) {
        pthread_mutex_lock(&g_lock);
        const struct timespec deadline = Deadline(1);
        while (!g_bFinishing && pthread_cond_timedwait(&g_wake, &g_lock, &deadline) != ETIMEDOUT) {
        }
        const bool bFinishing = g_bFinishing;
        g_bStatsAsking = !bFinishing;
        pthread_mutex_unlock(&g_lock);
        if (bFinishing)
            return nullptr;
        OrvexFigures f;
        GetOrvexFigures(g_pControl, &f);
        DWORD dwMargin = 0;
        g_pControl->GetBuffSize(&dwMargin);
        pthread_mutex_lock(&g_lock);
        g_bStatsAsking = false;
        pthread_cond_broadcast(&g_wake);
        pthread_mutex_unlock(&g_lock);
        char szLine[256];
        const int n = snprintf(
            szLine, sizeof(szLine),
            "tfs-cat: size %lld (+%ld B/s), read %lld (%ld B/s), waiting for %lu bytes, margin %lld\n",
            (long long)f.llFileSize, (long)f.lWriteSpeed, (long long)f.llReadPos, (long)f.lReadSpeed,
            (unsigned long)f.dwWaitSize, (long long)dwMargin);
        if (n > 0)
            WriteAll(STDERR_FILENO, szLine, std::min<size_t>((size_t)n, sizeof(szLine) - 1));
    }
}

std::string ErrorText(HRESULT hr) {
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
        return "no such file";
    if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))
        return "permission denied or not a regular file";
    if (hr == HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE))
        return "the name is too long";
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

// The first MPEG-2 pack header in pb[0, n) whose checked bytes all lie in
// it; n when there is none.
size_t FindPack(const BYTE* pb, size_t n) {
    for (size_t i = 0; i + MPEG2_PACK_CHECKED_SIZE <= n; ++i) {
        if (IsMpeg2PackHeader(pb + i))
            return i;
    }
    return n;
}

// One run: the filter's interfaces, the file, and the read loop.
class CFollower {
public:
    CFollower(const Options& o, IFileSourceFilter* pLoad, IAsyncReader* pReader, IOrvexFileSource2* pControl)
        : m_o(o), m_pLoad(pLoad), m_pReader(pReader), m_pControl(pControl), m_buf(kHead + kMaxRead) {}

    // Returns the exit status (a signal's is set by the caller).
    int Run() {
        int rc = Load();
        if (rc || g_nSignal)
            return rc;
        m_llPos = m_o.llFrom;
        if (m_o.bLive)
            FindLiveStart();
        while (!rc && !g_nSignal) {
            rc = Step();
            if (rc == kEnd)
                rc = AtEnd();
        }
        return rc < 0 ? 0 : rc;
    }

private:
    static const int kEnd = -1;   // the file ended at m_llPos
    static const int kGone = -2;  // the player went away

    // Opens the name: first this program's own descriptor, then the filter.
    int Load() {
        m_file.Open(m_o.file);  // a failure shows in the filter's answer
        std::wstring name(m_o.file.size() + 1, L'\0');
        const int cch = MultiByteToWideChar(CP_ACP, 0, m_o.file.c_str(), -1, &name[0], (int)name.size());
        const HRESULT hr =
            cch > 0 ? m_pLoad->Load(name.c_str(), nullptr) : HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
        if (g_nSignal)
            return 0;
        if (FAILED(hr) || !m_file.IsOpen()) {
            fprintf(stderr, "tfs-cat: %s: %s\n", m_o.file.c_str(),
                    ErrorText(FAILED(hr) ? hr : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)).c_str());
            return 1;
        }
        m_llSize = 0;
        m_bEverGrowing = IsGrowing();
        return 0;
    }

    // Whether the pin takes the file for being written (its length is an
    // estimate while seeking is off).
    bool IsGrowing() {
        LONGLONG llTotal = 0, llAvailable = 0;
        return m_pReader->Length(&llTotal, &llAvailable) == VFW_S_ESTIMATED;
    }

    LONGLONG PinSize() {
        LONGLONG llSize = 0;
        m_pControl->GetFileSize(&llSize, nullptr);
        return llSize;
    }

    // The filter's margin as this program asks for it: in bytes as given,
    // or in time (the filter measures the growth); then the bytes in effect.
    void SetMargin() {
        if (m_o.llMarginBytes >= 0)
            m_pControl->SetBuffSize((DWORD)m_o.llMarginBytes);
        else
            m_pControl->SetMarginTime((DWORD)(m_o.dMarginSeconds * 1000));
        UpdateMargin();
    }
    void UpdateMargin() {
        DWORD dwMargin = 0;
        m_pControl->GetBuffSize(&dwMargin);
        m_llPinMargin = dwMargin;
    }

    // What one poll of a waiting read should bring: half a second of growth
    // as the filter measures it.
    LONG PollGrowth() const {
        LONGLONG llSize = 0;
        LONG lRate = 0;
        m_pControl->GetFileSize(&llSize, &lRate);
        if (lRate <= 0)
            return 16 * 1024;
        return (LONG)std::min<double>(std::max<double>(lRate * kPoll, 4096), kMaxRead);
    }

    // Reads [p, p + cb) through the pin. After a read that waited, the
    // watch's news are taken in (a queue of changes alone stays short: the
    // kernel merges repeated ones).
    HRESULT Read(LONGLONG p, LONG cb) {
        const double t0 = Now();
        const HRESULT hr = m_pReader->SyncRead(p, cb, m_buf.data() + kHead);
        if (Now() - t0 >= kWaited) {
            m_bEverGrowing = true;
            m_file.Drain();
        }
        if (m_o.bIdleGiven)
            m_file.Size();  // --idle counts from the last growth: seen as soon as a read returns
        return hr;
    }

    // Hands [p, p + cb) of the file, now in the buffer, to the player: the
    // part from m_llPos on, or with --live from the first pack header.
    // Returns 0, kGone, or 1.
    int Deliver(LONGLONG p, LONG cb) {
        m_file.Held(p + cb);
        const LONGLONG llSkip = m_llPos - p;  // bytes before the start of a window read
        BYTE* pb = m_buf.data() + kHead + llSkip;
        size_t n = (size_t)(cb - llSkip);
        m_llPos = p + cb;
        if (m_bSearching) {
            // The last bytes of the previous piece lie just before this one,
            // so a header across the two is found too.
            pb -= m_nCarry;
            memcpy(pb, m_carry, m_nCarry);
            n += m_nCarry;
            const size_t at = FindPack(pb, n);
            if (at == n) {
                m_nCarry = std::min(n, MPEG2_PACK_CHECKED_SIZE - 1);
                memcpy(m_carry, pb + n - m_nCarry, m_nCarry);
                if (m_llPos - m_llSearchFrom <= kLiveSearch)
                    return 0;
                fprintf(stderr,
                        "tfs-cat: %s: no MPEG-2 pack header in the %lld bytes from %lld: --live needs an "
                        "MPEG-2 program stream\n",
                        m_o.file.c_str(), (long long)(m_llPos - m_llSearchFrom), (long long)m_llSearchFrom);
                return 1;
            }
            m_bSearching = false;
            pb += at;
            n -= at;
        }
        return WriteAll(STDOUT_FILENO, pb, n) ? 0 : kGone;
    }

    // --live: the start is the margin back from the end. A margin in time
    // needs the growth measured first: reads of the next byte wait for the
    // file to grow, and the filter measures it at each look.
    void FindLiveStart() {
        if (m_o.llMarginBytes < 0) {
            // With no margin, a read of the byte after the end returns at the
            // first look that finds the file grown.
            m_pControl->SetBuffSize(0);
            const double tEnd = Now() + kLiveMeasure;
            LONGLONG llSize = 0;
            LONG lRate = 0;
            while (Now() < tEnd && !g_nSignal && IsGrowing() &&
                   SUCCEEDED(m_pControl->GetFileSize(&llSize, &lRate)) && lRate == 0)
                Read(std::max<LONGLONG>(llSize, m_file.Size()), 1);
        }
        SetMargin();
        // Without growth to measure (a finished file, a writer between two
        // blocks), the filter's default margin.
        const LONGLONG llMargin = m_llPinMargin;
        // Back by one poll's growth as well, so that the first read is
        // answered at the pin's first look.
        m_llSearchFrom =
            std::max<LONGLONG>(0, std::max<LONGLONG>(PinSize(), m_file.Size()) - llMargin - PollGrowth());
        m_llPos = m_llSearchFrom;
        m_bSearching = true;
        m_nCarry = 0;
    }

    // One read and what follows from it. Returns 0 to go on, kEnd when the
    // file ends at m_llPos, kGone, or an exit status.
    int Step() {
        if (m_llPinMargin < 0)
            SetMargin();
        const LONGLONG llPos = m_llPos;
        // The size as the pin last measured it; while far from it, not asked
        // again.
        if (llPos + kPiece + kWaitZone > m_llSize)
            m_llSize = PinSize();
        LONGLONG llSize = m_llSize;
        if (llPos > llSize)
            llSize = std::max<LONGLONG>(llSize, m_file.Size());
        LONGLONG p = llPos;
        LONG cb;
        if (llPos > llSize) {
            // Past the end (--from beyond the live edge): a read from the
            // end that reaches past the position waits for growth as every
            // read at the end does; the pin answers a read that starts past
            // the end at once.
            p = llSize;
            cb = (LONG)std::min<LONGLONG>(llPos - llSize + PollGrowth(), kMaxRead);
        } else if (llSize - kWaitZone - llPos >= kPiece) {
            // Far from the end: nothing to wait for.
            cb = kPiece;
        } else if (!IsGrowing()) {
            cb = kPiece;  // finished: the end comes as a short read
        } else {
            // Near the end: what the file holds past the margin (as the
            // filter has it now: it follows the growth), and at least what
            // one poll brings.
            UpdateMargin();
            const LONGLONG llAvailable = llSize - m_llPinMargin - llPos;
            cb = (LONG)std::min<LONGLONG>(std::max<LONGLONG>(llAvailable, PollGrowth()), kMaxRead);
        }

        HRESULT hr = Read(p, cb);
        if (g_nSignal)
            return 0;
        if (hr == S_OK) {
            m_nFruitless = 0;
            return p + cb > llPos ? Deliver(p, cb) : 0;
        }
        if (hr != S_FALSE && hr != HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)) {
            fprintf(stderr, "tfs-cat: %s: read at %lld: %s\n", m_o.file.c_str(), (long long)p,
                    ErrorText(hr).c_str());
            return 1;
        }
        // Short: the pin takes the file for finished and it ends inside this
        // read, or the file was cut. The read tells how much it delivered
        // only by the zeros after it, so the end is taken from the file this
        // program follows (never from the name, which may lead elsewhere by
        // now), and the tail read again at its exact length.
        const LONGLONG llMax = m_file.MaxSize();
        const LONGLONG llEnd = m_file.Size();
        if (llEnd < 0) {
            fprintf(stderr, "tfs-cat: %s: %s\n", m_o.file.c_str(), strerror(errno));
            return 1;
        }
        if (llEnd < llPos && llMax >= llPos) {
            // Cut below what was written out (a recorder that starts again
            // in the same file): what follows is another recording.
            fprintf(stderr, "tfs-cat: %s: cut to %lld bytes below the read position %lld\n", m_o.file.c_str(),
                    (long long)llEnd, (long long)llPos);
            return 1;
        }
        if (llEnd >= p + cb || (llEnd > llPos && Read(llPos, (LONG)(llEnd - llPos)) != S_OK)) {
            // It grew, or changed again, meanwhile: read on; after a second
            // such answer in a row, only at the pace of the pin's poll.
            if (++m_nFruitless > 1)
                Pause(kPoll);
            return 0;
        }
        m_nFruitless = 0;
        if (g_nSignal)
            return 0;
        if (llEnd > llPos) {
            const int rc = Deliver(llPos, (LONG)(llEnd - llPos));
            if (rc)
                return rc;
        }
        return kEnd;
    }

    // --idle: the file counts as finished only once it has not grown for
    // that long, whatever the filter's verdict (a recorder that closes its
    // file between chunks, or stops for a while, and goes on). The filter
    // takes a finished file that grows past its end for growing again, so
    // reads go on. Returns 0 when the file changed (or a signal came), kEnd
    // once the time has passed.
    int AwaitIdle() {
        const LONGLONG llEnd = m_file.Size();
        if (llEnd > m_llPos)
            return 0;
        while (m_file.Size() == llEnd) {
            if (Now() - m_file.LastGrowth() >= m_o.dIdle)
                return kEnd;
            if (!Pause(kIdleLook))
                return 0;
        }
        return 0;
    }

    // The file ended at m_llPos: says why when that is not plain, and with
    // --follow-name goes on with the name's new file. Returns kEnd, an exit
    // status, or 0 to go on.
    int AtEnd() {
        if (m_o.bIdleGiven && m_file.WhereNameLeads(m_o.file) == CFollowedFile::kSameFile &&
            AwaitIdle() != kEnd)
            return 0;
        const LONGLONG llEnd = m_file.Size();
        if (m_bSearching) {
            fprintf(stderr, "tfs-cat: %s: no MPEG-2 pack header from %lld to the end (%lld bytes)\n",
                    m_o.file.c_str(), (long long)m_llSearchFrom, (long long)m_llPos);
            return 1;
        }
        if (llEnd >= 0 && m_llPos > llEnd) {
            fprintf(stderr, "tfs-cat: %s: the file ended at %lld bytes, before --from %lld\n",
                    m_o.file.c_str(), (long long)llEnd, (long long)m_o.llFrom);
            return 1;
        }
        const CFollowedFile::Name where = m_file.WhereNameLeads(m_o.file);
        const char* pszFile = m_o.file.c_str();
        if (where == CFollowedFile::kSameFile) {
            double dAge = 0;
            if (m_bEverGrowing && m_file.EndGuessed(m_o.dIdle, kPoll, &dAge))
                fprintf(stderr,
                        "tfs-cat: %s: no growth for %.0f s and no writer visible: taken as finished\n",
                        pszFile, dAge);
            return kEnd;
        }
        if (!m_o.bFollowName) {
            fprintf(stderr, "tfs-cat: %s: the name now leads to %s; the file followed ended at %lld bytes\n",
                    pszFile, where == CFollowedFile::kOtherFile ? "a new file" : "no file",
                    (long long)m_llPos);
            return kEnd;
        }
        if (where == CFollowedFile::kNoFile) {
            fprintf(stderr, "tfs-cat: %s: the name leads to no file: waiting for one\n", pszFile);
            while (m_file.WhereNameLeads(m_o.file) == CFollowedFile::kNoFile)
                if (!Pause(kPoll))
                    return 0;
        }
        fprintf(stderr, "tfs-cat: %s: the name now leads to a new file: following it from its start\n",
                pszFile);
        const int rc = Load();
        m_llPos = 0;
        m_nFruitless = 0;
        return rc;
    }

    const Options& m_o;
    IFileSourceFilter* const m_pLoad;
    IAsyncReader* const m_pReader;
    IOrvexFileSource2* const m_pControl;
    CFollowedFile m_file;
    std::vector<BYTE> m_buf;  // kHead bytes of room for the carry, then a read
    LONGLONG m_llPos = 0;     // the next byte for the player
    LONGLONG m_llSize = 0;    // the file's size as the pin measured it last asked
    LONGLONG m_llPinMargin = -1;
    bool m_bEverGrowing = false;  // the pin took the file for being written at some time
    int m_nFruitless = 0;         // short answers in a row that brought nothing
    // --live, until the first pack header is found:
    bool m_bSearching = false;
    LONGLONG m_llSearchFrom = 0;
    BYTE m_carry[MPEG2_PACK_CHECKED_SIZE];
    size_t m_nCarry = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string why;
    if (!ParseArgs(argc, argv, &o, &why)) {
        fprintf(stderr, "tfs-cat: %s\n%s", why.c_str(), kUsage);
        return 2;
    }
    if (o.bHelp) {
        fputs(kHelp, stdout);
        return 0;
    }

    // A player that quits closes the pipe: the write then fails with EPIPE
    // instead of killing this process. The two signals go to one thread,
    // also in the threads the component starts.
    signal(SIGPIPE, SIG_IGN);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&g_wake, &attr);
    pthread_condattr_destroy(&attr);
    static sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_t signalThread;
    pthread_create(&signalThread, nullptr, SignalThread, &set);
    pthread_detach(signalThread);
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
    IAsyncReader* pReader = nullptr;
    pFilter->JoinFilterGraph(&graph, L"tfs-cat");
    pFilter->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&pLoad));
    pFilter->QueryInterface(IID_IOrvexFileSource2, reinterpret_cast<void**>(&g_pControl));
    pFilter->FindPin(L"Output", &pPin);
    if (!pLoad || !g_pControl || !pPin ||
        FAILED(pPin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&pReader)))) {
        fprintf(stderr, "tfs-cat: the filter lacks its interfaces\n");
        return 1;
    }
    g_pReader = pReader;
    // Reads near the end must wait whatever the user's stored setting says;
    // the setting is put back before the filter saves it at release. The
    // margin is not saved.
    const bool bSeeking = g_pControl->IsSeekingSupported() == S_OK;
    g_pControl->SetSeekingSupported(FALSE);

    pthread_t statsThread;
    const bool bStatsThread = o.bStats && pthread_create(&statsThread, nullptr, StatsThread, nullptr) == 0;
    int rc = 0;
    {
        CFollower follower(o, pLoad, pReader, g_pControl);
        rc = follower.Run();
    }

    // The statistics thread may be blocked in its write for good: it is
    // waited for only while it asks the filter, which goes next.
    pthread_mutex_lock(&g_lock);
    g_bFinishing = true;
    pthread_cond_broadcast(&g_wake);
    while (g_bStatsAsking)
        pthread_cond_wait(&g_wake, &g_lock);
    pthread_mutex_unlock(&g_lock);
    if (bStatsThread)
        pthread_detach(statsThread);
    g_pControl->SetSeekingSupported(bSeeking ? TRUE : FALSE);
    pReader->Release();
    pPin->Release();
    pLoad->Release();
    g_pControl->Release();
    pFilter->JoinFilterGraph(nullptr, nullptr);
    pFilter->Release();
    return g_nSignal ? 128 + g_nSignal : rc;
}
