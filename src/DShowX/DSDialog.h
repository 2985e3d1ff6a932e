// The library's dialog windows: a modeless dialog made from a template
// resource of the module (CDialogImpl), its message map, and a wrapper of
// the trackbar control (CTrackBarCtrl).
//
// A dialog class derives from CDialogImpl<T>, names its template (IDD) and
// declares its message map:
//
//   class CThingDialog : public CDialogImpl<CThingDialog> {
//   public:
//       enum { IDD = IDD_THING };
//       BEGIN_MSG_MAP(CThingDialog)
//           MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
//           COMMAND_ID_HANDLER(IDC_APPLY, OnApply)
//       END_MSG_MAP()
//       LRESULT OnInitDialog(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
//       LRESULT OnApply(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
//   };
//
// Its handlers reach the window system only through CDialogWindow: controls
// by their identifiers, window timers, showing and moving. On Windows the
// dialog is a real window (DSDialog_win.cpp: user32 and the common
// controls). The Linux build has no window system: there a dialog is the
// record of its controls' state in memory (DSDialog_posix.cpp), with the same
// operations and the same messages delivered to the map (WM_INITDIALOG on
// creation, WM_DESTROY on destruction), so that a dialog's logic runs, and is
// tested, unchanged. No timer fires there and no template is read: whoever
// drives such a dialog sends it WM_TIMER and the controls' notifications
// through SendDialogMessage.
//
// A dialog lives on the thread that created it; nothing here takes a lock.
#pragma once

#include <windows.h>

#include <new>

#include "DShowX/DSTrace.h"
#include "WinAPI/Functions.h"

// ---------------------------------------------------------------- message maps

// ProcessWindowMessage over the handlers of the map, in order: the first one
// that takes the message and leaves bHandled TRUE ends the search, and its
// result is the message's. Message map 0 is the only one.
#define BEGIN_MSG_MAP(cls)                                                                          \
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult, \
                              DWORD dwMsgMapID) override {                                          \
        BOOL bHandled = TRUE;                                                                       \
        (void)hWnd;                                                                                 \
        (void)wParam;                                                                               \
        (void)lParam;                                                                               \
        (void)bHandled;                                                                             \
        if (dwMsgMapID != 0) {                                                                      \
            DSTrace(TRACE_WINDOWING, 0, "Invalid message map ID (%i)\n", (int)dwMsgMapID);          \
            ASSERT(FALSE);                                                                          \
            return FALSE;                                                                           \
        }
// A handler of one message: LRESULT func(UINT, WPARAM, LPARAM, BOOL& bHandled).
#define MESSAGE_HANDLER(msg, func)                      \
    if (uMsg == (msg)) {                                \
        bHandled = TRUE;                                \
        lResult = func(uMsg, wParam, lParam, bHandled); \
        if (bHandled)                                   \
            return TRUE;                                \
    }
// A handler of WM_COMMAND from one control, any notification:
// LRESULT func(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled).
#define COMMAND_ID_HANDLER(id, func)                                                              \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                           \
        bHandled = TRUE;                                                                          \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
        if (bHandled)                                                                             \
            return TRUE;                                                                          \
    }
#define END_MSG_MAP() \
    return FALSE;     \
    }

// ---------------------------------------------------------------- the dialog window

class CDialogWindow {
public:
    // The window; null before creation and after destruction.
    HWND m_hWnd;

    // A window that still exists is destroyed without its message map (the
    // derived class is gone): destroy it before, with DestroyWindow.
    virtual ~CDialogWindow();
    CDialogWindow(const CDialogWindow&) = delete;
    CDialogWindow& operator=(const CDialogWindow&) = delete;

    // Creates the modeless dialog of template nIDTemplate in hInstance as a
    // child of hWndParent; WM_INITDIALOG (lParam: this object) has reached
    // the message map when it returns. Null when the window could not be
    // made or the map destroyed it during WM_INITDIALOG.
    HWND CreateFromTemplate(HINSTANCE hInstance, UINT nIDTemplate, HWND hWndParent);
    // WM_DESTROY reaches the map, then the window is gone (m_hWnd null).
    BOOL DestroyWindow();
    // Ends a modal dialog. The library makes modeless dialogs only, which
    // this does not end: it fails the assertion "m_bModal" and hides the
    // window, as the platform does for a modeless dialog.
    BOOL EndDialog(int nRetCode);

    BOOL MoveWindow(const RECT& rc);
    BOOL ShowWindow(int nCmdShow);
    // Keyboard navigation between the controls: TRUE when the dialog took
    // the message (never where there is no window system).
    BOOL TranslateDialogMessage(MSG* pMsg);
    // Delivers a message to the dialog and returns its result.
    LRESULT SendDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);

    // ---- controls, by identifier
    BOOL SetItemText(int nID, LPCSTR pszText);
    // The text, cut to cchMax - 1 characters and terminated; its length.
    UINT GetItemText(int nID, LPSTR pszText, int cchMax);
    BOOL EnableItem(int nID, BOOL bEnable);
    BOOL IsItemEnabled(int nID);
    // BST_CHECKED or BST_UNCHECKED, for a check box.
    BOOL CheckItem(int nID, UINT uCheck);
    UINT IsItemChecked(int nID);
    // A control's own messages (the trackbar's TBM_..., BM_GETCHECK, ...).
    LRESULT SendItemMessage(int nID, UINT uMsg, WPARAM wParam, LPARAM lParam);

    // ---- window timers: WM_TIMER with the identifier every nElapse ms
    // Returns nIDEvent, or 0 when the timer could not be set.
    UINT_PTR StartTimer(UINT_PTR nIDEvent, UINT nElapse);
    // FALSE when no such timer runs.
    BOOL StopTimer(UINT_PTR nIDEvent);

    // The size in pixels of a dialog template of the module; FALSE when it
    // cannot be read (always where there is no window system).
    static BOOL GetTemplateSize(HINSTANCE hInstance, UINT nIDTemplate, SIZE* pSize);

protected:
    CDialogWindow();

    // The derived class's message map (BEGIN_MSG_MAP): TRUE when a handler
    // took the message, with its result in lResult.
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                      DWORD dwMsgMapID) = 0;

    // Whether the dialog runs its own message loop; the library's dialogs
    // are modeless.
    const bool m_bModal;

private:
    // The platform's side of the window (DSDialog_win.cpp, DSDialog_posix.cpp).
    friend struct CDialogPlatform;
    struct CState;
    CState* m_pState;  // the controls' state where the dialog lives in memory
};

// The dialog base of a class T with the template T::IDD in the module that
// holds the code.
template <class T>
class CDialogImpl : public CDialogWindow {
public:
    HWND Create(HWND hWndParent) { return CreateFromTemplate(GetCurrentModule(), T::IDD, hWndParent); }
};

// ---------------------------------------------------------------- trackbar

// A trackbar control of a dialog, through its messages.
class CTrackBarCtrl {
public:
    CTrackBarCtrl() : m_pDialog(NULL), m_nID(0) {}

    void Attach(CDialogWindow* pDialog, int nID) {
        m_pDialog = pDialog;
        m_nID = nID;
    }
    bool IsAttached() const { return m_pDialog != NULL; }

    void SetRange(int nMin, int nMax, BOOL bRedraw = FALSE);
    // The position is kept within the range, as the control keeps it.
    void SetPos(int nPos);
    int GetPos() const;
    int GetRangeMin() const;
    int GetRangeMax() const;

private:
    CDialogWindow* m_pDialog;
    int m_nID;
};
