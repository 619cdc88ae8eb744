#pragma once
// ErrorCode values of the libraries' message reports. 0 marks a warning: the operation
// did what it could and the user may want to know (a file kept, nothing to freshen).
namespace pellux::libs {

enum PxError : int {
    kPxWarning = 0,
    kPxBadRequest = 1,    // the parameter block is not one we understand
    kPxArchiveError = 2,  // the archive cannot be opened, read or written
    kPxFileError = 3,     // a source or target file cannot be read or written
    kPxNotMatched = 4,    // a requested name or path matched nothing
    kPxUnsafeName = 5,    // an entry would land outside the extraction directory
    kPxUnsupported = 6,   // encrypted entry or unknown compression method
    kPxDataError = 7,     // CRC mismatch or corrupt compressed data
    kPxInternalError = 8, // an unexpected failure inside the library
};

} // namespace pellux::libs
