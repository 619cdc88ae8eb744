// The walk over the local headers from the front, for an archive whose central
// directory is missing or damaged: what it still holds, entry by entry.
#include "util/ZipRecords.h"

#include "util/ZipRecordBits.h"

#include <algorithm>

namespace pellux {

namespace {

// A streamed entry's header states no sizes: zeros, or (ZIP64) saturated fields whose
// ZIP64 field is missing or holds zeros too.
bool SizesUnknown(const LocalHeader &local)
{
    const auto unknown = [](std::uint64_t size) { return size == 0 || size == kSaturated32; };
    return unknown(local.CompressedSize) && unknown(local.UncompressedSize);
}

// A local header a writer could have made: stray "PK\3\4" bytes in a stub rarely are.
bool Plausible(const LocalHeader &local, std::uint64_t fileSize)
{
    const bool sizesFollow = (local.Flags & kFlagDataDescriptor) && SizesUnknown(local);
    return !local.Name.empty() && (local.VersionNeeded & 0xFF) <= 99 && local.Method <= 99
        && (sizesFollow || local.CompressedSize <= fileSize - local.DataStart);
}

std::uint64_t FirstLocalHeader(ByteSource &source)
{
    std::string window(kScanChunk + 3, '\0');
    for (std::uint64_t base = 0; base + 4 <= source.Size(); base += kScanChunk) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(window.size(), source.Size() - base));
        if (!source.ReadAt(base, window.data(), length))
            break;
        const auto *w = reinterpret_cast<const unsigned char *>(window.data());
        for (std::size_t i = 0; i + 4 <= length && i < kScanChunk; ++i) {
            if (!HasSignature(w + i, 3, 4))
                continue;
            const auto local = ReadLocalHeader(source, base + i);
            if (local && Plausible(*local, source.Size()))
                return base + i;
        }
    }
    return source.Size();
}

} // namespace

LocalWalk WalkLocalHeaders(ByteSource &source, const CentralDirectory *known)
{
    LocalWalk walk;
    const std::uint64_t size = source.Size();
    std::uint64_t pos = FirstLocalHeader(source);
    while (pos < size) {
        auto local = ReadLocalHeader(source, pos);
        if (!local) {
            unsigned char s[4];
            if (!source.ReadAt(pos, s, 4) || !IsRecordAfterData(s))
                walk.Stopped = "no local header at byte " + std::to_string(pos);
            break;
        }
        WalkedEntry entry;
        entry.Crc32 = local->Crc32;
        entry.CompressedSize = local->CompressedSize;
        entry.UncompressedSize = local->UncompressedSize;
        const bool streamed = (local->Flags & kFlagDataDescriptor) != 0;
        const CentralEntry *central = nullptr;
        if (known) {
            for (const auto &c : known->Entries)
                if (c.LocalOffset == pos && c.Name() == local->Name)
                    central = &c;
        }
        std::uint64_t next = 0;
        if (central) {
            entry.Crc32 = central->Crc32;
            entry.CompressedSize = central->CompressedSize;
            entry.UncompressedSize = central->UncompressedSize;
        } else if (streamed && SizesUnknown(*local)) {
            const auto descriptor = FindDataDescriptor(source, *local);
            if (!descriptor) {
                entry.Local = std::move(*local);
                entry.Damage = "its data descriptor is missing";
                walk.Entries.push_back(std::move(entry));
                break;
            }
            entry.Crc32 = descriptor->Crc32;
            entry.CompressedSize = descriptor->CompressedSize;
            entry.UncompressedSize = descriptor->UncompressedSize;
            next = descriptor->End;
        }
        entry.Complete = entry.CompressedSize <= size - std::min(size, local->DataStart);
        const std::uint64_t dataEnd = local->DataStart + (entry.Complete ? entry.CompressedSize : 0);
        if (next == 0) {
            next = dataEnd;
            if (streamed && entry.Complete) {
                if (const auto descriptor = ReadDataDescriptor(source, dataEnd, entry.CompressedSize)) {
                    if (!central && entry.Crc32 == 0)
                        entry.Crc32 = descriptor->Crc32;
                    next = descriptor->End;
                }
            }
        }
        entry.Local = std::move(*local);
        if (!entry.Complete)
            entry.Damage = "its data is cut short";
        walk.Entries.push_back(std::move(entry));
        if (!walk.Entries.back().Complete)
            break;
        pos = next;
    }
    return walk;
}

CentralEntry CentralOf(const WalkedEntry &walked)
{
    const LocalHeader &local = walked.Local;
    CentralEntry c;
    c.SetNameAndExtra(local.Name, local.Extra);
    c.VersionNeeded = local.VersionNeeded;
    c.Flags = local.Flags;
    c.Method = local.Method;
    c.DosDateTime = local.DosDateTime;
    c.Crc32 = walked.Crc32;
    c.CompressedSize = walked.CompressedSize;
    c.UncompressedSize = walked.UncompressedSize;
    c.LocalOffset = c.StatedOffset = local.Offset;
    return c;
}

} // namespace pellux
