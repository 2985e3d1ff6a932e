// CWriterVerdict: whether a recording is still being written, from what is
// seen of its writer over time. Recorders close their file between chunks
// and open it again (every few seconds, or because they write through a
// network share), so a probe that finds no writer does not end a recording
// at once: the grace after the last sighting learns the recorder's rhythm.
//
//   A writer is seen when the probe meets one, and whenever the file has
//   grown since the last measurement (a file that grows has a writer).
//   The grace after the last sighting is WRITER_GRACE_TIME until the writer
//   has come back after a gap; from then on twice the longest such gap
//   (within WRITER_GRACE_TIME and WRITER_MAX_GRACE_TIME). A first close that
//   comes less than WRITER_RECENT_GROWTH_TIME after the file last grew gets
//   WRITER_FIRST_GAP_GRACE_TIME. A writer whose process has exited (where
//   that can be seen) ends the recording at once.
//   The probe is needed only when the file has not grown within the last
//   poll, and is made at most once a poll.
//
// Pure state over the tick counts it is given: no lock of its own, no kernel
// call. Its owner (CRecording) calls it under its own lock.
#pragma once

#include <windows.h>

class CWriterVerdict {
public:
    CWriterVerdict();

    // The first look: the probe's answer, the size, and how long ago the file
    // last changed (INFINITE when not known). A file that changed very
    // recently counts as written even when the probe meets no writer: its
    // recorder may be between two chunks.
    void Start(DWORD dwNow, bool bWriterSeen, LONGLONG llSize, DWORD dwSinceChange);
    // A measurement of the file. Growth is a sighting of the writer; a
    // smaller size (a file cut and written again) is the new base.
    void OnSize(DWORD dwNow, LONGLONG llSize);
    // Whether a probe is due (no growth within the last poll, and no probe
    // within it either), and when it is, the probe is taken by the caller:
    // others asking within the poll get false.
    bool ClaimProbe(DWORD dwNow);
    // The probe's answer: a writer met, or none (and then whether the
    // process seen writing before has exited).
    void OnProbe(DWORD dwNow, bool bWriterSeen, bool bWriterExited);
    // True once no writer has been seen for the grace, or at once when its
    // process has exited. *pdwNextLook (optional) gets when to look again:
    // GROWTH_POLL_TIME, or the grace left when that is shorter.
    bool HasEnded(DWORD dwNow, DWORD* pdwNextLook = NULL) const;
    // No writer has been seen since the last probe that met none: the
    // recorder is between two chunks, or has finished.
    bool IsAway() const { return m_bGap; }
    // The grace a close is given now (ms).
    DWORD Grace() const;
    // A finished recording that grows again is being written again.
    void Restart(DWORD dwNow, LONGLONG llSize);

private:
    bool NeedsProbe(DWORD dwNow) const;
    void Seen(DWORD dwNow);

    DWORD m_dwSeen;        // the last sighting of a writer
    DWORD m_dwGrew;        // the last growth seen (valid with m_bGrew)
    bool m_bGrew;          // growth (or a recent change) was ever seen
    bool m_bSeenEver;      // a writer was ever seen (m_dwSeen is valid)
    LONGLONG m_llSize;     // the size growth is measured from
    bool m_bGap;           // a probe met no writer since the last sighting
    DWORD m_dwGapStart;    // the sighting before that answer
    bool m_bExited;        // ... and the writer's process had exited
    bool m_bReturned;      // a writer came back after a gap
    DWORD m_dwLongestGap;  // the longest gap it came back after
    DWORD m_dwProbed;      // the last probe (valid with m_bProbed)
    bool m_bProbed;
};
