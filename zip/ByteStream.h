#pragma once
// Byte sources for the entry-list reader. The file source reads through a buffer, so
// the reader's many small reads cost memory copies, not system calls.
#include <cstdint>
#include <string>
#include <vector>

namespace pellux {

class InputStream {
public:
    virtual ~InputStream() = default;
    // Reads up to count bytes at the current position; returns how many arrived.
    virtual std::size_t Read(void *buffer, std::size_t count) = 0;
    // Moves to an absolute position and returns the position reached.
    virtual std::int64_t SeekTo(std::int64_t position) = 0;
    virtual std::int64_t Position() const = 0;
    virtual std::int64_t Size() const = 0;

    std::int64_t SeekBy(std::int64_t offset) { return SeekTo(Position() + offset); }
};

// A regular file opened read-only; anything else (FIFO, device) cannot be opened. Throws EFOpenError("Cannot open file
// <name>").
class BufferedFileStream final : public InputStream {
public:
    explicit BufferedFileStream(const std::string &fileName, std::size_t bufferSize = 64 * 1024);
    ~BufferedFileStream() override;
    BufferedFileStream(const BufferedFileStream &) = delete;
    BufferedFileStream &operator=(const BufferedFileStream &) = delete;

    std::size_t Read(void *buffer, std::size_t count) override;
    std::int64_t SeekTo(std::int64_t position) override;
    std::int64_t Position() const override { return position_; }
    std::int64_t Size() const override { return size_; }

private:
    bool Fill();

    int fd_ = -1;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    std::vector<unsigned char> buffer_;
    std::int64_t bufferStart_ = 0; // file offset of buffer_[0]
    std::size_t bufferLength_ = 0;
};

// Bytes in memory. Seeking stops at the end of the data. reportedSize, when given,
// is what Size() answers: a test uses it to stand for a file that shrank after it
// was opened.
class MemoryStream final : public InputStream {
public:
    explicit MemoryStream(std::vector<unsigned char> data, std::int64_t reportedSize = -1);
    MemoryStream(const unsigned char *data, std::size_t size);

    std::size_t Read(void *buffer, std::size_t count) override;
    std::int64_t SeekTo(std::int64_t position) override;
    std::int64_t Position() const override { return position_; }
    std::int64_t Size() const override { return reportedSize_; }

private:
    std::vector<unsigned char> data_;
    std::int64_t reportedSize_;
    std::int64_t position_ = 0;
};

} // namespace pellux
