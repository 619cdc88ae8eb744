#pragma once
// The new archive while it is written: an anonymous file in the archive's directory,
// which gets a name only when it is complete, so that a process killed mid-write leaves
// nothing beside the archive. Writes go through one large buffer; bytes already written
// can be patched (a local header's sizes, known only after its data).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellux::libs {

class OutputFile {
public:
    // Bytes handed to a copy between two progress checks.
    static constexpr std::uint64_t kCopyPiece = 128u << 10;

    OutputFile() = default;
    ~OutputFile(); // an uncommitted file is removed
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Creates the file beside `archive`, with its permissions (or the usual ones for a
    // new archive). False with Error() set.
    bool Create(const std::string &archive);
    bool Write(std::string_view bytes);
    bool Write(const void *data, std::size_t length)
    {
        return Write(std::string_view(static_cast<const char *>(data), length));
    }
    // Overwrites bytes written before at `offset`.
    bool Patch(std::uint64_t offset, std::string_view bytes);
    // Copies `length` bytes at `offset` of `fd` in pieces of at most kCopyPiece, the
    // kernel moving them where it can; `piece` is told of each and stops the copy by
    // returning true.
    template <typename OnPiece>
    bool CopyFrom(int fd, std::uint64_t offset, std::uint64_t length, OnPiece piece)
    {
        while (length > 0) {
            const std::uint64_t n = length < kCopyPiece ? length : kCopyPiece;
            if (!CopyPiece(fd, offset, n))
                return false;
            offset += n;
            length -= n;
            if (piece(n))
                return false;
        }
        return true;
    }
    std::uint64_t Position() const { return position_; }
    // Syncs the file, gives it the archive's name in one atomic rename and syncs the
    // directory.
    bool Commit();
    const std::string &Error() const { return error_; }

private:
    bool Flush();
    void StartWriteback();
    bool CopyPiece(int fd, std::uint64_t offset, std::uint64_t length);
    bool Fail(const std::string &what, int error);

    std::string archive_;
    std::string dir_;
    std::string namedTemp_; // only where the file system has no anonymous files
    int fd_ = -1;
    std::vector<char> buffer_;
    std::uint64_t flushed_ = 0; // bytes on disk; the buffer lands after them
    std::uint64_t position_ = 0;
    std::uint64_t writebackFrom_ = 0; // bytes up to here are on their way to the disk
    bool committed_ = false;
    std::string error_;
};

} // namespace pellux::libs
