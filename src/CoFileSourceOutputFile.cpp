// CFileSourceOutput: how a file gets into the pin (the name, the recording
// opened and admitted, the header test) and what the pin tells of it.
#include <windows.h>
#include <uuids.h>

#include <string.h>

#include "CoFileSourceOutput.h"
#include "DShowX/DSParsers.h"
#include "MpegPack.h"
#include "WinAPI/Functions.h"

HRESULT CFileSourceOutput::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* /*pmt*/) {
    if (!pszFileName)
        return E_POINTER;
    // Counted before m_csFile is taken: a call waiting for a growing file
    // sees that a newer one wants the pin, and gives way at once.
    const LONG lTicket = InterlockedIncrement(&m_lLoadTicket);
    m_cancel.WakeAll();
    CHAR szName[FILE_NAME_SIZE - 1];
    HRESULT hr = FullAnsiName(pszFileName, szName, sizeof(szName), FILE_NAME_SIZE);
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
