#pragma once
// The archive file as libzip reads and rewrites it. Reads come from a read-ahead and writes go
// through one large buffer into a temporary file beside the archive, renamed over it
// on commit; libzip's own file source does a seek and a 4 KB write per step, which
// costs more than the copying itself on archives of many entries.
#include <zip.h>

#include <set>
#include <string>

namespace pellux::libs {

class Reporter;

// Opens (or, with ZIP_CREATE, prepares) the archive; nullptr with `error` set. With
// `copyProgress`, the bytes read from the old archive while the new one is written
// count as work done there, and its answer can stop the writing.
zip_t *OpenArchive(const std::string &path, int flags, int *error, Reporter *copyProgress = nullptr);

// The bytes a rewrite copies from the old archive: the data of every original entry
// except those deleted or replaced (`rewritten`).
zip_uint64_t CopiedBytes(zip_t *archive, const std::set<zip_uint64_t> &rewritten);

} // namespace pellux::libs
