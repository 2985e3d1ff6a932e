// The component's constants: sizes, margins and times, each defined once.
// (The library's buffer sizes stay beside the calls that take the buffers,
// and the largest wait margin is part of the filter's own interface.)
#pragma once

#include <windows.h>

#include "IOrvexFileSource.h"

// ---- growing files
// The growth threshold: a growing file is admitted once it holds this much,
// a read waits when its end comes this close to the end of a growing file,
// Length subtracts it from a growing file's size, and the page's margin
// range starts there.
constexpr LONG GROWTH_THRESHOLD = 786432;
// The wait margin by default: a waiting read goes on once the file holds
// this much past the read's end (at most ORVEX_MAX_WAIT_MARGIN).
constexpr DWORD DEFAULT_WAIT_MARGIN = 2097152;
// The wait margin in time, by default: a read waits for this much of the
// file's measured growth past its end (never below the largest burst seen,
// nor MIN_TIME_MARGIN, nor above ORVEX_MAX_WAIT_MARGIN; DEFAULT_WAIT_MARGIN
// until growth has been measured). SetBuffSize sets a margin in bytes.
constexpr DWORD DEFAULT_MARGIN_TIME = 1000;
constexpr DWORD MAX_MARGIN_TIME = 600000;
constexpr LONGLONG MIN_TIME_MARGIN = 64 * 1024;
// A growing file is also admitted once it holds this much of its measured
// growth, and at least MIN_TIME_MARGIN (a radio's 768 KiB last a minute).
constexpr DWORD ADMISSION_TIME = 2000;
// The total a growing file reports while seeking is not allowed: 100 GiB.
constexpr LONGLONG ESTIMATED_TOTAL = 0x1900000000LL;
// A splitter told that estimate probes its tail as it connects (a type
// finder's look for a tag in the last 128 bytes, a demultiplexer's backward
// scan for the last clock, a few MiB). Should the writer close meanwhile,
// reads in this last part of the estimate still get the zeros they got
// while the file grew, not the failure that ends a stream.
constexpr LONGLONG ESTIMATED_TAIL_SIZE = 64LL << 20;
// Positions from here on are refused: no file is that large, and the sums of
// position, length and margins stay far from overflowing.
constexpr LONGLONG MAX_READ_POSITION = 0x4000000000000000LL;
// How long after a writer was last seen a "no writer" answer still does not
// end the recording: a recorder that closes its file and opens it again to
// append is still recording. The grace learns from the gaps a recorder comes
// back after (twice the longest, within the least and the most here); a first
// close soon after the file last grew gets the first-gap grace.
constexpr DWORD WRITER_GRACE_TIME = 1000;
constexpr DWORD WRITER_MAX_GRACE_TIME = 30000;
constexpr DWORD WRITER_FIRST_GAP_GRACE_TIME = 3000;
constexpr DWORD WRITER_RECENT_GROWTH_TIME = 10000;
// A growing file that has not grown for this long while its writer keeps it
// open ends the admission wait with ERROR_TIMEOUT.
// So does a read while the filter is stopped (a splitter reading as it
// connects, where no flush can end its wait); while the filter runs or is
// paused, a recorder that pauses is normal and a read waits for it.
constexpr DWORD ADMISSION_STALL_TIME = 30000;
// How often a waiting read, and the admission wait, ask whether the writer is
// still there (ms): the writer probe is made at most this often.
constexpr DWORD GROWTH_POLL_TIME = 500;
// How often they measure the file (ms): a read goes on soon after the bytes
// it waits for have come (a recorder's burst), not up to a poll later.
constexpr DWORD GROWTH_LOOK_TIME = 100;
// Length measures the file at most this often (ms), and only while the
// graph runs.
constexpr DWORD LENGTH_MEASURE_INTERVAL = 2000;

// ---- the pin
// The pin's block cache: 384 KiB blocks, 20 MiB.
constexpr DWORD PIN_BLOCK_SIZE = 0x60000;
constexpr DWORD PIN_CACHE_SIZE = 0x1400000;
// The file name buffer: the system's path limit and a spare terminator.
constexpr int FILE_NAME_SIZE = 261;
// The statistics thread: its first pass 10 s after creation (a relative due
// time in 100 ns units), then once a second, so a rate is bytes per second;
// FinalRelease gives it this long to end (ms).
constexpr LONGLONG STATISTICS_FIRST_TICK = -10 * 10000000LL;
constexpr LONG STATISTICS_PERIOD = 1000;
constexpr DWORD STATISTICS_STOP_TIME = 10000;

// ---- the block cache
// How long CloseFile waits for the read-ahead thread to end, and once more
// after trying to terminate it (ms).
constexpr DWORD STOP_THREAD_TIME = 10000;
// How often the read-ahead thread measures the file while reads go on (ms).
constexpr DWORD READ_AHEAD_POLL_TIME = 250;
// Bytes in front of each slot's data: the slot's header (its mark and its
// block's position) fills a cache line, so the data starts on the next one:
// a copy out of a slot then runs as fast as one out of the system's page
// cache.
constexpr DWORD SLOT_HEADER_SIZE = 64;

// ---- the property page
// The refresh timer.
constexpr UINT FILESOURCEPAGE_TIMER_ID = 1;
constexpr UINT FILESOURCEPAGE_TIMER_MS = 100;
// The trackbar's range in KiB: from the growth threshold to the largest
// margin the filter takes.
constexpr int FILESOURCEPAGE_MIN_MARGIN_KB = GROWTH_THRESHOLD / 1024;
constexpr int FILESOURCEPAGE_MAX_MARGIN_KB = ORVEX_MAX_WAIT_MARGIN / 1024;
