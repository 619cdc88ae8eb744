#include "zip/ByteStream.h"

#include "platform/Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellux {

BufferedFileStream::BufferedFileStream(const std::string &fileName, std::size_t bufferSize)
    : buffer_(std::max<std::size_t>(bufferSize, 64))
{
    // O_NONBLOCK: a FIFO named as an archive must not hang the program at open.
    fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        size_ = st.st_size;
        return;
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    throw EFOpenError("Cannot open file " + fileName);
}

BufferedFileStream::~BufferedFileStream()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool BufferedFileStream::Fill()
{
    bufferStart_ = position_;
    bufferLength_ = 0;
    for (;;) {
        const ssize_t got = ::pread(fd_, buffer_.data(), buffer_.size(), position_);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bufferLength_ = static_cast<std::size_t>(got);
        return true;
    }
}

std::size_t BufferedFileStream::Read(void *buffer, std::size_t count)
{
    auto *out = static_cast<unsigned char *>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const bool inBuffer =
            position_ >= bufferStart_ && position_ < bufferStart_ + static_cast<std::int64_t>(bufferLength_);
        if (!inBuffer) {
            // A large read goes straight to the caller's memory.
            if (count - done >= buffer_.size()) {
                const ssize_t got = ::pread(fd_, out + done, count - done, position_);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    break;
                done += static_cast<std::size_t>(got);
                position_ += got;
                continue;
            }
            if (!Fill())
                break;
        }
        const auto offset = static_cast<std::size_t>(position_ - bufferStart_);
        const std::size_t take = std::min(count - done, bufferLength_ - offset);
        std::memcpy(out + done, buffer_.data() + offset, take);
        done += take;
        position_ += static_cast<std::int64_t>(take);
    }
    return done;
}

std::int64_t BufferedFileStream::SeekTo(std::int64_t position)
{
    // A file position may lie past the end (reads there yield nothing), never before 0.
    position_ = std::max<std::int64_t>(position, 0);
    return position_;
}

MemoryStream::MemoryStream(std::vector<unsigned char> data, std::int64_t reportedSize)
    : data_(std::move(data)), reportedSize_(reportedSize < 0 ? static_cast<std::int64_t>(data_.size()) : reportedSize)
{
}

MemoryStream::MemoryStream(const unsigned char *data, std::size_t size)
    : MemoryStream(std::vector<unsigned char>(data, data + size))
{
}

std::size_t MemoryStream::Read(void *buffer, std::size_t count)
{
    const auto available = static_cast<std::size_t>(static_cast<std::int64_t>(data_.size()) - position_);
    const std::size_t take = std::min(count, available);
    if (take > 0)
        std::memcpy(buffer, data_.data() + position_, take);
    position_ += static_cast<std::int64_t>(take);
    return take;
}

std::int64_t MemoryStream::SeekTo(std::int64_t position)
{
    position_ = std::clamp<std::int64_t>(position, 0, static_cast<std::int64_t>(data_.size()));
    return position_;
}

} // namespace pellux
