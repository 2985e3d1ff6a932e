// The recorder's pacing: by the stream's own clock (pack headers read in any
// pieces, look-alikes passed over, clock jumps held, and the recorder
// process copying a stream in the time its packs say), and the schedule of
// its ways of writing: closes after every N bytes, bursts, pauses.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "TempDir.h"
#include "TestProcess.h"
#include "recorder/PackClock.h"
#include "recorder/Pacing.h"

using recorder::PaceOptions;
using recorder::Pacer;
using recorder::PackClock;

namespace {

// One pack: its header (MPEG-2 or MPEG-1 form) with the SCR in 90 kHz
// units, then a padding packet of `payload` bytes.
std::string Pack(uint64_t scr, size_t payload = 100, bool mpeg2 = true) {
    std::string p("\x00\x00\x01\xBA", 4);
    if (mpeg2) {
        p += (char)(0x44 | ((scr >> 30) & 7) << 3 | ((scr >> 28) & 3));
        p += (char)(scr >> 20);
        p += (char)(((scr >> 15) & 0x1F) << 3 | 0x04 | ((scr >> 13) & 3));
        p += (char)(scr >> 5);
        p += (char)((scr & 0x1F) << 3 | 0x04);
        p += "\x01\x01\x89\xC3\xF8";  // SCR extension 0, mux rate, no stuffing
    } else {
        p += (char)(0x21 | ((scr >> 30) & 7) << 1);
        p += (char)(scr >> 22);
        p += (char)(((scr >> 15) & 0x7F) << 1 | 1);
        p += (char)(scr >> 7);
        p += (char)((scr & 0x7F) << 1 | 1);
        p += "\x80\x1B\x83";  // mux rate
    }
    p += std::string("\x00\x00\x01\xBE", 4);
    p += (char)(payload >> 8);
    p += (char)payload;
    p += std::string(payload, '\xFF');
    return p;
}

double ClockAfter(const std::string& stream, size_t piece) {
    PackClock clock;
    for (size_t i = 0; i < stream.size(); i += piece)
        clock.Feed((const uint8_t*)stream.data() + i, std::min(piece, stream.size() - i));
    // The last header is read once the bytes after it have come.
    clock.Feed((const uint8_t*)std::string(PackClock::kHeaderBytes, '\xFF').data(), PackClock::kHeaderBytes);
    return clock.Seconds();
}

TEST(RecorderPacingTest, ClockFollowsPackHeadersInAnyPieces) {
    // 33-bit values exercise every field of both header forms.
    const uint64_t big = 0x1ABCDEF01ull;
    for (bool mpeg2 : {true, false}) {
        uint64_t scr = 0;
        ASSERT_TRUE(PackClock::ParseScr((const uint8_t*)Pack(big, 0, mpeg2).data(), scr));
        EXPECT_EQ(big, scr) << "mpeg2 " << mpeg2;
    }
    const std::string stream =
        Pack(big) + Pack(big + 45000, 3000) + Pack(big + 90000, 0, false) + Pack(big + 180000);
    for (size_t piece : {1, 7, 13, 4096})
        EXPECT_DOUBLE_EQ(2.0, ClockAfter(stream, piece)) << "pieces of " << piece;
}

TEST(RecorderPacingTest, LookAlikesAndJumpsDoNotMoveTheClock) {
    // A start code with a marker bit clear in the payload is no header.
    std::string fake = Pack(9000000);
    fake[12] = 0;
    // Backwards (a wrap) and a leap of a minute: the clock carries on.
    const std::string stream = Pack(90000) + fake.substr(0, 20) + Pack(135000) + Pack(0) + Pack(45000) +
                               Pack(45000 + 60 * 90000) + Pack(45000 + 61 * 90000);
    EXPECT_DOUBLE_EQ(2.0, ClockAfter(stream, 5));
}

TEST(RecorderPacingTest, CopiesAStreamInItsPlayingTime) {
    testsupport::TempDir dir;
    std::string stream;
    for (int i = 0; i <= 8; ++i)
        stream += Pack(1000000 + i * 9000, 20000);  // 0.8 s, 180 KB
    const std::string source = dir.Write("source.mpg", stream);
    const std::string copy = dir.File("copy.mpg");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, testsupport::RunProcess({testsupport::HelperPath("recorder"), copy, "--copy", source,
                                          "--rate", "auto", "--chunk", "4096"}));
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(took, 0.75);
    EXPECT_LT(took, 10.0);
    EXPECT_EQ(stream, testsupport::ReadWholeFile(copy));

    // Not a program stream: refused before anything is written.
    const std::string other = dir.Write("other.bin", std::string(50000, 'x'));
    EXPECT_EQ(2, testsupport::RunProcess({testsupport::HelperPath("recorder"), dir.File("no.mpg"), "--copy",
                                          other, "--rate", "auto"}));
    EXPECT_EQ("", testsupport::ReadWholeFile(dir.File("no.mpg")));
}

// One write of a schedule: where it starts, its bytes, when it is due, and
// what follows it.
struct Write {
    uint64_t at;
    size_t n;
    double due;
    bool close;
    unsigned pauseMs;
    bool operator==(const Write& o) const {
        return at == o.at && n == o.n && due == o.due && close == o.close && pauseMs == o.pauseMs;
    }
};

std::ostream& operator<<(std::ostream& os, const Write& w) {
    return os << "{" << w.at << " +" << w.n << " due " << w.due << (w.close ? " close" : "") << " pause "
              << w.pauseMs << "}";
}

// The writes of `total` bytes in chunks, as the recorder's loop makes them
// (a close follows a write only when more is to come).
std::vector<Write> Schedule(const PaceOptions& o, uint64_t total, size_t chunk) {
    Pacer pacer(o);
    std::vector<Write> writes;
    for (uint64_t at = 0; at < total;) {
        const size_t n = (size_t)std::min<uint64_t>(pacer.Piece(at, chunk), total - at);
        const double due = pacer.Due(at, -1);
        at += n;
        const unsigned pauseMs = pacer.PauseAfter(at);
        writes.push_back({at - n, n, due, at < total && pacer.ClosesAfter(at), pauseMs});
    }
    return writes;
}

TEST(RecorderPacingTest, ClosesComeAfterEveryNBytesAndTheScheduleKeepsItsPace) {
    PaceOptions o;
    o.rate = 1000;
    o.closeEvery = 500;
    o.closeForMs = 1300;
    const std::vector<Write> expected = {{0, 300, 0.0, false, 0},    {300, 200, 0.3, true, 0},
                                         {500, 300, 0.5, false, 0},  {800, 200, 0.8, true, 0},
                                         {1000, 300, 1.0, false, 0}, {1300, 200, 1.3, false, 0}};
    EXPECT_EQ(expected, Schedule(o, 1500, 300));
}

TEST(RecorderPacingTest, BurstsWriteTheirSecondsOfStreamAtOnce) {
    PaceOptions o;
    o.rate = 1000;
    o.burst = 0.5;  // 500 bytes a burst
    const std::vector<Write> expected = {{0, 300, 0.0, false, 0},
                                         {300, 200, 0.0, false, 0},
                                         {500, 300, 0.5, false, 0},
                                         {800, 200, 0.5, false, 0},
                                         {1000, 300, 1.0, false, 0}};
    EXPECT_EQ(expected, Schedule(o, 1300, 300));

    // By the stream's own clock: a write goes with the burst its last pack
    // falls in.
    o.rate = 0;
    o.streamRate = true;
    Pacer pacer(o);
    EXPECT_DOUBLE_EQ(1.0, pacer.Due(0, 1.3));
    EXPECT_DOUBLE_EQ(1.5, pacer.Due(0, 1.5));
}

TEST(RecorderPacingTest, PausesComeOnceEachAtTheirByte) {
    PaceOptions o;
    o.rate = 0;
    o.pauses = {{700, 200}, {200, 100}, {700, 50}};
    const std::vector<Write> expected = {{0, 200, -1, false, 100},
                                         {200, 400, -1, false, 0},
                                         {600, 100, -1, false, 250},
                                         {700, 300, -1, false, 0}};
    EXPECT_EQ(expected, Schedule(o, 1000, 400));

    // At byte 0: before the first write.
    o.pauses = {{0, 300}};
    Pacer pacer(o);
    EXPECT_EQ(400u, pacer.Piece(0, 400));
    EXPECT_EQ(300u, pacer.PauseAfter(0));
    EXPECT_EQ(0u, pacer.PauseAfter(400));
}

}  // namespace
