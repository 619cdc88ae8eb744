#pragma once
// A libzip data source over one file on disk. libzip reads it while it writes the
// archive; the source reports the file's start and progress to the caller and stops
// the writing when the caller asks for it.
#include "libs/common/Reporter.h"
#include "libs/pxzip/Collect.h"

#include <zip.h>

namespace pellux::libs {

zip_source_t *MakeFileSource(zip_t *archive, const SourceItem &item, Reporter &reporter);

} // namespace pellux::libs
