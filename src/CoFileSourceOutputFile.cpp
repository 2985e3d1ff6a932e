// CFileSourceOutput: how a file gets into the pin (the name, the recording
// opened and admitted, the header test) and what the pin tells of it.
#include <windows.h>
#include <uuids.h>

#include <string.h>

#include "CoFileSourceOutput.h"
#include "DShowX/DSParsers.h"
#include "MpegPack.h"

namespace {

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

// The full path of a name (the current directory may change later, and the
// page's file dialog changes it) in the ANSI code page, exactly.
HRESULT FullAnsiName(LPCWSTR pszName, LPSTR pszAnsi, int cbAnsi) {
    WCHAR szFull[FILE_NAME_SIZE];
    const DWORD cch = GetFullPathNameW(pszName, FILE_NAME_SIZE, szFull, NULL);
    if (cch == 0) {
        const DWORD dwErr = GetLastError();
        return dwErr ? HRESULT_FROM_WIN32(dwErr) : HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    }
    if (cch >= FILE_NAME_SIZE)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    return ToAnsiExact(szFull, pszAnsi, cbAnsi);
}

}  // namespace

HRESULT CFileSourceOutput::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* /*pmt*/) {
    if (!pszFileName)
        return E_POINTER;
    // Counted before m_csFile is taken: a call waiting for a growing file
    // sees that a newer one wants the pin, and gives way at once.
    const LONG lTicket = InterlockedIncrement(&m_lLoadTicket);
    m_cancel.WakeAll();
    CHAR szName[FILE_NAME_SIZE - 1];
    HRESULT hr = FullAnsiName(pszFileName, szName, sizeof(szName));
    if (FAILED(hr)) {
        DSTrace(
            TRACE_APP2, 1,
            "###Err### CFileSourceOutput::SetFileName - no exact ANSI form of the full name hr = 0x%08X\n",
            hr);
        return hr;
    }
    DSTrace(TRACE_APP2, 8, "CFileSourceOutput::SetFileName(%s)\n", szName);

    CCritSecLock fileLock(m_csFile);
    // Whatever stop the previous file saw, the new one's reads wait again.
    FilterStarting();
    // The file open before stays until the new one is there: reads made
    // meanwhile are served by it.
    CRecording* pNew = NULL;
    hr = CRecording::Open(szName, &pNew);
    CRecordingRef rec(pNew);
    if (SUCCEEDED(hr) && rec->IsWriting()) {
        // Reads, GetCurFile and Length see the file while it is admitted.
        SetMediaType(NULL);
        InstallRecording(rec.Get());
        hr = rec->WaitForAdmission(m_cancel, &m_lLoadTicket, lTicket, m_dwAdmissionStall.load());
        if (FAILED(hr)) {
            CHAR szSize[CONV_BUFFER_SIZE];
            DSTrace(TRACE_APP2, 1,
                    "###Err### CFileSourceOutput::SetFileName - admission ENDED, file size %s hr = 0x%08X\n",
                    LL2Str(rec->GetFileLength(false), szSize), hr);
        }
    } else if (SUCCEEDED(hr)) {
        // Finished and empty (or no longer measurable): nothing to play.
        const LONGLONG llSize = rec->GetFileLength(false);
        hr = llSize > 0 ? S_OK : llSize == 0 ? E_INVALIDARG : E_FAIL;
    }
    if (FAILED(hr)) {
        // A failure leaves no file, whatever was open before.
        InstallRecording(NULL);
        SetMediaType(NULL);
        return hr;
    }
    // Only now: a recording loaded in its first instant may not hold a whole
    // pack header yet.
    const bool bMpeg = IsMPEGFile(rec.Get());
    if (!bMpeg)
        DSTrace(TRACE_APP2, 1,
                "WARNING !!! CFileSourceOutput::SetFileName(%s) - Opened file possible is NOT MPEG file\n",
                szName);
    const CMType mt(MEDIATYPE_Stream, bMpeg ? MEDIASUBTYPE_MPEG2_PROGRAM : GUID_NULL);
    SetMediaType(&mt);
    InstallRecording(rec.Get());
    return S_OK;
}

bool CFileSourceOutput::IsMPEGFile(CRecording* pRecording) {
    BYTE arrHeader[MPEG2_PACK_CHECKED_SIZE] = {};
    DWORD cbRead = 0;
    const HRESULT hr = pRecording->ReadHeader(arrHeader, sizeof(arrHeader), &cbRead);
    if (FAILED(hr)) {
        // The disk's or the network's failure, not ours: no assertion box.
        CHAR szError[FORMAT_ERROR_BUFFER_SIZE];
        DSTrace(TRACE_APP2, 1, "###Err### CFileSourceOutput::IsMPEGFile - ReadFile() FAILED dwRes = %d\n%s\n",
                HRESULT_CODE(hr), FormatError(szError, NULL, "hr", (DWORD)hr));
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
    // An MPEG-1 pack ('0010') fails here.
    if (!HasMpeg2PackMarkers(arrHeader)) {
        DSTrace(TRACE_APP2, 8, "CFileSourceOutput::IsMPEGFile - Invalid MARKERS\n");
        return false;
    }
    return true;
}

bool CFileSourceOutput::IsWriteComplete() {
    CRecordingRef rec(AcquireRecording());
    if (!rec) {
        const LPCSTR m_szFileName = "";
        // clang-format off
        ASSERT(m_szFileName[ 0 ]);
        // clang-format on
        return false;
    }
    return rec->IsWriteComplete();
}

HRESULT CFileSourceOutput::GetCurFile(LPOLESTR* pszFileName, AM_MEDIA_TYPE* pmt) {
    if (pmt)
        memset(pmt, 0, sizeof(*pmt));
    if (!pszFileName)
        return E_POINTER;
    *pszFileName = NULL;
    // Neither m_csFile nor a read is waited for: this answers at once, also
    // while SetFileName waits for a growing file.
    CRecordingRef rec(AcquireRecording());
    if (!rec)
        return S_OK;
    const int cchName = FILE_NAME_SIZE - 1;
    LPOLESTR pszWide = static_cast<LPOLESTR>(CoTaskMemAlloc(cchName * sizeof(WCHAR)));
    if (!pszWide)
        return E_OUTOFMEMORY;
    if (!MultiByteToWideChar(CP_ACP, 0, rec->FileName(), -1, pszWide, cchName))
        pszWide[0] = 0;
    pszWide[cchName - 1] = 0;
    *pszFileName = pszWide;
    if (pmt)
        CopyMediaTypeRecord(pmt);
    return S_OK;
}
