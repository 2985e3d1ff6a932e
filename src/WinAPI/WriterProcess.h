#pragma once
#include <windows.h>
inline bool HasWriterProcessExited(LPCSTR) { return false; }
