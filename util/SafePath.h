#pragma once
// Where an entry may land: a stored name becomes a path below the extraction directory
// or is refused. Both separators count, so Windows-style traversal is caught too.
#include <optional>
#include <string>
#include <vector>

namespace pellux {

struct SafeName {
    std::vector<std::string> Dirs; // directories below the extraction directory
    std::string Leaf;              // empty for a directory entry
};

// Refuses absolute names, drive letters and ".." components (reason in `why`).
// Without keepDirs only the last component is kept.
// A name whose backslashes are \\xHH escapes (EscapedBackslashes) splits at "/" alone.
std::optional<SafeName> MakeSafeName(const std::string &name, bool keepDirs, std::string *why,
                                     bool backslashSeparates = true);

// The name without a leading drive ("C:", "c:\\", "C:x" give "x"), and the prefix taken.
std::string StripDrive(const std::string &name, std::string *prefix);

// Where a symbolic link placed in `linkDirs` leads, resolved from its own directory:
// nullopt when the target is absolute or climbs above the extraction directory. Else
// the directories the target enters and leaves again by ".." on its way: it resolves
// where its text says only when each of them is a real directory, not a link.
std::optional<std::vector<std::vector<std::string>>> LinkTargetPath(const std::vector<std::string> &linkDirs,
                                                                    const std::string &target);

} // namespace pellux
