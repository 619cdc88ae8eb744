// Method 1, shrink: LZW with 9- to 13-bit codes, where code 256 introduces a command
// (1: one bit more per code, 2: free every code that is no other code's prefix). The
// stream has no end marker; it ends with the entry's size.
#include "libs/pxunz/BitStreamDecoder.h"

#include <algorithm>
#include <iterator>

namespace pellux::libs {

namespace {

constexpr unsigned kCodes = 8192;
constexpr unsigned kMaxCodeBits = 13;
constexpr std::uint16_t kFree = 0xFFFF;

class ShrinkDecoder final : public BitStreamDecoder {
public:
    explicit ShrinkDecoder(std::uint64_t size) : BitStreamDecoder(16), size_(size)
    {
        std::fill(std::begin(prefix_), std::end(prefix_), kFree);
    }

private:
    bool Used(unsigned code) const { return code < 256 || (code > 256 && prefix_[code] != kFree); }

    Status Step() override
    {
        do {
            if (Produced() >= size_)
                return Status::End;
            const unsigned code = Bits(codeBits_);
            if (code == 256) {
                const unsigned command = Bits(codeBits_);
                if (command == 1 && codeBits_ < kMaxCodeBits)
                    ++codeBits_;
                else if (command == 2)
                    PartialClear();
                else
                    return Status::Corrupt;
                continue;
            }
            if (previous_ < 0) {
                if (code > 255)
                    return Status::Corrupt;
                Emit(static_cast<unsigned char>(code));
                previous_ = static_cast<int>(code);
                continue;
            }
            // A code not yet defined can only be the one being defined now: the previous
            // string followed by its own first byte.
            const bool pending = !Used(code);
            if (pending && code != nextFree_)
                return Status::Corrupt;
            unsigned length = 0;
            unsigned c = pending ? static_cast<unsigned>(previous_) : code;
            while (c > 256) {
                if (length == kCodes || prefix_[c] == kFree)
                    return Status::Corrupt; // a cycle, or a freed code
                stack_[length++] = suffix_[c];
                c = prefix_[c];
            }
            if (c == 256)
                return Status::Corrupt;
            const auto first = static_cast<unsigned char>(c);
            Emit(first);
            while (length > 0)
                Emit(stack_[--length]);
            if (pending)
                Emit(first);
            if (nextFree_ < kCodes) {
                prefix_[nextFree_] = static_cast<std::uint16_t>(previous_);
                suffix_[nextFree_] = first;
                FindFree(nextFree_ + 1);
            }
            previous_ = static_cast<int>(code);
        } while (Room());
        return Status::Ok;
    }

    void Emit(unsigned char c)
    {
        if (Produced() < size_)
            Put(c);
    }

    void PartialClear()
    {
        // Only what is a prefix now stays; the entry the next code defines may still
        // take a freed code as its prefix, as PKZIP's encoder does it.
        bool isPrefix[kCodes] = {};
        for (unsigned c = 257; c < kCodes; ++c) {
            if (prefix_[c] != kFree)
                isPrefix[prefix_[c]] = true;
        }
        for (unsigned c = 257; c < kCodes; ++c) {
            if (!isPrefix[c])
                prefix_[c] = kFree;
        }
        FindFree(257);
    }

    void FindFree(unsigned from)
    {
        nextFree_ = from;
        while (nextFree_ < kCodes && prefix_[nextFree_] != kFree)
            ++nextFree_;
    }

    std::uint64_t size_;
    unsigned codeBits_ = 9;
    int previous_ = -1;
    unsigned nextFree_ = 257;
    std::uint16_t prefix_[kCodes];
    unsigned char suffix_[kCodes] = {};
    unsigned char stack_[kCodes] = {};
};

} // namespace

std::unique_ptr<Decoder> MakeShrinkDecoder(const DecoderEntry &entry)
{
    return std::make_unique<ShrinkDecoder>(entry.UncompressedSize);
}

} // namespace pellux::libs
