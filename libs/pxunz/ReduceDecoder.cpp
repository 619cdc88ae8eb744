// Methods 2 to 5, reduce with compression factor 1 to 4: bytes drawn from follower sets
// (the likely successors of the byte before), then runs and back-references introduced
// by the byte 144. The stream has no end marker; it ends with the entry's size.
#include "libs/pxunz/BitStreamDecoder.h"

#include <algorithm>

namespace pellux::libs {

namespace {

constexpr unsigned kDle = 144;

// Bits of an index into a follower set of n bytes.
unsigned IndexBits(unsigned n)
{
    unsigned bits = 1;
    while ((1u << bits) < n)
        ++bits;
    return bits;
}

class ReduceDecoder final : public BitStreamDecoder {
public:
    ReduceDecoder(unsigned factor, std::uint64_t size)
        : BitStreamDecoder(14), factor_(factor), lengthMask_(0xFFu >> factor), size_(size)
    {
    }

private:
    Status Step() override
    {
        if (!haveSets_ && !ReadSets())
            return Status::Corrupt;
        do {
            if (Produced() >= size_)
                return Status::End;
            int next = NextByte();
            if (next < 0)
                return Status::Corrupt;
            const auto c = static_cast<unsigned>(next);
            switch (state_) {
            case 0:
                if (c == kDle)
                    state_ = 1;
                else
                    Put(static_cast<unsigned char>(c));
                break;
            case 1:
                if (c == 0) {
                    Put(kDle);
                    state_ = 0;
                } else {
                    v_ = c;
                    length_ = c & lengthMask_;
                    state_ = length_ == lengthMask_ ? 2 : 3;
                }
                break;
            case 2:
                length_ += c;
                state_ = 3;
                break;
            default: {
                const std::uint32_t distance = ((v_ >> (8 - factor_)) << 8) + c + 1;
                Copy(distance, static_cast<std::uint32_t>(std::min<std::uint64_t>(length_ + 3, size_ - Produced())));
                state_ = 0;
                break;
            }
            }
        } while (Room());
        return Status::Ok;
    }

    // 256 sets, from byte 255 down to 0: a 6-bit count, then that many bytes.
    bool ReadSets()
    {
        for (int i = 255; i >= 0; --i) {
            const unsigned n = Bits(6);
            if (n > 32)
                return false;
            counts_[i] = static_cast<unsigned char>(n);
            for (unsigned j = 0; j < n; ++j)
                sets_[i][j] = static_cast<unsigned char>(Bits(8));
        }
        haveSets_ = true;
        return true;
    }

    int NextByte()
    {
        const unsigned n = counts_[last_];
        unsigned c = 0;
        if (n == 0 || Bits(1) == 1) {
            c = Bits(8);
        } else {
            const unsigned index = Bits(IndexBits(n));
            if (index >= n)
                return -1;
            c = sets_[last_][index];
        }
        last_ = c;
        return static_cast<int>(c);
    }

    unsigned factor_;
    unsigned lengthMask_;
    std::uint64_t size_;
    bool haveSets_ = false;
    unsigned char counts_[256] = {};
    unsigned char sets_[256][32] = {};
    unsigned last_ = 0;
    int state_ = 0;
    unsigned v_ = 0;
    unsigned length_ = 0;
};

} // namespace

std::unique_ptr<Decoder> MakeReduceDecoder(const DecoderEntry &entry)
{
    return std::make_unique<ReduceDecoder>(entry.Method - 1u, entry.UncompressedSize);
}

} // namespace pellux::libs
