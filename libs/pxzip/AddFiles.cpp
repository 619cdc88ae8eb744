#include "libs/pxzip/AddFiles.h"

#include "libs/common/EntryInfo.h"
#include "libs/common/PxErrors.h"
#include "libs/pxzip/ArchiveWriter.h"
#include "libs/pxzip/ExistingArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace pellux::libs {

namespace {

struct Discard {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
using ArchivePtr = std::unique_ptr<zip_t, Discard>;

constexpr std::size_t kItemsPerStep = 256;

bool NeedsWriting(const ExistingArchive &archive, std::ptrdiff_t index, const SourceItem &item,
                  const AddRequest &request)
{
    if (!request.Update && !request.Freshen)
        return true;
    if (index < 0)
        return request.Update; // freshen touches existing entries only
    // DOS times keep even seconds only; a file within that rounding is not newer.
    const auto at = static_cast<std::size_t>(index);
    return item.Stat.st_mtime > archive.Mtime(at) + (archive.HasTimestamp(at) ? 0 : 1);
}

void RemoveSources(const std::vector<const SourceItem *> &files, const std::vector<const SourceItem *> &dirs,
                   Reporter &reporter)
{
    for (const auto *item : files) {
        if (::unlink(item->Path.c_str()) != 0)
            reporter.Warning("cannot remove " + item->Path + ": " + std::strerror(errno));
    }
    // Deepest first; a directory that still holds something stays.
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it)
        ::rmdir((*it)->Path.c_str());
}

} // namespace

void StampArchiveTime(const std::string &archivePath, Reporter &reporter)
{
    int error = 0;
    ArchivePtr archive(zip_open(archivePath.c_str(), ZIP_RDONLY, &error));
    if (!archive)
        return;
    std::time_t newest = 0;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &stat) == 0)
            newest = std::max(newest, EntryMtime(archive.get(), static_cast<zip_uint64_t>(i), stat));
    }
    if (newest == 0)
        return;
    const timespec times[2] = {{newest, 0}, {newest, 0}};
    if (::utimensat(AT_FDCWD, archivePath.c_str(), times, 0) != 0)
        reporter.Warning("cannot set the time of " + archivePath + ": " + std::strerror(errno));
}

std::int32_t AddFiles(const AddRequest &request, Reporter &reporter)
{
    const std::vector<SourceItem> items = CollectSources(request, reporter);
    if (reporter.Stopped())
        return 0;
    ExistingArchive existing;
    if (!existing.Open(request.Archive, true, reporter))
        return 0;

    // Replaced entries keep their place; new ones follow the old ones.
    std::vector<const SourceItem *> replacing(existing.Count(), nullptr);
    std::vector<const SourceItem *> appended;
    std::vector<const SourceItem *> written;
    std::vector<const SourceItem *> dirs;
    std::uint64_t newBytes = 0;
    std::size_t looked = 0;
    for (const auto &item : items) {
        // Many small files take a while to look at before anything is written.
        if (++looked % kItemsPerStep == 0 && reporter.Step())
            return 0;
        const std::ptrdiff_t index = existing.Find(item.Name);
        if (item.IsDir()) {
            dirs.push_back(&item);
            if (index < 0 && !request.Freshen)
                appended.push_back(&item);
            continue;
        }
        if (!NeedsWriting(existing, index, item, request))
            continue;
        if (index >= 0)
            replacing[static_cast<std::size_t>(index)] = &item;
        else
            appended.push_back(&item);
        written.push_back(&item);
        newBytes += static_cast<std::uint64_t>(item.Stat.st_size);
    }
    if (appended.empty() && written.empty())
        return 0; // nothing to write: the archive stays as it is (or is not created)
    // Directory entries hold no data and are never encrypted: only files need the password.
    Secret password;
    if (request.Encrypt && !written.empty()) {
        const PasswordAnswer answer = reporter.AskPassword(PX_PASSWORD_NEW, std::string(), password);
        if (reporter.Stopped())
            return 0;
        if (answer != PasswordAnswer::Given || password.Empty()) {
            reporter.Error(kPxBadRequest, request.Archive + ": no password for encryption");
            return 0;
        }
    }

    // Writing reads every new file and copies every entry that stays.
    std::uint64_t copied = 0;
    for (std::size_t i = 0; i < existing.Count(); ++i) {
        if (!replacing[i])
            copied += existing.Record(i).CompressedSize;
    }
    if (reporter.Total(newBytes + copied))
        return 0;
    ArchiveWriter writer(request.Archive, existing, std::clamp(request.Level, 0, 9), reporter,
                         password.Empty() ? nullptr : &password);
    if (!writer.Begin())
        return 0;
    for (std::size_t i = 0; i < existing.Count(); ++i) {
        if (!(replacing[i] ? writer.Add(*replacing[i], existing.Record(i).Comment) : writer.Keep(i)))
            return 0; // the unfinished file goes with the writer; the archive is untouched
    }
    for (const auto *item : appended) {
        if (!writer.Add(*item))
            return 0;
    }
    if (!writer.Finish())
        return 0;

    if (request.ZipTime)
        StampArchiveTime(request.Archive, reporter);
    // The archive and its directory entry are on disk before any source goes.
    if (request.Move)
        RemoveSources(written, dirs, reporter);
    return static_cast<std::int32_t>(written.size());
}

} // namespace pellux::libs
