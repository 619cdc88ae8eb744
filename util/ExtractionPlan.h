#pragma once
// What extraction will do with each entry, worked out from the central directory before
// anything is written: where the entry lands, or why it is refused. Extraction follows
// these rules, and the listing reads them to say up front what will not be written as
// it is shown.
#include "util/SafePath.h"
#include "util/ZipRecords.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pellux {

// The Unix mode a Unix-made entry stores in its external attributes; nullopt for others.
std::optional<unsigned> UnixMode(const CentralEntry &entry);
bool IsDirectoryEntry(const CentralEntry &entry);
bool IsLinkEntry(const CentralEntry &entry);

// Where extraction puts an entry whose name reads `name`.
struct Landing {
    std::optional<SafeName> Safe; // nullopt: refused, for Why
    std::string Why;
    std::string Drive; // a drive prefix taken off the name first ("C:\\")
};
Landing LandingOf(const CentralEntry &entry, std::string name, bool keepDirs = true);
// The path below the target a file lands on, "/"-joined.
std::string LandingPath(const SafeName &safe);

// Of the files whose landing paths hash to `hashes` (0: it lands nowhere), those a later
// one lands on the same path as (`pathOf` tells the paths of equal hashes apart):
// extraction writes only the last of them, as a later copy in an archive is the newer.
std::vector<bool> EarlierNamesakes(const std::vector<std::uint64_t> &hashes,
                                   const std::function<std::string(std::size_t)> &pathOf);
// The hash EarlierNamesakes compares; never 0.
std::uint64_t LandingHash(std::string_view path);

// Extraction refuses longer link targets; so the listing reads no more.
inline constexpr std::uint64_t kMaxLinkTarget = 4096;

// The target of a symbolic link entry, read from its data at `dataStart`: nullopt, with
// why, when it is encrypted, too long, damaged, or neither stored nor deflated.
std::optional<std::string> ReadLinkTarget(ByteSource &source, const CentralEntry &entry, std::uint64_t dataStart,
                                          std::string *why);

// An entry that extraction will refuse, or write otherwise than shown.
struct EntryForecast {
    std::size_t Index; // in the central directory
    std::string Why;   // for the user, one sentence
};
struct ExtractionForecast {
    std::vector<EntryForecast> Entries; // by ascending index
    std::vector<std::string> Warnings;  // one per kind, naming the entries
};
// `refused`: the entries the archive check already refuses (by central index).
ExtractionForecast ForecastExtraction(ByteSource &source, const CentralDirectory &directory,
                                      const std::vector<bool> &refused, const NameDecoding &names);

} // namespace pellux
