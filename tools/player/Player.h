// The player's graph: its options, the Player that builds and plays it, and
// the small COM helpers both of its sources use (player.cpp: options, the
// playback and its figures; PlayerGraph.cpp: building the graph).
#pragma once

#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>
#include <olectl.h>
#include <qedit.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "FrameTimes.h"
#include "IOrvexFileSource.h"
#include "PageFrame.h"
#include "SinkClock.h"

// qedit's classes: mingw-w64's libstrmiids defines them, its headers do not.
EXTERN_C const CLSID CLSID_SampleGrabber;
EXTERN_C const CLSID CLSID_NullRenderer;

namespace player {

enum ExitCode { kOk = 0, kCheckFailed = 1, kUsage = 2, kGraphFailed = 3, kTimedOut = 4 };

struct Options {
    std::wstring file;
    CLSID source = CLSID_CoFileSource;
    bool sourceGiven = false;
    bool pickSource = false;  // --source auto
    bool renderFile = false;
    bool videoWindow = false;
    bool videoAuto = true;  // a window where one can be made, else none
    double timeoutSeconds = 120;
    double idleSeconds = 1.0;
    double settleSeconds = 0;  // --settle: source stalls this long after the start are reported only
    long expectFrames = -1;
    double frameRate = 0;         // --frame-rate: the coded frames' rate; 0 without
    double expectSeconds = -1;    // --expect-seconds: the stream time the sink must get
    bool timeAudio = false;       // --timed audio: the sink times the audio
    bool downstreamFails = true;  // --downstream-stalls fail|report
    double pageHoldSeconds = 0;   // --page-hold
    bool expectSource = false;
    CLSID expectedSource = GUID_NULL;
    bool progress = false;
    bool printGraph = false;
    bool logFrames = false;
    bool page = false;
    double stopLimitSeconds = -1;  // --stop-when-waiting; < 0 without
    std::wstring switchFile;
    long switchAfter = 0;
    long expectSwitchFrames = -1;
    long waitMargin = -1;
};

// A COM pointer that releases what it holds.
template <class T>
class Ptr {
public:
    Ptr() = default;
    ~Ptr() { Reset(); }
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    T** operator&() {
        Reset();
        return &m_p;
    }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void Reset() {
        if (m_p)
            m_p->Release();
        m_p = nullptr;
    }
    template <class U>
    HRESULT QueryFrom(U* from, REFIID iid) {
        Reset();
        return from ? from->QueryInterface(iid, (void**)&m_p) : E_POINTER;
    }

private:
    T* m_p = nullptr;
};

std::string GuidText(REFGUID g);
std::string Narrow(const WCHAR* w);
// True while another process holds the file open for writing.
bool WriterActive(const std::wstring& path);
LONGLONG FileSizeOf(const std::wstring& path);
HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION want, IPin** out);
// The major type a pin carries: its connection's, else its first offered.
GUID MajorTypeOf(IPin* pin);

class Player {
public:
    explicit Player(const Options& o) : m_o(o), m_file(o.file) {
        if (o.logFrames)
            m_clock.LogFrames();
        InitializeCriticalSection(&m_figuresLock);
    }
    ~Player() {
        StopSampling();
        if (m_control)
            m_control->Stop();
        DeleteCriticalSection(&m_figuresLock);
    }

    HRESULT Build();
    int Play();

private:
    HRESULT AddNew(REFCLSID clsid, const WCHAR* name, IBaseFilter** out);
    HRESULT ConnectTimedSink();
    HRESULT ConnectSinkOf(REFCLSID clsid);
    HRESULT SetTimedMajor(REFGUID major);
    HRESULT TimeAudio();
    HRESULT EndBranch(IPin* pin);
    HRESULT EndAllBranches();
    void FindSource();
    void PrintGraph();
    double FrameInterval();
    double Interval(double videoInterval);
    player::FrameSummary Summarize(double interval, double running);
    // The source's own figures, sampled every 100 ms.
    struct Figures {
        LONGLONG fileSize = -1, readPos = -1;
        LONGLONG maxLagBytes = 0;  // while the graph runs
        DWORD waitSize = 0;
        LONG writeRate = 0, readRate = 0;                   // bytes per second, as the source measures them
        unsigned waitingBeforeRun = 0, waitingRunning = 0;  // samples that saw a read waiting
        DWORD margin = 0;                                   // the source's wait margin
        DWORD marginMs = 0;                                 // ... as time of the measured growth
        bool marginMeasured = false;                        // ... following the growth, or set in bytes
    };
    void StartSampling();
    void StopSampling();
    static DWORD WINAPI SamplingThread(void* player);
    void Sample();
    Figures Snapshot();
    bool ProgressDueLocked(double now);
    void PrintProgress(double now, const player::FrameSummary& s, const Figures& f);
    bool StopWhileWaiting();
    bool SwitchFile();

    const Options& m_o;
    bool m_videoWindow = false;  // the video goes to a real renderer
    std::wstring m_file;         // the file the source plays: --switch changes it
    Ptr<IGraphBuilder> m_graph;
    Ptr<IMediaControl> m_control;
    Ptr<IMediaEventEx> m_events;
    Ptr<IBaseFilter> m_source;
    Ptr<IBaseFilter> m_grabberFilter;
    Ptr<ISampleGrabber> m_grabber;
    Ptr<IOrvexFileSource> m_orvex;
    Ptr<IOrvexFileSource2> m_orvex2;  // null for a source without the margin in time
    player::SinkClock m_clock;
    player::PageFrame m_pageFrame;
    const double m_t0 = Now();            // the player's start, where progress times count from
    const double m_unixAtT0 = UnixNow();  // the same moment as seconds since 1970
    double m_loadDone = -1;               // when Load returned (Now())
    double m_lastGrowth = -1;             // when the source last saw the file grow (under m_figuresLock)
    GUID m_timedMajor = MEDIATYPE_Video;  // what the grabber times
    bool m_timedEnded = false;            // the grabber and the sink behind it are connected
    bool m_growing = false;               // a writer held the file when the graph was built
    int m_nullRenderers = 0;

    // Guards m_figures, m_running, m_waits and m_nextProgress. Taken alone:
    // the sink clock's lock is never taken inside it.
    CRITICAL_SECTION m_figuresLock;
    Figures m_figures;
    bool m_running = false;
    std::vector<double> m_waits;  // when a read was seen waiting while running
    double m_nextProgress = 1;    // seconds after m_t0; who prints: sampler before Run, main thread after
    HANDLE m_samplingStop = nullptr, m_sampling = nullptr;
    double m_cueSeconds = 0;
    double m_streamEnd = -1;  // the graph's duration after connecting, seconds; -1 unknown

    // --switch: when the new file was loaded and the graph ran again, the
    // frames that had arrived before, and Load's result.
    bool m_switched = false;
    double m_switchRunning = 0;
    size_t m_framesBeforeSwitch = 0;
    HRESULT m_switchResult = S_OK;
};

}  // namespace player
