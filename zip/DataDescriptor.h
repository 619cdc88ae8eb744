#pragma once
// Finding where a streamed entry's data ends when nothing else says so.
#include "zip/ByteStream.h"

#include <cstdint>
#include <optional>

namespace pellux {

struct EntrySizes {
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
};

// Looks for the data descriptor that ends an entry's data starting at dataStart: a
// "PK" 07 08 record whose compressed size equals its distance from dataStart (32- or
// 64-bit sizes). Leaves the stream position unspecified.
std::optional<EntrySizes> FindDataDescriptor(InputStream &stream, std::int64_t dataStart);

} // namespace pellux
