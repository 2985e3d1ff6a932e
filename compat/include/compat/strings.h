// String resources of the Linux build.
//
// On Windows a module's string table is part of its image, and LoadStringA
// finds it from the module's handle. Here a module carries its table in an
// ELF note, which the program headers of the loaded module show: the strings
// of any loaded module can be read through its handle, and nothing has to be
// exported or registered at start-up. A module defines its table once, in
// one of its source files:
//
//   constexpr compat::StringResource kStrings[] = {{100, "TallowFileSource"}, ...};
//   COMPAT_STRING_TABLE(kStrings);
//
// The note's owner is COMPAT_STRING_NOTE_OWNER and its type
// COMPAT_STRING_NOTE_TYPE; its description is one record per string: the id
// and the text's length as 32-bit little-endian numbers, then the text's bytes
// (UTF-8, the ANSI code page of the Linux build), without a terminator.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define COMPAT_STRING_NOTE_OWNER "compat-strings"
#define COMPAT_STRING_NOTE_TYPE 0x52545301u

namespace compat {

struct StringResource {
    unsigned id;
    const char* text;
};

constexpr size_t NotePad(size_t n) {
    return (n + 3) & ~(size_t)3;
}

constexpr size_t StringLength(const char* s) {
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

template <size_t N>
constexpr size_t StringNoteDescSize(const StringResource (&table)[N]) {
    size_t n = 0;
    for (size_t i = 0; i < N; ++i)
        n += 8 + StringLength(table[i].text);
    return n;
}

template <size_t DescSize>
struct StringNote {
    uint32_t namesz;
    uint32_t descsz;
    uint32_t type;
    char name[NotePad(sizeof(COMPAT_STRING_NOTE_OWNER))];
    unsigned char desc[NotePad(DescSize)];
};

template <size_t DescSize, size_t N>
constexpr StringNote<DescSize> MakeStringNote(const StringResource (&table)[N]) {
    StringNote<DescSize> note{};
    note.namesz = sizeof(COMPAT_STRING_NOTE_OWNER);
    note.descsz = DescSize;
    note.type = COMPAT_STRING_NOTE_TYPE;
    for (size_t i = 0; i < sizeof(COMPAT_STRING_NOTE_OWNER); ++i)
        note.name[i] = COMPAT_STRING_NOTE_OWNER[i];
    size_t pos = 0;
    for (size_t i = 0; i < N; ++i) {
        const size_t cb = StringLength(table[i].text);
        for (int b = 0; b < 4; ++b)
            note.desc[pos++] = (unsigned char)(table[i].id >> (8 * b));
        for (int b = 0; b < 4; ++b)
            note.desc[pos++] = (unsigned char)(cb >> (8 * b));
        for (size_t c = 0; c < cb; ++c)
            note.desc[pos++] = (unsigned char)table[i].text[c];
    }
    return note;
}

}  // namespace compat

// The note must be laid out exactly as written: no sanitizer red zone after it.
#if defined(__clang__)
#define COMPAT_NOTE_NO_SANITIZE __attribute__((no_sanitize("address")))
#else
#define COMPAT_NOTE_NO_SANITIZE
#endif

#define COMPAT_STRING_TABLE(table)                                                              \
    __attribute__((section(".note.compat.strings"), used, aligned(4)))                          \
    COMPAT_NOTE_NO_SANITIZE constexpr ::compat::StringNote<::compat::StringNoteDescSize(table)> \
        compat_string_table_note = ::compat::MakeStringNote<::compat::StringNoteDescSize(table)>(table)
