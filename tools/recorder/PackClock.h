// The clock of an MPEG program stream, read from its pack headers as the
// bytes pass: each pack header carries the system clock reference (SCR), the
// time at which the pack's first byte is due at the decoder. A recorder that
// writes every pack when its SCR has come writes the stream at its own rate,
// as it arrived, variable bit rate included. (The header's mux rate is only
// an upper bound: ffmpeg writes tens of MB/s there.)
//
// Both pack header forms are read: MPEG-2 ('01' after the start code) and
// MPEG-1 ('0010'). A candidate start code counts only with all its marker
// bits set, so payload bytes that happen to look like one are passed over.
// A clock that jumps back (a wrap, a spliced recording) or more than
// kMaxStep forward is taken to continue where it was.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "MpegPack.h"

namespace recorder {

class PackClock {
public:
    static constexpr size_t kHeaderBytes = MPEG2_PACK_CHECKED_SIZE;  // start code to the end of the mux rate
    static constexpr double kMaxStep = 5.0;                          // seconds between two packs

    // Reads the SCR (90 kHz units) of a pack header at p, which holds at
    // least kHeaderBytes bytes. False if p holds no valid pack header.
    static bool ParseScr(const uint8_t* p, uint64_t& scr) {
        if (!IsPackStartCode(p))
            return false;
        if (HasMpeg2PackMarkers(p)) {
            scr = (uint64_t)((p[4] >> 3) & 7) << 30 | (uint64_t)(p[4] & 3) << 28 | (uint64_t)p[5] << 20 |
                  (uint64_t)(p[6] >> 3) << 15 | (uint64_t)(p[6] & 3) << 13 | (uint64_t)p[7] << 5 |
                  (p[8] >> 3);
            return true;
        }
        if ((p[4] & 0xF1) == 0x21 && (p[6] & 0x01) && (p[8] & 0x01) && (p[9] & 0x80) && (p[11] & 0x01)) {
            scr = (uint64_t)((p[4] >> 1) & 7) << 30 | (uint64_t)p[5] << 22 | (uint64_t)(p[6] >> 1) << 15 |
                  (uint64_t)p[7] << 7 | (p[8] >> 1);
            return true;
        }
        return false;
    }

    // The next bytes of the stream, in any pieces.
    void Feed(const uint8_t* data, size_t n) {
        m_pending.insert(m_pending.end(), data, data + n);
        if (m_pending.size() < kHeaderBytes)
            return;
        const size_t last = m_pending.size() - kHeaderBytes;
        for (size_t i = 0; i <= last; ++i) {
            uint64_t scr;
            if (m_pending[i] == 0 && ParseScr(&m_pending[i], scr))
                Tick(scr);
        }
        // Keep the bytes whose header, if any, is not complete yet.
        m_pending.erase(m_pending.begin(), m_pending.begin() + (ptrdiff_t)(last + 1));
    }

    size_t Packs() const { return m_packs; }
    // Seconds from the first pack header to the latest one fed.
    double Seconds() const { return m_seconds; }

private:
    void Tick(uint64_t scr) {
        if (m_packs++ > 0) {
            const double step = ((double)scr - (double)m_lastScr) / 90000.0;
            if (step > 0 && step <= kMaxStep)
                m_seconds += step;
        }
        m_lastScr = scr;
    }

    std::vector<uint8_t> m_pending;
    size_t m_packs = 0;
    uint64_t m_lastScr = 0;
    double m_seconds = 0;
};

}  // namespace recorder
