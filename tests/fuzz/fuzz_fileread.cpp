// Fuzzes the block cache with operation sequences: reads at any position and
// length, growth of the file by any amount, closing and reopening. Every
// read must give the bytes, count and result of a plain positioned read.
#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "../unit/FileReadExpect.h"
#include "FileRead.h"
#include "recorder/RecorderContent.h"

namespace {

const DWORD kBlock = 4096;
const uint64_t kSeed = 99;

struct Fixture {
    Fixture() {
        namespace fs = std::filesystem;
        dir = fs::temp_directory_path() / ("orvex-fuzz-" + std::to_string(GetCurrentProcessId()));
        fs::create_directories(dir);
        path = (dir / "fuzz.bin").string();
        if (FAILED(file.Init(kBlock, 3 * kBlock)))
            __builtin_trap();
    }
    ~Fixture() {
        file.Uninit();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    // Rewrites the file with n content bytes (no handle of the cache open).
    void Reset(uint64_t n) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        Append(out, 0, n);
        size = n;
    }
    void Grow(uint64_t n) {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        Append(out, size, n);
        size += n;
    }
    static void Append(std::ofstream& out, uint64_t pos, uint64_t n) {
        std::string bytes(n, 0);
        recorder::FillContent(kSeed, pos, (uint8_t*)&bytes[0], n);
        out.write(bytes.data(), (std::streamsize)n);
    }

    std::filesystem::path dir;
    std::string path;
    uint64_t size = 0;
    CCachedReadFile file;
};

// Reads little-endian numbers off the input.
struct Input {
    const uint8_t* p;
    size_t n;
    uint32_t Take(int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes && n; ++i, ++p, --n)
            v |= (uint32_t)*p << (8 * i);
        return v;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture f;  // one cache and file for the whole run, removed at exit
    Input in = {data, size};

    f.file.CloseFile();
    f.Reset(in.Take(2) % (8 * kBlock));
    if (FAILED(f.file.OpenFile(f.path.c_str())))
        __builtin_trap();
    HANDLE hPlain = CreateFileA(f.path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    std::string buf;
    for (int ops = 0; in.n && ops < 64; ++ops) {
        const uint32_t what = in.Take(1) % 8;
        if (what == 0) {
            f.Grow(in.Take(2) % (3 * kBlock));
        } else if (what == 1) {
            f.file.CloseFile();
            if (FAILED(f.file.OpenFile(f.path.c_str())))
                __builtin_trap();
        } else {
            const LONGLONG pos = (LONGLONG)(in.Take(2) % (f.size + 2 * kBlock + 1));
            const LONG len = (LONG)(in.Take(2) % (4 * kBlock));
            const readertest::Expected e = readertest::PlainRead(hPlain, (LONGLONG)f.size, kBlock, pos, len);
            buf.assign((size_t)len + 1, '\xCD');
            LONG cb = -1;
            const HRESULT hr = f.file.CachedRead(pos, len, (BYTE*)&buf[0], &cb);
            if (hr != e.hr || cb != (LONG)e.bytes.size())
                __builtin_trap();
            if (cb && memcmp(e.bytes.data(), buf.data(), (size_t)cb) != 0)
                __builtin_trap();
            if (buf[(size_t)cb] != '\xCD')
                __builtin_trap();
        }
    }
    CloseHandle(hPlain);
    return 0;
}
