// Building the player's graph: the source, the splitter the graph manager
// puts behind it, the sample grabber that times the pictures (or the sound)
// and the sinks that end every branch.
#include "Player.h"

namespace player {

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
        FAILED(hr = m_grabber->SetBufferSamples(FALSE)) || FAILED(hr = m_grabber->SetOneShot(FALSE)) ||
        FAILED(hr = m_grabber->SetCallback(&m_clock, 0)))
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
            m_loadDone = Now();
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

}  // namespace player
