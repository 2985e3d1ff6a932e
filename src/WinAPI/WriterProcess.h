// Whether the process that wrote a file has ended: where a writer's process
// can be seen (Linux: the platform layer's writer probe found it among the
// processes it may inspect), a writer whose process has exited ends the
// recording at once, while one that closed its file and lives on may open
// it again. Windows does not tell which process holds a file: there the
// answer is always false. Sources: WriterProcess_posix.cpp, WriterProcess_win.cpp.
#pragma once

#include <windows.h>

// True only when the last writer seen for the file was a process that has
// ended since, and no writer is seen now; false when no writer was ever
// seen, when it runs still, or when it cannot be told.
bool HasWriterProcessExited(LPCSTR pszFileName);
