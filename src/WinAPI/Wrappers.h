// Owners of kernel objects.
#pragma once

#include <windows.h>

// A Win32 error code as an HRESULT, for a call that failed: a failure that
// left no error code becomes E_FAIL, never S_OK.
inline HRESULT LastErrorResult(DWORD dwErr) {
    return dwErr ? HRESULT_FROM_WIN32(dwErr) : E_FAIL;
}

// Owns one kernel handle. A null handle and INVALID_HANDLE_VALUE both mean
// "no handle"; reading the holder gives the handle or null.
class CSmartHandle {
public:
    CSmartHandle() : m_h(NULL) {}
    explicit CSmartHandle(HANDLE h) : m_h(NULL) { Attach(h); }
    ~CSmartHandle() { Close(); }

    // Closes the handle held and duplicates the other holder's handle within
    // the process with the same access.
    CSmartHandle(const CSmartHandle& other);
    CSmartHandle& operator=(const CSmartHandle& other);
    // Takes ownership of h, closing the handle held before.
    CSmartHandle& operator=(HANDLE h) {
        Attach(h);
        return *this;
    }

    operator HANDLE() const { return m_h; }
    HANDLE Get() const { return m_h; }
    bool IsValid() const { return m_h != NULL; }

    // Closes a present handle and empties the holder: S_OK, the failure of
    // CloseHandle as a Win32 HRESULT, or E_FAIL without an error code.
    HRESULT Close();
    void Attach(HANDLE h);
    // Hands out the handle; the holder is empty afterwards.
    HANDLE Detach();

private:
    HANDLE m_h;  // never INVALID_HANDLE_VALUE
};
