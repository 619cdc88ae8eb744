#include "libs/common/ArchiveFile.h"

#include "libs/common/Reporter.h"
#include "util/LittleEndian.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace pellux::libs {

namespace {

constexpr std::size_t kWriteBuffer = 1 << 20;
// libzip reads each local header in small pieces; one read-ahead serves them all.
constexpr std::size_t kReadBuffer = 256 << 10;

struct ArchiveFile {
    std::string Path;
    int ReadFd = -1;
    zip_uint64_t ReadPos = 0;
    zip_uint64_t Size = 0;
    zip_uint64_t Base = 0; // bytes before the archive proper (a self-extracting stub)
    std::vector<char> ReadAhead;
    zip_uint64_t ReadAheadStart = 0;

    std::string TempPath;
    int WriteFd = -1;
    std::vector<char> Buffer; // bytes not yet written, to land at BufferStart
    zip_uint64_t BufferStart = 0;
    zip_uint64_t WriteEnd = 0; // the temporary file's length so far
    zip_error_t Error{};
    // Told of every byte read while the archive is rewritten: copying the entries
    // that stay is most of the work of a delete.
    Reporter *Progress = nullptr;
};

zip_int64_t Fail(ArchiveFile &file, int zipError, int systemError = 0)
{
    zip_error_set(&file.Error, zipError, systemError);
    return -1;
}

bool Flush(ArchiveFile &file)
{
    const char *data = file.Buffer.data();
    std::size_t left = file.Buffer.size();
    zip_uint64_t at = file.BufferStart;
    while (left > 0) {
        const ssize_t n = ::pwrite(file.WriteFd, data, left, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            zip_error_set(&file.Error, ZIP_ER_WRITE, errno);
            return false;
        }
        data += n;
        at += static_cast<zip_uint64_t>(n);
        left -= static_cast<std::size_t>(n);
    }
    file.BufferStart = at;
    file.Buffer.clear();
    return true;
}

void CloseWrite(ArchiveFile &file)
{
    if (file.WriteFd >= 0)
        ::close(file.WriteFd);
    file.WriteFd = -1;
}

zip_int64_t BeginWrite(ArchiveFile &file)
{
    file.TempPath = file.Path + ".XXXXXX";
    file.WriteFd = ::mkostemp(file.TempPath.data(), O_CLOEXEC);
    if (file.WriteFd < 0)
        return Fail(file, ZIP_ER_TMPOPEN, errno);
    // The new archive keeps the old one's permissions; a new one gets the usual ones.
    struct stat st {};
    mode_t mode;
    if (::stat(file.Path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(file.WriteFd, mode);
    file.Buffer.clear();
    file.Buffer.reserve(kWriteBuffer);
    file.BufferStart = 0;
    file.WriteEnd = 0;
    return 0;
}

zip_int64_t Write(ArchiveFile &file, const void *data, zip_uint64_t length)
{
    if (file.Buffer.size() + length > kWriteBuffer && !Flush(file))
        return -1;
    if (length >= kWriteBuffer) {
        file.Buffer.assign(static_cast<const char *>(data), static_cast<const char *>(data) + length);
        if (!Flush(file))
            return -1;
    } else {
        file.Buffer.insert(file.Buffer.end(), static_cast<const char *>(data),
                           static_cast<const char *>(data) + length);
    }
    const zip_uint64_t end = file.BufferStart + file.Buffer.size();
    if (end > file.WriteEnd)
        file.WriteEnd = end;
    return static_cast<zip_int64_t>(length);
}

zip_int64_t SeekWrite(ArchiveFile &file, void *data, zip_uint64_t length)
{
    auto *args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &file.Error);
    if (!args || !Flush(file))
        return -1;
    zip_int64_t base = 0;
    switch (args->whence) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = static_cast<zip_int64_t>(file.BufferStart);
        break;
    case SEEK_END:
        base = static_cast<zip_int64_t>(file.WriteEnd);
        break;
    default:
        return Fail(file, ZIP_ER_INVAL);
    }
    if (base + args->offset < 0)
        return Fail(file, ZIP_ER_INVAL);
    file.BufferStart = static_cast<zip_uint64_t>(base + args->offset);
    return 0;
}

zip_int64_t Commit(ArchiveFile &file)
{
    if (!Flush(file))
        return -1;
    if (::close(file.WriteFd) != 0) {
        file.WriteFd = -1;
        return Fail(file, ZIP_ER_WRITE, errno);
    }
    file.WriteFd = -1;
    if (::rename(file.TempPath.c_str(), file.Path.c_str()) != 0)
        return Fail(file, ZIP_ER_RENAME, errno);
    file.TempPath.clear();
    return 0;
}

ssize_t PRead(int fd, char *data, std::size_t length, zip_uint64_t at)
{
    ssize_t n;
    do
        n = ::pread(fd, data, length, static_cast<off_t>(at));
    while (n < 0 && errno == EINTR);
    return n;
}

zip_int64_t Read(ArchiveFile &file, char *data, zip_uint64_t length)
{
    const zip_uint64_t start = file.ReadAheadStart;
    const zip_uint64_t end = start + file.ReadAhead.size();
    if (file.ReadPos < start || file.ReadPos >= end) {
        if (length >= kReadBuffer) {
            const ssize_t n = PRead(file.ReadFd, data, length, file.Base + file.ReadPos);
            if (n < 0)
                return Fail(file, ZIP_ER_READ, errno);
            file.ReadPos += static_cast<zip_uint64_t>(n);
            return n;
        }
        file.ReadAhead.resize(kReadBuffer);
        const ssize_t n = PRead(file.ReadFd, file.ReadAhead.data(), kReadBuffer, file.Base + file.ReadPos);
        if (n < 0) {
            file.ReadAhead.clear();
            return Fail(file, ZIP_ER_READ, errno);
        }
        file.ReadAhead.resize(static_cast<std::size_t>(n));
        file.ReadAheadStart = file.ReadPos;
        if (n == 0)
            return 0;
    }
    const zip_uint64_t offset = file.ReadPos - file.ReadAheadStart;
    const zip_uint64_t count = std::min<zip_uint64_t>(length, file.ReadAhead.size() - offset);
    std::memcpy(data, file.ReadAhead.data() + offset, count);
    file.ReadPos += count;
    return static_cast<zip_int64_t>(count);
}

// Reads while the new archive is written copy the old one's entries; the caller
// sees them as steps and may stop the copy inside a large entry.
zip_int64_t CountedRead(ArchiveFile &file, char *data, zip_uint64_t length)
{
    const zip_int64_t n = Read(file, data, length);
    if (n > 0 && file.Progress && file.WriteFd >= 0 && file.Progress->Advance(static_cast<zip_uint64_t>(n)))
        return Fail(file, ZIP_ER_CANCELLED);
    return n;
}

zip_int64_t Callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto &file = *static_cast<ArchiveFile *>(state);
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_WRITABLE;
    case ZIP_SOURCE_STAT: {
        auto *stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &file.Error);
        if (!stat)
            return -1;
        struct stat st {};
        if (::stat(file.Path.c_str(), &st) != 0)
            return Fail(file, ZIP_ER_READ, errno); // ENOENT tells libzip the archive is new
        zip_stat_init(stat);
        stat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        stat->size = static_cast<zip_uint64_t>(st.st_size) - std::min<zip_uint64_t>(file.Base, st.st_size);
        stat->mtime = st.st_mtime;
        file.Size = stat->size;
        return sizeof(*stat);
    }
    case ZIP_SOURCE_OPEN:
        file.ReadFd = ::open(file.Path.c_str(), O_RDONLY | O_CLOEXEC);
        if (file.ReadFd < 0)
            return Fail(file, ZIP_ER_OPEN, errno);
        file.ReadPos = 0;
        file.ReadAhead.clear();
        return 0;
    case ZIP_SOURCE_READ:
        return CountedRead(file, static_cast<char *>(data), length);
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t at = zip_source_seek_compute_offset(file.ReadPos, file.Size, data, length, &file.Error);
        if (at < 0)
            return -1;
        file.ReadPos = static_cast<zip_uint64_t>(at);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(file.ReadPos);
    case ZIP_SOURCE_CLOSE:
        if (file.ReadFd >= 0)
            ::close(file.ReadFd);
        file.ReadFd = -1;
        return 0;
    case ZIP_SOURCE_BEGIN_WRITE:
        return BeginWrite(file);
    case ZIP_SOURCE_WRITE:
        return Write(file, data, length);
    case ZIP_SOURCE_SEEK_WRITE:
        return SeekWrite(file, data, length);
    case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(file.BufferStart + file.Buffer.size());
    case ZIP_SOURCE_COMMIT_WRITE:
        return Commit(file);
    case ZIP_SOURCE_ROLLBACK_WRITE:
        CloseWrite(file);
        if (!file.TempPath.empty())
            ::unlink(file.TempPath.c_str());
        file.TempPath.clear();
        return 0;
    case ZIP_SOURCE_REMOVE:
        if (::unlink(file.Path.c_str()) != 0)
            return Fail(file, ZIP_ER_REMOVE, errno);
        return 0;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&file.Error, data, length);
    case ZIP_SOURCE_FREE:
        if (file.ReadFd >= 0)
            ::close(file.ReadFd);
        CloseWrite(file);
        if (!file.TempPath.empty())
            ::unlink(file.TempPath.c_str());
        zip_error_fini(&file.Error);
        delete &file;
        return 0;
    default:
        return Fail(file, ZIP_ER_OPNOTSUPP);
    }
}

// A stub glued before an archive without adjusting its offsets shifts everything the
// central directory points at. The end record tells by how much: it lies that many
// bytes further on than the directory's offset and size add up to (APPNOTE 4.3.16).
zip_uint64_t StubLength(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st {};
    std::vector<unsigned char> tail;
    if (::fstat(fd, &st) == 0 && st.st_size >= 22) {
        const off_t length = std::min<off_t>(st.st_size, 22 + 65535);
        tail.resize(static_cast<std::size_t>(length));
        if (PRead(fd, reinterpret_cast<char *>(tail.data()), tail.size(),
                  static_cast<zip_uint64_t>(st.st_size - length))
            != static_cast<ssize_t>(tail.size()))
            tail.clear();
    }
    ::close(fd);
    for (std::size_t at = tail.size() >= 22 ? tail.size() - 22 + 1 : 0; at-- > 0;) {
        const unsigned char *end = tail.data() + at;
        if (end[0] != 'P' || end[1] != 'K' || end[2] != 5 || end[3] != 6)
            continue;
        const zip_uint64_t endPos = static_cast<zip_uint64_t>(st.st_size) - tail.size() + at;
        const std::uint32_t size = le::U32(end + 12);
        const std::uint32_t offset = le::U32(end + 16);
        if (size == 0xFFFFFFFFu || offset == 0xFFFFFFFFu || zip_uint64_t(size) + offset >= endPos)
            return 0;
        return endPos - size - offset;
    }
    return 0;
}

zip_t *Open(const std::string &path, zip_uint64_t base, int flags, int *error, Reporter *progress)
{
    auto *file = new ArchiveFile{path};
    file->Base = base;
    file->Progress = progress;
    zip_error_init(&file->Error);
    zip_error_t openError;
    zip_error_init(&openError);
    zip_source_t *source = zip_source_function_create(Callback, file, &openError);
    if (!source) {
        zip_error_fini(&file->Error);
        delete file;
        *error = zip_error_code_zip(&openError);
        zip_error_fini(&openError);
        return nullptr;
    }
    zip_t *archive = zip_open_from_source(source, flags, &openError);
    if (!archive) {
        *error = zip_error_code_zip(&openError);
        zip_source_free(source); // frees the state as well
    }
    zip_error_fini(&openError);
    return archive;
}

} // namespace

zip_t *OpenArchive(const std::string &path, int flags, int *error, Reporter *copyProgress)
{
    zip_t *archive = Open(path, 0, flags, error, copyProgress);
    // Only for reading: a rewrite would drop the stub.
    if (!archive && (flags & ZIP_RDONLY) && (*error == ZIP_ER_NOZIP || *error == ZIP_ER_INCONS)) {
        if (const zip_uint64_t stub = StubLength(path)) {
            int retryError = 0;
            if ((archive = Open(path, stub, flags, &retryError, nullptr)))
                *error = 0;
        }
    }
    return archive;
}

} // namespace pellux::libs

namespace pellux::libs {

zip_uint64_t CopiedBytes(zip_t *archive, const std::set<zip_uint64_t> &rewritten)
{
    zip_uint64_t bytes = 0;
    const zip_int64_t count = zip_get_num_entries(archive, ZIP_FL_UNCHANGED);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        const auto index = static_cast<zip_uint64_t>(i);
        if (!rewritten.count(index) && zip_stat_index(archive, index, ZIP_FL_UNCHANGED, &stat) == 0
            && (stat.valid & ZIP_STAT_COMP_SIZE))
            bytes += stat.comp_size;
    }
    return bytes;
}

} // namespace pellux::libs
