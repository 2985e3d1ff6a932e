// Plays a media file through a DirectShow filter graph and reports what
// reached the video sink: frames, their timing (stalls), and, where the source
// filter offers its control interface, how far reading lagged behind the end
// of a growing file. Windows only; the project runs it under Wine.
//
//   player FILE [--source CLSID|auto] [--renderfile] [--video null|window]
//               [--timeout S] [--idle MS] [--expect-frames N] [--expect-source CLSID]
//               [--progress] [--graph] [--log-frames] [--page]
//
// The graph is built explicitly by default: the source filter (CLSID, by
// default the platform's "File Source (Async.)") is created, added and loaded,
// and its output pin connected to the sample grabber, the graph manager
// putting the splitter between (rendering the pin would need a video renderer,
// which cannot be created without a display). --source auto lets the graph
// manager choose the source by the file's check bytes (AddSourceFilter);
// --renderfile lets it build the whole graph (RenderFile), whose renderers
// are then replaced. Either way the video branch ends in a sample grabber that
// times every frame, followed by a null renderer or, with --video window, a
// real video renderer (it needs a display); every other branch ends in a null
// renderer. Playback runs at normal speed against the graph clock. --graph
// prints the graph, --log-frames every frame's arrival and stream time.
// --page opens the source's property pages in the platform's property frame
// while the graph runs (it needs a display) and closes it at the end.
//
// It stops at EC_COMPLETE, or, for a file that was growing, once its writer
// has closed it, the source has read up to its final size (when the source
// tells) and no frame has arrived for --idle milliseconds. Once done it prints
// one line of figures beginning "player:". Exit codes: 0 success, 1 a check
// failed, 2 usage, 3 the graph could not be built or run, 4 time-out.
//
// Threads: the main thread builds and runs the graph and waits on the graph's
// event handle with a 100 ms time-out (woken by graph events or the time-out).
// The sample grabber's callback runs on the graph's streaming thread (woken
// by the upstream filter delivering a sample); it only records a time.
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

// qedit's classes: mingw-w64's libstrmiids defines them, its headers do not.
EXTERN_C const CLSID CLSID_SampleGrabber;
EXTERN_C const CLSID CLSID_NullRenderer;

namespace {

enum ExitCode { kOk = 0, kCheckFailed = 1, kUsage = 2, kGraphFailed = 3, kTimedOut = 4 };

struct Options {
    std::wstring file;
    CLSID source = CLSID_AsyncReader;
    bool pickSource = false;  // --source auto
    bool renderFile = false;
    bool videoWindow = false;
    double timeoutSeconds = 120;
    double idleSeconds = 1.0;
    long expectFrames = -1;
    bool expectSource = false;
    CLSID expectedSource = GUID_NULL;
    bool progress = false;
    bool printGraph = false;
    bool logFrames = false;
    bool page = false;
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

double Now() {
    static LARGE_INTEGER freq;
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
}

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

// Times every video frame that passes the sample grabber. Static lifetime:
// the grabber may hold it until the graph is gone, so it is not counted.
class FrameClock : public ISampleGrabberCB {
public:
    FrameClock() {
        InitializeCriticalSection(&m_cs);
        m_times.Reserve(1 << 16);
    }
    ~FrameClock() { DeleteCriticalSection(&m_cs); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
            *ppv = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double sampleTime, IMediaSample*) override {
        const double t = Now();
        if (m_log)
            fprintf(stderr, "frame: arrival=%.3f stream_time=%.3f\n", t, sampleTime);
        EnterCriticalSection(&m_cs);
        m_times.Add(t);
        LeaveCriticalSection(&m_cs);
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, LONG) override { return S_OK; }

    void LogFrames() { m_log = true; }
    player::FrameSummary Summary(double interval, double running) {
        EnterCriticalSection(&m_cs);
        const player::FrameSummary s = m_times.Summarize(interval, running);
        LeaveCriticalSection(&m_cs);
        return s;
    }

private:
    CRITICAL_SECTION m_cs;
    player::FrameTimes m_times;
    bool m_log = false;
};

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

// The source's property pages in the platform's property frame. The frame
// is modal on a thread of its own (woken by the window system; ended by the
// WM_CLOSE that Close posts to its windows).
class PageFrame {
public:
    ~PageFrame() { Close(); }
    void Open(IBaseFilter* source) {
        ISpecifyPropertyPages* pages = nullptr;
        if (FAILED(source->QueryInterface(IID_ISpecifyPropertyPages, (void**)&pages)))
            return;
        const HRESULT hr = pages->GetPages(&m_pages);
        pages->Release();
        if (FAILED(hr) || !m_pages.cElems)
            return;
        m_source = source;
        m_source->AddRef();
        m_thread = CreateThread(nullptr, 0, Run, this, 0, &m_tid);
    }
    void Close() {
        if (!m_thread)
            return;
        // The frame may still be opening: close what is there until the
        // thread ends.
        for (int i = 0; i < 50 && WaitForSingleObject(m_thread, 100) == WAIT_TIMEOUT; ++i)
            EnumWindows(
                [](HWND h, LPARAM tid) -> BOOL {
                    if (GetWindowThreadProcessId(h, nullptr) == (DWORD)tid)
                        PostMessageW(h, WM_CLOSE, 0, 0);
                    return TRUE;
                },
                (LPARAM)m_tid);
        CloseHandle(m_thread);
        m_thread = nullptr;
        m_source->Release();
        CoTaskMemFree(m_pages.pElems);
        m_pages = {};
    }

private:
    static DWORD WINAPI Run(LPVOID pv) {
        PageFrame* p = static_cast<PageFrame*>(pv);
        OleInitialize(nullptr);
        IUnknown* object = p->m_source;
        OleCreatePropertyFrame(nullptr, 660, 20, L"TallowFileSource", 1, &object, p->m_pages.cElems,
                               p->m_pages.pElems, 0, 0, nullptr);
        OleUninitialize();
        return 0;
    }

    IBaseFilter* m_source = nullptr;
    CAUUID m_pages = {};
    HANDLE m_thread = nullptr;
    DWORD m_tid = 0;
};

class Player {
public:
    explicit Player(const Options& o) : m_o(o) {
        if (o.logFrames)
            m_clock.LogFrames();
    }
    ~Player() {
        if (m_control)
            m_control->Stop();
    }

    HRESULT Build();
    int Play();

private:
    HRESULT AddNew(REFCLSID clsid, const WCHAR* name, IBaseFilter** out);
    HRESULT ConnectVideoSink();
    HRESULT EndBranch(IPin* pin);
    HRESULT EndAllBranches();
    void FindSource();
    void PrintGraph();
    double FrameInterval();
    void Sample();

    const Options& m_o;
    Ptr<IGraphBuilder> m_graph;
    Ptr<IMediaControl> m_control;
    Ptr<IMediaEventEx> m_events;
    Ptr<IBaseFilter> m_source;
    Ptr<IBaseFilter> m_grabberFilter;
    Ptr<ISampleGrabber> m_grabber;
    Ptr<IOrvexFileSource> m_orvex;
    FrameClock m_clock;
    PageFrame m_pageFrame;
    bool m_videoEnded = false;  // the grabber and the video sink are connected
    int m_nullRenderers = 0;

    // Figures sampled while playing.
    LONGLONG m_fileSize = -1, m_readPos = -1, m_maxLagBytes = 0;
    DWORD m_waitSize = 0;
    LONG m_writeRate = 0, m_readRate = 0;  // bytes per second, as the source measures them
    double m_cueSeconds = 0;
};

HRESULT Player::AddNew(REFCLSID clsid, const WCHAR* name, IBaseFilter** out) {
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void**)out);
    if (SUCCEEDED(hr))
        hr = m_graph->AddFilter(*out, name);
    return hr;
}

// The grabber's output to the video sink: a null renderer, or a real video
// renderer with --video window.
HRESULT Player::ConnectVideoSink() {
    Ptr<IPin> out, sinkIn;
    Ptr<IBaseFilter> sink;
    HRESULT hr = AddNew(m_o.videoWindow ? CLSID_VideoRenderer : CLSID_NullRenderer, L"Video sink", &sink);
    if (FAILED(hr) || FAILED(hr = FirstPin(m_grabberFilter.Get(), PINDIR_OUTPUT, &out)) ||
        FAILED(hr = FirstPin(sink.Get(), PINDIR_INPUT, &sinkIn)) ||
        FAILED(hr = m_graph->Connect(out.Get(), sinkIn.Get())))
        return hr;
    m_videoEnded = true;
    return S_OK;
}

// Ends one output branch: the first video branch in the sample grabber and
// the sink behind it, any other in a null renderer of its own.
HRESULT Player::EndBranch(IPin* pin) {
    HRESULT hr;
    if (!m_videoEnded && MajorTypeOf(pin) == MEDIATYPE_Video) {
        Ptr<IPin> in;
        if (FAILED(hr = FirstPin(m_grabberFilter.Get(), PINDIR_INPUT, &in)) ||
            FAILED(hr = m_graph->Connect(pin, in.Get())))
            return hr;
        return ConnectVideoSink();
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
        grabberIn->ConnectedTo(&grabberPeer) == S_OK)
        hr = ConnectVideoSink();
    // Video first, so that the first video branch gets the grabber.
    for (int pass = 0; pass < 2; ++pass)
        for (IPin*& pin : open) {
            if (!pin || (pass == 0 && MajorTypeOf(pin) != MEDIATYPE_Video))
                continue;
            const HRESULT one = EndBranch(pin);
            if (FAILED(one)) {
                fprintf(stderr, "player: a %s branch could not be ended: 0x%08lX\n",
                        MajorTypeOf(pin) == MEDIATYPE_Video ? "video" : "non-video", (unsigned long)one);
                if (SUCCEEDED(hr))
                    hr = one;
            }
            pin->Release();
            pin = nullptr;
        }
    for (IBaseFilter* filter : filters)
        filter->Release();
    return m_videoEnded ? S_OK : (FAILED(hr) ? hr : VFW_E_CANNOT_RENDER);
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
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  (void**)&m_graph);
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = m_control.QueryFrom(m_graph.Get(), IID_IMediaControl)) ||
        FAILED(hr = m_events.QueryFrom(m_graph.Get(), IID_IMediaEventEx)))
        return hr;

    // The video sink: a sample grabber that takes any video the branch
    // offers, timing each frame through its callback.
    AM_MEDIA_TYPE mt = {};
    mt.majortype = MEDIATYPE_Video;
    if (FAILED(hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     (void**)&m_grabberFilter)) ||
        FAILED(hr = m_grabber.QueryFrom(m_grabberFilter.Get(), IID_ISampleGrabber)) ||
        FAILED(hr = m_grabber->SetMediaType(&mt)) || FAILED(hr = m_grabber->SetBufferSamples(FALSE)) ||
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
            if (FAILED(hr = AddNew(m_o.source, L"Source", &m_source)) ||
                FAILED(hr = load.QueryFrom(m_source.Get(), IID_IFileSourceFilter)) ||
                FAILED(hr = load->Load(m_o.file.c_str(), nullptr)))
                return hr;
        }
        // The source's pin straight to the grabber: the graph manager puts
        // the splitter (and any decoder) between. Rendering the pin instead
        // fails without a display, where no video renderer can be created.
        Ptr<IPin> out, in;
        if (FAILED(hr = m_graph->AddFilter(m_grabberFilter.Get(), L"Frame clock")) ||
            FAILED(hr = FirstPin(m_source.Get(), PINDIR_OUTPUT, &out)) ||
            FAILED(hr = FirstPin(m_grabberFilter.Get(), PINDIR_INPUT, &in)) ||
            FAILED(hr = m_graph->Connect(out.Get(), in.Get())))
            return hr;
    }
    m_orvex.QueryFrom(m_source.Get(), IID_IOrvexFileSource);
    if (FAILED(hr = EndAllBranches()))
        return hr;
    if (m_o.printGraph)
        PrintGraph();
    // Normal speed: the graph's clock paces the renderers.
    return m_graph->SetDefaultSyncSource();
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

// Reads the source's own figures, where it offers them.
void Player::Sample() {
    if (!m_orvex)
        return;
    LONGLONG size = 0, pos = 0;
    DWORD wait = 0;
    if (SUCCEEDED(m_orvex->GetFileSize(&size, &m_writeRate)) &&
        SUCCEEDED(m_orvex->GetReadPos(&pos, &m_readRate))) {
        m_fileSize = size;
        m_readPos = pos;
        if (size - pos > m_maxLagBytes)
            m_maxLagBytes = size - pos;
    }
    if (SUCCEEDED(m_orvex->GetWaitSize(&wait)))
        m_waitSize = wait;
}

int Player::Play() {
    const double interval = FrameInterval();
    HANDLE event = nullptr;
    m_events->GetEventHandle((OAEVENT*)&event);
    // Pause first and let the graph cue: the clock starts once the pipeline
    // holds its first frames, so that they are not late from the start.
    const double cueStart = Now();
    HRESULT hr = m_control->Pause();
    OAFilterState state;
    if (SUCCEEDED(hr))
        hr = m_control->GetState((LONG)(m_o.timeoutSeconds * 1000), &state);
    m_cueSeconds = Now() - cueStart;
    if (FAILED(hr) || hr == VFW_S_STATE_INTERMEDIATE) {
        printf("player: Pause failed: 0x%08lX\n", (unsigned long)hr);
        return kGraphFailed;
    }
    const double start = Now();
    hr = m_control->Run();
    if (FAILED(hr)) {
        printf("player: Run failed: 0x%08lX\n", (unsigned long)hr);
        return kGraphFailed;
    }
    if (m_o.page) {
        m_pageFrame.Open(m_source.Get());
        // The frame opens at the screen's corner: the video goes beside it.
        Ptr<IVideoWindow> video;
        if (m_o.videoWindow && SUCCEEDED(video.QueryFrom(m_graph.Get(), IID_IVideoWindow)))
            video->put_Left(520);
    }
    const char* end = "timeout";
    long errorCode = 0;
    double nextProgress = 1.0;
    LONGLONG finalSize = -1;
    for (bool done = false; !done;) {
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
        Sample();
        const player::FrameSummary s = m_clock.Summary(interval, start);
        if (!done && s.lastSeconds >= 0 && now - s.lastSeconds >= m_o.idleSeconds &&
            !WriterActive(m_o.file)) {
            // A growing file's end: the writer is gone, the source has read
            // all of it, and nothing more arrives.
            finalSize = FileSizeOf(m_o.file);
            if (!m_orvex || (m_readPos >= 0 && m_readPos >= finalSize)) {
                end = "idle";
                done = true;
            }
        }
        if (!done && elapsed >= m_o.timeoutSeconds)
            done = true;
        if (m_o.progress && (done || elapsed >= nextProgress)) {
            nextProgress += 1.0;
            printf("progress: t=%.1fs frames=%zu stalls=%zu", elapsed, s.frames, s.stalls);
            if (m_orvex)
                printf(" size=%lld growth=%ld readpos=%lld readrate=%ld lag=%lld wait=%lu",
                       (long long)m_fileSize, (long)m_writeRate, (long long)m_readPos, (long)m_readRate,
                       (long long)(m_fileSize - m_readPos), (unsigned long)m_waitSize);
            printf("\n");
            fflush(stdout);
        }
    }
    const double elapsed = Now() - start;
    m_pageFrame.Close();
    m_control->Stop();
    const player::FrameSummary s = m_clock.Summary(interval, start);
    if (finalSize < 0)
        finalSize = FileSizeOf(m_o.file);

    CLSID sourceClsid = GUID_NULL;
    m_source->GetClassID(&sourceClsid);
    printf("player: frames=%zu stalls=%zu end=%s", s.frames, s.stalls, end);
    if (errorCode)
        printf(" error=0x%08lX", (unsigned long)errorCode);
    printf(" cue_ms=%.0f cued_frames=%zu", m_cueSeconds * 1000, s.cued);
    printf(" first_frame_ms=%.0f largest_gap_ms=%.0f frame_interval_ms=%.1f play_s=%.2f size=%lld",
           s.firstSeconds >= 0 ? (s.firstSeconds - start) * 1000 : -1.0, s.largestGap * 1000, interval * 1000,
           elapsed, (long long)finalSize);
    if (m_orvex && finalSize > 0 && s.frames > 0)
        printf(" read_pos=%lld max_lag_bytes=%lld max_lag_s=%.2f", (long long)m_readPos,
               (long long)m_maxLagBytes,
               (double)m_maxLagBytes * (double)s.frames * interval / (double)finalSize);
    printf(" source=%s\n", GuidText(sourceClsid).c_str());
    fflush(stdout);

    int rc = kOk;
    if (m_o.expectFrames >= 0 && (long)s.frames != m_o.expectFrames) {
        printf("player: expected %ld frames, %zu reached the sink\n", m_o.expectFrames, s.frames);
        rc = kCheckFailed;
    }
    if (s.stalls) {
        printf("player: %zu stalls (gaps over %.0f ms)\n", s.stalls,
               player::FrameTimes::StallLimit(interval) * 1000);
        rc = kCheckFailed;
    }
    if (m_o.expectSource && sourceClsid != m_o.expectedSource) {
        printf("player: the source filter is %s, expected %s\n", GuidText(sourceClsid).c_str(),
               GuidText(m_o.expectedSource).c_str());
        rc = kCheckFailed;
    }
    if (!strcmp(end, "error"))
        rc = kGraphFailed;
    if (!strcmp(end, "timeout"))
        rc = kTimedOut;
    return rc;
}

int Usage() {
    fprintf(
        stderr,
        "usage: player FILE [--source CLSID|auto] [--renderfile] [--video null|window] [--timeout S] [--idle "
        "MS]\n"
        "              [--expect-frames N] [--expect-source CLSID] [--progress] [--graph] [--log-frames]\n"
        "              [--page]\n");
    return kUsage;
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
                if (!o.pickSource && !ParseGuid(v, o.source))
                    return false;
            } else if (a == "--expect-source") {
                o.expectSource = ParseGuid(v, o.expectedSource);
                if (!o.expectSource)
                    return false;
            } else if (a == "--video") {
                if (strcmp(v, "null") && strcmp(v, "window"))
                    return false;
                o.videoWindow = !strcmp(v, "window");
            } else if (a == "--timeout") {
                o.timeoutSeconds = strtod(v, nullptr);
            } else if (a == "--idle") {
                o.idleSeconds = strtod(v, nullptr) / 1000;
            } else if (a == "--expect-frames") {
                o.expectFrames = strtol(v, nullptr, 0);
            } else {
                return false;
            }
        } else if (o.file.empty()) {
            // A full path: a Unix path given under Wine names the same file
            // on the current (Unix root) drive.
            WCHAR w[MAX_PATH], full[MAX_PATH];
            if (!MultiByteToWideChar(CP_ACP, 0, argv[i], -1, w, MAX_PATH) ||
                !GetFullPathNameW(w, MAX_PATH, full, nullptr))
                return false;
            o.file = full;
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
