// The writer probe behind the sharing rule. Internal to compat/.
#pragma once

#include <sys/stat.h>

namespace compat {

// Whether some process may still be writing the file, so that an open that
// refuses write sharing must fail. `path` is the file as the caller names
// it; `st` is what stat() said of it just before.
bool WriterMayBeActive(const char* path, const struct stat& st);

}  // namespace compat
