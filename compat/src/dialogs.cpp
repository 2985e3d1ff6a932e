// The common file-open dialog of the Linux build: answered from a policy set
// by tests (compat/compat.h), since there is no window system to show it.
#include <windows.h>
#include <commdlg.h>
#include <compat/compat.h>

#include <string.h>

#include <mutex>
#include <string>

namespace {

struct OpenFileState {
    std::mutex lock;  // guards every field
    bool bChoose = false;
    std::string answer;
    OPENFILENAMEA last = {};
    unsigned nCalls = 0;
};

OpenFileState& State() {
    static OpenFileState s;
    return s;
}

thread_local DWORD t_dwDialogError = 0;

}  // namespace

void CompatSetOpenFileNameAnswer(const char* path) {
    OpenFileState& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    s.bChoose = path != nullptr;
    s.answer = path ? path : "";
}

unsigned CompatLastOpenFileName(struct tagOFNA* pofn) {
    OpenFileState& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    if (pofn)
        *pofn = s.last;
    return s.nCalls;
}

BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA lpofn) {
    t_dwDialogError = 0;
    if (!lpofn || lpofn->lStructSize != sizeof(OPENFILENAMEA)) {
        t_dwDialogError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    if (!lpofn->lpstrFile) {
        t_dwDialogError = CDERR_INITIALIZATION;
        return FALSE;
    }
    bool bChoose;
    std::string answer;
    {
        OpenFileState& s = State();
        std::lock_guard<std::mutex> g(s.lock);
        s.last = *lpofn;
        ++s.nCalls;
        bChoose = s.bChoose;
        answer = s.answer;
    }
    if (!bChoose)
        return FALSE;
    if (answer.size() + 1 > lpofn->nMaxFile) {
        // The size it needs goes into the buffer's first two bytes.
        if (lpofn->nMaxFile >= 2) {
            const WORD cch = (WORD)(answer.size() + 1 > 0xFFFF ? 0xFFFF : answer.size() + 1);
            memcpy(lpofn->lpstrFile, &cch, sizeof(cch));
        }
        t_dwDialogError = FNERR_BUFFERTOOSMALL;
        return FALSE;
    }
    memcpy(lpofn->lpstrFile, answer.c_str(), answer.size() + 1);
    // On Linux only a slash separates directories; a backslash belongs to the name.
    const size_t slash = answer.rfind('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = answer.rfind('.');
    lpofn->nFileOffset = (WORD)name;
    lpofn->nFileExtension = (WORD)(dot != std::string::npos && dot >= name ? dot + 1 : 0);
    return TRUE;
}

DWORD WINAPI CommDlgExtendedError(void) {
    return t_dwDialogError;
}
