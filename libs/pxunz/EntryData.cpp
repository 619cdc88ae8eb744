#include "libs/pxunz/EntryData.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace pellux::libs {

namespace {

constexpr std::size_t kInSize = 256 << 10;
// One write and one step report per block: the caller hears of each block written.
constexpr std::size_t kOutSize = Reporter::kStepBytes;

std::uint32_t Crc(std::uint32_t crc, const unsigned char *data, std::size_t length)
{
    while (length > 0) {
        const uInt n = static_cast<uInt>(std::min<std::size_t>(length, UINT_MAX));
        crc = static_cast<std::uint32_t>(::crc32(crc, data, n));
        data += n;
        length -= n;
    }
    return crc;
}

} // namespace

EntryCopier::EntryCopier(Reporter &reporter)
    : reporter_(reporter), in_(new unsigned char[kInSize]), out_(new unsigned char[kOutSize])
{
}

CopyOutcome EntryCopier::Copy(ByteSource &source, const EntryData &entry, Decoder &decoder, const DataSink &sink)
{
    const auto bad = [](std::string why) { return CopyOutcome{CopyResult::BadData, std::move(why)}; };
    std::uint64_t at = entry.DataStart;
    std::uint64_t unread = entry.CompressedSize;
    std::uint64_t written = 0;
    std::uint32_t crc = 0;
    // Some writers store an empty file as zero bytes of any method.
    if (entry.CompressedSize == 0 && entry.UncompressedSize == 0)
        return entry.Crc32 == 0 ? CopyOutcome{} : bad("CRC mismatch");
    DecodeBuffers b;
    for (;;) {
        if (b.InLeft == 0 && unread > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(unread, kInSize));
            if (!source.ReadAt(at, in_.get(), n))
                return bad("its data is cut short");
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
            return bad("its data is longer than its declared size");
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
            return bad(problem.empty() ? "corrupt " + MethodName(entry.Method) + " data" : problem);
        }
        if (status == Decoder::Status::End)
            break;
        // No progress with all the input given: the stream stops before its end.
        if (produced == 0 && b.InLeft == inBefore && (b.InLeft > 0 || unread == 0))
            return bad("corrupt " + MethodName(entry.Method) + " data (cut short)");
    }
    if (written < entry.UncompressedSize)
        return bad("its data is shorter than its declared size");
    if (crc != entry.Crc32)
        return bad("CRC mismatch");
    return CopyOutcome{};
}

} // namespace pellux::libs
