// CFileSourceOutput: how a file gets into the pin (name, header test, open,
// admission of a growing file), whether its writer is gone, and the read
// gate that keeps reads away from a cache being swapped (see the header).
#include <windows.h>
#include <uuids.h>

#include <string.h>

#include "CoFileSourceOutput.h"
#include "DShowX/DSParsers.h"

namespace {

const DWORD kAdmissionPoll = 500;  // ms between two looks at a growing file

// Converts a wide name to the ANSI code page, refusing every name that does
// not come back unchanged: a best-fit or default-character substitution
// could name, and open, another file. The result must fit cbAnsi bytes with
// its terminator.
HRESULT ToAnsiExact(LPCWSTR pszWide, LPSTR pszAnsi, int cbAnsi) {
    BOOL bUsedDefault = FALSE;
    int n =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, pszWide, -1, pszAnsi, cbAnsi, NULL, &bUsedDefault);
    DWORD dwErr = n ? 0 : GetLastError();
    if (dwErr == ERROR_INVALID_FLAGS || dwErr == ERROR_INVALID_PARAMETER) {
        // A UTF-8 code page takes neither the flag nor the default-character
        // report; the way back below still tells an exact conversion.
        bUsedDefault = FALSE;
        n = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, pszAnsi, cbAnsi, NULL, NULL);
        dwErr = n ? 0 : GetLastError();
    }
    if (!n) {
        if (dwErr == ERROR_INSUFFICIENT_BUFFER)
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        return dwErr ? HRESULT_FROM_WIN32(dwErr) : HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    }
    if (bUsedDefault)
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    WCHAR szBack[FILE_NAME_SIZE];
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pszAnsi, -1, szBack, FILE_NAME_SIZE) ||
        wcscmp(szBack, pszWide) != 0)
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    return S_OK;
}

}  // namespace

// ---------------------------------------------------------------- the read gate

bool CFileSourceOutput::EnterGate(LONG* plGeneration, bool bContinue) {
    EnterCriticalSection(&m_csGate);
    if (bContinue) {
        if (*plGeneration != m_lGeneration) {
            LeaveCriticalSection(&m_csGate);
            return false;
        }
    } else {
        // m_shGateOpen is set exactly while m_bClosing is clear (both change
        // under m_csGate), so no wake-up is lost between the two.
        while (m_bClosing) {
            LeaveCriticalSection(&m_csGate);
            WaitForSingleObject(m_shGateOpen, INFINITE);
            EnterCriticalSection(&m_csGate);
        }
        if (plGeneration)
            *plGeneration = m_lGeneration;
    }
    ++m_nActive;
    LeaveCriticalSection(&m_csGate);
    return true;
}

void CFileSourceOutput::LeaveGate() {
    EnterCriticalSection(&m_csGate);
    ASSERT(m_nActive > 0);
    if (--m_nActive == 0 && m_bClosing)
        SetEvent(m_shGateIdle);
    LeaveCriticalSection(&m_csGate);
}

void CFileSourceOutput::CloseGate() {
    EnterCriticalSection(&m_csGate);
    ASSERT(!m_bClosing);
    m_bClosing = true;
    // Reads that left the gate to wait for growth see the new generation and
    // never come back to the cache.
    ++m_lGeneration;
    ResetEvent(m_shGateOpen);
    const bool bWait = m_nActive > 0;
    if (bWait)
        ResetEvent(m_shGateIdle);
    LeaveCriticalSection(&m_csGate);
    // Only reads that are copying or measuring are waited for; none of them
    // waits for anything this thread holds.
    if (bWait)
        WaitForSingleObject(m_shGateIdle, INFINITE);
}

void CFileSourceOutput::OpenGate(bool bFileOpen) {
    EnterCriticalSection(&m_csGate);
    ASSERT(m_bClosing);
    m_bClosing = false;
    m_bFileOpen = bFileOpen;
    SetEvent(m_shGateOpen);
    LeaveCriticalSection(&m_csGate);
}

LONG CFileSourceOutput::CopyFileName(LPSTR pszName) {
    EnterCriticalSection(&m_csGate);
    memcpy(pszName, m_szFileName, FILE_NAME_SIZE);
    const LONG lGeneration = m_lGeneration;
    LeaveCriticalSection(&m_csGate);
    return lGeneration;
}

// ---------------------------------------------------------------- the file

void CFileSourceOutput::ResetFileState() {
    m_fileRead.CloseFile();
    EnterCriticalSection(&m_csGate);
    m_szFileName[0] = 0;
    m_szFileName[FILE_NAME_SIZE - 1] = 0;
    InterlockedExchange(&m_lWriting, 0);
    LeaveCriticalSection(&m_csGate);
    SetMediaType(NULL);
}

HRESULT CFileSourceOutput::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* /*pmt*/) {
    ASSERT(pszFileName);
    if (!pszFileName)
        return E_POINTER;
    CHAR szName[FILE_NAME_SIZE - 1];
    HRESULT hr = ToAnsiExact(pszFileName, szName, sizeof(szName));
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1,
                "###Err### CFileSourceOutput::SetFileName - no exact ANSI form of the name hr = 0x%08X\n",
                hr);
        return hr;
    }
    DSTrace(TRACE_APP2, 8, "CFileSourceOutput::SetFileName(%s)\n", szName);

    EnterCriticalSection(&m_csFile);
    CloseGate();
    ResetFileState();

    CSmartHandle shProbe(CreateFileA(szName, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                     OPEN_EXISTING, 0, NULL));
    if (!shProbe) {
        const DWORD dwErr = GetLastError();
        OpenGate(false);
        LeaveCriticalSection(&m_csFile);
        DSTrace(TRACE_APP2, 1,
                "###Err### CFileSourceOutput::SetFileName(%s) - CreateFile() FAILED dwRes = %d\n", szName,
                dwErr);
        return LastErrorResult(dwErr);
    }

    const bool bMpeg = IsMPEGFile(shProbe);
    if (!bMpeg)
        DSTrace(TRACE_APP2, 1,
                "WARNING !!! CFileSourceOutput::SetFileName(%s) - Opened file possible is NOT MPEG file\n",
                szName);
    const CMType mt(MEDIATYPE_Stream, bMpeg ? MEDIASUBTYPE_MPEG2_PROGRAM : GUID_NULL);
    SetMediaType(&mt);

    hr = m_fileRead.OpenFile(szName);
    if (FAILED(hr)) {
        OpenGate(false);
        LeaveCriticalSection(&m_csFile);
        DSTrace(TRACE_APP2, 1,
                "###Err### CFileSourceOutput::SetFileName(%s) - m_fileRead.OpenFile() FAILED hr = %d\n",
                szName, hr);
        return hr;
    }

    EnterCriticalSection(&m_csGate);
    memcpy(m_szFileName, szName, sizeof(szName));
    LeaveCriticalSection(&m_csGate);

    // Whether the file still grows is settled before any read can see it.
    if (!IsWriteComplete()) {
        InterlockedExchange(&m_lWriting, 1);
        OpenGate(true);
        hr = WaitForAdmission();
    } else {
        const LONGLONG llSize = m_fileRead.GetFileSize();
        if (llSize > 0) {
            OpenGate(true);
            hr = S_OK;
        } else {
            // Finished and empty (or no longer measurable): nothing to play.
            ResetFileState();
            OpenGate(false);
            hr = llSize == 0 ? E_INVALIDARG : E_FAIL;
        }
    }
    LeaveCriticalSection(&m_csFile);
    return hr;
}

HRESULT CFileSourceOutput::WaitForAdmission() {
    for (;;) {
        const LONGLONG llSize = m_fileRead.GetFileSize();
        if (llSize >= GROWTH_THRESHOLD)
            return S_OK;
        LONGLONG llFinal = llSize;
        if (llSize >= 0) {
            Sleep(kAdmissionPoll);
            // A writer that closes the file early ends the wait: the file is
            // then finished at whatever size it has.
            if (!IsWriteComplete())
                continue;
            EnterCriticalSection(&m_csGate);
            InterlockedExchange(&m_lWriting, 0);
            LeaveCriticalSection(&m_csGate);
            llFinal = m_fileRead.GetFileSize();
            if (llFinal > 0)
                return S_OK;
        }
        // Empty when its writer left, or its size can no longer be read.
        CloseGate();
        ResetFileState();
        OpenGate(false);
        DSTrace(TRACE_APP2, 1, "###Err### CFileSourceOutput::SetFileName - admission ENDED, file size %d\n",
                (int)llFinal);
        return llFinal == 0 ? E_INVALIDARG : E_FAIL;
    }
}

bool CFileSourceOutput::IsMPEGFile(HANDLE _hFile) {
    ASSERT(_hFile != NULL && _hFile != INVALID_HANDLE_VALUE);
    if (_hFile == NULL || _hFile == INVALID_HANDLE_VALUE)
        return false;
    BYTE arrHeader[13] = {};
    DWORD cbRead = 0;
    if (!ReadFile(_hFile, arrHeader, sizeof(arrHeader), &cbRead, NULL)) {
        DSTrace(TRACE_APP2, 1, "###Err### CFileSourceOutput::IsMPEGFile - ReadFile() FAILED dwRes = %d\n",
                GetLastError());
        ASSERT(FALSE);
        return false;
    }
    if (cbRead < sizeof(arrHeader)) {
        // The message shows a lone "%" where the count would go; it is
        // escaped, as a bare "% b" would be taken for a conversion.
        DSTrace(TRACE_APP2, 8,
                "CFileSourceOutput::IsMPEGFile - File size less then 13 byte ( only %% byte can read)\n",
                cbRead);
        return false;
    }
    const DWORD dwStartCode =
        ((DWORD)arrHeader[0] << 24) | ((DWORD)arrHeader[1] << 16) | ((DWORD)arrHeader[2] << 8) | arrHeader[3];
    if (dwStartCode != 0x000001BA) {
        DSTrace(TRACE_APP2, 8,
                "CFileSourceOutput::IsMPEGFile - Invalid ( not MPEG ) packet start code: [0x%08X]\n",
                dwStartCode);
        return false;
    }
    // The MPEG-2 pack header: '01' before the clock reference, and the
    // marker bits between its fields and after the multiplex rate. An
    // MPEG-1 pack ('0010') fails here.
    const bool bMarkers = (arrHeader[4] & 0xC4) == 0x44 && (arrHeader[6] & 0x04) && (arrHeader[8] & 0x04) &&
                          (arrHeader[9] & 0x01) && (arrHeader[12] & 0x03) == 0x03;
    if (!bMarkers) {
        DSTrace(TRACE_APP2, 8, "CFileSourceOutput::IsMPEGFile - Invalid MARKERS\n");
        return false;
    }
    return true;
}

bool CFileSourceOutput::ProbeWriteComplete(LPCSTR pszName) {
    HANDLE hFile = CreateFileA(pszName, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        // Whoever may not write the recording (a recorder running as a
        // service owns it) is refused before the system looks at who else
        // has it open. Asking to read without sharing writes meets a writer
        // all the same, and needs only read access.
        hFile = CreateFileA(pszName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    }
    if (hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(hFile);
        DSTrace(TRACE_APP1, 8, "CFileSourceOutput::IsWriteComplete() - ::CreateFile() SUCCEEDED\n");
        return true;
    }
    const DWORD dwErr = GetLastError();
    if (dwErr == ERROR_SHARING_VIOLATION) {
        DSTrace(TRACE_APP1, 8,
                "CFileSourceOutput::IsWriteComplete() - FILE OPENED FOR WRITE BY ANOTHER PROCESS\n");
        return false;
    }
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::IsWriteComplete() - ::CreateFile() FAILED dwErr = %d\n",
            dwErr);
    return true;
}

bool CFileSourceOutput::IsWriteComplete() {
    CHAR szName[FILE_NAME_SIZE];
    CopyFileName(szName);
    if (!szName[0]) {
        const LPCSTR m_szFileName = szName;
        // clang-format off
        ASSERT(m_szFileName[ 0 ]);
        // clang-format on
        return false;
    }
    return ProbeWriteComplete(szName);
}

HRESULT CFileSourceOutput::GetCurFile(LPOLESTR* pszFileName, AM_MEDIA_TYPE* pmt) {
    ASSERT(pszFileName);
    if (!pszFileName)
        return E_POINTER;
    EnterCriticalSection(&m_csFile);
    if (!m_szFileName[0]) {
        *pszFileName = NULL;
        LeaveCriticalSection(&m_csFile);
        return S_OK;
    }
    const int cchName = FILE_NAME_SIZE - 1;
    LPOLESTR pszWide = static_cast<LPOLESTR>(CoTaskMemAlloc(cchName * sizeof(WCHAR)));
    if (!pszWide) {
        LeaveCriticalSection(&m_csFile);
        return E_OUTOFMEMORY;
    }
    if (!MultiByteToWideChar(CP_ACP, 0, m_szFileName, -1, pszWide, cchName))
        pszWide[0] = 0;
    pszWide[cchName - 1] = 0;
    *pszFileName = pszWide;
    if (pmt)
        CopyMediaTypeRecord(pmt);
    LeaveCriticalSection(&m_csFile);
    return S_OK;
}
