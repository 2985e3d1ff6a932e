// The dialog where there is no window system (Linux): the state of its
// controls in memory. A control comes into being with the first call that
// names it, enabled, unchecked, without text, and as a trackbar with the
// platform's default range 0 to 100. The window handle is the state's
// address; messages reach the message map on the calling thread.
#include "DShowX/DSDialog.h"

#include <commctrl.h>
#include <string.h>

#include <map>
#include <new>
#include <string>

namespace {

struct CControl {
    std::string text;
    bool bEnabled = true;
    UINT uCheck = BST_UNCHECKED;
    int nMin = 0, nMax = 100, nPos = 0;  // as a trackbar
};

}  // namespace

struct CDialogWindow::CState {
    std::map<int, CControl> controls;
    std::map<UINT_PTR, UINT> timers;  // identifier -> period in ms
    bool bVisible = false;
    RECT rc = {};
};

struct CDialogPlatform {
    static LRESULT Deliver(CDialogWindow* pThis, UINT uMsg, WPARAM wParam, LPARAM lParam) {
        LRESULT lResult = 0;
        if (!pThis->ProcessWindowMessage(pThis->m_hWnd, uMsg, wParam, lParam, lResult, 0))
            lResult = 0;
        return lResult;
    }
    static CControl* Control(CDialogWindow* pThis, int nID) {
        return pThis->m_pState ? &pThis->m_pState->controls[nID] : NULL;
    }
};

CDialogWindow::CDialogWindow() : m_hWnd(NULL), m_bModal(false), m_pState(NULL) {}

// The derived class is gone by now: the map gets no WM_DESTROY.
CDialogWindow::~CDialogWindow() {
    delete m_pState;
}

HWND CDialogWindow::CreateFromTemplate(HINSTANCE /*hInstance*/, UINT /*nIDTemplate*/, HWND /*hWndParent*/) {
    ASSERT(m_hWnd == NULL);
    if (m_hWnd)
        return NULL;
    m_pState = new (std::nothrow) CState;
    if (!m_pState)
        return NULL;
    m_hWnd = reinterpret_cast<HWND>(m_pState);
    CDialogPlatform::Deliver(this, WM_INITDIALOG, 0, reinterpret_cast<LPARAM>(this));
    return m_hWnd;
}

BOOL CDialogWindow::DestroyWindow() {
    if (!m_hWnd)
        return FALSE;
    CDialogPlatform::Deliver(this, WM_DESTROY, 0, 0);
    CDialogPlatform::Deliver(this, WM_NCDESTROY, 0, 0);
    delete m_pState;
    m_pState = NULL;
    m_hWnd = NULL;
    return TRUE;
}

BOOL CDialogWindow::EndDialog(int /*nRetCode*/) {
    ASSERT(m_bModal);
    if (!m_pState)
        return FALSE;
    m_pState->bVisible = false;
    return TRUE;
}

BOOL CDialogWindow::MoveWindow(const RECT& rc) {
    if (!m_pState)
        return FALSE;
    m_pState->rc = rc;
    return TRUE;
}

BOOL CDialogWindow::ShowWindow(int nCmdShow) {
    if (!m_pState)
        return FALSE;
    const BOOL bWasVisible = m_pState->bVisible;
    m_pState->bVisible = nCmdShow != SW_HIDE;
    return bWasVisible;
}

BOOL CDialogWindow::TranslateDialogMessage(MSG* /*pMsg*/) {
    return FALSE;
}

LRESULT CDialogWindow::SendDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return m_hWnd ? CDialogPlatform::Deliver(this, uMsg, wParam, lParam) : 0;
}

BOOL CDialogWindow::SetItemText(int nID, LPCSTR pszText) {
    CControl* p = CDialogPlatform::Control(this, nID);
    if (!p)
        return FALSE;
    p->text = pszText ? pszText : "";
    return TRUE;
}

UINT CDialogWindow::GetItemText(int nID, LPSTR pszText, int cchMax) {
    CControl* p = CDialogPlatform::Control(this, nID);
    if (!pszText || cchMax <= 0)
        return 0;
    pszText[0] = 0;
    if (!p)
        return 0;
    const size_t cch = p->text.size() < (size_t)cchMax - 1 ? p->text.size() : (size_t)cchMax - 1;
    memcpy(pszText, p->text.data(), cch);
    pszText[cch] = 0;
    return (UINT)cch;
}

BOOL CDialogWindow::EnableItem(int nID, BOOL bEnable) {
    CControl* p = CDialogPlatform::Control(this, nID);
    if (!p)
        return FALSE;
    const BOOL bWasDisabled = !p->bEnabled;
    p->bEnabled = bEnable != FALSE;
    return bWasDisabled;
}

BOOL CDialogWindow::IsItemEnabled(int nID) {
    CControl* p = CDialogPlatform::Control(this, nID);
    return p && p->bEnabled;
}

BOOL CDialogWindow::CheckItem(int nID, UINT uCheck) {
    CControl* p = CDialogPlatform::Control(this, nID);
    if (!p)
        return FALSE;
    p->uCheck = uCheck;
    return TRUE;
}

UINT CDialogWindow::IsItemChecked(int nID) {
    CControl* p = CDialogPlatform::Control(this, nID);
    return p ? p->uCheck : BST_UNCHECKED;
}

LRESULT CDialogWindow::SendItemMessage(int nID, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CControl* p = CDialogPlatform::Control(this, nID);
    if (!p)
        return 0;
    switch (uMsg) {
        case TBM_SETRANGE:
            p->nMin = (int)(short)LOWORD(lParam);
            p->nMax = (int)(short)HIWORD(lParam);
            if (p->nMax < p->nMin)
                p->nMax = p->nMin;
            // fallthrough: the position stays within the new range
            [[fallthrough]];
        case TBM_SETPOS: {
            const int nPos = uMsg == TBM_SETPOS ? (int)lParam : p->nPos;
            p->nPos = nPos < p->nMin ? p->nMin : nPos > p->nMax ? p->nMax : nPos;
            return 0;
        }
        case TBM_GETPOS:
            return p->nPos;
        case TBM_GETRANGEMIN:
            return p->nMin;
        case TBM_GETRANGEMAX:
            return p->nMax;
        case BM_GETCHECK:
            return p->uCheck;
        case BM_SETCHECK:
            p->uCheck = (UINT)wParam;
            return 0;
        case WM_SETTEXT:
            p->text = lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
            return TRUE;
        case WM_GETTEXT:
            return GetItemText(nID, reinterpret_cast<LPSTR>(lParam), (int)wParam);
        default:
            return 0;
    }
}

UINT_PTR CDialogWindow::StartTimer(UINT_PTR nIDEvent, UINT nElapse) {
    if (!m_pState || nIDEvent == 0)
        return 0;
    m_pState->timers[nIDEvent] = nElapse;
    return nIDEvent;
}

BOOL CDialogWindow::StopTimer(UINT_PTR nIDEvent) {
    return m_pState && m_pState->timers.erase(nIDEvent) == 1;
}

BOOL CDialogWindow::GetTemplateSize(HINSTANCE /*hInstance*/, UINT /*nIDTemplate*/, SIZE* pSize) {
    if (pSize)
        pSize->cx = pSize->cy = 0;
    return FALSE;
}
