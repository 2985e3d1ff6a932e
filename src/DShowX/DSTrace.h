// Diagnostics of the library: filtered trace messages to the debugger
// output, run-time assertions that stay active in the shipped component,
// error texts, and the holder of the optional outside log library.
#pragma once

#include <windows.h>
#include <tchar.h>

// Trace categories: one flag per message; any non-zero category is written.
#define TRACE_APP1 0x00000001       // the pin's IAsyncReader methods, read path, cache traffic ("[FS] ")
#define TRACE_APP2 0x00000002       // filter, pin life, file admission, block cache, read-ahead thread
#define TRACE_GENERAL 0x00000020    // library objects' life, allocator warnings, connection steps
#define TRACE_COM 0x00000040        // entries of the library's interface methods
#define TRACE_WINDOWING 0x00000400  // window message maps
#define TRACE_CONTROLS 0x00000800   // the property page

// Messages of level 0 to TRACE_LEVEL are written; higher levels are dropped.
#define TRACE_LEVEL 8

// Sizes of the stack buffers of the diagnostics.
#define TRACE_BUFFER_SIZE 512
#define ASSERT_BUFFER_SIZE 512
#define FORMAT_ERROR_BUFFER_SIZE 1024

// How long the answer of DSTraceListening is kept before it is asked again.
#define TRACE_LISTENER_REFRESH_MS 250

// Whether anyone receives the debugger output: a debugger is attached, a
// debug-output listener runs (it creates the event "DBWIN_BUFFER_READY",
// which OutputDebugStringA itself looks for), or the process asked for every
// message (DSTraceForceOutput). Writing a message costs a kernel call and an
// exception even when nobody listens, and blocks while a listener is slow, so
// messages are formatted and written only when this is true. The answer is
// refreshed at most every TRACE_LISTENER_REFRESH_MS; between refreshes it
// costs a tick count and an atomic read.
BOOL DSTraceListening();
// A process-local switch that makes DSTraceListening true (tests capture the
// debugger output in the process; a named event would be seen by every
// process of the session).
void DSTraceForceOutput(BOOL bForce);
// Forgets the answer of DSTraceListening, so the next message asks again.
void DSTraceRefreshListener();

// Formats one line (at most 511 characters) and writes it to the debugger
// output. Called through DSTrace.
void DSTraceWrite(DWORD dwCategory, UINT nLevel, LPCSTR pszFormat, ...);

// True when a message of this category and level would be written.
#define DSTraceWanted(dwCategory, nLevel) \
    ((dwCategory) != 0 && (UINT)(nLevel) <= TRACE_LEVEL && DSTraceListening())

// Writes one formatted line to the debugger output when the category is
// non-zero, the level is at most TRACE_LEVEL and someone listens. The format
// follows the C run-time's rules, %I64i included. The arguments are evaluated
// only when the message is written, so a dropped message costs no text
// conversion: arguments must never have side effects.
#define DSTrace(dwCategory, nLevel, ...) \
    (DSTraceWanted(dwCategory, nLevel) ? DSTraceWrite(dwCategory, nLevel, __VA_ARGS__) : (void)0)

// Reports a failed assertion on the debugger output (always, whether anyone
// listens or not) and asks whether to terminate the process, break into the
// debugger or ignore the failure. Returns after Retry or Ignore, with the
// thread's last error unchanged.
void AssertFailed(LPCSTR pszFile, int nLine, LPCSTR pszExpr);

// True while the thread with this identifier shows an assertion's question.
// A thread ended there would leave its locks and the window system's state
// behind, so whoever would end it must wait for the answer instead.
BOOL IsThreadInAssert(DWORD dwThreadId);

// Active in every build. It does not change the caller's control flow: after
// an ignored failure the code goes on as if the expression had held.
#define ASSERT(expr)                                 \
    do {                                             \
        if (!(expr))                                 \
            AssertFailed(__FILE__, __LINE__, #expr); \
    } while (0)

// Refuses a call whose arguments or moment come from outside the component
// (a caller's null, a splitter's bad range, a pin whose filter is in no
// graph): traces "###Err### <what> - refused hr = 0x%08X" at level 1 and
// returns hr. No assertion: the question box would freeze the caller's
// thread, and Abort would end the host process for its mistake. ASSERT stays
// for the component's own invariants.
HRESULT RefuseCall(HRESULT hr, LPCSTR pszWhat);

// Writes "name=0x%08X (%i)\nnote\n" and the platform's description of the
// code into pszBuffer (FORMAT_ERROR_BUFFER_SIZE bytes), without trailing
// blanks and line breaks. A null note writes "no message". Returns pszBuffer,
// or null (writing nothing) when pszBuffer or pszName is null.
LPSTR FormatError(LPSTR pszBuffer, LPCSTR pszNote, LPCSTR pszName, DWORD dwCode);

// The interface of the outside log library's log object. Only Write, Connect
// and Disconnect are called; the other entries keep the table's positions.
struct ILogObject {
    virtual LONG STDMETHODCALLTYPE Reserved0() = 0;
    virtual LONG STDMETHODCALLTYPE Reserved1() = 0;
    virtual LONG STDMETHODCALLTYPE Reserved2() = 0;
    virtual LONG STDMETHODCALLTYPE Reserved3() = 0;
    virtual LONG STDMETHODCALLTYPE Reserved4() = 0;
    // Takes the text during the call; the caller frees it right after.
    virtual LONG STDMETHODCALLTYPE Write(ULONG cchText, LPCSTR pszText) = 0;
    virtual LONG STDMETHODCALLTYPE Reserved6() = 0;
    virtual LONG STDMETHODCALLTYPE Connect(ILogObject** ppHolder, DWORD_PTR dwReserved1,
                                           DWORD_PTR dwReserved2) = 0;
    // Releases the object and clears *ppHolder.
    virtual LONG STDMETHODCALLTYPE Disconnect(ILogObject** ppHolder) = 0;
};

// The export of the outside log library; 0 means success.
typedef int(__cdecl* PFN_EXP_GETLOGOBJECT)(ILogObject** ppLog);

// Holds the outside log library "log.dll" for the life of the component.
// The library is looked for only in the directory of the process's main
// executable, by full path: a library taken from the current directory could
// be planted there by anyone who controls it.
class CLogLibrary {
public:
    CLogLibrary();
    ~CLogLibrary();
    CLogLibrary(const CLogLibrary&) = delete;
    CLogLibrary& operator=(const CLogLibrary&) = delete;

    ILogObject* GetLog() const { return m_plog; }

private:
    PFN_EXP_GETLOGOBJECT m_pfnGetLogObject;
    HMODULE m_hModule;
    ILogObject* m_plog;
};

// Hands out the process's log object (borrowed: no reference is added).
// Returns E_POINTER when ppLog is null or there is no log object. The first
// call loads the library.
HRESULT GetLogObject(ILogObject** ppLog);
