// Method 6, implode: LZ77 over a 4 KiB or 8 KiB window (flag bit 1) with Shannon-Fano
// coded lengths and distances, and literals coded too when flag bit 2 says a literal
// tree comes first. The stream has no end marker; it ends with the entry's size.
#include "libs/pxunz/BitStreamDecoder.h"
#include "libs/pxunz/PrefixCode.h"

#include <algorithm>

namespace pellux::libs {

namespace {

class ImplodeDecoder final : public BitStreamDecoder {
public:
    ImplodeDecoder(std::uint16_t flags, std::uint64_t size)
        : BitStreamDecoder(15), lowDistanceBits_((flags & 2) ? 7 : 6), literalTree_((flags & 4) != 0),
          minLength_(literalTree_ ? 3 : 2), size_(size)
    {
    }

private:
    Status Step() override
    {
        if (!haveTrees_) {
            if ((literalTree_ && !ReadTree(literals_, 256)) || !ReadTree(lengths_, 64) || !ReadTree(distances_, 64))
                return Status::Corrupt;
            haveTrees_ = true;
        }
        do {
            if (Produced() >= size_)
                return Status::End;
            if (Bits(1)) {
                const int c = literalTree_ ? Symbol(literals_) : static_cast<int>(Bits(8));
                if (c < 0)
                    return Status::Corrupt;
                Put(static_cast<unsigned char>(c));
                continue;
            }
            const std::uint32_t low = Bits(lowDistanceBits_);
            const int high = Symbol(distances_);
            if (high < 0)
                return Status::Corrupt;
            int length = Symbol(lengths_);
            if (length < 0)
                return Status::Corrupt;
            if (length == 63)
                length += static_cast<int>(Bits(8));
            const std::uint32_t distance = (static_cast<std::uint32_t>(high) << lowDistanceBits_ | low) + 1;
            const std::uint64_t left = size_ - Produced();
            Copy(distance, static_cast<std::uint32_t>(std::min<std::uint64_t>(length + minLength_, left)));
        } while (Room());
        return Status::Ok;
    }

    // The codes' bits are stored inverted.
    int Symbol(const PrefixCode &code)
    {
        unsigned length = 0;
        const std::uint32_t bits = ~Peek(PrefixCode::kMaxLength) & ((1u << PrefixCode::kMaxLength) - 1);
        const int symbol = code.Decode(bits, length);
        if (symbol >= 0)
            Drop(length);
        return symbol;
    }

    // A byte holding the count of bytes that follow, less one; each then gives a run of
    // code lengths: the run's length less one (high nibble), the code length less one.
    bool ReadTree(PrefixCode &code, unsigned symbols)
    {
        std::uint8_t lengths[256] = {};
        const unsigned bytes = Bits(8) + 1;
        unsigned n = 0;
        for (unsigned i = 0; i < bytes; ++i) {
            const unsigned b = Bits(8);
            const unsigned run = (b >> 4) + 1;
            if (run > symbols - n)
                return false;
            std::fill(lengths + n, lengths + n + run, static_cast<std::uint8_t>((b & 15) + 1));
            n += run;
        }
        return n == symbols && code.Build(lengths, symbols);
    }

    unsigned lowDistanceBits_;
    bool literalTree_;
    unsigned minLength_;
    std::uint64_t size_;
    bool haveTrees_ = false;
    PrefixCode literals_;
    PrefixCode lengths_;
    PrefixCode distances_;
};

} // namespace

std::unique_ptr<Decoder> MakeImplodeDecoder(const DecoderEntry &entry)
{
    return std::make_unique<ImplodeDecoder>(entry.Flags, entry.UncompressedSize);
}

} // namespace pellux::libs
