// Holds a file open for reading for a while, as a second player, a
// thumbnailer or a virus scanner does, then exits. The share mode is the
// open's: r (read only, the plain open of most programs), rw, rd or rwd.
// Once the file is open, <file>.held is created, so a test knows.
// Usage: holdread <file> <milliseconds> <share>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: holdread <file> <milliseconds> <r|rw|rd|rwd>\n");
        return 2;
    }
    DWORD dwShare = 0;
    for (const char* p = argv[3]; *p; ++p)
        dwShare |= *p == 'r'   ? FILE_SHARE_READ
                   : *p == 'w' ? FILE_SHARE_WRITE
                   : *p == 'd' ? FILE_SHARE_DELETE
                               : 0;
    HANDLE h = CreateFileA(argv[1], GENERIC_READ, dwShare, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "holdread: CreateFile failed: %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    std::ofstream(std::string(argv[1]) + ".held").put('1');
    std::this_thread::sleep_for(std::chrono::milliseconds(atoi(argv[2])));
    CloseHandle(h);
    return 0;
}
