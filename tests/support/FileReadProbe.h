// Shared by the tests of the block cache and of the pin: a view into
// CCachedReadFile's internals, files of known content, and waiting for
// conditions that other threads make.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Reader/FileRead.h"
#include "recorder/RecorderContent.h"

namespace readertest {

// The cache with its read-ahead thread and positions opened up for checking
// (its blocks are looked at through Blocks()).
class CReaderProbe : public CCachedReadFile {
public:
    LONGLONG ForwardReadSize() const { return m_llForwardReadSize; }
    HANDLE ManualFile() const { return m_shManualFile; }
    HANDLE ReadThreadHandle() const { return m_shReadThread; }
    void SetStopThreadTime(DWORD dwMs) { m_dwStopThreadTime = dwMs; }
    // Sets the shared positions as the reader would and wakes the thread.
    void Signal(LONGLONG llCachePos, LONGLONG llFileReadPos, LONGLONG llFileSize) {
        m_llCacheReadPos = llCachePos;
        m_llFileReadPos = llFileReadPos;
        m_llFileSize = llFileSize;
        SetEvent(m_arrEvents[0]);
    }
    // Gives the read-ahead thread a handle it cannot read from (while it is
    // idle), as a failing disk would.
    void BreakThreadFile() { m_shThreadFile = CreateEvent(NULL, TRUE, FALSE, NULL); }
    // Gives the manual file's place to a handle that cannot be read or
    // measured (while nothing reads), as a file on a vanished share would be.
    void BreakManualFile() { m_shManualFile = CreateEvent(NULL, TRUE, FALSE, NULL); }
    // Closes the read-ahead thread's file (while it is idle): a broken
    // invariant of the cache, not a failure of the file.
    void LoseThreadFile() { m_shThreadFile.Close(); }
    DWORD ReadThreadId() const { return m_dwReadThreadId; }
};

const uint64_t kSeed = 20240611;

// The content of every test file: the recorder's seeded bytes.
inline std::vector<BYTE> Content(uint64_t seed, uint64_t pos, size_t n) {
    std::vector<BYTE> v(n);
    recorder::FillContent(seed, pos, v.data(), n);
    return v;
}

// Grows (or creates) the file to newSize bytes of seeded content.
inline void GrowTo(const std::string& path, uint64_t newSize, uint64_t seed = kSeed) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.seekp(0, std::ios::end);
    const uint64_t size = (uint64_t)out.tellp();
    if (newSize > size) {
        std::vector<BYTE> v = Content(seed, size, (size_t)(newSize - size));
        out.write((const char*)v.data(), (std::streamsize)v.size());
    }
}

// Polls until the condition holds; false after the time-out.
template <class F>
bool WaitUntil(F condition, unsigned ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The slot ClaimSlot took for the block (a test failure, and -1, when the
// block was indexed already).
inline LONG Claimed(CBlockStore& blocks, LONGLONG llBlockPos) {
    const SlotClaim claim = blocks.ClaimSlot(llBlockPos);
    EXPECT_TRUE(claim.bClaimed) << "block " << llBlockPos << " was indexed already";
    return claim.bClaimed ? claim.lSlot : -1;
}

// The slot of a cached block, READ-marked for the caller (a test failure,
// and -1, when PinBlock found it absent or being written).
inline LONG Pinned(CBlockStore& blocks, LONGLONG llBlockPos) {
    const BlockPin pin = blocks.PinBlock(llBlockPos);
    EXPECT_EQ(BP_Hit, pin.eState) << "block " << llBlockPos;
    return pin.eState == BP_Hit ? pin.lSlot : -1;
}

// Reads through the cache and checks the bytes against the seeded content.
struct ReadResult {
    HRESULT hr;
    LONG cb;
    size_t firstBad;  // index of the first wrong byte, or cb when all are right
};

inline ReadResult ReadChecked(CCachedReadFile& file, LONGLONG pos, LONG len, uint64_t seed = kSeed) {
    std::vector<BYTE> buf(len > 0 ? (size_t)len : 1);
    ReadResult r;
    r.cb = -1;
    r.hr = file.CachedRead(pos, len, buf.data(), &r.cb);
    r.firstBad = r.cb > 0 ? recorder::FirstMismatch(seed, (uint64_t)pos, buf.data(), (size_t)r.cb) : 0;
    if (r.cb <= 0)
        r.firstBad = 0;
    return r;
}

}  // namespace readertest
