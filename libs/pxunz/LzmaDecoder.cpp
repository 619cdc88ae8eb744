// Method 14, LZMA, and method 95, xz, through liblzma.
#include "libs/pxunz/Decoder.h"

#include "util/LittleEndian.h"

#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace pellux::libs {

namespace {

// No entry gets more memory for its dictionary than this: a hostile header may ask
// for 4 GiB.
constexpr std::uint64_t kMemoryLimit = 1ull << 30;

// The dictionary is read at random, wherever a match points.
void *AllocLzma(void *, std::size_t count, std::size_t size)
{
    return size != 0 && count > SIZE_MAX / size ? nullptr : AllocTable(count * size);
}
void FreeLzma(void *, void *table) { FreeTable(table); }
const lzma_allocator kAllocator = {AllocLzma, FreeLzma, nullptr};

class LzmaStream {
public:
    LzmaStream() { stream_.allocator = &kAllocator; }
    ~LzmaStream() { lzma_end(&stream_); }

    Decoder::Status Code(DecodeBuffers &b)
    {
        stream_.next_in = b.In;
        stream_.avail_in = b.InLeft;
        stream_.next_out = b.Out;
        stream_.avail_out = b.OutLeft;
        const lzma_ret result = lzma_code(&stream_, b.InputEnds ? LZMA_FINISH : LZMA_RUN);
        b.In += b.InLeft - stream_.avail_in;
        b.InLeft = stream_.avail_in;
        b.Out += b.OutLeft - stream_.avail_out;
        b.OutLeft = stream_.avail_out;
        switch (result) {
        case LZMA_OK:
        case LZMA_BUF_ERROR:
            return Decoder::Status::Ok;
        case LZMA_STREAM_END:
            return Decoder::Status::End;
        case LZMA_MEM_ERROR:
            throw std::bad_alloc();
        case LZMA_MEMLIMIT_ERROR:
            problem_ = "it needs more than 1 GiB of memory";
            return Decoder::Status::Corrupt;
        default:
            return Decoder::Status::Corrupt;
        }
    }

    lzma_stream *Get() { return &stream_; }
    std::string problem_;

private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

// APPNOTE 5.8.8: the LZMA SDK's version (2 bytes), the size of the properties (2
// bytes), the properties, then a raw LZMA stream; flag bit 1 says it ends with an
// end-of-stream marker, else it ends after the entry's size.
class LzmaDecoder final : public Decoder {
public:
    explicit LzmaDecoder(const DecoderEntry &entry) : size_(entry.UncompressedSize) {}

    Status Decode(DecodeBuffers &b) override
    {
        if (!started_) {
            while (b.InLeft > 0 && header_.size() < HeaderLength()) {
                header_ += static_cast<char>(*b.In++);
                --b.InLeft;
            }
            if (header_.size() < HeaderLength())
                return b.InputEnds ? Status::Corrupt : Status::Ok;
            if (!Start())
                return Status::Corrupt;
        }
        return stream_.Code(b);
    }

    std::string Problem() const override { return stream_.problem_; }

private:
    std::size_t HeaderLength() const
    {
        if (header_.size() < 4)
            return 4;
        return 4 + le::U16(reinterpret_cast<const unsigned char *>(header_.data()) + 2);
    }

    bool Start()
    {
        started_ = true;
        const auto *h = reinterpret_cast<const unsigned char *>(header_.data());
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (header_.size() != 9 || lzma_properties_decode(&filters[0], nullptr, h + 4, 5) != LZMA_OK)
            return false;
        auto *options = static_cast<lzma_options_lzma *>(filters[0].options);
        // A dictionary larger than the whole output is never used: a smaller one decodes
        // the same stream, and a lying header cannot make us allocate gigabytes.
        options->dict_size = static_cast<std::uint32_t>(
            std::max<std::uint64_t>(LZMA_DICT_SIZE_MIN, std::min<std::uint64_t>(options->dict_size, size_)));
        options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
        lzma_set_ext_size(*options, size_);
        lzma_ret result = LZMA_MEMLIMIT_ERROR;
        if (options->dict_size <= kMemoryLimit)
            result = lzma_raw_decoder(stream_.Get(), filters);
        else
            stream_.problem_ = "it needs more than 1 GiB of memory";
        std::free(options);
        if (result == LZMA_MEM_ERROR)
            throw std::bad_alloc();
        return result == LZMA_OK;
    }

    std::uint64_t size_;
    std::string header_;
    bool started_ = false;
    LzmaStream stream_;
};

class XzDecoder final : public Decoder {
public:
    XzDecoder()
    {
        if (lzma_stream_decoder(stream_.Get(), kMemoryLimit, 0) != LZMA_OK)
            throw std::bad_alloc();
    }
    Status Decode(DecodeBuffers &b) override { return stream_.Code(b); }
    std::string Problem() const override { return stream_.problem_; }

private:
    LzmaStream stream_;
};

} // namespace

std::unique_ptr<Decoder> MakeLzmaDecoder(const DecoderEntry &entry) { return std::make_unique<LzmaDecoder>(entry); }

std::unique_ptr<Decoder> MakeXzDecoder() { return std::make_unique<XzDecoder>(); }

} // namespace pellux::libs
