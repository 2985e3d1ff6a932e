// The player's clock at its sink: a sample grabber callback that times every
// picture (or, where the stream has no video, every audio buffer) that
// passes, keeps its stream time and, for audio, adds up the time it holds.
// Static lifetime: the grabber may hold it until the graph is gone, so it is
// not counted.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <stdio.h>

#include <vector>

#include "FrameTimes.h"

namespace player {

double Now();
// The system's clock as seconds since 1970, for times other programs compare
// with their own (a recorder's first byte).
double UnixNow();

class SinkClock : public ISampleGrabberCB {
public:
    SinkClock() {
        InitializeCriticalSection(&m_cs);
        m_times.Reserve(1 << 16);
    }
    ~SinkClock() { DeleteCriticalSection(&m_cs); }

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
    // Called on the graph's streaming thread.
    STDMETHODIMP SampleCB(double sampleTime, IMediaSample* sample) override {
        const double t = Now();
        const long bytes = sample ? sample->GetActualDataLength() : 0;
        if (m_log)
            fprintf(stderr, "frame: arrival=%.3f stream_time=%.3f bytes=%ld\n", t, sampleTime, bytes);
        EnterCriticalSection(&m_cs);
        m_times.Add(t);
        m_streamTimes.push_back(sampleTime);
        if (m_audioBytesPerSecond > 0 && bytes > 0)
            m_audioSeconds += (double)bytes / m_audioBytesPerSecond;
        LeaveCriticalSection(&m_cs);
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, LONG) override { return S_OK; }

    void LogFrames() { m_log = true; }
    // The sink takes audio of this many bytes per second: each buffer's
    // length counts as stream time. Before the graph runs.
    void TimeAudio(DWORD bytesPerSecond) {
        EnterCriticalSection(&m_cs);
        m_audioBytesPerSecond = bytesPerSecond;
        LeaveCriticalSection(&m_cs);
    }
    bool IsAudio() {
        EnterCriticalSection(&m_cs);
        const bool audio = m_audioBytesPerSecond > 0;
        LeaveCriticalSection(&m_cs);
        return audio;
    }

    FrameSummary Summary(double interval, double running, const std::vector<double>* waits, double lastGrowth,
                         double settling) {
        EnterCriticalSection(&m_cs);
        const FrameSummary s = m_times.Summarize(interval, running, waits, lastGrowth, settling);
        LeaveCriticalSection(&m_cs);
        return s;
    }
    double FirstArrival() {
        EnterCriticalSection(&m_cs);
        const double t = m_times.First();
        LeaveCriticalSection(&m_cs);
        return t;
    }
    size_t Count() {
        EnterCriticalSection(&m_cs);
        const size_t n = m_times.Count();
        LeaveCriticalSection(&m_cs);
        return n;
    }
    // The audio time that reached the sink, in seconds.
    double AudioSeconds() {
        EnterCriticalSection(&m_cs);
        const double a = m_audioSeconds;
        LeaveCriticalSection(&m_cs);
        return a;
    }
    // The stream time of arrival i; -1 if it has not arrived.
    double StreamTime(size_t i) {
        EnterCriticalSection(&m_cs);
        const double t = i < m_streamTimes.size() ? m_streamTimes[i] : -1;
        LeaveCriticalSection(&m_cs);
        return t;
    }
    // The first arrival from `from` on whose stream time goes back (a stream
    // started again), or `from` when none does.
    size_t RestartFrom(size_t from) {
        EnterCriticalSection(&m_cs);
        size_t i = from;
        while (i < m_streamTimes.size() && (i == 0 || m_streamTimes[i] >= m_streamTimes[i - 1]))
            ++i;
        if (i >= m_streamTimes.size())
            i = from;
        LeaveCriticalSection(&m_cs);
        return i;
    }

private:
    // Guards the members below; taken by the streaming thread, the main
    // thread and the player's sampling thread, never inside another lock.
    CRITICAL_SECTION m_cs;
    FrameTimes m_times;
    std::vector<double> m_streamTimes;
    double m_audioSeconds = 0;
    DWORD m_audioBytesPerSecond = 0;  // set once the graph is built
    bool m_log = false;
};

}  // namespace player
