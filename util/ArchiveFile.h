#pragma once
// Opening a file named as an archive. A FIFO or a device opened for reading can block
// forever or never end, so it is refused before anything is read.
#include <string>

namespace pellux {

// A descriptor open for reading on the regular file at `path`; -1 with errno set (EINVAL
// for something that is not a regular file) and the reason for the user in `why`.
int OpenArchiveFile(const std::string &path, std::string *why);

} // namespace pellux
