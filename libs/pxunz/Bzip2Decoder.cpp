// Method 12, bzip2, through libbz2 and a block decoder of our own. A bzip2 stream is a
// row of independent blocks, so with more than one core the blocks are found by their
// magic number, each is re-wrapped as a one-block stream and decoded on a worker (by our
// own decoder, else by libbz2), and the outputs are handed on in order.
// The magic can also occur inside a block's data; such a false start makes a piece fail,
// and from that piece on the stream is decoded by libbz2 alone, as with one core.
#include "libs/pxunz/Bzip2Blocks.h"
#include "libs/pxunz/Decoder.h"

#include <bzlib.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace pellux::libs {

namespace {

// A block may decode to about 46 MB (the initial run-length stage turns 5 bytes into
// 255); past this size its output is not held but decoded again as it is handed on.
constexpr std::size_t kBlockOutputCap = 2u << 20;
// More than a block can take (900,001 symbols of at most 23 bits, and its tables): a
// piece this long without a magic is left to libbz2, and so is the memory it needs.
constexpr std::uint64_t kMaxBlockBits = std::uint64_t(4) << 23;
constexpr std::uint64_t kNoBlock = ~std::uint64_t(0);

unsigned WorkerCount()
{
    // Tests set it to show that the output does not depend on it.
    unsigned asked = 0;
    if (const char *env = std::getenv("PELLUX_UNZ_WORKERS"))
        asked = static_cast<unsigned>(std::strtoul(env, nullptr, 10));
    if (asked == 0)
        asked = std::thread::hardware_concurrency();
    return std::clamp(asked, 1u, 16u);
}

Decoder::Status StatusOf(int result)
{
    if (result == BZ_STREAM_END)
        return Decoder::Status::End;
    if (result == BZ_OK)
        return Decoder::Status::Ok;
    if (result == BZ_MEM_ERROR)
        throw std::bad_alloc();
    return Decoder::Status::Corrupt;
}

// The inverse transform's table is read at random, one step per byte.
void *AllocBz2(void *, int count, int size)
{
    return count < 0 || size < 0 ? nullptr : AllocTable(std::size_t(count) * std::size_t(size));
}
void FreeBz2(void *, void *table) { FreeTable(table); }

// Zero but for the allocator.
bz_stream NewStream()
{
    bz_stream s{};
    s.bzalloc = AllocBz2;
    s.bzfree = FreeBz2;
    return s;
}

struct Block {
    enum class State { Pending, Running, Done, Oversized, Failed };
    std::uint64_t StartBit = 0; // in the stream
    std::uint32_t Crc = 0;      // as the block states it; libbz2 checks it
    std::vector<unsigned char> Wrapped;
    std::unique_ptr<unsigned char[]> Output;
    std::size_t OutputSize = 0;
    std::size_t Handed = 0;
    State state = State::Pending;
    bz_stream Stream = NewStream(); // an oversized block's second decoding
    bool StreamOpen = false;
    ~Block()
    {
        if (StreamOpen)
            BZ2_bzDecompressEnd(&Stream);
    }
};

// Decodes a wrapped block whole, keeping its output while it stays under the cap.
Block::State DecodeBlock(Block &block, bz2::BlockScratch &tables)
{
    if (bz2::DecodeBlockOwn(block.Wrapped, kBlockOutputCap, tables, block.Output, block.OutputSize))
        return Block::State::Done;
    bz_stream s = NewStream();
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK)
        return Block::State::Failed; // the sequential decoder reports the lack of memory
    s.next_in = reinterpret_cast<char *>(block.Wrapped.data());
    s.avail_in = static_cast<unsigned>(block.Wrapped.size());
    std::size_t capacity = 1u << 20;
    std::unique_ptr<unsigned char[]> out(new (std::nothrow) unsigned char[capacity]);
    std::unique_ptr<unsigned char[]> scratch;
    std::size_t produced = 0;
    Block::State state = Block::State::Failed;
    while (out || scratch) {
        if (out && produced == capacity) {
            if (capacity < kBlockOutputCap) {
                std::unique_ptr<unsigned char[]> grown(new (std::nothrow) unsigned char[capacity * 2]);
                if (grown)
                    std::memcpy(grown.get(), out.get(), produced);
                out = std::move(grown);
                capacity *= 2;
            } else {
                // Decoded to the end all the same: only a block known good is decoded again.
                out.reset();
                scratch.reset(new (std::nothrow) unsigned char[capacity]);
            }
            if (!out && !scratch)
                break;
        }
        if (out) {
            s.next_out = reinterpret_cast<char *>(out.get() + produced);
            s.avail_out = static_cast<unsigned>(capacity - produced);
        } else {
            s.next_out = reinterpret_cast<char *>(scratch.get());
            s.avail_out = static_cast<unsigned>(capacity);
        }
        const unsigned before = s.avail_out;
        const int result = BZ2_bzDecompress(&s);
        if (out)
            produced += before - s.avail_out;
        if (result == BZ_STREAM_END) {
            state = out ? Block::State::Done : Block::State::Oversized;
            break;
        }
        if (result != BZ_OK || (s.avail_out > 0 && s.avail_in == 0))
            break;
    }
    BZ2_bzDecompressEnd(&s);
    if (state == Block::State::Done) {
        block.Output = std::move(out);
        block.OutputSize = produced;
    }
    return state;
}

class Bzip2Decoder final : public Decoder {
public:
    explicit Bzip2Decoder(unsigned workers) : workers_(workers)
    {
        if (workers_ == 1)
            StartSequential();
    }
    ~Bzip2Decoder() override
    {
        StopWorkers();
        if (sequential_)
            BZ2_bzDecompressEnd(&stream_);
    }

    Status Decode(DecodeBuffers &b) override
    {
        if (sequential_)
            return DecodeSequential(b);
        unsigned char *const outStart = b.Out;
        for (;;) {
            if (badStart_) {
                StartFallback(0);
                return DecodeSequential(b);
            }
            if (!blocks_.empty()) {
                Block &front = *blocks_.front();
                const Block::State state = StateOf(front);
                if (state == Block::State::Failed) {
                    StartFallback(front.StartBit);
                    return DecodeSequential(b);
                }
                if (state == Block::State::Done || state == Block::State::Oversized) {
                    if (b.OutLeft == 0)
                        return Status::Ok;
                    const Status status = state == Block::State::Done ? HandOn(front, b) : HandOnAgain(front, b);
                    if (status == Status::Corrupt)
                        return status;
                    if (status == Status::End) {
                        combinedCrc_ = ((combinedCrc_ << 1) | (combinedCrc_ >> 31)) ^ front.Crc;
                        ++blocksDone_;
                        PopFront();
                    }
                    continue;
                }
            } else if (streamEnds_) {
                return combinedCrc_ == storedCrc_ ? Status::End : Status::Corrupt;
            }
            if (b.InLeft > 0 && Scanning() && blocks_.size() < MaxBlocks()) {
                Take(b);
                Scan();
                continue;
            }
            if (Scanning() && blocks_.size() < MaxBlocks() && Scan())
                continue;
            if (blocks_.empty()) {
                if (!b.InputEnds)
                    return Status::Ok;
                // The input ends inside the stream: libbz2 says how.
                StartFallback(endMagicBit_ != kNoBlock ? endMagicBit_ : blockStart_ != kNoBlock ? blockStart_ : 0);
                return DecodeSequential(b);
            }
            if (b.Out != outStart)
                return Status::Ok; // hand on what there is while the next block decodes
            if (!b.InputEnds && b.InLeft == 0 && blocks_.size() < MaxBlocks())
                return Status::Ok;
            WaitOrHelp();
        }
    }

private:
    std::size_t MaxBlocks() const { return 2 * workers_ + 1; }
    bool Scanning() const { return !streamEnds_ && !givenUp_; }
    // The caller's thread decodes too while it waits: one core is its.
    unsigned ThreadCount() const { return workers_ - 1; }

    Block::State StateOf(Block &block)
    {
        std::lock_guard lock(mutex_);
        return block.state;
    }

    void Take(DecodeBuffers &b)
    {
        input_.insert(input_.end(), b.In, b.In + b.InLeft);
        b.In += b.InLeft;
        b.InLeft = 0;
    }

    unsigned char ByteAt(std::uint64_t byte) const { return input_[byte - inputBase_]; }
    std::uint64_t InputEndByte() const { return inputBase_ + input_.size(); }

    // Looks for magics from where the last look stopped; true when it queued a block or
    // learned something new of the stream.
    bool Scan()
    {
        if (!headerRead_) {
            if (input_.size() < 4)
                return false;
            level_ = input_[3];
            if (input_[0] != 'B' || input_[1] != 'Z' || input_[2] != 'h' || level_ < '1' || level_ > '9') {
                badStart_ = true;
                return true;
            }
            headerRead_ = true;
        }
        bool found = false;
        const std::uint64_t end = InputEndByte();
        while (endMagicBit_ == kNoBlock && scanByte_ < end && blocks_.size() < MaxBlocks()) {
            if (scanByte_ < 9) {
                register_ = (register_ << 8) | ByteAt(scanByte_++);
                continue;
            }
            scanByte_ += bz2::SkipToCandidate(input_.data() + (scanByte_ - inputBase_),
                                              static_cast<std::size_t>(end - scanByte_), register_);
            const std::uint64_t byte = scanByte_ - 1;
            if (blockStart_ != kNoBlock && 8 * byte - blockStart_ > kMaxBlockBits) {
                auto block = std::make_unique<Block>();
                block->StartBit = blockStart_;
                block->state = Block::State::Failed;
                std::lock_guard lock(mutex_);
                blocks_.push_back(std::move(block));
                givenUp_ = true;
                return true;
            }
            const bz2::MagicHit hit = bz2::FindMagic(register_);
            if (hit.Kind == bz2::MagicHit::None)
                continue;
            const std::uint64_t at = 8 * byte - 40 - hit.Shift;
            if (blockStart_ == kNoBlock) {
                if (at != 32) {
                    badStart_ = true; // not where the first block must start
                    return true;
                }
            } else if (at <= blockStart_) {
                continue;
            } else {
                Queue(blockStart_, at);
            }
            found = true;
            if (hit.Kind == bz2::MagicHit::End) {
                endMagicBit_ = at;
                blockStart_ = kNoBlock;
            } else {
                blockStart_ = at;
            }
        }
        // The combined CRC after the end magic.
        if (endMagicBit_ != kNoBlock && !streamEnds_ && end * 8 >= endMagicBit_ + 80) {
            storedCrc_ = ReadBits(endMagicBit_ + 48, 32);
            streamEnds_ = true;
            found = true;
        }
        return found;
    }

    std::uint32_t ReadBits(std::uint64_t bit, unsigned count) const
    {
        return bz2::ReadBits(input_.data(), bit - inputBase_ * 8, count);
    }

    void Queue(std::uint64_t from, std::uint64_t to)
    {
        auto block = std::make_unique<Block>();
        block->StartBit = from;
        block->Crc = to - from > 80 ? ReadBits(from + 48, 32) : 0;
        block->Wrapped = bz2::WrapBlock(input_.data(), from - inputBase_ * 8, to - from, level_, block->Crc);
        bool start = false;
        {
            std::lock_guard lock(mutex_);
            blocks_.push_back(std::move(block));
            pending_.push_back(blocks_.back().get());
            start = threads_.empty() && pending_.size() >= 2;
        }
        wake_.notify_one();
        // A one-block entry is decoded without a thread.
        if (start)
            for (unsigned i = 0; i < ThreadCount(); ++i)
                threads_.emplace_back([this] { Work(); });
    }

    void PopFront()
    {
        {
            std::lock_guard lock(mutex_);
            blocks_.pop_front();
        }
        // Keep the input from the first block not yet handed on: the fallback starts there.
        const std::uint64_t keep = !blocks_.empty() ? blocks_.front()->StartBit
            : blockStart_ != kNoBlock               ? blockStart_
                                                    : endMagicBit_;
        if (keep == kNoBlock)
            return;
        const std::uint64_t drop = keep / 8 - inputBase_;
        if (drop > input_.size() / 2 && drop > (1u << 20)) {
            input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(drop));
            inputBase_ += drop;
        }
    }

    Status HandOn(Block &block, DecodeBuffers &b)
    {
        const std::size_t n = std::min(b.OutLeft, block.OutputSize - block.Handed);
        std::memcpy(b.Out, block.Output.get() + block.Handed, n);
        block.Handed += n;
        b.Out += n;
        b.OutLeft -= n;
        return block.Handed == block.OutputSize ? Status::End : Status::Ok;
    }

    // An oversized block, known good, decoded a second time straight into the output.
    Status HandOnAgain(Block &block, DecodeBuffers &b)
    {
        bz_stream &s = block.Stream;
        if (!block.StreamOpen) {
            if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK)
                throw std::bad_alloc();
            block.StreamOpen = true;
            s.next_in = reinterpret_cast<char *>(block.Wrapped.data());
            s.avail_in = static_cast<unsigned>(block.Wrapped.size());
        }
        const unsigned out = static_cast<unsigned>(std::min<std::size_t>(b.OutLeft, UINT_MAX));
        s.next_out = reinterpret_cast<char *>(b.Out);
        s.avail_out = out;
        const int result = BZ2_bzDecompress(&s);
        b.Out += out - s.avail_out;
        b.OutLeft -= out - s.avail_out;
        return StatusOf(result);
    }

    void WaitOrHelp()
    {
        std::unique_lock lock(mutex_);
        if (!pending_.empty()) {
            DecodeFirstPending(lock, scratch_);
            return;
        }
        Block &front = *blocks_.front();
        done_.wait(lock, [&] { return front.state != Block::State::Running; });
    }

    void Work()
    {
        bz2::BlockScratch scratch;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || !pending_.empty(); });
            if (stop_)
                return;
            DecodeFirstPending(lock, scratch);
        }
    }

    // Takes the oldest block nobody decodes yet and decodes it outside the lock.
    void DecodeFirstPending(std::unique_lock<std::mutex> &lock, bz2::BlockScratch &scratch)
    {
        Block *block = pending_.front();
        pending_.pop_front();
        block->state = Block::State::Running;
        lock.unlock();
        const Block::State state = DecodeBlock(*block, scratch);
        lock.lock();
        block->state = state;
        done_.notify_all();
    }

    void StopWorkers()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread &thread : threads_)
            thread.join();
        threads_.clear();
    }

    void StartSequential()
    {
        if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK)
            throw std::bad_alloc();
        sequential_ = true;
    }

    // From the block at `bit` on, libbz2 decodes the rest of the stream as it comes. The
    // blocks handed on before are replaced by one made-up block whose CRC is theirs
    // combined, so that libbz2 still checks the stream's combined CRC.
    void StartFallback(std::uint64_t bit)
    {
        StopWorkers();
        blocks_.clear();
        pending_.clear();
        StartSequential();
        if (blocksDone_ == 0 || badStart_) {
            feed_ = std::move(input_);
            feedBits_ = feed_.size() * 8;
            return;
        }
        const bz2::MadeBlock made = bz2::BlockWithCrc(combinedCrc_, level_);
        skip_ = made.Size;
        bz2::PutBits(feed_, feedBits_, 0x425A68, 24); // "BZh"
        bz2::PutBits(feed_, feedBits_, level_, 8);
        bz2::AppendBits(feed_, feedBits_, made.Stream.data(), 32, made.BlockBits);
        const std::uint64_t from = bit - inputBase_ * 8;
        bz2::AppendBits(feed_, feedBits_, input_.data(), from, input_.size() * 8 - from);
        input_.clear();
    }

    Status DecodeSequential(DecodeBuffers &b)
    {
        std::size_t whole = feedBits_ / 8;
        if (feedUsed_ == whole && b.InLeft > 0) {
            feed_.erase(feed_.begin(), feed_.begin() + static_cast<std::ptrdiff_t>(feedUsed_));
            feedBits_ -= feedUsed_ * 8;
            feedUsed_ = 0;
            bz2::AppendBits(feed_, feedBits_, b.In, 0, b.InLeft * 8);
            b.In += b.InLeft;
            b.InLeft = 0;
            whole = feedBits_ / 8;
        }
        const std::size_t usable = b.InputEnds && b.InLeft == 0 ? feed_.size() : whole;
        stream_.next_in = reinterpret_cast<char *>(feed_.data() + feedUsed_);
        stream_.avail_in = static_cast<unsigned>(std::min<std::size_t>(usable - feedUsed_, UINT_MAX));
        int result = BZ_OK;
        if (skip_ > 0) {
            // The made-up block's own bytes are not the entry's.
            unsigned char sink[8];
            stream_.next_out = reinterpret_cast<char *>(sink);
            stream_.avail_out = static_cast<unsigned>(skip_);
            result = BZ2_bzDecompress(&stream_);
            skip_ = stream_.avail_out;
        }
        if (skip_ == 0 && result == BZ_OK) {
            const unsigned out = static_cast<unsigned>(std::min<std::size_t>(b.OutLeft, UINT_MAX));
            stream_.next_out = reinterpret_cast<char *>(b.Out);
            stream_.avail_out = out;
            result = BZ2_bzDecompress(&stream_);
            b.Out += out - stream_.avail_out;
            b.OutLeft -= out - stream_.avail_out;
        }
        feedUsed_ = static_cast<std::size_t>(reinterpret_cast<unsigned char *>(stream_.next_in) - feed_.data());
        return StatusOf(result);
    }

    const unsigned workers_;
    // The stream's bytes from the first block not yet handed on; inputBase_ is the offset
    // of the first of them in the stream.
    std::vector<unsigned char> input_;
    std::uint64_t inputBase_ = 0;
    bool headerRead_ = false;
    bool badStart_ = false;
    bool givenUp_ = false;
    unsigned char level_ = '9';
    std::uint64_t scanByte_ = 0;
    std::uint64_t register_ = 0;
    std::uint64_t blockStart_ = kNoBlock;
    std::uint64_t endMagicBit_ = kNoBlock;
    bool streamEnds_ = false;
    std::uint32_t storedCrc_ = 0;
    std::uint32_t combinedCrc_ = 0;
    std::uint64_t blocksDone_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::unique_ptr<Block>> blocks_; // in stream order
    std::deque<Block *> pending_;
    std::vector<std::thread> threads_;
    bz2::BlockScratch scratch_; // the caller's thread's, when it helps
    bool stop_ = false;

    // The sequential decoder and what it is fed.
    bool sequential_ = false;
    bz_stream stream_ = NewStream();
    std::vector<unsigned char> feed_;
    std::uint64_t feedBits_ = 0;
    std::size_t feedUsed_ = 0;
    std::size_t skip_ = 0;
};

} // namespace

std::unique_ptr<Decoder> MakeBzip2Decoder() { return std::make_unique<Bzip2Decoder>(WorkerCount()); }

} // namespace pellux::libs
