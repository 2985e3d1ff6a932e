// Reads a file through the block cache so that a tracer can count the kernel
// calls of cache hits: lets the read-ahead thread cache the file's complete
// blocks after the first, then writes the marker "HITS" (a write to an
// invalid handle, which shows in a trace and nowhere else), reads cached
// blocks (with CachedRead and ReadCachedOnly), writes "MISS", reads the
// file's partial last block (which must go to the file), and writes "DONE".
// Usage: hitreads FILE
#include <windows.h>

#include <stdio.h>
#include <unistd.h>

#include <vector>

#include "DShowX/DSTrace.h"
#include "Reader/FileRead.h"

namespace {

void Marker(const char* text, size_t n) {
    if (write(-1, text, n) >= 0)
        fprintf(stderr, "marker written\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const DWORD kBlock = 0x60000;
    const LONG kPiece = 64 * 1024;
    CCachedReadFile file;
    if (FAILED(file.Init(kBlock, 0x1400000)) || FAILED(file.OpenFile(argv[1])))
        return 1;
    const LONGLONG llSize = file.GetFileSize();
    const LONGLONG llFull = llSize - llSize % kBlock;  // the cached part
    if (llFull < 2 * (LONGLONG)kBlock || llFull == llSize)
        return 2;
    std::vector<BYTE> buf(kPiece);
    LONG cb = 0;
    // A read of block 0 (served from the file) sends the read-ahead thread
    // over the complete blocks after it.
    file.CachedRead(0, kPiece, buf.data(), &cb);
    Sleep(300);  // the thread finishes and sleeps
    // The trace facility asks whether anyone listens at most every 250 ms:
    // let it ask now, before the measured reads.
    DSTraceRefreshListener();
    DSTrace(TRACE_APP1, 8, "before the hits\n");

    Marker("HITS", 4);
    LONGLONG pos = kBlock;
    for (int i = 0; i < 2000; ++i) {
        // Every other read asks for cached bytes only, as an asynchronous
        // request does: it must be served, and as cheaply.
        if (i % 2) {
            if (file.ReadCachedOnly(pos, kPiece, buf.data()) != S_OK)
                return 4;
        } else {
            file.CachedRead(pos, kPiece, buf.data(), &cb);
            if (cb != kPiece)
                return 3;
        }
        pos = kBlock + (pos + 7 * kPiece + 4321) % (llFull - kBlock - kPiece);
    }
    Marker("MISS", 4);
    file.CachedRead(llFull, kPiece, buf.data(), &cb);
    Marker("DONE", 4);
    return 0;
}
