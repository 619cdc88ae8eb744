// Method 14, LZMA: our own decoder of the raw stream. It decodes into a window as large
// as the dictionary (or the entry, if smaller) and copies out from there; the range
// coder and the match state stay in locals through the loop over symbols, and short
// matches are copied inline, eight bytes at a time.
#include "libs/pxunz/Decoder.h"

#include "util/LittleEndian.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace pellux::libs {

namespace {

// No entry gets more memory for its dictionary than this: a hostile header may ask
// for 4 GiB.
constexpr std::uint64_t kMemoryLimit = 1ull << 30;
constexpr std::uint32_t kMinWindow = 4096;

// The most input one symbol can take. Each modelled bit shrinks the range by at most
// log2(2048/31) bits, each direct bit by one; a match has 22 modelled and up to 26
// direct bits, and every byte read brings back 8 bits of range.
constexpr std::size_t kLook = 20;

constexpr std::uint32_t kTop = 1u << 24;
constexpr unsigned kStates = 12;
constexpr unsigned kPosStatesMax = 16;
constexpr unsigned kLenProbs = 2 + 2 * kPosStatesMax * 8 + 256; // choice, choice 2, low, mid, high

// Where each group of probabilities starts in the one table.
constexpr unsigned kIsMatch = 0;
constexpr unsigned kIsRep = kIsMatch + kStates * kPosStatesMax;
constexpr unsigned kIsRepG0 = kIsRep + kStates;
constexpr unsigned kIsRepG1 = kIsRepG0 + kStates;
constexpr unsigned kIsRepG2 = kIsRepG1 + kStates;
constexpr unsigned kIsRep0Long = kIsRepG2 + kStates;
constexpr unsigned kPosSlot = kIsRep0Long + kStates * kPosStatesMax; // 4 length states, 6 bits
// Distances 4..127: reverse trees, indexed from 1.
constexpr unsigned kSpecPos = kPosSlot + 4 * 64;
constexpr unsigned kAlign = kSpecPos + 115;
constexpr unsigned kLen = kAlign + 16;
constexpr unsigned kRepLen = kLen + kLenProbs;
constexpr unsigned kLiteral = kRepLen + kLenProbs; // 0x300 for each literal state

// The range decoder, on the locals `range`, `code` and `in`. A bit is decoded with
// BIT_IF0(p) { BIT_0(p); ... } else { BIT_1(p); ... }; the range is normalized after
// each bit, so that a symbol starts with all its input still unread.
#define PX_NORMALIZE                                                                                                   \
    if (range < kTop) {                                                                                                \
        range <<= 8;                                                                                                   \
        code = (code << 8) | *in++;                                                                                    \
    }
#define PX_BIT_IF0(p)                                                                                                  \
    prob = *(p);                                                                                                       \
    bound = (range >> 11) * prob;                                                                                      \
    if (code < bound)
#define PX_BIT_0(p)                                                                                                    \
    range = bound;                                                                                                     \
    *(p) = static_cast<std::uint16_t>(prob + ((2048 - prob) >> 5));                                                    \
    PX_NORMALIZE
#define PX_BIT_1(p)                                                                                                    \
    range -= bound;                                                                                                    \
    code -= bound;                                                                                                     \
    *(p) = static_cast<std::uint16_t>(prob - (prob >> 5));                                                             \
    PX_NORMALIZE
// A bit without a branch, for literals: their bits are too random to predict. The
// probability `v` was loaded ahead; `one` becomes all ones for a 1, else 0.
#define PX_FLAT_BIT(q, v, one)                                                                                         \
    {                                                                                                                  \
        const std::uint32_t b_ = (range >> 11) * (v);                                                                  \
        one = 0u - static_cast<std::uint32_t>(code >= b_);                                                             \
        range = b_ + ((range - 2 * b_) & one);                                                                         \
        code -= b_ & one;                                                                                              \
        *(q) = static_cast<std::uint16_t>((((v) + ((2048 - (v)) >> 5)) & ~one) | (((v) - ((v) >> 5)) & one));          \
        PX_NORMALIZE                                                                                                   \
    }

// A bit tree of `steps` bits without branches, m from 1 to 2^steps + the value; the
// last step loads, unused, up to one tree's size past the tree: still in the table.
#define PX_FLAT_TREE(probs, m, steps)                                                                                  \
    {                                                                                                                  \
        std::uint32_t v_ = (probs)[m];                                                                                 \
        _Pragma("GCC unroll 8") for (int i_ = 0; i_ < (steps); ++i_)                                                   \
        {                                                                                                              \
            const std::uint32_t v0_ = (probs)[2 * m], v1_ = (probs)[2 * m + 1];                                        \
            std::uint32_t one_;                                                                                        \
            PX_FLAT_BIT((probs) + m, v_, one_);                                                                        \
            m = (m << 1) - one_;                                                                                       \
            v_ = (v0_ & ~one_) | (v1_ & one_);                                                                         \
        }                                                                                                              \
    }
// The same with the bits taken lowest first into `value`, from bit 0 up.
#define PX_FLAT_REVERSE(probs, steps, value)                                                                           \
    {                                                                                                                  \
        unsigned m_ = 1;                                                                                               \
        std::uint32_t v_ = (probs)[1];                                                                                 \
        _Pragma("GCC unroll 8") for (unsigned i_ = 0; i_ < (steps); ++i_)                                              \
        {                                                                                                              \
            const std::uint32_t v0_ = (probs)[2 * m_], v1_ = (probs)[2 * m_ + 1];                                      \
            std::uint32_t one_;                                                                                        \
            PX_FLAT_BIT((probs) + m_, v_, one_);                                                                       \
            m_ = (m_ << 1) - one_;                                                                                     \
            v_ = (v0_ & ~one_) | (v1_ & one_);                                                                         \
            value |= one_ & (1u << i_);                                                                                \
        }                                                                                                              \
    }

// Copies a match of `len` bytes from `dist` + 1 back to `pos`; pos + len stays within
// the window. Short distances and matches that wrap around its end go byte by byte.
inline void CopyMatch(std::uint8_t *win, std::size_t size, std::size_t pos, std::size_t dist, std::size_t len)
{
    std::uint8_t *dst = win + pos;
    if (dist < pos) {
        const std::uint8_t *src = dst - dist - 1;
        if (dist >= 7 && len + 8 <= size - pos) {
            // Whole words may run up to 7 bytes past the match, over bytes that can
            // still be history once the window has wrapped: they are put back.
            std::uint64_t saved;
            std::memcpy(&saved, dst + len, 8);
            std::size_t i = 0;
            do {
                std::uint64_t word;
                std::memcpy(&word, src + i, 8);
                std::memcpy(dst + i, &word, 8);
                i += 8;
            } while (i < len);
            std::memcpy(dst + len, &saved, 8);
        } else if (dist == 0) {
            std::memset(dst, *src, len);
        } else {
            for (std::size_t i = 0; i < len; ++i)
                dst[i] = src[i];
        }
        return;
    }
    std::size_t from = pos + size - dist - 1;
    for (std::size_t i = 0; i < len; ++i) {
        dst[i] = win[from];
        if (++from == size)
            from = 0;
    }
}

// APPNOTE 5.8.8: the LZMA SDK's version (2 bytes), the size of the properties (2
// bytes, 5), the properties (lc/lp/pb in one byte, the dictionary size), then the raw
// stream. Flag bit 1 says it ends with an end-of-stream marker, else it ends after the
// entry's size; either way a marker right at the declared size is accepted, and
// nothing past that size is ever produced.
class Lzma1Decoder final : public Decoder {
public:
    explicit Lzma1Decoder(const DecoderEntry &entry) : size_(entry.UncompressedSize) {}
    ~Lzma1Decoder() override { FreeTable(window_); }
    Lzma1Decoder(const Lzma1Decoder &) = delete;
    Lzma1Decoder &operator=(const Lzma1Decoder &) = delete;

    Status Decode(DecodeBuffers &b) override
    {
        if (corrupt_)
            return Status::Corrupt;
        if (!window_) {
            while (b.InLeft > 0 && headerLength_ < sizeof header_) {
                header_[headerLength_++] = *b.In++;
                --b.InLeft;
            }
            if (headerLength_ < sizeof header_)
                return b.InputEnds && b.InLeft == 0 ? Status::Corrupt : Status::Ok;
            if (!Start())
                return Fail();
        }
        for (;;) {
            const std::size_t n = std::min(pos_ - flushed_, b.OutLeft);
            if (n > 0) {
                std::memcpy(b.Out, window_ + flushed_, n);
                b.Out += n;
                b.OutLeft -= n;
                flushed_ += n;
            }
            if (flushed_ < pos_)
                return Status::Ok;
            if (finished_)
                return Status::End;
            if (b.OutLeft == 0)
                return Status::Ok;
            if (pos_ == windowSize_) {
                pos_ = flushed_ = 0;
                full_ = true;
            }
            const std::uint64_t left = size_ - total_;
            // No further than the caller takes: the bytes are copied out while still in
            // the cache.
            const std::size_t limit =
                pos_ + static_cast<std::size_t>(std::min<std::uint64_t>({windowSize_ - pos_, left, b.OutLeft}));
            if (remaining_ > 0) {
                const std::size_t copy = std::min(remaining_, limit - pos_);
                CopyMatch(window_, windowSize_, pos_, rep_[0], copy);
                pos_ += copy;
                total_ += copy;
                remaining_ -= copy;
                continue;
            }
            if (left == 0 && code_ == 0) {
                finished_ = true;
                continue;
            }
            const std::size_t before = pos_;
            bool inputEnds = false;
            const Result result = DecodeInput(b, limit, inputEnds);
            if (result == Result::Corrupt)
                return Fail();
            if (result == Result::Finished)
                finished_ = true;
            else if (pos_ == before) // all the input waits in the tail for more
                return inputEnds ? Fail() : Status::Ok;
        }
    }

    std::string Problem() const override { return problem_; }

private:
    enum class Result { Input, Limit, Finished, Corrupt };

    Status Fail()
    {
        corrupt_ = true;
        return Status::Corrupt;
    }

    bool Start()
    {
        if (le::U16(header_ + 2) != 5 || header_[4] >= 9 * 5 * 5 || header_[9] != 0)
            return false;
        lc_ = header_[4] % 9;
        lp_ = header_[4] / 9 % 5;
        pb_ = header_[4] / 45;
        // A dictionary larger than the whole output is never used: a smaller one decodes
        // the same stream, and a lying header cannot make us allocate gigabytes.
        const std::uint64_t window =
            std::max<std::uint64_t>(kMinWindow, std::min<std::uint64_t>(le::U32(header_ + 5), size_));
        if (window > kMemoryLimit) {
            problem_ = "it needs more than 1 GiB of memory";
            return false;
        }
        windowSize_ = static_cast<std::size_t>(window);
        // A matched literal's last bit loads, unused, up to 0x100 past its table.
        const std::size_t probCount = kLiteral + (std::size_t{0x300} << (lc_ + lp_)) + 0x100;
        probs_.reset(new std::uint16_t[probCount]);
        std::fill_n(probs_.get(), probCount, std::uint16_t{1024});
        window_ = static_cast<std::uint8_t *>(AllocTable(windowSize_));
        if (!window_)
            throw std::bad_alloc();
        code_ = (std::uint32_t{header_[10]} << 24) | (std::uint32_t{header_[11]} << 16)
            | (std::uint32_t{header_[12]} << 8) | header_[13];
        return true;
    }

    // Decodes from the caller's input while it holds a whole symbol's worth, else from
    // the tail: the last bytes of earlier pieces topped up from this one. Bytes of this
    // piece the tail did not use go back to the caller. At the very end of the input
    // the tail is padded with zeros, and a symbol that reads into them was cut short.
    Result DecodeInput(DecodeBuffers &b, std::size_t limit, bool &inputEnds)
    {
        if (tailLength_ == 0 && b.InLeft >= kLook) {
            const std::uint8_t *in = b.In;
            const Result result = Run(in, b.In + b.InLeft - kLook, limit);
            b.InLeft -= static_cast<std::size_t>(in - b.In);
            b.In = in;
            return result;
        }
        const std::size_t take = std::min(b.InLeft, 2 * kLook - tailLength_);
        if (take > 0)
            std::memcpy(tail_ + tailLength_, b.In, take);
        b.In += take;
        b.InLeft -= take;
        tailLength_ += take;
        inputEnds = b.InputEnds && b.InLeft == 0;
        if (!inputEnds && tailLength_ < kLook)
            return Result::Input;
        if (inputEnds)
            std::memset(tail_ + tailLength_, 0, kLook);
        const std::uint8_t *in = tail_;
        Result result = Run(in, inputEnds ? tail_ + tailLength_ : tail_ + tailLength_ - kLook, limit);
        const auto used = static_cast<std::size_t>(in - tail_);
        if (used > tailLength_)
            return Result::Corrupt;
        const std::size_t rest = tailLength_ - used;
        if (rest <= take) {
            b.In -= rest;
            b.InLeft += rest;
            tailLength_ = 0;
        } else {
            std::memmove(tail_, tail_ + used, rest);
            tailLength_ = rest;
        }
        return result;
    }

    // Decodes symbols into the window up to `limit` while `in` <= `safeEnd`. At the
    // entry's declared size only an end marker may follow.
    Result Run(const std::uint8_t *&inRef, const std::uint8_t *safeEnd, std::size_t limit)
    {
        const std::uint8_t *in = inRef;
        std::uint32_t range = range_;
        std::uint32_t code = code_;
        std::uint32_t prob;
        std::uint32_t bound;
        std::uint8_t *const win = window_;
        const std::size_t size = windowSize_;
        const bool full = full_;
        std::size_t pos = pos_;
        // The entry's position at window position 0, and the window position of its end.
        const std::uint64_t base = total_ - pos_;
        const std::uint64_t end = pos_ + (size_ - total_);
        std::uint32_t rep0 = rep_[0], rep1 = rep_[1], rep2 = rep_[2], rep3 = rep_[3];
        unsigned state = state_;
        std::uint16_t *const probs = probs_.get();
        const unsigned pbMask = (1u << pb_) - 1;
        const unsigned lpMask = (1u << lp_) - 1;
        const unsigned lc = lc_;
        Result result = Result::Input;

        while (in <= safeEnd) {
            if (pos >= limit) {
                if (pos != end) {
                    result = Result::Limit;
                    break;
                }
                if (code == 0) {
                    result = Result::Finished;
                    break;
                }
            }
            const unsigned posState = static_cast<unsigned>(base + pos) & pbMask;
            std::uint16_t *p = probs + kIsMatch + state * kPosStatesMax + posState;
            PX_BIT_IF0(p)
            {
                PX_BIT_0(p);
                if (pos >= limit) {
                    result = Result::Corrupt;
                    break;
                }
                const unsigned prev = pos > 0 ? win[pos - 1] : full ? win[size - 1] : 0;
                p = probs + kLiteral
                    + 0x300 * (((static_cast<unsigned>(base + pos) & lpMask) << lc) + (prev >> (8 - lc)));
                // The probabilities of both children are loaded before the bit that
                // picks one is known.
                unsigned symbol = 1;
                std::uint32_t one;
                if (state < 7) {
                    state = state < 4 ? 0 : state - 3;
                    std::uint32_t v = p[1];
#pragma GCC unroll 8
                    for (int i = 0; i < 8; ++i) {
                        const std::uint32_t v0 = p[2 * symbol], v1 = p[2 * symbol + 1];
                        PX_FLAT_BIT(p + symbol, v, one);
                        symbol = (symbol << 1) - one;
                        v = (v0 & ~one) | (v1 & one);
                    }
                } else {
                    state = state < 10 ? state - 3 : state - 6;
                    // While the bits agree with those of the byte at rep0, they have
                    // probabilities of their own (offset 0x100).
                    unsigned match = win[rep0 < pos ? pos - rep0 - 1 : pos + size - rep0 - 1] << 1;
                    unsigned offset = 0x100;
                    unsigned index = offset + (match & offset) + symbol;
                    std::uint32_t v = p[index];
#pragma GCC unroll 8
                    for (int i = 0; i < 8; ++i) {
                        const unsigned next = match << 1;
                        const unsigned o0 = offset & ~match, o1 = offset & match;
                        const unsigned i0 = o0 + (next & o0) + 2 * symbol, i1 = o1 + (next & o1) + 2 * symbol + 1;
                        const std::uint32_t v0 = p[i0], v1 = p[i1];
                        PX_FLAT_BIT(p + index, v, one);
                        symbol = (symbol << 1) - one;
                        offset = (o0 & ~one) | (o1 & one);
                        index = (i0 & ~one) | (i1 & one);
                        v = (v0 & ~one) | (v1 & one);
                        match = next;
                    }
                }
                win[pos++] = static_cast<std::uint8_t>(symbol);
                continue;
            }
            PX_BIT_1(p);
            unsigned len;
            p = probs + kIsRep + state;
            PX_BIT_IF0(p)
            {
                PX_BIT_0(p);
                rep3 = rep2;
                rep2 = rep1;
                rep1 = rep0;
                len = DecodeLength(probs + kLen, posState, range, code, in);
                state = state < 7 ? 7 : 10;
                p = probs + kPosSlot + std::min(len, 3u) * 64;
                unsigned slot = 1;
                PX_FLAT_TREE(p, slot, 6);
                slot -= 64;
                std::uint32_t dist = slot;
                if (slot >= 4) {
                    const unsigned bits = (slot >> 1) - 1;
                    dist = (2 | (slot & 1)) << bits;
                    if (slot < 14) {
                        p = probs + kSpecPos + dist - slot;
                        PX_FLAT_REVERSE(p, bits, dist);
                    } else {
                        std::uint32_t direct = 0;
                        for (unsigned i = bits - 4; i > 0; --i) {
                            range >>= 1;
                            code -= range;
                            const std::uint32_t t = 0 - (code >> 31);
                            code += range & t;
                            direct = (direct << 1) + (t + 1);
                            PX_NORMALIZE
                        }
                        dist += direct << 4;
                        p = probs + kAlign;
                        PX_FLAT_REVERSE(p, 4u, dist);
                    }
                }
                if (dist >= (full ? size : pos)) {
                    result = dist == 0xFFFFFFFF && pos == end && code == 0 ? Result::Finished : Result::Corrupt;
                    break;
                }
                rep0 = dist;
            }
            else
            {
                PX_BIT_1(p);
                if (pos >= limit || (!full && pos == 0)) {
                    result = Result::Corrupt;
                    break;
                }
                p = probs + kIsRepG0 + state;
                PX_BIT_IF0(p)
                {
                    PX_BIT_0(p);
                    p = probs + kIsRep0Long + state * kPosStatesMax + posState;
                    PX_BIT_IF0(p)
                    {
                        PX_BIT_0(p);
                        // One byte from rep0.
                        state = state < 7 ? 9 : 11;
                        win[pos] = win[rep0 < pos ? pos - rep0 - 1 : pos + size - rep0 - 1];
                        ++pos;
                        continue;
                    }
                    PX_BIT_1(p);
                }
                else
                {
                    PX_BIT_1(p);
                    std::uint32_t dist;
                    p = probs + kIsRepG1 + state;
                    PX_BIT_IF0(p)
                    {
                        PX_BIT_0(p);
                        dist = rep1;
                    }
                    else
                    {
                        PX_BIT_1(p);
                        p = probs + kIsRepG2 + state;
                        PX_BIT_IF0(p)
                        {
                            PX_BIT_0(p);
                            dist = rep2;
                        }
                        else
                        {
                            PX_BIT_1(p);
                            dist = rep3;
                            rep3 = rep2;
                        }
                        rep2 = rep1;
                    }
                    rep1 = rep0;
                    rep0 = dist;
                }
                len = DecodeLength(probs + kRepLen, posState, range, code, in);
                state = state < 7 ? 8 : 11;
            }
            std::size_t n = len + 2;
            if (n > limit - pos) {
                if (n > end - pos) { // past the declared size
                    result = Result::Corrupt;
                    break;
                }
                remaining_ = n - (limit - pos);
                n = limit - pos;
            }
            CopyMatch(win, size, pos, rep0, n);
            pos += n;
        }

        inRef = in;
        range_ = range;
        code_ = code;
        total_ += pos - pos_;
        pos_ = pos;
        rep_[0] = rep0;
        rep_[1] = rep1;
        rep_[2] = rep2;
        rep_[3] = rep3;
        state_ = state;
        return result;
    }

    // A match's length less 2: 3 bits below 8, 3 more below 16, else 8.
    [[gnu::always_inline]] static inline unsigned DecodeLength(std::uint16_t *p, unsigned posState,
                                                               std::uint32_t &range, std::uint32_t &code,
                                                               const std::uint8_t *&in)
    {
        std::uint32_t prob;
        std::uint32_t bound;
        unsigned m = 1;
        PX_BIT_IF0(p)
        {
            PX_BIT_0(p);
            p += 2 + posState * 8;
            PX_FLAT_TREE(p, m, 3);
            return m - 8;
        }
        PX_BIT_1(p);
        PX_BIT_IF0(p + 1)
        {
            PX_BIT_0(p + 1);
            p += 2 + kPosStatesMax * 8 + posState * 8;
            PX_FLAT_TREE(p, m, 3);
            return m;
        }
        PX_BIT_1(p + 1);
        p += 2 + 2 * kPosStatesMax * 8;
        PX_FLAT_TREE(p, m, 8);
        return m - 256 + 16;
    }

    const std::uint64_t size_;
    // The header, then the range coder's first 5 bytes (a zero, then the code).
    std::uint8_t header_[14] = {};
    std::size_t headerLength_ = 0;
    unsigned lc_ = 0, lp_ = 0, pb_ = 0;
    std::unique_ptr<std::uint16_t[]> probs_;
    std::uint32_t range_ = 0xFFFFFFFF;
    std::uint32_t code_ = 0;
    unsigned state_ = 0;
    std::uint32_t rep_[4] = {};
    std::uint8_t *window_ = nullptr;
    std::size_t windowSize_ = 0;
    std::size_t pos_ = 0;       // where the next byte goes
    std::size_t flushed_ = 0;   // the window's bytes before this are copied out
    bool full_ = false;         // the window wrapped: all of it is history
    std::uint64_t total_ = 0;   // bytes decoded
    std::size_t remaining_ = 0; // of a match cut short by the limit
    bool finished_ = false;
    bool corrupt_ = false;
    std::string problem_;
    std::uint8_t tail_[3 * kLook] = {};
    std::size_t tailLength_ = 0;
};

#undef PX_FLAT_REVERSE
#undef PX_FLAT_TREE
#undef PX_FLAT_BIT
#undef PX_BIT_1
#undef PX_BIT_0
#undef PX_BIT_IF0
#undef PX_NORMALIZE

} // namespace

std::unique_ptr<Decoder> MakeLzmaDecoder(const DecoderEntry &entry) { return std::make_unique<Lzma1Decoder>(entry); }

} // namespace pellux::libs
