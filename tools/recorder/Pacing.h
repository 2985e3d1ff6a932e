// When the recorder writes what: the schedule of its writes, closes and
// pauses, apart from the file itself so that it can be checked alone.
//
// Recorders in the field write in more ways than one steady stream:
//  - steadily: each piece is due when the bytes before it have had their
//    time at the rate (or, copying a program stream at its own rate, when
//    its last pack's clock has come);
//  - in bursts: every T seconds the T seconds of stream that have come are
//    written at once (a recorder that buffers), so a piece is due at the
//    start of its burst and a burst's bytes go out back to back;
//  - closing the file after every N bytes for G ms and opening it again to
//    append (a recorder that writes chunk files into one, or writes through
//    a network share); the closed time does not move the schedule, so a
//    close longer than the time between chunks makes the writes late, and
//    they catch up at once;
//  - pausing at given positions with the file open (a lost signal); a pause
//    moves the rest of the schedule back by its length.
// A write never crosses a close or a pause position, nor, at a byte rate, a
// burst's end, so each happens exactly at its byte (at the stream's own rate
// a burst ends at a pack's clock, which the writes follow piece by piece).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace recorder {

struct PausePoint {
    uint64_t at;  // bytes written before it
    unsigned ms;
};

struct PaceOptions {
    double rate = 1 << 20;    // bytes per second; 0: as fast as possible
    bool streamRate = false;  // due times come from the stream's own clock
    double burst = 0;         // seconds of stream per burst; 0: steady
    uint64_t closeEvery = 0;  // 0: the file stays open
    unsigned closeForMs = 0;
    std::vector<PausePoint> pauses;
};

class Pacer {
public:
    explicit Pacer(const PaceOptions& o) : m_o(o) {
        std::stable_sort(m_o.pauses.begin(), m_o.pauses.end(),
                         [](const PausePoint& a, const PausePoint& b) { return a.at < b.at; });
        if (m_o.burst > 0 && m_o.rate > 0 && !m_o.streamRate)
            m_burstBytes = std::max<uint64_t>(1, (uint64_t)std::llround(m_o.rate * m_o.burst));
    }

    // How many of the next `chunk` bytes, from `written` on, one write
    // takes: it ends at the next burst's start, close or pause position.
    size_t Piece(uint64_t written, size_t chunk) const {
        uint64_t end = written + chunk;
        if (m_burstBytes)
            end = std::min(end, (written / m_burstBytes + 1) * m_burstBytes);
        if (m_o.closeEvery)
            end = std::min(end, (written / m_o.closeEvery + 1) * m_o.closeEvery);
        for (const PausePoint& p : m_o.pauses)
            if (p.at > written) {
                end = std::min(end, p.at);
                break;
            }
        return (size_t)(end - written);
    }

    // When the write of the bytes from `written` on is due, in seconds from
    // the schedule's start; streamSeconds is the stream's clock at the end
    // of those bytes (--rate auto). Negative: at once.
    double Due(uint64_t written, double streamSeconds) const {
        if (m_burstBytes)
            return (double)(written / m_burstBytes) * m_o.burst;
        if (m_o.streamRate)
            return m_o.burst > 0 ? std::floor(streamSeconds / m_o.burst) * m_o.burst : streamSeconds;
        return m_o.rate > 0 ? (double)written / m_o.rate : -1;
    }

    // Whether the file is closed, for closeForMs, after a write that brought
    // the count to `written` (when more is to come).
    bool ClosesAfter(uint64_t written) const {
        return m_o.closeEvery && written > 0 && written % m_o.closeEvery == 0;
    }

    // After a write that brought the count to `written`: how long to pause
    // now (each pause once, those passed together).
    unsigned PauseAfter(uint64_t written) {
        unsigned ms = 0;
        while (m_nextPause < m_o.pauses.size() && m_o.pauses[m_nextPause].at <= written)
            ms += m_o.pauses[m_nextPause++].ms;
        return ms;
    }

private:
    PaceOptions m_o;
    uint64_t m_burstBytes = 0;  // bytes per burst at a given rate; 0: no bursts, or by the stream's clock
    size_t m_nextPause = 0;
};

}  // namespace recorder
