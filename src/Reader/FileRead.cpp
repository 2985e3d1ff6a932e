#include "Reader/FileRead.h"

#include <process.h>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"

namespace {

const char kShortBlock[] =
    "[FS] CCachedReadFile::CachedRead() - CacheBlock() - Only [%s] bytes from [%s] required cached.\n";

// How often OpenFile opens a name whose two opens met two files (or one and
// none) before it gives up: each try is two opens with nothing in between,
// so a rename that lands between them is rare and the next try succeeds.
const DWORD kOpenTries = 5;

// Opens the file for reading, sharing everything: the recorder goes on
// writing it, and may delete or rename its file while we read it.
HRESULT OpenShared(LPCSTR pszFileName, LPCSTR pszWhich, CSmartHandle& shFile) {
    shFile = CreateFileA(pszFileName, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         NULL, OPEN_EXISTING, 0, NULL);
    if (shFile)
        return S_OK;
    const DWORD dwErr = GetLastError();
    CHAR szErr[FORMAT_ERROR_BUFFER_SIZE];
    DSTrace(TRACE_APP2, 1,
            "###Err### CCachedReadFile::OpenFile(%s) - CreateFile() [%s] FAILED dwRes = %d\n%s\n",
            pszFileName, pszWhich, dwErr, FormatError(szErr, "CreateFileA", "dwRes", dwErr));
    return LastErrorResult(dwErr);
}

// Tells whether both handles name one file.
HRESULT SameFile(HANDLE hA, HANDLE hB, bool* pbSame) {
    BY_HANDLE_FILE_INFORMATION infoA, infoB;
    if (!GetFileInformationByHandle(hA, &infoA) || !GetFileInformationByHandle(hB, &infoB)) {
        const DWORD dwErr = GetLastError();
        CHAR szErr[FORMAT_ERROR_BUFFER_SIZE];
        DSTrace(TRACE_APP2, 1,
                "###Err### CCachedReadFile::OpenFile - GetFileInformationByHandle() FAILED dwRes = %d\n%s\n",
                dwErr, FormatError(szErr, "GetFileInformationByHandle", "dwRes", dwErr));
        return LastErrorResult(dwErr);
    }
    *pbSame = infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
              infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
    return S_OK;
}

// Opens the name twice, for the manual file and the thread file, until both
// opens meet the same file: a file renamed over the name between them (or
// moved away, and another moved in) would leave the read-ahead thread on one
// file and the reader on another. Refuses what is not a disk file. On
// failure both holders are empty.
HRESULT OpenPair(LPCSTR pszFileName, CSmartHandle& shManual, CSmartHandle& shThread) {
    for (DWORD dwTry = 1;; ++dwTry) {
        HRESULT hr = OpenShared(pszFileName, "Manual file", shManual);
        if (FAILED(hr))
            return hr;
        // A pipe or a device has no size to measure and no blocks to read
        // ahead, and a read of it may block for ever.
        if (GetFileType(shManual) != FILE_TYPE_DISK) {
            shManual.Close();
            DSTrace(TRACE_APP2, 1, "###Err### CCachedReadFile::OpenFile(%s) - not a disk file\n",
                    pszFileName);
            return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
        }
        bool bSame = false;
        hr = OpenShared(pszFileName, "Thread file", shThread);
        if (SUCCEEDED(hr))
            hr = SameFile(shManual, shThread, &bSame);
        if (SUCCEEDED(hr) && bSame)
            return S_OK;
        shManual.Close();
        shThread.Close();
        // The file was moved away between the two opens (the name named
        // nothing at the second), or another took the name: try again.
        if (FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
            return hr;
        if (dwTry == kOpenTries) {
            DSTrace(TRACE_APP2, 1,
                    "###Err### CCachedReadFile::OpenFile(%s) - the name named another file at each of %u "
                    "tries\n",
                    pszFileName, dwTry);
            return HRESULT_FROM_WIN32(ERROR_CANT_RESOLVE_FILENAME);
        }
        DSTrace(TRACE_APP2, 1,
                "WARNING CCachedReadFile::OpenFile(%s) - the name was given to another file while it was "
                "opened: try %u\n",
                pszFileName, dwTry + 1);
    }
}

}  // namespace

CCachedReadFile::CCachedReadFile()
    : m_llFileReadPos(0),
      m_llCacheReadPos(0),
      m_llForwardReadSize(0),
      m_llWakeAhead(0),
      m_llFileSize(0),
      m_lThreadIdle(0),
      m_lStopThread(0),
      m_lReads(0),
      m_pSizeObserver(NULL),
      m_dwReadThreadId(0),
      m_dwStopThreadTime(STOP_THREAD_TIME) {}

CCachedReadFile::~CCachedReadFile() {
    CloseFile();
    if (m_shReadThread) {
        // Neither stopped nor terminated: the thread still reads into the
        // cache and uses this object, so nothing may be freed before it ends.
        // Its stop signal is set; it ends after the read it is blocked in.
        WaitForSingleObject(m_shReadThread, INFINITE);
        CloseFile();
    }
    Uninit();
}

HRESULT CCachedReadFile::Init(DWORD cbBlockSize, DWORD cbCacheSize) {
    ASSERT(!m_shReadThread && !m_shThreadFile && !m_shManualFile);
    if (m_shReadThread || m_shThreadFile || m_shManualFile)
        return E_UNEXPECTED;
    Uninit();

    // The reports carry these checks as they are written.
    // clang-format off
    ASSERT(!m_arrEvents[ 0 ]);
    ASSERT(!m_arrEvents[ 1 ]);
    // clang-format on
    for (CSmartHandle& shEvent : m_arrEvents) {
        shEvent = CreateEvent(NULL, FALSE, FALSE, NULL);
        if (!shEvent) {
            const HRESULT hr = LastErrorResult(GetLastError());
            Uninit();
            return hr;
        }
    }

    ASSERT(m_blocks.BlockSize() == 0 && m_blocks.BlockNum() == 0 && m_llForwardReadSize == 0);
    CHAR szBlock[CONV_BUFFER_SIZE], szCache[CONV_BUFFER_SIZE];
    // A block size of 0 would divide by zero; one that is not a multiple of 4
    // would leave slot marks unaligned for the interlocked operations.
    DWORD dwBlockNum = 0;
    if (cbBlockSize != 0 && cbBlockSize % 4 == 0)
        dwBlockNum = cbCacheSize / cbBlockSize + (cbCacheSize % cbBlockSize ? 1 : 0);
    if (dwBlockNum < 3) {
        DSTrace(
            TRACE_APP2, 8,
            "###Err### CCachedReadFile::Init( %s, %s )Too big block size [%u] or too small cache size[%s]\n",
            LL2Str(cbBlockSize, szBlock), LL2Str(cbCacheSize, szCache), cbBlockSize,
            LL2Str(cbCacheSize, szCache));
        Uninit();
        return E_INVALIDARG;
    }

    const HRESULT hr = m_blocks.Init(cbBlockSize, dwBlockNum);
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1,
                "###Err### CCachedReadFile::Init( %s, %s )m_blobBuffer.AllocMem() FAILED hr = %d\n",
                LL2Str(cbBlockSize, szBlock), LL2Str(cbCacheSize, szCache), hr);
        Uninit();
        return hr;
    }
    m_llForwardReadSize = (DWORD)((cbCacheSize / 3) * 2);
    // The thread fills the window and is woken again once a quarter of it has
    // been read, so a sequential reader costs one wake-up per quarter window,
    // not one per read.
    m_llWakeAhead = m_llForwardReadSize - m_llForwardReadSize / 4;
    return S_OK;
}

void CCachedReadFile::Uninit() {
    CloseFile();
    ASSERT(!m_shReadThread && !m_shThreadFile && !m_shManualFile);
    // A thread that would not end still uses the events and the slots.
    if (m_shReadThread)
        return;
    m_blocks.Uninit();
    m_arrEvents[0].Close();
    m_arrEvents[1].Close();
    m_llForwardReadSize = 0;
    m_llWakeAhead = 0;
}

HRESULT CCachedReadFile::OpenFile(LPCSTR pszFileName) {
    if (!m_blocks.IsValid())
        return E_UNEXPECTED;
    ASSERT(pszFileName);
    if (!pszFileName)
        return E_POINTER;

    CloseFile();
    ASSERT(!m_shManualFile && !m_shThreadFile);
    if (m_shReadThread)
        return HRESULT_FROM_WIN32(ERROR_BUSY);

    CSmartHandle shManual, shThread;
    const HRESULT hr = OpenPair(pszFileName, shManual, shThread);
    if (FAILED(hr))
        return hr;

    // Signals left from the previous file (a terminated thread never consumed
    // its stop signal) must not reach the new thread.
    ResetEvent(m_arrEvents[0]);
    ResetEvent(m_arrEvents[1]);
    m_lStopThread.store(0);
    m_lThreadIdle.store(0);
    m_lReads.store(0);

    unsigned uThreadId = 0;
    CSmartHandle shReadThread(
        (HANDLE)_beginthreadex(NULL, 0, ReadThread, this, CREATE_SUSPENDED, &uThreadId));
    if (!shReadThread) {
        const DWORD dwErr = GetLastError();
        CHAR szErr[FORMAT_ERROR_BUFFER_SIZE];
        DSTrace(TRACE_APP2, 1,
                "###Err### CCachedReadFile::OpenFile(%s) - CreateThread() FAILED dwRes = %d\n%s\n",
                pszFileName, dwErr, FormatError(szErr, "_beginthreadex", "dwRes", dwErr));
        return LastErrorResult(dwErr);
    }

    m_shManualFile.Attach(shManual.Detach());
    m_shThreadFile.Attach(shThread.Detach());
    m_shReadThread.Attach(shReadThread.Detach());
    m_dwReadThreadId = uThreadId;
    LONGLONG llSize;
    MeasureFileSize(&llSize);  // a failure is traced; the reads measure again

    const DWORD dwPrevCount = ResumeThread(m_shReadThread);
    const BOOL bSuccess = dwPrevCount != 0 && dwPrevCount != (DWORD)-1;
    ASSERT(bSuccess);
    return S_OK;
}

void CCachedReadFile::CloseFile() {
    if (!m_shReadThread) {
        ASSERT(!m_shManualFile);
        ASSERT(!m_shThreadFile);
        ASSERT(m_llFileReadPos == 0);
        ASSERT(m_llCacheReadPos == 0);
        ASSERT(m_llFileSize == 0);
        return;
    }
    ASSERT(!!m_shManualFile && !!m_shThreadFile);
    // clang-format off
    ASSERT(!!m_arrEvents[ 1 ]);
    // clang-format on

    m_lStopThread.store(1);
    SetEvent(m_arrEvents[1]);
    DWORD dwWait = WaitForSingleObject(m_shReadThread, m_dwStopThreadTime);
    // A thread that shows an assertion's question (a broken invariant of the
    // cache, never a failure of the file) waits for a person: ended inside
    // the box, it would leave its locks and the window system's state behind.
    // Wait for the answer.
    while (dwWait == WAIT_TIMEOUT && IsThreadInAssert(m_dwReadThreadId))
        dwWait = WaitForSingleObject(m_shReadThread, m_dwStopThreadTime);
    if (dwWait == WAIT_TIMEOUT) {
        DSTrace(TRACE_APP2, 1,
                "###Err### CCachedReadFile::CloseFile - ::WaitForSingleObject( STOP_THREAD_TIME ) == "
                "WAIT_TIMEOUT - "
                "Terminate Thread\n");
        const BOOL bTerm = TerminateThread(m_shReadThread, 0);
        ASSERT(bTerm);
        dwWait = WaitForSingleObject(m_shReadThread, m_dwStopThreadTime);
        if (dwWait == WAIT_TIMEOUT)
            DSTrace(TRACE_APP2, 1,
                    "!!! ###Err### CCachedReadFile::CloseFile - After TerminateThread() - WAIT_TIMEOUT\n");
    }
    // A thread that lives on still reads through the thread file into the
    // slots, measures through the manual file and walks the index: keep all
    // of it. Its stop signal stays set, so it ends after its current read.
    if (dwWait != WAIT_OBJECT_0)
        return;

    m_shReadThread.Close();
    m_dwReadThreadId = 0;
    m_shManualFile.Close();
    m_shThreadFile.Close();

    m_llFileReadPos.store(0);
    m_llCacheReadPos.store(0);
    m_llFileSize.store(0);

    m_blocks.Clear();
}

BOOL CCachedReadFile::GetFileInformation(BY_HANDLE_FILE_INFORMATION* pInfo) const {
    if (!m_shManualFile) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return GetFileInformationByHandle(m_shManualFile, pInfo);
}

HRESULT CCachedReadFile::SetSizeObserver(IFileSizeObserver* pObserver) {
    ASSERT(!m_shReadThread);
    if (m_shReadThread)
        return E_UNEXPECTED;
    m_pSizeObserver = pObserver;
    return S_OK;
}

LONGLONG CCachedReadFile::GetFileSize() {
    LONGLONG llSize = -1;
    MeasureFileSize(&llSize);
    return llSize;
}

HRESULT CCachedReadFile::MeasureFileSize(LONGLONG* pllSize) {
    ASSERT(pllSize);
    if (!pllSize)
        return E_POINTER;
    *pllSize = -1;
    if (!m_shManualFile)
        return E_UNEXPECTED;
    LARGE_INTEGER liSize;
    // Under m_csPos, so that sizes are stored in the order they were measured
    // and a cut is acted on before anyone stores an older, larger size.
    CCritSecLock lock(m_csPos);
    if (!GetFileSizeEx(m_shManualFile, &liSize)) {
        const DWORD dwErr = GetLastError();
        lock.Unlock();
        CHAR szErr[FORMAT_ERROR_BUFFER_SIZE];
        DSTrace(TRACE_APP2, 1,
                "###Err### CCachedReadFile::GetFileSize - GetFileSizeEx() FAILED dwRes = %d\n%s\n", dwErr,
                FormatError(szErr, "GetFileSizeEx", "dwRes", dwErr));
        return LastErrorResult(dwErr);
    }
    const LONGLONG llOld = m_llFileSize.exchange(liSize.QuadPart);
    if (liSize.QuadPart < llOld) {
        // The file was cut (a recorder starting a new recording into the
        // same name): every block from the new end on may hold old bytes.
        m_blocks.DropBlocksFrom(liSize.QuadPart);
        const LONGLONG llLastFull = liSize.QuadPart - liSize.QuadPart % (LONGLONG)m_blocks.BlockSize();
        LONGLONG llCachePos = m_llCacheReadPos.load();
        while (llCachePos > llLastFull && !m_llCacheReadPos.compare_exchange_weak(llCachePos, llLastFull)) {
        }
    }
    lock.Unlock();
    // Grown: the blocks that just came into the file can be read ahead.
    if (liSize.QuadPart > llOld)
        WakeReadAhead();
    if (m_pSizeObserver)
        m_pSizeObserver->OnFileMeasured(liSize.QuadPart);
    *pllSize = liSize.QuadPart;
    return S_OK;
}

bool CCachedReadFile::ReadAheadWanted(LONGLONG llCachePos, LONGLONG llAhead) const {
    // Nothing is read ahead of a file nobody has read yet.
    return m_lReads.load() != 0 && llCachePos >= 0 && llCachePos < m_llFileReadPos.load() + llAhead &&
           llCachePos + (LONGLONG)m_blocks.BlockSize() <= m_llFileSize.load();
}

void CCachedReadFile::NoteRead(LONGLONG llPosition) {
    m_lReads.fetch_add(1);
    m_llFileReadPos.store(llPosition);
}

void CCachedReadFile::SteerReadAhead(LONGLONG _llBlockStart, BOOL bNextIndexed, LONGLONG llLastFileSize) {
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE];
    const LONGLONG llBlockSize = m_blocks.BlockSize();
    const LONGLONG llNext = _llBlockStart + llBlockSize;
    // EVENT (2), BOOST: the thread keeps its place unless it is behind this
    // read, or the block after this one is missing while the thread is past
    // it (the read moved, or a block was dropped): then it starts again from
    // the block after this one. A read among cached blocks leaves it alone:
    // sent back on every read, it would spend its time (and the reader a
    // wake-up) walking blocks that are cached already.
    const LONGLONG llCachePos = m_llCacheReadPos.load();
    const bool bMove = llCachePos < llNext || (llCachePos > llNext && !bNextIndexed);
    if (bMove) {
        m_llCacheReadPos.store(llNext);
        DSTrace(TRACE_APP2, 1,
                "[FS] EVENT (2) CCachedReadFile::CachedRead() - BOOST cache position ( CachePos: %s "
                "LastFileSize: %s )\n",
                LL2Str(llNext, szA), LL2Str(llLastFileSize, szB));
    }
    if (WakeReadAhead())
        DSTrace(TRACE_APP2, 1,
                "[FS] EVENT (1) CCachedReadFile::CachedRead() - Update cache ENABLED ( CashPos: %s "
                "LastFileSize: %s )\n",
                LL2Str(m_llCacheReadPos.load(), szA), LL2Str(llLastFileSize, szB));
}

bool CCachedReadFile::WakeReadAhead() {
    // Only a sleeping thread with work is woken. Whoever turns m_lThreadIdle
    // from 1 to 0 sets the event; everyone else finds 0 and does nothing.
    if (m_lThreadIdle.load() == 0 || !ReadAheadWanted(m_llCacheReadPos.load(), m_llWakeAhead))
        return false;
    LONG lIdle = 1;
    if (!m_lThreadIdle.compare_exchange_strong(lIdle, 0))
        return false;
    SetEvent(m_arrEvents[0]);
    return true;
}

HRESULT CCachedReadFile::ReadDirect(LONGLONG llPosition, BYTE* pbDest, DWORD cb, DWORD* pcbRead) {
    OVERLAPPED ov = {};
    ov.Offset = (DWORD)(ULONGLONG)llPosition;
    ov.OffsetHigh = (DWORD)((ULONGLONG)llPosition >> 32);
    *pcbRead = 0;
    if (ReadFile(m_shManualFile, pbDest, cb, pcbRead, &ov))
        return S_OK;
    const DWORD dwErr = GetLastError();
    *pcbRead = 0;
    // At or past the end a positioned read fails with ERROR_HANDLE_EOF on
    // Windows: that is a read of 0 bytes, not an error.
    if (dwErr == ERROR_HANDLE_EOF)
        return S_OK;
    CHAR szErr[FORMAT_ERROR_BUFFER_SIZE];
    DSTrace(TRACE_APP2, 1, "###Err### CCachedReadFile::CacheBlock() - ReadFile() FAILED dwRes = %d\n%s\n",
            dwErr, FormatError(szErr, "ReadFile", "dwRes", dwErr));
    return LastErrorResult(dwErr);
}

HRESULT CCachedReadFile::ReadUncached(LONGLONG llPosition, BYTE* pb, DWORD cb, DWORD* pcbRead) {
    ASSERT(pb && pcbRead);
    if (!pcbRead)
        return E_POINTER;
    *pcbRead = 0;
    if (!pb)
        return E_POINTER;
    ASSERT(llPosition >= 0);
    if (llPosition < 0)
        return E_INVALIDARG;
    ASSERT(m_shManualFile);
    if (!m_shManualFile)
        return E_UNEXPECTED;
    return ReadDirect(llPosition, pb, cb, pcbRead);
}

HRESULT CCachedReadFile::CheckRead(LONGLONG llPosition, LONG lLength, const BYTE* pb) const {
    ASSERT(pb);
    if (!pb)
        return E_POINTER;
    ASSERT(llPosition >= 0);
    ASSERT(lLength >= 0);
    if (llPosition < 0 || lLength < 0)
        return E_INVALIDARG;
    ASSERT(m_shManualFile);
    if (!m_shManualFile || !m_blocks.IsValid())
        return E_UNEXPECTED;
    return S_OK;
}

HRESULT CCachedReadFile::ReadBlockPart(LONGLONG llBlockStart, DWORD dwOffset, LONG lInBlock, BYTE* pb,
                                       LONGLONG* pllLastFileSize, LONG* pcbRead) {
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE];
    const LONGLONG llBlockSize = m_blocks.BlockSize();
    // The block the file ends in, as far as is known, is never cached: a
    // slot would hold bytes that are not the file's once it grows, and
    // taking one would evict a block.
    const bool bFileEnd = llBlockStart + llBlockSize > *pllLastFileSize;
    const BlockPin pin = bFileEnd ? BlockPin{BP_Absent, 0, false} : m_blocks.PinBlock(llBlockStart);
    if (pin.eState == BP_Hit) {
        SteerReadAhead(llBlockStart, pin.bNextIndexed, *pllLastFileSize);
        m_blocks.ReadFromBlock(pin.lSlot, pb, (DWORD)lInBlock, dwOffset);
        *pcbRead = lInBlock;
        return S_OK;
    }
    // Read straight into the caller's buffer: the file's last block, a block
    // not cached, or one still being read ahead. For the latter two the
    // read-ahead thread is sent past this block. Reading the whole block into
    // a slot first, or waiting for the thread to finish it, would cost this
    // reader a second copy (or the thread's copy into a cold slot) just when
    // the thread has fallen behind.
    if (bFileEnd) {
        DSTrace(TRACE_APP2, 8, kShortBlock, LL2Str(*pllLastFileSize - llBlockStart, szA),
                LL2Str(llBlockSize > lInBlock ? llBlockSize : lInBlock, szB));
    } else {
        DSTrace(TRACE_APP2, 8,
                pin.eState == BP_Writing
                    ? "[FS] CCachedReadFile::CachedRead() - Block [%s] BEING READ AHEAD - read directly\n"
                    : "[FS] CCachedReadFile::CachedRead() - Block [%s] ABSENT IN CACHE\n",
                LL2Str(llBlockStart, szA));
        SteerReadAhead(llBlockStart, pin.bNextIndexed, *pllLastFileSize);
    }
    DWORD cbRead = 0;
    const HRESULT hr = ReadDirect(llBlockStart + dwOffset, pb, (DWORD)lInBlock, &cbRead);
    *pcbRead = (LONG)cbRead;
    if (FAILED(hr) || *pcbRead == lInBlock)
        return hr;
    // Fewer bytes than the last measured size promised: the file has been
    // cut since it was measured.
    if (llBlockStart + dwOffset + cbRead < *pllLastFileSize) {
        MeasureFileSize(pllLastFileSize);
        if (!bFileEnd)
            DSTrace(TRACE_APP2, 8, kShortBlock, LL2Str(dwOffset + cbRead, szA),
                    LL2Str(llBlockSize > lInBlock ? llBlockSize : lInBlock, szB));
    }
    return S_FALSE;
}

HRESULT CCachedReadFile::CachedRead(LONGLONG _llPosition, LONG lLength, BYTE* _pbBuffer, LONG* _pcbReaded) {
    ASSERT(_pcbReaded);
    if (!_pcbReaded)
        return E_POINTER;
    *_pcbReaded = 0;
    HRESULT hr = CheckRead(_llPosition, lLength, _pbBuffer);
    if (FAILED(hr))
        return hr;

    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szC[CONV_BUFFER_SIZE], szD[CONV_BUFFER_SIZE];
    const LONGLONG llBlockSize = m_blocks.BlockSize();
    DWORD dwOffset = (DWORD)(_llPosition % llBlockSize);
    LONGLONG llBlockStart = _llPosition - dwOffset;
    DSTrace(TRACE_APP2, 8,
            "[FS] CCachedReadFile::CachedRead() - Position: %s Length: %s Block Start: %s Offset: %s\n",
            LL2Str(_llPosition, szA), LL2Str(lLength, szB), LL2Str(llBlockStart, szC), LL2Str(dwOffset, szD));

    NoteRead(_llPosition);
    LONGLONG llLastFileSize = m_llFileSize.load();
    if (_llPosition >= llLastFileSize) {
        hr = MeasureFileSize(&llLastFileSize);
        if (FAILED(hr))
            return hr;
        if (_llPosition >= llLastFileSize) {
            DSTrace(TRACE_APP2, 1, "[FS] CCachedReadFile::CachedRead( %s, %s ) - EOF ( %s ) REACHED\n",
                    LL2Str(_llPosition, szA), LL2Str(lLength, szB), LL2Str(llLastFileSize, szC));
            return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        }
    }

    for (LONG lRest = lLength; lRest > 0;) {
        const LONG lInBlock = (LONG)(llBlockSize - dwOffset) < lRest ? (LONG)(llBlockSize - dwOffset) : lRest;
        LONG n = 0;
        hr = ReadBlockPart(llBlockStart, dwOffset, lInBlock, _pbBuffer, &llLastFileSize, &n);
        *_pcbReaded += n;
        if (hr != S_OK)
            return hr;
        _pbBuffer += n;
        lRest -= n;
        llBlockStart += llBlockSize;
        dwOffset = 0;
        // Past what was known (a file-end block read whole: the file has
        // grown): measure before going on.
        if (lRest > 0 && llBlockStart >= llLastFileSize) {
            hr = MeasureFileSize(&llLastFileSize);
            if (FAILED(hr))
                return hr;
            if (llBlockStart >= llLastFileSize) {
                DSTrace(TRACE_APP2, 1,
                        "[FS] CCachedReadFile::CachedRead() - Block start [%s] after EOF ( %s ) REACHED\n",
                        LL2Str(llBlockStart, szA), LL2Str(llLastFileSize, szB));
                return S_FALSE;
            }
        }
        if (lRest > 0)
            DSTrace(TRACE_APP2, 8, "[FS] Next cicle ( %s bytes LEFT)...\n", LL2Str(lRest, szA));
    }
    DSTrace(TRACE_APP2, 8, "[FS] Data read DONE...\n");
    return S_OK;
}

HRESULT CCachedReadFile::ReadCachedOnly(LONGLONG llPosition, LONG lLength, BYTE* pb) {
    const HRESULT hr = CheckRead(llPosition, lLength, pb);
    if (FAILED(hr))
        return hr;

    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE];
    DSTrace(TRACE_APP2, 8, "[FS] CCachedReadFile::ReadCachedOnly() - Position: %s Length: %s\n",
            LL2Str(llPosition, szA), LL2Str(lLength, szB));
    // Cached blocks lie wholly inside the size as last measured: a read that
    // reaches past it needs the file.
    const LONGLONG llLastFileSize = m_llFileSize.load();
    if (llPosition >= llLastFileSize || lLength > llLastFileSize - llPosition)
        return E_PENDING;

    NoteRead(llPosition);
    const LONGLONG llBlockSize = m_blocks.BlockSize();
    DWORD dwOffset = (DWORD)(llPosition % llBlockSize);
    LONGLONG llBlockStart = llPosition - dwOffset;
    for (LONG lRest = lLength; lRest > 0;) {
        const LONG lInBlock = (LONG)(llBlockSize - dwOffset) < lRest ? (LONG)(llBlockSize - dwOffset) : lRest;
        if (llBlockStart + llBlockSize > llLastFileSize)
            return E_PENDING;  // the file's last block, never cached
        const BlockPin pin = m_blocks.PinBlock(llBlockStart);
        if (pin.eState != BP_Hit) {
            DSTrace(TRACE_APP2, 8,
                    "[FS] CCachedReadFile::ReadCachedOnly() - Block [%s] not cached - PENDING\n",
                    LL2Str(llBlockStart, szA));
            return E_PENDING;
        }
        SteerReadAhead(llBlockStart, pin.bNextIndexed, llLastFileSize);
        m_blocks.ReadFromBlock(pin.lSlot, pb, (DWORD)lInBlock, dwOffset);
        pb += lInBlock;
        lRest -= lInBlock;
        llBlockStart += llBlockSize;
        dwOffset = 0;
    }
    return S_OK;
}
