// IOrvexFileSource: the file source filter's own interface, for its property
// page and for applications. It reads the output pin's live figures and sets
// the two run-time settings: the wait margin of a read near the end of a
// growing file, and whether seeking is allowed while the file grows.
//
// All byte quantities are bytes (the margin too, although its getter's
// parameter carries "Kb" in its name); rates are bytes per second. Every
// method returns E_UNEXPECTED when the filter has no pin and E_POINTER for a
// null out pointer that must be given.
//
// The wait margin is a time by default: DEFAULT_MARGIN_TIME of the file's
// measured growth (IOrvexFileSource2). SetBuffSize sets it in bytes for good,
// until SetMarginTime makes it a time again.
#pragma once

#include <windows.h>

// The filter, CCoFileSource.
inline const CLSID CLSID_CoFileSource = {
    0x50838349, 0x7C4B, 0x4700, {0xAE, 0x28, 0x23, 0x94, 0x0A, 0x6B, 0xF6, 0xB6}};
// Its property page, FileSourcePage.
inline const CLSID CLSID_FileSourcePage = {
    0x5083834A, 0x7C4B, 0x4700, {0xAE, 0x28, 0x23, 0x94, 0x0A, 0x6B, 0xF6, 0xB6}};
inline const IID IID_IOrvexFileSource = {
    0x80AFCD1D, 0x4315, 0x4611, {0x9A, 0x54, 0x5C, 0x40, 0x80, 0x56, 0x77, 0x08}};
inline const IID IID_IOrvexFileSource2 = {
    0x80AFCD1E, 0x4315, 0x4611, {0x9A, 0x54, 0x5C, 0x40, 0x80, 0x56, 0x77, 0x08}};

// The largest wait margin SetBuffSize stores.
#define ORVEX_MAX_WAIT_MARGIN 10485760

struct IOrvexFileSource : public IUnknown {
    // The wait margin in bytes: a read near the end of a growing file waits
    // until the file holds this many bytes past the read's end. Capped at
    // ORVEX_MAX_WAIT_MARGIN; 0 is allowed.
    virtual HRESULT STDMETHODCALLTYPE SetBuffSize(DWORD dwBuffSize) = 0;
    // The margin in effect now, in bytes (one in time: as measured now).
    virtual HRESULT STDMETHODCALLTYPE GetBuffSize(DWORD* _pdwBuffSizeKb) = 0;
    // The file's size as last measured (0 without a file) and, when asked
    // for, how fast it grows (bytes per second over the last seconds).
    virtual HRESULT STDMETHODCALLTYPE GetFileSize(LONGLONG* _pn64FileSize, LONG* _plWriteSpeed) = 0;
    // Where the last read began and, when asked for, how fast the file is read.
    virtual HRESULT STDMETHODCALLTYPE GetReadPos(LONGLONG* _pn64ReadPos, LONG* _plReadSpeed) = 0;
    // The bytes a waiting read still misses; 0 when no read waits.
    virtual HRESULT STDMETHODCALLTYPE GetWaitSize(DWORD* _pdwWaitSize) = 0;
    // S_OK when seeking is allowed while the file grows, S_FALSE when not.
    virtual HRESULT STDMETHODCALLTYPE IsSeekingSupported() = 0;
    // Only while the filter is stopped (VFW_E_NOT_STOPPED otherwise). S_OK
    // when the setting changed (a connected pin is then reconnected, and a
    // failed reconnection's error is returned), S_FALSE when it had that
    // value already. The setting is saved when the filter is released.
    virtual HRESULT STDMETHODCALLTYPE SetSeekingSupported(BOOL bAllow) = 0;
};

// The wait margin as a time.
struct IOrvexFileSource2 : public IOrvexFileSource {
    // The margin in effect: its bytes now, how much of the stream they are at
    // the measured growth (ms; 0 while no growth is measured), and whether it
    // follows the measured growth (TRUE) or was set in bytes (FALSE).
    virtual HRESULT STDMETHODCALLTYPE GetMargin(DWORD* pdwBytes, DWORD* pdwMilliseconds,
                                                BOOL* pbMeasured) = 0;
    // A margin of dwMilliseconds of the file's measured growth (up to
    // 600 s; E_INVALIDARG otherwise), never below the largest single growth
    // seen, within 64 KiB and ORVEX_MAX_WAIT_MARGIN; 2 MiB until growth has
    // been measured.
    virtual HRESULT STDMETHODCALLTYPE SetMarginTime(DWORD dwMilliseconds) = 0;
};

// The live figures in one look, as the property page, players and tools
// show them. Every figure is asked for; those whose call fails stay 0, and
// the first failure is returned.
struct OrvexFigures {
    LONGLONG llFileSize = 0;
    LONG lWriteSpeed = 0;
    LONGLONG llReadPos = 0;
    LONG lReadSpeed = 0;
    DWORD dwWaitSize = 0;
};
inline HRESULT GetOrvexFigures(IOrvexFileSource* pSource, OrvexFigures* pFigures) {
    *pFigures = OrvexFigures();
    const HRESULT hrSize = pSource->GetFileSize(&pFigures->llFileSize, &pFigures->lWriteSpeed);
    const HRESULT hrPos = pSource->GetReadPos(&pFigures->llReadPos, &pFigures->lReadSpeed);
    const HRESULT hrWait = pSource->GetWaitSize(&pFigures->dwWaitSize);
    return FAILED(hrSize) ? hrSize : FAILED(hrPos) ? hrPos : hrWait;
}
