// The property page in the platform's own property frame, as a user sees
// it. Windows only; run under Wine on a display (page_dialog.sh starts Xvfb
// and registers the component first).
//
//   page_dialog FILE OTHER_FILE SHOT_DONE
//
// The main thread builds a graph: the component's filter, created through
// COM, loads FILE and its pin is connected through the platform's splitter
// to null renderers. A second thread opens the platform's property frame on
// the filter (OleCreatePropertyFrame with the pages the filter names) and
// runs its message loop until the frame closes. The main thread finds the
// page's controls and checks through the window system what a user sees and
// what a click does:
//   registry  the page's keys as regsvr32 wrote them
//   frame     one page, the tab titled by it
//   template  the controls as the dialog template lays them out, and the
//             page's size as it tells the frame
//   figures   the file name, and the six fields matching IOrvexFileSource
//             within one refresh (stopped, running, paused)
//   enable    Change and the check box disabled while the graph runs,
//             enabled within 100 ms after it pauses or stops
//   check box a click while paused leaves it as it was; while stopped it
//             changes the setting
//   change    Change with a file typed into the file-open dialog loads it;
//             cancelling changes nothing
//   released  the closed frame leaves no reference to the filter
// While paused it prints "screenshot: LEFT TOP WIDTH HEIGHT" (the frame on
// the screen) and waits up to 20 s for the file SHOT_DONE, which the script
// creates once it has taken the picture.
//
// Prints "page: NAME ok|FAILED ..." per check, then "wine page dialog: ...".
// Exit code 0 when all passed, 1 when one failed, 2 for bad arguments, 3
// when the graph or the frame could not be made.
//
// Threads: the frame's thread is woken by its window messages. The main
// thread polls the windows every 2 ms while it waits for a change, never
// longer than the check's time limit.
#include <windows.h>
#include <commctrl.h>
#include <dshow.h>
#include <olectl.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "IOrvexFileSource.h"
#include "resources/resource.h"

EXTERN_C const CLSID CLSID_NullRenderer;

namespace {

int g_nChecks = 0, g_nFailed = 0;

void Report(const char* name, bool ok, const std::string& detail) {
    ++g_nChecks;
    g_nFailed += ok ? 0 : 1;
    printf("page: %-10s %s %s\n", name, ok ? "ok" : "FAILED", detail.c_str());
    fflush(stdout);
}

std::string Format(const char* fmt, ...) {
    char sz[1024];
    va_list args;
    va_start(args, fmt);
    _vsnprintf(sz, sizeof(sz) - 1, fmt, args);
    va_end(args);
    sz[sizeof(sz) - 1] = 0;
    return sz;
}

double Now() {
    LARGE_INTEGER t, freq;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)freq.QuadPart;
}

template <class F>
bool WaitFor(double ms, F done) {
    for (const double end = Now() + ms; !done(); Sleep(2))
        if (Now() > end)
            return false;
    return true;
}

std::wstring Widen(const std::string& s) {
    WCHAR w[1024] = L"";
    MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w, 1024);
    return w;
}

std::string WindowText(HWND hWnd) {
    char sz[1024] = "";
    GetWindowTextA(hWnd, sz, sizeof(sz));
    return sz;
}

std::string ClassOf(HWND hWnd) {
    char sz[256] = "";
    GetClassNameA(hWnd, sz, sizeof(sz));
    return sz;
}

std::string ItemText(HWND hPage, int id) {
    return WindowText(GetDlgItem(hPage, id));
}

// ---------------------------------------------------------------- what the fields should read

// Two blanks, the number in groups of three digits (a negative one with
// " -" after the two blanks), the suffix.
std::string Figure(long long value, const char* suffix) {
    const std::string digits = std::to_string(value < 0 ? 0ull - (unsigned long long)value : value);
    std::string text = value < 0 ? "   -" : "  ";
    for (size_t i = 0; i < digits.size(); ++i)
        text += (i > 0 && (digits.size() - i) % 3 == 0 ? " " : "") + digits.substr(i, 1);
    return text + suffix;
}

const int kFigureIds[6] = {IDC_FILE_SIZE, IDC_WRITE_RATE, IDC_READ_POS,
                           IDC_READ_RATE, IDC_DELTA,      IDC_WAIT_BYTES};

std::vector<std::string> FilterFigures(IOrvexFileSource* p) {
    OrvexFigures f;
    GetOrvexFigures(p, &f);
    return {Figure(f.llFileSize, " bytes"),
            Figure((unsigned long)f.lWriteSpeed / 128, " kb/sec"),
            Figure(f.llReadPos, "  "),
            Figure((unsigned long)f.lReadSpeed / 128, " kb/sec"),
            Figure(f.llFileSize - f.llReadPos, " bytes"),
            Figure(f.dwWaitSize, " bytes")};
}

// The six fields must show the filter's figures as sampled just before or
// just after the refresh they come from.
bool FiguresMatch(HWND hPage, IOrvexFileSource* control, std::string* detail) {
    std::vector<std::string> shown, before, after;
    for (int attempt = 1; attempt <= 40; ++attempt) {
        before = FilterFigures(control);
        Sleep(130);  // more than one refresh
        shown.clear();
        for (int id : kFigureIds)
            shown.push_back(ItemText(hPage, id));
        after = FilterFigures(control);
        if (shown == before || shown == after)
            break;
    }
    *detail = "shown:";
    for (const std::string& s : shown)
        *detail += " [" + s + "]";
    if (shown == before || shown == after)
        return true;
    *detail += " filter:";
    for (const std::string& s : after)
        *detail += " [" + s + "]";
    return false;
}

// ---------------------------------------------------------------- the frame

struct FrameThread {
    IUnknown* filter = nullptr;
    std::vector<CLSID> pages;
    DWORD tid = 0;
    SIZE size = {};          // the page's size as it tells a frame
    HRESULT hr = E_PENDING;  // OleCreatePropertyFrame's
};

DWORD WINAPI RunFrame(LPVOID pv) {
    FrameThread* p = static_cast<FrameThread*>(pv);
    OleInitialize(nullptr);
    IPropertyPage* page = nullptr;
    if (!p->pages.empty() && SUCCEEDED(CoCreateInstance(p->pages[0], nullptr, CLSCTX_INPROC_SERVER,
                                                        IID_IPropertyPage, (void**)&page))) {
        PROPPAGEINFO info = {};
        page->GetPageInfo(&info);
        p->size = info.size;
        CoTaskMemFree(info.pszTitle);
        page->Release();
    }
    p->hr = OleCreatePropertyFrame(nullptr, 40, 40, L"TallowFileSource", 1, &p->filter,
                                   (ULONG)p->pages.size(), p->pages.data(), 0, 0, nullptr);
    OleUninitialize();
    return 0;
}

struct FoundWindows {
    DWORD tid;
    std::vector<HWND> found;
};

// The visible top-level windows of a thread.
std::vector<HWND> TopLevelWindows(DWORD tid) {
    FoundWindows w{tid, {}};
    EnumWindows(
        [](HWND h, LPARAM l) -> BOOL {
            FoundWindows* p = reinterpret_cast<FoundWindows*>(l);
            if (GetWindowThreadProcessId(h, nullptr) == p->tid && IsWindowVisible(h))
                p->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&w));
    return w.found;
}

// The page inside the frame: the dialog holding the check box.
HWND FindPage(HWND hFrame) {
    HWND hPage = nullptr;
    EnumChildWindows(
        hFrame,
        [](HWND h, LPARAM l) -> BOOL {
            if (GetDlgCtrlID(h) != IDC_ALLOW_SEEKING || !GetDlgItem(GetParent(h), IDC_FILE_SIZE))
                return TRUE;
            *reinterpret_cast<HWND*>(l) = GetParent(h);
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&hPage));
    return hPage;
}

bool Both(HWND hPage, bool enabled) {
    return (IsWindowEnabled(GetDlgItem(hPage, IDC_CHANGE)) != FALSE) == enabled &&
           (IsWindowEnabled(GetDlgItem(hPage, IDC_ALLOW_SEEKING)) != FALSE) == enabled;
}

bool Checked(HWND hPage) {
    return SendDlgItemMessageA(hPage, IDC_ALLOW_SEEKING, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// Clicks Change and answers the file-open dialog: the file typed into its
// name box and OK, or Cancel. False when the dialog did not come or go.
bool ChangeTo(DWORD tid, HWND hFrame, HWND hPage, const std::string* file, std::string* detail) {
    PostMessageA(GetDlgItem(hPage, IDC_CHANGE), BM_CLICK, 0, 0);
    HWND hOpen = nullptr;
    WaitFor(10000, [&] {
        for (HWND h : TopLevelWindows(tid))
            if (h != hFrame && ClassOf(h) == "#32770")
                hOpen = h;
        return hOpen != nullptr;
    });
    *detail = hOpen ? "dialog \"" + WindowText(hOpen) + "\"" : "no file-open dialog";
    if (!hOpen)
        return false;
    int button = IDCANCEL;
    if (file) {
        // The name box: cmb13 (an extended combo box), or edt1 in the old layout.
        const HWND hName = GetDlgItem(hOpen, 0x47C) ? GetDlgItem(hOpen, 0x47C) : GetDlgItem(hOpen, 0x480);
        *detail += Format(", name box %s", hName ? ClassOf(hName).c_str() : "missing");
        if (hName && SendMessageA(hName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file->c_str())))
            button = IDOK;
    }
    PostMessageA(hOpen, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hOpen, button)));
    const bool gone = WaitFor(10000, [&] { return !IsWindow(hOpen); });
    *detail += gone ? "" : ", did not close";
    return gone && (!file || button == IDOK);
}

std::string CurrentFile(IFileSourceFilter* fs) {
    LPOLESTR name = nullptr;
    fs->GetCurFile(&name, nullptr);
    char a[1024] = "";
    if (name)
        WideCharToMultiByte(CP_ACP, 0, name, -1, a, sizeof(a), nullptr, nullptr);
    CoTaskMemFree(name);
    return a;
}

// ---------------------------------------------------------------- registration

// The page's keys under HKEY_CLASSES_ROOT as regsvr32 left them ("%C": the
// page's CLSID in braces, "%M": the component's path).
void CheckRegistry() {
    static const char* const kValues[][3] = {
        {"OrvexFileSource.FileSourcePage.1", nullptr, "FileSourcePage Class"},
        {"OrvexFileSource.FileSourcePage.1\\CLSID", nullptr, "%C"},
        {"OrvexFileSource.FileSourcePage", nullptr, "FileSourcePage Class"},
        {"OrvexFileSource.FileSourcePage\\CLSID", nullptr, "%C"},
        {"OrvexFileSource.FileSourcePage\\CurVer", nullptr, "OrvexFileSource.FileSourcePage.1"},
        {"CLSID\\%C", nullptr, "FileSourcePage Class"},
        {"CLSID\\%C\\ProgID", nullptr, "OrvexFileSource.FileSourcePage.1"},
        {"CLSID\\%C\\VersionIndependentProgID", nullptr, "OrvexFileSource.FileSourcePage"},
        {"CLSID\\%C\\InprocServer32", nullptr, "%M"},
        {"CLSID\\%C\\InprocServer32", "ThreadingModel", "Apartment"},
    };
    WCHAR wszClsid[40];
    char clsid[40], module[MAX_PATH] = "";
    StringFromGUID2(CLSID_FileSourcePage, wszClsid, 40);
    WideCharToMultiByte(CP_ACP, 0, wszClsid, -1, clsid, sizeof(clsid), nullptr, nullptr);
    GetModuleFileNameA(GetModuleHandleA("OrvexFileSource.dll"), module, MAX_PATH);
    std::string problems;
    for (const auto& v : kValues) {
        std::string key = v[0], want = v[2];
        if (key.find("%C") != std::string::npos)
            key.replace(key.find("%C"), 2, clsid);
        want = want == "%C" ? clsid : want == "%M" ? module : want;
        char data[MAX_PATH * 2] = "";
        DWORD type = 0, cb = sizeof(data) - 1;
        HKEY hKey;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
            RegQueryValueExA(hKey, v[1], nullptr, &type, reinterpret_cast<BYTE*>(data), &cb);
            RegCloseKey(hKey);
        }
        if (type != REG_SZ || _stricmp(data, want.c_str()) != 0)
            problems += Format(" %s[%s]=\"%s\";", key.c_str(), v[1] ? v[1] : "", data);
    }
    Report("registry", problems.empty(), Format("10 values%s", problems.c_str()));
}

// ---------------------------------------------------------------- the template

struct ControlLayout {
    int id;  // -1: none
    const char* cls;
    const char* text;  // null: the page writes it
    bool visible;
    DWORD type;   // the button's or static's kind
    DWORD flags;  // style bits that must be set
    DWORD edge;   // WS_EX_STATICEDGE or 0
    RECT rc;      // dialog units: x, y, width, height
};

const DWORD kEdge = WS_EX_STATICEDGE, kFig = SS_CENTERIMAGE | WS_GROUP, kTab = WS_TABSTOP;
const DWORD kEditStyle = ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
const char kSeekingText[] = "Allow media seeking for currently open files";

// In template order.
const ControlLayout kTemplate[] = {
    {-1, "Button", "Target File Name", true, BS_GROUPBOX, 0, 0, {7, 7, 257, 33}},
    {IDC_FILE_NAME, "Edit", nullptr, true, 0, kEditStyle, 0, {14, 18, 188, 14}},
    {IDC_CHANGE, "Button", "Change", true, BS_PUSHBUTTON, kTab, 0, {207, 18, 50, 14}},
    {-1, "Button", "File Statistics", true, BS_GROUPBOX, 0, 0, {7, 62, 257, 82}},
    {-1, "Button", "Wait Size", false, BS_GROUPBOX, 0, 0, {7, 141, 257, 28}},
    {IDC_WAIT_SLIDER, "msctls_trackbar32", "Slider1", false, 0, kTab, 0, {9, 152, 196, 11}},
    {IDC_WAIT_KB, "Static", "1 024", false, SS_CENTER, kFig, kEdge, {207, 152, 36, 11}},
    {-1, "Static", "Kb", false, SS_LEFT, kFig, 0, {246, 152, 11, 11}},
    {IDC_FILE_SIZE, "Static", nullptr, true, SS_LEFT, kFig, kEdge, {99, 73, 91, 12}},
    {-1, "Static", "Current File Size", true, SS_CENTER, kFig, kEdge, {13, 73, 78, 12}},
    {IDC_READ_POS, "Static", nullptr, true, SS_LEFT, kFig, kEdge, {99, 90, 91, 12}},
    {-1, "Static", "Last Read Position", true, SS_CENTER, kFig, kEdge, {13, 90, 78, 12}},
    {IDC_WAIT_BYTES, "Static", nullptr, true, SS_LEFT, kFig, kEdge, {197, 108, 59, 12}},
    {-1, "Static", "Wait", true, SS_CENTER, kFig, kEdge, {137, 108, 53, 12}},
    {IDC_WRITE_RATE, "Static", nullptr, true, SS_LEFT, kFig, kEdge, {197, 73, 59, 12}},
    {IDC_READ_RATE, "Static", nullptr, true, SS_LEFT, kFig, kEdge, {197, 90, 59, 12}},
    {IDC_DELTA, "Static", nullptr, true, SS_LEFT, kFig, kEdge, {72, 108, 59, 12}},
    {-1, "Static", "Delta", true, SS_CENTER, kFig, kEdge, {13, 108, 53, 12}},
    {IDC_ALLOW_SEEKING, "Button", kSeekingText, true, BS_AUTOCHECKBOX, kTab, 0, {13, 46, 151, 10}},
    {IDC_MARGIN, "Static", nullptr, true, SS_LEFT, kFig, kEdge, {99, 126, 157, 12}},
    {-1, "Static", "Wait Margin", true, SS_CENTER, kFig, kEdge, {13, 126, 78, 12}},
};
const size_t kControls = sizeof(kTemplate) / sizeof(kTemplate[0]);

void CheckTemplate(HWND hPage, const SIZE& pageInfo) {
    std::string problems;
    size_t n = 0;
    for (HWND h = GetWindow(hPage, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT), ++n) {
        if (n >= kControls) {
            problems += Format(" extra %d;", GetDlgCtrlID(h));
            continue;
        }
        const ControlLayout& c = kTemplate[n];
        const DWORD ex = (DWORD)GetWindowLongA(h, GWL_EXSTYLE);
        DWORD style = (DWORD)GetWindowLongA(h, GWL_STYLE);
        const DWORD typeMask = !strcmp(c.cls, "Button") ? 0xF : !strcmp(c.cls, "Static") ? SS_TYPEMASK : 0;
        if (!strcmp(c.cls, "Edit") && (ex & WS_EX_CLIENTEDGE))
            style |= WS_BORDER;  // the dialog manager draws an edit's border as a client edge
        // The dialog manager maps a control's origin and size each on its own.
        RECT want = c.rc, got;
        MapDialogRect(hPage, &want);
        want.right += want.left;
        want.bottom += want.top;
        GetWindowRect(h, &got);
        MapWindowPoints(nullptr, hPage, reinterpret_cast<POINT*>(&got), 2);
        const bool ok = (WORD)GetDlgCtrlID(h) == (WORD)c.id && !_stricmp(ClassOf(h).c_str(), c.cls) &&
                        (!c.text || WindowText(h) == c.text) && ((style & WS_VISIBLE) != 0) == c.visible &&
                        (style & typeMask) == c.type && (style & c.flags) == c.flags &&
                        (ex & WS_EX_STATICEDGE) == c.edge && !memcmp(&want, &got, sizeof(RECT));
        if (!ok)
            problems +=
                Format(" #%zu %d %s \"%s\" style 0x%08lX ex 0x%lX at %ld,%ld,%ld,%ld;", n + 1,
                       GetDlgCtrlID(h), ClassOf(h).c_str(), WindowText(h).c_str(), (unsigned long)style,
                       (unsigned long)ex, got.left, got.top, got.right, got.bottom);
    }
    RECT page = {0, 0, 271, 176};
    MapDialogRect(hPage, &page);
    if (pageInfo.cx != page.right || pageInfo.cy != page.bottom)
        problems += Format(" page info %ldx%ld;", pageInfo.cx, pageInfo.cy);
    Report("template", problems.empty() && n == kControls,
           Format("%zu controls, page %ldx%ld px%s", n, page.right, page.bottom, problems.c_str()));
}

// ---------------------------------------------------------------- the graph

HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION want, bool unconnected, IPin** out) {
    *out = nullptr;
    IEnumPins* pins = nullptr;
    HRESULT hr = filter->EnumPins(&pins);
    for (IPin* pin; SUCCEEDED(hr) && !*out && pins->Next(1, &pin, nullptr) == S_OK;) {
        PIN_DIRECTION dir;
        IPin* peer = nullptr;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == want &&
            (!unconnected || pin->ConnectedTo(&peer) != S_OK))
            *out = pin;
        else
            pin->Release();
        if (peer)
            peer->Release();
    }
    if (pins)
        pins->Release();
    return FAILED(hr) ? hr : *out ? S_OK : VFW_E_NOT_FOUND;
}

// The source's pin through the platform's splitter into a null renderer,
// and every other stream of the splitter into one of its own.
HRESULT BuildGraph(IGraphBuilder* graph, IBaseFilter* source) {
    IPin* out = nullptr;
    HRESULT hr = FirstPin(source, PINDIR_OUTPUT, false, &out);
    for (int n = 0; SUCCEEDED(hr) && out && n < 8; ++n) {
        IBaseFilter* sink = nullptr;
        IPin* in = nullptr;
        hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              (void**)&sink);
        if (SUCCEEDED(hr))
            hr = graph->AddFilter(sink, Widen(Format("Sink %d", n)).c_str());
        if (SUCCEEDED(hr))
            hr = FirstPin(sink, PINDIR_INPUT, false, &in);
        if (SUCCEEDED(hr))
            hr = graph->Connect(out, in);
        for (IUnknown* p : {(IUnknown*)sink, (IUnknown*)in, (IUnknown*)out})
            if (p)
                p->Release();
        out = nullptr;
        IEnumFilters* filters = nullptr;
        if (SUCCEEDED(hr) && SUCCEEDED(graph->EnumFilters(&filters))) {
            for (IBaseFilter* f; !out && filters->Next(1, &f, nullptr) == S_OK; f->Release())
                FirstPin(f, PINDIR_OUTPUT, true, &out);
            filters->Release();
        }
    }
    return hr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: page_dialog FILE OTHER_FILE SHOT_DONE\n");
        return 2;
    }
    const std::string file = argv[1], other = argv[2], shotDone = argv[3];
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);

    // The graph, on this thread. The filter is free-threaded: the frame's
    // thread uses it directly.
    IGraphBuilder* graph = nullptr;
    IBaseFilter* source = nullptr;
    IMediaControl* control = nullptr;
    IFileSourceFilter* load = nullptr;
    IOrvexFileSource* orvex = nullptr;
    HRESULT hr =
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void**)&graph);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_CoFileSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              (void**)&source);
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(source, L"Source");
    if (SUCCEEDED(hr))
        hr = source->QueryInterface(IID_IFileSourceFilter, (void**)&load);
    if (SUCCEEDED(hr))
        hr = source->QueryInterface(IID_IOrvexFileSource, (void**)&orvex);
    if (SUCCEEDED(hr))
        hr = load->Load(Widen(file).c_str(), nullptr);
    if (SUCCEEDED(hr))
        hr = BuildGraph(graph, source);
    if (SUCCEEDED(hr))
        hr = graph->QueryInterface(IID_IMediaControl, (void**)&control);
    if (FAILED(hr)) {
        printf("wine page dialog: graph FAILED hr=0x%08lX\n", (unsigned long)hr);
        return 3;
    }
    orvex->SetSeekingSupported(FALSE);
    CheckRegistry();  // the component is loaded now

    // The pages the filter names, in the frame on its own thread.
    FrameThread frame;
    ISpecifyPropertyPages* specify = nullptr;
    CAUUID pages = {};
    if (SUCCEEDED(source->QueryInterface(IID_ISpecifyPropertyPages, (void**)&specify)) &&
        SUCCEEDED(specify->GetPages(&pages)))
        frame.pages.assign(pages.pElems, pages.pElems + pages.cElems);
    CoTaskMemFree(pages.pElems);
    if (specify)
        specify->Release();
    source->AddRef();
    const ULONG nRefsBefore = source->Release();
    frame.filter = source;
    const HANDLE hThread = CreateThread(nullptr, 0, RunFrame, &frame, 0, &frame.tid);
    HWND hFrame = nullptr, hPage = nullptr;
    WaitFor(30000, [&] {
        for (HWND h : TopLevelWindows(frame.tid))
            if (!hPage && (hPage = FindPage(h)) != nullptr)
                hFrame = h;
        return hPage || WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0;
    });
    char title[256] = "";
    TCITEMA tab = {};
    tab.mask = TCIF_TEXT;
    tab.pszText = title;
    tab.cchTextMax = sizeof(title);
    if (hFrame)
        SendMessageA(FindWindowExA(hFrame, nullptr, WC_TABCONTROLA, nullptr), TCM_GETITEMA, 0, (LPARAM)&tab);
    Report("frame",
           hPage && frame.pages.size() == 1 && frame.pages[0] == CLSID_FileSourcePage &&
               !strcmp(title, "File Source Properties"),
           Format("pages=%zu tab=\"%s\"", frame.pages.size(), title));
    if (!hPage) {
        printf("wine page dialog: no page, frame hr=0x%08lX\n", (unsigned long)frame.hr);
        return 3;
    }
    CheckTemplate(hPage, frame.size);

    // Stopped.
    std::string detail;
    bool ok = ItemText(hPage, IDC_FILE_NAME) == file && FiguresMatch(hPage, orvex, &detail);
    Report("figures", ok, "stopped: \"" + ItemText(hPage, IDC_FILE_NAME) + "\" " + detail);
    Report("enable", Both(hPage, true), "stopped: Change and the check box enabled");

    // Running: both disabled within a refresh, and for as long as it runs.
    double t0 = Now();
    control->Run();
    ok = WaitFor(1000, [&] { return Both(hPage, false); });
    const double disableMs = Now() - t0;
    for (int i = 0; i < 40 && ok; ++i, Sleep(25))
        ok = Both(hPage, false);
    Report("enable", ok, Format("running: disabled after %.0f ms and while running", disableMs));
    Sleep(1500);
    ok = FiguresMatch(hPage, orvex, &detail);
    Report("figures", ok, "running: " + detail);

    // Paused: enabled, but the filter refuses a change of the setting.
    control->Pause();
    t0 = Now();
    ok = WaitFor(1000, [&] { return Both(hPage, true); });
    const double pauseMs = Now() - t0;
    Report("enable", ok && pauseMs <= 200, Format("paused: enabled after %.0f ms", pauseMs));
    ok = FiguresMatch(hPage, orvex, &detail);
    Report("figures", ok, "paused: " + detail);
    const bool wasChecked = Checked(hPage);
    SendDlgItemMessageA(hPage, IDC_ALLOW_SEEKING, BM_CLICK, 0, 0);
    Sleep(150);
    Report("check box", Checked(hPage) == wasChecked && (orvex->IsSeekingSupported() == S_OK) == wasChecked,
           Format("a click while paused: %s before and after", wasChecked ? "ticked" : "clear"));

    // The picture, while paused.
    RECT rc;
    GetWindowRect(hFrame, &rc);
    printf("screenshot: %ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    fflush(stdout);
    const bool shot =
        WaitFor(20000, [&] { return GetFileAttributesA(shotDone.c_str()) != INVALID_FILE_ATTRIBUTES; });

    // Stopped: enabled within 100 ms, the refresh period, from Stop's
    // return to the first poll that sees it. A busy machine can delay one
    // timer message, so the best of up to three stops counts; a page that
    // refreshed less often would miss in all.
    double stopMs = 1e9;
    std::string stops;
    for (int i = 0; i < 3 && stopMs > 110; ++i) {
        control->Run();
        WaitFor(1000, [&] { return Both(hPage, false); });
        Sleep(200 + 37 * i);
        control->Stop();
        t0 = Now();
        const double ms = WaitFor(1000, [&] { return Both(hPage, true); }) ? Now() - t0 : 1e9;
        stops += Format(" %.0f", ms);
        stopMs = ms < stopMs ? ms : stopMs;
    }
    Report("enable", stopMs <= 110, "stopped: enabled after" + stops + " ms");

    // Stopped, a click changes the setting (the pin reconnects), and back.
    SendDlgItemMessageA(hPage, IDC_ALLOW_SEEKING, BM_CLICK, 0, 0);
    const bool allowed = Checked(hPage) && orvex->IsSeekingSupported() == S_OK;
    SendDlgItemMessageA(hPage, IDC_ALLOW_SEEKING, BM_CLICK, 0, 0);
    const bool back = !Checked(hPage) && orvex->IsSeekingSupported() == S_FALSE;
    Report("check box", allowed && back, Format("clicks while stopped: allowed %d, back %d", allowed, back));

    // Change, cancelled: nothing changes.
    ok = ChangeTo(frame.tid, hFrame, hPage, nullptr, &detail);
    Sleep(150);
    Report("change", ok && ItemText(hPage, IDC_FILE_NAME) == file && CurrentFile(load) == file,
           "cancelled: " + detail + ", still \"" + CurrentFile(load) + "\"");

    // Change to the other file: loaded, shown, and its size in the figures.
    ok = ChangeTo(frame.tid, hFrame, hPage, &other, &detail) &&
         WaitFor(5000, [&] { return ItemText(hPage, IDC_FILE_NAME) == other; });
    WIN32_FILE_ATTRIBUTE_DATA attrs = {};
    GetFileAttributesExA(other.c_str(), GetFileExInfoStandard, &attrs);
    const std::string size = Figure(attrs.nFileSizeLow, " bytes");
    ok = ok && CurrentFile(load) == other &&
         WaitFor(1000, [&] { return ItemText(hPage, IDC_FILE_SIZE) == size; });
    Report("change", ok, "chosen: " + detail + ", now \"" + CurrentFile(load) + "\" [" + size + "]");

    // Closed: the frame returns and the page has let go of the filter.
    PostMessageA(hFrame, WM_CLOSE, 0, 0);
    const bool closed = WaitForSingleObject(hThread, 15000) == WAIT_OBJECT_0;
    source->AddRef();
    const ULONG nRefsAfter = source->Release();
    Report("released", closed && frame.hr == S_OK && nRefsAfter == nRefsBefore,
           Format("frame hr=0x%08lX, filter references %lu before, %lu after", (unsigned long)frame.hr,
                  (unsigned long)nRefsBefore, (unsigned long)nRefsAfter));
    CloseHandle(hThread);

    control->Stop();
    for (IUnknown* p :
         {(IUnknown*)control, (IUnknown*)orvex, (IUnknown*)load, (IUnknown*)source, (IUnknown*)graph})
        p->Release();
    printf(
        "wine page dialog: checks=%d failed=%d disable_ms=%.0f enable_after_pause_ms=%.0f "
        "enable_after_stop_ms=%.0f screenshot=%s\n",
        g_nChecks, g_nFailed, disableMs, pauseMs, stopMs, shot ? "taken" : "none");
    fflush(stdout);
    CoUninitialize();
    return g_nFailed ? 1 : 0;
}
