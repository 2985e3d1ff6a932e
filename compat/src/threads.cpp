// Threads, time and critical sections.
#include "kobject.h"

#include <process.h>
#include <errno.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace compat {
namespace {

// Thread identifiers, as Windows gives them: multiples of 4, never reused in
// the process's life, the same number from the creating call and from
// GetCurrentThreadId in the thread. Threads the layer did not start get
// theirs on their first GetCurrentThreadId.
std::atomic<DWORD> g_nextThreadId{0x100};
thread_local DWORD t_threadId = 0;

DWORD NewThreadId() {
    return g_nextThreadId.fetch_add(4, std::memory_order_relaxed);
}

// A thread object. The running thread holds one reference of its own, so the
// object outlives a CloseHandle made while the thread still runs.
class KThread : public KObject {
public:
    KThread(LPTHREAD_START_ROUTINE start, LPVOID param, DWORD suspendCount)
        : KObject(kThread),
          m_start(start),
          m_param(param),
          m_id(NewThreadId()),
          m_suspendCount(suspendCount) {}
    bool Signalled(Clock::time_point) override { return m_exited; }

    const LPTHREAD_START_ROUTINE m_start;
    const LPVOID m_param;
    const DWORD m_id;
    // Guarded by SyncLock(). The thread waits on m_resumed until the suspend
    // count reaches 0; ResumeThread wakes it.
    DWORD m_suspendCount;
    std::condition_variable m_resumed;
    bool m_exited = false;
    DWORD m_exitCode = STILL_ACTIVE;
};

void FinishThread(KThread* self, DWORD code) {
    {
        std::lock_guard<std::mutex> g(SyncLock());
        self->m_exitCode = code;
        self->m_exited = true;
        self->NotifyWaiters();
    }
    self->Release();
}

// Marks the thread finished however it leaves ThreadMain, also through
// ExitThread, whose pthread_exit unwinds the stack.
struct ExitGuard {
    KThread* self;
    DWORD code = 0;
    ~ExitGuard() { FinishThread(self, code); }
};

thread_local ExitGuard* t_exitGuard = nullptr;

void* ThreadMain(void* arg) {
    KThread* self = static_cast<KThread*>(arg);
    t_threadId = self->m_id;
    {
        std::unique_lock<std::mutex> lock(SyncLock());
        while (self->m_suspendCount > 0)
            self->m_resumed.wait(lock);
    }
    ExitGuard guard{self};
    t_exitGuard = &guard;
    guard.code = self->m_start(self->m_param);
    return nullptr;
}

HANDLE StartThread(LPTHREAD_START_ROUTINE start, LPVOID param, SIZE_T stackSize, DWORD flags,
                   LPDWORD threadId) {
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    KThread* t = new KThread(start, param, (flags & CREATE_SUSPENDED) ? 1 : 0);
    t->AddRef();  // the running thread's reference
    HANDLE h = InsertHandle(t);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize)
        pthread_attr_setstacksize(&attr, stackSize < 65536 ? 65536 : stackSize);
    pthread_t tid;
    int err = pthread_create(&tid, &attr, ThreadMain, t);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        t->Release();  // the thread's reference
        CloseHandle(h);
        SetLastError(err == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : Win32ErrorFromErrno(err));
        errno = err;
        return NULL;
    }
    if (threadId)
        *threadId = t->m_id;
    SetLastError(ERROR_SUCCESS);
    return h;
}

}  // namespace
}  // namespace compat

using namespace compat;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
    return StartThread(lpStartAddress, lpParameter, dwStackSize, dwCreationFlags, lpThreadId);
}

uintptr_t _beginthreadex(void*, unsigned stack_size, unsigned(__stdcall* start_address)(void*), void* arglist,
                         unsigned initflag, unsigned* thrdaddr) {
    // The two routine types differ only in their result's name; both return a
    // 32-bit unsigned value in the same register.
    DWORD id = 0;
    HANDLE h = StartThread(reinterpret_cast<LPTHREAD_START_ROUTINE>(start_address), arglist, stack_size,
                           initflag, &id);
    if (thrdaddr)
        *thrdaddr = id;
    return reinterpret_cast<uintptr_t>(h);
}

void _endthreadex(unsigned retval) {
    ExitThread(retval);
}

void WINAPI ExitThread(DWORD dwExitCode) {
    if (t_exitGuard)
        t_exitGuard->code = dwExitCode;
    pthread_exit(nullptr);
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
    KRef r = LookupHandle(hThread, KObject::kThread);
    if (!r)
        return (DWORD)-1;
    KThread* t = static_cast<KThread*>(r.get());
    std::lock_guard<std::mutex> g(SyncLock());
    DWORD previous = t->m_suspendCount;
    if (t->m_suspendCount > 0 && --t->m_suspendCount == 0)
        t->m_resumed.notify_all();
    return previous;
}

BOOL WINAPI TerminateThread(HANDLE hThread, DWORD) {
    KRef r = LookupHandle(hThread, KObject::kThread);
    if (!r)
        return FALSE;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    KRef r = LookupHandle(hThread, KObject::kThread);
    if (!r)
        return FALSE;
    if (!lpExitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> g(SyncLock());
    *lpExitCode = static_cast<KThread*>(r.get())->m_exitCode;
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) {
    return reinterpret_cast<HANDLE>((LONG_PTR)-1);
}
HANDLE WINAPI GetCurrentThread(void) {
    return reinterpret_cast<HANDLE>((LONG_PTR)-2);
}
DWORD WINAPI GetCurrentProcessId(void) {
    return (DWORD)getpid();
}
DWORD WINAPI GetCurrentThreadId(void) {
    if (!t_threadId)
        t_threadId = NewThreadId();
    return t_threadId;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == INFINITE) {
        for (;;)
            pause();
    }
    struct timespec ts;
    ts.tv_sec = dwMilliseconds / 1000;
    ts.tv_nsec = (long)(dwMilliseconds % 1000) * 1000000L;
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

ULONGLONG WINAPI GetTickCount64(void) {
    // The coarse clock ticks every few milliseconds, as the Windows tick
    // count does, and is read without a kernel call.
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return (ULONGLONG)ts.tv_sec * 1000 + (ULONGLONG)ts.tv_nsec / 1000000;
}

DWORD WINAPI GetTickCount(void) {
    return (DWORD)GetTickCount64();
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    // 100 ns units since 1601-01-01.
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    ULONGLONG t = ((ULONGLONG)ts.tv_sec + 11644473600ULL) * 10000000ULL + (ULONGLONG)ts.tv_nsec / 100;
    lpSystemTimeAsFileTime->dwLowDateTime = (DWORD)t;
    lpSystemTimeAsFileTime->dwHighDateTime = (DWORD)(t >> 32);
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    lpPerformanceCount->QuadPart = (LONGLONG)ts.tv_sec * 1000000000LL + ts.tv_nsec;
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    lpFrequency->QuadPart = 1000000000LL;
    return TRUE;
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&cs->m, &attr);
    pthread_mutexattr_destroy(&attr);
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD) {
    InitializeCriticalSection(cs);
    return TRUE;
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutex_destroy(&cs->m);
}
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutex_lock(&cs->m);
}
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    return pthread_mutex_trylock(&cs->m) == 0;
}
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutex_unlock(&cs->m);
}

}  // extern "C"
