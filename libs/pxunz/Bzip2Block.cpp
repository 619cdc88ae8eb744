// One bzip2 block decoded whole by our own code: the parallel decoder's fast path.
// libbz2 reads a Huffman code one bit at a time; here a code of up to ten bits is one
// table lookup, which is most of the difference. Only blocks this decoder reads exactly
// as libbz2 does are taken: not randomised, every code complete, the output within the
// cap and of the CRC the block states. Anything else is left to libbz2, which also words
// every failure.
#include "libs/pxunz/Bzip2Blocks.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pellux::libs::bz2 {

namespace {

constexpr unsigned kMaxCodeLength = 20;
constexpr unsigned kFastBits = 10;
constexpr unsigned kMaxGroups = 6;
constexpr unsigned kMaxAlphabet = 258;
constexpr unsigned kMaxSelectors = 18002; // libbz2 drops any beyond
constexpr unsigned kGroupSize = 50;

// Most significant bit first, from a buffer that reads as zeros past its end; whether
// it was read past is asked once, at the end.
class BitReader {
public:
    BitReader(const unsigned char *data, std::size_t size) : data_(data), size_(size) {}

    // n from 1 to 32.
    std::uint32_t Peek(unsigned n)
    {
        if (count_ < 32)
            Refill();
        return static_cast<std::uint32_t>(buffer_ >> (64 - n));
    }
    void Skip(unsigned n)
    {
        buffer_ <<= n;
        count_ -= n;
    }
    std::uint32_t Get(unsigned n)
    {
        const std::uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
    bool ReadPastEnd() const { return 8 * static_cast<std::uint64_t>(pos_) - count_ > 8 * std::uint64_t(size_); }

private:
    void Refill()
    {
        if (pos_ + 8 <= size_) {
            // The bits below the whole bytes taken are the next byte's own: ORed in again
            // by the next refill, they stay as they are.
            std::uint64_t word = 0;
            for (unsigned i = 0; i < 8; ++i)
                word = word << 8 | data_[pos_ + i];
            buffer_ |= word >> count_;
            const unsigned take = (63 - count_) / 8;
            pos_ += take;
            count_ += 8 * take;
            return;
        }
        while (count_ <= 56) {
            const std::uint64_t byte = pos_ < size_ ? data_[pos_] : 0;
            buffer_ |= byte << (56 - count_);
            ++pos_;
            count_ += 8;
        }
    }

    const unsigned char *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::uint64_t buffer_ = 0;
    unsigned count_ = 0;
};

// A canonical code (lengths assigned in symbol order, as bzip2 writes them): the codes
// of up to kFastBits bits by lookup, longer ones by their first code of each length.
struct Code {
    std::uint16_t Fast[1u << kFastBits]; // symbol << 5 | length; 0 for longer codes
    std::int32_t Limit[kMaxCodeLength + 1];
    std::int32_t Base[kMaxCodeLength + 1];
    std::uint16_t Perm[kMaxAlphabet];
    unsigned MaxLength = 0;

    // False unless the lengths make a complete code: an incomplete or oversubscribed one
    // is decoded as libbz2 decodes it, by libbz2.
    bool Build(const unsigned char *lengths, unsigned alphabet)
    {
        unsigned count[kMaxCodeLength + 1] = {};
        for (unsigned s = 0; s < alphabet; ++s)
            ++count[lengths[s]];
        std::uint32_t kraft = 0;
        for (unsigned l = 1; l <= kMaxCodeLength; ++l)
            kraft += count[l] << (kMaxCodeLength - l);
        if (kraft != 1u << kMaxCodeLength)
            return false;
        std::int32_t first[kMaxCodeLength + 2];
        unsigned offset[kMaxCodeLength + 2];
        std::int32_t code = 0;
        unsigned at = 0;
        for (unsigned l = 1; l <= kMaxCodeLength; ++l) {
            first[l] = code;
            offset[l] = at;
            Limit[l] = code + static_cast<std::int32_t>(count[l]) - 1;
            Base[l] = code - static_cast<std::int32_t>(at);
            code = (code + static_cast<std::int32_t>(count[l])) << 1;
            at += count[l];
            if (count[l] > 0)
                MaxLength = l;
        }
        std::fill(std::begin(Fast), std::end(Fast), std::uint16_t(0));
        for (unsigned s = 0; s < alphabet; ++s) {
            const unsigned l = lengths[s];
            const unsigned rank = offset[l]++;
            Perm[rank] = static_cast<std::uint16_t>(s);
        }
        // Each code of up to kFastBits bits fills the entries it is a prefix of.
        for (unsigned l = 1; l <= std::min(kFastBits, MaxLength); ++l)
            for (std::int32_t c = first[l]; c <= Limit[l]; ++c) {
                const unsigned symbol = Perm[c - Base[l]];
                const unsigned from = static_cast<unsigned>(c) << (kFastBits - l);
                for (unsigned e = from; e < from + (1u << (kFastBits - l)); ++e)
                    Fast[e] = static_cast<std::uint16_t>(symbol << 5 | l);
            }
        return true;
    }

    unsigned Decode(BitReader &in) const
    {
        const std::uint32_t bits = in.Peek(kMaxCodeLength);
        if (const unsigned e = Fast[bits >> (kMaxCodeLength - kFastBits)]) {
            in.Skip(e & 31);
            return e >> 5;
        }
        for (unsigned l = kFastBits + 1; l <= MaxLength; ++l) {
            const auto c = static_cast<std::int32_t>(bits >> (kMaxCodeLength - l));
            if (c <= Limit[l]) {
                in.Skip(l);
                return Perm[c - Base[l]];
            }
        }
        return 0; // not reached: a complete code ends by MaxLength
    }
};

// Moves front[n] to the front. Most moves are short: a call to memmove for each would
// cost more than the move.
inline void MoveToFront(unsigned char *front, unsigned n)
{
    const unsigned char moved = front[n];
#if defined(__SSE2__)
    if (n < 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(front));
        const __m128i up = _mm_slli_si128(bytes, 1);
        const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        const __m128i through = _mm_cmplt_epi8(index, _mm_set1_epi8(static_cast<char>(n + 1)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(front),
                         _mm_or_si128(_mm_and_si128(through, up), _mm_andnot_si128(through, bytes)));
        front[0] = moved;
        return;
    }
#endif
    std::memmove(front + 1, front, n);
    front[0] = moved;
}

// The transform undone in many walks at once. Each step of a walk is a load that misses
// the cache, and a walk can only wait for one at a time; kWalks walks taking turns keep
// that many misses in flight. The rows that are multiples of kSpan cut the cycle through
// `tt` (each entry's bits above its byte are the next row) into segments, and so does the
// row the text starts at. Each segment is walked by one walk into pieces of `spill`; then
// the segments, in their order from that row, make the text. False where that order is
// broken, which only a damaged block gives.
constexpr unsigned kSpanBits = 12;
constexpr unsigned kWalks = 8;
constexpr std::uint32_t kPiece = 1u << 14; // what a walk takes of `spill` at a time
constexpr std::uint32_t kNone = ~std::uint32_t(0);

std::size_t SpillSize(std::uint32_t blockMax) { return blockMax + (kWalks + 1) * std::size_t(kPiece); }

bool Untransform(const std::uint32_t *tt, std::uint32_t origin, std::uint32_t size, unsigned char *spill,
                 unsigned char *text)
{
    const std::uint32_t head = tt[origin] >> 8;
    constexpr std::uint32_t kMask = (1u << kSpanBits) - 1;
    const std::uint32_t marked = ((size - 1) >> kSpanBits) + 1;
    const std::uint32_t headId = (head & kMask) == 0 ? head >> kSpanBits : marked;
    const std::uint32_t segmentCount = std::max(marked, headId + 1);
    struct Segment {
        std::uint32_t First = kNone, Last = kNone, Next = kNone;
    };
    struct Piece {
        std::uint32_t Start, Length, Next;
    };
    std::vector<Segment> segments(segmentCount);
    std::vector<Piece> pieces;
    pieces.reserve(segmentCount + size / kPiece + kWalks + 1);

    struct Walk {
        std::uint32_t Row, Segment, From, At, End;
    };
    Walk walks[kWalks];
    std::uint32_t started = 0, taken = 0, active = 0;
    const auto endPiece = [&](Walk &w) {
        if (w.At > w.From) {
            const auto index = static_cast<std::uint32_t>(pieces.size());
            pieces.push_back({w.From, w.At - w.From, kNone});
            Segment &s = segments[w.Segment];
            (s.Last == kNone ? s.First : pieces[s.Last].Next) = index;
            s.Last = index;
        }
        w.From = w.At;
    };
    const auto take = [&](Walk &w) {
        w.From = w.At = taken;
        taken += kPiece;
        w.End = taken;
    };
    const auto start = [&](Walk &w) {
        if (started == segmentCount)
            return false;
        w.Segment = started++;
        w.Row = w.Segment == marked ? head : w.Segment << kSpanBits;
        return true;
    };
    for (; active < kWalks && start(walks[active]); ++active)
        take(walks[active]);
    while (active > 0) {
        for (std::uint32_t j = 0; j < active; ++j) {
            Walk &w = walks[j];
            const std::uint32_t f = tt[w.Row];
            spill[w.At++] = static_cast<unsigned char>(f);
            w.Row = f >> 8;
            if (((w.Row & kMask) == 0) | (w.Row == head) | (w.At == w.End)) [[unlikely]] {
                if ((w.Row & kMask) == 0 || w.Row == head) {
                    endPiece(w);
                    segments[w.Segment].Next = w.Row == head ? headId : w.Row >> kSpanBits;
                    if (!start(w)) {
                        w = walks[--active];
                        --j; // the walk moved here takes its turn
                        continue;
                    }
                }
                if (w.At == w.End) {
                    endPiece(w);
                    take(w);
                }
            }
        }
    }

    std::uint32_t written = 0, id = headId;
    for (std::uint32_t n = 0; n < segmentCount; ++n) {
        for (std::uint32_t p = segments[id].First; p != kNone; p = pieces[p].Next) {
            if (pieces[p].Length > size - written)
                return false;
            std::memcpy(text + written, spill + pieces[p].Start, pieces[p].Length);
            written += pieces[p].Length;
        }
        id = segments[id].Next;
        if (id == headId || id == kNone)
            break;
    }
    if (id != headId || written == 0)
        return false;
    // A periodic block (a file of zeros makes them) is one period's cycle gone round again.
    while (written < size) {
        const std::uint32_t n = std::min(written, size - written); // whole periods: from the start
        std::memcpy(text + written, text, n);
        written += n;
    }
    return true;
}

} // namespace

bool DecodeBlockOwn(const std::vector<unsigned char> &wrapped, std::size_t cap, BlockScratch &scratch,
                    std::unique_ptr<unsigned char[]> &output, std::size_t &outputSize)
{
    if (wrapped.size() < 4 || wrapped[3] < '1' || wrapped[3] > '9')
        return false;
    const std::uint32_t blockMax = 100000u * static_cast<std::uint32_t>(wrapped[3] - '0');
    BitReader in(wrapped.data() + 4, wrapped.size() - 4);
    const std::uint64_t magicHigh = in.Get(24); // two statements: the order of the reads matters
    const std::uint64_t magic = magicHigh << 24 | in.Get(24);
    if (magic != kBlockMagic)
        return false;
    const std::uint32_t statedCrc = in.Get(32);
    if (in.Get(1) != 0) // randomised: an old writer's, and rare
        return false;
    const std::uint32_t origin = in.Get(24);

    unsigned char byteOf[256];
    unsigned used = 0;
    const std::uint32_t ranges = in.Get(16);
    for (unsigned r = 0; r < 16; ++r) {
        if (!((ranges >> (15 - r)) & 1))
            continue;
        const std::uint32_t map = in.Get(16);
        for (unsigned j = 0; j < 16; ++j)
            if ((map >> (15 - j)) & 1)
                byteOf[used++] = static_cast<unsigned char>(16 * r + j);
    }
    if (used == 0)
        return false;
    const unsigned alphabet = used + 2;
    const unsigned groups = in.Get(3);
    const unsigned selectorCount = in.Get(15);
    if (groups < 2 || groups > kMaxGroups || selectorCount < 1 || selectorCount > kMaxSelectors)
        return false;
    std::unique_ptr<unsigned char[]> selectors(new (std::nothrow) unsigned char[selectorCount]);
    if (!selectors)
        return false;
    unsigned char order[kMaxGroups];
    for (unsigned g = 0; g < groups; ++g)
        order[g] = static_cast<unsigned char>(g);
    for (unsigned i = 0; i < selectorCount; ++i) {
        unsigned j = 0;
        while (in.Get(1))
            if (++j >= groups)
                return false;
        const unsigned char g = order[j];
        std::memmove(order + 1, order, j);
        order[0] = g;
        selectors[i] = g;
    }
    std::unique_ptr<Code[]> codes(new (std::nothrow) Code[groups]);
    if (!codes)
        return false;
    for (unsigned g = 0; g < groups; ++g) {
        unsigned char lengths[kMaxAlphabet];
        unsigned length = in.Get(5);
        for (unsigned s = 0; s < alphabet; ++s) {
            for (;;) {
                if (length < 1 || length > kMaxCodeLength)
                    return false;
                if (!in.Get(1))
                    break;
                length = in.Get(1) ? length - 1 : length + 1;
            }
            lengths[s] = static_cast<unsigned char>(length);
        }
        if (!codes[g].Build(lengths, alphabet))
            return false;
    }

    // The symbols, through the move-to-front list, into the transform's table: each
    // entry's low byte is its byte, the bits above get the index of the next. Then the
    // text.
    unsigned char *memory = scratch.Reserve(std::size_t(blockMax) * (sizeof(std::uint32_t) + 1) + SpillSize(blockMax));
    if (!memory)
        return false;
    auto *tt = reinterpret_cast<std::uint32_t *>(memory);
    unsigned char *text = reinterpret_cast<unsigned char *>(tt + blockMax);
    unsigned char *spill = text + blockMax;
    std::uint32_t counts[256] = {};
    unsigned char front[256];
    for (unsigned i = 0; i < 256; ++i)
        front[i] = static_cast<unsigned char>(i);
    const unsigned endOfBlock = used + 1;
    std::uint32_t size = 0;
    unsigned selector = 0;
    unsigned left = 0; // symbols left in this group of fifty
    const Code *code = nullptr;
    const auto next = [&]() -> int {
        if (left == 0) {
            if (selector >= selectorCount)
                return -1;
            code = &codes[selectors[selector++]];
            left = kGroupSize;
        }
        --left;
        return static_cast<int>(code->Decode(in));
    };
    int symbol = next();
    for (;;) {
        if (symbol < 0)
            return false;
        if (symbol <= 1) { // RUNA and RUNB: a run of the front byte, its length in base 2
            std::uint32_t run = 0;
            std::uint32_t weight = 1;
            do {
                if (weight >= (2u << 20))
                    return false;
                run += weight << symbol;
                weight <<= 1;
                symbol = next();
            } while (symbol == 0 || symbol == 1);
            if (run > blockMax - size)
                return false;
            const unsigned char b = byteOf[front[0]];
            counts[b] += run;
            std::fill(tt + size, tt + size + run, std::uint32_t(b));
            size += run;
            continue;
        }
        if (static_cast<unsigned>(symbol) == endOfBlock)
            break;
        if (size >= blockMax)
            return false;
        const unsigned n = static_cast<unsigned>(symbol) - 1;
        const unsigned char f = front[n];
        MoveToFront(front, n);
        const unsigned char b = byteOf[f];
        ++counts[b];
        tt[size++] = b;
        symbol = next();
    }
    if (in.ReadPastEnd() || origin >= size)
        return false;

    // Each row's successor into `tt`.
    std::uint32_t start[256];
    std::uint32_t sum = 0;
    for (unsigned b = 0; b < 256; ++b) {
        start[b] = sum;
        sum += counts[b];
    }
    for (std::uint32_t i = 0; i < size; ++i) {
        const std::uint32_t b = tt[i] & 0xff;
        const std::uint32_t row = start[b]++;
        tt[row] |= i << 8;
    }
    if (!Untransform(tt, origin, size, spill, text))
        return false;

    // The first stage's runs: four equal bytes are followed by a count of more.
    std::unique_ptr<unsigned char[]> out(new (std::nothrow) unsigned char[cap]);
    if (!out)
        return false;
    std::size_t produced = 0;
    int last = -1;
    unsigned same = 0;
    for (std::uint32_t k = 0; k < size; ++k) {
        const unsigned char b = text[k];
        if (same == 4) {
            if (b > cap - produced)
                return false;
            std::memset(out.get() + produced, last, b);
            produced += b;
            same = 0;
            continue;
        }
        if (produced == cap)
            return false;
        out[produced++] = b;
        if (same > 0 && b == last) {
            ++same;
        } else {
            last = b;
            same = 1;
        }
    }
    if (Crc(out.get(), produced) != statedCrc)
        return false;
    output = std::move(out);
    outputSize = produced;
    return true;
}

} // namespace pellux::libs::bz2
