// The writer's process on Linux: asked of the platform layer's writer probe.
#include "WinAPI/WriterProcess.h"

#include <compat/compat.h>

bool HasWriterProcessExited(LPCSTR pszFileName) {
    return pszFileName && CompatWriterProcessExited(pszFileName) != FALSE;
}
