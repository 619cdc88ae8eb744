#pragma once
// What the central directory says about each entry's sizes, keyed by where the entry's
// local header really lies. Used only for entries whose local header leaves the sizes
// to a data descriptor.
#include "zip/ByteStream.h"

#include <cstdint>
#include <optional>
#include <unordered_map>

namespace pellux {

struct EntrySizes {
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
};

class CentralDirectoryIndex {
public:
    // Reads the end record and the central directory. Data in front of the archive
    // (a self-extractor's program) shifts every stored offset by the same amount;
    // the index corrects for it. A missing or damaged directory gives an empty index.
    static CentralDirectoryIndex Load(InputStream &stream);

    std::optional<EntrySizes> Find(std::int64_t localHeaderOffset) const;
    bool Empty() const { return entries_.empty(); }

private:
    std::unordered_map<std::int64_t, EntrySizes> entries_;
};

// Looks for the data descriptor that ends an entry's data starting at dataStart: a
// "PK" 07 08 record whose compressed size equals its distance from dataStart (32- or
// 64-bit sizes). Leaves the stream position unspecified.
std::optional<EntrySizes> FindDataDescriptor(InputStream &stream, std::int64_t dataStart);

} // namespace pellux
