// Method 8, deflate (RFC 1951), through zlib's raw inflate.
#include "libs/pxunz/Decoder.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace pellux::libs {

namespace {

class InflateDecoder final : public Decoder {
public:
    ~InflateDecoder() override
    {
        if (started_)
            inflateEnd(&stream_);
    }

    Status Decode(DecodeBuffers &b) override
    {
        // Set up on first use: most small entries are inflated whole, elsewhere.
        if (!started_) {
            // Negative window bits: a bare deflate stream, no zlib header.
            if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK)
                throw std::bad_alloc();
            started_ = true;
        }
        const uInt in = static_cast<uInt>(std::min<std::size_t>(b.InLeft, UINT_MAX));
        const uInt out = static_cast<uInt>(std::min<std::size_t>(b.OutLeft, UINT_MAX));
        stream_.next_in = const_cast<Bytef *>(b.In);
        stream_.avail_in = in;
        stream_.next_out = b.Out;
        stream_.avail_out = out;
        const int result = inflate(&stream_, Z_NO_FLUSH);
        b.In += in - stream_.avail_in;
        b.InLeft -= in - stream_.avail_in;
        b.Out += out - stream_.avail_out;
        b.OutLeft -= out - stream_.avail_out;
        if (result == Z_STREAM_END)
            return Status::End;
        if (result == Z_OK || result == Z_BUF_ERROR)
            return Status::Ok;
        if (result == Z_MEM_ERROR)
            throw std::bad_alloc();
        return Status::Corrupt;
    }

private:
    z_stream stream_{};
    bool started_ = false;
};

} // namespace

std::unique_ptr<Decoder> MakeInflateDecoder() { return std::make_unique<InflateDecoder>(); }

} // namespace pellux::libs
