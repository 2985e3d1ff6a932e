// The component's string table for the Linux build (the texts are in
// StringTable.inc); LoadStringA reads it through the module's handle, as on
// Windows.
#include <compat/strings.h>

#include "resource.h"

namespace {

constexpr compat::StringResource kStrings[] = {
#define STRING_ENTRY(id, text) {id, text},
#include "StringTable.inc"
#undef STRING_ENTRY
};

COMPAT_STRING_TABLE(kStrings);

}  // namespace
