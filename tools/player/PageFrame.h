// The source's property pages in the platform's property frame, opened
// beside a playing graph.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <olectl.h>

namespace player {

// The source's property pages in the platform's property frame. The frame
// is modal on a thread of its own (woken by the window system; ended by the
// WM_CLOSE that Close posts to its windows).
class PageFrame {
public:
    ~PageFrame() { Close(); }
    void Open(IBaseFilter* source) {
        ISpecifyPropertyPages* pages = nullptr;
        if (FAILED(source->QueryInterface(IID_ISpecifyPropertyPages, (void**)&pages)))
            return;
        const HRESULT hr = pages->GetPages(&m_pages);
        pages->Release();
        if (FAILED(hr) || !m_pages.cElems)
            return;
        m_source = source;
        m_source->AddRef();
        m_thread = CreateThread(nullptr, 0, Run, this, 0, &m_tid);
    }
    bool IsOpen() const { return m_thread != nullptr; }
    void Close() {
        if (!m_thread)
            return;
        // The frame may still be opening: close what is there until the
        // thread ends.
        for (int i = 0; i < 50 && WaitForSingleObject(m_thread, 100) == WAIT_TIMEOUT; ++i)
            EnumWindows(CloseThreadWindow, (LPARAM)m_tid);
        CloseHandle(m_thread);
        m_thread = nullptr;
        m_source->Release();
        CoTaskMemFree(m_pages.pElems);
        m_pages = {};
    }

private:
    // A lambda would not have the window procedures' calling convention
    // on 32-bit Windows.
    static BOOL CALLBACK CloseThreadWindow(HWND h, LPARAM tid) {
        if (GetWindowThreadProcessId(h, nullptr) == (DWORD)tid)
            PostMessageW(h, WM_CLOSE, 0, 0);
        return TRUE;
    }

    static DWORD WINAPI Run(LPVOID pv) {
        PageFrame* p = static_cast<PageFrame*>(pv);
        OleInitialize(nullptr);
        IUnknown* object = p->m_source;
        OleCreatePropertyFrame(nullptr, 660, 20, L"TallowFileSource", 1, &object, p->m_pages.cElems,
                               p->m_pages.pElems, 0, 0, nullptr);
        OleUninitialize();
        return 0;
    }

    IBaseFilter* m_source = nullptr;
    CAUUID m_pages = {};
    HANDLE m_thread = nullptr;
    DWORD m_tid = 0;
};

}  // namespace player
