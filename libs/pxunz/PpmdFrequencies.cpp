// The frequencies after each decoded symbol: its state counted up, the context rescaled
// when a count outgrows kMaxFreq, and the step to the next context.
#include "libs/pxunz/PpmdModel.h"
#include "libs/pxunz/PpmdStates.h"

namespace pellux::libs::ppmd {

void Model::Rescale()
{
    Context *mc = minContext_;
    State *stats = Stats(mc);
    State *s = foundState_;
    // The found state goes first, the others stay sorted by frequency.
    if (s != stats) {
        const State t = *s;
        for (; s != stats; --s)
            s[0] = s[-1];
        *s = t;
    }
    unsigned escFreq = mc->SummFreq - s->Freq;
    const unsigned adder = orderFall_ != 0;
    s->Freq = static_cast<std::uint8_t>((s->Freq + 4 + adder) >> 1);
    unsigned sumFreq = s->Freq;

    unsigned i = mc->NumStats;
    do {
        escFreq -= (++s)->Freq;
        s->Freq = static_cast<std::uint8_t>((s->Freq + adder) >> 1);
        sumFreq += s->Freq;
        if (s[0].Freq > s[-1].Freq) {
            State *s1 = s;
            const State t = *s1;
            do
                s1[0] = s1[-1];
            while (--s1 != stats && t.Freq > s1[-1].Freq);
            *s1 = t;
        }
    } while (--i);

    if (s->Freq == 0) {
        const unsigned numStats = mc->NumStats;
        do
            ++i;
        while ((--s)->Freq == 0);
        escFreq += i;
        mc->NumStats = static_cast<std::uint8_t>(mc->NumStats - i);
        if (mc->NumStats == 0) {
            State t = *stats;
            t.Freq = static_cast<std::uint8_t>((2 * t.Freq + escFreq - 1) / escFreq);
            if (t.Freq > kMaxFreq / 3)
                t.Freq = kMaxFreq / 3;
            InsertNode(stats, U2I((numStats + 2) >> 1));
            mc->Flags = static_cast<std::uint8_t>((mc->Flags & 0x10) + HighSymbol(t.Symbol));
            *(foundState_ = OneState(mc)) = t;
            return;
        }
        const unsigned n0 = (numStats + 2) >> 1;
        const unsigned n1 = (mc->NumStats + 2u) >> 1;
        if (n0 != n1)
            mc->Stats = RefOf(ShrinkUnits(stats, n0, n1));
        mc->Flags = static_cast<std::uint8_t>(mc->Flags & ~0x08);
        s = Stats(mc);
        unsigned flags = HighSymbol(s->Symbol);
        for (unsigned n = mc->NumStats; n != 0; --n)
            flags |= HighSymbol((++s)->Symbol);
        mc->Flags = static_cast<std::uint8_t>(mc->Flags | flags);
    }
    mc->SummFreq = static_cast<std::uint16_t>(sumFreq + escFreq - (escFreq >> 1));
    mc->Flags = static_cast<std::uint8_t>(mc->Flags | 0x04);
    foundState_ = Stats(mc);
}

void Model::NextContext()
{
    Context *c = Ctx(Successor(foundState_));
    if (orderFall_ == 0 && reinterpret_cast<unsigned char *>(c) >= unitsStart_) {
        minContext_ = maxContext_ = c;
    } else {
        UpdateModel();
        minContext_ = maxContext_;
    }
}

void Model::Update1()
{
    State *s = foundState_;
    s->Freq += 4;
    minContext_->SummFreq += 4;
    if (s[0].Freq > s[-1].Freq) {
        SwapStates(&s[0], &s[-1]);
        foundState_ = --s;
        if (s->Freq > kMaxFreq)
            Rescale();
    }
    NextContext();
}

void Model::Update1First()
{
    prevSuccess_ = 2u * foundState_->Freq >= minContext_->SummFreq;
    runLength_ += static_cast<std::int32_t>(prevSuccess_);
    minContext_->SummFreq += 4;
    if ((foundState_->Freq += 4) > kMaxFreq)
        Rescale();
    NextContext();
}

void Model::Update2()
{
    minContext_->SummFreq += 4;
    if ((foundState_->Freq += 4) > kMaxFreq)
        Rescale();
    runLength_ = initRL_;
    UpdateModel();
    minContext_ = maxContext_;
}

void Model::UpdateBin()
{
    foundState_->Freq = static_cast<std::uint8_t>(foundState_->Freq + (foundState_->Freq < 196));
    prevSuccess_ = 1;
    ++runLength_;
    NextContext();
}

} // namespace pellux::libs::ppmd
