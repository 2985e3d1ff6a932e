// Plays a media file through a DirectShow filter graph and reports what
// reached the video sink: frames, their timing (stalls), and, where the source
// filter offers its control interface, how far reading lagged behind the end
// of a growing file. Windows only; the project runs it under Wine.
//
//   player FILE [--source CLSID|auto] [--renderfile] [--video auto|null|window]
//               [--timeout S] [--idle MS] [--expect-frames N] [--expect-source CLSID]
//               [--progress] [--graph] [--log-frames] [--page]
//               [--stop-when-waiting MS] [--switch FILE --switch-after N [--expect-switch-frames N]]
//               [--wait-margin BYTES]
//
// The graph is built explicitly by default: the source filter (CLSID, by
// default this project's filter, else, where that is not registered, the
// platform's "File Source (Async.)") is created, added and loaded,
// and its output pin connected to the sample grabber, the graph manager
// putting the splitter between (rendering the pin would need a video renderer,
// which cannot be created without a display). --source auto lets the graph
// manager choose the source by the file's check bytes (AddSourceFilter);
// --renderfile lets it build the whole graph (RenderFile), whose renderers
// are then replaced. Either way the video branch ends in a sample grabber that
// times every frame, followed by a real video renderer (--video window; it
// needs a display), a null renderer (--video null) or, by default, the first
// of the two that can be had; every other branch ends in a null renderer. Playback runs at normal speed
// against the graph clock. --graph prints the graph, --log-frames every frame's arrival and stream time.
// --page opens the source's property pages in the platform's property frame
// while the graph runs (it needs a display) and closes it at the end.
//
// It stops at EC_COMPLETE, or, for a file that was growing, once its writer
// has closed it, the source has read up to its final size (when the source
// tells) and no frame has arrived for --idle milliseconds. Once done it prints
// one line of figures beginning "player:". Exit codes: 0 success, 1 a check
// failed, 2 usage, 3 the graph could not be built or run, 4 time-out.
//
// Two checks of the source's control interface ride on a playback:
// --stop-when-waiting stops the graph as soon as a read of the source waits
// for the file to grow, and checks that Stop returns, and the waiting read
// ends, within MS milliseconds. --switch pauses the graph once --switch-after
// frames have arrived, loads FILE into the source, runs again and plays to the
// end: the frames that arrive after the new file was loaded, and the stream
// time of the first of them, say whether it played from its start; stalls
// then count from the second run on. --wait-margin sets the source's wait
// margin (IOrvexFileSource::SetBuffSize) before Load.
//
// Threads: the main thread builds and runs the graph and waits on the graph's
// event handle with a 100 ms time-out (woken by graph events or the time-out).
// The sample grabber's callback runs on the graph's streaming thread (woken
// by the upstream filter delivering a sample); it only records a time. Where
// the source offers its control interface, a sampling thread reads its
// figures every 100 ms from before Load on (woken by its time-out, or by the
// main thread's stop event), so that the waits of Load and of connecting are
// seen too.
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

double Now() {
    static LARGE_INTEGER freq;
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
}

}  // namespace player

namespace {

enum ExitCode { kOk = 0, kCheckFailed = 1, kUsage = 2, kGraphFailed = 3, kTimedOut = 4 };

// How far before the end of a finished file the source's last read may begin.
const LONGLONG kLastReadAllowance = 256 * 1024;
// How much less stream time than --expect-seconds may reach the sink: the
// splitter's last buffer may end a little short of the stream's end.
const double kStreamTimeAllowance = 0.1;

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
    long expectFrames = -1;
    double frameRate = 0;        // --frame-rate: the coded frames' rate; 0 without
    double expectSeconds = -1;   // --expect-seconds: the stream time the sink must get
    bool timeAudio = false;      // --timed audio: the sink times the audio
    bool downstreamFails = true;  // --downstream-stalls fail|report
    double pageHoldSeconds = 0;  // --page-hold
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

using player::Now;

std::string GuidText(REFGUID g) {
    WCHAR w[40];
    char a[40];
    StringFromGUID2(g, w, 40);
    WideCharToMultiByte(CP_ACP, 0, w, -1, a, sizeof(a), nullptr, nullptr);
    return a;
}

std::string Narrow(const WCHAR* w) {
    char a[MAX_PATH * 2];
    WideCharToMultiByte(CP_ACP, 0, w, -1, a, sizeof(a), nullptr, nullptr);
    return a;
}

bool ParseGuid(const char* text, CLSID& out) {
    WCHAR w[64];
    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, w, 64))
        return false;
    return SUCCEEDED(CLSIDFromString(w, &out));
}

// True while another process holds the file open for writing: a read-only
// open that denies write sharing then fails with a sharing violation.
bool WriterActive(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(h);
    return false;
}

LONGLONG FileSizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a))
        return -1;
    return ((LONGLONG)a.nFileSizeHigh << 32) | a.nFileSizeLow;
}

HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION want, IPin** out) {
    *out = nullptr;
    Ptr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    IPin* pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == want) {
            *out = pin;
            return S_OK;
        }
        pin->Release();
    }
    return VFW_E_NOT_FOUND;
}

// The major type a pin carries: its connection's, else its first offered.
GUID MajorTypeOf(IPin* pin) {
    AM_MEDIA_TYPE mt;
    GUID major = GUID_NULL;
    if (SUCCEEDED(pin->ConnectionMediaType(&mt))) {
        major = mt.majortype;
        CoTaskMemFree(mt.pbFormat);
        if (mt.pUnk)
            mt.pUnk->Release();
        return major;
    }
    Ptr<IEnumMediaTypes> types;
    AM_MEDIA_TYPE* p = nullptr;
    if (SUCCEEDED(pin->EnumMediaTypes(&types)) && types->Next(1, &p, nullptr) == S_OK && p) {
        major = p->majortype;
        CoTaskMemFree(p->pbFormat);
        if (p->pUnk)
            p->pUnk->Release();
        CoTaskMemFree(p);
    }
    return major;
}

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
    player::SinkClock m_clock;
    player::PageFrame m_pageFrame;
    const double m_t0 = Now();  // the player's start, where progress times count from
    GUID m_timedMajor = MEDIATYPE_Video;  // what the grabber times
    bool m_timedEnded = false;            // the grabber and the sink behind it are connected
    bool m_growing = false;     // a writer held the file when the graph was built
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

HRESULT Player::AddNew(REFCLSID clsid, const WCHAR* name, IBaseFilter** out) {
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void**)out);
    if (SUCCEEDED(hr))
        hr = m_graph->AddFilter(*out, name);
    return hr;
}

// The grabber's output to its sink. Video: a real video renderer, a null
// renderer, or by default the renderer where a window can be made (without a
// display it cannot be created) and the null renderer elsewhere. Audio: a
// null renderer, which plays at the graph clock's pace as every sink does.
HRESULT Player::ConnectTimedSink() {
    if (m_timedMajor != MEDIATYPE_Video)
        return ConnectSinkOf(CLSID_NullRenderer);
    if (m_o.videoAuto && SUCCEEDED(ConnectSinkOf(CLSID_VideoRenderer)))
        return S_OK;
    return ConnectSinkOf(m_o.videoWindow ? CLSID_VideoRenderer : CLSID_NullRenderer);
}

HRESULT Player::ConnectSinkOf(REFCLSID clsid) {
    Ptr<IPin> out, sinkIn;
    Ptr<IBaseFilter> sink;
    HRESULT hr = AddNew(clsid, m_timedMajor == MEDIATYPE_Video ? L"Video sink" : L"Audio sink", &sink);
    if (FAILED(hr) || FAILED(hr = FirstPin(m_grabberFilter.Get(), PINDIR_OUTPUT, &out)) ||
        FAILED(hr = FirstPin(sink.Get(), PINDIR_INPUT, &sinkIn)) ||
        FAILED(hr = m_graph->Connect(out.Get(), sinkIn.Get()))) {
        if (sink)
            m_graph->RemoveFilter(sink.Get());
        return hr;
    }
    m_timedEnded = true;
    m_videoWindow = clsid == CLSID_VideoRenderer;
    return S_OK;
}

// The grabber takes what m_timedMajor names, in any format.
HRESULT Player::SetTimedMajor(REFGUID major) {
    AM_MEDIA_TYPE mt = {};
    mt.majortype = major;
    m_timedMajor = major;
    return m_grabber->SetMediaType(&mt);
}

// Ends one output branch: the first branch of the timed kind in the sample
// grabber and the sink behind it, any other in a null renderer of its own.
HRESULT Player::EndBranch(IPin* pin) {
    HRESULT hr;
    if (!m_timedEnded && MajorTypeOf(pin) == m_timedMajor) {
        Ptr<IPin> in;
        if (FAILED(hr = FirstPin(m_grabberFilter.Get(), PINDIR_INPUT, &in)) ||
            FAILED(hr = m_graph->Connect(pin, in.Get())))
            return hr;
        return ConnectTimedSink();
    }
    Ptr<IBaseFilter> sink;
    Ptr<IPin> sinkIn;
    WCHAR name[32];
    wsprintfW(name, L"Null renderer %d", ++m_nullRenderers);
    if (FAILED(hr = AddNew(CLSID_NullRenderer, name, &sink)) ||
        FAILED(hr = FirstPin(sink.Get(), PINDIR_INPUT, &sinkIn)))
        return hr;
    return m_graph->Connect(pin, sinkIn.Get());
}

// Replaces the renderers the graph manager chose (filters without output
// pins) by the player's sinks, and ends every branch it left open.
HRESULT Player::EndAllBranches() {
    std::vector<IBaseFilter*> filters;
    Ptr<IEnumFilters> e;
    HRESULT hr = m_graph->EnumFilters(&e);
    if (FAILED(hr))
        return hr;
    IBaseFilter* f;
    while (e->Next(1, &f, nullptr) == S_OK)
        filters.push_back(f);
    std::vector<IPin*> open;
    for (IBaseFilter* filter : filters) {
        if (filter == m_grabberFilter.Get())
            continue;
        Ptr<IEnumPins> pins;
        if (FAILED(filter->EnumPins(&pins)))
            continue;
        IPin* pin;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            PIN_DIRECTION dir;
            Ptr<IPin> peer;
            if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) {
                pin->Release();
                continue;
            }
            if (pin->ConnectedTo(&peer) == S_OK) {
                PIN_INFO info;
                Ptr<IPin> ignored;
                if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter) {
                    const bool renderer = FAILED(FirstPin(info.pFilter, PINDIR_OUTPUT, &ignored));
                    if (renderer && info.pFilter != m_grabberFilter.Get()) {
                        m_graph->RemoveFilter(info.pFilter);  // disconnects the pin
                        open.push_back(pin);
                        pin = nullptr;
                    }
                    info.pFilter->Release();
                }
            } else {
                open.push_back(pin);
                pin = nullptr;
            }
            if (pin)
                pin->Release();
        }
    }
    hr = S_OK;
    Ptr<IPin> grabberIn, grabberPeer;
    if (SUCCEEDED(FirstPin(m_grabberFilter.Get(), PINDIR_INPUT, &grabberIn)) &&
        grabberIn->ConnectedTo(&grabberPeer) == S_OK) {
        hr = ConnectTimedSink();
    } else if (!m_o.timeAudio) {
        // A stream without pictures is timed by its sound.
        bool video = false, audio = false;
        for (IPin* pin : open) {
            video = video || MajorTypeOf(pin) == MEDIATYPE_Video;
            audio = audio || MajorTypeOf(pin) == MEDIATYPE_Audio;
        }
        if (!video && audio)
            hr = SetTimedMajor(MEDIATYPE_Audio);
    }
    // The timed kind first, so that its first branch gets the grabber.
    for (int pass = 0; pass < 2; ++pass)
        for (IPin*& pin : open) {
            if (!pin || (pass == 0 && MajorTypeOf(pin) != m_timedMajor))
                continue;
            const HRESULT one = EndBranch(pin);
            if (FAILED(one)) {
                fprintf(stderr, "player: a %s branch could not be ended: 0x%08lX\n",
                        MajorTypeOf(pin) == m_timedMajor ? "timed" : "other", (unsigned long)one);
                if (SUCCEEDED(hr))
                    hr = one;
            }
            pin->Release();
            pin = nullptr;
        }
    for (IBaseFilter* filter : filters)
        filter->Release();
    return m_timedEnded ? S_OK : (FAILED(hr) ? hr : VFW_E_CANNOT_RENDER);
}

// The graph's source: the filter that loaded the file.
void Player::FindSource() {
    Ptr<IEnumFilters> e;
    if (FAILED(m_graph->EnumFilters(&e)))
        return;
    IBaseFilter* f;
    while (e->Next(1, &f, nullptr) == S_OK) {
        Ptr<IFileSourceFilter> fs;
        if (!m_source && SUCCEEDED(fs.QueryFrom(f, IID_IFileSourceFilter)))
            m_source.QueryFrom(f, IID_IBaseFilter);
        f->Release();
    }
}

void Player::PrintGraph() {
    Ptr<IEnumFilters> e;
    if (FAILED(m_graph->EnumFilters(&e)))
        return;
    IBaseFilter* f;
    while (e->Next(1, &f, nullptr) == S_OK) {
        FILTER_INFO fi;
        CLSID clsid = GUID_NULL;
        f->GetClassID(&clsid);
        if (SUCCEEDED(f->QueryFilterInfo(&fi))) {
            printf("graph: filter \"%s\" %s\n", Narrow(fi.achName).c_str(), GuidText(clsid).c_str());
            if (fi.pGraph)
                fi.pGraph->Release();
        }
        Ptr<IEnumPins> pins;
        IPin* pin;
        if (SUCCEEDED(f->EnumPins(&pins)))
            while (pins->Next(1, &pin, nullptr) == S_OK) {
                PIN_INFO pi, qi;
                Ptr<IPin> peer;
                if (SUCCEEDED(pin->QueryPinInfo(&pi))) {
                    if (pi.dir == PINDIR_OUTPUT && pin->ConnectedTo(&peer) == S_OK &&
                        SUCCEEDED(peer->QueryPinInfo(&qi))) {
                        FILTER_INFO to;
                        std::string toName = "?";
                        if (qi.pFilter && SUCCEEDED(qi.pFilter->QueryFilterInfo(&to))) {
                            toName = Narrow(to.achName);
                            if (to.pGraph)
                                to.pGraph->Release();
                        }
                        printf("graph:   \"%s\" -> \"%s\".\"%s\" (%s)\n", Narrow(pi.achName).c_str(),
                               toName.c_str(), Narrow(qi.achName).c_str(),
                               GuidText(MajorTypeOf(pin)).c_str());
                        if (qi.pFilter)
                            qi.pFilter->Release();
                    }
                    if (pi.pFilter)
                        pi.pFilter->Release();
                }
                pin->Release();
            }
        f->Release();
    }
}

HRESULT Player::Build() {
    m_growing = WriterActive(m_file);
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  (void**)&m_graph);
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = m_control.QueryFrom(m_graph.Get(), IID_IMediaControl)) ||
        FAILED(hr = m_events.QueryFrom(m_graph.Get(), IID_IMediaEventEx)))
        return hr;

    // The timed sink: a sample grabber that takes any video the branch
    // offers (or audio, with --timed audio), timing each picture or buffer
    // through its callback.
    if (FAILED(hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     (void**)&m_grabberFilter)) ||
        FAILED(hr = m_grabber.QueryFrom(m_grabberFilter.Get(), IID_ISampleGrabber)) ||
        FAILED(hr = SetTimedMajor(m_o.timeAudio ? MEDIATYPE_Audio : MEDIATYPE_Video)) ||
        FAILED(hr = m_grabber->SetBufferSamples(FALSE)) ||
        FAILED(hr = m_grabber->SetOneShot(FALSE)) || FAILED(hr = m_grabber->SetCallback(&m_clock, 0)))
        return hr;

    if (m_o.renderFile) {
        // The graph manager chooses the source (check bytes) and renders
        // every stream; the player's sinks then replace its renderers.
        if (FAILED(hr = m_graph->RenderFile(m_o.file.c_str(), nullptr)))
            return hr;
        FindSource();
        if (!m_source)
            return VFW_E_NOT_FOUND;
        if (FAILED(hr = m_graph->AddFilter(m_grabberFilter.Get(), L"Frame clock")))
            return hr;
    } else {
        if (m_o.pickSource) {
            // The graph manager chooses the source by the check bytes.
            if (FAILED(hr = m_graph->AddSourceFilter(m_o.file.c_str(), L"Source", &m_source)))
                return hr;
        } else {
            Ptr<IFileSourceFilter> load;
            hr = AddNew(m_o.source, L"Source", &m_source);
            if (hr == REGDB_E_CLASSNOTREG && !m_o.sourceGiven) {
                printf(
                    "player: OrvexFileSource.dll is not registered (regsvr32 it); playing through "
                    "the platform's reader\n");
                hr = AddNew(CLSID_AsyncReader, L"Source", &m_source);
            }
            if (FAILED(hr) || FAILED(hr = load.QueryFrom(m_source.Get(), IID_IFileSourceFilter)))
                return hr;
            StartSampling();
            if (m_o.waitMargin >= 0 && (!m_orvex || FAILED(hr = m_orvex->SetBuffSize((DWORD)m_o.waitMargin))))
                return m_orvex ? hr : E_NOINTERFACE;
            if (FAILED(hr = load->Load(m_o.file.c_str(), nullptr)))
                return hr;
        }
        // The source's pin straight to the grabber: the graph manager puts
        // the splitter (and any decoder) between. Rendering the pin instead
        // fails without a display, where no video renderer can be created.
        // A stream without pictures (a radio recording) is timed by its
        // sound: the graph manager takes the splitter out again when none of
        // its pins fits, and the pin is connected once more to the grabber
        // for audio.
        Ptr<IPin> out, in;
        if (FAILED(hr = m_graph->AddFilter(m_grabberFilter.Get(), L"Frame clock")) ||
            FAILED(hr = FirstPin(m_source.Get(), PINDIR_OUTPUT, &out)) ||
            FAILED(hr = FirstPin(m_grabberFilter.Get(), PINDIR_INPUT, &in)))
            return hr;
        hr = m_graph->Connect(out.Get(), in.Get());
        if (FAILED(hr) && !m_o.timeAudio) {
            Ptr<IPin> peer;
            if (out->ConnectedTo(&peer) != S_OK && SUCCEEDED(SetTimedMajor(MEDIATYPE_Audio)) &&
                SUCCEEDED(m_graph->Connect(out.Get(), in.Get())))
                hr = S_OK;
            else
                SetTimedMajor(MEDIATYPE_Video);
        }
        if (FAILED(hr))
            return hr;
    }
    StartSampling();
    if (FAILED(hr = EndAllBranches()) || (m_timedMajor == MEDIATYPE_Audio && FAILED(hr = TimeAudio())))
        return hr;
    if (m_o.printGraph)
        PrintGraph();
    // Where the splitter ends the streams: for a file that was complete when
    // it connected, Wine's ends every stream at its duration, counted from
    // the first pack's clock, while the pictures and the sound keep their
    // own time stamps, which begin later: the end of the last one is cut.
    Ptr<IMediaSeeking> seeking;
    LONGLONG duration = 0;
    if (SUCCEEDED(seeking.QueryFrom(m_graph.Get(), IID_IMediaSeeking)) &&
        SUCCEEDED(seeking->GetDuration(&duration)) && duration > 0)
        m_streamEnd = (double)duration / 1e7;
    // Normal speed: the graph's clock paces the renderers.
    return m_graph->SetDefaultSyncSource();
}

// The audio the grabber takes: its bytes per second make each buffer's
// stream time.
HRESULT Player::TimeAudio() {
    AM_MEDIA_TYPE mt;
    HRESULT hr = m_grabber->GetConnectedMediaType(&mt);
    if (FAILED(hr))
        return hr;
    DWORD bytesPerSecond = 0;
    if (mt.formattype == FORMAT_WaveFormatEx && mt.cbFormat >= sizeof(WAVEFORMATEX))
        bytesPerSecond = ((WAVEFORMATEX*)mt.pbFormat)->nAvgBytesPerSec;
    CoTaskMemFree(mt.pbFormat);
    if (mt.pUnk)
        mt.pUnk->Release();
    if (!bytesPerSecond) {
        printf("player: the audio at the sink has no byte rate to time it by\n");
        return VFW_E_INVALIDMEDIATYPE;
    }
    m_clock.TimeAudio(bytesPerSecond);
    return S_OK;
}

double Player::FrameInterval() {
    AM_MEDIA_TYPE mt;
    double interval = 0;
    if (SUCCEEDED(m_grabber->GetConnectedMediaType(&mt))) {
        if ((mt.formattype == FORMAT_VideoInfo || mt.formattype == FORMAT_MPEGVideo) &&
            mt.cbFormat >= sizeof(VIDEOINFOHEADER))
            interval = ((VIDEOINFOHEADER*)mt.pbFormat)->AvgTimePerFrame / 1e7;
        else if ((mt.formattype == FORMAT_VideoInfo2 || mt.formattype == FORMAT_MPEG2Video) &&
                 mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
            interval = ((VIDEOINFOHEADER2*)mt.pbFormat)->AvgTimePerFrame / 1e7;
        CoTaskMemFree(mt.pbFormat);
        if (mt.pUnk)
            mt.pUnk->Release();
    }
    return interval > 0 ? interval : 0.04;
}

// Starts the sampling thread once, where the source offers its figures.
void Player::StartSampling() {
    if (m_sampling || FAILED(m_orvex.QueryFrom(m_source.Get(), IID_IOrvexFileSource)))
        return;
    m_samplingStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_samplingStop)
        m_sampling = CreateThread(nullptr, 0, SamplingThread, this, 0, nullptr);
}

void Player::StopSampling() {
    if (m_sampling) {
        SetEvent(m_samplingStop);
        WaitForSingleObject(m_sampling, INFINITE);
        CloseHandle(m_sampling);
        m_sampling = nullptr;
    }
    if (m_samplingStop)
        CloseHandle(m_samplingStop);
    m_samplingStop = nullptr;
}

DWORD WINAPI Player::SamplingThread(void* player) {
    Player* p = static_cast<Player*>(player);
    do
        p->Sample();
    while (WaitForSingleObject(p->m_samplingStop, 100) == WAIT_TIMEOUT);
    return 0;
}

// Reads the source's own figures; with --progress, prints them once a second
// until the graph runs (Load and connecting wait while a short recording
// grows), after which the main thread prints.
void Player::Sample() {
    LONGLONG size = 0, pos = 0;
    LONG writeRate = 0, readRate = 0;
    DWORD wait = 0, margin = 0;
    const bool sized =
        SUCCEEDED(m_orvex->GetFileSize(&size, &writeRate)) && SUCCEEDED(m_orvex->GetReadPos(&pos, &readRate));
    const bool waited = SUCCEEDED(m_orvex->GetWaitSize(&wait));
    const bool margined = SUCCEEDED(m_orvex->GetBuffSize(&margin));
    const double now = Now();
    bool print = false;
    EnterCriticalSection(&m_figuresLock);
    Figures& f = m_figures;
    if (margined)
        f.margin = margin;
    if (sized) {
        f.fileSize = size;
        f.readPos = pos;
        f.writeRate = writeRate;
        f.readRate = readRate;
        if (m_running && size - pos > f.maxLagBytes)
            f.maxLagBytes = size - pos;
    }
    if (waited) {
        f.waitSize = wait;
        if (wait)
            ++(m_running ? f.waitingRunning : f.waitingBeforeRun);
        if (wait && m_running)
            m_waits.push_back(now);
    }
    const Figures copy = f;
    if (!m_running)
        print = ProgressDueLocked(now);
    LeaveCriticalSection(&m_figuresLock);
    if (print) {
        player::FrameSummary none;
        none.frames = m_clock.Count();
        PrintProgress(now, none, copy);
    }
}

// Called with m_figuresLock held.
bool Player::ProgressDueLocked(double now) {
    if (!m_o.progress || now - m_t0 < m_nextProgress)
        return false;
    while (m_nextProgress <= now - m_t0)
        m_nextProgress += 1;
    return true;
}

void Player::PrintProgress(double now, const player::FrameSummary& s, const Figures& f) {
    char line[320];
    int n = snprintf(line, sizeof(line), "progress: t=%.1fs frames=%zu stalls=%zu source_stalls=%zu", now - m_t0,
                     s.frames, s.stalls, s.sourceStalls);
    if (m_clock.IsAudio())
        n += snprintf(line + n, sizeof(line) - n, " audio_s=%.2f", m_clock.AudioSeconds());
    if (m_orvex)
        snprintf(line + n, sizeof(line) - n, " size=%lld growth=%ld readpos=%lld readrate=%ld lag=%lld wait=%lu",
                 (long long)f.fileSize, (long)f.writeRate, (long long)f.readPos, (long)f.readRate,
                 (long long)(f.fileSize - f.readPos), (unsigned long)f.waitSize);
    printf("%s\n", line);
    fflush(stdout);
}

Player::Figures Player::Snapshot() {
    EnterCriticalSection(&m_figuresLock);
    const Figures f = m_figures;
    LeaveCriticalSection(&m_figuresLock);
    return f;
}

// Stops the graph while a read of the source waits for the file to grow, and
// times Stop and the end of that read's wait (the source's missing byte count
// returns to 0 when the read goes on).
bool Player::StopWhileWaiting() {
    const DWORD missing = Snapshot().waitSize;
    const double t0 = Now();
    const HRESULT hr = m_control->Stop();
    const double stopped = Now();
    DWORD wait = missing;
    while (wait && Now() - t0 < 5 && SUCCEEDED(m_orvex->GetWaitSize(&wait)) && wait)
        Sleep(5);
    const double stopMs = (stopped - t0) * 1000, readMs = (Now() - t0) * 1000;
    printf(
        "player: stopped while a read waited for growth: missing=%lu stop=0x%08lX stop_ms=%.0f "
        "read_end_ms=%.0f\n",
        (unsigned long)missing, (unsigned long)hr, stopMs, wait ? -1.0 : readMs);
    const double limit = m_o.stopLimitSeconds * 1000;
    if (FAILED(hr) || wait || stopMs > limit || readMs > limit) {
        printf("player: Stop and the waiting read must end within %.0f ms\n", limit);
        return false;
    }
    return true;
}

// Pauses, loads the second file into the source and runs again.
bool Player::SwitchFile() {
    OAFilterState state;
    HRESULT hr = m_control->Pause();
    if (SUCCEEDED(hr))
        hr = m_control->GetState(5000, &state);
    if (FAILED(hr) || hr == VFW_S_STATE_INTERMEDIATE) {
        printf("player: Pause before the switch failed: 0x%08lX\n", (unsigned long)hr);
        return false;
    }
    Ptr<IFileSourceFilter> load;
    m_framesBeforeSwitch = m_clock.Count();
    const double t0 = Now();
    m_switchResult = load.QueryFrom(m_source.Get(), IID_IFileSourceFilter);
    if (SUCCEEDED(m_switchResult))
        m_switchResult = load->Load(m_o.switchFile.c_str(), nullptr);
    printf("player: switched to the second file in %.0f ms: 0x%08lX\n", (Now() - t0) * 1000,
           (unsigned long)m_switchResult);
    m_switched = true;
    m_file = m_o.switchFile;
    m_switchRunning = Now();
    hr = m_control->Run();
    if (FAILED(hr)) {
        printf("player: Run after the switch failed: 0x%08lX\n", (unsigned long)hr);
        return false;
    }
    return true;
}

// The interval stalls are measured against: a picture's at the sink, or the
// audio buffers' average length.
double Player::Interval(double videoInterval) {
    if (!m_clock.IsAudio())
        return videoInterval;
    const size_t n = m_clock.Count();
    const double seconds = m_clock.AudioSeconds();
    return n && seconds > 0 ? seconds / (double)n : videoInterval;
}

player::FrameSummary Player::Summarize(double interval, double running) {
    EnterCriticalSection(&m_figuresLock);
    const std::vector<double> waits = m_waits;
    LeaveCriticalSection(&m_figuresLock);
    return m_clock.Summary(interval, running, &waits);
}

int Player::Play() {
    const double videoInterval = FrameInterval();
    HANDLE event = nullptr;
    m_events->GetEventHandle((OAEVENT*)&event);
    // Pause first and let the graph cue: the clock starts once the pipeline
    // holds its first frames, so that they are not late from the start.
    const double cueStart = Now();
    HRESULT hr = m_control->Pause();
    // The cue is polled: with seeking off a read waits for growth in every
    // state, so a recording that does not grow can hold it, and
    // --stop-when-waiting stops the graph there too.
    OAFilterState state;
    bool waitingInCue = false;
    while (SUCCEEDED(hr)) {
        hr = m_control->GetState(100, &state);
        if (hr != VFW_S_STATE_INTERMEDIATE || Now() - cueStart >= m_o.timeoutSeconds)
            break;
        if (m_o.stopLimitSeconds >= 0 && m_orvex && Snapshot().waitSize > 0) {
            waitingInCue = true;
            break;
        }
    }
    m_cueSeconds = Now() - cueStart;
    const char* end = "timeout";
    bool stopFailed = false;
    if (waitingInCue) {
        stopFailed = !StopWhileWaiting();
        end = "stopped";
    } else if (FAILED(hr) || hr == VFW_S_STATE_INTERMEDIATE) {
        printf("player: Pause failed: 0x%08lX\n", (unsigned long)hr);
        return kGraphFailed;
    }
    const double start = Now();
    EnterCriticalSection(&m_figuresLock);
    m_running = true;
    LeaveCriticalSection(&m_figuresLock);
    if (!waitingInCue && FAILED(hr = m_control->Run())) {
        printf("player: Run failed: 0x%08lX\n", (unsigned long)hr);
        return kGraphFailed;
    }
    if (m_o.page && !waitingInCue) {
        m_pageFrame.Open(m_source.Get());
        // The frame opens at the screen's corner: the video goes beside it.
        Ptr<IVideoWindow> video;
        if (m_videoWindow && SUCCEEDED(video.QueryFrom(m_graph.Get(), IID_IVideoWindow)))
            video->put_Left(520);
    }
    long errorCode = 0;
    LONGLONG finalSize = -1;
    for (bool done = waitingInCue; !done;) {
        WaitForSingleObject(event, 100);
        long code;
        LONG_PTR p1, p2;
        while (m_events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
            m_events->FreeEventParams(code, p1, p2);
            if (code == EC_COMPLETE) {
                end = "complete";
                done = true;
            } else if (code == EC_ERRORABORT || code == EC_ERRORABORTEX || code == EC_USERABORT) {
                end = "error";
                errorCode = (long)p1;
                done = true;
            }
        }
        const double now = Now(), elapsed = now - start;
        const Figures f = Snapshot();
        const player::FrameSummary s = Summarize(Interval(videoInterval), start);
        if (!done && m_o.stopLimitSeconds >= 0 && s.frames > 0 && f.waitSize > 0) {
            if (!StopWhileWaiting())
                stopFailed = true;
            end = "stopped";
            done = true;
        }
        if (!done && !m_o.switchFile.empty() && !m_switched && (long)s.frames >= m_o.switchAfter) {
            if (!SwitchFile()) {
                end = "error";
                done = true;
            }
        }
        if (!done && s.lastSeconds >= 0 && now - s.lastSeconds >= m_o.idleSeconds && !WriterActive(m_file)) {
            // A growing file's end: the writer is gone, the source has read
            // all of it, and nothing more arrives. The source tells where its
            // last read began; the splitter reads in blocks (Wine's are at
            // most 131,077 bytes), so the last one begins within a block of
            // the end.
            finalSize = FileSizeOf(m_file);
            if (!m_orvex || (f.readPos >= 0 && f.readPos + kLastReadAllowance >= finalSize)) {
                end = "idle";
                done = true;
            }
        }
        if (!done && elapsed >= m_o.timeoutSeconds)
            done = true;
        EnterCriticalSection(&m_figuresLock);
        const bool due = ProgressDueLocked(now);
        LeaveCriticalSection(&m_figuresLock);
        if (m_o.progress && (done || due))
            PrintProgress(now, s, f);
    }
    const double elapsed = Now() - start;
    if (m_o.page && m_o.pageHoldSeconds > 0 && m_pageFrame.IsOpen()) {
        // The page stays up with the last figures, for a look or a screenshot.
        printf("player: the page stays open %.1f s at the end\n", m_o.pageHoldSeconds);
        fflush(stdout);
        Sleep((DWORD)(m_o.pageHoldSeconds * 1000));
    }
    m_pageFrame.Close();
    m_control->Stop();
    StopSampling();
    const Figures f = Snapshot();
    // After a switch, stalls count from the second run on.
    const double interval = Interval(videoInterval);
    const player::FrameSummary s = Summarize(interval, m_switched ? m_switchRunning : start);
    const bool audio = m_clock.IsAudio();
    // The stream time the sink got: the pictures', or the audio's.
    const double mediaSeconds = audio ? m_clock.AudioSeconds() : (double)s.frames * interval;
    long wantFrames = m_o.expectFrames;
    if (wantFrames >= 0 && m_o.frameRate > 0)
        wantFrames = player::PicturesAtSink(m_o.expectFrames, m_o.frameRate, interval);
    double wantSeconds = m_o.expectSeconds;
    // A splitter that ends the streams before their last time stamps plays
    // what begins before its end (counted from the first arrival's time).
    const double firstStreamTime = m_clock.StreamTime(0);
    bool cut = false;
    if (m_streamEnd > 0 && firstStreamTime >= 0 && !m_switched) {
        const double span = m_streamEnd - firstStreamTime;
        const long before = player::PicturesBefore(m_streamEnd, firstStreamTime, interval, wantFrames);
        if (wantFrames > before) {
            wantFrames = before;
            cut = true;
        }
        if (wantSeconds > span) {
            wantSeconds = span;
            cut = true;
        }
    }
    if (finalSize < 0)
        finalSize = FileSizeOf(m_file);

    CLSID sourceClsid = GUID_NULL;
    m_source->GetClassID(&sourceClsid);
    printf("player: frames=%zu stalls=%zu source_stalls=%zu downstream_stalls=%zu end=%s", s.frames, s.stalls,
           s.sourceStalls, s.downstreamStalls, end);
    if (!audio && wantFrames >= 0)
        printf(" expected_frames=%ld", wantFrames);
    if (wantSeconds >= 0)
        printf(" expected_s=%.2f", wantSeconds);
    printf(" timed=%s media_s=%.2f first_stream_time=%.3f", audio ? "audio" : "video", mediaSeconds, firstStreamTime);
    if (m_streamEnd > 0)
        printf(" stream_end_s=%.3f%s", m_streamEnd, cut ? " cut_at_stream_end=yes" : "");
    if (errorCode)
        printf(" error=0x%08lX", (unsigned long)errorCode);
    printf(" cue_ms=%.0f cued_frames=%zu", m_cueSeconds * 1000, s.cued);
    printf(" first_frame_ms=%.0f largest_gap_ms=%.0f frame_interval_ms=%.1f play_s=%.2f size=%lld",
           s.firstSeconds >= 0 ? (s.firstSeconds - start) * 1000 : -1.0, s.largestGap * 1000, interval * 1000,
           elapsed, (long long)finalSize);
    // For a file that was growing, the lag in seconds at the recording's
    // average rate; the waits as the samples saw them, before the graph ran
    // (Load, connecting, cueing) and while it ran.
    if (m_orvex && finalSize > 0 && s.frames > 0) {
        printf(" read_pos=%lld", (long long)f.readPos);
        if (m_growing)
            printf(" max_lag_bytes=%lld max_lag_s=%.2f", (long long)f.maxLagBytes,
                   (double)f.maxLagBytes * mediaSeconds / (double)finalSize);
        printf(" waiting_s=%.1f/%.1f margin=%lu", f.waitingBeforeRun * 0.1, f.waitingRunning * 0.1,
               (unsigned long)f.margin);
    }
    printf(" source=%s video=%s\n", GuidText(sourceClsid).c_str(), m_videoWindow ? "window" : "null");
    long switchFrames = -1;
    if (m_switched) {
        // The second file's frames begin where the stream times start again;
        // frames of the first file may still arrive after Load.
        const size_t first = m_clock.RestartFrom(m_framesBeforeSwitch);
        switchFrames = (long)(s.frames - first);
        printf(
            "player: switch: load=0x%08lX first_file_frames=%zu second_file_frames=%ld "
            "first_stream_time=%.3f\n",
            (unsigned long)m_switchResult, first, switchFrames, m_clock.StreamTime(first));
    }
    fflush(stdout);

    int rc = kOk;
    if (stopFailed)
        rc = kCheckFailed;
    if (!m_o.switchFile.empty() && (!m_switched || FAILED(m_switchResult))) {
        printf("player: the source did not take the second file\n");
        rc = kCheckFailed;
    }
    if (m_o.expectSwitchFrames >= 0 && switchFrames != m_o.expectSwitchFrames) {
        printf("player: expected %ld frames of the second file, %ld reached the sink\n",
               m_o.expectSwitchFrames, switchFrames);
        rc = kCheckFailed;
    }
    if (wantFrames >= 0 && (audio || (long)s.frames != wantFrames)) {
        if (audio)
            printf("player: expected %ld frames, the stream has no video at the sink\n", wantFrames);
        else
            printf("player: expected %ld frames, %zu reached the sink\n", wantFrames, s.frames);
        rc = kCheckFailed;
    }
    if (wantSeconds >= 0 && mediaSeconds + kStreamTimeAllowance < wantSeconds) {
        printf("player: expected %.2f s of %s, %.2f s reached the sink\n", wantSeconds,
               audio ? "audio" : "pictures", mediaSeconds);
        rc = kCheckFailed;
    }
    if (s.sourceStalls) {
        printf("player: %zu stalls (gaps over %.0f ms) while a read waited for the recorder\n", s.sourceStalls,
               player::FrameTimes::StallLimit(interval) * 1000);
        rc = kCheckFailed;
    }
    if (s.downstreamStalls) {
        printf("player: %zu stalls (gaps over %.0f ms) with no read waiting: decoding or rendering fell behind\n",
               s.downstreamStalls, player::FrameTimes::StallLimit(interval) * 1000);
        if (m_o.downstreamFails)
            rc = kCheckFailed;
    }
    if (m_o.expectSource && sourceClsid != m_o.expectedSource) {
        printf("player: the source filter is %s, expected %s\n", GuidText(sourceClsid).c_str(),
               GuidText(m_o.expectedSource).c_str());
        rc = kCheckFailed;
    }
    if (!strcmp(end, "error") && rc == kOk)
        rc = kGraphFailed;
    if (!strcmp(end, "timeout"))
        rc = kTimedOut;
    return rc;
}

int Usage() {
    fprintf(
        stderr,
        "usage: player FILE [--source CLSID|auto] [--renderfile] [--video auto|null|window] [--timeout S]\n"
        "              [--idle MS] [--timed video|audio] [--expect-frames N [--frame-rate R]]\n"
        "              [--expect-seconds S] [--downstream-stalls fail|report] [--expect-source CLSID]\n"
        "              [--progress] [--graph] [--log-frames] [--page [--page-hold MS]]\n"
        "              [--stop-when-waiting MS] [--wait-margin BYTES]\n"
        "              [--switch FILE --switch-after N [--expect-switch-frames N]]\n");
    return kUsage;
}

// A full path: a Unix path given under Wine names the same file on the
// current (Unix root) drive.
bool FullPath(const char* arg, std::wstring& out) {
    WCHAR w[MAX_PATH], full[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, arg, -1, w, MAX_PATH) ||
        !GetFullPathNameW(w, MAX_PATH, full, nullptr))
        return false;
    out = full;
    return true;
}

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--renderfile") {
            o.renderFile = true;
        } else if (a == "--progress") {
            o.progress = true;
        } else if (a == "--log-frames") {
            o.logFrames = true;
        } else if (a == "--page") {
            o.page = true;
        } else if (a == "--graph") {
            o.printGraph = true;
        } else if (a.compare(0, 2, "--") == 0) {
            if (!hasValue)
                return false;
            const char* v = argv[++i];
            if (a == "--source") {
                o.pickSource = !strcmp(v, "auto");
                o.sourceGiven = true;
                if (!o.pickSource && !ParseGuid(v, o.source))
                    return false;
            } else if (a == "--expect-source") {
                o.expectSource = ParseGuid(v, o.expectedSource);
                if (!o.expectSource)
                    return false;
            } else if (a == "--video") {
                if (strcmp(v, "auto") && strcmp(v, "null") && strcmp(v, "window"))
                    return false;
                o.videoAuto = !strcmp(v, "auto");
                o.videoWindow = !strcmp(v, "window");
            } else if (a == "--timeout") {
                o.timeoutSeconds = strtod(v, nullptr);
            } else if (a == "--idle") {
                o.idleSeconds = strtod(v, nullptr) / 1000;
            } else if (a == "--expect-frames") {
                o.expectFrames = strtol(v, nullptr, 0);
            } else if (a == "--frame-rate") {
                // A fraction as ffprobe gives it (25/1, 30000/1001) or a number.
                char* rest = nullptr;
                o.frameRate = strtod(v, &rest);
                if (rest && *rest == '/')
                    o.frameRate /= strtod(rest + 1, nullptr);
                if (!(o.frameRate > 0))
                    return false;
            } else if (a == "--expect-seconds") {
                o.expectSeconds = strtod(v, nullptr);
            } else if (a == "--timed") {
                if (strcmp(v, "video") && strcmp(v, "audio"))
                    return false;
                o.timeAudio = !strcmp(v, "audio");
            } else if (a == "--downstream-stalls") {
                if (strcmp(v, "fail") && strcmp(v, "report"))
                    return false;
                o.downstreamFails = !strcmp(v, "fail");
            } else if (a == "--page-hold") {
                o.pageHoldSeconds = strtod(v, nullptr) / 1000;
            } else if (a == "--stop-when-waiting") {
                o.stopLimitSeconds = strtod(v, nullptr) / 1000;
            } else if (a == "--switch") {
                if (!FullPath(v, o.switchFile))
                    return false;
            } else if (a == "--switch-after") {
                o.switchAfter = strtol(v, nullptr, 0);
            } else if (a == "--expect-switch-frames") {
                o.expectSwitchFrames = strtol(v, nullptr, 0);
            } else if (a == "--wait-margin") {
                o.waitMargin = strtol(v, nullptr, 0);
            } else {
                return false;
            }
        } else if (o.file.empty()) {
            if (!FullPath(argv[i], o.file))
                return false;
        } else {
            return false;
        }
    }
    return !o.file.empty() && o.timeoutSeconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o))
        return Usage();
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return kGraphFailed;
    int rc;
    {
        const double t0 = Now();
        Player p(o);
        const HRESULT hr = p.Build();
        printf("player: graph built in %.0f ms: 0x%08lX\n", (Now() - t0) * 1000, (unsigned long)hr);
        fflush(stdout);
        rc = FAILED(hr) ? kGraphFailed : p.Play();
    }
    CoUninitialize();
    return rc;
}
