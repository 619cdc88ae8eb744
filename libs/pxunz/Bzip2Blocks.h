#pragma once
// The bit-level pieces of parallel bzip2 decoding: finding block magics, copying a run of
// bits to byte alignment, and making up a block of a chosen CRC. Bits are numbered from
// the most significant bit of the first byte, as bzip2 writes them.
#include "platform/HugePages.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pellux::libs::bz2 {

constexpr std::uint64_t kBlockMagic = 0x314159265359;
constexpr std::uint64_t kEndMagic = 0x177245385090;

// `count` (at most 32) bits from bit `bit` on.
std::uint32_t ReadBits(const unsigned char *data, std::uint64_t bit, unsigned count);

// Appends bits to `out`, of which `bits` are in use; the last byte is padded with zeros.
void PutBits(std::vector<unsigned char> &out, std::uint64_t &bits, std::uint32_t value, unsigned count);
void AppendBits(std::vector<unsigned char> &out, std::uint64_t &bits, const unsigned char *src, std::uint64_t from,
                std::uint64_t count);

struct MagicHit {
    enum Kind { None, Block, End } Kind = None;
    unsigned Shift = 0; // how many bits of the window come after the magic
};
// A magic among the low 55 bits of the last eight bytes read (the newest lowest); of
// two, the earlier.
MagicHit FindMagic(std::uint64_t window);
// Shifts bytes into the window up to the first after which it may hold a magic; how
// many it shifted in.
std::size_t SkipToCandidate(const unsigned char *data, std::size_t size, std::uint64_t &window);

// The block of `count` bits at `from` as a stream of its own: header of `level` ('1' to
// '9'), the block, the end magic and, as combined CRC, the block's own.
std::vector<unsigned char> WrapBlock(const unsigned char *src, std::uint64_t from, std::uint64_t count,
                                     unsigned char level, std::uint32_t crc);

// The tables a block is decoded in, kept from block to block by the thread that decodes
// them: fresh memory each time would be faulted in, and cleared, some 2,000 pages a block.
using BlockScratch = HugePageBuffer;

// A stream WrapBlock made, decoded by our own code into `output` (`cap` bytes at most);
// false for a block it leaves to libbz2: damaged, randomised, of an incomplete code, or
// of a larger output.
bool DecodeBlockOwn(const std::vector<unsigned char> &wrapped, std::size_t cap, BlockScratch &scratch,
                    std::unique_ptr<unsigned char[]> &output, std::size_t &outputSize);

// bzip2's CRC (CRC-32 most significant bit first).
std::uint32_t Crc(const unsigned char *data, std::size_t length);

// A one-block stream whose block, bits [32, 32 + BlockBits), decodes to Size bytes of
// the given CRC.
struct MadeBlock {
    std::vector<unsigned char> Stream;
    std::uint64_t BlockBits = 0;
    std::size_t Size = 0;
};
MadeBlock BlockWithCrc(std::uint32_t crc, unsigned char level);

} // namespace pellux::libs::bz2
