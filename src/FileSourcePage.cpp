// FileSourcePage: the dialog's initialisation, the 100 ms refresh, the file
// change and the two settings.
#include "FileSourcePage.h"

#include <commdlg.h>
#include <string.h>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"

namespace {

// Room for two blanks, a sign, the longest number and a suffix.
const int kFigureSize = 64;

// A figure as the page shows it: two blanks, the number in groups of three
// digits ("1 234 567"; a negative one with " -" after the two blanks), and
// the suffix.
LPSTR FigureText(LONGLONG llValue, LPCSTR pszSuffix, LPSTR pszText) {
    CHAR szNumber[CONV_BUFFER_SIZE];
    LL2Str(llValue, szNumber);
    // LL2Str writes the sign itself: "   -1 500" is two blanks, " -", 1 500.
    strcpy(pszText, llValue < 0 ? "   " : "  ");
    strcat(pszText, szNumber);
    strcat(pszText, pszSuffix);
    return pszText;
}

// A rate in bytes per second as kilobits per second: divided by 128, the
// fraction dropped (the rates are never negative).
LONGLONG KilobitsPerSecond(LONG lBytesPerSecond) {
    return (LONGLONG)((ULONG)lBytesPerSecond >> 7);
}

// The wait margin as the filter has it now: "1.0 s, 190 KB, measured" (its
// time at the measured growth, its bytes, and whether it follows the growth
// or was set in bytes); without a measured growth, the bytes alone.
LPSTR MarginText(IOrvexFileSource* pSource, LPSTR pszText) {
    pszText[0] = 0;
    CComPtr<IOrvexFileSource2> qpMargin;
    DWORD dwBytes = 0, dwMs = 0;
    BOOL bMeasured = FALSE;
    if (FAILED(pSource->QueryInterface(IID_IOrvexFileSource2, reinterpret_cast<void**>(&qpMargin))) ||
        FAILED(qpMargin->GetMargin(&dwBytes, &dwMs, &bMeasured)))
        return pszText;
    CHAR szKb[CONV_BUFFER_SIZE];
    LL2Str((dwBytes + 512) / 1024, szKb);
    if (dwMs)
        wsprintfA(pszText, "  %u.%u s, %s KB, %s", (UINT)(dwMs / 1000), (UINT)(dwMs % 1000 / 100), szKb,
                  bMeasured ? "measured" : "set");
    else
        wsprintfA(pszText, "  %s KB, %s", szKb, bMeasured ? "until growth is measured" : "set");
    return pszText;
}

}  // namespace

FileSourcePage::FileSourcePage() : m_nTimer(0) {
    m_dwTitleID = IDS_TITLEFileSourcePage;
}

void FileSourcePage::FinalRelease() {
    if (m_hWnd)
        DestroyWindow();
    m_objects.Clear();
    m_spPageSite.Release();
}

void FileSourcePage::FindControl() {
    if (m_qpOrvexFileSource)
        return;
    IOrvexFileSource* pControl = NULL;
    if (SUCCEEDED(m_objects.QueryFirst(IID_IOrvexFileSource, reinterpret_cast<void**>(&pControl))))
        m_qpOrvexFileSource.Attach(pControl);
}

void FileSourcePage::OnObjectsChanged() {
    DSTrace(TRACE_CONTROLS, 8, "FileSourcePage::OnObjectsChanged\n");
    // Nothing of an earlier filter is kept: holding it would hold its
    // recording open for as long as the frame keeps the page.
    m_qpOrvexFileSource.Release();
    FindControl();
    if (!m_hWnd)
        return;
    CComPtr<IFileSourceFilter> qpFileSourceFilter;
    if (m_qpOrvexFileSource)
        m_qpOrvexFileSource->QueryInterface(IID_IFileSourceFilter,
                                            reinterpret_cast<void**>(&qpFileSourceFilter));
    if (qpFileSourceFilter)
        ShowFilter(qpFileSourceFilter);
    else
        SetItemText(IDC_FILE_NAME, "");
}

void FileSourcePage::ShowFilter(IFileSourceFilter* pFileSourceFilter) {
    DWORD dwMargin = 0;
    m_qpOrvexFileSource->GetBuffSize(&dwMargin);
    m_sliderWaitSize.SetPos((int)(dwMargin / 1024));
    ShowCurrentFile(pFileSourceFilter);
    Refresh();
}

LRESULT FileSourcePage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    DSTrace(TRACE_CONTROLS, 8, "FileSourcePage::OnInitDialog\n");
    FindControl();
    if (!m_qpOrvexFileSource) {
        ASSERT(m_qpOrvexFileSource.p);
        EndDialog(IDCANCEL);
        return FALSE;
    }

    m_sliderWaitSize.Attach(this, IDC_WAIT_SLIDER);
    m_sliderWaitSize.SetRange(FILESOURCEPAGE_MIN_MARGIN_KB, FILESOURCEPAGE_MAX_MARGIN_KB);

    CComPtr<IFileSourceFilter> qpFileSourceFilter;
    m_qpOrvexFileSource->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&qpFileSourceFilter));
    if (!qpFileSourceFilter) {
        ASSERT(qpFileSourceFilter.p);
        EndDialog(IDCANCEL);
        return FALSE;
    }
    ShowFilter(qpFileSourceFilter);

    m_nTimer = StartTimer(FILESOURCEPAGE_TIMER_ID, FILESOURCEPAGE_TIMER_MS);
    ASSERT(m_nTimer);
    // The frame keeps the focus.
    return FALSE;
}

void FileSourcePage::ShowCurrentFile(IFileSourceFilter* pFileSourceFilter) {
    LPOLESTR pszFileName = NULL;
    pFileSourceFilter->GetCurFile(&pszFileName, NULL);
    if (!pszFileName) {
        SetItemText(IDC_FILE_NAME, "");
        return;
    }
    const int cbName = WideCharToMultiByte(CP_ACP, 0, pszFileName, -1, NULL, 0, NULL, NULL);
    LPSTR pszName = cbName > 0 ? new (std::nothrow) CHAR[cbName] : NULL;
    if (pszName && WideCharToMultiByte(CP_ACP, 0, pszFileName, -1, pszName, cbName, NULL, NULL) > 0)
        SetItemText(IDC_FILE_NAME, pszName);
    delete[] pszName;
    CoTaskMemFree(pszFileName);
}

LRESULT FileSourcePage::OnTimer(UINT, WPARAM, LPARAM, BOOL&) {
    Refresh();
    return 0;
}

LRESULT FileSourcePage::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    DSTrace(TRACE_CONTROLS, 8, "FileSourcePage::OnDestroy\n");
    if (m_nTimer) {
        const BOOL bSuccess = StopTimer(m_nTimer);
        ASSERT(bSuccess);
        m_nTimer = 0;
    }
    // The dialog's own handling goes on.
    bHandled = FALSE;
    return 0;
}

void FileSourcePage::Refresh() {
    if (!m_qpOrvexFileSource)
        return;

    // Change and the check box only while the filter is known to be stopped
    // or paused: not while it runs, is between states or cannot tell.
    CComPtr<IMediaFilter> qpMediaFilter;
    m_qpOrvexFileSource->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&qpMediaFilter));
    ASSERT(qpMediaFilter.p);
    FILTER_STATE eState = State_Running;
    const HRESULT hrState = qpMediaFilter ? qpMediaFilter->GetState(0, &eState) : E_NOINTERFACE;
    const BOOL bEnable = hrState == S_OK && eState != State_Running;
    EnableItem(IDC_CHANGE, bEnable);
    EnableItem(IDC_ALLOW_SEEKING, bEnable);

    CheckItem(IDC_ALLOW_SEEKING,
              m_qpOrvexFileSource->IsSeekingSupported() == S_OK ? BST_CHECKED : BST_UNCHECKED);

    OrvexFigures f;
    GetOrvexFigures(m_qpOrvexFileSource, &f);

    CHAR szText[kFigureSize];
    SetItemText(IDC_FILE_SIZE, FigureText(f.llFileSize, " bytes", szText));
    SetItemText(IDC_WRITE_RATE, FigureText(KilobitsPerSecond(f.lWriteSpeed), " kb/sec", szText));
    SetItemText(IDC_READ_POS, FigureText(f.llReadPos, "  ", szText));
    SetItemText(IDC_READ_RATE, FigureText(KilobitsPerSecond(f.lReadSpeed), " kb/sec", szText));
    SetItemText(IDC_DELTA, FigureText(f.llFileSize - f.llReadPos, " bytes", szText));
    SetItemText(IDC_WAIT_BYTES, FigureText(f.dwWaitSize, " bytes", szText));
    SetItemText(IDC_MARGIN, MarginText(m_qpOrvexFileSource, szText));
}

LRESULT FileSourcePage::OnChange(WORD, WORD, HWND, BOOL&) {
    DSTrace(TRACE_CONTROLS, 8, "FileSourcePage::OnChange\n");
    if (!m_qpOrvexFileSource)
        return 0;
    // Not while the filter runs, or when its state cannot be told.
    CComPtr<IBaseFilter> qpBaseFilter;
    m_qpOrvexFileSource->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&qpBaseFilter));
    if (qpBaseFilter) {
        FILTER_STATE eState = State_Running;
        if (qpBaseFilter->GetState(0, &eState) != S_OK || eState == State_Running)
            return 0;
    }

    CHAR szFile[MAX_PATH] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter =
        "MPEG Files (*.mpg, *.mpeg, *.mpg2 )\0*.mpg;*.mpeg;*.mpg2\0"
        "All Files (*.*)\0*.*\0";
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = 0;
    if (!GetOpenFileNameA(&ofn))
        return 0;

    CComPtr<IFileSourceFilter> qpFileSourceFilter;
    m_qpOrvexFileSource->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&qpFileSourceFilter));
    if (!qpFileSourceFilter) {
        ASSERT(qpFileSourceFilter.p);
        return 0;
    }
    WCHAR wszFile[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, szFile, -1, wszFile, MAX_PATH))
        return 0;
    const HRESULT hr = qpFileSourceFilter->Load(wszFile, NULL);
    if (FAILED(hr)) {
        DSTrace(TRACE_CONTROLS, 1, "Error : FileSourcePage::OnChange - Load(%s) FAILED hr = 0x%08X\n", szFile,
                hr);
        MessageBoxA(m_hWnd, "Error open file...", "Error", MB_OK);
        // A failed Load has usually closed the file it had: the field shows
        // what the filter holds now, not a name it let go.
        ShowCurrentFile(qpFileSourceFilter);
        return 0;
    }
    SetItemText(IDC_FILE_NAME, szFile);
    return 0;
}

LRESULT FileSourcePage::OnAllowSeeking(WORD, WORD, HWND, BOOL&) {
    DSTrace(TRACE_CONTROLS, 8, "FileSourcePage::OnAllowSeeking\n");
    if (!m_qpOrvexFileSource)
        return 0;
    // The filter decides (it refuses while paused or running); the box then
    // shows what it holds.
    m_qpOrvexFileSource->SetSeekingSupported(IsItemChecked(IDC_ALLOW_SEEKING) == BST_CHECKED);
    CheckItem(IDC_ALLOW_SEEKING,
              m_qpOrvexFileSource->IsSeekingSupported() == S_OK ? BST_CHECKED : BST_UNCHECKED);
    return 0;
}

LRESULT FileSourcePage::OnHScroll(UINT, WPARAM, LPARAM, BOOL&) {
    DSTrace(TRACE_CONTROLS, 8, "FileSourcePage::OnHScroll\n");
    if (!m_qpOrvexFileSource || !m_sliderWaitSize.IsAttached())
        return 0;
    const int nKb = m_sliderWaitSize.GetPos();
    CHAR szText[CONV_BUFFER_SIZE];
    SetItemText(IDC_WAIT_KB, LL2Str(nKb, szText));
    m_qpOrvexFileSource->SetBuffSize((DWORD)nKb * 1024);
    return 0;
}
