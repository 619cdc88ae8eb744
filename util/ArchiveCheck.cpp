// The archive check: each entry's local header held against its central directory
// header, then the archive as a whole.
#include "util/ZipRecords.h"

#include "util/ZipRecordBits.h"

#include <algorithm>

namespace pellux {

namespace {

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

} // namespace

ArchiveCheck CheckArchive(ByteSource &source, const CentralDirectory &directory, CheckDetail detail,
                          const NameDecoding *names)
{
    ArchiveCheck check;
    const auto &entries = directory.Entries;
    std::optional<NameDecoding> chosen;
    if (!names)
        names = &chosen.emplace(ChooseNameDecoding(entries, {}));
    const auto Quoted = [names](const CentralEntry &entry) { return VisibleName(names->Name(entry)); };
    const pellux_end_record &end = directory.End;
    const bool whole = detail == CheckDetail::Whole;
    if (whole) {
        check.Locals.resize(entries.size());
        check.RefusedBecause.resize(entries.size());
    }
    check.Refused.resize(entries.size(), false);
    // Where each accepted entry's data begins, for the overlap test below.
    std::vector<std::uint64_t> dataStart(entries.size(), 0);
    // Kinds of refusal in the order first met, with the entries of each.
    std::vector<std::pair<std::string, std::vector<std::string>>> kinds;
    auto refuse = [&](std::size_t i, const std::string &why, const std::string &kind) {
        check.Refused[i] = true;
        if (whole)
            check.RefusedBecause[i] = why;
        check.EntryProblems.push_back(Quoted(entries[i]) + ": " + why);
        auto k = std::find_if(kinds.begin(), kinds.end(), [&](const auto &p) { return p.first == kind; });
        if (k == kinds.end())
            k = kinds.insert(kinds.end(), {kind, {}});
        k->second.push_back(Quoted(entries[i]));
    };
    std::vector<std::string> crcDiffers, flagsDiffer;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CentralEntry &c = entries[i];
        auto local = ReadLocalHeader(source, c.LocalOffset);
        if (!local) {
            refuse(i, "local header missing", "local header missing");
            continue;
        }
        // Sizes that follow in a data descriptor may stand in the header in part, or as
        // zeros; a saturated size without its ZIP64 field says nothing either.
        const bool sizesFollow = (local->Flags & kFlagDataDescriptor) != 0;
        const bool localSizesKnown =
            !sizesFollow && local->CompressedSize != kSaturated32 && local->UncompressedSize != kSaturated32;
        if (!SameName(local->Name, c.Name))
            refuse(i,
                   "the local header names it "
                       + VisibleName(names->Name(StoredName{local->Name, local->Extra, local->Flags, c.VersionMadeBy})),
                   "the local header holds another name");
        else if (local->Method != c.Method)
            refuse(i,
                   "compression method " + std::to_string(local->Method) + " in the local header, "
                       + std::to_string(c.Method) + " in the central directory",
                   "compression method differs between the local header and the central directory");
        else if (localSizesKnown
                 && (local->CompressedSize != c.CompressedSize || local->UncompressedSize != c.UncompressedSize))
            refuse(i, "sizes differ between the local header and the central directory",
                   "sizes differ between the local header and the central directory");
        else if (DataEnd(*local, c) < local->DataStart || DataEnd(*local, c) > end.directory_start)
            refuse(i, "its data runs past the end of the entries", "data runs past the end of the entries");
        if (check.Refused[i])
            continue;
        if ((!sizesFollow || local->Crc32 != 0) && local->Crc32 != c.Crc32)
            crcDiffers.push_back(Quoted(c));
        if ((local->Flags ^ c.Flags) & (kFlagEncrypted | kFlagUtf8))
            flagsDiffer.push_back(Quoted(c));
        dataStart[i] = local->DataStart;
        if (whole) {
            std::string().swap(local->Name); // it equals the directory's; a million would cost
            check.Locals[i] = std::move(local);
        }
    }

    // Each entry's bytes, header to end of data, sorted by where they begin: an entry
    // beginning before the furthest end seen so far overlaps an earlier one.
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (!check.Refused[i])
            order.push_back(i);
    const auto byOffset = [&](std::size_t a, std::size_t b) { return entries[a].LocalOffset < entries[b].LocalOffset; };
    if (!std::is_sorted(order.begin(), order.end(), byOffset)) // writers mostly keep file order
        std::sort(order.begin(), order.end(), byOffset);
    std::vector<std::string> overlapping;
    std::vector<bool> named(entries.size(), false);
    std::size_t furthest = entries.size();
    for (std::size_t i : order) {
        if (furthest != entries.size()
            && entries[i].LocalOffset < dataStart[furthest] + entries[furthest].CompressedSize) {
            for (std::size_t k : {furthest, i})
                if (!named[k]) {
                    named[k] = true;
                    overlapping.push_back(Quoted(entries[k]));
                }
        }
        if (furthest == entries.size()
            || dataStart[i] + entries[i].CompressedSize > dataStart[furthest] + entries[furthest].CompressedSize)
            furthest = i;
    }
    for (const auto &[kind, names] : kinds)
        check.ProblemSummary.push_back(kind + ", not extracted: " + NameList(names));
    if (!overlapping.empty())
        check.Overlaps.push_back("overlapping entries (possible zip bomb): " + NameList(overlapping));

    if (!directory.Damage.empty())
        check.Notes.push_back(directory.Damage);
    if (end.entry_count != entries.size() && directory.Damage.empty())
        check.Notes.push_back("the end record counts " + std::to_string(end.entry_count)
                              + " entries, the central directory holds " + std::to_string(entries.size()));
    if (directory.DirectoryOffsetWrong)
        check.Notes.push_back("the offsets of the central directory and of the end record disagree");
    else if (end.shift != 0 && !entries.empty())
        check.Notes.push_back("the archive's offsets are off by " + std::to_string(end.shift)
                              + " bytes (data was put in front of it)");
    // Padding after an archive is common and harmless; entries after it are not: they are
    // another archive, which some tools would read instead.
    const std::uint64_t archiveEnd = end.end_pos + PELLUX_END_SIZE + end.comment_length;
    if (archiveEnd < source.Size()) {
        std::string after(static_cast<std::size_t>(std::min<std::uint64_t>(source.Size() - archiveEnd, 1 << 16)), '\0');
        if (source.ReadAt(archiveEnd, after.data(), after.size()) && after.find("PK\x03\x04") != std::string::npos)
            check.Notes.push_back("another archive follows this one (" + std::to_string(source.Size() - archiveEnd)
                                  + " bytes)");
    }
    if (!crcDiffers.empty())
        check.Notes.push_back("CRC differs between the local header and the central directory: "
                              + NameList(crcDiffers));
    if (!flagsDiffer.empty())
        check.Notes.push_back("flags differ between the local header and the central directory: "
                              + NameList(flagsDiffer));
    return check;
}

} // namespace pellux
