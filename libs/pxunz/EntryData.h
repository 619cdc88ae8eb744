#pragma once
// One entry's data copied out of the archive through its decoder, block by block, held
// to the size and CRC the archive declares for it.
#include "libs/common/Reporter.h"
#include "libs/pxunz/Decoder.h"
#include "platform/HugePages.h"
#include "util/ZipRecords.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct libdeflate_decompressor;

namespace pellux::libs {

struct EntryData {
    std::uint64_t DataStart = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint32_t Crc32 = 0;
    std::uint16_t Method = 0;
    bool CheckCrc = true; // false for AE-2 entries, whose CRC field is 0 (the MAC checks them)
};

enum class CopyResult {
    Done,
    BadData,     // corrupt, cut short, longer or shorter than declared, CRC mismatch
    WriteFailed, // the sink said no; errno tells why
    Cancelled,
    WrongPassword, // encrypted, and no password given opens it
};

struct CopyOutcome {
    CopyResult Result = CopyResult::Done;
    std::string Why; // with BadData, for the user
};

// Writes the decoded bytes; false (errno set) when they could not be written. For a
// large entry it is called on the copier's writer thread, one call at a time, and every
// call has returned before Copy does.
using DataSink = std::function<bool(const unsigned char *data, std::size_t length)>;

class BlockWriter;

// Buffers kept across entries: most archives hold many small ones.
class EntryCopier {
public:
    explicit EntryCopier(Reporter &reporter);
    ~EntryCopier();
    EntryCopier(const EntryCopier &) = delete;
    EntryCopier &operator=(const EntryCopier &) = delete;

    CopyOutcome Copy(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink);

private:
    CopyOutcome Whole(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink);
    // Block by block through the decoder, on two threads for a large entry.
    CopyOutcome Stepwise(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink);
    CopyOutcome Streamed(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink);
    CopyOutcome Piped(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink);

    Reporter &reporter_;
    std::unique_ptr<unsigned char[]> in_;
    std::unique_ptr<unsigned char[]> out_;
    HugePageBuffer whole_; // an entry's data and what it inflates to
    libdeflate_decompressor *inflater_ = nullptr;
    std::unique_ptr<BlockWriter> writer_; // started with the first large entry
};

// Small reads served from one window of the file: local headers and small entries lie
// one after another, and a system call each would cost more than their bytes.
class ReadAheadSource final : public ByteSource {
public:
    explicit ReadAheadSource(ByteSource &inner);
    std::uint64_t Size() const override { return inner_.Size(); }
    bool ReadAt(std::uint64_t offset, void *buffer, std::size_t length) override;

private:
    ByteSource &inner_;
    std::unique_ptr<unsigned char[]> window_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
};

} // namespace pellux::libs
