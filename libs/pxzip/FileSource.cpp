#include "libs/pxzip/FileSource.h"

#include "libs/common/PxErrors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace pellux::libs {

namespace {

struct FileSource {
    std::string Path;
    std::string Name;
    zip_uint64_t Size = 0;
    std::time_t Mtime = 0;
    Reporter *Report = nullptr;
    int Fd = -1;
    zip_error_t Error{};
};

zip_int64_t Fail(FileSource &source, int zipError, int systemError = 0)
{
    zip_error_set(&source.Error, zipError, systemError);
    return -1;
}

zip_int64_t Callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto &source = *static_cast<FileSource *>(state);
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    case ZIP_SOURCE_OPEN:
        if (source.Report->File(source.Name, source.Size))
            return Fail(source, ZIP_ER_CANCELLED);
        source.Fd = ::open(source.Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (source.Fd < 0) {
            const int error = errno;
            source.Report->Error(kPxFileError, "cannot read " + source.Path + ": " + std::strerror(error));
            return Fail(source, ZIP_ER_OPEN, error);
        }
        ::posix_fadvise(source.Fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        return 0;
    case ZIP_SOURCE_READ: {
        ssize_t got;
        do
            got = ::read(source.Fd, data, length);
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            const int error = errno;
            source.Report->Error(kPxFileError, "cannot read " + source.Path + ": " + std::strerror(error));
            return Fail(source, ZIP_ER_READ, error);
        }
        // Steps while libzip compresses the file let the caller stop inside it.
        if (source.Report->Advance(static_cast<zip_uint64_t>(got)))
            return Fail(source, ZIP_ER_CANCELLED);
        return got;
    }
    case ZIP_SOURCE_CLOSE:
        if (source.Fd >= 0)
            ::close(source.Fd);
        source.Fd = -1;
        return 0;
    case ZIP_SOURCE_STAT: {
        auto *stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &source.Error);
        if (!stat)
            return -1;
        zip_stat_init(stat);
        stat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        stat->size = source.Size;
        stat->mtime = source.Mtime;
        return sizeof(*stat);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&source.Error, data, length);
    case ZIP_SOURCE_FREE:
        if (source.Fd >= 0)
            ::close(source.Fd);
        zip_error_fini(&source.Error);
        delete &source;
        return 0;
    default:
        return Fail(source, ZIP_ER_OPNOTSUPP);
    }
}

} // namespace

zip_source_t *MakeFileSource(zip_t *archive, const SourceItem &item, Reporter &reporter)
{
    auto *source = new FileSource{item.Path, item.Name, static_cast<zip_uint64_t>(item.Stat.st_size),
                                  item.Stat.st_mtime, &reporter};
    zip_error_init(&source->Error);
    zip_source_t *handle = zip_source_function(archive, Callback, source);
    if (!handle) {
        zip_error_fini(&source->Error);
        delete source;
    }
    return handle;
}

} // namespace pellux::libs
