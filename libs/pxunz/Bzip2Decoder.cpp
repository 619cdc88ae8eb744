// Method 12, bzip2, through libbz2.
#include "libs/pxunz/Decoder.h"

#include <bzlib.h>

#include <algorithm>
#include <climits>
#include <new>

namespace pellux::libs {

namespace {

class Bzip2Decoder final : public Decoder {
public:
    Bzip2Decoder()
    {
        if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK)
            throw std::bad_alloc();
    }
    ~Bzip2Decoder() override { BZ2_bzDecompressEnd(&stream_); }

    Status Decode(DecodeBuffers &b) override
    {
        const unsigned in = static_cast<unsigned>(std::min<std::size_t>(b.InLeft, UINT_MAX));
        const unsigned out = static_cast<unsigned>(std::min<std::size_t>(b.OutLeft, UINT_MAX));
        stream_.next_in = const_cast<char *>(reinterpret_cast<const char *>(b.In));
        stream_.avail_in = in;
        stream_.next_out = reinterpret_cast<char *>(b.Out);
        stream_.avail_out = out;
        const int result = BZ2_bzDecompress(&stream_);
        b.In += in - stream_.avail_in;
        b.InLeft -= in - stream_.avail_in;
        b.Out += out - stream_.avail_out;
        b.OutLeft -= out - stream_.avail_out;
        if (result == BZ_STREAM_END)
            return Status::End;
        if (result == BZ_OK)
            return Status::Ok;
        if (result == BZ_MEM_ERROR)
            throw std::bad_alloc();
        return Status::Corrupt;
    }

private:
    bz_stream stream_{};
};

} // namespace

std::unique_ptr<Decoder> MakeBzip2Decoder() { return std::make_unique<Bzip2Decoder>(); }

} // namespace pellux::libs
