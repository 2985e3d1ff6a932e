// CFileSourceOutput: how a file gets into the pin (name, header test, open,
// admission of a growing file), whether its writer is gone, and the read
// gate that keeps reads away from a cache being swapped (see the header).
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

LONG CFileSourceOutput::CopyFileName(LPSTR pszName, FileIdentity* pId) {
    CCritSecLock lock(m_gate.m_cs);
    memcpy(pszName, m_szFileName, FILE_NAME_SIZE);
    if (pId)
        *pId = m_idFile;
    return m_gate.GenerationLocked();
}

// ---------------------------------------------------------------- the file

void CFileSourceOutput::ResetFileState() {
    m_fileRead.CloseFile();
    {
        CCritSecLock lock(m_gate.m_cs);
        m_szFileName[0] = 0;
        m_szFileName[FILE_NAME_SIZE - 1] = 0;
        m_idFile = FileIdentity();
        m_llFinishedSize.store(0);
        m_llToldTotal.store(0);
        InterlockedExchange(&m_lWriting, 0);
    }
    SetMediaType(NULL);
}

void CFileSourceOutput::DropFile() {
    m_gate.Close();
    ResetFileState();
    m_gate.Open(false);
}

HRESULT CFileSourceOutput::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* /*pmt*/) {
    if (!pszFileName)
        return E_POINTER;
    // Counted before m_csFile is taken: a call waiting for a growing file
    // sees that a newer one wants the pin, and gives way.
    const LONG lTicket = InterlockedIncrement(&m_lLoadTicket);
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
    m_gate.Close();
    ResetFileState();
    // Whatever stop the previous file saw, the new one's reads wait again.
    FilterStarting();

    CSmartHandle shProbe(CreateFileA(szName, FILE_READ_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                     OPEN_EXISTING, 0, NULL));
    if (!shProbe) {
        const DWORD dwErr = GetLastError();
        m_gate.Open(false);
        DSTrace(TRACE_APP2, 1,
                "###Err### CFileSourceOutput::SetFileName(%s) - CreateFile() FAILED dwRes = %d\n", szName,
                dwErr);
        return LastErrorResult(dwErr);
    }
    // A pipe or a device would block the first read, and neither has a size.
    const DWORD dwType = GetFileType(shProbe);
    if (dwType != FILE_TYPE_DISK) {
        m_gate.Open(false);
        DSTrace(TRACE_APP2, 1, "###Err### CFileSourceOutput::SetFileName(%s) - not a disk file (type %u)\n",
                szName, (UINT)dwType);
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    }

    hr = m_fileRead.OpenFile(szName);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (SUCCEEDED(hr) && !m_fileRead.GetFileInformation(&info)) {
        hr = LastErrorResult(GetLastError());
        m_fileRead.CloseFile();
    }
    if (FAILED(hr)) {
        m_gate.Open(false);
        DSTrace(TRACE_APP2, 1,
                "###Err### CFileSourceOutput::SetFileName(%s) - m_fileRead.OpenFile() FAILED hr = %d\n",
                szName, hr);
        return hr;
    }

    {
        CCritSecLock lock(m_gate.m_cs);
        memcpy(m_szFileName, szName, sizeof(szName));
        m_idFile = FileIdentity::Of(info);
    }

    // Whether the file still grows is settled before any read can see it.
    if (!IsWriteComplete()) {
        InterlockedExchange(&m_lWriting, 1);
        NoteWriterSeen();
        m_gate.Open(true);
        hr = WaitForAdmission(lTicket);
    } else {
        const LONGLONG llSize = m_fileRead.GetFileSize();
        m_llFinishedSize.store(llSize);
        if (llSize > 0) {
            m_gate.Open(true);
            hr = S_OK;
        } else {
            // Finished and empty (or no longer measurable): nothing to play.
            ResetFileState();
            m_gate.Open(false);
            hr = llSize == 0 ? E_INVALIDARG : E_FAIL;
        }
    }
    if (SUCCEEDED(hr)) {
        // Only now: a recording loaded in its first instant may not hold a
        // whole pack header yet.
        const bool bMpeg = IsMPEGFile(shProbe);
        if (!bMpeg)
            DSTrace(
                TRACE_APP2, 1,
                "WARNING !!! CFileSourceOutput::SetFileName(%s) - Opened file possible is NOT MPEG file\n",
                szName);
        const CMType mt(MEDIATYPE_Stream, bMpeg ? MEDIASUBTYPE_MPEG2_PROGRAM : GUID_NULL);
        SetMediaType(&mt);
    }
    return hr;
}

HRESULT CFileSourceOutput::WaitForAdmission(LONG lTicket) {
    CHAR szName[FILE_NAME_SIZE];
    FileIdentity id;
    const LONG lGeneration = CopyFileName(szName, &id);
    LONGLONG llLast = -1;
    DWORD dwGrown = GetTickCount();
    HRESULT hr = S_OK;
    for (;;) {
        const LONGLONG llSize = m_fileRead.GetFileSize();
        if (llSize >= GROWTH_THRESHOLD)
            return S_OK;
        if (llSize < 0) {
            hr = E_FAIL;
            break;
        }
        const DWORD dwNow = GetTickCount();
        if (llSize != llLast) {
            llLast = llSize;
            dwGrown = dwNow;
        }
        // A recorder that stalls must not hold the caller (the graph
        // manager's RenderFile, a player's user-interface thread) for ever.
        if (dwNow - dwGrown >= m_dwAdmissionStall) {
            hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            break;
        }
        if (InterlockedCompareExchange(&m_lLoadTicket, 0, 0) != lTicket) {
            hr = HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED);
            break;
        }
        DWORD dwNextLook = 0;
        if (!WriterGone(szName, id, &dwNextLook)) {
            Sleep(dwNextLook);
            continue;
        }
        // The writer has closed the file early: it is finished at whatever
        // size it has.
        const LONGLONG llFinal = m_fileRead.GetFileSize();
        MarkFinished(lGeneration, llFinal);
        if (llFinal > 0)
            return S_OK;
        hr = llFinal == 0 ? E_INVALIDARG : E_FAIL;
        break;
    }
    // Empty when its writer left, stalled, given up for a newer file, or no
    // longer measurable.
    DropFile();
    CHAR szSize[CONV_BUFFER_SIZE];
    DSTrace(TRACE_APP2, 1,
            "###Err### CFileSourceOutput::SetFileName - admission ENDED, file size %s hr = 0x%08X\n",
            LL2Str(llLast, szSize), hr);
    return hr;
}

bool CFileSourceOutput::IsMPEGFile(HANDLE _hFile) {
    ASSERT(_hFile != NULL && _hFile != INVALID_HANDLE_VALUE);
    if (_hFile == NULL || _hFile == INVALID_HANDLE_VALUE)
        return false;
    BYTE arrHeader[MPEG2_PACK_CHECKED_SIZE] = {};
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
    // An MPEG-1 pack ('0010') fails here.
    if (!HasMpeg2PackMarkers(arrHeader)) {
        DSTrace(TRACE_APP2, 8, "CFileSourceOutput::IsMPEGFile - Invalid MARKERS\n");
        return false;
    }
    return true;
}

bool CFileSourceOutput::ProbeWriteComplete(LPCSTR pszName, const FileIdentity& id) {
    // Read access, refusing others' writes: this fails exactly while some
    // handle has write access. Readers, whatever they share, never make it
    // fail, and the probe never keeps a recorder from opening its file.
    HANDLE hFile =
        CreateFileA(pszName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(hFile);
        DSTrace(TRACE_APP1, 8, "CFileSourceOutput::IsWriteComplete() - ::CreateFile() SUCCEEDED\n");
        return true;
    }
    const DWORD dwErr = GetLastError();
    if (dwErr == ERROR_SHARING_VIOLATION) {
        // Someone writes the file the name leads to: is it still ours? An
        // open for attributes alone meets no share mode. When that cannot
        // tell, the writer counts.
        bool bSameFile = true;
        hFile =
            CreateFileA(pszName, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        NULL, OPEN_EXISTING, 0, NULL);
        if (hFile != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info = {};
            if (GetFileInformationByHandle(hFile, &info))
                bSameFile = FileIdentity::Of(info) == id;
            CloseHandle(hFile);
        }
        if (!bSameFile) {
            DSTrace(
                TRACE_APP1, 8,
                "CFileSourceOutput::IsWriteComplete() - the name leads to ANOTHER FILE now: nobody writes "
                "ours\n");
            return true;
        }
        DSTrace(TRACE_APP1, 8,
                "CFileSourceOutput::IsWriteComplete() - FILE OPENED FOR WRITE BY ANOTHER PROCESS\n");
        return false;
    }
    // Gone (deleted), or refused for another reason: nobody can be seen
    // writing it.
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::IsWriteComplete() - ::CreateFile() FAILED dwErr = %d\n",
            dwErr);
    return true;
}

bool CFileSourceOutput::IsWriteComplete() {
    CHAR szName[FILE_NAME_SIZE];
    FileIdentity id;
    CopyFileName(szName, &id);
    if (!szName[0]) {
        const LPCSTR m_szFileName = szName;
        // clang-format off
        ASSERT(m_szFileName[ 0 ]);
        // clang-format on
        return false;
    }
    return ProbeWriteComplete(szName, id);
}

void CFileSourceOutput::NoteWriterSeen() {
    InterlockedExchange(&m_lWriterSeen, (LONG)GetTickCount());
}

bool CFileSourceOutput::WriterGone(LPCSTR pszName, const FileIdentity& id, DWORD* pdwNextLook) {
    *pdwNextLook = GROWTH_POLL_TIME;
    if (!ProbeWriteComplete(pszName, id)) {
        NoteWriterSeen();
        return false;
    }
    const DWORD dwSince = GetTickCount() - (DWORD)InterlockedCompareExchange(&m_lWriterSeen, 0, 0);
    if (dwSince >= WRITER_GRACE_TIME)
        return true;
    // Looked at again when the grace runs out, so the end comes no later.
    if (WRITER_GRACE_TIME - dwSince < *pdwNextLook)
        *pdwNextLook = WRITER_GRACE_TIME - dwSince;
    return false;
}

bool CFileSourceOutput::MarkFinished(LONG lGeneration, LONGLONG llSize) {
    CCritSecLock lock(m_gate.m_cs);
    if (m_gate.GenerationLocked() != lGeneration)
        return false;
    m_llFinishedSize.store(llSize);
    InterlockedExchange(&m_lWriting, 0);
    return true;
}

void CFileSourceOutput::NoteSize(LONG lGeneration, LONGLONG llSize) {
    // The common case, a growing file or one no larger than when it was
    // finished, costs two atomic loads.
    if (IsWriting() || llSize <= m_llFinishedSize.load())
        return;
    bool bAgain;
    {
        CCritSecLock lock(m_gate.m_cs);
        bAgain = m_gate.GenerationLocked() == lGeneration && m_gate.IsOpenLocked() && !IsWriting() &&
                 llSize > m_llFinishedSize.load();
        if (bAgain) {
            NoteWriterSeen();
            InterlockedExchange(&m_lWriting, 1);
        }
    }
    if (bAgain) {
        CHAR szSize[CONV_BUFFER_SIZE];
        DSTrace(TRACE_APP2, 8, "CFileSourceOutput - finished file GROWS AGAIN (size %s): being written\n",
                LL2Str(llSize, szSize));
    }
}

HRESULT CFileSourceOutput::GetCurFile(LPOLESTR* pszFileName, AM_MEDIA_TYPE* pmt) {
    if (pmt)
        memset(pmt, 0, sizeof(*pmt));
    if (!pszFileName)
        return E_POINTER;
    *pszFileName = NULL;
    // Neither m_csFile nor the gate is waited for: this answers at once,
    // also while SetFileName waits for a growing file.
    CHAR szName[FILE_NAME_SIZE];
    CopyFileName(szName, NULL);
    if (!szName[0])
        return S_OK;
    const int cchName = FILE_NAME_SIZE - 1;
    LPOLESTR pszWide = static_cast<LPOLESTR>(CoTaskMemAlloc(cchName * sizeof(WCHAR)));
    if (!pszWide)
        return E_OUTOFMEMORY;
    if (!MultiByteToWideChar(CP_ACP, 0, szName, -1, pszWide, cchName))
        pszWide[0] = 0;
    pszWide[cchName - 1] = 0;
    *pszFileName = pszWide;
    if (pmt)
        CopyMediaTypeRecord(pmt);
    return S_OK;
}
