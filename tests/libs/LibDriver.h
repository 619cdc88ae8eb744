#pragma once
// Loads libpxzip.so / libpxunz.so from the build and drives their exec entry points
// through the parameter blocks, recording every callback report.
#include "abi/PxUnz.h"
#include "abi/PxZip.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pellux::test {

struct Report {
    int Action = 0;
    int ErrorCode = 0;
    int FileSize = 0;
    std::string Text;
};

struct LibRun {
    int Result = 0;
    std::vector<Report> Reports;
    std::vector<std::string> Files() const;    // names of action 1
    std::vector<std::string> Messages() const; // texts of action 4
    bool HasError() const;                     // a message with a non-zero code
    int Ends() const;                          // action 3 count
};

struct ZipOptions {
    bool DirNames = true;
    bool Recurse = true;
    bool Hidden = false;
    bool Move = false;
    bool Update = false;
    bool Freshen = false;
    bool ZipTime = false;
    bool ForceDos = false;
    bool Delete = false;
    int Level = 9;
};

struct UnzOptions {
    bool DirNames = true;
    bool Overwrite = false;
    bool Update = false;
    bool Freshen = false;
    // Extraction runs with writes beyond this size failing (EFBIG, as on a full disk),
    // so that a bomb slipping through fails fast.
    std::uint64_t FileSizeLimit = 32u << 20;
};

// Answers true (stop) once this returns true for a report.
using StopWhen = std::function<bool(const Report &)>;

LibRun RunZip(const std::string &archive, const std::vector<std::string> &paths, const ZipOptions &options,
              StopWhen stop = {});
LibRun RunUnz(const std::string &archive, const std::vector<std::string> &names, const UnzOptions &options,
              const std::string &intoDir, StopWhen stop = {});

// Runs a command in a directory; returns its exit status.
int RunIn(const std::string &dir, const std::string &command, std::string *out = nullptr);
// Python's zipfile reads the archive and prints "name<TAB>size<TAB>sha1" per entry.
std::string PythonListing(const std::string &archive);
// Writes an archive with Python's zipfile. `body` is Python run with `z` open for
// writing and add(name, data, mode=None, method=zipfile.ZIP_DEFLATED) defined.
void PythonZip(const std::string &archive, const std::string &body);
// The same for a directory tree (regular files only), names relative to it.
std::string TreeListing(const std::string &dir);
// `n` bytes that do not compress, the same for the same seed.
std::string RandomBytes(std::size_t n, unsigned seed);

} // namespace pellux::test
