#pragma once
// Substring helpers over byte strings. Positions are 1-based; 0 means "not found".
#include <string>
#include <string_view>

namespace pellux {

// True when the piece of S starting at Index (1-based), Length(SubStr) long and cut
// short at the end of S, equals SubStr byte for byte.
bool MatchAt(std::string_view SubStr, std::string_view S, long long Index);

// Position of the rightmost occurrence of SubStr in S (matches may overlap), or 0.
// An empty SubStr matches at Length(S).
long long LastPos(std::string_view SubStr, std::string_view S);

// The extension of a path's file-name part, from its last "." on, ASCII lower-cased;
// "" when the file-name part has no ".".
std::string LowerExtension(std::string_view Path);

// S without its leading and trailing blanks and control characters (bytes up to ' ').
std::string Trim(std::string_view S);

} // namespace pellux
