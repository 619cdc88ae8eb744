#pragma once
// The archive file as libzip reads and rewrites it. Reads come from a read-ahead and writes go
// through one large buffer into a temporary file beside the archive, renamed over it
// on commit; libzip's own file source does a seek and a 4 KB write per step, which
// costs more than the copying itself on archives of many entries.
#include <zip.h>

#include <string>

namespace pellux::libs {

// Opens (or, with ZIP_CREATE, prepares) the archive; nullptr with `error` set.
zip_t *OpenArchive(const std::string &path, int flags, int *error);

} // namespace pellux::libs
