// Method 95, xz, through liblzma (method 14, LZMA, has a decoder of its own).
#include "libs/pxunz/Decoder.h"

#include <lzma.h>

#include <cstdint>
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

std::unique_ptr<Decoder> MakeXzDecoder() { return std::make_unique<XzDecoder>(); }

} // namespace pellux::libs
