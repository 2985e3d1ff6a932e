// Plays a media file through a DirectShow filter graph and reports what
// reached the sink: the video's pictures (or, for a stream without video, the
// audio), their timing (stalls, and what caused each), and, where the source
// filter offers its control interface, how far reading lagged behind the end
// of a growing file. Windows only; the project runs it under Wine.
//
//   player FILE [--source CLSID|auto] [--renderfile] [--video auto|null|window]
//               [--timeout S] [--idle MS] [--timed video|audio]
//               [--expect-frames N [--frame-rate R]] [--expect-seconds S]
//               [--downstream-stalls fail|report] [--expect-source CLSID]
//               [--progress] [--graph] [--log-frames] [--page [--page-hold MS]]
//               [--stop-when-waiting MS] [--switch FILE --switch-after N [--expect-switch-frames N]]
//               [--wait-margin BYTES] [--settle S]
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
// times every picture, followed by a real video renderer (--video window; it
// needs a display), a null renderer (--video null) or, by default, the first
// of the two that can be had; every other branch ends in a null renderer. A
// stream without video (a radio recording; or any with --timed audio) has its
// first audio branch timed instead, buffer by buffer, each buffer's length
// counting as stream time. Playback runs at normal speed against the graph
// clock. --graph prints the graph, --log-frames every arrival and its stream
// time. --page opens the source's property pages in the platform's property
// frame while the graph runs (it needs a display) and closes it at the end,
// --page-hold MS after playback.
//
// It stops at EC_COMPLETE, or, for a file that was growing, once its writer
// has closed it, the source has read up to its final size (when the source
// tells) and nothing has arrived for --idle milliseconds. Once done it prints
// one line of figures beginning "player:". Exit codes: 0 success, 1 a check
// failed, 2 usage, 3 the graph could not be built or run, 4 time-out.
//
// The checks of what arrived: --expect-frames N pictures (N coded frames at
// --frame-rate R, counted in the sink's pictures: a decoder that shows each
// field of an interlaced frame gives two), --expect-seconds S of stream time
// (the audio's, or the pictures'), both less what begins after the end the
// splitter gives the stream (Wine's cuts a file complete when it connected at
// its duration, before the last time stamps). And no stall: a gap during
// which a read of the source waited for the recorder (a source stall) fails,
// unless it began in the first --settle seconds of playback; one while no
// read waited (decoding or rendering fell behind) fails unless
// --downstream-stalls report. A gap after the recording grew for the last
// time is the end's wait (the source holds the last bytes until it takes the
// recorder's close for the end), reported as end_wait_ms.
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
// seen too; with --progress it prints them once a second until the graph
// runs, the main thread from then on.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "Player.h"

namespace player {

double Now() {
    static LARGE_INTEGER freq;
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
}

double UnixNow() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const ULONGLONG t = ((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    return (double)(t - 116444736000000000ULL) / 1e7;
}

namespace {

// How far before the end of a finished file the source's last read may begin.
const LONGLONG kLastReadAllowance = 256 * 1024;
// How much less stream time than --expect-seconds may reach the sink: the
// splitter's last buffer may end a little short of the stream's end.
const double kStreamTimeAllowance = 0.1;

}  // namespace

// A read-only open that denies write sharing fails with a sharing violation
// while a writer holds the file.
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

// Starts the sampling thread once, where the source offers its figures.
void Player::StartSampling() {
    if (m_sampling || FAILED(m_orvex.QueryFrom(m_source.Get(), IID_IOrvexFileSource)))
        return;
    m_orvex2.QueryFrom(m_source.Get(), IID_IOrvexFileSource2);  // a source without it shows the bytes alone
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
    DWORD marginMs = 0;
    BOOL marginMeasured = FALSE;
    const bool timed = m_orvex2 && SUCCEEDED(m_orvex2->GetMargin(&margin, &marginMs, &marginMeasured));
    const bool margined = timed || SUCCEEDED(m_orvex->GetBuffSize(&margin));
    const double now = Now();
    bool print = false;
    EnterCriticalSection(&m_figuresLock);
    Figures& f = m_figures;
    if (margined)
        f.margin = margin;
    if (timed) {
        f.marginMs = marginMs;
        f.marginMeasured = marginMeasured != FALSE;
    }
    if (sized) {
        if (size != f.fileSize)
            m_lastGrowth = now;
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
    int n = snprintf(line, sizeof(line), "progress: t=%.1fs frames=%zu stalls=%zu source_stalls=%zu",
                     now - m_t0, s.frames, s.stalls, s.sourceStalls);
    if (m_clock.IsAudio())
        n += snprintf(line + n, sizeof(line) - n, " audio_s=%.2f", m_clock.AudioSeconds());
    if (m_orvex)
        snprintf(line + n, sizeof(line) - n,
                 " size=%lld growth=%ld readpos=%lld readrate=%ld lag=%lld wait=%lu", (long long)f.fileSize,
                 (long)f.writeRate, (long long)f.readPos, (long)f.readRate,
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
    const double lastGrowth = m_growing ? m_lastGrowth : -1;
    LeaveCriticalSection(&m_figuresLock);
    return m_clock.Summary(interval, running, &waits, lastGrowth, m_o.settleSeconds);
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
        if (!done && s.lastSeconds >= 0 && now - s.lastSeconds >= m_o.idleSeconds && f.waitSize == 0 &&
            !WriterActive(m_file)) {
            // A growing file's end: the writer is gone, the source has read
            // all of it (no read of it waits: it may still be deciding
            // whether the recorder comes back), and nothing more arrives. The source tells where its
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
    if (s.endWaits)
        printf(" end_wait_ms=%.0f", s.endWaitSeconds * 1000);
    if (s.settlingStalls)
        printf(" settling_stalls=%zu", s.settlingStalls);
    if (!audio && wantFrames >= 0)
        printf(" expected_frames=%ld", wantFrames);
    if (wantSeconds >= 0)
        printf(" expected_s=%.2f", wantSeconds);
    printf(" timed=%s media_s=%.2f first_stream_time=%.3f", audio ? "audio" : "video", mediaSeconds,
           firstStreamTime);
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
        printf(" waiting_s=%.1f/%.1f margin=%lu margin_ms=%lu margin_measured=%s", f.waitingBeforeRun * 0.1,
               f.waitingRunning * 0.1, (unsigned long)f.margin, (unsigned long)f.marginMs,
               f.marginMeasured ? "yes" : "no");
        // When Load returned and the first picture (or sound) came, on the
        // system's clock, for the time from the recorder's first byte.
        const double first = m_clock.FirstArrival();
        printf(" load_unix=%.3f first_unix=%.3f", m_loadDone >= 0 ? m_unixAtT0 + m_loadDone - m_t0 : -1.0,
               first >= 0 ? m_unixAtT0 + first - m_t0 : -1.0);
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
        printf("player: %zu stalls (gaps over %.0f ms) while a read waited for the recorder\n",
               s.sourceStalls, player::FrameTimes::StallLimit(interval) * 1000);
        rc = kCheckFailed;
    }
    if (s.downstreamStalls) {
        printf(
            "player: %zu stalls (gaps over %.0f ms) with no read waiting: decoding or rendering fell "
            "behind\n",
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

}  // namespace player

namespace {

using namespace player;

bool ParseGuid(const char* text, CLSID& out) {
    WCHAR w[64];
    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, w, 64))
        return false;
    return SUCCEEDED(CLSIDFromString(w, &out));
}

int Usage() {
    fprintf(
        stderr,
        "usage: player FILE [--source CLSID|auto] [--renderfile] [--video auto|null|window] [--timeout S]\n"
        "              [--idle MS] [--settle S] [--timed video|audio] [--expect-frames N [--frame-rate R]]\n"
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
            } else if (a == "--settle") {
                o.settleSeconds = strtod(v, nullptr);
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
