#include "DShowX/DSTrace.h"

#include <errors.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

namespace {

// The listener check of DSTraceListening. Any thread may refresh the answer;
// g_lRefreshing elects one at a time, the others use the answer they find.
std::atomic<LONG> g_lForced{0};
std::atomic<LONG> g_lListening{0};
std::atomic<LONG> g_lChecked{0};  // 0: ask at the next message
std::atomic<DWORD> g_dwCheckedAt{0};
std::atomic<LONG> g_lRefreshing{0};

// Threads showing an assertion's question, by identifier (0: free entry).
const int kAssertThreads = 64;
std::atomic<DWORD> g_arrInAssert[kAssertThreads];

BOOL AskForListener() {
    if (IsDebuggerPresent())
        return TRUE;
    HANDLE hReady = OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY");
    if (!hReady)
        return FALSE;
    CloseHandle(hReady);
    return TRUE;
}

// Marks the calling thread as showing an assertion's question for its life.
class CInAssert {
public:
    CInAssert() : m_nEntry(-1) {
        const DWORD dwId = GetCurrentThreadId();
        for (int i = 0; i < kAssertThreads && m_nEntry < 0; ++i) {
            DWORD dwFree = 0;
            if (g_arrInAssert[i].compare_exchange_strong(dwFree, dwId))
                m_nEntry = i;
        }
    }
    ~CInAssert() {
        if (m_nEntry >= 0)
            g_arrInAssert[m_nEntry].store(0);
    }
    CInAssert(const CInAssert&) = delete;
    CInAssert& operator=(const CInAssert&) = delete;

private:
    int m_nEntry;
};

// Formats into a fixed buffer; a text that does not fit is cut and still
// terminated, so nothing is ever written past the buffer.
void FormatBounded(LPSTR pszBuffer, size_t cbBuffer, LPCSTR pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    _vsnprintf(pszBuffer, cbBuffer, pszFormat, args);
    va_end(args);
    pszBuffer[cbBuffer - 1] = 0;
}

}  // namespace

BOOL DSTraceListening() {
    if (g_lForced.load(std::memory_order_relaxed))
        return TRUE;
    const DWORD dwNow = GetTickCount();
    if (g_lChecked.load(std::memory_order_acquire) &&
        (LONG)(dwNow - g_dwCheckedAt.load(std::memory_order_relaxed)) < TRACE_LISTENER_REFRESH_MS)
        return g_lListening.load(std::memory_order_relaxed);
    if (g_lRefreshing.exchange(1, std::memory_order_acquire))
        return g_lListening.load(std::memory_order_relaxed);
    // The caller's arguments, evaluated after this check, may read the last
    // error: the question must not change it.
    const DWORD dwLastError = GetLastError();
    const BOOL bListening = AskForListener();
    SetLastError(dwLastError);
    g_lListening.store(bListening, std::memory_order_relaxed);
    g_dwCheckedAt.store(dwNow, std::memory_order_relaxed);
    g_lChecked.store(1, std::memory_order_release);
    g_lRefreshing.store(0, std::memory_order_release);
    return bListening;
}

void DSTraceForceOutput(BOOL bForce) {
    g_lForced.store(bForce ? 1 : 0);
}

void DSTraceRefreshListener() {
    g_lChecked.store(0);
}

BOOL IsThreadInAssert(DWORD dwThreadId) {
    if (dwThreadId == 0)
        return FALSE;
    for (int i = 0; i < kAssertThreads; ++i)
        if (g_arrInAssert[i].load() == dwThreadId)
            return TRUE;
    return FALSE;
}

void DSTraceWrite(DWORD dwCategory, UINT nLevel, LPCSTR pszFormat, ...) {
    if (dwCategory == 0)
        return;
    if (nLevel > TRACE_LEVEL)
        return;

    CHAR szBuffer[TRACE_BUFFER_SIZE];
    va_list args;
    va_start(args, pszFormat);
    const int nRes = _vsnprintf(szBuffer, sizeof(szBuffer), pszFormat, args);
    va_end(args);
    // The formatter answers -1 for a text it had to cut.
    const size_t nBuf = nRes < 0 ? sizeof(szBuffer) : (size_t)nRes;
    ASSERT(nBuf < sizeof(szBuffer));
    // A text of 512 or more characters is left unterminated by the formatter.
    szBuffer[sizeof(szBuffer) - 1] = 0;
    OutputDebugStringA(szBuffer);
}

void AssertFailed(LPCSTR pszFile, int nLine, LPCSTR pszExpr) {
    const DWORD dwLastError = GetLastError();

    CHAR szError[FORMAT_ERROR_BUFFER_SIZE];
    FormatError(szError, "", "GetLastError()", dwLastError);

    CHAR szReport[ASSERT_BUFFER_SIZE];
    FormatBounded(szReport, sizeof(szReport), "###Err###\n%s(%i): ASSERT( \"%s\" )\n%s\n", pszFile, nLine,
                  pszExpr, szError);
    OutputDebugStringA(szReport);

    CHAR szQuestion[ASSERT_BUFFER_SIZE];
    FormatBounded(szQuestion, sizeof(szQuestion), "%s (%i)\r\n%s\r\nTerminate/Debug/Ignore?", pszFile, nLine,
                  pszExpr);
    int nAnswer;
    {
        CInAssert inAssert;
        nAnswer = MessageBoxA(NULL, szQuestion, "ASSERT", MB_ABORTRETRYIGNORE);
    }
    switch (nAnswer) {
        case IDABORT:
            TerminateProcess(GetCurrentProcess(), 255);
            break;
        case IDRETRY:
            DebugBreak();
            break;
        default:
            break;
    }
    OutputDebugStringA("\nexit ASSERT");
    // The caller goes on as if the assertion had held, so it must also find
    // the last error it had.
    SetLastError(dwLastError);
}

LPSTR FormatError(LPSTR pszBuffer, LPCSTR pszNote, LPCSTR pszName, DWORD dwCode) {
    if (!pszBuffer || !pszName)
        return NULL;

    const size_t cbBuffer = FORMAT_ERROR_BUFFER_SIZE;
    FormatBounded(pszBuffer, cbBuffer, "%s=0x%08X (%i)\n%s\n", pszName, dwCode, (int)dwCode,
                  pszNote ? pszNote : "no message");

    // The description: the media run-time knows its own codes, the system
    // message table the rest.
    const size_t nHead = strlen(pszBuffer);
    LPSTR pszTail = pszBuffer + nHead;
    const DWORD cbTail = (DWORD)(cbBuffer - nHead);
    if (cbTail > 1) {
        DWORD cch = AMGetErrorTextA((HRESULT)dwCode, pszTail, cbTail);
        if (cch == 0) {
            *pszTail = 0;
            cch = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, dwCode,
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), pszTail, cbTail, NULL);
        }
        if (cch == 0 || cch >= cbTail)
            *pszTail = 0;
        pszBuffer[cbBuffer - 1] = 0;
    }

    // Descriptions end in line breaks; so does the head when there is none.
    size_t nLen = strlen(pszBuffer);
    while (nLen > 0 && (unsigned char)pszBuffer[nLen - 1] >= 0x01 &&
           (unsigned char)pszBuffer[nLen - 1] <= 0x20)
        pszBuffer[--nLen] = 0;
    return pszBuffer;
}

CLogLibrary::CLogLibrary() : m_pfnGetLogObject(NULL), m_hModule(NULL), m_plog(NULL) {
    CHAR szPath[MAX_PATH];
    const DWORD cch = GetModuleFileNameA(NULL, szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return;  // no name, or a cut one

    // Cut after the last directory separator ('/' is one on Windows too).
    LPSTR pszDirEnd = NULL;
    for (LPSTR p = szPath; *p; ++p)
        if (*p == '\\' || *p == '/')
            pszDirEnd = p + 1;
    if (!pszDirEnd)
        return;
    static const CHAR szLibrary[] = "log.dll";
    if ((size_t)(pszDirEnd - szPath) + sizeof(szLibrary) > sizeof(szPath))
        return;
    memcpy(pszDirEnd, szLibrary, sizeof(szLibrary));

    m_hModule = LoadLibraryA(szPath);
    if (!m_hModule)
        return;

    // The export's type is known only here; the cast goes through the generic
    // function type that FARPROC stands for.
    m_pfnGetLogObject = reinterpret_cast<PFN_EXP_GETLOGOBJECT>(
        reinterpret_cast<void (*)()>(GetProcAddress(m_hModule, "Exp_GetLogObject")));
    if (!m_pfnGetLogObject) {
        FreeLibrary(m_hModule);
        m_hModule = NULL;
        return;
    }

    // The library is foreign code: whatever it throws must not escape into
    // the host's module initialisation. On 32-bit Windows nothing it throws
    // gets here: each module with a static run-time unwinds through its own
    // DWARF tables, so an exception leaving the library ends the process in
    // the library's run-time, as a fault inside it does on both targets.
    try {
        if (m_pfnGetLogObject(&m_plog) == 0) {
            if (m_plog)
                m_plog->Connect(&m_plog, 0, 0);
        } else {
            m_plog = NULL;
        }
    } catch (...) {
        FreeLibrary(m_hModule);
        m_hModule = NULL;
        m_pfnGetLogObject = NULL;
        m_plog = NULL;
    }
}

CLogLibrary::~CLogLibrary() {
    if (!m_hModule)
        return;
    if (m_plog)
        m_plog->Disconnect(&m_plog);
    ASSERT(NULL == m_plog);
    m_plog = NULL;
    FreeLibrary(m_hModule);
    m_hModule = NULL;
}

HRESULT GetLogObject(ILogObject** ppLog) {
    // Built on the first call, during the component's load; destroyed when
    // the component is unloaded.
    static CLogLibrary s_logLibrary;
    if (!ppLog)
        return E_POINTER;
    *ppLog = s_logLibrary.GetLog();
    return *ppLog ? S_OK : E_POINTER;
}

HRESULT RefuseCall(HRESULT hr, LPCSTR pszWhat) {
    DSTrace(TRACE_APP1, 1, "###Err### %s - refused hr = 0x%08X\n", pszWhat, hr);
    return hr;
}
