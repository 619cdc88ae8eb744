#include "libs/pxunz/Decoder.h"

#include <algorithm>
#include <cstring>

namespace pellux::libs {

namespace {

// Method 0: the data as it is.
class StoredDecoder final : public Decoder {
public:
    Status Decode(DecodeBuffers &b) override
    {
        const std::size_t n = std::min(b.InLeft, b.OutLeft);
        if (n > 0) // an empty entry has no input buffer at all
            std::memcpy(b.Out, b.In, n);
        b.In += n;
        b.InLeft -= n;
        b.Out += n;
        b.OutLeft -= n;
        return b.InLeft == 0 && b.InputEnds ? Status::End : Status::Ok;
    }
};

} // namespace

std::unique_ptr<Decoder> MakeDecoder(const DecoderEntry &entry)
{
    switch (entry.Method) {
    case 0:
        return std::make_unique<StoredDecoder>();
    case 1:
        return MakeShrinkDecoder(entry);
    case 2:
    case 3:
    case 4:
    case 5:
        return MakeReduceDecoder(entry);
    case 6:
        return MakeImplodeDecoder(entry);
    case 8:
        return MakeInflateDecoder();
    case 9:
        return MakeDeflate64Decoder();
    case 12:
        return MakeBzip2Decoder();
    case 14:
        return MakeLzmaDecoder(entry);
    case 20:
    case 93:
        return MakeZstdDecoder();
    case 95:
        return MakeXzDecoder();
    default:
        return nullptr;
    }
}

std::string MethodName(std::uint16_t method)
{
    // APPNOTE 4.4.5.
    switch (method) {
    case 0:
        return "stored";
    case 1:
        return "shrink";
    case 2:
    case 3:
    case 4:
    case 5:
        return "reduce";
    case 6:
        return "implode";
    case 7:
        return "tokenizing";
    case 8:
        return "deflate";
    case 9:
        return "Deflate64";
    case 10:
        return "PKWARE DCL implode";
    case 12:
        return "bzip2";
    case 14:
        return "LZMA";
    case 16:
        return "IBM z/OS CMPSC";
    case 18:
        return "IBM TERSE";
    case 19:
        return "IBM LZ77";
    case 20:
    case 93:
        return "zstd";
    case 94:
        return "MP3";
    case 95:
        return "xz";
    case 96:
        return "JPEG";
    case 97:
        return "WavPack";
    case 98:
        return "PPMd";
    case 99:
        return "AES encryption";
    default:
        return "unknown";
    }
}

std::string UnsupportedMethod(std::uint16_t method)
{
    const std::string name = MethodName(method);
    return "unsupported compression method " + std::to_string(method) + (name == "unknown" ? "" : " (" + name + ")");
}

} // namespace pellux::libs
