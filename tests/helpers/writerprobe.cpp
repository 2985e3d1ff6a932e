// Asks the writer probe about one file, as the read path does, on request:
// each line "probe" on stdin is answered on stdout with the error code of an
// open for writing without write sharing (0 when it opened); "idle MS" sets
// the probe's idle time. Tests run it as another user.
// Usage: writerprobe <file>
#include <windows.h>
#include <compat/compat.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: writerprobe <file>\n");
        return 2;
    }
    char line[64];
    while (fgets(line, sizeof(line), stdin)) {
        if (strncmp(line, "idle ", 5) == 0) {
            CompatSetWriterIdleTime((DWORD)strtoul(line + 5, nullptr, 10));
            printf("ok\n");
        } else {
            HANDLE h = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
            DWORD dw = ERROR_SUCCESS;
            if (h == INVALID_HANDLE_VALUE)
                dw = GetLastError();
            else
                CloseHandle(h);
            printf("%lu\n", (unsigned long)dw);
        }
        fflush(stdout);
    }
    return 0;
}
