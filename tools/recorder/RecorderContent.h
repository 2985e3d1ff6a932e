// The content the recorder writes in seeded mode: the byte at every file
// offset follows from the seed alone, so a reader can check any byte it gets
// without seeing the writer.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace recorder {

// One 64-bit word of content: splitmix64 of the seed and the word's index.
inline uint64_t ContentWord(uint64_t seed, uint64_t wordIndex) {
    uint64_t z = seed + (wordIndex + 1) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The byte at file offset pos.
inline uint8_t ContentByte(uint64_t seed, uint64_t pos) {
    return (uint8_t)(ContentWord(seed, pos / 8) >> (8 * (pos % 8)));
}

// Fills out with the n content bytes that start at file offset pos.
inline void FillContent(uint64_t seed, uint64_t pos, uint8_t* out, size_t n) {
    while (n && pos % 8) {
        *out++ = ContentByte(seed, pos++);
        --n;
    }
    for (; n >= 8; n -= 8, pos += 8, out += 8) {
        const uint64_t w = ContentWord(seed, pos / 8);
        for (int i = 0; i < 8; ++i)
            out[i] = (uint8_t)(w >> (8 * i));
    }
    while (n) {
        *out++ = ContentByte(seed, pos++);
        --n;
    }
}

// The index of the first byte of [data, data + n) that differs from the
// content at pos, or n when all of them match.
inline size_t FirstMismatch(uint64_t seed, uint64_t pos, const uint8_t* data, size_t n) {
    uint8_t expected[4096];
    for (size_t done = 0; done < n;) {
        const size_t k = n - done < sizeof(expected) ? n - done : sizeof(expected);
        FillContent(seed, pos + done, expected, k);
        if (memcmp(expected, data + done, k) != 0) {
            for (size_t i = 0; i < k; ++i)
                if (expected[i] != data[done + i])
                    return done + i;
        }
        done += k;
    }
    return n;
}

}  // namespace recorder
