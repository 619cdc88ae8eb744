#pragma once
#include "libs/common/Reporter.h"
#include "libs/pxzip/Collect.h"

#include <cstdint>

namespace pellux::libs {

// Adds or replaces the request's files in the archive and returns how many files were
// written. The archive is rewritten beside itself and renamed into place, so it is
// either as before or complete. An encrypting request asks for its password once,
// when there is a file to write.
std::int32_t AddFiles(const AddRequest &request, Reporter &reporter);

// Sets the archive file's time to that of its newest entry.
void StampArchiveTime(const std::string &archivePath, Reporter &reporter);

} // namespace pellux::libs
