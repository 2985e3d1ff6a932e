// The recorder's pacing by the stream's own clock: pack headers read in any
// pieces, look-alikes passed over, clock jumps held, and the recorder
// process copying a stream in the time its packs say.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "TempDir.h"
#include "TestProcess.h"
#include "recorder/PackClock.h"

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

}  // namespace
