#pragma once
// Writes a new archive in order: entries copied from the old one and files compressed
// on every core. Reading the files, writing and every report stay on the caller's
// thread; the workers only compress. At most a few chunks per worker are held at once.
#include "libs/common/Reporter.h"
#include "libs/pxzip/Collect.h"
#include "libs/pxzip/Compressor.h"
#include "libs/pxzip/ExistingArchive.h"
#include "libs/pxzip/OutputFile.h"
#include "libs/pxzip/Records.h"

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace pellux::libs {

class ArchiveWriter {
public:
    ArchiveWriter(const std::string &archive, const ExistingArchive &existing, int level, Reporter &reporter);
    ~ArchiveWriter();

    // Each returns false when the work must end: stopped, or a failure that was reported.
    bool Begin();
    bool Keep(std::size_t existingIndex);
    // `comment` is that of the entry the file replaces.
    bool Add(const SourceItem &item, const std::string &comment = std::string());
    // Writes the central directory and puts the archive in place.
    bool Finish();

private:
    struct Pending {
        enum Kind { Copy, Data, Close } What;
        std::size_t Entry;  // in records_
        std::size_t Source; // Copy: the old archive's first entry
        bool Compress = false;
        std::unique_ptr<DeflateJob> Job;
        std::size_t Count = 1; // Copy: entries in the run
    };
    struct EntryState {
        bool Started = false; // the local header is written
        bool Zip64 = false;   // in the local header
        std::uint64_t LocalAt = 0;
        std::string Path;
    };

    bool Push(Pending pending);
    bool ConsumeFront();
    bool Drain();
    bool WriteData(Pending &pending);
    bool Close(std::size_t entry);
    bool StartEntry(std::size_t entry);
    bool AddFile(const SourceItem &item, std::size_t entry);
    bool WriteFailed();

    const std::string &archive_;
    const ExistingArchive &existing_;
    int level_;
    Reporter &reporter_;
    OutputFile out_;
    std::vector<EntryRecord> records_;
    std::vector<EntryState> states_;
    std::deque<Pending> queue_;
    std::size_t queuedBytes_ = 0;
    std::chrono::steady_clock::time_point lastStep_{}; // of the steps sent while waiting
    std::unique_ptr<Compressor> compressor_;           // last: gone before the jobs it may still hold
};

} // namespace pellux::libs
