// Controls of the Linux platform layer that have no Windows counterpart.
// Tests use them to observe and steer what Windows would show a person.
#pragma once

#include <windef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Receives every OutputDebugStringA text. Null restores the default sink.
typedef void (*COMPAT_DEBUG_SINK)(void* context, const char* text);
void CompatSetDebugOutputSink(COMPAT_DEBUG_SINK sink, void* context);

// The answer every MessageBoxA gives from now on (IDABORT, IDRETRY, IDIGNORE,
// ...); 0 restores the environment's policy.
void CompatSetMessageBoxAnswer(int answer);

// Stands in for the person in front of a message box: every MessageBoxA
// calls the handler on the calling thread and answers what it returns (a
// handler may block, as a person may take time). Null removes it.
typedef int (*COMPAT_MESSAGEBOX_HANDLER)(void* context, const char* text, const char* caption);
void CompatSetMessageBoxHandler(COMPAT_MESSAGEBOX_HANDLER handler, void* context);

// Stands in for the person in front of the file-open dialog: every later
// GetOpenFileNameA chooses this file (an ANSI full name), or cancels when it
// is null (the default). The dialog's filter, owner and flags of the last
// call are kept for tests (CompatLastOpenFileName).
void CompatSetOpenFileNameAnswer(const char* path);
// A copy of the last OPENFILENAMEA passed to GetOpenFileNameA (its pointers
// as given), and the number of calls so far.
struct tagOFNA;
unsigned CompatLastOpenFileName(struct tagOFNA* pofn);

// The sharing rule's writer probe (an open that refuses write sharing fails
// while the file may be being written) sees exactly the writers among the
// processes it may inspect. When others exist (another user's, or outside
// the PID namespace), a file also counts as being written while it has
// changed within this idle time, until a close-after-write is seen; INFINITE
// waits for the close alone. Default COMPAT_WRITER_IDLE_DEFAULT.
#define COMPAT_WRITER_IDLE_DEFAULT 10000
void CompatSetWriterIdleTime(DWORD milliseconds);

// Whether the file's writer has gone for good: TRUE only when the last
// writer the probe's scans found for the file (a process this one may
// inspect) has ended since, told by its start time so that a process given
// the same pid is not taken for it, and no writer is seen now. FALSE when no
// such writer was ever seen, or it cannot be told. Windows has no such
// call: there a writer's process cannot be seen.
BOOL CompatWriterProcessExited(LPCSTR pszPath);

// Stands in for a process that may not write the registry (a low-integrity
// or sandboxed host): with FALSE, every open or creation of a key that asks
// for a right to change it fails with ERROR_ACCESS_DENIED, as Windows refuses
// it; reading goes on. TRUE (the default) restores it.
void CompatSetRegistryWritable(BOOL bWritable);

// Stands in for a process that ends in the middle of a run of registry
// changes: after nChanges more changes every change fails with
// ERROR_WRITE_FAULT and leaves the store as it is. -1 (the default) removes
// the limit.
void CompatSetRegistryChangeBudget(long nChanges);

#ifdef __cplusplus
}
#endif
