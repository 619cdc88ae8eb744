#pragma once
// PX_ACTION_NAME_ENCODING: a library asks its caller, once per call and before reading
// the archive, which code page legacy names are in (see abi/ZipCallback.h).
#include "abi/ZipCallback.h"

#include <string>

namespace pellux::libs {

// The iconv name the caller gave, or empty when it left the request alone (automatic).
// A stop answered here is heard at the call's next report.
std::string AskNameEncoding(PxLibCallback callback, void *callerObject);

} // namespace pellux::libs
