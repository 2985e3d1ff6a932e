// FileSourcePage: the filter's property page. It shows the open file's name
// and the output pin's live figures, refreshed every 100 ms, lets the user
// pick another file (Change) and switch seeking while the file grows on and
// off. It talks to the filter only through the filter's interfaces
// (IOrvexFileSource, IFileSourceFilter, IMediaFilter, IBaseFilter). Every
// change takes effect at once: the page is never dirty and Apply does nothing.
//
// The page is portable; its dialog (template IDD_FILESOURCEPAGE, in the
// component's resource script) is a real window on Windows and the record of
// its controls elsewhere (DShowX/DSDialog.h).
//
// Threads: the page lives on its frame's user-interface thread (apartment
// model) and takes no lock. Its refresh timer (identifier 1, every 100 ms)
// is a window timer of the dialog: the frame's message loop delivers its
// WM_TIMER; it runs from WM_INITDIALOG to WM_DESTROY.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include "DShowX/DSComBase.h"
#include "DShowX/DSDialog.h"
#include "DShowX/DSPropertyPage.h"
#include "FileSourceConstants.h"
#include "IOrvexFileSource.h"
#include "resources/resource.h"

class FileSourcePage : public CComObjectRootBase,
                       public IPropertyPageImpl<FileSourcePage>,
                       public CDialogImpl<FileSourcePage> {
public:
    enum { IDD = IDD_FILESOURCEPAGE };

    FileSourcePage();

    BEGIN_INTERFACE_TABLE(FileSourcePage)
    INTERFACE_ENTRY(IPropertyPage)
    END_INTERFACE_TABLE()

    BEGIN_MSG_MAP(FileSourcePage)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_TIMER, OnTimer)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_HSCROLL, OnHScroll)
    COMMAND_ID_HANDLER(IDC_CHANGE, OnChange)
    COMMAND_ID_HANDLER(IDC_ALLOW_SEEKING, OnAllowSeeking)
    END_MSG_MAP()

    // A dialog the frame did not destroy goes with the page.
    void FinalRelease();
    // The frame's objects changed: the page follows the new filter, and
    // holds nothing after SetObjects(0, NULL).
    void OnObjectsChanged();

    LRESULT OnInitDialog(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnTimer(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnHScroll(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnChange(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnAllowSeeking(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);

    // The filter's control interface, found among the page's objects when
    // the dialog opens or the objects change.
    CComPtr<IOrvexFileSource> m_qpOrvexFileSource;
    // The wait-size trackbar (IDC_WAIT_SLIDER).
    CTrackBarCtrl m_sliderWaitSize;
    // The refresh timer; 0 when none runs.
    UINT_PTR m_nTimer;

private:
    // The enable rule, the check box and the six figures, from the filter.
    void Refresh();
    // Shows the filter's current file name in IDC_FILE_NAME (empty without one).
    void ShowCurrentFile(IFileSourceFilter* pFileSourceFilter);
    // Finds the control interface among the objects, if none is held yet.
    void FindControl();
    // The controls from the filter held now: the margin, the file, the figures.
    void ShowFilter(IFileSourceFilter* pFileSourceFilter);
};
