#pragma once
// One entry's data copied out of the archive through its decoder, block by block, held
// to the size and CRC the archive declares for it.
#include "libs/common/Reporter.h"
#include "libs/pxunz/Decoder.h"
#include "util/ZipRecords.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pellux::libs {

struct EntryData {
    std::uint64_t DataStart = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint32_t Crc32 = 0;
    std::uint16_t Method = 0;
};

enum class CopyResult {
    Done,
    BadData,     // corrupt, cut short, longer or shorter than declared, CRC mismatch
    WriteFailed, // the sink said no; errno tells why
    Cancelled,
};

struct CopyOutcome {
    CopyResult Result = CopyResult::Done;
    std::string Why; // with BadData, for the user
};

// Writes the decoded bytes; false (errno set) when they could not be written.
using DataSink = std::function<bool(const unsigned char *data, std::size_t length)>;

// Buffers kept across entries: most archives hold many small ones.
class EntryCopier {
public:
    explicit EntryCopier(Reporter &reporter);
    CopyOutcome Copy(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink);

private:
    Reporter &reporter_;
    std::unique_ptr<unsigned char[]> in_;
    std::unique_ptr<unsigned char[]> out_;
};

} // namespace pellux::libs
