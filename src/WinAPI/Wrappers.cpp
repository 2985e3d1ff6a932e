#include "WinAPI/Wrappers.h"

#include "DShowX/DSTrace.h"

CSmartHandle::CSmartHandle(const CSmartHandle& other) : m_h(NULL) {
    *this = other;
}

CSmartHandle& CSmartHandle::operator=(const CSmartHandle& other) {
    if (this == &other)
        return *this;
    Close();
    if (other.m_h) {
        HANDLE hDup = NULL;
        const BOOL bSuccess = ::DuplicateHandle(::GetCurrentProcess(), other.m_h, ::GetCurrentProcess(),
                                                &hDup, 0, FALSE, DUPLICATE_SAME_ACCESS);
        ASSERT(bSuccess);
        if (bSuccess)
            m_h = hDup;
    }
    return *this;
}

HRESULT CSmartHandle::Close() {
    if (!m_h)
        return S_OK;
    HANDLE h = m_h;
    m_h = NULL;
    if (::CloseHandle(h))
        return S_OK;
    return LastErrorResult(::GetLastError());
}

void CSmartHandle::Attach(HANDLE h) {
    if (h == m_h && h)
        return;
    Close();
    m_h = (h == INVALID_HANDLE_VALUE) ? NULL : h;
}

HANDLE CSmartHandle::Detach() {
    HANDLE h = m_h;
    m_h = NULL;
    return h;
}
