#pragma once
// Where the running program lies, as the kernel reports it (/proc/self/exe).
#include <string>

namespace pellux {

// The full path of the running program's file; empty when the system cannot tell.
std::string ProgramFilePath();

// The directory part of a path: everything before its last '/', without that '/'
// unless it is the root itself ("/usr/bin/x" gives "/usr/bin", "/x" gives "/").
// A path without '/' has an empty directory part.
std::string DirectoryPart(const std::string &path);

} // namespace pellux
