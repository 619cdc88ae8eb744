// Feeds arbitrary bytes to Pellux's own decoders and to bzip2's block splitting, in
// odd-sized pieces into a small output buffer so that every refill and flush path runs.
// The first byte picks the method, the second gives the flags. Corrupt is expected; crashes, hangs, sanitizer
// reports and output past the declared size are not. PPMd headers are held to 1 MiB of
// model memory, so that an input does not cost up to 256 MiB.
#include "libs/pxunz/Decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

// bzip2 splits its blocks across workers even on one core.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ::setenv("PELLUX_UNZ_WORKERS", "3", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using pellux::libs::Decoder;
    static constexpr std::uint16_t kMethods[] = {1, 2, 3, 4, 5, 6, 9, 12, 14, 98};
    if (size < 2)
        return 0;
    constexpr std::uint64_t kDeclared = 1 << 20;
    const pellux::libs::DecoderEntry entry{kMethods[data[0] % std::size(kMethods)], data[1], kDeclared};
    auto decoder = pellux::libs::MakeDecoder(entry);
    if (!decoder)
        std::abort();
    std::vector<std::uint8_t> stream(data + 2, data + size);
    if (entry.Method == 98 && stream.size() >= 2) {
        stream[0] &= 0x0F;
        stream[1] &= 0xF0;
    }
    pellux::libs::DecodeBuffers b;
    b.In = stream.data();
    std::size_t left = stream.size();
    unsigned char out[1000];
    std::uint64_t produced = 0;
    for (int rounds = 0; rounds < 100000; ++rounds) {
        // Pieces of 1 to 4096 bytes.
        const std::size_t piece = std::min<std::size_t>(left, 1 + (rounds * 977) % 4096);
        if (b.InLeft == 0) {
            b.InLeft = piece;
            left -= piece;
        }
        b.InputEnds = left == 0;
        b.Out = out;
        b.OutLeft = sizeof out;
        const std::size_t inBefore = b.InLeft;
        const Decoder::Status status = decoder->Decode(b);
        produced += sizeof out - b.OutLeft;
        // Deflate64 and bzip2 have no declared size to stop at; the others must.
        if (entry.Method != 9 && entry.Method != 12 && produced > kDeclared)
            std::abort();
        if (status != Decoder::Status::Ok || produced > 4 * kDeclared)
            return 0;
        if (b.OutLeft == sizeof out && b.InLeft == inBefore && b.InputEnds)
            return 0; // stuck at the end of the input: the caller calls it cut short
    }
    return 0;
}
