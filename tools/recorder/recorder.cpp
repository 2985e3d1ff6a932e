// Grows a file at a steady rate, as a recorder does, holding it open for
// writing the whole time (C stdio append mode, which on Windows opens it
// with read and write sharing, so readers may open it meanwhile).
//
//   recorder <file> --seed N [--size BYTES] [--rate BYTES_PER_SECOND] [--chunk BYTES] [--hold MS]
//       appends seeded content (recorder/RecorderContent.h), continuing the
//       pattern at the file's current size, until the file holds --size bytes
//   recorder <file> --copy SOURCE [--rate ...] [--chunk ...] [--hold MS]
//       appends the source file's bytes
//
// Each chunk is flushed before the next is due, so readers see the file grow
// chunk by chunk. --rate 0 writes as fast as possible. --rate auto (with
// --copy of an MPEG program stream) writes at the stream's own rate: a chunk
// is due when the clock reference of the last pack header in it has come,
// counted from the first pack's (recorder/PackClock.h), so the copy takes
// as long as the stream plays, variable bit rate included, and needs nothing
// but the stream itself. --hold keeps the file open for a while after the
// last byte. --pause BYTES:MS stops writing for MS once BYTES have been
// written (the file stays open), as a recorder does that loses its signal;
// the pace afterwards is shifted by the pause. Exit code 0 on success, 2 for bad arguments (also --rate auto
// on a source without pack headers in its first chunk).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "PackClock.h"
#include "RecorderContent.h"

namespace {

struct Options {
    std::string file;
    std::string copyFrom;
    bool seeded = false;
    uint64_t seed = 0;
    uint64_t size = 0;
    double rate = 1 << 20;
    bool streamRate = false;  // --rate auto
    size_t chunk = 64 * 1024;
    unsigned holdMs = 0;
    uint64_t pauseAt = 0;  // --pause BYTES:MS
    unsigned pauseMs = 0;
};

int Usage() {
    fprintf(stderr,
            "usage: recorder <file> (--seed N --size BYTES | --copy SOURCE) [--rate BYTES_PER_SECOND] "
            "[--chunk BYTES] [--hold MS] [--pause BYTES:MS]\n"
            "       --rate auto: a copied MPEG program stream at its own rate\n");
    return 2;
}

bool Parse(int argc, char** argv, Options& o) {
    if (argc < 2)
        return false;
    o.file = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* v = argv[++i];
        if (a == "--seed") {
            o.seeded = true;
            o.seed = strtoull(v, nullptr, 0);
        } else if (a == "--size") {
            o.size = strtoull(v, nullptr, 0);
        } else if (a == "--copy") {
            o.copyFrom = v;
        } else if (a == "--rate") {
            o.streamRate = !strcmp(v, "auto");
            o.rate = o.streamRate ? 0 : strtod(v, nullptr);
        } else if (a == "--chunk") {
            o.chunk = (size_t)strtoull(v, nullptr, 0);
        } else if (a == "--hold") {
            o.holdMs = (unsigned)strtoul(v, nullptr, 0);
        } else if (a == "--pause") {
            char* end = nullptr;
            o.pauseAt = strtoull(v, &end, 0);
            if (!end || *end != ':')
                return false;
            o.pauseMs = (unsigned)strtoul(end + 1, nullptr, 0);
        } else {
            return false;
        }
    }
    return o.chunk > 0 && o.rate >= 0 && (o.seeded != !o.copyFrom.empty()) && (!o.streamRate || !o.seeded);
}

}  // namespace

// True if the source's first chunk holds a pack header to pace by.
bool StartsWithPacks(FILE* in, size_t chunk) {
    std::vector<uint8_t> head(chunk);
    const size_t n = fread(head.data(), 1, head.size(), in);
    recorder::PackClock clock;
    clock.Feed(head.data(), n);
    return clock.Packs() > 0 && fseek(in, 0, SEEK_SET) == 0;
}

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o))
        return Usage();

    FILE* out = fopen(o.file.c_str(), "ab");
    if (!out) {
        perror("recorder: open");
        return 1;
    }
    FILE* in = nullptr;
    if (!o.copyFrom.empty() && !(in = fopen(o.copyFrom.c_str(), "rb"))) {
        perror("recorder: open source");
        fclose(out);
        return 1;
    }
    if (o.streamRate && !StartsWithPacks(in, o.chunk)) {
        fprintf(stderr, "recorder: --rate auto: %s does not begin as an MPEG program stream\n",
                o.copyFrom.c_str());
        fclose(in);
        fclose(out);
        return 2;
    }
    recorder::PackClock clock;
    // 64-bit offsets: recordings pass 2 GiB, and long is 32 bits on Windows.
#ifdef _WIN32
    _fseeki64(out, 0, SEEK_END);
    uint64_t pos = (uint64_t)_ftelli64(out);
#else
    fseeko(out, 0, SEEK_END);
    uint64_t pos = (uint64_t)ftello(out);
#endif

    std::vector<uint8_t> buf(o.chunk);
    auto start = std::chrono::steady_clock::now();
    bool bPaused = false;
    uint64_t written = 0;
    int rc = 0;
    for (;;) {
        size_t n = o.chunk;
        if (o.seeded) {
            if (pos >= o.size)
                break;
            if (o.size - pos < n)
                n = (size_t)(o.size - pos);
            recorder::FillContent(o.seed, pos, buf.data(), n);
        } else {
            n = fread(buf.data(), 1, n, in);
            if (n == 0)
                break;
        }
        double dueSeconds = -1;
        if (o.streamRate) {
            // The stream's own rate: due when the last pack in it is.
            clock.Feed(buf.data(), n);
            dueSeconds = clock.Seconds();
        } else if (o.rate > 0) {
            // Steady rate: this chunk is due when the bytes before it have
            // had their time.
            dueSeconds = (double)written / o.rate;
        }
        if (dueSeconds > 0) {
            const auto due = start + std::chrono::duration<double>(dueSeconds);
            std::this_thread::sleep_until(
                std::chrono::time_point_cast<std::chrono::steady_clock::duration>(due));
        }
        if (fwrite(buf.data(), 1, n, out) != n || fflush(out) != 0) {
            perror("recorder: write");
            rc = 1;
            break;
        }
        pos += n;
        written += n;
        if (o.pauseMs && !bPaused && written >= o.pauseAt) {
            bPaused = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(o.pauseMs));
            start += std::chrono::milliseconds(o.pauseMs);
        }
    }
    if (o.holdMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(o.holdMs));
    if (in)
        fclose(in);
    if (fclose(out) != 0)
        rc = 1;
    return rc;
}
