// Runs the diagnostics in a process of its own, for tests that need a fresh
// process or one that may end.
//   logprobe logobject        exit 0 when the log library was found, else 1
//   logprobe load <module>    loads and unloads a module (the component)
//   logprobe assert           fails an assertion, then prints "after assert"
// LOGSTUB_FILE is passed on to the stand-in log library through the
// environment.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "DShowX/DSTrace.h"

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "logobject") == 0) {
        ILogObject* pLog = NULL;
        return GetLogObject(&pLog) == S_OK && pLog ? 0 : 1;
    }
    if (argc >= 3 && strcmp(argv[1], "load") == 0) {
        HMODULE h = LoadLibraryA(argv[2]);
        if (!h)
            return 3;
        FreeLibrary(h);
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "assert") == 0) {
        ASSERT(!_T("logprobe"));
        printf("after assert\n");
        fflush(stdout);
        return 0;
    }
    fprintf(stderr, "usage: logprobe logobject | load <module> | assert\n");
    return 2;
}
