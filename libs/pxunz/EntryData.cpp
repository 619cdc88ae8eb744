#include "libs/pxunz/EntryData.h"

#include <libdeflate.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace pellux::libs {

namespace {

constexpr std::size_t kInSize = 256 << 10;
// One write and one step report per block: the caller hears of each block written.
constexpr std::size_t kOutSize = Reporter::kStepBytes;
// Larger entries are decoded on this thread while the writer thread checks and writes
// the blocks already done; for smaller ones the hand-off costs more than it saves.
constexpr std::uint64_t kPipedAbove = 1 << 20;
// Deflate entries are inflated whole by libdeflate, about twice as fast as zlib's
// streaming inflate, when their data, compressed and not, fits in this much memory...
constexpr std::uint64_t kWholeUpTo = 64 << 20;
// ...and, above this size, when they compress: data that does not is mostly stored
// blocks, which zlib copies about as fast, and piped its writing overlaps the copying.
constexpr std::uint64_t kSmallUpTo = 4 << 20;
// Reads this large or larger go straight to the file.
constexpr std::size_t kWindow = 128 << 10;

// libdeflate's CRC uses carry-less multiplication: several times faster than zlib's.
std::uint32_t Crc(std::uint32_t crc, const unsigned char *data, std::size_t length)
{
    return static_cast<std::uint32_t>(libdeflate_crc32(crc, data, length));
}

CopyOutcome Bad(std::string why) { return CopyOutcome{CopyResult::BadData, std::move(why)}; }

} // namespace

// The second thread of an extraction: takes decoded blocks in order, adds them to the
// CRC and hands them to the sink while the decoder goes on. A small ring of blocks
// bounds the memory; the reporter is never touched here.
class BlockWriter {
public:
    BlockWriter()
    {
        for (auto &block : blocks_)
            block.Data.reset(new unsigned char[kOutSize]);
        thread_ = std::thread([this] { Run(); });
    }

    ~BlockWriter()
    {
        {
            const std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

    BlockWriter(const BlockWriter &) = delete;
    BlockWriter &operator=(const BlockWriter &) = delete;

    void Begin(const DataSink &sink)
    {
        const std::lock_guard lock(mutex_);
        sink_ = &sink;
        crc_ = 0;
        written_ = 0;
        failed_ = false;
        dropping_ = false;
    }

    // The block to fill next, once the writer has one free.
    unsigned char *Free()
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return queued_ < kBlocks; });
        return blocks_[(next_ + queued_) % kBlocks].Data.get();
    }

    // The block Free gave, filled with `length` bytes.
    void Queue(std::size_t length)
    {
        {
            const std::lock_guard lock(mutex_);
            blocks_[(next_ + queued_) % kBlocks].Length = length;
            ++queued_;
        }
        wake_.notify_one();
    }

    bool Failed()
    {
        const std::lock_guard lock(mutex_);
        return failed_;
    }

    // The bytes the sink took since the last call.
    std::uint64_t TakeWritten()
    {
        const std::lock_guard lock(mutex_);
        return std::exchange(written_, 0);
    }

    // Waits until every queued block is through or, dropping, until the one in hand is.
    // False when the sink refused one.
    bool Finish(bool drop, std::uint32_t *crc)
    {
        std::unique_lock lock(mutex_);
        dropping_ = drop;
        done_.wait(lock, [&] { return queued_ == 0; });
        sink_ = nullptr;
        if (crc)
            *crc = crc_;
        return !failed_;
    }

private:
    static constexpr std::size_t kBlocks = 8;

    struct Block {
        std::unique_ptr<unsigned char[]> Data;
        std::size_t Length = 0;
    };

    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return quit_ || queued_ > 0; });
            if (queued_ == 0)
                return;
            const Block &block = blocks_[next_];
            const DataSink *sink = failed_ || dropping_ ? nullptr : sink_;
            std::uint32_t crc = crc_;
            bool ok = true;
            lock.unlock();
            if (sink) {
                crc = Crc(crc, block.Data.get(), block.Length);
                ok = (*sink)(block.Data.get(), block.Length);
            }
            lock.lock();
            if (sink) {
                crc_ = crc;
                failed_ = !ok;
                if (ok)
                    written_ += block.Length;
            }
            next_ = (next_ + 1) % kBlocks;
            --queued_;
            done_.notify_one();
        }
    }

    Block blocks_[kBlocks];
    std::mutex mutex_;
    std::condition_variable wake_; // the writer waits for a block
    std::condition_variable done_; // the decoder waits for a free block, or for the end
    std::size_t next_ = 0;         // the oldest queued block
    std::size_t queued_ = 0;
    const DataSink *sink_ = nullptr;
    std::uint32_t crc_ = 0;
    std::uint64_t written_ = 0;
    bool failed_ = false;
    bool dropping_ = false;
    bool quit_ = false;
    std::thread thread_;
};

EntryCopier::EntryCopier(Reporter &reporter)
    : reporter_(reporter), in_(new unsigned char[kInSize]), out_(new unsigned char[kOutSize])
{
}

EntryCopier::~EntryCopier()
{
    if (inflater_)
        libdeflate_free_decompressor(inflater_);
}

CopyOutcome EntryCopier::Copy(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink)
{
    // Some writers store an empty file as zero bytes of any method.
    if (entry.CompressedSize == 0 && entry.UncompressedSize == 0)
        return entry.Crc32 == 0 || !entry.CheckCrc ? CopyOutcome{} : Bad("CRC mismatch");
    if (entry.Method == 8 && entry.CompressedSize <= kWholeUpTo
        && entry.UncompressedSize <= kWholeUpTo - entry.CompressedSize
        && (entry.UncompressedSize <= kSmallUpTo || entry.CompressedSize <= entry.UncompressedSize / 4 * 3))
        return Whole(source, entry, decoder, sink);
    return Stepwise(source, entry, decoder, sink);
}

CopyOutcome EntryCopier::Stepwise(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink)
{
    return entry.UncompressedSize > kPipedAbove ? Piped(source, entry, decoder, sink)
                                                : Streamed(source, entry, decoder, sink);
}

// Any failure goes the stepwise way, which finds it again and names it as ever (cut
// short, longer or shorter than declared, corrupt): failures are rare, and the two
// decoders must not tell the user different stories.
CopyOutcome EntryCopier::Whole(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink)
{
    const auto inSize = static_cast<std::size_t>(entry.CompressedSize);
    const auto outSize = static_cast<std::size_t>(entry.UncompressedSize);
    // The output first, so that it starts on a huge page.
    unsigned char *out = whole_.Reserve(outSize + inSize);
    if (!out)
        throw std::bad_alloc();
    unsigned char *in = out + outSize;
    if (!inflater_ && !(inflater_ = libdeflate_alloc_decompressor()))
        throw std::bad_alloc();
    std::size_t actual = 0;
    if (!source.ReadAt(entry.DataStart, in, inSize)
        || libdeflate_deflate_decompress(inflater_, in, inSize, out, outSize, &actual) != LIBDEFLATE_SUCCESS
        || actual != outSize)
        return Stepwise(source, entry, decoder, sink);
    if (entry.CheckCrc && Crc(0, out, outSize) != entry.Crc32)
        return Bad("CRC mismatch");
    for (std::size_t done = 0; done < outSize;) {
        const std::size_t n = std::min(outSize - done, kOutSize);
        if (!sink(out + done, n))
            return CopyOutcome{CopyResult::WriteFailed, std::string()};
        done += n;
        if (reporter_.Advance(n))
            return CopyOutcome{CopyResult::Cancelled, std::string()};
    }
    return CopyOutcome{};
}

CopyOutcome EntryCopier::Streamed(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink)
{
    std::uint64_t at = entry.DataStart;
    std::uint64_t unread = entry.CompressedSize;
    std::uint64_t written = 0;
    std::uint32_t crc = 0;
    DecodeBuffers b;
    for (;;) {
        if (b.InLeft == 0 && unread > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(unread, kInSize));
            if (!source.ReadAt(at, in_.get(), n))
                return Bad("its data is cut short");
            at += n;
            unread -= n;
            b.In = in_.get();
            b.InLeft = n;
        }
        b.InputEnds = unread == 0;
        b.Out = out_.get();
        b.OutLeft = kOutSize;
        const std::size_t inBefore = b.InLeft;
        const Decoder::Status status = decoder.Decode(b);
        const std::size_t produced = kOutSize - b.OutLeft;
        if (produced > entry.UncompressedSize - written)
            return Bad("its data is longer than its declared size");
        if (produced > 0) {
            if (!sink(out_.get(), produced))
                return CopyOutcome{CopyResult::WriteFailed, std::string()};
            crc = Crc(crc, out_.get(), produced);
            written += produced;
            if (reporter_.Advance(produced))
                return CopyOutcome{CopyResult::Cancelled, std::string()};
        }
        if (status == Decoder::Status::Corrupt) {
            const std::string problem = decoder.Problem();
            return Bad(problem.empty() ? "corrupt " + MethodName(entry.Method) + " data" : problem);
        }
        if (status == Decoder::Status::End)
            break;
        // No progress with all the input given: the stream stops before its end.
        if (produced == 0 && b.InLeft == inBefore && (b.InLeft > 0 || unread == 0))
            return Bad("corrupt " + MethodName(entry.Method) + " data (cut short)");
    }
    if (written < entry.UncompressedSize)
        return Bad("its data is shorter than its declared size");
    if (entry.CheckCrc && crc != entry.Crc32)
        return Bad("CRC mismatch");
    return CopyOutcome{};
}

// As Streamed, but each full block goes to the writer thread. The reporter hears of
// the bytes written so far after each block, so cancelling stays as quick as ever.
CopyOutcome EntryCopier::Piped(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink)
{
    if (!writer_)
        writer_ = std::make_unique<BlockWriter>();
    BlockWriter &writer = *writer_;
    writer.Begin(sink);
    // Every way out waits for the writer to be done with the sink (a decoder's
    // exception too); a write that failed came first and outranks what the decoder
    // found after it.
    bool finished = false;
    struct Drop {
        BlockWriter &Writer;
        bool &Finished;
        ~Drop()
        {
            if (!Finished)
                Writer.Finish(true, nullptr);
        }
    } drop{writer, finished};
    const auto stop = [&](CopyOutcome outcome, bool dropQueued) {
        finished = true;
        if (!writer.Finish(dropQueued, nullptr))
            return CopyOutcome{CopyResult::WriteFailed, std::string()};
        return outcome;
    };
    std::uint64_t at = entry.DataStart;
    std::uint64_t unread = entry.CompressedSize;
    std::uint64_t decoded = 0;
    DecodeBuffers b;
    unsigned char *block = writer.Free();
    std::size_t filled = 0;
    for (;;) {
        if (b.InLeft == 0 && unread > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(unread, kInSize));
            if (!source.ReadAt(at, in_.get(), n))
                return stop(Bad("its data is cut short"), false);
            at += n;
            unread -= n;
            b.In = in_.get();
            b.InLeft = n;
        }
        b.InputEnds = unread == 0;
        b.Out = block + filled;
        b.OutLeft = kOutSize - filled;
        const std::size_t inBefore = b.InLeft;
        const Decoder::Status status = decoder.Decode(b);
        const std::size_t produced = kOutSize - filled - b.OutLeft;
        if (produced > entry.UncompressedSize - decoded)
            return stop(Bad("its data is longer than its declared size"), false);
        filled += produced;
        decoded += produced;
        if (filled == kOutSize || (status != Decoder::Status::Ok && filled > 0)) {
            writer.Queue(filled);
            filled = 0;
            if (writer.Failed())
                return stop(CopyOutcome{CopyResult::WriteFailed, std::string()}, true);
            if (reporter_.Advance(writer.TakeWritten()))
                return stop(CopyOutcome{CopyResult::Cancelled, std::string()}, true);
            if (status == Decoder::Status::Ok)
                block = writer.Free();
        }
        if (status == Decoder::Status::Corrupt) {
            const std::string problem = decoder.Problem();
            return stop(Bad(problem.empty() ? "corrupt " + MethodName(entry.Method) + " data" : problem), false);
        }
        if (status == Decoder::Status::End)
            break;
        if (produced == 0 && b.InLeft == inBefore && (b.InLeft > 0 || unread == 0))
            return stop(Bad("corrupt " + MethodName(entry.Method) + " data (cut short)"), false);
    }
    std::uint32_t crc = 0;
    finished = true;
    if (!writer.Finish(false, &crc))
        return CopyOutcome{CopyResult::WriteFailed, std::string()};
    if (reporter_.Advance(writer.TakeWritten()))
        return CopyOutcome{CopyResult::Cancelled, std::string()};
    if (decoded < entry.UncompressedSize)
        return Bad("its data is shorter than its declared size");
    if (entry.CheckCrc && crc != entry.Crc32)
        return Bad("CRC mismatch");
    return CopyOutcome{};
}

ReadAheadSource::ReadAheadSource(ByteSource &inner) : inner_(inner), window_(new unsigned char[kWindow]) {}

bool ReadAheadSource::ReadAt(std::uint64_t offset, void *buffer, std::size_t length)
{
    if (length == 0)
        return offset <= inner_.Size();
    if (length > kWindow / 2)
        return inner_.ReadAt(offset, buffer, length);
    if (offset < start_ || offset - start_ > filled_ || length > filled_ - (offset - start_)) {
        const std::uint64_t size = inner_.Size();
        if (offset > size || length > size - offset)
            return false;
        filled_ = 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, size - offset));
        // A file cut short since it was opened: the bytes asked for may still be there.
        if (!inner_.ReadAt(offset, window_.get(), n))
            return inner_.ReadAt(offset, buffer, length);
        start_ = offset;
        filled_ = n;
    }
    std::memcpy(buffer, window_.get() + (offset - start_), length);
    return true;
}

} // namespace pellux::libs
