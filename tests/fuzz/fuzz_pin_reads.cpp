// Sequences of SyncRead, SyncReadAligned, Length, flushes and file changes on
// the output pin, over finished files of several sizes. Every result is
// compared with plain positioned reads of the same file: the bytes (zeros
// after the end), and the HRESULT.
//
// Each input is a list of 12-byte operations: op, file, flags, then a 32-bit
// position, a 24-bit length and two bytes for the sample's buffer size. A
// file change counts only as the first operation of an input.
#include <windows.h>
#include <dshow.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <stdio.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CoFileSourceOutput.h"

namespace {

void CheckAt(bool b, int nLine) {
    if (!b) {
        fprintf(stderr, "fuzz_pin_reads: the check at line %d failed\n", nLine);
        __builtin_trap();
    }
}
#define Check(b) CheckAt((b), __LINE__)

class CFuzzFilter : public IUnknown, public _FilterStateBase, public CComObjectRootBase {
public:
    BEGIN_INTERFACE_TABLE(CFuzzFilter)
    INTERFACE_ENTRY(IUnknown)
    END_INTERFACE_TABLE()

    void SetFilterState(FILTER_STATE eState) {
        CCritSecLock lock(m_csState);
        StoreState(eState);
    }
};

#define NOT_USED(name, args)        \
    STDMETHOD(name) args override { \
        return E_NOTIMPL;           \
    }

// A sample that reports the times it is given, over a buffer of its own.
class CFuzzSample : public IMediaSample, public CComObjectRootBase {
public:
    BEGIN_INTERFACE_TABLE(CFuzzSample)
    INTERFACE_ENTRY(IMediaSample)
    END_INTERFACE_TABLE()
    STDMETHOD(GetPointer)(BYTE** ppBuffer) override {
        *ppBuffer = m_pb;
        return S_OK;
    }
    STDMETHOD_(LONG, GetSize)() override { return m_cb; }
    STDMETHOD(GetTime)(REFERENCE_TIME* pStart, REFERENCE_TIME* pStop) override {
        *pStart = m_rtStart;
        *pStop = m_rtStop;
        return S_OK;
    }
    NOT_USED(SetTime, (REFERENCE_TIME*, REFERENCE_TIME*))
    NOT_USED(IsSyncPoint, ())
    NOT_USED(SetSyncPoint, (BOOL))
    NOT_USED(IsPreroll, ())
    NOT_USED(SetPreroll, (BOOL))
    STDMETHOD_(LONG, GetActualDataLength)() override { return m_cbActual; }
    STDMETHOD(SetActualDataLength)(LONG cb) override {
        m_cbActual = cb;
        return S_OK;
    }
    NOT_USED(GetMediaType, (AM_MEDIA_TYPE**))
    NOT_USED(SetMediaType, (AM_MEDIA_TYPE*))
    NOT_USED(IsDiscontinuity, ())
    NOT_USED(SetDiscontinuity, (BOOL))
    NOT_USED(GetMediaTime, (LONGLONG*, LONGLONG*))
    NOT_USED(SetMediaTime, (LONGLONG*, LONGLONG*))

    BYTE* m_pb = NULL;
    LONG m_cb = 0;
    LONG m_cbActual = -1;
    REFERENCE_TIME m_rtStart = 0, m_rtStop = 0;
};

const LONGLONG kSizes[] = {1, 70001, 1200000};  // inside one block, across several

struct World {
    CComObject<CFuzzFilter>* pFilter = NULL;
    CComObject<CFileSourceOutput>* pPin = NULL;
    CComObject<CFuzzSample>* pSample = NULL;
    std::wstring names[3];
    HANDLE hPlain[3] = {};
    int nCurrent = 0;
};

World& TheWorld() {
    static World* s_pWorld = [] {
        namespace fs = std::filesystem;
        World* w = new World;
        const fs::path dir =
            fs::temp_directory_path() / ("orvex-fuzz-pin-" + std::to_string(GetCurrentProcessId()));
        fs::create_directories(dir);
        for (int i = 0; i < 3; ++i) {
            const std::string path = (dir / ("f" + std::to_string(i) + ".bin")).string();
            std::string bytes((size_t)kSizes[i], 0);
            for (size_t k = 0; k < bytes.size(); ++k)
                bytes[k] = (char)(k * 131 + i * 7 + (k >> 9));
            std::ofstream(path, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
            // Finished long ago: a writer probe that cannot inspect every
            // process takes a recent change for a writer at work.
            fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
            w->names[i] = std::wstring(path.begin(), path.end());
            w->hPlain[i] = CreateFileA(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                       OPEN_EXISTING, 0, NULL);
            Check(w->hPlain[i] != INVALID_HANDLE_VALUE);
        }
        Check(CComObject<CFuzzFilter>::CreateObject(&w->pFilter) == S_OK);
        Check(CreatePinInstance(&w->pPin, 0, "Output") == S_OK);
        w->pPin->SetFilter(w->pFilter, NULL);
        w->pFilter->SetFilterState(State_Running);
        Check(CComObject<CFuzzSample>::CreateObject(&w->pSample) == S_OK);
        Check(w->pPin->SetFileName(w->names[0].c_str(), NULL) == S_OK);
        return w;
    }();
    return *s_pWorld;
}

// What a read of [pos, pos + len) of the current file must give.
HRESULT Expected(World& w, LONGLONG pos, LONG len, std::vector<BYTE>& out) {
    out.assign((size_t)len, 0);
    if (len == 0)
        return S_OK;
    const LONGLONG size = kSizes[w.nCurrent];
    // Past the end of these finished files a read fails; at the end it is short.
    if (pos > size)
        return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    if (pos == size)
        return S_FALSE;
    OVERLAPPED ov = {};
    ov.Offset = (DWORD)pos;
    ov.OffsetHigh = (DWORD)((ULONGLONG)pos >> 32);
    DWORD cb = 0;
    ReadFile(w.hPlain[w.nCurrent], out.data(), (DWORD)len, &cb, &ov);
    return cb == (DWORD)len ? S_OK : S_FALSE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = TheWorld();
    std::vector<BYTE> buf, expected;
    for (bool bFirst = true; size >= 12; data += 12, size -= 12, bFirst = false) {
        const uint8_t op = data[0] % 5, flags = data[2];
        LONGLONG pos = (LONGLONG)(data[3] | data[4] << 8 | data[5] << 16 | (uint32_t)data[6] << 24) % 1400000;
        LONG len = (LONG)(data[7] | data[8] << 8 | (data[9] & 0x1F) << 16);
        if (flags & 1)
            len = -len - 1;
        if (flags & 2)
            pos = kSizes[w.nCurrent] + (flags >> 4) - 8;  // around the end
        switch (op) {
            case 0: {
                buf.assign(len > 0 ? (size_t)len : 1, 0xCD);
                const HRESULT hr = w.pPin->SyncRead(pos, len, buf.data());
                if (len < 0 || pos < 0) {
                    Check(hr == E_INVALIDARG && buf[0] == 0xCD);
                    break;
                }
                Check(hr == Expected(w, pos, len, expected));
                Check(len == 0 ? buf[0] == 0xCD : buf == expected);
                break;
            }
            case 1: {
                // Times as a sample carries them; the buffer may be short.
                const LONG cbBuffer = (LONG)(data[10] | (data[11] & 0x0F) << 8) * 64;
                buf.assign((size_t)cbBuffer + 1, 0xCD);
                w.pSample->m_pb = buf.data();
                w.pSample->m_cb = cbBuffer;
                w.pSample->m_rtStart = pos * 10000000 + (flags & 4 ? 1234 : 0);
                w.pSample->m_rtStop = (pos + len) * 10000000;
                const LONGLONG llStart = w.pSample->m_rtStart / 10000000,
                               llStop = w.pSample->m_rtStop / 10000000;
                w.pSample->m_cbActual = -1;
                const HRESULT hr = w.pPin->SyncReadAligned(w.pSample);
                // A range whose stop time is not after its start is refused.
                if (w.pSample->m_rtStop <= w.pSample->m_rtStart || llStop < llStart) {
                    Check(hr == E_INVALIDARG && buf[0] == 0xCD);
                } else if (llStop - llStart > cbBuffer) {
                    Check(hr == E_FAIL && buf[0] == 0xCD);
                } else if (llStart < 0) {
                    Check(hr == E_INVALIDARG && buf[0] == 0xCD);
                } else {
                    const LONG n = (LONG)(llStop - llStart);
                    const HRESULT hrWant = Expected(w, llStart, n, expected);
                    Check(hr == hrWant);
                    Check((n == 0 || memcmp(buf.data(), expected.data(), (size_t)n) == 0) &&
                          buf[(size_t)n] == 0xCD);
                    // The sample tells the bytes delivered: the file's part of
                    // the range (a failed read leaves it as it was).
                    const LONGLONG llHeld =
                        std::max<LONGLONG>(0, std::min<LONGLONG>(n, kSizes[w.nCurrent] - llStart));
                    Check(FAILED(hr) ? w.pSample->m_cbActual == -1 : w.pSample->m_cbActual == llHeld);
                }
                break;
            }
            case 2: {
                LONGLONG llTotal = -1, llAvailable = -1;
                Check(w.pPin->Length(&llTotal, &llAvailable) == S_OK);
                Check(llTotal == kSizes[w.nCurrent] && llAvailable == llTotal);
                break;
            }
            case 3:
                if (flags & 8) {
                    w.pPin->BeginFlush();
                } else {
                    w.pPin->EndFlush();
                }
                break;
            case 4:
                // Only as the first operation: a change asks the system
                // whether a writer holds the file, which is slow.
                if (!bFirst)
                    break;
                w.nCurrent = data[1] % 3;
                Check(w.pPin->SetFileName(w.names[w.nCurrent].c_str(), NULL) == S_OK);
                break;
        }
    }
    return 0;
}
