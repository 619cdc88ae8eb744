#include "libs/pxunz/Decoder.h"

#include "util/ZipRecords.h"

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
    case 98:
        return MakePpmdDecoder(entry);
    default:
        return nullptr;
    }
}

std::string MethodName(std::uint16_t method) { return CompressionMethodName(method); }

std::string UnsupportedMethod(std::uint16_t method)
{
    const std::string name = MethodName(method);
    return "unsupported compression method " + std::to_string(method) + (name == "unknown" ? "" : " (" + name + ")");
}

} // namespace pellux::libs
