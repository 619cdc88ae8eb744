#pragma once
// Writes a new archive in order: entries copied from the old one and files compressed
// on every core. Reading the files, writing and every report stay on the caller's
// thread; the workers only compress. At most a few chunks per worker are held at once.
// With a password, each new file entry is encrypted (WinZip AES-256, AE-2) as it is
// written, in order, on the caller's thread; only its keys are derived on the workers.
// The holes of a sparse file are not read, and a chunk of zeros after zeros reuses the
// compressed form and CRC of the first: the archive is the same as for the file written
// out in full.
#include "libs/common/Reporter.h"
#include "libs/pxzip/Collect.h"
#include "libs/pxzip/Compressor.h"
#include "libs/pxzip/ExistingArchive.h"
#include "libs/pxzip/OutputFile.h"
#include "libs/pxzip/Records.h"
#include "util/Secret.h"

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace pellux::libs {

class ArchiveWriter {
public:
    // `password`, when given, encrypts every file added; it must outlive the writer.
    ArchiveWriter(const std::string &archive, const ExistingArchive &existing, int level, Reporter &reporter,
                  const Secret *password = nullptr);
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
        std::shared_ptr<DeflateJob> Job;
        std::size_t Count = 1; // Copy: entries in the run
        bool Shared = false;   // Job is zeroChunk_, written again and again
    };
    struct EntryState {
        bool Started = false; // the local header is written
        bool Zip64 = false;   // in the local header
        bool Encrypt = false;
        std::uint16_t Method = kMethodStore; // of the data itself, under any encryption
        int Libdeflate = 0;                  // DeflateJob::Libdeflate of the chunks after the first
        std::uint64_t LocalAt = 0;
        std::string Path;
        std::unique_ptr<KeyJob> Key; // from Add to the MAC
    };

    bool Push(Pending pending);
    bool ConsumeFront();
    bool Drain();
    bool WriteData(Pending &pending);
    bool Close(std::size_t entry);
    bool StartEntry(std::size_t entry);
    bool StartEncryption(std::size_t entry);
    bool AddFile(const SourceItem &item, std::size_t entry);
    std::shared_ptr<DeflateJob> ZeroChunk(bool compress);
    bool WriteFailed();
    // Waits for a worker's job, answering the caller meanwhile; false when stopped.
    template <typename Job>
    bool Await(Job *job);

    const std::string &archive_;
    const ExistingArchive &existing_;
    int level_;
    Reporter &reporter_;
    const Secret *password_;
    OutputFile out_;
    std::vector<EntryRecord> records_;
    std::vector<EntryState> states_;
    std::deque<Pending> queue_;
    std::size_t queuedBytes_ = 0;
    std::chrono::steady_clock::time_point lastStep_{}; // of the steps sent while waiting
    // A chunk of zeros after zeros, as every such chunk of a deflate stream comes out:
    // holes of sparse files and runs of zeros are compressed once.
    std::shared_ptr<DeflateJob> zeroChunk_;
    bool zeroSubmitted_ = false;
    std::unique_ptr<Compressor> compressor_; // last: gone before the jobs it may still hold
};

} // namespace pellux::libs
