// The property page in the platform's own property frame, as a user sees
// it. Windows only; run under Wine on a display (page_dialog.sh starts Xvfb).
//
//   page_dialog FILE OTHER_FILE SHOT_DONE
//
// The component must be registered (regsvr32). The main thread builds a
// graph: the component's filter, created through COM, loads FILE and its
// pin is connected through the platform's splitter to null renderers. A
// second thread opens the platform's property frame on the filter
// (OleCreatePropertyFrame with the pages the filter names) and runs its
// message loop until the frame closes. The main thread finds the page's
// controls and checks, through the window system only, what the user
// would see and what a click does:
//   registry  the page's keys as registration writes them
//   frame     the page found in the frame, its tab titled by the page
//   template  the dialog's controls as its template lays them out
//   figures   the six fields match IOrvexFileSource within one refresh
//             (stopped, running, paused)
//   enable    Change and the check box disabled while the graph runs,
//             enabled within 100 ms after it pauses or stops
//   check box a click while paused leaves it as it was; while stopped it
//             changes the setting
//   change    Change with a file chosen in the file-open dialog (driven by
//             window messages) loads it; cancelling changes nothing
//   released  once the frame is closed the page holds no reference to the
//             filter
// While paused it prints "screenshot: LEFT TOP WIDTH HEIGHT" (the frame on
// the screen) and waits up to 20 s for the file SHOT_DONE, which the script
// creates once it has taken the picture.
//
// One line per check ("page: NAME ok|FAILED ..."), then the summary line
// "wine page dialog: ...". Exit code 0 when every check passed, 1 when one
// failed, 2 for bad arguments, 3 when the graph or the frame could not be
// made.
//
// Threads: the frame's thread is woken by its window messages; the main
// thread polls the windows (every few milliseconds while it waits for a
// change, never longer than a check's time limit).
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
    if (!ok)
        ++g_nFailed;
    printf("page: %-10s %s %s\n", name, ok ? "ok" : "FAILED", detail.c_str());
    fflush(stdout);
}

double Now() {
    static LARGE_INTEGER freq;
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)freq.QuadPart;
}

std::string Narrow(const WCHAR* w) {
    char a[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, w, -1, a, sizeof(a), nullptr, nullptr);
    return a;
}

std::wstring Widen(const std::string& s) {
    WCHAR w[1024] = L"";
    MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w, 1024);
    return w;
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

// ---------------------------------------------------------------- what the fields should read

// Two blanks, the number in groups of three digits separated by blanks (a
// negative one with " -" after the two blanks), the suffix.
std::string Figure(long long value, const char* suffix) {
    unsigned long long magnitude = value < 0 ? 0ull - (unsigned long long)value : (unsigned long long)value;
    std::string digits = std::to_string(magnitude), grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ' ';
        grouped += digits[i];
    }
    return std::string(value < 0 ? "   -" : "  ") + grouped + suffix;
}

struct Figures {
    LONGLONG size = 0, pos = 0;
    LONG write = 0, read = 0;
    DWORD wait = 0;
};

Figures Sample(IOrvexFileSource* p) {
    Figures f;
    p->GetFileSize(&f.size, &f.write);
    p->GetReadPos(&f.pos, &f.read);
    p->GetWaitSize(&f.wait);
    return f;
}

const int kFigureIds[6] = {IDC_FILE_SIZE, IDC_WRITE_RATE, IDC_READ_POS,
                           IDC_READ_RATE, IDC_DELTA,      IDC_WAIT_BYTES};

std::vector<std::string> Expected(const Figures& f) {
    return {Figure(f.size, " bytes"),
            Figure((unsigned long)f.write / 128, " kb/sec"),
            Figure(f.pos, "  "),
            Figure((unsigned long)f.read / 128, " kb/sec"),
            Figure(f.size - f.pos, " bytes"),
            Figure(f.wait, " bytes")};
}

// ---------------------------------------------------------------- windows of the frame

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

std::vector<std::string> ShownFigures(HWND hPage) {
    std::vector<std::string> texts;
    for (int id : kFigureIds)
        texts.push_back(ItemText(hPage, id));
    return texts;
}

struct ThreadWindows {
    DWORD tid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hWnd, LPARAM lParam) {
    ThreadWindows* p = reinterpret_cast<ThreadWindows*>(lParam);
    if (GetWindowThreadProcessId(hWnd, nullptr) == p->tid && IsWindowVisible(hWnd))
        p->found.push_back(hWnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD tid) {
    ThreadWindows w{tid, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&w));
    return w.found;
}

BOOL CALLBACK FindCheckBox(HWND hWnd, LPARAM lParam) {
    if (GetDlgCtrlID(hWnd) == IDC_ALLOW_SEEKING && GetDlgItem(GetParent(hWnd), IDC_FILE_SIZE)) {
        *reinterpret_cast<HWND*>(lParam) = GetParent(hWnd);
        return FALSE;
    }
    return TRUE;
}

// The page's dialog inside the frame: the parent of the check box.
HWND FindPage(HWND hFrame) {
    HWND hPage = nullptr;
    EnumChildWindows(hFrame, FindCheckBox, reinterpret_cast<LPARAM>(&hPage));
    return hPage;
}

template <class F>
bool WaitFor(double ms, F done) {
    const double end = Now() + ms;
    while (!done()) {
        if (Now() > end)
            return false;
        Sleep(2);
    }
    return true;
}

// ---------------------------------------------------------------- the frame's thread

struct FrameThread {
    IUnknown* filter = nullptr;
    std::vector<CLSID> pages;
    HRESULT hr = E_PENDING;
    DWORD tid = 0;
    HRESULT hrInfo = E_PENDING;  // what the page tells a frame before it opens
    SIZE size = {};
};

DWORD WINAPI RunFrame(LPVOID pv) {
    FrameThread* p = static_cast<FrameThread*>(pv);
    OleInitialize(nullptr);
    IPropertyPage* page = nullptr;
    p->hrInfo = p->pages.empty() ? E_UNEXPECTED
                                 : CoCreateInstance(p->pages[0], nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IPropertyPage, (void**)&page);
    if (page) {
        PROPPAGEINFO info = {};
        p->hrInfo = page->GetPageInfo(&info);
        p->size = info.size;
        CoTaskMemFree(info.pszTitle);
        page->Release();
    }
    p->hr = OleCreatePropertyFrame(nullptr, 40, 40, L"TallowFileSource", 1, &p->filter,
                                   (ULONG)p->pages.size(), p->pages.data(), 0, 0, nullptr);
    OleUninitialize();
    return 0;
}

// ---------------------------------------------------------------- the graph

template <class T>
struct Ptr {
    T* p = nullptr;
    ~Ptr() {
        if (p)
            p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
    operator T*() const { return p; }
};

HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION want, bool unconnected, IPin** out) {
    *out = nullptr;
    Ptr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    IPin* pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION dir;
        Ptr<IPin> peer;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == want &&
            (!unconnected || pin->ConnectedTo(&peer) != S_OK)) {
            *out = pin;
            return S_OK;
        }
        pin->Release();
    }
    return VFW_E_NOT_FOUND;
}

// The source's pin through the platform's splitter into null renderers,
// one for every stream.
HRESULT BuildGraph(IGraphBuilder* graph, IBaseFilter* source) {
    Ptr<IPin> out;
    HRESULT hr = FirstPin(source, PINDIR_OUTPUT, false, &out);
    for (int n = 0; SUCCEEDED(hr) && n < 8; ++n) {
        Ptr<IBaseFilter> sink;
        Ptr<IPin> in;
        if (FAILED(hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         (void**)&sink)) ||
            FAILED(hr = graph->AddFilter(sink, Widen(Format("Sink %d", n)).c_str())) ||
            FAILED(hr = FirstPin(sink, PINDIR_INPUT, false, &in)) || FAILED(hr = graph->Connect(out, in)))
            return hr;
        // The next stream of the splitter that nothing takes yet.
        out.p->Release();
        out.p = nullptr;
        Ptr<IEnumFilters> filters;
        graph->EnumFilters(&filters);
        IBaseFilter* f;
        while (!out.p && filters->Next(1, &f, nullptr) == S_OK) {
            FirstPin(f, PINDIR_OUTPUT, true, &out);
            f->Release();
        }
        if (!out.p)
            return S_OK;
    }
    return hr;
}

// ---------------------------------------------------------------- checks

struct ControlLayout {
    int id;  // -1: none
    const char* cls;
    const char* text;  // null: not compared (the page writes it)
    bool visible;
    DWORD type;   // the button's or static's kind (BS_..., SS_...)
    DWORD flags;  // style bits that must be set
    DWORD exStyle;
    RECT rc;  // dialog units: x, y, width, height
};

const DWORD kStaticEdge = WS_EX_STATICEDGE, kFigure = SS_CENTERIMAGE | WS_GROUP;

// The template, in its order.
const ControlLayout kTemplate[] = {
    {-1, "Button", "Target File Name", true, BS_GROUPBOX, 0, 0, {7, 7, 257, 33}},
    {IDC_FILE_NAME,
     "Edit",
     nullptr,
     true,
     0,
     ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
     0,
     {14, 18, 188, 14}},
    {IDC_CHANGE, "Button", "Change", true, BS_PUSHBUTTON, WS_TABSTOP, 0, {207, 18, 50, 14}},
    {-1, "Button", "File Statistics", true, BS_GROUPBOX, 0, 0, {7, 62, 257, 65}},
    {-1, "Button", "Wait Size", false, BS_GROUPBOX, 0, 0, {7, 141, 257, 28}},
    {IDC_WAIT_SLIDER, "msctls_trackbar32", "Slider1", false, 0, WS_TABSTOP, 0, {9, 152, 196, 11}},
    {IDC_WAIT_KB, "Static", "1 024", false, SS_CENTER, kFigure, kStaticEdge, {207, 152, 36, 11}},
    {-1, "Static", "Kb", false, SS_LEFT, kFigure, 0, {246, 152, 11, 11}},
    {IDC_FILE_SIZE, "Static", nullptr, true, SS_LEFT, kFigure, kStaticEdge, {99, 73, 91, 12}},
    {-1, "Static", "Current File Size", true, SS_CENTER, kFigure, kStaticEdge, {13, 73, 78, 12}},
    {IDC_READ_POS, "Static", nullptr, true, SS_LEFT, kFigure, kStaticEdge, {99, 90, 91, 12}},
    {-1, "Static", "Last Read Position", true, SS_CENTER, kFigure, kStaticEdge, {13, 90, 78, 12}},
    {IDC_WAIT_BYTES, "Static", nullptr, true, SS_LEFT, kFigure, kStaticEdge, {197, 108, 59, 12}},
    {-1, "Static", "Wait", true, SS_CENTER, kFigure, kStaticEdge, {137, 108, 53, 12}},
    {IDC_WRITE_RATE, "Static", nullptr, true, SS_LEFT, kFigure, kStaticEdge, {197, 73, 59, 12}},
    {IDC_READ_RATE, "Static", nullptr, true, SS_LEFT, kFigure, kStaticEdge, {197, 90, 59, 12}},
    {IDC_DELTA, "Static", nullptr, true, SS_LEFT, kFigure, kStaticEdge, {72, 108, 59, 12}},
    {-1, "Static", "Delta", true, SS_CENTER, kFigure, kStaticEdge, {13, 108, 53, 12}},
    {IDC_ALLOW_SEEKING,
     "Button",
     "Allow media seeking for currently open files",
     true,
     BS_AUTOCHECKBOX,
     WS_TABSTOP,
     0,
     {13, 46, 151, 10}},
};
const size_t kTemplateSize = sizeof(kTemplate) / sizeof(kTemplate[0]);

// The page's controls, in the window manager's order (the template's), as
// they were made from the template.
void CheckTemplate(HWND hPage, const SIZE& pageInfo) {
    std::string problems;
    size_t n = 0;
    for (HWND h = GetWindow(hPage, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT), ++n) {
        if (n >= kTemplateSize) {
            problems += Format(" extra control %d;", GetDlgCtrlID(h));
            continue;
        }
        const ControlLayout& c = kTemplate[n];
        const DWORD style = (DWORD)GetWindowLongA(h, GWL_STYLE), ex = (DWORD)GetWindowLongA(h, GWL_EXSTYLE);
        const DWORD typeMask = strcmp(c.cls, "Button") == 0   ? 0xF
                               : strcmp(c.cls, "Static") == 0 ? SS_TYPEMASK
                                                              : 0;
        // The dialog manager maps the origin and the size each on its own.
        RECT want = c.rc, got;
        MapDialogRect(hPage, &want);
        want.right += want.left;
        want.bottom += want.top;
        GetWindowRect(h, &got);
        MapWindowPoints(nullptr, hPage, reinterpret_cast<POINT*>(&got), 2);
        if ((WORD)GetDlgCtrlID(h) != (WORD)c.id)
            problems += Format(" #%zu id %d;", n + 1, GetDlgCtrlID(h));
        if (_stricmp(ClassOf(h).c_str(), c.cls) != 0)
            problems += Format(" #%zu class %s;", n + 1, ClassOf(h).c_str());
        if (c.text && WindowText(h) != c.text)
            problems += Format(" #%zu text \"%s\";", n + 1, WindowText(h).c_str());
        if (((style & WS_VISIBLE) != 0) != c.visible)
            problems += Format(" #%zu visible %d;", n + 1, (style & WS_VISIBLE) != 0);
        // An edit's border becomes a client edge in a dialog.
        DWORD flags = style;
        if ((ex & WS_EX_CLIENTEDGE) && strcmp(c.cls, "Edit") == 0)
            flags |= WS_BORDER;
        if ((style & typeMask) != c.type || (flags & c.flags) != c.flags)
            problems += Format(" #%zu style 0x%08lX;", n + 1, (unsigned long)style);
        if ((ex & WS_EX_STATICEDGE) != c.exStyle)
            problems += Format(" #%zu exstyle 0x%08lX;", n + 1, (unsigned long)ex);
        if (memcmp(&want, &got, sizeof(RECT)) != 0)
            problems += Format(" #%zu rect %ld,%ld,%ld,%ld want %ld,%ld,%ld,%ld;", n + 1, got.left, got.top,
                               got.right, got.bottom, want.left, want.top, want.right, want.bottom);
    }
    if (n < kTemplateSize)
        problems += Format(" %zu controls;", n);
    // The size the page gives its frame: the template's 271 x 176 units.
    RECT page = {0, 0, 271, 176};
    MapDialogRect(hPage, &page);
    if (pageInfo.cx != page.right || pageInfo.cy != page.bottom)
        problems += Format(" page info %ldx%ld;", pageInfo.cx, pageInfo.cy);
    Report("template", problems.empty(),
           Format("19 controls, page %ldx%ld px%s", page.right, page.bottom, problems.c_str()));
}

// The six fields against the filter's figures: the texts must equal those
// of the figures sampled just before or just after a refresh's time.
bool FiguresMatch(HWND hPage, IOrvexFileSource* control, std::string* detail) {
    for (int attempt = 0; attempt < 40; ++attempt) {
        const Figures before = Sample(control);
        Sleep(130);  // more than one refresh
        const std::vector<std::string> shown = ShownFigures(hPage);
        const Figures after = Sample(control);
        if (shown == Expected(before) || shown == Expected(after)) {
            *detail = Format("after %d tries:", attempt + 1);
            for (const std::string& s : shown)
                *detail += " [" + s + "]";
            return true;
        }
        if (attempt == 39) {
            *detail = "shown:";
            for (const std::string& s : shown)
                *detail += " [" + s + "]";
            *detail += " filter:";
            for (const std::string& s : Expected(after))
                *detail += " [" + s + "]";
        }
    }
    return false;
}

bool BothEnabled(HWND hPage) {
    return IsWindowEnabled(GetDlgItem(hPage, IDC_CHANGE)) &&
           IsWindowEnabled(GetDlgItem(hPage, IDC_ALLOW_SEEKING));
}
bool BothDisabled(HWND hPage) {
    return !IsWindowEnabled(GetDlgItem(hPage, IDC_CHANGE)) &&
           !IsWindowEnabled(GetDlgItem(hPage, IDC_ALLOW_SEEKING));
}

bool Checked(HWND hPage) {
    return SendDlgItemMessageA(hPage, IDC_ALLOW_SEEKING, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string CurrentFile(IFileSourceFilter* fs) {
    LPOLESTR name = nullptr;
    fs->GetCurFile(&name, nullptr);
    const std::string text = name ? Narrow(name) : "";
    CoTaskMemFree(name);
    return text;
}

// The file-open dialog the page shows: a new window of the frame's thread.
HWND WaitForOpenDialog(DWORD tid, HWND hFrame) {
    HWND hOpen = nullptr;
    WaitFor(10000, [&] {
        for (HWND h : TopLevelWindows(tid))
            if (h != hFrame && ClassOf(h) == "#32770")
                hOpen = h;
        return hOpen != nullptr;
    });
    return hOpen;
}

// Clicks Change and answers the file-open dialog: a file name typed into
// its name box and OK, or Cancel. False when the dialog never came or did
// not go.
bool ChangeTo(DWORD tid, HWND hFrame, HWND hPage, const std::string* file, std::string* detail) {
    PostMessageA(GetDlgItem(hPage, IDC_CHANGE), BM_CLICK, 0, 0);
    const HWND hOpen = WaitForOpenDialog(tid, hFrame);
    if (!hOpen) {
        *detail = "no file-open dialog";
        return false;
    }
    *detail = Format("dialog \"%s\"", WindowText(hOpen).c_str());
    if (file) {
        // The name box: a combo box (cmb13) in the newer layout, an edit
        // (edt1) in the older.
        HWND hName = GetDlgItem(hOpen, 0x47C);
        if (!hName)
            hName = GetDlgItem(hOpen, 0x480);
        if (!hName) {
            *detail += " without a name box";
            PostMessageA(hOpen, WM_COMMAND, IDCANCEL, 0);
            return false;
        }
        *detail += Format(", name box %s 0x%X", ClassOf(hName).c_str(), GetDlgCtrlID(hName));
        SendMessageA(hName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file->c_str()));
        PostMessageA(hOpen, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hOpen, IDOK)));
    } else {
        PostMessageA(hOpen, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hOpen, IDCANCEL)));
    }
    if (!WaitFor(10000, [&] { return !IsWindow(hOpen); })) {
        *detail += " did not close";
        return false;
    }
    return true;
}

struct RegValue {
    const char* key;
    const char* name;
    const char* data;  // "%CLSID%" and "%MODULE%" stand for the page's CLSID and the DLL
};

void CheckRegistry(const std::string& clsid, std::string* module) {
    const RegValue kKeys[] = {
        {"OrvexFileSource.FileSourcePage.1", nullptr, "FileSourcePage Class"},
        {"OrvexFileSource.FileSourcePage.1\\CLSID", nullptr, "%CLSID%"},
        {"OrvexFileSource.FileSourcePage", nullptr, "FileSourcePage Class"},
        {"OrvexFileSource.FileSourcePage\\CLSID", nullptr, "%CLSID%"},
        {"OrvexFileSource.FileSourcePage\\CurVer", nullptr, "OrvexFileSource.FileSourcePage.1"},
        {"CLSID\\%CLSID%", nullptr, "FileSourcePage Class"},
        {"CLSID\\%CLSID%\\ProgID", nullptr, "OrvexFileSource.FileSourcePage.1"},
        {"CLSID\\%CLSID%\\VersionIndependentProgID", nullptr, "OrvexFileSource.FileSourcePage"},
        {"CLSID\\%CLSID%\\InprocServer32", nullptr, "%MODULE%"},
        {"CLSID\\%CLSID%\\InprocServer32", "ThreadingModel", "Apartment"},
    };
    std::string problems;
    for (const RegValue& v : kKeys) {
        std::string key = v.key;
        const size_t at = key.find("%CLSID%");
        if (at != std::string::npos)
            key.replace(at, 7, clsid);
        char data[MAX_PATH * 2] = "";
        LONG cb = sizeof(data);
        DWORD type = 0, cbData = sizeof(data);
        HKEY hKey;
        LONG r = RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey);
        if (r == ERROR_SUCCESS) {
            r = RegQueryValueExA(hKey, v.name, nullptr, &type, reinterpret_cast<BYTE*>(data), &cbData);
            RegCloseKey(hKey);
        }
        (void)cb;
        const std::string want = strcmp(v.data, "%CLSID%") == 0 ? clsid : v.data;
        if (strcmp(v.data, "%MODULE%") == 0) {
            *module = data;
            if (r != ERROR_SUCCESS || type != REG_SZ || !strstr(data, "OrvexFileSource.dll"))
                problems += Format(" %s=\"%s\";", key.c_str(), data);
        } else if (r != ERROR_SUCCESS || type != REG_SZ || want != data) {
            problems += Format(" %s[%s]=\"%s\" (%ld);", key.c_str(), v.name ? v.name : "", data, r);
        }
    }
    Report("registry", problems.empty(),
           Format("%zu values under HKCR%s", sizeof(kKeys) / sizeof(kKeys[0]), problems.c_str()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: page_dialog FILE OTHER_FILE SHOT_DONE\n");
        return 2;
    }
    const std::string file = argv[1], other = argv[2], shotDone = argv[3];
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);

    WCHAR wszClsid[40];
    StringFromGUID2(CLSID_FileSourcePage, wszClsid, 40);
    std::string dll;
    CheckRegistry(Narrow(wszClsid), &dll);

    // The graph, on this thread.
    Ptr<IGraphBuilder> graph;
    Ptr<IBaseFilter> source;
    Ptr<IMediaControl> control;
    Ptr<IFileSourceFilter> load;
    Ptr<IOrvexFileSource> orvex;
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

    // The pages the filter names, and the frame on its own thread.
    FrameThread frame;
    {
        Ptr<ISpecifyPropertyPages> specify;
        CAUUID pages = {};
        if (SUCCEEDED(source->QueryInterface(IID_ISpecifyPropertyPages, (void**)&specify)) &&
            SUCCEEDED(specify->GetPages(&pages)))
            frame.pages.assign(pages.pElems, pages.pElems + pages.cElems);
        CoTaskMemFree(pages.pElems);
    }
    source->AddRef();
    const ULONG nRefsBefore = source->Release();
    frame.filter = source;
    const HANDLE hThread = CreateThread(nullptr, 0, RunFrame, &frame, 0, &frame.tid);
    HWND hFrame = nullptr, hPage = nullptr;
    WaitFor(30000, [&] {
        for (HWND h : TopLevelWindows(frame.tid))
            if (!hPage && (hPage = FindPage(h)) != nullptr)
                hFrame = h;
        return hPage != nullptr || WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0;
    });
    std::string title;
    if (hFrame) {
        // The tab the frame made for the page.
        HWND hTab = FindWindowExA(hFrame, nullptr, WC_TABCONTROLA, nullptr);
        char sz[256] = "";
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = sz;
        item.cchTextMax = sizeof(sz);
        if (hTab && SendMessageA(hTab, TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
            title = sz;
    }
    Report("frame",
           hPage && frame.pages.size() == 1 && IsEqualCLSID(frame.pages[0], CLSID_FileSourcePage) &&
               title == "File Source Properties",
           Format("pages=%zu frame=\"%s\" tab=\"%s\"", frame.pages.size(),
                  hFrame ? WindowText(hFrame).c_str() : "", title.c_str()));
    if (!hPage) {
        printf("wine page dialog: no page, frame hr=0x%08lX\n", (unsigned long)frame.hr);
        return 3;
    }

    CheckTemplate(hPage, frame.size);
    Report("file name", ItemText(hPage, IDC_FILE_NAME) == file, "\"" + ItemText(hPage, IDC_FILE_NAME) + "\"");
    std::string detail;
    bool match = FiguresMatch(hPage, orvex, &detail);
    Report("figures", match, "stopped " + detail);
    Report("enable", BothEnabled(hPage), "stopped: Change and the check box enabled");

    // Running: both disabled within a refresh, and for as long as it runs.
    double t0 = Now();
    control->Run();
    bool ok = WaitFor(1000, [&] { return BothDisabled(hPage); });
    const double disableMs = Now() - t0;
    bool stayed = true;
    for (int i = 0; i < 40 && ok; ++i, Sleep(25))
        stayed = stayed && BothDisabled(hPage);
    Report("enable", ok && stayed, Format("running: disabled after %.0f ms and while running", disableMs));
    Sleep(1500);  // the statistics thread measures the read rate once a second
    match = FiguresMatch(hPage, orvex, &detail);
    Report("figures", match, "running " + detail);

    // Paused: enabled, but the filter refuses a change of the setting.
    control->Pause();
    t0 = Now();
    ok = WaitFor(1000, [&] { return BothEnabled(hPage); });
    const double pauseMs = Now() - t0;
    Report("enable", ok && pauseMs <= 200, Format("paused: enabled after %.0f ms", pauseMs));
    match = FiguresMatch(hPage, orvex, &detail);
    Report("figures", match, "paused " + detail);
    const bool wasChecked = Checked(hPage);
    SendDlgItemMessageA(hPage, IDC_ALLOW_SEEKING, BM_CLICK, 0, 0);
    Sleep(150);
    Report("check box", Checked(hPage) == wasChecked && (orvex->IsSeekingSupported() == S_OK) == wasChecked,
           Format("a click while paused: %s before, %s after", wasChecked ? "ticked" : "clear",
                  Checked(hPage) ? "ticked" : "clear"));

    // The picture, while paused with live figures.
    RECT rc;
    GetWindowRect(hFrame, &rc);
    printf("screenshot: %ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    fflush(stdout);
    const bool shot =
        WaitFor(20000, [&] { return GetFileAttributesA(shotDone.c_str()) != INVALID_FILE_ATTRIBUTES; });

    // Stopped: enabled again within 100 ms, the refresh period. The time is
    // measured from Stop's return to the first poll that sees both enabled;
    // a busy machine can delay one timer message, so the best of up to
    // three stops counts (a page that refreshed less often would miss in all).
    double stopMs = 1e9;
    std::string stops;
    for (int i = 0; i < 3 && stopMs > 110; ++i) {
        control->Run();
        WaitFor(1000, [&] { return BothDisabled(hPage); });
        Sleep(200 + 37 * i);
        control->Stop();
        t0 = Now();
        const bool enabled = WaitFor(1000, [&] { return BothEnabled(hPage); });
        const double ms = enabled ? Now() - t0 : 1e9;
        stops += Format(" %.0f", ms);
        stopMs = ms < stopMs ? ms : stopMs;
    }
    Report("enable", stopMs <= 110, "stopped: enabled after" + stops + " ms");

    // Stopped, a click changes the setting (the pin reconnects), and back.
    SendDlgItemMessageA(hPage, IDC_ALLOW_SEEKING, BM_CLICK, 0, 0);
    const bool ticked = Checked(hPage), allowed = orvex->IsSeekingSupported() == S_OK;
    SendDlgItemMessageA(hPage, IDC_ALLOW_SEEKING, BM_CLICK, 0, 0);
    Report("check box", ticked && allowed && !Checked(hPage) && orvex->IsSeekingSupported() == S_FALSE,
           Format("clicks while stopped: %s, then %s", ticked && allowed ? "allowed" : "not allowed",
                  orvex->IsSeekingSupported() == S_FALSE ? "not allowed" : "allowed"));

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
    const bool sized = WaitFor(1000, [&] { return ItemText(hPage, IDC_FILE_SIZE) == size; });
    Report(
        "change", ok && CurrentFile(load) == other && sized,
        "chosen: " + detail + ", now \"" + CurrentFile(load) + "\" [" + ItemText(hPage, IDC_FILE_SIZE) + "]");

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
    printf(
        "wine page dialog: checks=%d failed=%d disable_ms=%.0f enable_after_pause_ms=%.0f "
        "enable_after_stop_ms=%.0f screenshot=%s\n",
        g_nChecks, g_nFailed, disableMs, pauseMs, stopMs, shot ? "taken" : "none");
    fflush(stdout);
    CoUninitialize();
    return g_nFailed ? 1 : 0;
}
