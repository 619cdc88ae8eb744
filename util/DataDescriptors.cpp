// Data descriptors, the CRC and sizes a streamed entry's writer puts after its data:
// read where the size says, or found by scanning when the local header gives no size.
#include "util/ZipRecords.h"

#include "util/LittleEndian.h"
#include "util/ZipRecordBits.h"

#include <algorithm>

namespace pellux {

namespace {

// A descriptor is at most 24 bytes: signature, CRC and two 64-bit sizes.
constexpr std::size_t kDescriptorMost = 24;

} // namespace

std::optional<DataDescriptor> ReadDataDescriptor(ByteSource &source, std::uint64_t at, std::uint64_t compressedSize)
{
    unsigned char d[kDescriptorMost] = {};
    const std::uint64_t size = source.Size();
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof d, size - std::min(at, size)));
    if (length < 12 || !source.ReadAt(at, d, length))
        return std::nullopt;
    const std::size_t skip = HasSignature(d, 7, 8) ? 4 : 0;
    const unsigned char *body = d + skip;
    const std::size_t bodyLength = length - skip;
    std::vector<DataDescriptor> forms;
    if (bodyLength >= 12)
        forms.push_back({le::U32(body), le::U32(body + 4), le::U32(body + 8), at + skip + 12});
    if (bodyLength >= 20)
        forms.push_back({le::U32(body), le::U64(body + 4), le::U64(body + 12), at + skip + 20});
    if (forms.empty())
        return std::nullopt;
    // Both forms may state the size (a small entry in 64-bit form); the one that a
    // record or the end of the file follows is the one written.
    const DataDescriptor *stating = nullptr;
    for (const auto &form : forms) {
        if (form.CompressedSize != compressedSize)
            continue;
        unsigned char s[4];
        if (form.End == size || (source.ReadAt(form.End, s, 4) && IsRecordAfterData(s)))
            return form;
        if (!stating)
            stating = &form;
    }
    return stating ? *stating : forms.front();
}

std::optional<DataDescriptor> FindDataDescriptor(ByteSource &source, const LocalHeader &local)
{
    const std::uint64_t start = local.DataStart;
    const std::uint64_t size = source.Size();
    if (start > size)
        return std::nullopt;
    // Each window also holds the 20 bytes before its first position (a descriptor
    // without signature ends where the next record begins) and a descriptor's length after.
    std::string window;
    for (std::uint64_t base = start; base <= size; base += kScanChunk) {
        const std::uint64_t from = base - std::min<std::uint64_t>(base - start, 20);
        const std::uint64_t to = std::min<std::uint64_t>(size, base + kScanChunk + kDescriptorMost);
        window.resize(static_cast<std::size_t>(to - from));
        if (!source.ReadAt(from, window.data(), window.size()))
            return std::nullopt;
        const auto *w = reinterpret_cast<const unsigned char *>(window.data());
        const std::uint64_t last = std::min<std::uint64_t>(size, base + kScanChunk - 1);
        for (std::uint64_t p = base; p <= last; ++p) {
            const unsigned char *at = w + (p - from);
            const std::uint64_t after = to - p; // bytes from p to the window's end
            DataDescriptor d;
            if (after >= 16 && HasSignature(at, 7, 8)) {
                // The low half of a 64-bit size reads as a 32-bit one: of the two forms,
                // the one that a record or the file's end follows is the one written.
                const bool narrow = le::U32(at + 8) == p - start;
                const bool wide = after >= 24 && le::U64(at + 8) == p - start;
                const auto endsThere = [&](std::uint64_t end) {
                    unsigned char s[4];
                    return end == size || (source.ReadAt(end, s, 4) && IsRecordAfterData(s));
                };
                if (wide && (!narrow || (endsThere(p + 24) && !endsThere(p + 16))))
                    return DataDescriptor{le::U32(at + 4), le::U64(at + 8), le::U64(at + 16), p + 24};
                if (narrow)
                    return DataDescriptor{le::U32(at + 4), le::U32(at + 8), le::U32(at + 12), p + 16};
            }
            // Without a signature the descriptor ends where the next record (or the file) does.
            if (p == size || (after >= 4 && IsRecordAfterData(at))) {
                if (p - start >= 12 && le::U32(at - 8) == p - 12 - start) {
                    d = {le::U32(at - 12), le::U32(at - 8), le::U32(at - 4), p};
                    return d;
                }
                if (p - start >= 20 && le::U64(at - 16) == p - 20 - start) {
                    d = {le::U32(at - 20), le::U64(at - 16), le::U64(at - 8), p};
                    return d;
                }
            }
        }
    }
    return std::nullopt;
}

} // namespace pellux
