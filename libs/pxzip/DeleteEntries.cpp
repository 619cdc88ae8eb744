#include "libs/pxzip/DeleteEntries.h"

#include "libs/common/ArchiveFile.h"
#include "libs/common/EntryInfo.h"
#include "libs/common/PxErrors.h"

#include <memory>
#include <set>

namespace pellux::libs {

namespace {

struct Discard {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};

int CancelRequested(zip_t *, void *state) { return static_cast<Reporter *>(state)->Stopped() ? 1 : 0; }

} // namespace

std::int32_t DeleteEntries(const std::string &archivePath, const std::vector<std::string> &names, Reporter &reporter)
{
    int error = 0;
    std::unique_ptr<zip_t, Discard> archive(OpenArchive(archivePath, 0, &error, &reporter));
    if (!archive) {
        reporter.Error(kPxArchiveError, archivePath + ": " + ErrorText(error));
        return 0;
    }
    std::int32_t removed = 0;
    std::set<std::string> seen;
    std::set<zip_uint64_t> deleted;
    for (const auto &name : names) {
        if (!seen.insert(name).second)
            continue; // a name given twice removes its entry once
        const zip_int64_t index = zip_name_locate(archive.get(), name.c_str(), ZIP_FL_ENC_RAW);
        if (index < 0) {
            reporter.Error(kPxNotMatched, "name not matched: " + name);
            continue;
        }
        zip_stat_t stat;
        zip_stat_index(archive.get(), static_cast<zip_uint64_t>(index), 0, &stat);
        if (reporter.File(name, (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0))
            return 0;
        if (zip_delete(archive.get(), static_cast<zip_uint64_t>(index)) != 0) {
            reporter.Error(kPxArchiveError, "cannot delete " + name + ": " + ArchiveError(archive.get()));
            return 0;
        }
        deleted.insert(static_cast<zip_uint64_t>(index));
        ++removed;
    }
    if (removed == 0)
        return 0;
    // Copying the entries that stay is the work; the archive file reports it as it reads.
    if (reporter.Total(CopiedBytes(archive.get(), deleted)))
        return 0;
    zip_register_cancel_callback_with_state(archive.get(), CancelRequested, nullptr, &reporter);
    if (zip_close(archive.get()) != 0) {
        if (!reporter.Stopped())
            reporter.Error(kPxArchiveError, "cannot write " + archivePath + ": " + ArchiveError(archive.get()));
        return 0;
    }
    archive.release();
    return removed;
}

} // namespace pellux::libs
