// The dialog on Windows: a real modeless dialog window of user32, made from
// the module's template, with the common controls registered first (the
// trackbar). The window's DWLP_USER slot holds the CDialogWindow; the
// dialog procedure hands every message after WM_INITDIALOG to its map.
#include "DShowX/DSDialog.h"

#include <commctrl.h>

struct CDialogWindow::CState {};

struct CDialogPlatform {
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
        CDialogWindow* pThis;
        if (uMsg == WM_INITDIALOG) {
            pThis = reinterpret_cast<CDialogWindow*>(lParam);
            SetWindowLongPtrA(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(pThis));
            pThis->m_hWnd = hWnd;
        } else {
            pThis = reinterpret_cast<CDialogWindow*>(GetWindowLongPtrA(hWnd, DWLP_USER));
        }
        // Messages before WM_INITDIALOG (WM_SETFONT, ...) get the default.
        if (!pThis)
            return FALSE;
        LRESULT lResult = 0;
        const BOOL bHandled = pThis->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, 0);
        if (uMsg == WM_NCDESTROY) {
            SetWindowLongPtrA(hWnd, DWLP_USER, 0);
            pThis->m_hWnd = NULL;
        }
        if (!bHandled)
            return FALSE;
        // WM_INITDIALOG answers directly (TRUE: the system sets the focus);
        // other messages through the message result.
        if (uMsg == WM_INITDIALOG)
            return (INT_PTR)lResult;
        SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, lResult);
        return TRUE;
    }
};

CDialogWindow::CDialogWindow() : m_hWnd(NULL), m_bModal(false), m_pState(NULL) {}

// The derived class is gone by now: a window still there is cut off from the
// message map before it is destroyed.
CDialogWindow::~CDialogWindow() {
    if (m_hWnd) {
        SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
        m_hWnd = NULL;
    }
}

HWND CDialogWindow::CreateFromTemplate(HINSTANCE hInstance, UINT nIDTemplate, HWND hWndParent) {
    ASSERT(m_hWnd == NULL);
    if (m_hWnd)
        return NULL;
    // The trackbar's window class; registering it again does no harm.
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    const HWND hWnd = CreateDialogParamA(hInstance, MAKEINTRESOURCEA(nIDTemplate), hWndParent,
                                         CDialogPlatform::DialogProc, reinterpret_cast<LPARAM>(this));
    if (!hWnd) {
        DSTrace(TRACE_WINDOWING, 1,
                "Error : CDialogWindow::Create - CreateDialogParam(%u) FAILED dwErr = %d\n", nIDTemplate,
                GetLastError());
        m_hWnd = NULL;
    }
    return hWnd;
}

BOOL CDialogWindow::DestroyWindow() {
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

BOOL CDialogWindow::EndDialog(int nRetCode) {
    ASSERT(m_bModal);
    return ::EndDialog(m_hWnd, nRetCode);
}

BOOL CDialogWindow::MoveWindow(const RECT& rc) {
    return ::MoveWindow(m_hWnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
}

BOOL CDialogWindow::ShowWindow(int nCmdShow) {
    return ::ShowWindow(m_hWnd, nCmdShow);
}

BOOL CDialogWindow::TranslateDialogMessage(MSG* pMsg) {
    return m_hWnd && pMsg ? IsDialogMessageA(m_hWnd, pMsg) : FALSE;
}

LRESULT CDialogWindow::SendDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(m_hWnd, uMsg, wParam, lParam);
}

BOOL CDialogWindow::SetItemText(int nID, LPCSTR pszText) {
    return SetDlgItemTextA(m_hWnd, nID, pszText);
}

UINT CDialogWindow::GetItemText(int nID, LPSTR pszText, int cchMax) {
    if (!pszText || cchMax <= 0)
        return 0;
    pszText[0] = 0;
    return GetDlgItemTextA(m_hWnd, nID, pszText, cchMax);
}

BOOL CDialogWindow::EnableItem(int nID, BOOL bEnable) {
    const HWND hItem = GetDlgItem(m_hWnd, nID);
    return hItem ? EnableWindow(hItem, bEnable) : FALSE;
}

BOOL CDialogWindow::IsItemEnabled(int nID) {
    const HWND hItem = GetDlgItem(m_hWnd, nID);
    return hItem ? IsWindowEnabled(hItem) : FALSE;
}

BOOL CDialogWindow::CheckItem(int nID, UINT uCheck) {
    return CheckDlgButton(m_hWnd, nID, uCheck);
}

UINT CDialogWindow::IsItemChecked(int nID) {
    return IsDlgButtonChecked(m_hWnd, nID);
}

LRESULT CDialogWindow::SendItemMessage(int nID, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageA(m_hWnd, nID, uMsg, wParam, lParam);
}

UINT_PTR CDialogWindow::StartTimer(UINT_PTR nIDEvent, UINT nElapse) {
    return m_hWnd ? SetTimer(m_hWnd, nIDEvent, nElapse, NULL) : 0;
}

BOOL CDialogWindow::StopTimer(UINT_PTR nIDEvent) {
    return m_hWnd ? KillTimer(m_hWnd, nIDEvent) : FALSE;
}

namespace {

// Reads one field of a template and moves past it.
template <class T>
bool Take(const BYTE*& p, const BYTE* pEnd, T* pValue) {
    if (pEnd - p < (ptrdiff_t)sizeof(T))
        return false;
    memcpy(pValue, p, sizeof(T));
    p += sizeof(T);
    return true;
}

// Skips a menu, class or title field: none (0), an ordinal (0xFFFF and a
// word) or a terminated UTF-16 string.
bool SkipSzOrOrd(const BYTE*& p, const BYTE* pEnd) {
    WORD w;
    if (!Take(p, pEnd, &w))
        return false;
    if (w == 0xFFFF)
        return Take(p, pEnd, &w);
    while (w != 0)
        if (!Take(p, pEnd, &w))
            return false;
    return true;
}

}  // namespace

// A dialog unit is a quarter of the font's average character width and an
// eighth of its height: the template's font is made at the screen's
// resolution and measured as the dialog manager measures it.
BOOL CDialogWindow::GetTemplateSize(HINSTANCE hInstance, UINT nIDTemplate, SIZE* pSize) {
    if (!pSize)
        return FALSE;
    pSize->cx = pSize->cy = 0;
    const HRSRC hRes =
        FindResourceA(hInstance, MAKEINTRESOURCEA(nIDTemplate), MAKEINTRESOURCEA(5));  // RT_DIALOG
    const HGLOBAL hData = hRes ? LoadResource(hInstance, hRes) : NULL;
    const BYTE* p = hData ? static_cast<const BYTE*>(LockResource(hData)) : NULL;
    if (!p)
        return FALSE;
    const BYTE* const pEnd = p + SizeofResource(hInstance, hRes);

    WORD wVersion = 0, wSignature = 0, cItems = 0;
    DWORD dwStyle = 0, dwExStyle = 0, dwHelpID = 0;
    short x, y, cx, cy;
    const bool bEx = pEnd - p >= 4 && p[0] == 1 && p[1] == 0 && p[2] == 0xFF && p[3] == 0xFF;
    bool bOk = bEx ? Take(p, pEnd, &wVersion) && Take(p, pEnd, &wSignature) && Take(p, pEnd, &dwHelpID) &&
                         Take(p, pEnd, &dwExStyle) && Take(p, pEnd, &dwStyle)
                   : Take(p, pEnd, &dwStyle) && Take(p, pEnd, &dwExStyle);
    bOk = bOk && Take(p, pEnd, &cItems) && Take(p, pEnd, &x) && Take(p, pEnd, &y) && Take(p, pEnd, &cx) &&
          Take(p, pEnd, &cy) && SkipSzOrOrd(p, pEnd) && SkipSzOrOrd(p, pEnd) && SkipSzOrOrd(p, pEnd);
    if (!bOk)
        return FALSE;

    WORD wPoints = 0, wWeight = FW_NORMAL;
    BYTE bItalic = 0, bCharSet = DEFAULT_CHARSET;
    WCHAR szFace[LF_FACESIZE] = L"";
    if (dwStyle & DS_SETFONT) {
        bOk = Take(p, pEnd, &wPoints) &&
              (!bEx || (Take(p, pEnd, &wWeight) && Take(p, pEnd, &bItalic) && Take(p, pEnd, &bCharSet)));
        for (int i = 0; bOk && i < LF_FACESIZE; ++i) {
            WORD w;
            bOk = Take(p, pEnd, &w);
            szFace[i] = (WCHAR)w;
            if (w == 0)
                break;
        }
        szFace[LF_FACESIZE - 1] = 0;
        if (!bOk)
            return FALSE;
    }

    const HDC hdc = GetDC(NULL);
    if (!hdc)
        return FALSE;
    HFONT hFont = NULL;
    if (dwStyle & DS_SETFONT)
        hFont = CreateFontW(-MulDiv(wPoints, GetDeviceCaps(hdc, LOGPIXELSY), 72), 0, 0, 0, wWeight, bItalic,
                            0, 0, bCharSet, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_DONTCARE, szFace);
    const HGDIOBJ hOld = SelectObject(hdc, hFont ? (HGDIOBJ)hFont : GetStockObject(SYSTEM_FONT));
    TEXTMETRICW tm = {};
    SIZE sizeText = {};
    static const WCHAR szAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    bOk = GetTextMetricsW(hdc, &tm) && GetTextExtentPoint32W(hdc, szAlphabet, 52, &sizeText);
    SelectObject(hdc, hOld);
    if (hFont)
        DeleteObject(hFont);
    ReleaseDC(NULL, hdc);
    if (!bOk)
        return FALSE;
    const int nBaseX = (sizeText.cx / 26 + 1) / 2, nBaseY = tm.tmHeight;
    pSize->cx = MulDiv(cx, nBaseX, 4);
    pSize->cy = MulDiv(cy, nBaseY, 8);
    return TRUE;
}
