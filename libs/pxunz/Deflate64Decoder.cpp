// Method 9, Deflate64: deflate (RFC 1951) with a 64 KiB window, length code 285 taking
// 16 extra bits and distance codes 30 and 31. zlib does not decode it, so we do.
#include "libs/pxunz/BitStreamDecoder.h"
#include "libs/pxunz/PrefixCode.h"

#include <algorithm>

namespace pellux::libs {

namespace {

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr std::uint32_t kDistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                             49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                             2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::uint8_t kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                             7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

class Deflate64Decoder final : public BitStreamDecoder {
public:
    // 256 KiB: a match may copy 65538 bytes from 65536 back.
    Deflate64Decoder() : BitStreamDecoder(18) {}

private:
    enum class State { Header, Stored, Codes };

    Status Step() override
    {
        do {
            switch (state_) {
            case State::Header:
                if (last_)
                    return Status::End;
                if (!InputEnded() && Buffered() < kMargin)
                    return Status::Ok;
                if (!Header())
                    return Status::Corrupt;
                break;
            case State::Stored:
                while (storedLeft_ > 0 && Room()) {
                    std::size_t n = PutBytes(storedLeft_);
                    if (n == 0) { // nothing left to read: a zero byte, which Decode finds out
                        Put(static_cast<unsigned char>(Bits(8)));
                        n = 1;
                    }
                    storedLeft_ -= static_cast<std::uint32_t>(n);
                }
                if (storedLeft_ == 0)
                    state_ = State::Header;
                break;
            case State::Codes:
                if (!Codes())
                    return Status::Corrupt;
                break;
            }
        } while (Room());
        return Status::Ok;
    }

    bool Header()
    {
        last_ = Bits(1) != 0;
        switch (Bits(2)) {
        case 0: {
            AlignToByte();
            const std::uint32_t length = Bits(16);
            if ((Bits(16) ^ 0xFFFF) != length)
                return false;
            storedLeft_ = length;
            state_ = State::Stored;
            return true;
        }
        case 1: {
            std::uint8_t lengths[288 + 32];
            std::fill(lengths, lengths + 144, 8);
            std::fill(lengths + 144, lengths + 256, 9);
            std::fill(lengths + 256, lengths + 280, 7);
            std::fill(lengths + 280, lengths + 288, 8);
            std::fill(lengths + 288, lengths + 320, 5);
            literals_.Build(lengths, 288);
            distances_.Build(lengths + 288, 32);
            state_ = State::Codes;
            return true;
        }
        case 2:
            state_ = State::Codes;
            return DynamicTables();
        default:
            return false;
        }
    }

    int Symbol(const PrefixCode &code)
    {
        unsigned length = 0;
        const int symbol = code.Decode(Peek(PrefixCode::kMaxLength), length);
        if (symbol >= 0)
            Drop(length);
        return symbol;
    }

    bool DynamicTables()
    {
        const unsigned literals = Bits(5) + 257;
        const unsigned distances = Bits(5) + 1;
        const unsigned codeLengths = Bits(4) + 4;
        if (literals > 286)
            return false;
        std::uint8_t lengths[288 + 32] = {};
        for (unsigned i = 0; i < codeLengths; ++i)
            lengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(Bits(3));
        PrefixCode lengthCode;
        if (!lengthCode.Build(lengths, 19))
            return false;
        std::fill(lengths, lengths + 19, 0);
        const unsigned total = literals + distances;
        for (unsigned i = 0; i < total;) {
            const int symbol = Symbol(lengthCode);
            if (symbol < 0)
                return false;
            if (symbol < 16) {
                lengths[i++] = static_cast<std::uint8_t>(symbol);
                continue;
            }
            std::uint8_t value = 0;
            unsigned repeat = 0;
            if (symbol == 16) {
                if (i == 0)
                    return false;
                value = lengths[i - 1];
                repeat = 3 + Bits(2);
            } else if (symbol == 17) {
                repeat = 3 + Bits(3);
            } else {
                repeat = 11 + Bits(7);
            }
            if (repeat > total - i)
                return false;
            std::fill(lengths + i, lengths + i + repeat, value);
            i += repeat;
        }
        // Without an end-of-block code no block could end.
        if (lengths[256] == 0)
            return false;
        return literals_.Build(lengths, literals) && distances_.Build(lengths + literals, distances);
    }

    bool Codes()
    {
        while (Room()) {
            const int symbol = Symbol(literals_);
            if (symbol < 0)
                return false;
            if (symbol < 256) {
                Put(static_cast<unsigned char>(symbol));
                continue;
            }
            if (symbol == 256) {
                state_ = State::Header;
                return true;
            }
            const unsigned l = static_cast<unsigned>(symbol) - 257;
            if (l >= 29)
                return false;
            const std::uint32_t length = kLengthBase[l] + Bits(kLengthExtra[l]);
            const int d = Symbol(distances_);
            if (d < 0)
                return false;
            const std::uint32_t distance = kDistanceBase[d] + Bits(kDistanceExtra[d]);
            if (distance > Produced())
                return false;
            Copy(distance, length);
        }
        return true;
    }

    State state_ = State::Header;
    bool last_ = false;
    std::uint32_t storedLeft_ = 0;
    PrefixCode literals_;
    PrefixCode distances_;
};

} // namespace

std::unique_ptr<Decoder> MakeDeflate64Decoder() { return std::make_unique<Deflate64Decoder>(); }

} // namespace pellux::libs
