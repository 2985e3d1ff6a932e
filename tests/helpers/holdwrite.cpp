// Holds a file open for writing for a while, as a recorder does, then exits.
// Usage: holdwrite <file> <milliseconds>
// On Windows it is a Windows process, so Wine's sharing check sees it.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: holdwrite <file> <milliseconds>\n");
        return 2;
    }
    // A test that waits for this process probes the file with an open that
    // denies others write access; an open that meets the probe's handle is
    // refused with a sharing violation (EACCES) and tried again.
    FILE* f = fopen(argv[1], "ab");
    for (int i = 0; !f && errno == EACCES && i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        f = fopen(argv[1], "ab");
    }
    if (!f) {
        perror("holdwrite: fopen");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(atoi(argv[2])));
    fclose(f);
    return 0;
}
