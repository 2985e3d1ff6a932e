// Handles, waits, events, semaphores and waitable timers.
#include "kobject.h"

#include <errno.h>

#include <algorithm>

namespace compat {

std::mutex& SyncLock() {
    static std::mutex s_lock;
    return s_lock;
}

namespace {

// The handle table. Handle values are multiples of 4 starting at 4, like
// Windows handles; a closed slot is reused, so a stale handle may name a new
// object, as on Windows.
// Lock order: TableLock() may be taken before SyncLock(), never after.
struct HandleTable {
    std::mutex lock;               // guards slots and freeList
    std::vector<KObject*> slots;   // null: free
    std::vector<size_t> freeList;  // indices of free slots
};

HandleTable& Table() {
    static HandleTable* s_table = new HandleTable;  // never destroyed: threads may outlive statics
    return *s_table;
}

bool SlotOf(HANDLE h, size_t* slot) {
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v == 0 || (v & 3) != 0)
        return false;
    *slot = v / 4 - 1;
    return true;
}

KObject* TakeHandle(HANDLE h) {
    size_t slot;
    if (!SlotOf(h, &slot))
        return nullptr;
    HandleTable& t = Table();
    std::lock_guard<std::mutex> g(t.lock);
    if (slot >= t.slots.size() || !t.slots[slot])
        return nullptr;
    KObject* obj = t.slots[slot];
    t.slots[slot] = nullptr;
    t.freeList.push_back(slot);
    return obj;
}

thread_local DWORD t_lastError = 0;

}  // namespace

HANDLE InsertHandle(KObject* obj) {
    HandleTable& t = Table();
    std::lock_guard<std::mutex> g(t.lock);
    size_t slot;
    if (!t.freeList.empty()) {
        slot = t.freeList.back();
        t.freeList.pop_back();
        t.slots[slot] = obj;
    } else {
        slot = t.slots.size();
        t.slots.push_back(obj);
    }
    return reinterpret_cast<HANDLE>((slot + 1) * 4);
}

KRef LookupHandle(HANDLE h) {
    size_t slot;
    if (SlotOf(h, &slot)) {
        HandleTable& t = Table();
        std::lock_guard<std::mutex> g(t.lock);
        if (slot < t.slots.size() && t.slots[slot]) {
            t.slots[slot]->AddRef();
            return KRef(t.slots[slot]);
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return KRef();
}

KRef LookupHandle(HANDLE h, KObject::Kind kind) {
    KRef r = LookupHandle(h);
    if (r && r->kind() != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return KRef();
    }
    return r;
}

DWORD Win32ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case EIO:
            return ERROR_READ_FAULT;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case EBUSY:
            return ERROR_BUSY;
        case ETXTBSY:
            return ERROR_SHARING_VIOLATION;
        case EAGAIN:
            return ERROR_NOT_READY;
        case ENOSYS:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        case EOVERFLOW:
        case ESPIPE:
            return ERROR_SEEK;
        default:
            return ERROR_GEN_FAILURE;
    }
}

namespace {

class KEvent : public KObject {
public:
    KEvent(bool manual, bool initial) : KObject(kEvent), m_manual(manual), m_signalled(initial) {}
    bool Signalled(Clock::time_point) override { return m_signalled; }
    void Consume() override {
        if (!m_manual)
            m_signalled = false;
    }
    bool m_manual;
    bool m_signalled;  // guarded by SyncLock()
};

class KSemaphore : public KObject {
public:
    KSemaphore(LONG initial, LONG maximum) : KObject(kSemaphore), m_count(initial), m_max(maximum) {}
    bool Signalled(Clock::time_point) override { return m_count > 0; }
    void Consume() override { --m_count; }
    LONG m_count;  // guarded by SyncLock()
    const LONG m_max;
};

// A timer is signalled from its due time on. A periodic timer then moves its
// due time on by whole periods, so a late waiter sees one signal however many
// periods it missed, and the next one a period later.
class KTimer : public KObject {
public:
    explicit KTimer(bool manual) : KObject(kTimer), m_manual(manual) {}
    bool Signalled(Clock::time_point now) override {
        Update(now);
        return m_signalled;
    }
    void Consume() override {
        if (!m_manual)
            m_signalled = false;
    }
    bool NextDue(Clock::time_point* due) override {
        if (!m_active)
            return false;
        *due = m_due;
        return true;
    }
    void Update(Clock::time_point now) {
        if (!m_active || now < m_due)
            return;
        m_signalled = true;
        if (m_period.count() > 0) {
            auto missed = (now - m_due) / m_period;
            m_due += m_period * (missed + 1);
        } else {
            m_active = false;
        }
    }
    // All guarded by SyncLock().
    const bool m_manual;
    bool m_signalled = false;
    bool m_active = false;
    Clock::time_point m_due;
    Clock::duration m_period{0};
};

}  // namespace
}  // namespace compat

using namespace compat;

extern "C" {

DWORD WINAPI GetLastError(void) {
    return t_lastError;
}
void WINAPI SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    KObject* obj = TakeHandle(hObject);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    obj->Release();
    return TRUE;
}

BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                            LPHANDLE lpTargetHandle, DWORD, BOOL, DWORD dwOptions) {
    if (hSourceProcessHandle != GetCurrentProcess() || hTargetProcessHandle != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    KRef src = LookupHandle(hSourceHandle);
    if (!src)
        return FALSE;
    if (lpTargetHandle) {
        src->AddRef();
        *lpTargetHandle = InsertHandle(src.get());
    }
    if (dwOptions & DUPLICATE_CLOSE_SOURCE)
        CloseHandle(hSourceHandle);
    return TRUE;
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    KRef refs[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < nCount; ++i) {
        refs[i] = LookupHandle(lpHandles[i]);
        if (!refs[i] || refs[i]->kind() == KObject::kFile || refs[i]->kind() == KObject::kKey) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    const bool infinite = dwMilliseconds == INFINITE;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(infinite ? 0 : dwMilliseconds);

    Waiter self;
    std::unique_lock<std::mutex> lock(SyncLock());
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (bWaitAll) {
            bool all = true;
            for (DWORD i = 0; i < nCount && all; ++i)
                all = refs[i]->Signalled(now);
            if (all) {
                for (DWORD i = 0; i < nCount; ++i)
                    refs[i]->Consume();
                return WAIT_OBJECT_0;
            }
        } else {
            // The lowest signalled index wins, as on Windows.
            for (DWORD i = 0; i < nCount; ++i) {
                if (refs[i]->Signalled(now)) {
                    refs[i]->Consume();
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (!infinite && now >= deadline)
            return WAIT_TIMEOUT;

        Clock::time_point wake = infinite ? Clock::time_point::max() : deadline;
        for (DWORD i = 0; i < nCount; ++i) {
            Clock::time_point due;
            if (refs[i]->NextDue(&due))
                wake = std::min(wake, due);
        }
        for (DWORD i = 0; i < nCount; ++i)
            refs[i]->waiters.push_back(&self);
        if (wake == Clock::time_point::max())
            self.cv.wait(lock);
        else
            self.cv.wait_until(lock, wake);
        for (DWORD i = 0; i < nCount; ++i) {
            auto& w = refs[i]->waiters;
            w.erase(std::find(w.begin(), w.end(), &self));
        }
    }
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
    if (lpName) {
        SetLastError(ERROR_NOT_SUPPORTED);  // named objects are not needed on Linux
        return NULL;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(new KEvent(bManualReset != FALSE, bInitialState != FALSE));
}

static BOOL SetEventState(HANDLE hEvent, bool signalled) {
    KRef r = LookupHandle(hEvent, KObject::kEvent);
    if (!r)
        return FALSE;
    std::lock_guard<std::mutex> g(SyncLock());
    static_cast<KEvent*>(r.get())->m_signalled = signalled;
    if (signalled)
        r->NotifyWaiters();
    return TRUE;
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
    return SetEventState(hEvent, true);
}
BOOL WINAPI ResetEvent(HANDLE hEvent) {
    return SetEventState(hEvent, false);
}

HANDLE WINAPI CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG lInitialCount, LONG lMaximumCount, LPCSTR lpName) {
    if (lpName) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(new KSemaphore(lInitialCount, lMaximumCount));
}

BOOL WINAPI ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount) {
    KRef r = LookupHandle(hSemaphore, KObject::kSemaphore);
    if (!r)
        return FALSE;
    if (lReleaseCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    KSemaphore* s = static_cast<KSemaphore*>(r.get());
    std::lock_guard<std::mutex> g(SyncLock());
    if (lReleaseCount > s->m_max - s->m_count) {
        SetLastError(ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    if (lpPreviousCount)
        *lpPreviousCount = s->m_count;
    s->m_count += lReleaseCount;
    s->NotifyWaiters();
    return TRUE;
}

HANDLE WINAPI CreateWaitableTimerA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, LPCSTR lpTimerName) {
    if (lpTimerName) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(new KTimer(bManualReset != FALSE));
}

BOOL WINAPI SetWaitableTimer(HANDLE hTimer, const LARGE_INTEGER* lpDueTime, LONG lPeriod,
                             PTIMERAPCROUTINE pfnCompletionRoutine, LPVOID, BOOL) {
    KRef r = LookupHandle(hTimer, KObject::kTimer);
    if (!r)
        return FALSE;
    if (!lpDueTime || lPeriod < 0 || pfnCompletionRoutine) {
        SetLastError(pfnCompletionRoutine ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Negative due times are relative, in 100 ns units; positive ones are
    // absolute system times (FILETIME), taken relative to the clock now.
    Clock::time_point due;
    const Clock::time_point now = Clock::now();
    if (lpDueTime->QuadPart < 0) {
        due = now + std::chrono::microseconds(-lpDueTime->QuadPart / 10);
    } else {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        LONGLONG nowFt = (LONGLONG)(((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime);
        LONGLONG delta = lpDueTime->QuadPart - nowFt;
        due = now + std::chrono::microseconds(delta > 0 ? delta / 10 : 0);
    }
    KTimer* t = static_cast<KTimer*>(r.get());
    std::lock_guard<std::mutex> g(SyncLock());
    t->m_signalled = false;
    t->m_active = true;
    t->m_due = due;
    t->m_period = std::chrono::milliseconds(lPeriod);
    t->NotifyWaiters();  // waiters recompute when to wake
    return TRUE;
}

BOOL WINAPI CancelWaitableTimer(HANDLE hTimer) {
    KRef r = LookupHandle(hTimer, KObject::kTimer);
    if (!r)
        return FALSE;
    std::lock_guard<std::mutex> g(SyncLock());
    // Cancelling stops the timer but leaves its signalled state alone.
    static_cast<KTimer*>(r.get())->m_active = false;
    return TRUE;
}

}  // extern "C"
