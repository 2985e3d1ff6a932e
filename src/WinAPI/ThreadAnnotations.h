// The lock rules as attributes that clang's -Wthread-safety checks: a field
// names the lock that guards it, a helper the lock its caller must hold (or
// must not), a lock the locks it comes after. Other compilers see nothing.
//
//   CCriticalSection m_csA;
//   CCriticalSection m_csB ACQUIRED_AFTER(m_csA);
//   LONG m_nCount GUARDED_BY(m_csA);
//   void BumpLocked() REQUIRES(m_csA);
//
// The analysis looks at one function at a time: what a function needs of
// its caller has to be written on its declaration.
#pragma once

#if defined(__clang__)
#define THREAD_ANNOTATION(x) __attribute__((x))
#else
#define THREAD_ANNOTATION(x)
#endif

// A class whose objects are locks.
#define CAPABILITY(x) THREAD_ANNOTATION(capability(x))
// A class whose objects hold a lock for their lifetime (a scoped guard).
#define SCOPED_CAPABILITY THREAD_ANNOTATION(scoped_lockable)
// A field read and written only under the lock.
#define GUARDED_BY(x) THREAD_ANNOTATION(guarded_by(x))
// A pointer field whose target is read and written only under the lock.
#define PT_GUARDED_BY(x) THREAD_ANNOTATION(pt_guarded_by(x))
// The order of locks: this one is taken before, or after, the others.
#define ACQUIRED_BEFORE(...) THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
// A function called with the locks held, or not held.
#define REQUIRES(...) THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that takes, gives back or tries to take a lock.
#define ACQUIRE(...) THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// A function that returns a reference to the lock it names.
#define RETURN_CAPABILITY(x) THREAD_ANNOTATION(lock_returned(x))
// A function the analysis does not look into (say why where it is used).
#define NO_THREAD_SAFETY_ANALYSIS THREAD_ANNOTATION(no_thread_safety_analysis)
