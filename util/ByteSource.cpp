// The byte sources records are read from: a file by descriptor, or bytes in memory.
#include "util/ZipRecords.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace pellux {

FileByteSource::FileByteSource(int fd) : fd_(fd)
{
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        size_ = static_cast<std::uint64_t>(st.st_size);
}

bool FileByteSource::ReadAt(std::uint64_t offset, void *buffer, std::size_t length)
{
    if (offset > size_ || length > size_ - offset)
        return false;
    auto *p = static_cast<char *>(buffer);
    while (length > 0) {
        const ssize_t got = ::pread(fd_, p, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        offset += static_cast<std::uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

bool MemoryByteSource::ReadAt(std::uint64_t offset, void *buffer, std::size_t length)
{
    if (offset > bytes_.size() || length > bytes_.size() - offset)
        return false;
    std::memcpy(buffer, bytes_.data() + offset, length);
    return true;
}

} // namespace pellux
