// The carry-less range decoder of PPMd variant I and the decoding of one symbol: from
// the current context down its suffixes, each escape masking the symbols seen so far.
#include "libs/pxunz/PpmdModel.h"

#include <cstring>

namespace pellux::libs::ppmd {

namespace {

constexpr unsigned kInterval = 1 << 7;
constexpr unsigned kBinScale = 1 << 14;
constexpr std::uint32_t kTop = 1 << 24;
constexpr std::uint32_t kBot = 1 << 15;
constexpr std::uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

} // namespace

See *Model::MakeEscFreq(unsigned numMasked, std::uint32_t *escFreq)
{
    const Context *mc = minContext_;
    const unsigned numStats = mc->NumStats;
    if (numStats == 0xFF) {
        *escFreq = 1;
        return &dummySee_;
    }
    See *see = see_[ns2Indx_[numStats + 2] - 3] + (mc->SummFreq > 11 * (numStats + 1))
        + 2 * (2 * numStats < Ctx(mc->Suffix)->NumStats + numMasked) + mc->Flags;
    const unsigned r = see->Summ >> see->Shift;
    see->Summ = static_cast<std::uint16_t>(see->Summ - r);
    *escFreq = r + (r == 0);
    return see;
}

// --- Range decoder ---------------------------------------------------------------

unsigned Model::NextByte()
{
    if (In == InEnd) {
        Overrun = true;
        return 0;
    }
    return *In++;
}

bool Model::StartDecoding()
{
    low_ = 0;
    range_ = 0xFFFFFFFF;
    code_ = 0;
    for (int i = 0; i < 4; ++i)
        code_ = (code_ << 8) | NextByte();
    return code_ != 0xFFFFFFFF;
}

bool Model::Threshold(std::uint32_t total, std::uint32_t *count)
{
    if (range_ < total)
        return false; // no encoder gets here
    range_ /= total;
    *count = (code_ - low_) / range_;
    return true;
}

void Model::Consume(std::uint32_t start, std::uint32_t size)
{
    low_ += start * range_;
    range_ *= size;
    for (;;) {
        if ((low_ ^ (low_ + range_)) >= kTop) {
            if (range_ >= kBot)
                break;
            range_ = (0 - low_) & (kBot - 1);
        }
        code_ = (code_ << 8) | NextByte();
        range_ <<= 8;
        low_ <<= 8;
    }
}

int Model::DecodeSymbol()
{
    if (broken_)
        return kBroken;
    // 0xFF for the symbols still possible, 0 for those of the contexts escaped from:
    // a mask, so that collecting the others takes no branch per state.
    std::uint8_t open[256];
    std::uint32_t count = 0;
    Context *mc = minContext_;
    if (mc->NumStats != 0) {
        State *s = Stats(mc);
        if (!Threshold(mc->SummFreq, &count))
            return kBroken;
        std::uint32_t hiCnt = s->Freq;
        if (count < hiCnt) {
            Consume(0, s->Freq);
            foundState_ = s;
            const unsigned symbol = s->Symbol;
            Update1First();
            return broken_ ? kBroken : static_cast<int>(symbol);
        }
        prevSuccess_ = 0;
        for (unsigned i = mc->NumStats; i != 0; --i) {
            if ((hiCnt += (++s)->Freq) > count) {
                Consume(hiCnt - s->Freq, s->Freq);
                foundState_ = s;
                const unsigned symbol = s->Symbol;
                Update1();
                return broken_ ? kBroken : static_cast<int>(symbol);
            }
        }
        if (count >= mc->SummFreq)
            return kBroken;
        Consume(hiCnt, mc->SummFreq - hiCnt);
        std::memset(open, 0xFF, sizeof open);
        for (const State *m = Stats(mc); m <= s; ++m)
            open[m->Symbol] = 0;
    } else {
        std::uint16_t *prob =
            &binSumm_[ns2Indx_[OneState(mc)->Freq - 1u]]
                     [ns2BSIndx_[Ctx(mc->Suffix)->NumStats] + prevSuccess_ + mc->Flags + ((runLength_ >> 26) & 0x20)];
        range_ >>= 14;
        if ((code_ - low_) / range_ < *prob) {
            Consume(0, *prob);
            *prob = static_cast<std::uint16_t>(*prob + kInterval - ((*prob + 32u) >> 7));
            foundState_ = OneState(mc);
            const unsigned symbol = foundState_->Symbol;
            UpdateBin();
            return broken_ ? kBroken : static_cast<int>(symbol);
        }
        Consume(*prob, kBinScale - *prob);
        *prob = static_cast<std::uint16_t>(*prob - ((*prob + 32u) >> 7));
        initEsc_ = kExpEscape[*prob >> 10];
        std::memset(open, 0xFF, sizeof open);
        open[OneState(mc)->Symbol] = 0;
        prevSuccess_ = 0;
    }

    for (;;) {
        const unsigned numMasked = minContext_->NumStats;
        do {
            ++orderFall_;
            if (minContext_->Suffix == 0)
                return kEndMarker;
            minContext_ = Ctx(minContext_->Suffix);
        } while (minContext_->NumStats == numMasked);
        mc = minContext_;
        if (mc->NumStats < numMasked)
            return kBroken;

        State *ps[256];
        const unsigned num = mc->NumStats - numMasked;
        unsigned n = 0;
        std::uint32_t hiCnt = 0;
        State *s = Stats(mc);
        for (unsigned left = mc->NumStats + 1u; n != num; ++s) {
            if (left-- == 0)
                return kBroken;
            const unsigned k = open[s->Symbol];
            hiCnt += s->Freq & k;
            ps[n] = s;
            n += k & 1;
        }

        std::uint32_t freqSum = 0;
        See *see = MakeEscFreq(numMasked, &freqSum);
        freqSum += hiCnt;
        if (!Threshold(freqSum, &count))
            return kBroken;
        if (count < hiCnt) {
            State **pps = ps;
            for (hiCnt = 0; (hiCnt += (*pps)->Freq) <= count; ++pps) {}
            s = *pps;
            Consume(hiCnt - s->Freq, s->Freq);
            if (see->Shift < kPeriodBits && --see->Count == 0) {
                see->Summ = static_cast<std::uint16_t>(see->Summ << 1);
                see->Count = static_cast<std::uint8_t>(3 << see->Shift++);
            }
            foundState_ = s;
            const unsigned symbol = s->Symbol;
            Update2();
            return broken_ ? kBroken : static_cast<int>(symbol);
        }
        if (count >= freqSum)
            return kBroken;
        Consume(hiCnt, freqSum - hiCnt);
        see->Summ = static_cast<std::uint16_t>(see->Summ + freqSum);
        for (unsigned k = 0; k < n; ++k)
            open[ps[k]->Symbol] = 0;
    }
}

} // namespace pellux::libs::ppmd
