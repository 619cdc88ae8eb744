#include "libs/pxzip/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

namespace pellux::libs {

namespace {

constexpr std::size_t kBuffer = 1 << 20;
constexpr std::uint64_t kWritebackStep = 8 << 20;

bool WriteAll(int fd, const char *data, std::size_t length, std::uint64_t at)
{
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        at += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// A hidden name beside the archive that nothing uses yet.
std::string HiddenName(const std::string &dir, const std::string &base)
{
    static std::mt19937_64 random{std::random_device{}()};
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    return dir + "/." + base + "." + suffix;
}

} // namespace

OutputFile::~OutputFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_ && !namedTemp_.empty())
        ::unlink(namedTemp_.c_str());
}

bool OutputFile::Fail(const std::string &what, int error)
{
    error_ = what + ": " + std::strerror(error);
    return false;
}

bool OutputFile::Create(const std::string &archive)
{
    namespace fs = std::filesystem;
    archive_ = archive;
    const fs::path absolute = fs::absolute(archive);
    dir_ = absolute.parent_path().string();
    struct stat st {};
    mode_t mode;
    if (::stat(archive.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // PELLUX_ZIP_NAMED_TEMP takes the path of file systems without anonymous files
    // (some network and FUSE ones) where they exist, so that it can be tried.
    const bool named = std::getenv("PELLUX_ZIP_NAMED_TEMP") != nullptr;
    fd_ = named ? -1 : ::open(dir_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd_ < 0) {
        if (!named && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
            return Fail("cannot create a file in " + dir_, errno);
        // A killed process leaves this one behind; it is hidden and names the archive.
        for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
            namedTemp_ = HiddenName(dir_, absolute.filename().string());
            fd_ = ::open(namedTemp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        }
        if (fd_ < 0) {
            const int error = errno;
            namedTemp_.clear();
            return Fail("cannot create a file in " + dir_, error);
        }
    }
    ::fchmod(fd_, mode); // the umask must not narrow an existing archive's permissions
    buffer_.reserve(kBuffer);
    return true;
}

bool OutputFile::Flush()
{
    if (buffer_.empty())
        return true;
    if (!WriteAll(fd_, buffer_.data(), buffer_.size(), flushed_))
        return Fail("cannot write " + archive_, errno);
    flushed_ += buffer_.size();
    buffer_.clear();
    StartWriteback();
    return true;
}

// The disk writes while we go on, so the one sync at the end has little left to wait for.
void OutputFile::StartWriteback()
{
    if (flushed_ - writebackFrom_ < kWritebackStep)
        return;
    ::sync_file_range(fd_, static_cast<off_t>(writebackFrom_), static_cast<off_t>(flushed_ - writebackFrom_),
                      SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = flushed_;
}

bool OutputFile::Write(std::string_view bytes)
{
    if (buffer_.size() + bytes.size() > kBuffer && !Flush())
        return false;
    if (bytes.size() >= kBuffer) {
        if (!WriteAll(fd_, bytes.data(), bytes.size(), flushed_))
            return Fail("cannot write " + archive_, errno);
        flushed_ += bytes.size();
        StartWriteback();
    } else {
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    }
    position_ += bytes.size();
    return true;
}

bool OutputFile::Patch(std::uint64_t offset, std::string_view bytes)
{
    // The part still in the buffer changes there; the rest on disk.
    std::size_t onDisk = 0;
    if (offset < flushed_) {
        onDisk = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), flushed_ - offset));
        if (!WriteAll(fd_, bytes.data(), onDisk, offset))
            return Fail("cannot write " + archive_, errno);
    }
    if (onDisk < bytes.size())
        std::memcpy(buffer_.data() + (offset + onDisk - flushed_), bytes.data() + onDisk, bytes.size() - onDisk);
    return true;
}

bool OutputFile::CopyPiece(int fd, std::uint64_t offset, std::uint64_t length)
{
    if (!Flush())
        return false;
    auto in = static_cast<off_t>(offset);
    auto out = static_cast<off_t>(flushed_);
    std::uint64_t left = length;
    while (left > 0) {
        const ssize_t n = ::copy_file_range(fd, &in, fd_, &out, left, 0);
        if (n > 0) {
            left -= static_cast<std::uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return Fail("cannot read " + archive_, EIO); // the old archive is shorter than its records say
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return Fail("cannot write " + archive_, errno);
        // No copy inside the kernel here: through memory.
        std::vector<char> bytes(static_cast<std::size_t>(left));
        const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), in);
        if (got != static_cast<ssize_t>(bytes.size()))
            return Fail("cannot read " + archive_, got < 0 ? errno : EIO);
        if (!WriteAll(fd_, bytes.data(), bytes.size(), static_cast<std::uint64_t>(out)))
            return Fail("cannot write " + archive_, errno);
        break;
    }
    flushed_ += length;
    position_ += length;
    StartWriteback();
    return true;
}

bool OutputFile::Commit()
{
    if (!Flush())
        return false;
    if (::fsync(fd_) != 0)
        return Fail("cannot write " + archive_, errno);
    const std::string base = std::filesystem::path(archive_).filename().string();
    if (namedTemp_.empty()) {
        // The anonymous file gets a hidden name, then the archive's in one rename.
        const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
        int error = EEXIST;
        for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
            namedTemp_ = HiddenName(dir_, base);
            error = ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, namedTemp_.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
            if (error == ENOENT) // no /proc: the descriptor itself
                error = ::linkat(fd_, "", AT_FDCWD, namedTemp_.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
        }
        if (error != 0) {
            namedTemp_.clear();
            return Fail("cannot write " + archive_, error);
        }
    }
    if (::rename(namedTemp_.c_str(), archive_.c_str()) != 0)
        return Fail("cannot replace " + archive_, errno);
    committed_ = true;
    ::close(fd_);
    fd_ = -1;
    const int dirFd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace pellux::libs
