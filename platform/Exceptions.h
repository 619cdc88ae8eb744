#pragma once
// The error kinds that travel to the general error report. Each carries the text the
// user reads; the report adds nothing but the "." rule.
#include <stdexcept>
#include <string>

namespace pellux {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string &message) : std::runtime_error(message) {}
};

// Reading a file failed: "Error 3 reading Zip file" and friends.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// A file could not be opened: "Cannot open file <name>".
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A value could not be converted: "Invalid argument to date encode".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

} // namespace pellux
