// CReadGate: keeps reads away from a file while its owner swaps it (closes
// the open file and opens another), and tells a read that began on one file
// that the file has changed, so that it never copies from the next one.
//
// ---- Who is inside
// A read is "inside" while it uses the file (measures it, copies from it)
// and counted in m_nActive; while it waits for the file to grow it steps
// out. Each swap advances the generation: a read notes it when it enters
// and, coming back from a wait, re-enters only for the generation it noted.
//   Enter   a new read or query: waits while the gate is closed (or fails at
//           once when asked not to wait), counts itself, notes the
//           generation.
//   Reenter a read that stepped out: fails at once when the generation has
//           moved on, else counts itself again.
//   Leave   uncounts; the last read to leave a closing gate sets m_shIdle.
//   Close   the swap begins: no new read enters, the generation advances,
//           and the caller waits on m_shIdle until no read is inside. Reads
//           that stepped out are not waited for: their Reenter fails.
//   Open    the swap ends, with or without a file open: m_shOpen is set.
// So a swap waits only for reads that are measuring or copying, and a read
// waits for a swap only during its closed phase.
//
// ---- Lock
// m_cs guards m_nActive, m_bClosing, m_bFileOpen and m_lGeneration, and is
// held only to read or change them, never across a wait, a trace or a call
// out. The owner may put its own fields that change with the file under it
// too (see CoFileSourceOutput.h); it is a leaf: nothing is taken after it.
//
// ---- Threads and who wakes them
//   Reads blocked in Enter wait on m_shOpen (manual reset, set exactly while
//   m_bClosing is clear: both change under m_cs, so no wake-up is lost),
//   set by Open.
//   Close waits on m_shIdle (manual reset), set by the last read to leave a
//   closing gate.
#pragma once

#include <windows.h>

#include "WinAPI/CriticalSection.h"
#include "WinAPI/Wrappers.h"

class CReadGate {
public:
    CReadGate();
    ~CReadGate();
    CReadGate(const CReadGate&) = delete;
    CReadGate& operator=(const CReadGate&) = delete;

    // Creates the two events: open, no read inside, no file. The system error
    // as an HRESULT when they cannot be had.
    HRESULT Init();

    bool Enter(LONG* plGeneration, bool bWait = true) EXCLUDES(m_cs);
    bool Reenter(LONG lGeneration) EXCLUDES(m_cs);
    void Leave() EXCLUDES(m_cs);
    void Close() EXCLUDES(m_cs);
    void Open(bool bFileOpen) EXCLUDES(m_cs);

    // The generation, and whether a file is open and no swap is under way.
    LONG GenerationLocked() const REQUIRES(m_cs) { return m_lGeneration; }
    bool IsFileOpenLocked() const REQUIRES(m_cs) { return m_bFileOpen; }
    bool IsOpenLocked() const REQUIRES(m_cs) { return m_bFileOpen && !m_bClosing; }
    // No read inside (the owner's destructor checks it).
    bool IsIdle() EXCLUDES(m_cs);

    // A read's place inside the gate, for a scope: entered by the
    // constructor (waiting while the gate is closed, or not at all without
    // bWait), left by the destructor unless the read has stepped out.
    class CEntry {
    public:
        explicit CEntry(CReadGate& gate, bool bWait = true);
        // Back in for a read that noted lGeneration before it stepped out:
        // not inside when the file has changed meanwhile.
        CEntry(CReadGate& gate, LONG lGeneration, bool /*bContinue*/);
        ~CEntry();
        CEntry(const CEntry&) = delete;
        CEntry& operator=(const CEntry&) = delete;

        bool IsInside() const { return m_bInside; }
        LONG Generation() const { return m_lGeneration; }
        // Steps out before a wait, and back in after it; false when the file
        // has changed meanwhile (the read must not touch the new one).
        void StepOut();
        bool StepIn();

    private:
        CReadGate& m_gate;
        LONG m_lGeneration;
        bool m_bInside;
    };

    // Guards the gate's fields (and fields of the owner, see above).
    CCriticalSection m_cs;

private:
    LONG m_nActive GUARDED_BY(m_cs);
    bool m_bClosing GUARDED_BY(m_cs);
    bool m_bFileOpen GUARDED_BY(m_cs);
    LONG m_lGeneration GUARDED_BY(m_cs);
    CSmartHandle m_shOpen;
    CSmartHandle m_shIdle;
};
