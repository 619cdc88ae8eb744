#pragma once
#include "libs/common/Reporter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pellux::libs {

struct ExtractRequest {
    std::string Archive;
    std::vector<std::string> Names; // stored names; empty means every entry
    bool DirNames = false;
    bool Overwrite = false;
    bool Update = false;
    bool Freshen = false;
    std::string NameEncoding; // of legacy names, from the caller; empty: automatic
};

// Extracts into the process's current directory and returns how many files (and
// symbolic links) were written. Each file appears complete or not at all.
std::int32_t ExtractEntries(const ExtractRequest &request, Reporter &reporter);

} // namespace pellux::libs
