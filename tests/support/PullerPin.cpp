#include "PullerPin.h"

#include <uuids.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "recorder/RecorderContent.h"

namespace testsupport {

namespace {

const HRESULT kPastEnd = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
const LONGLONG kUnits = 10000000;  // a byte position in reference time

}  // namespace

CComObject<CPullerPin>* NewPuller(const CPullerPin::Options& options) {
    CComObject<CPullerPin>* p = NULL;
    EXPECT_EQ(S_OK, CComObject<CPullerPin>::CreateObject(&p));
    if (p)
        p->SetOptions(options);
    return p;
}

void CPullerPin::FinalRelease() {
    Disconnect();
}

CMemoryAllocator* CPullerPin::Allocator() {
    if (m_pAlloc)
        m_pAlloc->AddRef();
    return m_pAlloc;
}

CPullerPin::Figures CPullerPin::GetFigures() const {
    return {m_llDelivered.load(), m_llBad.load(),     m_nStalls.load(), m_dwLongestMs.load(),
            m_llEnd.load(),       m_hrPastEnd.load(), m_hrError.load()};
}

// ---------------------------------------------------------------- connecting

STDMETHODIMP CPullerPin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (!pConnector || !pmt)
        return E_POINTER;
    if (!IsEqualGUID(pmt->majortype, MEDIATYPE_Stream))
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (m_spReader)
        return VFW_E_ALREADY_CONNECTED;
    HRESULT hr = pConnector->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&m_spReader));
    if (FAILED(hr))
        return hr;
    CComObject<CMemoryAllocator>* pOwn = NULL;
    hr = CComObject<CMemoryAllocator>::CreateObject(&pOwn);
    if (FAILED(hr)) {
        m_spReader.Release();
        return hr;
    }
    ALLOCATOR_PROPERTIES props = {m_options.cBuffers, m_options.cbPiece, 1, 0};
    IMemAllocator* pActual = NULL;
    hr = m_spReader->RequestAllocator(pOwn, &props, &pActual);
    // The pin must agree the allocator a splitter prefers when it meets the
    // request: the samples are then this pin's.
    if (SUCCEEDED(hr) && pActual != static_cast<IMemAllocator*>(pOwn))
        hr = E_UNEXPECTED;
    if (pActual)
        pActual->Release();
    if (SUCCEEDED(hr))
        hr = pOwn->Commit();
    if (FAILED(hr)) {
        pOwn->Release();
        m_spReader.Release();
        return hr;
    }
    m_pAlloc = pOwn;
    return S_OK;
}

STDMETHODIMP CPullerPin::Disconnect() {
    Stop(false);
    ReleasePending();
    if (m_pAlloc) {
        m_pAlloc->Decommit();
        m_pAlloc->Release();
        m_pAlloc = NULL;
    }
    m_spReader.Release();
    return S_OK;
}

void CPullerPin::ReleasePending() {
    for (IMediaSample* p : m_pending)
        p->Release();
    m_pending.clear();
}

// ---------------------------------------------------------------- the pull thread

void CPullerPin::Start(LONGLONG llFrom) {
    Stop(true);
    m_bStop = false;
    m_bEnded = false;
    m_llNext = llFrom;
    // The end is found again from here.
    m_llEnd = -1;
    m_hrPastEnd = S_OK;
    m_thread = std::thread([this, llFrom] {
        m_dwPaceStart = GetTickCount();
        m_llPaceFrom = llFrom;
        if (m_options.mode == Mode::Sync)
            PullSync(llFrom);
        else
            PullAsync(llFrom);
        m_bEnded = true;
    });
}

void CPullerPin::Forget(IMediaSample* pSample) {
    const auto it = std::find(m_pending.begin(), m_pending.end(), pSample);
    if (it != m_pending.end())
        m_pending.erase(it);
}

void CPullerPin::Stop(bool bHandBack) {
    if (!m_thread.joinable())
        return;
    m_bHandBack = bHandBack;
    m_bStop = true;
    // A flush ends a read or a request waiting for the file to grow, and
    // hands back every pending sample; without one, the thread stops at
    // its next look and leaves its requests pending.
    const bool bFlush = m_spReader && (bHandBack || m_options.mode == Mode::Sync) && !m_bEnded;
    if (bFlush)
        m_spReader->BeginFlush();
    m_thread.join();
    if (bFlush) {
        // Nothing left to hand back: the base classes' pull pin asks until
        // no sample comes.
        if (m_options.mode == Mode::Async) {
            IMediaSample* pSample = NULL;
            DWORD_PTR dwUser = 0;
            if (m_spReader->WaitForNext(0, &pSample, &dwUser) != VFW_E_WRONG_STATE || pSample)
                Fail(E_UNEXPECTED);
            if (pSample)
                pSample->Release();
        }
        m_spReader->EndFlush();
    }
    if (bHandBack && !m_pending.empty())
        Fail(E_UNEXPECTED);
}

void CPullerPin::Seek(LONGLONG llPos) {
    Stop(true);
    Start(llPos);
}

IMediaSample* CPullerPin::SampleFor(LONGLONG llPos) {
    IMediaSample* pSample = NULL;
    HRESULT hr = m_pAlloc->GetBuffer(&pSample, NULL, NULL, 0);
    if (FAILED(hr)) {
        Fail(hr);
        return NULL;
    }
    REFERENCE_TIME rtStart = llPos * kUnits, rtStop = (llPos + m_options.cbPiece) * kUnits;
    pSample->SetTime(&rtStart, &rtStop);
    pSample->SetActualDataLength(0);
    return pSample;
}

void CPullerPin::Fail(HRESULT hr) {
    HRESULT hrNone = S_OK;
    m_hrError.compare_exchange_strong(hrNone, hr);
}

void CPullerPin::NoteTime(DWORD dwMs) {
    if (m_bStop)
        return;
    if (dwMs > m_dwLongestMs)
        m_dwLongestMs = dwMs;
    if (dwMs > m_options.dwStallMs)
        ++m_nStalls;
}

void CPullerPin::Deliver(LONGLONG llPos, const BYTE* pb, LONG cb) {
    if (llPos != m_llNext)
        m_llBad += cb;
    else
        m_llBad += (LONGLONG)(cb - recorder::FirstMismatch(m_options.seed, (uint64_t)llPos, pb, (size_t)cb));
    m_llNext = llPos + cb;
    m_llDelivered += cb;
    if (m_options.llBytesPerSecond <= 0)
        return;
    // A player's pace: the bytes since the start at the stream's rate.
    const LONGLONG llDue = (m_llNext - m_llPaceFrom) * 1000 / m_options.llBytesPerSecond;
    for (;;) {
        const LONGLONG llGone = (LONGLONG)(DWORD)(GetTickCount() - m_dwPaceStart);
        if (llGone >= llDue || m_bStop)
            return;
        Sleep((DWORD)std::min<LONGLONG>(llDue - llGone, 20));
    }
}

void CPullerPin::PullSync(LONGLONG llPos) {
    while (!m_bStop) {
        IMediaSample* pSample = SampleFor(llPos);
        if (!pSample)
            return;
        const DWORD dwStart = GetTickCount();
        const HRESULT hr = m_spReader->SyncReadAligned(pSample);
        NoteTime(GetTickCount() - dwStart);
        BYTE* pb = NULL;
        pSample->GetPointer(&pb);
        // A flush may have cut the read short: it counts for nothing.
        if (m_bStop) {
            pSample->Release();
            return;
        }
        LONG cb = m_options.cbPiece;
        if (hr == S_FALSE) {
            // The short last piece: the finished file's exact length tells
            // how much of it is the file's.
            LONGLONG llTotal = 0, llAvailable = 0;
            const HRESULT hrLength = m_spReader->Length(&llTotal, &llAvailable);
            if (hrLength != S_OK || llTotal <= llPos || llTotal >= llPos + cb) {
                Fail(hrLength != S_OK ? hrLength : E_UNEXPECTED);
                pSample->Release();
                return;
            }
            cb = (LONG)(llTotal - llPos);
        } else if (hr != S_OK) {
            Fail(hr);
            pSample->Release();
            return;
        }
        Deliver(llPos, pb, cb);
        pSample->Release();
        if (hr == S_FALSE) {
            m_llEnd = llPos + cb;
            IMediaSample* pPast = SampleFor(llPos + m_options.cbPiece);
            if (pPast) {
                m_hrPastEnd = m_spReader->SyncReadAligned(pPast);
                pPast->Release();
            }
            return;
        }
        llPos += cb;
    }
}

void CPullerPin::PullAsync(LONGLONG llFrom) {
    LONGLONG llAsk = llFrom;  // the next piece to ask for
    bool bEndKnown = false;   // nothing more to ask for
    while (!m_bStop) {
        while (!bEndKnown && (int)m_pending.size() < m_options.nAhead) {
            IMediaSample* pSample = SampleFor(llAsk);
            if (!pSample)
                return;
            const HRESULT hr = m_spReader->Request(pSample, (DWORD_PTR)llAsk);
            if (FAILED(hr)) {
                pSample->Release();
                // Past the end of a finished file before the short piece
                // came back: the end is that piece's.
                if (hr != kPastEnd)
                    Fail(hr);
                bEndKnown = true;
                break;
            }
            m_pending.push_back(pSample);
            llAsk += m_options.cbPiece;
        }
        if (m_pending.empty())
            break;
        // Waits in slices, so that a stop without a flush is seen.
        IMediaSample* pSample = NULL;
        DWORD_PTR dwUser = 0;
        HRESULT hr;
        const DWORD dwStart = GetTickCount();
        do {
            hr = m_spReader->WaitForNext(100, &pSample, &dwUser);
        } while (hr == VFW_E_TIMEOUT && !pSample && !m_bStop);
        if (!pSample) {
            if (!m_bStop)
                Fail(FAILED(hr) ? hr : E_UNEXPECTED);
            break;
        }
        NoteTime(GetTickCount() - dwStart);
        if (pSample != m_pending.front() || m_bStop) {
            // Out of order, or handed back by the flush of a stop.
            if (!m_bStop)
                Fail(E_UNEXPECTED);
            Forget(pSample);
            pSample->Release();
            continue;
        }
        m_pending.pop_front();
        const LONGLONG llPos = (LONGLONG)dwUser;
        const LONG cb = pSample->GetActualDataLength();
        BYTE* pb = NULL;
        pSample->GetPointer(&pb);
        if (hr == S_OK && cb == m_options.cbPiece && m_llEnd < 0) {
            Deliver(llPos, pb, cb);
        } else if (hr == S_FALSE && cb > 0 && cb < m_options.cbPiece && m_llEnd < 0) {
            Deliver(llPos, pb, cb);
            m_llEnd = llPos + cb;
            bEndKnown = true;
        } else if (hr != kPastEnd || m_llEnd < 0) {
            // Past the end only after the short piece.
            Fail(FAILED(hr) ? hr : E_UNEXPECTED);
        }
        pSample->Release();
    }
    if (m_bStop) {
        // The flush of a stop completes every request: all come back, as
        // the base classes' pull pin collects them. Without a flush they
        // stay pending.
        while (m_bHandBack && !m_pending.empty()) {
            IMediaSample* pSample = NULL;
            DWORD_PTR dwUser = 0;
            m_spReader->WaitForNext(INFINITE, &pSample, &dwUser);
            if (!pSample) {
                Fail(E_UNEXPECTED);
                return;
            }
            Forget(pSample);
            pSample->Release();
        }
        return;
    }
    if (m_llEnd >= 0) {
        IMediaSample* pPast = SampleFor(m_llEnd + m_options.cbPiece);
        if (pPast) {
            m_hrPastEnd = m_spReader->Request(pPast, 0);
            if (SUCCEEDED(m_hrPastEnd.load())) {
                // Not refused: it comes back from the queue.
                IMediaSample* pBack = NULL;
                DWORD_PTR dwUser = 0;
                m_spReader->WaitForNext(INFINITE, &pBack, &dwUser);
            }
            pPast->Release();
        }
    }
}

}  // namespace testsupport
