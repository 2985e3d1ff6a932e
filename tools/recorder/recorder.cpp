// Grows a file as a recorder does: at a steady rate, in bursts, with pauses,
// or closing it between chunks.
//
//   recorder <file> --seed N [--size BYTES] [options]
//       appends seeded content (recorder/RecorderContent.h), continuing the
//       pattern at the file's current size, until the file holds --size bytes
//   recorder <file> --copy SOURCE [options]
//       appends the source file's bytes
//
// Options (recorder/Pacing.h has the schedule they make):
//   --rate BYTES_PER_SECOND   the average rate (default 1 MiB/s); 0 writes as
//                             fast as possible; auto (with --copy of an MPEG
//                             program stream) the stream's own rate: a chunk
//                             is due when the clock reference of the last
//                             pack header in it has come, counted from the
//                             first pack's (recorder/PackClock.h), variable
//                             bit rate included
//   --chunk BYTES             the size of one write (default 64 KiB)
//   --burst SECONDS           every SECONDS, the stream of that time written
//                             at once
//   --close-every BYTES       close the file after every BYTES written ...
//   --close-for MS            ... for MS (default 0), then open it again to
//                             append; a reopen the system refuses with a
//                             sharing violation (a reader holds the file
//                             refusing writers) is tried again a millisecond
//                             later, and the refused ones are counted:
//                             "recorder: reopens refused: K of N" at the end
//   --pause BYTES:MS          stop writing for MS once BYTES have been
//                             written, the file open (a lost signal; at 0,
//                             before the first byte); the schedule after it
//                             moves back by the pause; may be given more
//                             than once
//   --truncate                start from an empty file: it is created or cut
//                             to 0 bytes before the first write, so a reader
//                             may load it while it is empty
//   --hold MS                 keep the file open for MS after the last byte
//
// Each write reaches the file before the next is due (no buffering), so
// readers see the file grow write by write. On Windows the file is opened
// with read and write sharing, as the C run-time's append mode opens it, so
// readers may open it meanwhile. Exit code 0 on success, 1 when the file
// cannot be opened or written, 2 for bad arguments (also --rate auto on a
// source without pack headers in its first chunk).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "AppendFile.h"
#include "PackClock.h"
#include "Pacing.h"
#include "RecorderContent.h"

namespace {

using Clock = std::chrono::steady_clock;

// A reopen refused for a sharing violation is tried again this often, for
// this long at most.
constexpr auto kRetryEvery = std::chrono::milliseconds(1);
constexpr auto kRetryFor = std::chrono::seconds(30);

struct Options {
    std::string file;
    std::string copyFrom;
    bool seeded = false;
    uint64_t seed = 0;
    uint64_t size = 0;
    size_t chunk = 64 * 1024;
    unsigned holdMs = 0;
    bool truncate = false;
    recorder::PaceOptions pace;
};

int Usage() {
    fprintf(stderr,
            "usage: recorder <file> (--seed N --size BYTES | --copy SOURCE) [--rate BYTES_PER_SECOND|auto]\n"
            "       [--chunk BYTES] [--burst SECONDS] [--close-every BYTES [--close-for MS]]\n"
            "       [--pause BYTES:MS]... [--truncate] [--hold MS]\n"
            "       --rate auto: a copied MPEG program stream at its own rate\n");
    return 2;
}

bool Parse(int argc, char** argv, Options& o) {
    if (argc < 2)
        return false;
    o.file = argv[1];
    recorder::PaceOptions& pace = o.pace;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--truncate") {
            o.truncate = true;
            continue;
        }
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
            pace.streamRate = !strcmp(v, "auto");
            pace.rate = pace.streamRate ? 0 : strtod(v, nullptr);
        } else if (a == "--chunk") {
            o.chunk = (size_t)strtoull(v, nullptr, 0);
        } else if (a == "--hold") {
            o.holdMs = (unsigned)strtoul(v, nullptr, 0);
        } else if (a == "--burst") {
            pace.burst = strtod(v, nullptr);
            if (!(pace.burst > 0))
                return false;
        } else if (a == "--close-every") {
            pace.closeEvery = strtoull(v, nullptr, 0);
        } else if (a == "--close-for") {
            pace.closeForMs = (unsigned)strtoul(v, nullptr, 0);
        } else if (a == "--pause") {
            char* end = nullptr;
            recorder::PausePoint p;
            p.at = strtoull(v, &end, 0);
            if (!end || *end != ':')
                return false;
            p.ms = (unsigned)strtoul(end + 1, nullptr, 0);
            pace.pauses.push_back(p);
        } else {
            return false;
        }
    }
    // Bursts need a pace to gather the stream by.
    return o.chunk > 0 && pace.rate >= 0 && (o.seeded != !o.copyFrom.empty()) &&
           (!pace.streamRate || !o.seeded) && (pace.burst == 0 || pace.rate > 0 || pace.streamRate);
}

// True if the source's first chunk holds a pack header to pace by.
bool StartsWithPacks(FILE* in, size_t chunk) {
    std::vector<uint8_t> head(chunk);
    const size_t n = fread(head.data(), 1, head.size(), in);
    recorder::PackClock clock;
    clock.Feed(head.data(), n);
    return clock.Packs() > 0 && fseek(in, 0, SEEK_SET) == 0;
}

// Opens the file, trying again while the system refuses it for another's
// share mode. *pbRefused tells whether it did at least once.
bool OpenRetrying(recorder::AppendFile& out, const char* path, bool bEmpty, bool* pbRefused) {
    *pbRefused = false;
    const auto giveUp = Clock::now() + kRetryFor;
    for (;;) {
        const recorder::OpenResult r = out.Open(path, bEmpty);
        if (r == recorder::OpenResult::kOpen)
            return true;
        if (r == recorder::OpenResult::kFailed)
            return false;
        *pbRefused = true;
        if (Clock::now() > giveUp) {
            fprintf(stderr, "recorder: %s: refused for a sharing violation for %lld s\n", path,
                    (long long)std::chrono::duration_cast<std::chrono::seconds>(kRetryFor).count());
            return false;
        }
        std::this_thread::sleep_for(kRetryEvery);
    }
}

// The next piece of the content: seeded bytes at pos, or the source's next
// bytes. 0 at the end.
size_t NextPiece(const Options& o, FILE* in, uint64_t pos, uint8_t* buf, size_t n) {
    if (o.seeded) {
        if (pos >= o.size)
            return 0;
        if (o.size - pos < n)
            n = (size_t)(o.size - pos);
        recorder::FillContent(o.seed, pos, buf, n);
        return n;
    }
    return fread(buf, 1, n, in);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o))
        return Usage();

    recorder::AppendFile out;
    bool bRefused = false;
    if (!OpenRetrying(out, o.file.c_str(), o.truncate, &bRefused))
        return 1;
    FILE* in = nullptr;
    if (!o.copyFrom.empty() && !(in = fopen(o.copyFrom.c_str(), "rb"))) {
        perror("recorder: open source");
        return 1;
    }
    if (o.pace.streamRate && !StartsWithPacks(in, o.chunk)) {
        fprintf(stderr, "recorder: --rate auto: %s does not begin as an MPEG program stream\n",
                o.copyFrom.c_str());
        fclose(in);
        return 2;
    }
    recorder::PackClock clock;
    recorder::Pacer pacer(o.pace);
    uint64_t pos = out.Size();

    std::vector<uint8_t> buf(o.chunk);
    auto start = Clock::now();
    // A pause moves the rest of the schedule back by its length.
    auto pauseAfter = [&](uint64_t at) {
        if (const unsigned pauseMs = pacer.PauseAfter(at)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            start += std::chrono::milliseconds(pauseMs);
        }
    };
    // A pause at byte 0 comes before the first write: with --truncate the
    // file stays empty meanwhile.
    pauseAfter(0);
    uint64_t written = 0;
    unsigned reopens = 0, refusedReopens = 0;
    bool bClosePending = false;  // the file closes before the next write
    int rc = 0;
    for (;;) {
        const size_t n = NextPiece(o, in, pos, buf.data(), pacer.Piece(written, o.chunk));
        if (n == 0)
            break;
        if (bClosePending) {
            bClosePending = false;
            if (!out.Close()) {
                rc = 1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(o.pace.closeForMs));
            ++reopens;
            if (!OpenRetrying(out, o.file.c_str(), false, &bRefused)) {
                rc = 1;
                break;
            }
            refusedReopens += bRefused;
        }
        double streamSeconds = 0;
        if (o.pace.streamRate) {
            clock.Feed(buf.data(), n);
            streamSeconds = clock.Seconds();
        }
        const double dueSeconds = pacer.Due(written, streamSeconds);
        if (dueSeconds > 0)
            std::this_thread::sleep_until(std::chrono::time_point_cast<Clock::duration>(
                start + std::chrono::duration<double>(dueSeconds)));
        if (!out.Write(buf.data(), n)) {
            rc = 1;
            break;
        }
        pos += n;
        written += n;
        pauseAfter(written);
        bClosePending = pacer.ClosesAfter(written);
    }
    if (o.holdMs && rc == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(o.holdMs));
    if (in)
        fclose(in);
    if (!out.Close())
        rc = 1;
    if (o.pace.closeEvery) {
        printf("recorder: reopens refused: %u of %u\n", refusedReopens, reopens);
        fflush(stdout);
    }
    return rc;
}
