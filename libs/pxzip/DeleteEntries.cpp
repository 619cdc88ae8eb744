#include "libs/pxzip/DeleteEntries.h"

#include "libs/common/PxErrors.h"
#include "libs/pxzip/ExistingArchive.h"
#include "libs/pxzip/OutputFile.h"

#include <set>

namespace pellux::libs {

std::int32_t DeleteEntries(const std::string &archivePath, const std::vector<std::string> &names, Reporter &reporter)
{
    ExistingArchive archive;
    if (!archive.Open(archivePath, false, reporter))
        return 0;
    std::int32_t removed = 0;
    std::set<std::string> seen;
    std::vector<bool> deleted(archive.Count(), false);
    for (const auto &name : names) {
        if (!seen.insert(name).second)
            continue; // a name given twice removes its entry once
        const std::ptrdiff_t index = archive.Find(name);
        if (index < 0) {
            reporter.Error(kPxNotMatched, "name not matched: " + name);
            continue;
        }
        const auto at = static_cast<std::size_t>(index);
        if (reporter.File(name, archive.Record(at).UncompressedSize))
            return 0;
        deleted[at] = true;
        ++removed;
    }
    if (removed == 0)
        return 0;
    if (const std::uint64_t unheld = archive.UnheldBytes())
        reporter.Warning(archivePath + ": " + std::to_string(unheld)
                         + " bytes between entries belong to no entry; they are left out");
    // Copying the entries that stay is the work.
    std::uint64_t copied = 0;
    for (std::size_t i = 0; i < archive.Count(); ++i) {
        if (!deleted[i])
            copied += archive.Record(i).CompressedSize;
    }
    if (reporter.Total(copied))
        return 0;

    OutputFile out;
    auto fail = [&] {
        if (!reporter.Stopped())
            reporter.Error(kPxArchiveError, "cannot write " + archivePath + ": " + out.Error());
        return 0; // the unfinished file goes with `out`; the archive is untouched
    };
    if (!out.Create(archivePath))
        return fail();
    // Runs of entries that stay, each in as few copies as the kernel allows.
    for (std::size_t i = 0; i < archive.Count();) {
        if (deleted[i]) {
            ++i;
            continue;
        }
        std::size_t run = 1;
        while (i + run < archive.Count() && !deleted[i + run])
            ++run;
        if (!archive.CopyHere(i, run, out, reporter))
            return fail();
        i += run;
    }
    const std::uint64_t directoryStart = out.Position();
    for (std::size_t i = 0; i < archive.Count(); ++i) {
        if (!deleted[i] && !out.Write(CentralHeaderBytes(archive.Record(i))))
            return fail();
    }
    const std::uint64_t directorySize = out.Position() - directoryStart;
    const std::size_t kept = archive.Count() - static_cast<std::size_t>(removed);
    if (!out.Write(EndRecordBytes(kept, directoryStart, directorySize, archive.Comment())) || !out.Commit())
        return fail();
    return removed;
}

} // namespace pellux::libs
