// The kernel primitives the system relies on: the same tests run natively
// against the platform layer and under Wine against the real thing.
#include <windows.h>
#include <process.h>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

// Closes a handle at the end of a scope.
struct Handle {
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle() {
        if (h)
            CloseHandle(h);
    }
    operator HANDLE() const { return h; }
};

struct WaitArgs {
    HANDLE hObject;
    std::atomic<int>* pWoken;
};

DWORD WINAPI WaitAndCount(LPVOID pv) {
    WaitArgs* args = static_cast<WaitArgs*>(pv);
    if (WaitForSingleObject(args->hObject, 10000) == WAIT_OBJECT_0)
        ++*args->pWoken;
    return 0;
}

// Polls until the counter reaches the value or two seconds pass.
bool Eventually(const std::atomic<int>& counter, int value) {
    for (int i = 0; i < 400 && counter.load() < value; ++i)
        Sleep(5);
    return counter.load() >= value;
}

TEST(SyncPrimitives, AutoResetEventWakesExactlyOneWaiter) {
    Handle ev(CreateEventA(NULL, FALSE, FALSE, NULL));
    ASSERT_TRUE(ev.h);
    std::atomic<int> woken{0};
    WaitArgs args{ev, &woken};
    std::vector<HANDLE> threads;
    for (int i = 0; i < 3; ++i)
        threads.push_back(CreateThread(NULL, 0, WaitAndCount, &args, 0, NULL));
    Sleep(100);  // let all three block

    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(SetEvent(ev));
        ASSERT_TRUE(Eventually(woken, round));
        Sleep(100);  // a second waiter would have woken by now
        EXPECT_EQ(round, woken.load()) << "one SetEvent must wake exactly one waiter";
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects((DWORD)threads.size(), threads.data(), TRUE, 5000));
    for (HANDLE t : threads)
        CloseHandle(t);
    // The event was consumed by the waiters: it is not signalled any more.
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(ev, 0));
}

TEST(SyncPrimitives, ManualResetEventReleasesEveryWaiterAndStaysSet) {
    Handle ev(CreateEventA(NULL, TRUE, FALSE, NULL));
    std::atomic<int> woken{0};
    WaitArgs args{ev, &woken};
    HANDLE threads[3];
    for (HANDLE& t : threads)
        t = CreateThread(NULL, 0, WaitAndCount, &args, 0, NULL);
    Sleep(50);
    SetEvent(ev);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(3, threads, TRUE, 5000));
    EXPECT_EQ(3, woken.load());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ev, 0));
    ResetEvent(ev);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(ev, 0));
    for (HANDLE t : threads)
        CloseHandle(t);
}

TEST(SyncPrimitives, WaitAnyReportsLowestSignalledIndexAndConsumesOnlyIt) {
    Handle a(CreateEventA(NULL, FALSE, FALSE, NULL));
    Handle b(CreateEventA(NULL, FALSE, TRUE, NULL));
    Handle c(CreateEventA(NULL, FALSE, TRUE, NULL));
    HANDLE all[3] = {a, b, c};
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(3, all, FALSE, 0));
    // b was consumed, c was not.
    EXPECT_EQ(WAIT_OBJECT_0 + 2, WaitForMultipleObjects(3, all, FALSE, 0));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForMultipleObjects(3, all, FALSE, 0));
    SetEvent(c);
    SetEvent(a);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(3, all, FALSE, 0));
}

TEST(SyncPrimitives, WaitTimesOutAfterItsTime) {
    Handle ev(CreateEventA(NULL, FALSE, FALSE, NULL));
    DWORD start = GetTickCount();
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(ev, 100));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 90u);
    EXPECT_LT(elapsed, 2000u);
}

TEST(SyncPrimitives, BadHandlesFailTheWait) {
    HANDLE ev = CreateEventA(NULL, FALSE, FALSE, NULL);
    ASSERT_TRUE(CloseHandle(ev));
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(ev, 0));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    HANDLE two[2] = {ev, NULL};
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(2, two, FALSE, 0));
    EXPECT_FALSE(CloseHandle(ev));
}

TEST(SyncPrimitives, SemaphoreCountsAndRefusesToExceedItsMaximum) {
    Handle sem(CreateSemaphoreA(NULL, 1, 2, NULL));
    ASSERT_TRUE(sem.h);
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(sem, 1, &previous));
    EXPECT_EQ(1, previous);
    EXPECT_FALSE(ReleaseSemaphore(sem, 1, &previous));
    EXPECT_EQ((DWORD)ERROR_TOO_MANY_POSTS, GetLastError());
    // Each wait takes one count.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sem, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sem, 0));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(sem, 0));
}

TEST(SyncPrimitives, PeriodicTimerFiresOncePerPeriodAndStopsWhenCancelled) {
    Handle timer(CreateWaitableTimerA(NULL, FALSE, NULL));
    ASSERT_TRUE(timer.h);
    LARGE_INTEGER due;
    due.QuadPart = -50 * 10000LL;  // 50 ms from now, relative
    ASSERT_TRUE(SetWaitableTimer(timer, &due, 50, NULL, NULL, FALSE));

    DWORD start = GetTickCount();
    int fired = 0;
    while (GetTickCount() - start < 520) {
        if (WaitForSingleObject(timer, 20) == WAIT_OBJECT_0)
            ++fired;
    }
    // Ten periods in 520 ms; scheduling may cost one at either end.
    EXPECT_GE(fired, 8);
    EXPECT_LE(fired, 11);

    // Periods nobody waited for collapse into one signal.
    Sleep(200);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(timer, 0));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(timer, 0));

    ASSERT_TRUE(CancelWaitableTimer(timer));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(timer, 200));
}

TEST(SyncPrimitives, OneShotTimerSignalsOnceAtItsDueTime) {
    Handle timer(CreateWaitableTimerA(NULL, TRUE, NULL));
    LARGE_INTEGER due;
    due.QuadPart = -80 * 10000LL;
    ASSERT_TRUE(SetWaitableTimer(timer, &due, 0, NULL, NULL, FALSE));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(timer, 30));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(timer, 2000));
    // A manual-reset timer stays signalled.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(timer, 0));
}

DWORD WINAPI BlockThenReturn42(LPVOID pv) {
    WaitForSingleObject(static_cast<HANDLE>(pv), 10000);
    return 42;
}

TEST(SyncPrimitives, ThreadHandleIsSignalledAtExitWithItsExitCode) {
    Handle release(CreateEventA(NULL, TRUE, FALSE, NULL));
    Handle thread(CreateThread(NULL, 0, BlockThenReturn42, release.h, 0, NULL));
    ASSERT_TRUE(thread.h);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ((DWORD)STILL_ACTIVE, code);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(thread, 50));
    SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(42u, code);
    // A thread's handle stays signalled: every later wait succeeds.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
}

unsigned __stdcall SetFlag(void* pv) {
    static_cast<std::atomic<int>*>(pv)->store(1);
    return 7;
}

TEST(SyncPrimitives, SuspendedThreadRunsOnlyAfterResume) {
    std::atomic<int> ran{0};
    Handle thread(reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, SetFlag, &ran, CREATE_SUSPENDED, NULL)));
    ASSERT_TRUE(thread.h);
    Sleep(100);
    EXPECT_EQ(0, ran.load());
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(thread, 0));
    EXPECT_EQ(1u, ResumeThread(thread));  // the previous suspend count
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    EXPECT_EQ(1, ran.load());
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(7u, code);
}

TEST(SyncPrimitives, DuplicatedHandleOutlivesTheOriginal) {
    HANDLE ev = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE dup = NULL;
    ASSERT_TRUE(
        DuplicateHandle(GetCurrentProcess(), ev, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_NE(ev, dup);
    CloseHandle(ev);
    EXPECT_TRUE(SetEvent(dup));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(dup, 0));
    CloseHandle(dup);
}

struct TryEnterArgs {
    CRITICAL_SECTION* pcs;
    BOOL bEntered;
};

DWORD WINAPI TryEnterFromOtherThread(LPVOID pv) {
    TryEnterArgs* args = static_cast<TryEnterArgs*>(pv);
    args->bEntered = TryEnterCriticalSection(args->pcs);
    if (args->bEntered)
        LeaveCriticalSection(args->pcs);
    return 0;
}

TEST(SyncPrimitives, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    TryEnterArgs args{&cs, TRUE};
    HANDLE t = CreateThread(NULL, 0, TryEnterFromOtherThread, &args, 0, NULL);
    WaitForSingleObject(t, 5000);
    CloseHandle(t);
    EXPECT_FALSE(args.bEntered);
    LeaveCriticalSection(&cs);
    // Still held once.
    t = CreateThread(NULL, 0, TryEnterFromOtherThread, &args, 0, NULL);
    WaitForSingleObject(t, 5000);
    CloseHandle(t);
    EXPECT_FALSE(args.bEntered);
    LeaveCriticalSection(&cs);
    t = CreateThread(NULL, 0, TryEnterFromOtherThread, &args, 0, NULL);
    WaitForSingleObject(t, 5000);
    CloseHandle(t);
    EXPECT_TRUE(args.bEntered);
    DeleteCriticalSection(&cs);
}

DWORD WINAPI IncrementMany(LPVOID pv) {
    for (int i = 0; i < 100000; ++i)
        InterlockedIncrement(static_cast<LONG volatile*>(pv));
    return 0;
}

TEST(SyncPrimitives, InterlockedOperationsAreAtomic) {
    LONG volatile counter = 0;
    HANDLE threads[4];
    for (HANDLE& t : threads)
        t = CreateThread(NULL, 0, IncrementMany, (LPVOID)&counter, 0, NULL);
    WaitForMultipleObjects(4, threads, TRUE, 30000);
    for (HANDLE t : threads)
        CloseHandle(t);
    EXPECT_EQ(400000, counter);

    LONG volatile v = 5;
    EXPECT_EQ(5, InterlockedCompareExchange(&v, 9, 4));  // no match: unchanged
    EXPECT_EQ(5, v);
    EXPECT_EQ(5, InterlockedCompareExchange(&v, 9, 5));
    EXPECT_EQ(9, v);
    EXPECT_EQ(9, InterlockedExchange(&v, -1));
    EXPECT_EQ(-2, InterlockedDecrement(&v));
}

DWORD WINAPI SetOwnLastError(LPVOID) {
    SetLastError(77);
    return GetLastError();
}

TEST(SyncPrimitives, LastErrorBelongsToEachThread) {
    SetLastError(5);
    HANDLE t = CreateThread(NULL, 0, SetOwnLastError, NULL, 0, NULL);
    WaitForSingleObject(t, 5000);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    CloseHandle(t);
    EXPECT_EQ(77u, code);
    SetLastError(5);
    EXPECT_EQ(5u, GetLastError());
}

}  // namespace
