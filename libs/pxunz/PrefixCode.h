#pragma once
// A canonical prefix code (RFC 1951 3.2.2) given by its code lengths, decoded from bits
// taken least significant first with the code's first bit in bit 0. Deflate64 and
// implode use it; implode's Shannon-Fano trees are canonical codes with inverted bits.
#include <cstdint>

namespace pellux::libs {

class PrefixCode {
public:
    static constexpr unsigned kMaxLength = 16; // implode's trees reach 16; deflate's stop at 15
    static constexpr unsigned kMaxSymbols = 320;

    // False when the lengths over-subscribe the code space (or there are too many).
    // An incomplete code is accepted; its unused codes decode as -1.
    bool Build(const std::uint8_t *lengths, unsigned count);

    // `bits` holds at least kMaxLength upcoming bits. Returns the symbol and sets
    // `length`, or -1 for a code no symbol has.
    int Decode(std::uint32_t bits, unsigned &length) const
    {
        const std::uint16_t entry = fast_[bits & (kFastSize - 1)];
        if (entry & 0xF) {
            length = entry & 0xF;
            return entry >> 4;
        }
        return DecodeSlow(bits, length);
    }

private:
    static constexpr unsigned kFastBits = 10;
    static constexpr unsigned kFastSize = 1u << kFastBits;

    int DecodeSlow(std::uint32_t bits, unsigned &length) const;

    std::uint16_t fast_[kFastSize] = {}; // symbol << 4 | length; length 0: not here
    std::uint16_t count_[kMaxLength + 1] = {};
    std::uint16_t symbols_[kMaxSymbols] = {}; // ordered by code
};

} // namespace pellux::libs
