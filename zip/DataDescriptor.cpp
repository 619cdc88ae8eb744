#include "zip/DataDescriptor.h"

#include "util/LittleEndian.h"
#include "util/ZipSignatures.h"

#include <vector>

namespace pellux {

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
