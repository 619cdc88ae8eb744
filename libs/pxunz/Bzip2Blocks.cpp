#include "libs/pxunz/Bzip2Blocks.h"

#include <bzlib.h>

#include <array>
#include <cstring>
#include <new>

namespace pellux::libs::bz2 {

namespace {

bool Bit(const unsigned char *data, std::uint64_t bit) { return (data[bit / 8] >> (7 - bit % 8)) & 1; }

void PutBit(std::vector<unsigned char> &out, std::uint64_t &bits, bool bit)
{
    if (bits % 8 == 0)
        out.push_back(0);
    if (bit)
        out.back() = static_cast<unsigned char>(out.back() | (1u << (7 - bits % 8)));
    ++bits;
}

} // namespace

std::uint32_t ReadBits(const unsigned char *data, std::uint64_t bit, unsigned count)
{
    std::uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i)
        value = (value << 1) | static_cast<std::uint32_t>(Bit(data, bit + i));
    return value;
}

void PutBits(std::vector<unsigned char> &out, std::uint64_t &bits, std::uint32_t value, unsigned count)
{
    for (unsigned i = count; i-- > 0;)
        PutBit(out, bits, (value >> i) & 1);
}

void AppendBits(std::vector<unsigned char> &out, std::uint64_t &bits, const unsigned char *src, std::uint64_t from,
                std::uint64_t count)
{
    for (; count > 0 && bits % 8 != 0; --count)
        PutBit(out, bits, Bit(src, from++));
    const std::size_t whole = static_cast<std::size_t>(count / 8);
    const unsigned shift = static_cast<unsigned>(from % 8);
    const unsigned char *p = src + from / 8;
    const std::size_t old = out.size();
    out.resize(old + whole);
    unsigned char *q = out.data() + old;
    if (shift == 0) {
        if (whole > 0)
            std::memcpy(q, p, whole);
    } else {
        for (std::size_t i = 0; i < whole; ++i)
            q[i] = static_cast<unsigned char>((p[i] << shift) | (p[i + 1] >> (8 - shift)));
    }
    bits += 8 * static_cast<std::uint64_t>(whole);
    from += 8 * static_cast<std::uint64_t>(whole);
    for (count -= 8 * static_cast<std::uint64_t>(whole); count > 0; --count)
        PutBit(out, bits, Bit(src, from++));
}

namespace {

// Bits 16 to 31 of the window lie inside a magic at every shift: one look-up rules out
// almost every position. Bit k says the block magic may end k bits before the window
// does, bit 8 + k the end magic.
const std::array<std::uint16_t, 65536> &Candidates()
{
    static const std::array<std::uint16_t, 65536> kTable = [] {
        std::array<std::uint16_t, 65536> table{};
        for (unsigned shift = 0; shift < 8; ++shift) {
            table[((kBlockMagic << shift) >> 16) & 0xFFFF] |= static_cast<std::uint16_t>(1u << shift);
            table[((kEndMagic << shift) >> 16) & 0xFFFF] |= static_cast<std::uint16_t>(0x100u << shift);
        }
        return table;
    }();
    return kTable;
}

} // namespace

std::size_t SkipToCandidate(const unsigned char *data, std::size_t size, std::uint64_t &window)
{
    const std::array<std::uint16_t, 65536> &table = Candidates();
    std::uint64_t w = window;
    std::size_t i = 0;
    while (i < size) {
        w = (w << 8) | data[i++];
        if (table[(w >> 16) & 0xFFFF] != 0)
            break;
    }
    window = w;
    return i;
}

MagicHit FindMagic(std::uint64_t window)
{
    const unsigned candidates = Candidates()[(window >> 16) & 0xFFFF];
    if (candidates == 0)
        return MagicHit{};
    constexpr std::uint64_t kMask = (std::uint64_t(1) << 48) - 1;
    for (unsigned shift = 8; shift-- > 0;) {
        const std::uint64_t bits = (window >> shift) & kMask;
        if ((candidates >> shift) & 1 && bits == kBlockMagic)
            return MagicHit{MagicHit::Block, shift};
        if ((candidates >> (8 + shift)) & 1 && bits == kEndMagic)
            return MagicHit{MagicHit::End, shift};
    }
    return MagicHit{};
}

std::vector<unsigned char> WrapBlock(const unsigned char *src, std::uint64_t from, std::uint64_t count,
                                     unsigned char level, std::uint32_t crc)
{
    std::vector<unsigned char> out;
    out.reserve(static_cast<std::size_t>(count / 8 + 16));
    std::uint64_t bits = 0;
    PutBits(out, bits, 0x425A68, 24); // "BZh"
    PutBits(out, bits, level, 8);
    AppendBits(out, bits, src, from, count);
    PutBits(out, bits, static_cast<std::uint32_t>(kEndMagic >> 32), 16);
    PutBits(out, bits, static_cast<std::uint32_t>(kEndMagic), 32);
    PutBits(out, bits, crc, 32);
    return out;
}

std::uint32_t Crc(const unsigned char *data, std::size_t length)
{
    // Four bytes a step: table k holds a byte's CRC followed by k zero bytes.
    static const auto kTables = [] {
        std::array<std::array<std::uint32_t, 256>, 4> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i << 24;
            for (int k = 0; k < 8; ++k)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            t[0][i] = c;
        }
        for (std::size_t k = 1; k < 4; ++k)
            for (std::uint32_t i = 0; i < 256; ++i)
                t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
        return t;
    }();
    const auto &t = kTables;
    std::uint32_t c = ~0u;
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        c ^= std::uint32_t(data[i]) << 24 | std::uint32_t(data[i + 1]) << 16 | std::uint32_t(data[i + 2]) << 8
            | data[i + 3];
        c = t[3][c >> 24] ^ t[2][(c >> 16) & 0xff] ^ t[1][(c >> 8) & 0xff] ^ t[0][c & 0xff];
    }
    for (; i < length; ++i)
        c = (c << 8) ^ t[0][(c >> 24) ^ data[i]];
    return ~c;
}

MadeBlock BlockWithCrc(std::uint32_t crc, unsigned char level)
{
    // The CRC of four bytes is an invertible affine map of their 32 bits: solve for the
    // bytes over GF(2), keeping a basis by leading bit and which inputs made each vector.
    const auto crcOf = [](std::uint32_t word) {
        const unsigned char bytes[4] = {static_cast<unsigned char>(word >> 24), static_cast<unsigned char>(word >> 16),
                                        static_cast<unsigned char>(word >> 8), static_cast<unsigned char>(word)};
        return Crc(bytes, 4);
    };
    const std::uint32_t base = crcOf(0);
    std::uint32_t vectors[32] = {};
    std::uint32_t inputs[32] = {};
    for (unsigned i = 0; i < 32; ++i) {
        std::uint32_t v = crcOf(1u << i) ^ base;
        std::uint32_t in = 1u << i;
        for (unsigned b = 32; b-- > 0 && v != 0;) {
            if (!((v >> b) & 1))
                continue;
            if (vectors[b] == 0) {
                vectors[b] = v;
                inputs[b] = in;
                break;
            }
            v ^= vectors[b];
            in ^= inputs[b];
        }
    }
    std::uint32_t rest = crc ^ base;
    std::uint32_t word = 0;
    for (unsigned b = 32; b-- > 0;) {
        if ((rest >> b) & 1) {
            rest ^= vectors[b];
            word ^= inputs[b];
        }
    }
    const unsigned char data[4] = {static_cast<unsigned char>(word >> 24), static_cast<unsigned char>(word >> 16),
                                   static_cast<unsigned char>(word >> 8), static_cast<unsigned char>(word)};
    MadeBlock made;
    made.Size = 4;
    made.Stream.resize(1024);
    unsigned length = static_cast<unsigned>(made.Stream.size());
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(made.Stream.data()), &length,
                                 const_cast<char *>(reinterpret_cast<const char *>(data)), 4, level - '0', 0, 0)
        != BZ_OK)
        throw std::bad_alloc();
    made.Stream.resize(length);
    // The end magic and the combined CRC close the stream, padded to a byte.
    const std::uint64_t total = 8 * static_cast<std::uint64_t>(length);
    for (unsigned pad = 0; pad < 8; ++pad) {
        const std::uint64_t end = total - 80 - pad;
        if (ReadBits(made.Stream.data(), end, 16) == (kEndMagic >> 32)
            && ReadBits(made.Stream.data(), end + 16, 32) == static_cast<std::uint32_t>(kEndMagic)
            && ReadBits(made.Stream.data(), end + 48, 32) == crc) {
            made.BlockBits = end - 32;
            return made;
        }
    }
    throw std::bad_alloc(); // libbz2 wrote what bzip2 cannot be
}

} // namespace pellux::libs::bz2
