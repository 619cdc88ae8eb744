#pragma once
// NAME arguments of extract, test and delete as unzip users write them: shell wildcards
// matched against the stored names, and "dir/" for everything under a directory.
#include <string>
#include <vector>

namespace pellux::cli {

// True for a NAME that is a pattern rather than one stored name.
bool IsNamePattern(const std::string &name);

// `*` and `?` stop at '/', `**` crosses it; `[abc]`, `[a-z]`, `[!x]`; a backslash
// takes the next character literally. `?` and the classes take a whole UTF-8 character.
bool MatchesPattern(const std::string &pattern, const std::string &name);

struct ExpandedNames {
    std::vector<std::string> Names;     // exact stored names, each once, in archive order
    std::vector<std::string> Unmatched; // patterns and directories that matched nothing
    bool All = false;                   // every entry was chosen
};

// Literal names pass through as given, so the libraries still name those they miss.
ExpandedNames ExpandNames(const std::vector<std::string> &given, const std::vector<std::string> &stored);

} // namespace pellux::cli
