#pragma once
#include "libs/common/Reporter.h"
#include "libs/pxunz/ExtractEntries.h"

#include <cstdint>

namespace pellux::libs {

// Reads the chosen entries (every one when request.Names is empty) through the same
// checks and decoders as extraction, writing nothing. Each file entry is announced as
// a file report; each that fails gets one error message naming it. Returns how many
// passed.
std::int32_t TestEntries(const ExtractRequest &request, Reporter &reporter);

} // namespace pellux::libs
