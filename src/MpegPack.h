// The MPEG-2 pack header as the component recognises a program stream: the
// start code 00 00 01 BA, '01' before the system clock reference, and the
// marker bits between the clock's fields and after the multiplex rate, all
// within the header's first MPEG2_PACK_CHECKED_SIZE bytes. An MPEG-1 pack
// ('0010' before the clock) is not one. Payload bytes that happen to hold
// the start code rarely carry every marker as well.
#pragma once

#include <stddef.h>

constexpr size_t MPEG2_PACK_CHECKED_SIZE = 13;

inline bool IsPackStartCode(const unsigned char* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xBA;
}

// p holds at least MPEG2_PACK_CHECKED_SIZE bytes from the start code on.
inline bool HasMpeg2PackMarkers(const unsigned char* p) {
    return (p[4] & 0xC4) == 0x44 && (p[6] & 0x04) && (p[8] & 0x04) && (p[9] & 0x01) && (p[12] & 0x03) == 0x03;
}

inline bool IsMpeg2PackHeader(const unsigned char* p) {
    return IsPackStartCode(p) && HasMpeg2PackMarkers(p);
}
