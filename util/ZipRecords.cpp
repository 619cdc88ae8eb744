// Reading the records as they stand in the file: the central directory, a local
// header, and the extra fields inside them.
#include "util/ZipRecords.h"

#include "platform/HugePages.h"
#include "util/LittleEndian.h"
#include "util/ZipRecordBits.h"

#include <algorithm>

namespace pellux {

namespace {

constexpr std::size_t kCentralFixed = 46; // signature included
constexpr std::size_t kLocalFixed = 30;

int ReadCallback(void *context, std::uint64_t offset, void *buffer, std::size_t length)
{
    return static_cast<ByteSource *>(context)->ReadAt(offset, buffer, length) ? 0 : -1;
}

// The central directory read a window at a time: a million headers need not sit in
// memory beside the entries made from them.
class DirectoryWindow {
public:
    DirectoryWindow(ByteSource &source, std::uint64_t start, std::uint64_t size)
        : source_(source), start_(start), size_(size)
    {
    }
    // The `length` bytes at position `p` of the directory (p + length within it); null
    // when they cannot be read.
    const unsigned char *At(std::uint64_t p, std::size_t length)
    {
        if (p < at_ || p + length > at_ + bytes_.size()) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(std::max(length, kWindow), size_ - p));
            bytes_.resize(want);
            at_ = p;
            if (!source_.ReadAt(start_ + p, bytes_.data(), want)) {
                bytes_.clear();
                failed_ = true;
                return nullptr;
            }
        }
        return bytes_.data() + (p - at_);
    }
    bool Failed() const { return failed_; }

private:
    static constexpr std::size_t kWindow = 1 << 20;
    ByteSource &source_;
    std::uint64_t start_, size_;
    std::uint64_t at_ = 0;
    std::vector<unsigned char> bytes_;
    bool failed_ = false;
};

} // namespace

void EntryBytes::Set(std::string_view first, std::string_view second)
{
    if (first.empty() && second.empty()) {
        Clear();
        return;
    }
    // Filled before the old bytes go: either view may be of them.
    auto bytes = std::make_unique_for_overwrite<char[]>(first.size() + second.size());
    std::copy(first.begin(), first.end(), bytes.get());
    std::copy(second.begin(), second.end(), bytes.get() + first.size());
    own_ = std::move(bytes);
    data_ = own_.get();
    firstLength_ = static_cast<std::uint32_t>(first.size());
    secondLength_ = static_cast<std::uint32_t>(second.size());
}

void EntryBytes::SetKept(KeptBytes &kept, std::string_view first, std::string_view second)
{
    data_ = kept.Keep(first, second);
    own_.reset();
    firstLength_ = static_cast<std::uint32_t>(first.size());
    secondLength_ = static_cast<std::uint32_t>(second.size());
}

void EntryBytes::Clear() noexcept
{
    own_.reset();
    data_ = "";
    firstLength_ = secondLength_ = 0;
}

void EntryBytes::Take(EntryBytes &other) noexcept
{
    own_ = std::move(other.own_);
    data_ = other.data_;
    firstLength_ = other.firstLength_;
    secondLength_ = other.secondLength_;
    other.data_ = "";
    other.firstLength_ = other.secondLength_ = 0;
}

std::optional<std::string_view> FindExtraField(std::string_view extra, std::uint16_t id)
{
    const auto *p = reinterpret_cast<const unsigned char *>(extra.data());
    for (std::size_t i = 0; i + 4 <= extra.size();) {
        const std::size_t length = le::U16(p + i + 2);
        if (i + 4 + length > extra.size())
            return std::nullopt;
        if (le::U16(p + i) == id)
            return extra.substr(i + 4, length);
        i += 4 + length;
    }
    return std::nullopt;
}

namespace {

// When the ZIP64 end records cannot be true, the directory they point to is not to be
// trusted either: the entries are those the local headers hold, and Damage says why.
CentralDirectory FromLocalHeaders(ByteSource &source, const pellux_end_record &end)
{
    CentralDirectory directory;
    directory.End = end;
    directory.Damage = "corrupt ZIP64 end record";
    directory.FromLocalHeaders = true;
    LocalWalk walk = WalkLocalHeaders(source);
    for (const auto &walked : walk.Entries) {
        if (!walked.Complete)
            break;
        directory.Entries.push_back(CentralOf(walked));
    }
    // The entries end where the end records begin; what the records say is not used.
    directory.End.directory_start = end.has_locator ? end.locator_pos : end.end_pos;
    directory.End.directory_size = 0;
    directory.End.directory_offset = directory.End.directory_start;
    directory.End.entry_count = directory.Entries.size();
    directory.End.shift = 0;
    return directory;
}

} // namespace

// Reads the central header at position `p` of the directory into `e` and steps `p`
// past it; false where no whole header is.
static bool ReadCentralHeader(DirectoryWindow &window, std::uint64_t &p, std::uint64_t size, std::int64_t shift,
                              CentralEntry &e, KeptBytes *kept)
{
    const unsigned char *h = nullptr;
    if (!(p + kCentralFixed <= size && (h = window.At(p, kCentralFixed)) && HasSignature(h, 1, 2)))
        return false;
    e = CentralEntry();
    e.VersionMadeBy = le::U16(h + 4);
    e.VersionNeeded = le::U16(h + 6);
    e.Flags = le::U16(h + 8);
    e.Method = le::U16(h + 10);
    e.DosDateTime = le::U32(h + 12);
    e.Crc32 = le::U32(h + 16);
    e.CompressedSize = le::U32(h + 20);
    e.UncompressedSize = le::U32(h + 24);
    const std::size_t nameLength = le::U16(h + 28);
    const std::size_t extraLength = le::U16(h + 30);
    const std::size_t commentLength = le::U16(h + 32);
    e.DiskStart = le::U16(h + 34);
    e.ExternalAttributes = le::U32(h + 38);
    e.StatedOffset = le::U32(h + 42);
    const std::uint64_t next = p + kCentralFixed + nameLength + extraLength + commentLength;
    if (next > size)
        return false;
    const auto *rest = reinterpret_cast<const char *>(window.At(p, kCentralFixed + nameLength + extraLength));
    if (!rest)
        return false;
    const std::string_view name(rest + kCentralFixed, nameLength),
        extra(rest + kCentralFixed + nameLength, extraLength);
    if (kept)
        e.KeepNameAndExtra(*kept, name, extra);
    else
        e.SetNameAndExtra(name, extra);
    // ZIP64 (APPNOTE 4.5.3): only the saturated fields follow, in this order.
    if (const auto zip64 = FindExtraField(e.Extra(), kExtraZip64)) {
        const auto *z = reinterpret_cast<const unsigned char *>(zip64->data());
        std::size_t used = 0;
        for (std::uint64_t *field : {&e.UncompressedSize, &e.CompressedSize, &e.StatedOffset}) {
            if (*field == kSaturated32 && used + 8 <= zip64->size()) {
                *field = le::U64(z + used);
                used += 8;
            }
        }
        if (e.DiskStart == 0xFFFF && used + 4 <= zip64->size())
            e.DiskStart = le::U32(z + used);
    }
    e.LocalOffset = e.StatedOffset + static_cast<std::uint64_t>(shift);
    p = next;
    return true;
}

std::optional<CentralDirectory> ReadCentralDirectory(ByteSource &source)
{
    CentralDirectory directory;
    const int found = pellux_find_end_record(ReadCallback, &source, source.Size(), &directory.End);
    if (found == PELLUX_END_OUT_OF_RANGE && directory.End.end64_corrupt)
        return FromLocalHeaders(source, directory.End);
    if (found != PELLUX_END_FOUND)
        return std::nullopt;
    const pellux_end_record &end = directory.End;
    const std::uint64_t size = end.directory_size;
    if (end.directory_start > source.Size() || size > source.Size() - end.directory_start) {
        directory.Damage = "the central directory cannot be read";
        return directory;
    }
    DirectoryWindow window(source, end.directory_start, size);
    // The count may lie; the directory's size bounds how many headers it can hold.
    directory.Entries.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(end.entry_count, size / kCentralFixed)));
    AdviseHugePagesFor(directory.Entries);
    std::uint64_t p = 0;
    CentralEntry e;
    while (ReadCentralHeader(window, p, size, end.shift, e, &directory.NameBytes))
        directory.Entries.push_back(std::move(e));
    // A shift says data was put in front of the archive, unless the entries' headers are
    // where their offsets say: then the end record, or a writer's arithmetic, is wrong.
    if (end.shift != 0) {
        unsigned char h[4];
        auto localAt = [&](std::uint64_t at) { return source.ReadAt(at, h, 4) && HasSignature(h, 3, 4); };
        std::size_t unshifted = 0;
        for (auto &e : directory.Entries) {
            if (!localAt(e.LocalOffset) && localAt(e.StatedOffset)) {
                e.LocalOffset = e.StatedOffset;
                ++unshifted;
            }
        }
        if (unshifted == directory.Entries.size() && unshifted > 0)
            directory.End.shift = 0;
        directory.DirectoryOffsetWrong = unshifted > 0;
    }
    // A digital signature record ("PK" 05 05) may close the directory.
    if (window.Failed()) {
        // As when the whole directory cannot be read: none of it is trusted.
        directory.Entries.clear();
        directory.Damage = "the central directory cannot be read";
        return directory;
    }
    const unsigned char *tail = p + 4 <= size ? window.At(p, 4) : nullptr;
    if (p < size && !(tail && HasSignature(tail, 5, 5)))
        directory.Damage =
            "the central directory is damaged after " + std::to_string(directory.Entries.size()) + " entries";
    return directory;
}

std::vector<CentralEntry> ReadCentralEntries(ByteSource &source, const CentralDirectory &directory,
                                             const std::vector<std::size_t> &indices)
{
    std::vector<CentralEntry> chosen;
    if (indices.empty())
        return chosen;
    chosen.reserve(indices.size());
    if (directory.FromLocalHeaders) {
        // No directory bytes to read by position: the local headers again.
        if (const auto again = ReadCentralDirectory(source))
            for (const std::size_t i : indices)
                if (i < again->Entries.size())
                    chosen.push_back(again->Entries[i]);
        return chosen;
    }
    const pellux_end_record &end = directory.End;
    if (end.directory_start > source.Size() || end.directory_size > source.Size() - end.directory_start)
        return chosen;
    DirectoryWindow window(source, end.directory_start, end.directory_size);
    std::uint64_t p = 0;
    CentralEntry e;
    auto wanted = indices.begin();
    for (std::size_t i = 0;
         wanted != indices.end() && ReadCentralHeader(window, p, end.directory_size, end.shift, e, nullptr); ++i) {
        if (i == *wanted) {
            chosen.push_back(std::move(e));
            ++wanted;
        }
    }
    return chosen;
}

std::optional<LocalHeader> ReadLocalHeader(ByteSource &source, std::uint64_t offset)
{
    // One read mostly brings the name and extra field too.
    unsigned char h[kLocalFixed + 256];
    const std::uint64_t size = source.Size();
    std::size_t got = offset < size ? static_cast<std::size_t>(std::min<std::uint64_t>(sizeof h, size - offset)) : 0;
    if (got > kLocalFixed && !source.ReadAt(offset, h, got))
        got = kLocalFixed; // a source that holds less than it says: the fixed part alone
    if (got < kLocalFixed || (got == kLocalFixed && !source.ReadAt(offset, h, got)) || !HasSignature(h, 3, 4))
        return std::nullopt;
    LocalHeader l;
    l.Offset = offset;
    l.VersionNeeded = le::U16(h + 4);
    l.Flags = le::U16(h + 6);
    l.Method = le::U16(h + 8);
    l.DosDateTime = le::U32(h + 10);
    l.Crc32 = le::U32(h + 14);
    l.CompressedSize = le::U32(h + 18);
    l.UncompressedSize = le::U32(h + 22);
    const std::size_t nameLength = le::U16(h + 26);
    const std::size_t extraLength = le::U16(h + 28);
    if (kLocalFixed + nameLength + extraLength <= got) {
        l.Name.assign(reinterpret_cast<const char *>(h) + kLocalFixed, nameLength);
        l.Extra.assign(reinterpret_cast<const char *>(h) + kLocalFixed + nameLength, extraLength);
    } else {
        std::string rest(nameLength + extraLength, '\0');
        if (!source.ReadAt(offset + kLocalFixed, rest.data(), rest.size()))
            return std::nullopt;
        l.Name = rest.substr(0, nameLength);
        l.Extra = rest.substr(nameLength);
    }
    l.DataStart = offset + kLocalFixed + nameLength + extraLength;
    // A local ZIP64 field holds both sizes, the uncompressed first.
    if (l.CompressedSize == kSaturated32 || l.UncompressedSize == kSaturated32) {
        if (const auto zip64 = FindExtraField(l.Extra, kExtraZip64); zip64 && zip64->size() >= 16) {
            const auto *z = reinterpret_cast<const unsigned char *>(zip64->data());
            l.UncompressedSize = le::U64(z);
            l.CompressedSize = le::U64(z + 8);
        }
    }
    return l;
}

} // namespace pellux
