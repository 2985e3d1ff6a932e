// Virtual memory, modules, debugger output, message boxes and process end.
#include "kobject.h"

#include <compat/compat.h>
#include <compat/strings.h>

#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>

using namespace compat;

namespace {

const SIZE_T kPageSize = 4096;
// Windows places every region VirtualAlloc reserves at a multiple of this; the
// callers that align buffers inside a region rely on it.
const SIZE_T kAllocationGranularity = 65536;

// Sizes of the regions VirtualAlloc reserved, so that MEM_RELEASE with a size
// of 0 can unmap the whole region, as Windows does.
struct Regions {
    std::mutex lock;  // guards sizes
    std::map<uintptr_t, SIZE_T> sizes;
};

Regions& RegionTable() {
    static Regions* s = new Regions;
    return *s;
}

int ProtFromPage(DWORD protect) {
    switch (protect & 0xFF) {
        case PAGE_NOACCESS:
            return PROT_NONE;
        case PAGE_READONLY:
            return PROT_READ;
        case PAGE_READWRITE:
            return PROT_READ | PROT_WRITE;
        case PAGE_EXECUTE:
            return PROT_EXEC;
        case PAGE_EXECUTE_READ:
            return PROT_READ | PROT_EXEC;
        case PAGE_EXECUTE_READWRITE:
            return PROT_READ | PROT_WRITE | PROT_EXEC;
        default:
            return -1;
    }
}

// Debugger output and message-box policy.
struct DebugState {
    std::mutex lock;  // guards sink, context, answer and the box handler
    COMPAT_DEBUG_SINK sink = nullptr;
    void* context = nullptr;
    int answer = 0;
    COMPAT_MESSAGEBOX_HANDLER boxHandler = nullptr;
    void* boxContext = nullptr;
};

DebugState& Debug() {
    static DebugState* s = new DebugState;
    return *s;
}

bool DebugToStderr() {
    static const bool s_on = [] {
        const char* v = getenv("COMPAT_DEBUG_OUTPUT");
        return v && strcmp(v, "stderr") == 0;
    }();
    return s_on;
}

int PolicyAnswer() {
    static const int s_answer = [] {
        const char* v = getenv("COMPAT_MESSAGEBOX");
        if (!v)
            return IDIGNORE;
        static const struct {
            const char* name;
            int id;
        } kNames[] = {{"abort", IDABORT},   {"retry", IDRETRY}, {"ignore", IDIGNORE}, {"ok", IDOK},
                      {"cancel", IDCANCEL}, {"yes", IDYES},     {"no", IDNO}};
        for (const auto& n : kNames)
            if (strcasecmp(v, n.name) == 0)
                return n.id;
        return IDIGNORE;
    }();
    return s_answer;
}

// A module name as the loader takes it: "x.dll" is "x.so", and a backslash
// separates directories, as in the module paths that code written for
// Windows builds (dir\log.dll). No module of ours has a backslash in its
// file name, unlike recordings (files keep their names exactly, kobject.h).
std::string ModulePath(LPCSTR name) {
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    size_t n = path.size();
    if (n >= 4 && strcasecmp(path.c_str() + n - 4, ".dll") == 0)
        path.replace(n - 4, 4, ".so");
    return path;
}

// The main program's link map, the first of the loader's list. A module
// handle of this layer is the loader's handle, which is the module's map.
struct link_map* MainMap() {
    void* h = dlopen(NULL, RTLD_LAZY);
    struct link_map* lm = nullptr;
    if (h) {
        dlinfo(h, RTLD_DI_LINKMAP, &lm);
        dlclose(h);
    }
    return lm;
}

// The map of a module handle, or null when no loaded module has it: the
// loader itself would take any pointer for a handle.
struct link_map* LoadedMap(HMODULE h) {
    for (struct link_map* lm = MainMap(); lm; lm = lm->l_next)
        if (reinterpret_cast<HMODULE>(lm) == h)
            return lm;
    return nullptr;
}

// Looks for a string in the module's string-table note (compat/strings.h).
struct StringSearch {
    const struct link_map* module;
    UINT id;
    const char* text;  // found: its bytes and length
    size_t cb;
};

uint32_t ReadLE32(const unsigned char* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void FindInNote(const unsigned char* desc, size_t cbDesc, StringSearch* search) {
    for (size_t pos = 0; pos + 8 <= cbDesc;) {
        const uint32_t id = ReadLE32(desc + pos), cb = ReadLE32(desc + pos + 4);
        pos += 8;
        if (cb > cbDesc - pos)
            return;
        if (id == search->id) {
            search->text = reinterpret_cast<const char*>(desc + pos);
            search->cb = cb;
            return;
        }
        pos += cb;
    }
}

int FindString(struct dl_phdr_info* info, size_t, void* context) {
    StringSearch* search = static_cast<StringSearch*>(context);
    const char* name = info->dlpi_name ? info->dlpi_name : "";
    const char* want = search->module->l_name ? search->module->l_name : "";
    if (info->dlpi_addr != search->module->l_addr || strcmp(name, want) != 0)
        return 0;
    for (int i = 0; i < info->dlpi_phnum && !search->text; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_NOTE)
            continue;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(info->dlpi_addr + ph.p_vaddr);
        const unsigned char* end = p + ph.p_memsz;
        while (end - p >= 12 && !search->text) {
            const size_t cbName = ReadLE32(p), cbDesc = ReadLE32(p + 4);
            const uint32_t type = ReadLE32(p + 8);
            const unsigned char* pName = p + 12;
            const unsigned char* pDesc = pName + compat::NotePad(cbName);
            if ((size_t)(end - pName) < compat::NotePad(cbName) ||
                (size_t)(end - pDesc) < compat::NotePad(cbDesc))
                break;
            if (type == COMPAT_STRING_NOTE_TYPE && cbName == sizeof(COMPAT_STRING_NOTE_OWNER) &&
                memcmp(pName, COMPAT_STRING_NOTE_OWNER, cbName) == 0)
                FindInNote(pDesc, cbDesc, search);
            p = pDesc + compat::NotePad(cbDesc);
        }
    }
    return 1;  // the module's headers have been seen
}

}  // namespace

extern "C" {

LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
    int prot = ProtFromPage(flProtect);
    if (dwSize == 0 || prot < 0 || !(flAllocationType & (MEM_COMMIT | MEM_RESERVE))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    SIZE_T size = (dwSize + kPageSize - 1) & ~(kPageSize - 1);
    if (lpAddress) {
        // Committing pages of a region reserved earlier.
        uintptr_t start = reinterpret_cast<uintptr_t>(lpAddress) & ~(uintptr_t)(kPageSize - 1);
        if (mprotect(reinterpret_cast<void*>(start), size, prot) != 0) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return NULL;
        }
        return reinterpret_cast<LPVOID>(start);
    }
    int commitProt = (flAllocationType & MEM_COMMIT) ? prot : PROT_NONE;
    // mmap only promises page alignment: map a granule more and trim both ends.
    if (size > SIZE_MAX - kAllocationGranularity) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    const SIZE_T span = size + kAllocationGranularity - kPageSize;
    void* raw = mmap(nullptr, span, commitProt, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    const uintptr_t rawStart = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t start =
        (rawStart + kAllocationGranularity - 1) & ~(uintptr_t)(kAllocationGranularity - 1);
    const SIZE_T head = start - rawStart;
    const SIZE_T tail = span - head - size;
    if (head)
        munmap(raw, head);
    if (tail)
        munmap(reinterpret_cast<void*>(start + size), tail);
    void* p = reinterpret_cast<void*>(start);
    Regions& r = RegionTable();
    std::lock_guard<std::mutex> g(r.lock);
    r.sizes[reinterpret_cast<uintptr_t>(p)] = size;
    return p;
}

BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
    if (!lpAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Regions& r = RegionTable();
    if (dwFreeType == MEM_RELEASE) {
        if (dwSize != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        SIZE_T size;
        {
            std::lock_guard<std::mutex> g(r.lock);
            auto it = r.sizes.find(reinterpret_cast<uintptr_t>(lpAddress));
            if (it == r.sizes.end()) {
                SetLastError(ERROR_INVALID_ADDRESS);
                return FALSE;
            }
            size = it->second;
            r.sizes.erase(it);
        }
        munmap(lpAddress, size);
        return TRUE;
    }
    if (dwFreeType == MEM_DECOMMIT) {
        SIZE_T size = (dwSize + kPageSize - 1) & ~(kPageSize - 1);
        if (mmap(lpAddress, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1,
                 0) == MAP_FAILED) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO si) {
    memset(si, 0, sizeof(*si));
    si->wProcessorArchitecture = 9;  // PROCESSOR_ARCHITECTURE_AMD64
    si->dwPageSize = (DWORD)kPageSize;
    si->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
    si->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFEFFFFULL);
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    si->dwNumberOfProcessors = n > 0 ? (DWORD)n : 1;
    si->dwActiveProcessorMask =
        si->dwNumberOfProcessors >= 64 ? ~(DWORD_PTR)0 : (((DWORD_PTR)1 << si->dwNumberOfProcessors) - 1);
    si->dwAllocationGranularity = (DWORD)kAllocationGranularity;
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    std::string path = ModulePath(lpLibFileName);
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        SetLastError(access(path.c_str(), F_OK) == 0 ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return reinterpret_cast<HMODULE>(h);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (!hModule || !lpProcName) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    dlerror();
    void* p = dlsym(reinterpret_cast<void*>(hModule), lpProcName);
    if (!p) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    return reinterpret_cast<FARPROC>(p);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (!hLibModule || dlclose(reinterpret_cast<void*>(hLibModule)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    char buf[4096];
    const char* name = nullptr;
    struct link_map* lm = hModule ? LoadedMap(hModule) : nullptr;
    if (hModule && !lm) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    // The main program's map has no name of its own.
    if (!lm || !lm->l_name || !lm->l_name[0]) {
        ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
        if (n < 0) {
            SetLastError(Win32ErrorFromErrno(errno));
            return 0;
        }
        buf[n] = 0;
        name = buf;
    } else {
        if (!realpath(lm->l_name, buf)) {
            strncpy(buf, lm->l_name, sizeof(buf) - 1);
            buf[sizeof(buf) - 1] = 0;
        }
        name = buf;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // As on Windows: a name that does not fit is cut and terminated, and the
    // result is nSize with ERROR_INSUFFICIENT_BUFFER.
    DWORD len = (DWORD)strlen(name);
    if (len >= nSize) {
        memcpy(lpFilename, name, nSize - 1);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, name, len + 1);
    SetLastError(ERROR_SUCCESS);
    return len;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    char buf[4096];
    const DWORD len = GetModuleFileNameA(hModule, buf, sizeof(buf));
    if (len == 0 || len >= sizeof(buf))
        return 0;
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const int cch = MultiByteToWideChar(CP_ACP, 0, buf, -1, NULL, 0);
    if (cch <= 0)
        return 0;
    if ((DWORD)cch > nSize) {
        MultiByteToWideChar(CP_ACP, 0, buf, -1, lpFilename, (int)nSize - 1);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    MultiByteToWideChar(CP_ACP, 0, buf, -1, lpFilename, cch);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)cch - 1;
}

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
    const DWORD kKnown = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                         GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    if (phModule)
        *phModule = NULL;
    if (!phModule || (dwFlags & ~kKnown) ||
        ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) &&
         (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct link_map* lm = nullptr;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        Dl_info info;
        void* extra = nullptr;
        if (dladdr1(lpModuleName, &info, &extra, RTLD_DL_LINKMAP))
            lm = static_cast<struct link_map*>(extra);
    } else if (!lpModuleName) {
        lm = MainMap();
    } else {
        const std::string path = ModulePath(lpModuleName);
        const std::string want = path.substr(path.rfind('/') + 1);
        for (struct link_map* m = MainMap(); m && !lm; m = m->l_next) {
            const char* slash = m->l_name ? strrchr(m->l_name, '/') : nullptr;
            if (slash && strcasecmp(slash + 1, want.c_str()) == 0)
                lm = m;
        }
    }
    if (!lm) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) && lm->l_name && lm->l_name[0]) {
        const int pin = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) ? RTLD_NODELETE : 0;
        dlopen(lm->l_name, RTLD_LAZY | RTLD_NOLOAD | pin);
    }
    *phModule = reinterpret_cast<HMODULE>(lm);
    return TRUE;
}

int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    if (!lpBuffer || cchBufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    lpBuffer[0] = 0;
    struct link_map* lm = hInstance ? LoadedMap(hInstance) : MainMap();
    if (!lm) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    StringSearch search = {lm, uID, nullptr, 0};
    dl_iterate_phdr(FindString, &search);
    if (!search.text) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const size_t cch = search.cb < (size_t)cchBufferMax - 1 ? search.cb : (size_t)cchBufferMax - 1;
    memcpy(lpBuffer, search.text, cch);
    lpBuffer[cch] = 0;
    return (int)cch;
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE) {
    return TRUE;
}

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    if (!lpOutputString)
        return;
    DebugState& d = Debug();
    COMPAT_DEBUG_SINK sink;
    void* context;
    {
        std::lock_guard<std::mutex> g(d.lock);
        sink = d.sink;
        context = d.context;
    }
    if (sink) {
        sink(context, lpOutputString);
    } else if (DebugToStderr()) {
        fputs(lpOutputString, stderr);
    }
}

void CompatSetDebugOutputSink(COMPAT_DEBUG_SINK sink, void* context) {
    DebugState& d = Debug();
    std::lock_guard<std::mutex> g(d.lock);
    d.sink = sink;
    d.context = context;
}

void CompatSetMessageBoxHandler(COMPAT_MESSAGEBOX_HANDLER handler, void* context) {
    DebugState& d = Debug();
    std::lock_guard<std::mutex> g(d.lock);
    d.boxHandler = handler;
    d.boxContext = context;
}

// The only named object the system looks for is the debug-output listener's
// "DBWIN_BUFFER_READY". On Linux the listener is the debugger-output sink:
// the event "exists" exactly while a sink takes the text (a test's, or
// stderr). Every other name is unknown, as a name nobody created is on
// Windows.
HANDLE WINAPI OpenEventA(DWORD, BOOL, LPCSTR lpName) {
    if (lpName && strcmp(lpName, "DBWIN_BUFFER_READY") == 0) {
        DebugState& d = Debug();
        bool bListening;
        {
            std::lock_guard<std::mutex> g(d.lock);
            bListening = d.sink != nullptr;
        }
        if (bListening || DebugToStderr())
            return CreateEventA(NULL, FALSE, FALSE, NULL);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return NULL;
}

void CompatSetMessageBoxAnswer(int answer) {
    DebugState& d = Debug();
    std::lock_guard<std::mutex> g(d.lock);
    d.answer = answer;
}

int WINAPI MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT) {
    if (DebugToStderr())
        fprintf(stderr, "[MessageBox %s] %s\n", lpCaption ? lpCaption : "", lpText ? lpText : "");
    DebugState& d = Debug();
    int answer;
    COMPAT_MESSAGEBOX_HANDLER handler;
    void* context;
    {
        std::lock_guard<std::mutex> g(d.lock);
        answer = d.answer;
        handler = d.boxHandler;
        context = d.boxContext;
    }
    if (handler)
        return handler(context, lpText, lpCaption);
    return answer ? answer : PolicyAnswer();
}

void WINAPI DebugBreak(void) {
    raise(SIGTRAP);
}

BOOL WINAPI IsDebuggerPresent(void) {
    FILE* f = fopen("/proc/self/status", "re");
    if (!f)
        return FALSE;
    char line[256];
    BOOL traced = FALSE;
    while (fgets(line, sizeof(line), f)) {
        if (strncmp(line, "TracerPid:", 10) == 0) {
            traced = atoi(line + 10) != 0;
            break;
        }
    }
    fclose(f);
    return traced;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    if (hProcess != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Like Windows: no atexit handlers, no buffer flushing.
    _exit((int)uExitCode);
}

void WINAPI ExitProcess(UINT uExitCode) {
    exit((int)uExitCode);
}

}  // extern "C"
