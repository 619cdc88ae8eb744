#include "libs/pxzip/Compressor.h"

#include <libdeflate.h>
#include <sys/random.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace pellux::libs {

namespace {

unsigned WorkerCount(unsigned asked)
{
    if (asked == 0) {
        // Tests set it to show that the archive does not depend on it.
        if (const char *env = std::getenv("PELLUX_ZIP_WORKERS"))
            asked = static_cast<unsigned>(std::strtoul(env, nullptr, 10));
    }
    if (asked == 0)
        asked = std::thread::hardware_concurrency();
    return std::clamp(asked, 1u, 64u);
}

bool RandomFill(unsigned char *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::getrandom(data, length, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

void DeriveKeys(KeyJob &job)
{
    static_assert(sizeof(job.Salt) == 16, "AES-256 salt");
    job.Ok = RandomFill(job.Salt, sizeof(job.Salt))
        && job.Cipher->Start(job.Password, KeyJob::kStrength, job.Salt, job.Verifier);
}

// Where libdeflate's near-optimal parser beats zlib at levels 8 and 9 on both counts:
// - data of a few byte values (DNA, columns of digits, images of few colours), where
//   every 3-byte string is common and zlib's match chains grow to thousands of entries
//   (1-2 MB/s): 1.4-4 times faster, 5-35 % smaller than zip;
// - machine code and other binaries, a tenth or more zero bytes: 2-3 times faster and
//   smaller on each of 1,200 programs and libraries (4 % in all).
// Its binary trees find the matches zlib walks chains for, and it does not use the
// minimum-match guess of libdeflate's lazy levels. A value counts when it makes up at
// least 1/4096 of the data; one value alone is a run, which zlib does fast and a few
// bytes smaller. Text stays with zlib, which is faster on it.
bool NearOptimalPays(const std::array<std::size_t, 256> &counts, std::size_t size)
{
    constexpr std::size_t kFew = 16;
    std::size_t common = 0;
    for (const std::size_t n : counts)
        common += n * 4096 >= size;
    return common >= 2 && (common <= kFew || counts[0] * 10 >= size);
}

// Bytes about as evenly spread as noise (compressed or encrypted data): only then is
// libdeflate's fastest level asked whether matches make up for it.
bool EvenlySpread(const std::array<std::size_t, 256> &counts, std::size_t size)
{
    double bits = 0;
    for (const std::size_t n : counts)
        if (n > 0)
            bits -= static_cast<double>(n) * std::log2(static_cast<double>(n) / static_cast<double>(size));
    return bits >= 7.95 * static_cast<double>(size);
}

// libdeflate ends every stream with a final block. Where other chunks follow, that
// block's final bit is cleared and the chunk ends as a zlib sync flush ends one, with an
// empty stored block that reaches a byte boundary. inflate stops at each block boundary
// and says how many bits of the last byte it took are still unread, which places the
// next block's first bit; the walk also checks that the chunk decodes to its length.
bool ReopenEnd(std::string &deflated, std::size_t inputSize)
{
    z_stream s{};
    if (inflateInit2(&s, -15) != Z_OK)
        return false;
    auto *const start = reinterpret_cast<Bytef *>(deflated.data());
    s.next_in = start;
    s.avail_in = static_cast<uInt>(deflated.size());
    unsigned char sink[1 << 16];
    std::size_t produced = 0;
    std::size_t finalByte = 0; // where the last block seen begins
    unsigned finalBit = 0;
    unsigned spareBits = 0; // of the last byte, after the final block
    int result = Z_OK;
    while (result == Z_OK) {
        s.next_out = sink;
        s.avail_out = sizeof sink;
        result = inflate(&s, Z_BLOCK);
        produced += sizeof sink - s.avail_out;
        if (result != Z_OK || !(s.data_type & 128))
            continue;
        const unsigned unread = static_cast<unsigned>(s.data_type) & 7;
        if (s.data_type & 64) {
            spareBits = unread; // past the final block: what is left is padding
        } else {
            const auto taken = static_cast<std::size_t>(s.next_in - start);
            finalByte = unread ? taken - 1 : taken;
            finalBit = unread ? 8 - unread : 0;
        }
    }
    const bool whole = result == Z_STREAM_END && s.avail_in == 0 && produced == inputSize;
    inflateEnd(&s);
    if (!whole || finalByte >= deflated.size())
        return false;
    deflated[finalByte] = static_cast<char>(deflated[finalByte] & ~(1u << finalBit));
    if (spareBits > 0)
        deflated.back() = static_cast<char>(deflated.back() & ((1u << (8 - spareBits)) - 1));
    if (spareBits < 3) // the stored block's 3 header bits run into a byte of their own
        deflated.push_back('\0');
    deflated.append("\0\0\xff\xff", 4);
    return true;
}

// One worker's streams, made at their first job and reset for every later one.
class WorkerState {
public:
    explicit WorkerState(int level) : level_(level) {}
    ~WorkerState()
    {
        if (ready_)
            deflateEnd(&stream_);
        for (auto *c : libdeflate_)
            libdeflate_free_compressor(c);
    }
    WorkerState(const WorkerState &) = delete;
    WorkerState &operator=(const WorkerState &) = delete;

    void Compress(DeflateJob &job)
    {
        job.Crc32 = Crc32(0, job.Input.data(), job.Input.size());
        const std::size_t size = job.Input.size();
        const bool choose = level_ >= 8 && size >= kChoiceFrom;
        const bool probe = job.Dictionary.empty() && size >= kProbeFrom;
        std::array<std::size_t, 256> counts{};
        if (choose || probe)
            for (const unsigned char c : job.Input)
                ++counts[c];
        // Wherever it is in a file: libdeflate's lazy level would lose most on such data.
        if (choose && NearOptimalPays(counts, size) && DeflateWithLibdeflate(job, kNearOptimal))
            return;
        // A file that will be stored (photos, video, archives): zlib would take 20-50 ms
        // per MiB to find that out, libdeflate's fastest level 3-5.
        if (probe && EvenlySpread(counts, size) && Incompressible(job))
            return;
        if (job.Libdeflate > 0 && DeflateWithLibdeflate(job, job.Libdeflate))
            return;
        job.Failed = !Deflate(job);
        // For a large file that compresses, libdeflate's lazy search is tried on the first
        // chunk: where it comes out at least 1 % smaller than zlib's, it takes the rest,
        // 1.5-2 times faster (logs, CSV). Source text mostly stays with zlib.
        if (choose && job.Dictionary.empty() && !job.Last && !job.Failed
            && job.Output.size() < job.Input.size() / 10 * 9 && SampleSmaller(job))
            job.LibdeflateAfter = kLazy;
    }

private:
    // Below these the choice saves no time worth a byte of difference either way.
    static constexpr std::size_t kChoiceFrom = 4096;
    static constexpr std::size_t kProbeFrom = 64 << 10;
    static constexpr int kFastest = 1;
    static constexpr int kNearOptimal = 10;
    // 8 rather than 9: within 0.3 % of 9's size on logs and tables, 10-15 % faster.
    static constexpr int kLazy = 8;

    libdeflate_compressor *Libdeflate(int level)
    {
        libdeflate_compressor *&c = libdeflate_[level == kFastest ? 0 : level == kLazy ? 1 : 2];
        if (!c)
            c = libdeflate_alloc_compressor(level);
        return c;
    }

    // `input` as one whole libdeflate stream, ending in a final block, in `out`; its
    // length, 0 when libdeflate fails.
    std::size_t LibdeflateInto(int level, const std::string &input, std::string &out)
    {
        libdeflate_compressor *c = Libdeflate(level);
        if (!c)
            return 0;
        out.resize(libdeflate_deflate_compress_bound(c, input.size()));
        out.resize(libdeflate_deflate_compress(c, input.data(), input.size(), out.data(), out.size()));
        return out.size();
    }

    // True when even libdeflate's attempt saves nothing. The Output is then the input
    // itself, so that the writer stores the data as it would after zlib's attempt, and
    // libdeflate's final block never stands where other chunks follow.
    bool Incompressible(DeflateJob &job)
    {
        const std::size_t size = job.Input.size();
        const std::size_t n = LibdeflateInto(kFastest, job.Input, sample_);
        if (n == 0 || n + size / 1024 < size)
            return false;
        job.Output = job.Input;
        return true;
    }

    // libdeflate cannot be primed: a chunk after the first starts afresh.
    bool DeflateWithLibdeflate(DeflateJob &job, int level)
    {
        return LibdeflateInto(level, job.Input, job.Output) > 0
            && (job.Last || ReopenEnd(job.Output, job.Input.size()));
    }

    bool SampleSmaller(const DeflateJob &job)
    {
        const std::size_t n = LibdeflateInto(kLazy, job.Input, sample_);
        return n > 0 && n * 100 <= job.Output.size() * 99;
    }

    bool Deflate(DeflateJob &job)
    {
        if (!ready_) {
            // zip's window and hash size.
            if (deflateInit2(&stream_, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
                return false;
            ready_ = true;
        } else if (deflateReset(&stream_) != Z_OK) {
            return false;
        }
        if (!job.Dictionary.empty()
            && deflateSetDictionary(&stream_, reinterpret_cast<const Bytef *>(job.Dictionary.data()),
                                    static_cast<uInt>(job.Dictionary.size()))
                != Z_OK)
            return false;
        // The bound covers the flush's empty stored block as well.
        job.Output.resize(deflateBound(&stream_, static_cast<uLong>(job.Input.size())) + 16);
        stream_.next_in = reinterpret_cast<Bytef *>(job.Input.data());
        stream_.avail_in = static_cast<uInt>(job.Input.size());
        stream_.next_out = reinterpret_cast<Bytef *>(job.Output.data());
        stream_.avail_out = static_cast<uInt>(job.Output.size());
        const int result = deflate(&stream_, job.Last ? Z_FINISH : Z_SYNC_FLUSH);
        if (result != (job.Last ? Z_STREAM_END : Z_OK) || stream_.avail_in != 0)
            return false;
        job.Output.resize(job.Output.size() - stream_.avail_out);
        return true;
    }

    int level_;
    z_stream stream_{};
    bool ready_ = false;
    libdeflate_compressor *libdeflate_[3] = {}; // fastest, lazy, near-optimal
    std::string sample_;
};

} // namespace

std::uint32_t Crc32(std::uint32_t crc, const void *data, std::size_t length)
{
    // libdeflate's runs on the carry-less multiply, several times zlib's speed.
    return libdeflate_crc32(crc, data, length);
}

Compressor::Compressor(int level, unsigned workers) : level_(level)
{
    const unsigned n = WorkerCount(workers);
    for (unsigned i = 0; i < n; ++i)
        threads_.emplace_back([this] { Run(); });
}

Compressor::~Compressor()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    work_.notify_all();
    for (auto &thread : threads_)
        thread.join();
}

void Compressor::Submit(DeflateJob *job)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(Work{job, nullptr});
    }
    work_.notify_one();
}

void Compressor::Submit(KeyJob *job)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(Work{nullptr, job});
    }
    work_.notify_one();
}

bool Compressor::WaitFor(KeyJob *job, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [job] { return job->Done; });
}

bool Compressor::WaitFor(DeflateJob *job, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [job] { return job->Done; });
}

void Compressor::Run()
{
    WorkerState state(level_);
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_)
            return;
        const Work work = queue_.front();
        queue_.pop_front();
        lock.unlock();
        if (work.Key)
            DeriveKeys(*work.Key);
        else
            state.Compress(*work.Deflate);
        lock.lock();
        (work.Key ? work.Key->Done : work.Deflate->Done) = true;
        done_.notify_all();
    }
}

} // namespace pellux::libs
