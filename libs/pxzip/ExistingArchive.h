#pragma once
// The archive being changed, read through its own records so that the entries that stay
// are copied byte for byte (headers, data and descriptors), never recompressed.
#include "libs/common/Reporter.h"
#include "libs/pxzip/OutputFile.h"
#include "libs/pxzip/Records.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pellux::libs {

class ExistingArchive {
public:
    ExistingArchive();
    ~ExistingArchive();
    ExistingArchive(const ExistingArchive &) = delete;
    ExistingArchive &operator=(const ExistingArchive &) = delete;

    // Reads the archive's directory and checks every local header against it; a
    // missing file is an empty archive when `mayBeMissing`. Problems are reported.
    bool Open(const std::string &path, bool mayBeMissing, Reporter &reporter);

    std::size_t Count() const { return records_.size(); }
    const EntryRecord &Record(std::size_t i) const { return records_[i]; }
    // The index of the first entry stored under `name` (raw bytes), or -1.
    std::ptrdiff_t Find(const std::string &name) const;
    // The extended timestamp's modification time when present, else the DOS time.
    std::time_t Mtime(std::size_t i) const;
    bool HasTimestamp(std::size_t i) const;
    // Bytes a copy of the entry moves: its local header, data and descriptor.
    std::uint64_t Length(std::size_t i) const { return ends_[i] - starts_[i]; }
    const std::string &Comment() const { return comment_; }
    // Bytes between the first entry and the directory that no entry holds: a local
    // header the directory does not list, or other data. A copy leaves them out.
    std::uint64_t UnheldBytes() const;

    // Appends entries first .. first + count - 1 to `out` as they are and gives their
    // records with the new offsets; neighbours on disk go in one copy, and each piece
    // copied counts as progress.
    bool Copy(std::size_t first, std::size_t count, OutputFile &out, Reporter &reporter, EntryRecord *copied) const;
    // The same, for a caller that keeps no copies: the entries' own records take the
    // new offsets (Record(i).Offset).
    bool CopyHere(std::size_t first, std::size_t count, OutputFile &out, Reporter &reporter);

private:
    class CacheRelease;

    // Copies entries first .. first + count - 1 and tells `placed(i, offset)` where each went.
    template <typename Placed>
    bool CopyRuns(std::size_t first, std::size_t count, OutputFile &out, Reporter &reporter, Placed placed) const;

    std::string path_;
    int fd_ = -1;
    std::vector<EntryRecord> records_;
    std::vector<std::uint64_t> starts_, ends_;
    static constexpr unsigned kLookupsWithoutIndex = 32;
    mutable unsigned lookups_ = 0;
    mutable std::unordered_map<std::string_view, std::size_t> names_; // views of records_' names, made when needed
    std::string comment_;
    std::uint64_t directoryStart_ = 0;
    mutable std::unique_ptr<CacheRelease> release_; // started by the first copy
    mutable bool releaseTried_ = false;
};

} // namespace pellux::libs
