#pragma once
// An input/output error with the operating system's error number, raised when a
// directory or a volume cannot be entered. The directory chooser looks at the number
// to tell a volume without medium from any other failure.
#include "platform/Exceptions.h"

#include <string>

namespace pellux {

class EInOutError : public Exception {
public:
    EInOutError(int errorCode, const std::string &message) : Exception(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

} // namespace pellux
