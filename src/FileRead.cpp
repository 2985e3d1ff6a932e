#include "FileRead.h"

#include <process.h>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"

namespace {

const char kShortBlock[] =
    "[FS] CCachedReadFile::CachedRead() - CacheBlock() - Only [%s] bytes from [%s] required cached.\n";

// Opens the file for reading with read and write sharing, so that the
// recorder can go on writing it.
HRESULT OpenShared(LPCSTR pszFileName, LPCSTR pszWhich, CSmartHandle& shFile) {
    shFile = CreateFileA(pszFileName, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                         0, NULL);
    if (shFile)
        return S_OK;
    const DWORD dwErr = GetLastError();
    DSTrace(TRACE_APP2, 1, "###Err### CCachedReadFile::OpenFile(%s) - CreateFile() [%s] FAILED dwRes = %d\n",
            pszFileName, pszWhich, dwErr);
    return LastErrorResult(dwErr);
}

}  // namespace

CCachedReadFile::CCachedReadFile()
    : m_dwBlockSize(0),
      m_dwBlockNum(0),
      m_lNextIndex(0),
      m_llFileReadPos(0),
      m_llCacheReadPos(0),
      m_llForwardReadSize(0),
      m_llFileSize(0),
      m_dwStopThreadTime(STOP_THREAD_TIME) {
    InitializeCriticalSection(&m_csIndex);
    InitializeCriticalSection(&m_csPos);
}

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
    DeleteCriticalSection(&m_csPos);
    DeleteCriticalSection(&m_csIndex);
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

    ASSERT(m_dwBlockSize == 0 && m_dwBlockNum == 0 && m_llForwardReadSize == 0);
    CHAR szBlock[CONV_BUFFER_SIZE], szCache[CONV_BUFFER_SIZE];
    // A block size of 0 would divide by zero; one that is not a multiple of 4
    // would leave slot marks unaligned for the interlocked operations.
    if (cbBlockSize != 0 && cbBlockSize % 4 == 0) {
        m_dwBlockSize = cbBlockSize;
        m_dwBlockNum = cbCacheSize / cbBlockSize + (cbCacheSize % cbBlockSize ? 1 : 0);
        m_llForwardReadSize = (DWORD)((cbCacheSize / 3) * 2);
    }
    if (m_dwBlockNum < 3) {
        DSTrace(
            TRACE_APP2, 8,
            "###Err### CCachedReadFile::Init( %s, %s )Too big block size [%u] or too small cache size[%s]\n",
            LL2Str(cbBlockSize, szBlock), LL2Str(cbCacheSize, szCache), cbBlockSize,
            LL2Str(cbCacheSize, szCache));
        Uninit();
        return E_INVALIDARG;
    }

    // Counted in 64 bits: the slots of a large cache must not wrap to a
    // small allocation.
    const ULONGLONG cbTotal = ((ULONGLONG)m_dwBlockSize + 12) * m_dwBlockNum;
    HRESULT hr = cbTotal > 0xFFFFFFFFull ? E_OUTOFMEMORY : m_blobBuffer.AllocMem((DWORD)cbTotal, TRUE, 0);
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1,
                "###Err### CCachedReadFile::Init( %s, %s )m_blobBuffer.AllocMem() FAILED hr = %d\n",
                LL2Str(cbBlockSize, szBlock), LL2Str(cbCacheSize, szCache), hr);
        Uninit();
        return hr;
    }
    for (DWORD i = 0; i < m_dwBlockNum; ++i)
        SetSlotPos((LONG)i, -1);
    return S_OK;
}

void CCachedReadFile::Uninit() {
    CloseFile();
    ASSERT(!m_shReadThread && !m_shThreadFile && !m_shManualFile);
    // A thread that would not end still uses the events and the slots.
    if (m_shReadThread)
        return;
    m_blobBuffer.Empty();
    m_arrEvents[0].Close();
    m_arrEvents[1].Close();
    m_dwBlockSize = m_dwBlockNum = 0;
    m_llForwardReadSize = 0;
}

HRESULT CCachedReadFile::OpenFile(LPCSTR pszFileName) {
    if (!m_blobBuffer.IsValid())
        return E_UNEXPECTED;
    ASSERT(pszFileName);
    if (!pszFileName)
        return E_POINTER;

    CloseFile();
    ASSERT(!m_shManualFile && !m_shThreadFile);
    if (m_shReadThread)
        return HRESULT_FROM_WIN32(ERROR_BUSY);

    CSmartHandle shManual, shThread;
    HRESULT hr = OpenShared(pszFileName, "Manual file", shManual);
    if (FAILED(hr))
        return hr;
    hr = OpenShared(pszFileName, "Thread file", shThread);
    if (FAILED(hr)) {
        ASSERT(FALSE);
        return hr;
    }

    // Signals left from the previous file (a terminated thread never consumed
    // its stop signal) must not reach the new thread.
    ResetEvent(m_arrEvents[0]);
    ResetEvent(m_arrEvents[1]);

    CSmartHandle shReadThread((HANDLE)_beginthreadex(NULL, 0, ReadThread, this, CREATE_SUSPENDED, NULL));
    if (!shReadThread) {
        const DWORD dwErr = GetLastError();
        DSTrace(TRACE_APP2, 1, "###Err### CCachedReadFile::OpenFile(%s) - CreateThread() FAILED dwRes = %d\n",
                pszFileName, dwErr);
        ASSERT(FALSE);
        return LastErrorResult(dwErr);
    }

    m_shManualFile.Attach(shManual.Detach());
    m_shThreadFile.Attach(shThread.Detach());
    m_shReadThread.Attach(shReadThread.Detach());
    GetFileSize();

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

    SetEvent(m_arrEvents[1]);
    DWORD dwWait = WaitForSingleObject(m_shReadThread, m_dwStopThreadTime);
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
    m_shManualFile.Close();
    m_shThreadFile.Close();

    EnterCriticalSection(&m_csPos);
    m_llFileReadPos = 0;
    m_llCacheReadPos = 0;
    m_llFileSize = 0;
    LeaveCriticalSection(&m_csPos);

    // Slot marks and positions stay: the index alone decides what is cached.
    EnterCriticalSection(&m_csIndex);
    InterlockedExchange(&m_lNextIndex, 0);
    m_mapIndex.clear();
    LeaveCriticalSection(&m_csIndex);
}

LONGLONG CCachedReadFile::GetFileSize() {
    ASSERT(m_shManualFile);
    LARGE_INTEGER liSize;
    if (!GetFileSizeEx(m_shManualFile, &liSize)) {
        DSTrace(TRACE_APP2, 1, "###Err### CCachedReadFile::GetFileSize - GetFileSizeEx() FAILED dwRes = %d\n",
                GetLastError());
        ASSERT(FALSE);
        return -1;
    }
    EnterCriticalSection(&m_csPos);
    m_llFileSize = liSize.QuadPart;
    LeaveCriticalSection(&m_csPos);
    return liSize.QuadPart;
}

LONGLONG CCachedReadFile::GetLastFileSize() {
    EnterCriticalSection(&m_csPos);
    const LONGLONG llSize = m_llFileSize;
    LeaveCriticalSection(&m_csPos);
    return llSize;
}

HRESULT CCachedReadFile::CachedRead(LONGLONG _llPosition, LONG lLength, BYTE* _pbBuffer, LONG* _pcbReaded) {
    ASSERT(_pbBuffer && _pcbReaded);
    if (!_pcbReaded)
        return E_POINTER;
    *_pcbReaded = 0;
    if (!_pbBuffer)
        return E_POINTER;
    ASSERT(_llPosition >= 0);
    ASSERT(lLength >= 0);
    if (_llPosition < 0 || lLength < 0)
        return E_INVALIDARG;
    ASSERT(m_shManualFile);
    if (!m_shManualFile || !m_blobBuffer.IsValid())
        return E_UNEXPECTED;

    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szC[CONV_BUFFER_SIZE], szD[CONV_BUFFER_SIZE];
    const LONGLONG llBlockSize = m_dwBlockSize;
    DWORD dwOffset = (DWORD)(_llPosition % llBlockSize);
    LONGLONG llBlockStart = _llPosition - dwOffset;
    LONG lRest = lLength;
    DSTrace(TRACE_APP2, 8,
            "[FS] CCachedReadFile::CachedRead() - Position: %s Length: %s Block Start: %s Offset: %s\n",
            LL2Str(_llPosition, szA), LL2Str(lLength, szB), LL2Str(llBlockStart, szC), LL2Str(dwOffset, szD));

    EnterCriticalSection(&m_csPos);
    m_llFileReadPos = _llPosition;
    LONGLONG llLastFileSize = m_llFileSize;
    const LONGLONG llCachePos = m_llCacheReadPos;
    LeaveCriticalSection(&m_csPos);

    if (_llPosition >= llLastFileSize) {
        llLastFileSize = GetFileSize();
        if (_llPosition >= llLastFileSize) {
            DSTrace(TRACE_APP2, 1, "[FS] CCachedReadFile::CachedRead( %s, %s ) - EOF ( %s ) REACHED\n",
                    LL2Str(_llPosition, szA), LL2Str(lLength, szB), LL2Str(llLastFileSize, szC));
            return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        }
    }

    // EVENT (1): the thread is not far enough ahead of this read. Its
    // position is left as it is: it may have moved on since it was read
    // above, and putting the older value back would send it over blocks it
    // has just handled.
    if (llCachePos < _llPosition + m_llForwardReadSize) {
        bool bInFile = true;
        if (llCachePos + llBlockSize > llLastFileSize) {
            llLastFileSize = GetFileSize();
            bInFile = llCachePos + llBlockSize <= llLastFileSize;
        }
        if (bInFile) {
            SetEvent(m_arrEvents[0]);
            DSTrace(TRACE_APP2, 1,
                    "[FS] EVENT (1) CCachedReadFile::CachedRead() - Update cache ENABLED ( CashPos: %s "
                    "LastFileSize: %s )\n",
                    LL2Str(llCachePos, szA), LL2Str(llLastFileSize, szB));
        }
    }

    while (lRest > 0) {
        LONG lIndex = 0;
        BOOL bWaitWrite = FALSE;
        if (!AcquireBlock(llBlockStart, &lIndex, TRUE, &bWaitWrite)) {
            DSTrace(TRACE_APP2, 8, "[FS] CCachedReadFile::CachedRead() - Block [%s] ABSENT IN CACHE\n",
                    LL2Str(llBlockStart, szA));
            // The slot stays READ-marked for this reader after the fill.
            const LONG lCached = CacheBlock(lIndex, m_shManualFile, llBlockStart, TRUE);
            if (lCached < (LONG)m_dwBlockSize) {
                // The file ends inside this block: serve what was read, from
                // the slot that nobody else can find any more.
                const LONGLONG llRequired = llBlockSize > lRest ? llBlockSize : lRest;
                DSTrace(TRACE_APP2, 8, kShortBlock, LL2Str(lCached, szA), LL2Str(llRequired, szB));
                LONG n = 0;
                if ((LONG)dwOffset >= lCached)
                    ASSERT(FALSE);
                else
                    n = lCached - (LONG)dwOffset < lRest ? lCached - (LONG)dwOffset : lRest;
                ReadFromBlock(lIndex, _pbBuffer, (DWORD)n, n ? dwOffset : 0);
                if (n) {
                    DSTrace(TRACE_APP2, 8, kShortBlock, LL2Str(lCached, szA), LL2Str(llRequired, szB));
                    *_pcbReaded += n;
                    lRest -= n;
                }
                return lRest ? S_FALSE : S_OK;
            }
        }

        // EVENT (2), BOOST: keep the thread going from the block after this
        // one. It keeps its place while it works inside the window ahead of
        // this read with the next block already cached: sent back to the
        // next block on every read, it would spend its passes walking blocks
        // it has already cached instead of reading new ones, and sequential
        // reads would catch up with it. Behind this read, further ahead than
        // its passes take it, or with a gap after this block (the read
        // moved), it is moved to the next block. It is woken only while the
        // window has room, as with EVENT (1).
        const LONGLONG llNext = llBlockStart + llBlockSize;
        EnterCriticalSection(&m_csPos);
        LONGLONG llBoostPos = m_llCacheReadPos;
        LeaveCriticalSection(&m_csPos);
        const bool bMove = llBoostPos < llNext || llBoostPos > llNext + m_llForwardReadSize + llBlockSize ||
                           (llBoostPos > llNext && !IsIndexed(llNext));
        if (bMove)
            llBoostPos = llNext;
        if (bMove || llBoostPos < _llPosition + m_llForwardReadSize) {
            if (llBoostPos + llBlockSize > llLastFileSize)
                llLastFileSize = GetFileSize();
            if (llBoostPos + llBlockSize <= llLastFileSize) {
                EnterCriticalSection(&m_csPos);
                if (bMove)
                    m_llCacheReadPos = llBoostPos;
                SetEvent(m_arrEvents[0]);
                LeaveCriticalSection(&m_csPos);
                DSTrace(TRACE_APP2, 1,
                        "[FS] EVENT (2) CCachedReadFile::CachedRead() - BOOST cache position ( CachePos: %s "
                        "LastFileSize: %s )\n",
                        LL2Str(llBoostPos, szA), LL2Str(llLastFileSize, szB));
            }
        }

        const LONG n = (LONG)(m_dwBlockSize - dwOffset) < lRest ? (LONG)(m_dwBlockSize - dwOffset) : lRest;
        // A block found while another thread was still writing it may have
        // come up short and been dropped: then look for it again.
        if (ReadFromBlock(lIndex, _pbBuffer, (DWORD)n, dwOffset, bWaitWrite ? llBlockStart : -1) < 0)
            continue;
        _pbBuffer += n;
        *_pcbReaded += n;
        lRest -= n;
        llBlockStart += llBlockSize;
        dwOffset = 0;

        if (llBlockStart >= llLastFileSize) {
            llLastFileSize = GetFileSize();
            if (llBlockStart >= llLastFileSize) {
                DSTrace(TRACE_APP2, 1,
                        "[FS] CCachedReadFile::CachedRead() - Block start [%s] after EOF ( %s ) REACHED\n",
                        LL2Str(llBlockStart, szA), LL2Str(llLastFileSize, szB));
                return S_FALSE;
            }
        }
        if (lRest > 0)
            DSTrace(TRACE_APP2, 8, "[FS] Next cicle ( %s bytes LEFT)...\n", LL2Str(lRest, szA));
        else
            DSTrace(TRACE_APP2, 8, "[FS] Data read DONE...\n");
    }
    return S_OK;
}
