#pragma once
#include "libs/common/Reporter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pellux::libs {

// Removes the entries whose stored names equal the given names byte for byte and
// returns how many were removed. The archive is rewritten beside itself and renamed.
std::int32_t DeleteEntries(const std::string &archivePath, const std::vector<std::string> &names, Reporter &reporter);

} // namespace pellux::libs
