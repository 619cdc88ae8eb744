#pragma once
// The check both exec entry points make before reading a block: the fields they share
// must describe a request at all, whatever the library does with the rest.
#include "abi/PxZip.h"
#include "libs/common/PxErrors.h"
#include "libs/common/Reporter.h"

#include <string>

namespace pellux::libs {

// Reports a block that fails as a bad request, naming the library.
template <class Params>
bool ValidParamBlock(const Params &params, const char *library, Reporter &reporter)
{
    if (params.CheckValue != PX_CHECK_VALUE || params.ArgCount < 0 || params.ArgCount > PX_MAX_FILE_NAMES
        || !params.ZipFileNamePtr || !*params.ZipFileNamePtr) {
        reporter.Error(kPxBadRequest, std::string(library) + ": invalid parameter block");
        return false;
    }
    return true;
}

} // namespace pellux::libs
