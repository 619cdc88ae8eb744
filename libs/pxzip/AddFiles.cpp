#include "libs/pxzip/AddFiles.h"

#include "libs/common/ArchiveFile.h"
#include "libs/common/EntryInfo.h"
#include "libs/common/PxErrors.h"
#include "libs/pxzip/FileSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

namespace pellux::libs {

namespace {

struct Discard {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
using ArchivePtr = std::unique_ptr<zip_t, Discard>;

constexpr std::size_t kItemsPerStep = 256;

int CancelRequested(zip_t *, void *state) { return static_cast<Reporter *>(state)->Stopped() ? 1 : 0; }

bool NeedsWriting(zip_t *archive, zip_int64_t index, const SourceItem &item, const AddRequest &request)
{
    if (!request.Update && !request.Freshen)
        return true;
    if (index < 0)
        return request.Update; // freshen touches existing entries only
    zip_stat_t stat;
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0)
        return true;
    // DOS times keep even seconds only; a file within that rounding is not newer.
    zip_uint16_t length = 0;
    const bool exact = zip_file_extra_field_get_by_id(archive, static_cast<zip_uint64_t>(index), kExtraTimestamp, 0,
                                                      &length, ZIP_FL_CENTRAL)
        != nullptr;
    const std::time_t stored = EntryMtime(archive, static_cast<zip_uint64_t>(index), stat);
    return item.Stat.st_mtime > stored + (exact ? 0 : 1);
}

bool SetEntryMetadata(zip_t *archive, zip_uint64_t index, const SourceItem &item, bool replaced)
{
    const std::uint32_t dosAttributes = item.IsDir() ? 0x10u : 0u;
    const std::uint32_t mode = static_cast<std::uint32_t>(item.Stat.st_mode) & 0xFFFFu;
    if (zip_file_set_external_attributes(archive, index, 0, ZIP_OPSYS_UNIX, mode << 16 | dosAttributes) != 0)
        return false;
    if (replaced)
        zip_file_extra_field_delete_by_id(archive, index, kExtraTimestamp, ZIP_EXTRA_FIELD_ALL,
                                          ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
    const std::string field = TimestampField(item.Stat.st_mtime);
    return zip_file_extra_field_set(archive, index, kExtraTimestamp, ZIP_EXTRA_FIELD_NEW,
                                    reinterpret_cast<const zip_uint8_t *>(field.data()),
                                    static_cast<zip_uint16_t>(field.size()), ZIP_FL_LOCAL | ZIP_FL_CENTRAL)
        == 0
        && zip_file_set_mtime(archive, index, item.Stat.st_mtime, 0) == 0;
}

// The new archive must be on disk before its sources go.
bool SyncArchive(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    const auto dir = std::filesystem::absolute(path).parent_path();
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return ok;
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

    int error = 0;
    ArchivePtr archive(OpenArchive(request.Archive, ZIP_CREATE, &error, &reporter));
    if (!archive) {
        reporter.Error(kPxArchiveError, request.Archive + ": " + ErrorText(error));
        return 0;
    }
    zip_register_cancel_callback_with_state(archive.get(), CancelRequested, nullptr, &reporter);

    const zip_int32_t method = request.Level <= 0 ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
    const zip_uint32_t level = static_cast<zip_uint32_t>(std::clamp(request.Level, 1, 9));
    std::vector<const SourceItem *> written;
    std::vector<const SourceItem *> dirs;
    std::set<zip_uint64_t> replaced;
    zip_uint64_t newBytes = 0;
    bool changed = false;
    auto fail = [&](const SourceItem &item) {
        reporter.Error(kPxArchiveError, "cannot add " + item.Path + ": " + ArchiveError(archive.get()));
    };

    std::size_t looked = 0;
    for (const auto &item : items) {
        // Many small files take a while to look at before anything is written.
        if (++looked % kItemsPerStep == 0 && reporter.Step())
            return 0;
        const zip_int64_t existing = zip_name_locate(archive.get(), item.Name.c_str(), ZIP_FL_ENC_RAW);
        if (item.IsDir()) {
            dirs.push_back(&item);
            if (existing >= 0 || request.Freshen)
                continue;
            const zip_int64_t index = zip_dir_add(archive.get(), item.Name.c_str(), ZIP_FL_ENC_GUESS);
            if (index < 0 || !SetEntryMetadata(archive.get(), static_cast<zip_uint64_t>(index), item, false)) {
                fail(item);
                return 0;
            }
            changed = true;
            continue;
        }
        if (!NeedsWriting(archive.get(), existing, item, request))
            continue;
        zip_source_t *source = MakeFileSource(archive.get(), item, reporter);
        zip_int64_t index = existing;
        if (!source) {
            fail(item);
            return 0;
        }
        if (existing >= 0) {
            replaced.insert(static_cast<zip_uint64_t>(existing));
            if (zip_file_replace(archive.get(), static_cast<zip_uint64_t>(existing), source, 0) != 0) {
                zip_source_free(source);
                fail(item);
                return 0;
            }
        } else {
            index = zip_file_add(archive.get(), item.Name.c_str(), source, ZIP_FL_ENC_GUESS);
            if (index < 0) {
                zip_source_free(source);
                fail(item);
                return 0;
            }
        }
        const auto at = static_cast<zip_uint64_t>(index);
        if (zip_set_file_compression(archive.get(), at, method, method == ZIP_CM_STORE ? 0 : level) != 0
            || !SetEntryMetadata(archive.get(), at, item, existing >= 0)) {
            fail(item);
            return 0;
        }
        written.push_back(&item);
        newBytes += static_cast<zip_uint64_t>(item.Stat.st_size);
        changed = true;
    }

    if (!changed)
        return 0; // nothing to write: the archive stays as it is (or is not created)
    // Writing reads every new file and copies every entry that stays.
    if (reporter.Total(newBytes + CopiedBytes(archive.get(), replaced)))
        return 0;
    if (zip_close(archive.get()) != 0) {
        if (!reporter.Stopped())
            reporter.Error(kPxArchiveError, "cannot write " + request.Archive + ": " + ArchiveError(archive.get()));
        return 0; // the discard removes the half-written copy; the archive is untouched
    }
    archive.release();

    if (request.ZipTime)
        StampArchiveTime(request.Archive, reporter);
    if (request.Move) {
        if (SyncArchive(request.Archive))
            RemoveSources(written, dirs, reporter);
        else
            reporter.Error(kPxArchiveError, "cannot confirm " + request.Archive + " on disk; sources kept");
    }
    return static_cast<std::int32_t>(written.size());
}

} // namespace pellux::libs
