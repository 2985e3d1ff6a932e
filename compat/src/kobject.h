// Kernel objects of the Linux platform layer and the handle table that names
// them. Internal to compat/.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace compat {

using Clock = std::chrono::steady_clock;

// One thread blocked in a wait. It is registered with every object it waits
// on; whoever signals one of them notifies its condition variable.
struct Waiter {
    std::condition_variable cv;
};

// The state of every waitable object is guarded by this one lock. Waits on
// several objects then see a consistent picture without lock ordering, and
// the lock is held only for a few instructions at a time. No other compat
// lock is taken while it is held.
std::mutex& SyncLock();

class KObject {
public:
    enum Kind { kEvent, kSemaphore, kTimer, kThread, kFile, kKey };

    explicit KObject(Kind kind) : m_kind(kind) {}
    virtual ~KObject() = default;
    KObject(const KObject&) = delete;
    KObject& operator=(const KObject&) = delete;

    Kind kind() const { return m_kind; }
    void AddRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void Release() {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }

    // The wait interface; called with SyncLock() held. Objects that cannot be
    // waited on (files) are never signalled.
    virtual bool Signalled(Clock::time_point now) {
        (void)now;
        return false;
    }
    // A successful wait takes what it waited for: an auto-reset event or
    // timer is reset, a semaphore loses one count.
    virtual void Consume() {}
    // The next moment the object becomes signalled by itself (timers).
    virtual bool NextDue(Clock::time_point* due) {
        (void)due;
        return false;
    }

    // Waiters blocked on this object; guarded by SyncLock().
    std::vector<Waiter*> waiters;
    // Wakes every waiter; called with SyncLock() held after a state change.
    void NotifyWaiters() {
        for (Waiter* w : waiters)
            w->cv.notify_one();
    }

private:
    const Kind m_kind;
    std::atomic<int> m_refs{1};
};

// Smart reference returned by handle look-ups.
class KRef {
public:
    KRef() = default;
    explicit KRef(KObject* p) : m_p(p) {}
    KRef(KRef&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    KRef& operator=(KRef&& o) noexcept {
        if (this != &o) {
            if (m_p)
                m_p->Release();
            m_p = o.m_p;
            o.m_p = nullptr;
        }
        return *this;
    }
    KRef(const KRef&) = delete;
    KRef& operator=(const KRef&) = delete;
    ~KRef() {
        if (m_p)
            m_p->Release();
    }
    KObject* get() const { return m_p; }
    KObject* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    KObject* m_p = nullptr;
};

// Enters a new object (whose reference passes to the table) and returns its
// handle.
HANDLE InsertHandle(KObject* obj);
// Looks a handle up, adding a reference; sets ERROR_INVALID_HANDLE and
// returns an empty reference for a bad handle or one of another kind.
KRef LookupHandle(HANDLE h);
KRef LookupHandle(HANDLE h, KObject::Kind kind);

// A file name as Linux opens it: exactly the name given. Linux allows a
// backslash in a name (a\b is one file of the current directory), so it is
// never taken for a separator, which would open another file than the one
// named. Module names are the one exception (LoadLibraryA, system.cpp).
inline std::string ToPosixPath(LPCSTR name) {
    return std::string(name);
}

// The Win32 error code that Windows gives where Linux gives this errno.
DWORD Win32ErrorFromErrno(int err);

}  // namespace compat
