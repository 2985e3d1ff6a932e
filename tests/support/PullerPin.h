// A splitter's input pin of our own that pulls from the output pin the way
// the platform's base classes' pull pin does, in either of its modes:
//   sync   SyncReadAligned on its allocator's samples, one at a time;
//   async  up to nAhead requests queued (Request), WaitForNext, delivered in
//          order, each piece asked for again as one comes back.
// It connects as a splitter does: asks for IAsyncReader in
// ReceiveConnection and agrees its own preferred allocator (the library's,
// cBuffers pieces of cbPiece bytes, alignment 1) with RequestAllocator,
// then commits it. A sample's times are its byte positions times
// 10,000,000.
//
// What it pulls goes to a sink that checks every byte against the
// recorder's seeded content (tools/recorder/RecorderContent.h) and that the
// pieces follow each other, counts stalls (a read or WaitForNext that took
// longer than dwStallMs) and knows the end: the short last piece of a
// finished file (S_FALSE) and the refusal past it (ERROR_HANDLE_EOF). It can
// pace itself as a player does (llBytesPerSecond), seek (flush, hand back
// every pending sample, end the flush, go on from the new position) and
// stop leaving its requests pending, as a splitter that disconnects
// without collecting them.
//
// Threads: the pull thread is started by Start and Seek and ended by Stop,
// Seek, Disconnect or the end; the caller's thread does everything else.
// The pull thread owns the samples it has asked for until it has ended.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <stdint.h>

#include <atomic>
#include <deque>
#include <thread>

#include "DShowX/DSComBase.h"
#include "DShowX/DSMemoryAllocator.h"

namespace testsupport {

class CPullerPin : public IPin, public CComObjectRootMT {
public:
    BEGIN_INTERFACE_TABLE(CPullerPin)
    INTERFACE_ENTRY(IPin)
    END_INTERFACE_TABLE()

    enum class Mode { Sync, Async };
    struct Options {
        Mode mode = Mode::Async;
        uint64_t seed = 0;
        LONG cbPiece = 65536;
        LONG cBuffers = 8;
        int nAhead = 4;
        LONGLONG llBytesPerSecond = 0;  // 0: as fast as the pin delivers
        DWORD dwStallMs = 400;          // a growth wait polls every 500 ms
    };
    // What the sink has seen since the connection (the end and the answer
    // past it since the last Start or Seek).
    struct Figures {
        LONGLONG llDelivered;  // bytes
        LONGLONG llBad;        // bytes that differ from the content, or out of order
        long nStalls;
        DWORD dwLongestMs;  // the longest read or wait, stopping aside
        LONGLONG llEnd;     // the end of the file as the short last piece told it, or -1
        HRESULT hrPastEnd;  // the answer to the request past that end
        HRESULT hrError;    // the first unexpected result, or S_OK
    };

    void FinalRelease();

    void SetOptions(const Options& options) { m_options = options; }
    // Pulls from llFrom on the pull thread until the end, a failure or Stop.
    void Start(LONGLONG llFrom);
    // Ends the pull thread: through a flush that hands back every pending
    // sample (as a seek or a stop does), or leaving its requests pending.
    void Stop(bool bHandBack);
    // Stop(true), then pulling on from llPos.
    void Seek(LONGLONG llPos);
    // The next byte the sink expects.
    LONGLONG Position() const { return m_llNext.load(); }
    // The pull thread has ended by itself.
    bool Ended() const { return m_bEnded.load(); }
    long Stalls() const { return m_nStalls.load(); }
    Figures GetFigures() const;
    // The allocator agreed (its samples are this pin's), add-referenced.
    CMemoryAllocator* Allocator();

    // IPin: an input pin that takes any stream type.
    STDMETHOD(Connect)(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHOD(ReceiveConnection)(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    // Ends the pull thread leaving what it asked for pending, gives back its
    // own references on those samples, and lets go of the allocator (after
    // a decommit) and of the reader.
    STDMETHOD(Disconnect)() override;
    STDMETHOD(ConnectedTo)(IPin**) override { return E_NOTIMPL; }
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(QueryPinInfo)(PIN_INFO*) override { return E_NOTIMPL; }
    STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) override {
        *pPinDir = PINDIR_INPUT;
        return S_OK;
    }
    STDMETHOD(QueryId)(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes**) override { return E_NOTIMPL; }
    STDMETHOD(QueryInternalConnections)(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHOD(EndOfStream)() override { return E_UNEXPECTED; }
    STDMETHOD(BeginFlush)() override { return E_UNEXPECTED; }
    STDMETHOD(EndFlush)() override { return E_UNEXPECTED; }
    STDMETHOD(NewSegment)(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_UNEXPECTED; }

private:
    void PullSync(LONGLONG llFrom);
    void PullAsync(LONGLONG llFrom);
    // A sample for the piece at llPos, its times set; null after a failure.
    IMediaSample* SampleFor(LONGLONG llPos);
    // The sink: checks the bytes and their place, and paces.
    void Deliver(LONGLONG llPos, const BYTE* pb, LONG cb);
    void NoteTime(DWORD dwMs);
    void Fail(HRESULT hr);
    // Releases the samples the pull thread left pending.
    void ReleasePending();

    Options m_options;
    CComPtr<IAsyncReader> m_spReader;   // set by ReceiveConnection, released by Disconnect
    CMemoryAllocator* m_pAlloc = NULL;  // one reference, likewise
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bHandBack{false};  // the stop flushes: collect every pending sample
    std::atomic<bool> m_bEnded{false};
    std::deque<IMediaSample*> m_pending;  // the pull thread's requests, oldest first
    // Drops a returned sample from m_pending.
    void Forget(IMediaSample* pSample);
    // The sink (written by the pull thread, read by anyone).
    std::atomic<LONGLONG> m_llNext{0};
    std::atomic<LONGLONG> m_llDelivered{0};
    std::atomic<LONGLONG> m_llBad{0};
    std::atomic<long> m_nStalls{0};
    std::atomic<DWORD> m_dwLongestMs{0};
    std::atomic<LONGLONG> m_llEnd{-1};
    std::atomic<HRESULT> m_hrPastEnd{S_OK};
    std::atomic<HRESULT> m_hrError{S_OK};
    DWORD m_dwPaceStart = 0;    // pull thread only
    LONGLONG m_llPaceFrom = 0;  // pull thread only
};

// Creates a puller (one reference for the caller).
CComObject<CPullerPin>* NewPuller(const CPullerPin::Options& options);

}  // namespace testsupport
