// Method 93 (and the older number 20), Zstandard, through libzstd. An entry may hold
// several frames one after another.
#include "libs/pxunz/Decoder.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <new>

namespace pellux::libs {

namespace {

// Windows up to 128 MiB, libzstd's own default limit: what zstd writes without --long.
constexpr int kWindowLogMax = 27;

class ZstdDecoder final : public Decoder {
public:
    ZstdDecoder() : stream_(ZSTD_createDStream())
    {
        if (!stream_ || ZSTD_isError(ZSTD_DCtx_setParameter(stream_, ZSTD_d_windowLogMax, kWindowLogMax)))
            throw std::bad_alloc();
    }
    ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }
    ZstdDecoder(const ZstdDecoder &) = delete;
    ZstdDecoder &operator=(const ZstdDecoder &) = delete;

    Status Decode(DecodeBuffers &b) override
    {
        ZSTD_inBuffer in{b.In, b.InLeft, 0};
        ZSTD_outBuffer out{b.Out, b.OutLeft, 0};
        const std::size_t result = ZSTD_decompressStream(stream_, &out, &in);
        b.In += in.pos;
        b.InLeft -= in.pos;
        b.Out += out.pos;
        b.OutLeft -= out.pos;
        if (ZSTD_isError(result)) {
            if (ZSTD_getErrorCode(result) == ZSTD_error_frameParameter_windowTooLarge)
                problem_ = "it needs a window of more than 128 MiB";
            else if (ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation)
                throw std::bad_alloc();
            return Status::Corrupt;
        }
        // 0: a frame is complete and flushed; the entry ends with its input.
        if (result == 0 && b.InLeft == 0 && b.InputEnds)
            return Status::End;
        return Status::Ok;
    }

    std::string Problem() const override { return problem_; }

private:
    ZSTD_DStream *stream_;
    std::string problem_;
};

} // namespace

std::unique_ptr<Decoder> MakeZstdDecoder() { return std::make_unique<ZstdDecoder>(); }

} // namespace pellux::libs
