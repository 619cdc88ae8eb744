#include "libs/pxunz/ArchiveContents.h"

#include <utility>

namespace pellux::libs {

namespace {

ArchiveContents FromDirectory(ByteSource &source, CentralDirectory directory)
{
    ArchiveContents contents;
    ArchiveCheck check = CheckArchive(source, directory);
    if (check.Overlapping()) {
        for (const auto &overlap : check.Overlaps)
            contents.Fatal += (contents.Fatal.empty() ? "" : "; ") + overlap;
        return contents;
    }
    contents.Warnings = std::move(check.Notes);
    contents.NameBytes = std::move(directory.NameBytes);
    for (std::size_t i = 0; i < directory.Entries.size(); ++i) {
        ArchiveEntry entry;
        entry.Central = std::move(directory.Entries[i]);
        if (auto &local = check.Locals[i]) {
            entry.LocalExtra = std::move(local->Extra);
            entry.DataStart = local->DataStart;
        }
        entry.Refused = std::move(check.RefusedBecause[i]);
        contents.Entries.push_back(std::move(entry));
    }
    return contents;
}

// What the local headers alone tell, the entries of a directory read in part filling in
// what they lack (Unix modes, the exact sizes of streamed entries).
ArchiveContents Recovered(ByteSource &source, const CentralDirectory *directory)
{
    ArchiveContents contents;
    const LocalWalk walk = WalkLocalHeaders(source, directory);
    if (walk.Entries.empty() && (!directory || directory->Entries.empty())) {
        contents.Fatal = directory ? directory->Damage + ", and no entry was found before it" : "not a zip archive";
        return contents;
    }
    contents.Warnings.push_back("the archive is damaged ("
                                + (directory ? directory->Damage : std::string("no central directory"))
                                + "): extracting the entries its local headers hold");
    std::vector<bool> found(directory ? directory->Entries.size() : 0, false);
    for (const auto &walked : walk.Entries) {
        ArchiveEntry entry;
        const LocalHeader &local = walked.Local;
        bool known = false;
        for (std::size_t i = 0; i < found.size() && !known; ++i) {
            const CentralEntry &c = directory->Entries[i];
            if (c.LocalOffset == local.Offset && c.Name() == local.Name) {
                entry.Central = c;
                found[i] = known = true;
            }
        }
        if (!known)
            entry.Central = CentralOf(walked);
        entry.Central.Crc32 = walked.Crc32;
        entry.Central.CompressedSize = walked.CompressedSize;
        entry.Central.UncompressedSize = walked.UncompressedSize;
        entry.LocalExtra = local.Extra;
        entry.DataStart = local.DataStart;
        entry.Refused = walked.Damage;
        contents.Entries.push_back(std::move(entry));
    }
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (!found[i]) {
            ArchiveEntry entry;
            entry.Central = directory->Entries[i];
            entry.Refused = "its local header was not found";
            contents.Entries.push_back(std::move(entry));
        }
    }
    if (!walk.Stopped.empty())
        contents.Errors.push_back("nothing more could be recovered: " + walk.Stopped);
    return contents;
}

} // namespace

ArchiveContents ReadArchiveContents(ByteSource &source, std::string_view nameEncoding)
{
    auto directory = ReadCentralDirectory(source);
    ArchiveContents contents = directory && directory->Damage.empty()
        ? FromDirectory(source, std::move(*directory))
        : Recovered(source, directory ? &*directory : nullptr);
    contents.Names = ChooseNameDecoding(contents.Entries, nameEncoding, &ArchiveEntry::Central);
    return contents;
}

} // namespace pellux::libs
