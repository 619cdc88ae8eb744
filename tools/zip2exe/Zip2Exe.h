#pragma once
// zip2exe's work without any window: put the extractor stub in front of a ZIP archive
// and move every offset the archive stores by the stub's length, so that the result
// runs as a program and still reads as a ZIP archive.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace pellux::zip2exe {

// Why nothing was written. The text names the file or entry concerned and has no
// program-name prefix.
class Refusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Written {
    std::string Path; // absolute
    std::uint64_t Size = 0;
};

// The program's file name for an archive: its base name without the last extension,
// plus ".exe" ("photos.zip" gives "photos.exe", "noext" gives "noext.exe").
std::string ExeName(const std::string &zipPath);

// Writes outDir/ExeName(zipPath) atomically with mode 0755. Entries must be stored or
// deflated and not encrypted, since that is all the stub unpacks. Throws Refusal, and
// then leaves no file behind.
Written Convert(const std::string &zipPath, const std::string &outDir, std::span<const unsigned char> stub);

} // namespace pellux::zip2exe
