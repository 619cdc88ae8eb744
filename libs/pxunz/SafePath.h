#pragma once
// Where an entry may land: a stored name becomes a path below the extraction directory
// or is refused. Both separators count, so Windows-style traversal is caught too.
#include <optional>
#include <string>
#include <vector>

namespace pellux::libs {

struct SafeName {
    std::vector<std::string> Dirs; // directories below the extraction directory
    std::string Leaf;              // empty for a directory entry
};

// Refuses absolute names, drive letters and ".." components (reason in `why`).
// Without keepDirs only the last component is kept.
std::optional<SafeName> MakeSafeName(const std::string &name, bool keepDirs, std::string *why);

// True when a symbolic link placed in `linkDirs` with this target cannot lead outside
// the extraction directory: relative, and any ".." only before the first name.
bool LinkTargetStaysInside(const std::vector<std::string> &linkDirs, const std::string &target);

} // namespace pellux::libs
