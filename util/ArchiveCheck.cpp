// The archive check: each entry's local header held against its central directory
// header, then the archive as a whole. Each rule is a named function in one of the
// lists below; a new rule is one function and one line in its list.
#include "util/ZipRecords.h"

#include "util/ZipRecordBits.h"

#include <algorithm>
#include <iterator>

namespace pellux {

namespace {

// One entry's two headers, with what the rules word their findings by.
struct EntryHeaders {
    ByteSource &Source;
    const CentralEntry &Central;
    const LocalHeader &Local;
    const CentralDirectory &Directory;
    const NameDecoding &Names;

    bool SizesFollow() const { return (Local.Flags & kFlagDataDescriptor) != 0; }
    // Sizes that follow in a data descriptor may stand in the header in part, or as
    // zeros; a saturated size without its ZIP64 field says nothing either.
    bool LocalSizesKnown() const
    {
        return !SizesFollow() && Local.CompressedSize != kSaturated32 && Local.UncompressedSize != kSaturated32;
    }
};

std::string Quoted(const NameDecoding &names, const CentralEntry &entry) { return VisibleName(names.Name(entry)); }

// Some writers store "\\" in one header and "/" in the other; both are separators.
bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && !((a[i] == '/' || a[i] == '\\') && (b[i] == '/' || b[i] == '\\')))
            return false;
    return true;
}

// Why an entry is refused, and the kind of problem its summary line names.
struct Refusal {
    std::string Why;
    std::string Kind;
};

// --- Refusals: the first rule that finds one refuses the entry. -------------------

std::optional<Refusal> OtherName(const EntryHeaders &e)
{
    if (SameName(e.Local.Name, e.Central.Name()))
        return std::nullopt;
    const StoredName local{e.Local.Name, e.Local.Extra, e.Local.Flags, e.Central.VersionMadeBy};
    return Refusal{"the local header names it " + VisibleName(e.Names.Name(local)),
                   "the local header holds another name"};
}

std::optional<Refusal> OtherMethod(const EntryHeaders &e)
{
    if (e.Local.Method == e.Central.Method)
        return std::nullopt;
    return Refusal{"compression method " + std::to_string(e.Local.Method) + " in the local header, "
                       + std::to_string(e.Central.Method) + " in the central directory",
                   "compression method differs between the local header and the central directory"};
}

std::optional<Refusal> OtherSizes(const EntryHeaders &e)
{
    if (!e.LocalSizesKnown()
        || (e.Local.CompressedSize == e.Central.CompressedSize
            && e.Local.UncompressedSize == e.Central.UncompressedSize))
        return std::nullopt;
    return Refusal{"sizes differ between the local header and the central directory",
                   "sizes differ between the local header and the central directory"};
}

std::optional<Refusal> DataPastEntries(const EntryHeaders &e)
{
    const std::uint64_t end = DataEnd(e.Local, e.Central);
    if (end >= e.Local.DataStart && end <= e.Directory.End.directory_start)
        return std::nullopt;
    return Refusal{"its data runs past the end of the entries", "data runs past the end of the entries"};
}

using RefusalRule = std::optional<Refusal> (*)(const EntryHeaders &);
constexpr RefusalRule kRefusalRules[] = {
    OtherName,
    OtherMethod,
    OtherSizes,
    DataPastEntries,
};

// --- Differences an accepted entry may show: one note each, naming the entries. ---

bool CrcDiffers(const EntryHeaders &e)
{
    return (!e.SizesFollow() || e.Local.Crc32 != 0) && e.Local.Crc32 != e.Central.Crc32;
}

bool FlagsDiffer(const EntryHeaders &e)
{
    return ((e.Local.Flags ^ e.Central.Flags) & (kFlagEncrypted | kFlagUtf8)) != 0;
}

// Stored data is its own size: extraction copies the compressed size's bytes and then
// fails the entry, its output longer or shorter than declared.
bool StoredSizesDiffer(const EntryHeaders &e)
{
    return e.Central.Method == 0 && !(e.Central.Flags & kFlagEncrypted)
        && e.Central.CompressedSize != e.Central.UncompressedSize;
}

// A sub-field whose length runs past the extra field's end; fewer than four bytes left
// over are padding (aligning tools add it).
bool ExtraCutShort(std::string_view extra)
{
    const auto *p = reinterpret_cast<const unsigned char *>(extra.data());
    std::size_t i = 0;
    while (i + 4 <= extra.size())
        i += 4 + static_cast<std::size_t>(p[i + 2] | p[i + 3] << 8);
    return i > extra.size();
}

bool EitherExtraCutShort(const EntryHeaders &e)
{
    return ExtraCutShort(e.Central.Extra()) || ExtraCutShort(e.Local.Extra);
}

// The descriptor after a streamed entry's data, when it states the directory's size
// (else it is no descriptor of this data), holds the CRC the writer computed.
bool DescriptorCrcDiffers(const EntryHeaders &e)
{
    if (!e.SizesFollow())
        return false;
    const auto descriptor = ReadDataDescriptor(e.Source, DataEnd(e.Local, e.Central), e.Central.CompressedSize);
    return descriptor && descriptor->CompressedSize == e.Central.CompressedSize && descriptor->Crc32 != e.Central.Crc32;
}

struct DifferenceRule {
    bool (*Differs)(const EntryHeaders &);
    const char *Note; // the names follow
};
constexpr DifferenceRule kDifferenceRules[] = {
    {CrcDiffers, "CRC differs between the local header and the central directory: "},
    {FlagsDiffer, "flags differ between the local header and the central directory: "},
    {DescriptorCrcDiffers, "CRC differs between the data descriptor and the central directory: "},
    {StoredSizesDiffer, "stored, but its two sizes differ (extraction fails): "},
    {EitherExtraCutShort, "extra field cut short: "},
};

// --- Notes on the archive as a whole, before the entries' differences. ------------

std::optional<std::string> DirectoryDamage(ByteSource &, const CentralDirectory &directory)
{
    if (directory.Damage.empty())
        return std::nullopt;
    if (directory.FromLocalHeaders)
        return directory.Damage + ": the entries are read from their local headers";
    return directory.Damage;
}

// Readers that take the last end record would read the one in the comment instead.
std::optional<std::string> EndRecordInComment(ByteSource &, const CentralDirectory &directory)
{
    const pellux_end_record &end = directory.End;
    if (!end.passed_over)
        return std::nullopt;
    return "the archive comment holds another end record, "
        + (end.passed_over_entries == 0 ? std::string("of an empty archive")
                                        : "of " + std::to_string(end.passed_over_entries) + " entries")
        + "; the entries of the earlier one are read";
}

std::optional<std::string> CommentCutShort(ByteSource &source, const CentralDirectory &directory)
{
    const pellux_end_record &end = directory.End;
    const std::uint64_t commentEnd = end.end_pos + PELLUX_END_SIZE + end.comment_length;
    if (commentEnd <= source.Size())
        return std::nullopt;
    return "the archive comment is cut short: its length runs " + std::to_string(commentEnd - source.Size())
        + " bytes past the end of the file";
}

std::optional<std::string> EntryCountDiffers(ByteSource &, const CentralDirectory &directory)
{
    const std::size_t held = directory.Entries.size();
    if (directory.End.entry_count == held || !directory.Damage.empty())
        return std::nullopt;
    // Each central header takes 46 bytes at least.
    if (directory.End.has_end64 && directory.End.entry_count > directory.End.directory_size / 46)
        return "corrupt ZIP64 end record: it counts " + std::to_string(directory.End.entry_count)
            + " entries, the central directory holds " + std::to_string(held);
    return "the end record counts " + std::to_string(directory.End.entry_count)
        + " entries, the central directory holds " + std::to_string(held);
}

std::optional<std::string> OffsetsOff(ByteSource &, const CentralDirectory &directory)
{
    if (directory.DirectoryOffsetWrong)
        return "the offsets of the central directory and of the end record disagree";
    if (directory.End.shift == 0 || directory.Entries.empty())
        return std::nullopt;
    return "the archive's offsets are off by " + std::to_string(directory.End.shift)
        + " bytes (data was put in front of it)";
}

// Padding after an archive is common and harmless; entries after it are not: they are
// another archive, which some tools would read instead.
std::optional<std::string> AnotherArchiveFollows(ByteSource &source, const CentralDirectory &directory)
{
    const pellux_end_record &end = directory.End;
    const std::uint64_t archiveEnd = end.end_pos + PELLUX_END_SIZE + end.comment_length;
    if (archiveEnd >= source.Size())
        return std::nullopt;
    std::string after(static_cast<std::size_t>(std::min<std::uint64_t>(source.Size() - archiveEnd, 1 << 16)), '\0');
    if (!source.ReadAt(archiveEnd, after.data(), after.size()) || after.find("PK\x03\x04") == std::string::npos)
        return std::nullopt;
    return "another archive follows this one (" + std::to_string(source.Size() - archiveEnd) + " bytes)";
}

using ArchiveRule = std::optional<std::string> (*)(ByteSource &, const CentralDirectory &);
constexpr ArchiveRule kArchiveRules[] = {
    DirectoryDamage, EndRecordInComment, CommentCutShort, EntryCountDiffers, OffsetsOff, AnotherArchiveFollows,
};

// The accepted entries whose bytes, header to end of data, overlap another's. Sorted by
// where they begin, an entry beginning before the furthest end seen so far overlaps an
// earlier one.
std::vector<std::string> OverlappingEntries(const std::vector<CentralEntry> &entries, const std::vector<bool> &refused,
                                            const std::vector<std::uint32_t> &headerLength, const NameDecoding &names)
{
    // 32-bit indices halve the table: memory ends long before a directory read whole
    // reaches 2^32 entries.
    std::vector<std::uint32_t> order;
    order.reserve(static_cast<std::size_t>(std::count(refused.begin(), refused.end(), false)));
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (!refused[i])
            order.push_back(static_cast<std::uint32_t>(i));
    const auto byOffset = [&](std::uint32_t a, std::uint32_t b) {
        return entries[a].LocalOffset < entries[b].LocalOffset;
    };
    if (!std::is_sorted(order.begin(), order.end(), byOffset)) // writers mostly keep file order
        std::sort(order.begin(), order.end(), byOffset);
    const auto dataEnd = [&](std::size_t i) {
        return entries[i].LocalOffset + headerLength[i] + entries[i].CompressedSize;
    };
    std::vector<std::string> overlapping;
    std::vector<bool> named(entries.size(), false);
    std::size_t furthest = entries.size();
    for (const std::size_t i : order) {
        if (furthest != entries.size() && entries[i].LocalOffset < dataEnd(furthest)) {
            for (std::size_t k : {furthest, i})
                if (!named[k]) {
                    named[k] = true;
                    overlapping.push_back(Quoted(names, entries[k]));
                }
        }
        if (furthest == entries.size() || dataEnd(i) > dataEnd(furthest))
            furthest = i;
    }
    return overlapping;
}

std::optional<Refusal> FirstRefusal(const EntryHeaders &headers)
{
    for (const RefusalRule rule : kRefusalRules)
        if (auto refusal = rule(headers))
            return refusal;
    return std::nullopt;
}

} // namespace

ArchiveCheck CheckArchive(ByteSource &source, const CentralDirectory &directory, CheckDetail detail,
                          const NameDecoding *names)
{
    ArchiveCheck check;
    const auto &entries = directory.Entries;
    std::optional<NameDecoding> chosen;
    if (!names)
        names = &chosen.emplace(ChooseNameDecoding(entries, {}));
    const bool whole = detail == CheckDetail::Whole;
    if (whole) {
        check.Locals.resize(entries.size());
        check.RefusedBecause.resize(entries.size());
    }
    check.Refused.resize(entries.size(), false);
    // Where each accepted entry's data begins, for the overlap test: as the length of
    // its local header, which fits in half the memory of a position.
    std::vector<std::uint32_t> headerLength(entries.size(), 0);
    // Kinds of refusal in the order first met, with the entries of each.
    std::vector<std::pair<std::string, std::vector<std::string>>> kinds;
    auto refuse = [&](std::size_t i, const Refusal &refusal) {
        check.Refused[i] = true;
        if (whole)
            check.RefusedBecause[i] = refusal.Why;
        check.EntryProblems.push_back(Quoted(*names, entries[i]) + ": " + refusal.Why);
        auto k = std::find_if(kinds.begin(), kinds.end(), [&](const auto &p) { return p.first == refusal.Kind; });
        if (k == kinds.end())
            k = kinds.insert(kinds.end(), {refusal.Kind, {}});
        k->second.push_back(Quoted(*names, entries[i]));
    };
    // By difference rule, the entries that show it.
    std::vector<std::string> differing[std::size(kDifferenceRules)];
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CentralEntry &c = entries[i];
        auto local = ReadLocalHeader(source, c.LocalOffset);
        if (!local) {
            refuse(i, {"local header missing", "local header missing"});
            continue;
        }
        const EntryHeaders headers{source, c, *local, directory, *names};
        if (const auto refusal = FirstRefusal(headers)) {
            refuse(i, *refusal);
            continue;
        }
        for (std::size_t r = 0; r < std::size(kDifferenceRules); ++r)
            if (kDifferenceRules[r].Differs(headers))
                differing[r].push_back(Quoted(*names, c));
        headerLength[i] = static_cast<std::uint32_t>(local->DataStart - c.LocalOffset);
        if (whole) {
            std::string().swap(local->Name); // it equals the directory's; a million would cost
            check.Locals[i] = std::move(local);
        }
    }

    const std::vector<std::string> overlapping = OverlappingEntries(entries, check.Refused, headerLength, *names);
    for (const auto &[kind, names] : kinds)
        check.ProblemSummary.push_back(kind + ", not extracted: " + NameList(names));
    if (!overlapping.empty())
        check.Overlaps.push_back("overlapping entries (possible zip bomb): " + NameList(overlapping));

    for (const ArchiveRule rule : kArchiveRules)
        if (auto note = rule(source, directory))
            check.Notes.push_back(std::move(*note));
    for (std::size_t r = 0; r < std::size(kDifferenceRules); ++r)
        if (!differing[r].empty())
            check.Notes.push_back(kDifferenceRules[r].Note + NameList(differing[r]));
    return check;
}

} // namespace pellux
