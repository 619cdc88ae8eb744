#pragma once
// Stored entry names are raw bytes. For display they are read as UTF-8 when the bytes
// are valid UTF-8, otherwise as code page 437 (the ZIP format's original code page).
#include <string>
#include <string_view>

namespace pellux {

bool IsValidUtf8(std::string_view bytes);
std::string Cp437ToUtf8(std::string_view bytes);
// The display form of a stored name, always valid UTF-8.
std::string DecodeStoredName(std::string_view bytes);

} // namespace pellux
