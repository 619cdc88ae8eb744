#include "zip/CentralDirectory.h"

#include "util/EndRecord.h"
#include "util/LittleEndian.h"
#include "util/ZipSignatures.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace pellux {

namespace {

constexpr std::size_t kCentralHeaderFixed = 46; // APPNOTE 4.3.12, signature included

bool ReadAt(InputStream &stream, std::int64_t position, void *buffer, std::size_t count)
{
    if (position < 0 || stream.SeekTo(position) != position)
        return false;
    return stream.Read(buffer, count) == count;
}

int ReadCallback(void *context, std::uint64_t offset, void *buffer, std::size_t length)
{
    return ReadAt(*static_cast<InputStream *>(context), static_cast<std::int64_t>(offset), buffer, length) ? 0 : -1;
}

} // namespace

CentralDirectoryIndex CentralDirectoryIndex::Load(InputStream &stream)
{
    CentralDirectoryIndex index;
    pellux_end_record end{};
    const auto fileSize = static_cast<std::uint64_t>(std::max<std::int64_t>(0, stream.Size()));
    if (pellux_find_end_record(ReadCallback, &stream, fileSize, &end) != PELLUX_END_FOUND
        || end.directory_size > (1ull << 31))
        return index;
    std::vector<unsigned char> dir(static_cast<std::size_t>(end.directory_size));
    if (!ReadAt(stream, static_cast<std::int64_t>(end.directory_start), dir.data(), dir.size()))
        return index;
    const std::int64_t shift = end.shift;

    std::size_t p = 0;
    while (p + kCentralHeaderFixed <= dir.size() && le::U32(dir.data() + p) == sig::kCentralHeader) {
        const unsigned char *h = dir.data() + p;
        EntrySizes sizes;
        sizes.Crc32 = le::U32(h + 16);
        sizes.CompressedSize = le::U32(h + 20);
        sizes.UncompressedSize = le::U32(h + 24);
        const std::size_t nameLength = le::U16(h + 28);
        const std::size_t extraLength = le::U16(h + 30);
        const std::size_t commentLength = le::U16(h + 32);
        std::uint64_t offset = le::U32(h + 42);
        const std::size_t extraStart = p + kCentralHeaderFixed + nameLength;
        const std::size_t next = extraStart + extraLength + commentLength;
        if (next > dir.size())
            break;

        // ZIP64 extra (APPNOTE 4.5.3): only the fields saturated in the header follow,
        // in the order uncompressed size, compressed size, local header offset.
        for (std::size_t e = extraStart; e + 4 <= extraStart + extraLength;) {
            const std::uint16_t id = le::U16(dir.data() + e);
            const std::size_t length = le::U16(dir.data() + e + 2);
            const std::size_t dataEnd = e + 4 + length;
            if (dataEnd > extraStart + extraLength)
                break;
            if (id == sig::kZip64ExtraId) {
                std::size_t f = e + 4;
                auto take = [&](std::uint64_t &field) {
                    if (field == 0xFFFFFFFFu && f + 8 <= dataEnd) {
                        field = le::U64(dir.data() + f);
                        f += 8;
                    }
                };
                take(sizes.UncompressedSize);
                take(sizes.CompressedSize);
                take(offset);
            }
            e = dataEnd;
        }
        index.entries_.emplace(static_cast<std::int64_t>(offset) + shift, sizes);
        p = next;
    }
    return index;
}

std::optional<EntrySizes> CentralDirectoryIndex::Find(std::int64_t localHeaderOffset) const
{
    const auto it = entries_.find(localHeaderOffset);
    if (it == entries_.end())
        return std::nullopt;
    return it->second;
}

std::optional<EntrySizes> FindDataDescriptor(InputStream &stream, std::int64_t dataStart)
{
    // Scan in blocks that overlap by one descriptor's length, so a record split across
    // two blocks is still seen whole.
    constexpr std::size_t kBlock = 64 * 1024;
    constexpr std::size_t kLongest = 24; // signature, CRC, two 64-bit sizes
    std::vector<unsigned char> block(kBlock + kLongest);
    const std::int64_t fileSize = stream.Size();
    for (std::int64_t blockStart = dataStart; blockStart < fileSize; blockStart += kBlock) {
        if (stream.SeekTo(blockStart) != blockStart)
            return std::nullopt;
        const std::size_t got = stream.Read(block.data(), block.size());
        if (got < 16)
            return std::nullopt;
        for (std::size_t i = 0; i + 16 <= got && i < kBlock; ++i) {
            const unsigned char *d = block.data() + i;
            if (d[0] != 'P' || le::U32(d) != sig::kDataDescriptor)
                continue;
            const auto distance = static_cast<std::uint64_t>(blockStart + static_cast<std::int64_t>(i) - dataStart);
            if (le::U32(d + 8) == static_cast<std::uint32_t>(distance) && distance <= 0xFFFFFFFFu)
                return EntrySizes{le::U32(d + 4), le::U32(d + 8), le::U32(d + 12)};
            if (i + kLongest <= got && le::U64(d + 8) == distance)
                return EntrySizes{le::U32(d + 4), le::U64(d + 8), le::U64(d + 16)};
        }
    }
    return std::nullopt;
}

} // namespace pellux
