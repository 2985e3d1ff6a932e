// The property page against a real filter, through IPropertyPage and the
// messages its dialog receives. Natively the dialog keeps its controls in
// memory: the test reads them there and delivers WM_TIMER, WM_HSCROLL and
// the controls' clicks itself; the file-open box answers from the platform
// layer's policy. (Under Wine the real dialog is tested in a property frame:
// tests/wine/page_dialog.cpp.)
#include <windows.h>
#include <dshow.h>
#include <commctrl.h>
#include <commdlg.h>
#include <compat/compat.h>

#include <gtest/gtest.h>

#include <string>

#include "CoFileSource.h"
#include "DebugCapture.h"
#include "FileSourcePage.h"
#include "GraphStubs.h"
#include "PinTestSupport.h"
#include "TempDir.h"

using namespace testsupport;

namespace {

std::string MpegFile(TempDir& dir, const char* name, size_t size) {
    std::string bytes("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3", 13);
    bytes.resize(size, '\x5A');
    return dir.Write(name, bytes);
}

// A filter in a stand-in graph and its page, active on it.
class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CComCreator<CCoFileSource>::CreateInstance(NULL, IID_IBaseFilter,
                                                                   reinterpret_cast<void**>(&m_pFilter)));
        m_pSource = static_cast<CCoFileSource*>(m_pFilter);
        m_pSource->SetSeekingSupported(FALSE);
        ASSERT_EQ(S_OK, CComObject<FileSourcePage>::CreateObject(&m_pPage));
    }
    void TearDown() override {
        CompatSetOpenFileNameAnswer(NULL);
        CompatSetMessageBoxHandler(NULL, NULL);
        IPropertyPage* pPage = m_pPage;
        EXPECT_EQ(S_OK, pPage->Deactivate());
        EXPECT_EQ(0u, m_pPage->m_nTimer);
        EXPECT_EQ(S_OK, pPage->SetObjects(0, NULL));
        EXPECT_EQ(0u, pPage->Release());
        m_pFilter->Stop();
        IPin* pOut = m_pSource->GetOutputPin();
        pOut->Disconnect();
        if (m_pSplitterPin)
            m_pSplitterPin->Release();
        m_pFilter->JoinFilterGraph(NULL, NULL);
        EXPECT_EQ(0u, m_pFilter->Release());  // the page let go of the filter
    }
    void Activate() {
        IPropertyPage* pPage = m_pPage;
        IUnknown* pObject = m_pFilter;
        ASSERT_EQ(S_OK, pPage->SetObjects(1, &pObject));
        const RECT rc = {0, 0, 400, 300};
        ASSERT_EQ(S_OK, pPage->Activate(NULL, &rc, TRUE));
        ASSERT_TRUE(m_pPage->m_hWnd != NULL);
    }
    // Joins a stand-in graph, loads a file and connects the pin, so the
    // filter can pause and run.
    void Connect(const std::string& path) {
        m_graph.m_joined.push_back(m_pFilter);
        ASSERT_EQ(S_OK, m_pFilter->JoinFilterGraph(&m_graph, L"Source"));
        ASSERT_EQ(S_OK, m_pSource->Load(Widen(path).c_str(), NULL));
        m_pSplitterPin = NewScriptedPin();
        m_pSplitterPin->m_accepted = {MEDIASUBTYPE_MPEG2_PROGRAM};
        ASSERT_EQ(S_OK, m_pSource->GetOutputPin()->Connect(m_pSplitterPin, NULL));
    }
    std::string Text(int nID) {
        char sz[512];
        m_pPage->GetItemText(nID, sz, sizeof(sz));
        return sz;
    }
    void Tick() { m_pPage->SendDialogMessage(WM_TIMER, FILESOURCEPAGE_TIMER_ID, 0); }
    // What a click does to an automatic check box, then its notification.
    void ClickCheckBox() {
        m_pPage->CheckItem(IDC_ALLOW_SEEKING, m_pPage->IsItemChecked(IDC_ALLOW_SEEKING) == BST_CHECKED
                                                  ? BST_UNCHECKED
                                                  : BST_CHECKED);
        m_pPage->SendDialogMessage(WM_COMMAND, MAKEWPARAM(IDC_ALLOW_SEEKING, BN_CLICKED), 0);
    }
    void ClickChange() { m_pPage->SendDialogMessage(WM_COMMAND, MAKEWPARAM(IDC_CHANGE, BN_CLICKED), 0); }
    bool ChangeAndCheckBoxEnabled() {
        const BOOL bChange = m_pPage->IsItemEnabled(IDC_CHANGE);
        EXPECT_EQ(bChange, m_pPage->IsItemEnabled(IDC_ALLOW_SEEKING));
        return bChange != FALSE;
    }

    RegistrySandbox m_registry;
    TempDir m_dir;
    StubGraph m_graph;
    IBaseFilter* m_pFilter = NULL;
    CCoFileSource* m_pSource = NULL;
    CComObject<FileSourcePage>* m_pPage = NULL;
    CComObject<CScriptedInputPin>* m_pSplitterPin = NULL;
};

// The page follows the objects the frame gives it, and holds nothing of
// them once it is given none: a held filter would keep its recording open.
TEST_F(PageTest, FollowsItsObjectsAndLetsGoOfThem) {
    const std::string first = MpegFile(m_dir, "first.mpg", 4000);
    ASSERT_EQ(S_OK, m_pSource->Load(Widen(first).c_str(), NULL));
    Activate();
    EXPECT_EQ(first, Text(IDC_FILE_NAME));

    IBaseFilter* pOther = NULL;
    ASSERT_EQ(S_OK, CComCreator<CCoFileSource>::CreateInstance(NULL, IID_IBaseFilter,
                                                               reinterpret_cast<void**>(&pOther)));
    const std::string second = MpegFile(m_dir, "second.mpg", 5000);
    ASSERT_EQ(S_OK, static_cast<CCoFileSource*>(pOther)->Load(Widen(second).c_str(), NULL));
    IPropertyPage* pPage = m_pPage;
    IUnknown* pObject = pOther;
    ASSERT_EQ(S_OK, pPage->SetObjects(1, &pObject));
    EXPECT_EQ(second, Text(IDC_FILE_NAME));
    Tick();
    EXPECT_EQ("  5 000 bytes", Text(IDC_FILE_SIZE));

    ASSERT_EQ(S_OK, pPage->SetObjects(0, NULL));
    m_pFilter->AddRef();
    EXPECT_EQ(1u, m_pFilter->Release());
    EXPECT_EQ(0u, pOther->Release());
    Tick();  // nothing to show, nothing touched
}

TEST_F(PageTest, ShowsTheFiguresAsGroupedTexts) {
    IPropertyPage* pPage = m_pPage;
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, pPage->GetPageInfo(&info));
    EXPECT_EQ(std::wstring(L"File Source Properties"), info.pszTitle);
    EXPECT_EQ(nullptr, info.pszHelpFile);
    CoTaskMemFree(info.pszTitle);
    EXPECT_EQ(S_FALSE, pPage->IsPageDirty());

    // No file: every figure is 0.
    Activate();
    EXPECT_EQ("", Text(IDC_FILE_NAME));
    EXPECT_EQ("  0 bytes", Text(IDC_FILE_SIZE));
    EXPECT_EQ("  0 kb/sec", Text(IDC_WRITE_RATE));
    EXPECT_EQ("  0  ", Text(IDC_READ_POS));
    EXPECT_EQ("  0 kb/sec", Text(IDC_READ_RATE));
    EXPECT_EQ("  0 bytes", Text(IDC_DELTA));
    EXPECT_EQ("  0 bytes", Text(IDC_WAIT_BYTES));
    EXPECT_EQ((UINT_PTR)FILESOURCEPAGE_TIMER_ID, m_pPage->m_nTimer);

    // 1,234,567 bytes, finished, read at 131,072 bytes per second as the
    // statistics thread measures it, the last read 1,500 bytes past the end.
    const std::string path = MpegFile(m_dir, "a.mpg", 1234567);
    ASSERT_EQ(S_OK, m_pSource->Load(Widen(path).c_str(), NULL));
    CFileSourceOutput* pPin = m_pSource->m_apOut;
    pPin->SetReadPosition(1000);
    pPin->UpdateStatistics();
    pPin->SetReadPosition(1000 + 131072);
    pPin->UpdateStatistics();
    pPin->SetReadPosition(1234567 + 1500);
    Tick();
    EXPECT_EQ("  1 234 567 bytes", Text(IDC_FILE_SIZE));
    EXPECT_EQ("  0 kb/sec", Text(IDC_WRITE_RATE));
    EXPECT_EQ("  1 236 067  ", Text(IDC_READ_POS));
    EXPECT_EQ("  1 024 kb/sec", Text(IDC_READ_RATE));
    EXPECT_EQ("   -1 500 bytes", Text(IDC_DELTA));
    EXPECT_EQ("  0 bytes", Text(IDC_WAIT_BYTES));
    // The margin: the default until growth is measured, then as set.
    EXPECT_EQ("  2 048 KB, until growth is measured", Text(IDC_MARGIN));
    ASSERT_EQ(S_OK, m_pSource->SetBuffSize(1000000));
    Tick();
    EXPECT_EQ("  977 KB, set", Text(IDC_MARGIN));

    // The name shows when the dialog opens.
    ASSERT_EQ(S_OK, pPage->Deactivate());
    EXPECT_EQ(0u, m_pPage->m_nTimer);
    const RECT rc = {0, 0, 400, 300};
    ASSERT_EQ(S_OK, pPage->Activate(NULL, &rc, TRUE));
    EXPECT_EQ(path, Text(IDC_FILE_NAME));
}

// Change and the check box follow the filter's state at every refresh; the
// filter's answer to a click is what the box shows.
TEST_F(PageTest, EnableRuleAndCheckBoxRoundTrip) {
    const std::string first = MpegFile(m_dir, "first.mpg", 4000);
    Connect(first);
    Activate();
    EXPECT_TRUE(ChangeAndCheckBoxEnabled());  // stopped

    ASSERT_EQ(S_OK, m_pFilter->Pause());
    Tick();
    EXPECT_TRUE(ChangeAndCheckBoxEnabled());
    // Paused, the filter refuses the change: the box goes back.
    ClickCheckBox();
    EXPECT_EQ((UINT)BST_UNCHECKED, m_pPage->IsItemChecked(IDC_ALLOW_SEEKING));
    EXPECT_EQ(S_FALSE, m_pSource->IsSeekingSupported());
    EXPECT_EQ(0, m_graph.m_nReconnects.load());

    ASSERT_EQ(S_OK, m_pFilter->Run(0));
    Tick();
    EXPECT_FALSE(ChangeAndCheckBoxEnabled());
    // Change does nothing while the filter runs: no file-open box.
    const unsigned nBoxes = CompatLastOpenFileName(NULL);
    ClickChange();
    EXPECT_EQ(nBoxes, CompatLastOpenFileName(NULL));

    ASSERT_EQ(S_OK, m_pFilter->Stop());
    Tick();
    EXPECT_TRUE(ChangeAndCheckBoxEnabled());
    // Stopped, it takes the change and reconnects its pin.
    ClickCheckBox();
    EXPECT_EQ((UINT)BST_CHECKED, m_pPage->IsItemChecked(IDC_ALLOW_SEEKING));
    EXPECT_EQ(S_OK, m_pSource->IsSeekingSupported());
    EXPECT_EQ(1, m_graph.m_nReconnects.load());
}

// Change: the file-open box owned by the page, with its filter list and no
// flags. A file that fails to load is reported, and the field then shows
// what the filter holds (it closed its file), not the name it let go of.
TEST_F(PageTest, ChangeReportsAFileThatFailsToLoad) {
    ASSERT_EQ(S_OK, m_pSource->Load(Widen(MpegFile(m_dir, "first.mpg", 4000)).c_str(), NULL));
    Activate();
    std::string boxes;
    CompatSetMessageBoxHandler(
        [](void* pBoxes, const char* text, const char* caption) {
            *static_cast<std::string*>(pBoxes) += std::string(caption) + ": " + text + "\n";
            return IDOK;
        },
        &boxes);
    CompatSetOpenFileNameAnswer(m_dir.File("missing.mpg").c_str());
    ClickChange();

    OPENFILENAMEA ofn = {};
    CompatLastOpenFileName(&ofn);
    EXPECT_EQ(m_pPage->m_hWnd, ofn.hwndOwner);
    EXPECT_EQ(0u, ofn.Flags);
    EXPECT_EQ((DWORD)MAX_PATH, ofn.nMaxFile);
    static const char kFilter[] =
        "MPEG Files (*.mpg, *.mpeg, *.mpg2 )\0*.mpg;*.mpeg;*.mpg2\0All Files (*.*)\0*.*\0";
    EXPECT_EQ(std::string(kFilter, sizeof(kFilter)), std::string(ofn.lpstrFilter, sizeof(kFilter)));
    EXPECT_EQ("Error: Error open file...\n", boxes);
    EXPECT_EQ("", Text(IDC_FILE_NAME));
}

TEST_F(PageTest, TrackbarSetsTheMarginInBytes) {
    ASSERT_EQ(S_OK, m_pSource->SetBuffSize(3000000));
    Activate();
    EXPECT_EQ(FILESOURCEPAGE_MIN_MARGIN_KB, m_pPage->m_sliderWaitSize.GetRangeMin());
    EXPECT_EQ(FILESOURCEPAGE_MAX_MARGIN_KB, m_pPage->m_sliderWaitSize.GetRangeMax());
    EXPECT_EQ(2929, m_pPage->m_sliderWaitSize.GetPos());  // KiB, rounded down

    m_pPage->m_sliderWaitSize.SetPos(2048);
    m_pPage->SendDialogMessage(WM_HSCROLL, SB_THUMBPOSITION, 0);
    EXPECT_EQ("2 048", Text(IDC_WAIT_KB));
    DWORD dwMargin = 0;
    m_pSource->GetBuffSize(&dwMargin);
    EXPECT_EQ(2097152u, dwMargin);

    // A margin below the range shows as its lowest position, which the next
    // scroll stores.
    IPropertyPage* pPage = m_pPage;
    ASSERT_EQ(S_OK, pPage->Deactivate());
    ASSERT_EQ(S_OK, m_pSource->SetBuffSize(0));
    const RECT rc = {0, 0, 400, 300};
    ASSERT_EQ(S_OK, pPage->Activate(NULL, &rc, TRUE));
    EXPECT_EQ(768, m_pPage->m_sliderWaitSize.GetPos());
    m_pPage->SendDialogMessage(WM_HSCROLL, SB_ENDSCROLL, 0);
    m_pSource->GetBuffSize(&dwMargin);
    EXPECT_EQ(786432u, dwMargin);
}

// On an object without the control interface the page stays empty.
TEST(PageWithoutFilter, StaysEmpty) {
    CComObject<FileSourcePage>* pPage = NULL;
    ASSERT_EQ(S_OK, CComObject<FileSourcePage>::CreateObject(&pPage));
    IUnknown* pObject = pPage;  // any object without IOrvexFileSource
    ASSERT_EQ(S_OK, pPage->SetObjects(1, &pObject));
    const RECT rc = {0, 0, 10, 10};
    {
        ExpectAsserts asserts;
        EXPECT_EQ(S_OK, pPage->Activate(NULL, &rc, FALSE));
        EXPECT_TRUE(asserts.Saw("m_qpOrvexFileSource.p"));
        EXPECT_TRUE(asserts.Saw("m_bModal"));
    }
    // No timer, and nothing a message could make it touch.
    EXPECT_EQ(0u, pPage->m_nTimer);
    pPage->SendDialogMessage(WM_TIMER, FILESOURCEPAGE_TIMER_ID, 0);
    pPage->SendDialogMessage(WM_COMMAND, MAKEWPARAM(IDC_ALLOW_SEEKING, BN_CLICKED), 0);
    pPage->SendDialogMessage(WM_HSCROLL, SB_ENDSCROLL, 0);
    EXPECT_EQ(S_OK, pPage->SetObjects(0, NULL));
    EXPECT_EQ(0u, pPage->Release());
}

}  // namespace
