#include "zip/ZipListReader.h"

#include "platform/Exceptions.h"
#include "util/LittleEndian.h"
#include "util/ZipSignatures.h"
#include "zip/CentralDirectory.h"

#include <cstring>
#include <optional>

namespace pellux {

namespace {

constexpr std::uint16_t kFlagDataDescriptor = 1u << 3; // sizes and CRC follow the data

[[noreturn]] void Fail(const char *text) { throw EStreamError(text); }

// Finds the first local header signature; every byte is a candidate, so "P" followed
// by "PK" 03 04 is found at the second "P". Leaves the stream after the signature.
bool FindFirstLocalHeader(InputStream &stream)
{
    static constexpr unsigned char kSig[4] = {'P', 'K', 3, 4};
    unsigned char window[4];
    for (std::int64_t candidate = 0; candidate < kSignatureCandidateLimit; ++candidate) {
        if (stream.SeekTo(candidate) != candidate)
            return false;
        const std::size_t got = stream.Read(window, sizeof window);
        if (got == 0)
            return false;
        std::size_t matched = 0;
        while (matched < got && window[matched] == kSig[matched])
            ++matched;
        if (matched == 4)
            return true;
        if (matched == got)
            return false; // the file ends inside a partial signature
    }
    return false;
}

bool ReadSignature(InputStream &stream, std::uint32_t &signature)
{
    unsigned char bytes[4];
    if (stream.Read(bytes, 4) != 4)
        return false;
    signature = le::U32(bytes);
    return true;
}

// The ZIP64 extra field of a local header (APPNOTE 4.5.3) carries both sizes, the
// uncompressed first. Returns the compressed size when present.
std::optional<std::uint64_t> Zip64CompressedSize(const std::vector<unsigned char> &extra)
{
    for (std::size_t e = 0; e + 4 <= extra.size();) {
        const std::uint16_t id = le::U16(extra.data() + e);
        const std::size_t length = le::U16(extra.data() + e + 2);
        if (e + 4 + length > extra.size())
            break;
        if (id == sig::kZip64ExtraId && length >= 16)
            return le::U64(extra.data() + e + 4 + 8);
        e += 4 + length;
    }
    return std::nullopt;
}

std::uint32_t Saturate32(std::uint64_t value)
{
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

class EntryWalker {
public:
    EntryWalker(InputStream &stream, std::vector<ZipDirEntry> &entries) : stream_(stream), entries_(entries) {}

    void Walk()
    {
        std::uint32_t signature = sig::kLocalHeader;
        for (;;) {
            if (signature == sig::kLocalHeader) {
                ReadEntry();
                if (!ReadSignature(stream_, signature))
                    Fail("Error reading Zip File");
            } else if (signature == sig::kCentralHeader || signature == sig::kEndOfCentralDir) {
                return;
            } else if (!ReadSignature(stream_, signature)) {
                // Unknown words between entries are stepped over four bytes at a time.
                Fail("Error reading Zip File");
            }
        }
    }

private:
    void ReadEntry()
    {
        const std::int64_t headerOffset = stream_.Position() - 4;
        unsigned char fixed[ZipDirEntry::kFixedSize];
        if (stream_.Read(fixed, sizeof fixed) != sizeof fixed)
            Fail("Error 2 reading Zip file");
        ZipDirEntry entry;
        entry.DecodeFixed(fixed);
        std::string name(entry.FileNameLength, '\0');
        if (stream_.Read(name.data(), name.size()) != name.size())
            Fail("Error 2 reading Zip file");
        if (const auto nul = name.find('\0'); nul != std::string::npos)
            name.resize(nul);
        entry.FileName = std::move(name);
        entries_.push_back(std::move(entry));
        ZipDirEntry &e = entries_.back();

        const std::int64_t afterName = stream_.Position();
        std::uint64_t dataSize = e.CompressedSize;
        bool zip64 = false;
        if (e.CompressedSize == 0xFFFFFFFFu && e.ExtraFieldLength > 0) {
            std::vector<unsigned char> extra(e.ExtraFieldLength);
            if (stream_.Read(extra.data(), extra.size()) == extra.size()) {
                if (const auto size64 = Zip64CompressedSize(extra)) {
                    dataSize = *size64;
                    zip64 = true;
                }
            }
            stream_.SeekTo(afterName);
        }
        const bool hasDescriptor = (e.GeneralPurposeFlag & kFlagDataDescriptor) != 0;
        if (hasDescriptor && e.CompressedSize == 0)
            ResolveFromDescriptor(e, headerOffset, afterName + e.ExtraFieldLength, dataSize, zip64);

        // The entry's extra field and data must leave room for an end record.
        if (afterName + e.ExtraFieldLength + static_cast<std::int64_t>(dataSize)
            > stream_.Size() - static_cast<std::int64_t>(sig::kEndOfCentralDirSize))
            Fail("Error 3 reading Zip file");
        if (e.ExtraFieldLength > 0 && stream_.SeekBy(e.ExtraFieldLength) != afterName + e.ExtraFieldLength)
            Fail("Error 4 reading Zip file");
        const std::int64_t dataStart = stream_.Position();
        const std::int64_t dataEnd = dataStart + static_cast<std::int64_t>(dataSize);
        if (stream_.SeekTo(dataEnd) != dataEnd)
            Fail("Error 5 reading Zip file");
        if (hasDescriptor)
            SkipDescriptor(e, zip64);
    }

    // Local header sizes are zero; the true ones are in the central directory and in
    // the data descriptor after the data.
    void ResolveFromDescriptor(ZipDirEntry &e, std::int64_t headerOffset, std::int64_t dataStart,
                               std::uint64_t &dataSize, bool &zip64)
    {
        if (!index_)
            index_ = CentralDirectoryIndex::Load(stream_);
        std::optional<EntrySizes> sizes = index_->Find(headerOffset);
        if (!sizes)
            sizes = FindDataDescriptor(stream_, dataStart);
        stream_.SeekTo(dataStart - e.ExtraFieldLength);
        if (!sizes)
            return; // nothing better known: the walk steps through the data
        e.Crc32 = sizes->Crc32;
        e.CompressedSize = Saturate32(sizes->CompressedSize);
        e.UncompressedSize = Saturate32(sizes->UncompressedSize);
        dataSize = sizes->CompressedSize;
        zip64 = zip64 || sizes->CompressedSize >= 0xFFFFFFFFu || sizes->UncompressedSize >= 0xFFFFFFFFu;
    }

    // Steps over a data descriptor (APPNOTE 4.3.9): an optional "PK" 07 08, the CRC
    // and both sizes (8 bytes each for ZIP64). Anything else is left to the walk.
    void SkipDescriptor(const ZipDirEntry &e, bool zip64)
    {
        const std::int64_t at = stream_.Position();
        unsigned char d[16];
        const std::size_t got = stream_.Read(d, sizeof d);
        stream_.SeekTo(at);
        if (got < 4)
            return;
        const std::int64_t body = zip64 ? 20 : 12;
        if (le::U32(d) == sig::kDataDescriptor)
            stream_.SeekTo(at + 4 + body);
        else if (e.Crc32 != 0 && le::U32(d) == e.Crc32 && got >= 12 && le::U32(d + 4) == e.CompressedSize)
            stream_.SeekTo(at + body);
    }

    InputStream &stream_;
    std::vector<ZipDirEntry> &entries_;
    std::optional<CentralDirectoryIndex> index_;
};

} // namespace

ListOutcome ReadEntryList(InputStream &stream, std::vector<ZipDirEntry> &entries)
{
    if (!FindFirstLocalHeader(stream))
        return ListOutcome::NoEntries;
    EntryWalker(stream, entries).Walk();
    return ListOutcome::Complete;
}

} // namespace pellux
