// What the model gives up when its memory is full: the last symbol taken back, then
// either a restart or a cut-off of the contexts that no longer lead anywhere.
#include "libs/pxunz/PpmdModel.h"
#include "libs/pxunz/PpmdStates.h"

namespace pellux::libs::ppmd {

void Model::Refresh(Context *c, unsigned oldNU, unsigned scale)
{
    unsigned i = c->NumStats;
    auto *s = static_cast<State *>(ShrinkUnits(Stats(c), oldNU, (i + 2) >> 1));
    c->Stats = RefOf(s);
    unsigned flags = (c->Flags & (0x10 + 0x04 * scale)) + HighSymbol(s->Symbol);
    unsigned escFreq = c->SummFreq - s->Freq;
    s->Freq = static_cast<std::uint8_t>((s->Freq + scale) >> scale);
    unsigned sumFreq = s->Freq;
    do {
        escFreq -= (++s)->Freq;
        s->Freq = static_cast<std::uint8_t>((s->Freq + scale) >> scale);
        sumFreq += s->Freq;
        flags |= HighSymbol(s->Symbol);
    } while (--i);
    c->SummFreq = static_cast<std::uint16_t>(sumFreq + ((escFreq + scale) >> scale));
    c->Flags = static_cast<std::uint8_t>(flags);
}

Model::Ref Model::CutOff(Context *c, unsigned order)
{
    if (c->NumStats == 0) {
        State *s = OneState(c);
        if (Ptr(Successor(s)) >= unitsStart_) {
            if (order < maxOrder_)
                SetSuccessor(s, CutOff(Ctx(Successor(s)), order + 1));
            else
                SetSuccessor(s, 0);
            if (Successor(s) != 0 || order <= 9)
                return RefOf(c);
        }
        SpecialFreeUnit(c);
        return 0;
    }

    const unsigned nu = (c->NumStats + 2u) >> 1;
    c->Stats = RefOf(MoveUnitsUp(Stats(c), nu));
    int i = c->NumStats;
    // States whose successor is not a context go to the end, to be dropped.
    for (int j = i; j >= 0; --j) {
        State *s = Stats(c) + j;
        if (Ptr(Successor(s)) < unitsStart_) {
            State *s2 = Stats(c) + (i--);
            SetSuccessor(s, 0);
            SwapStates(s, s2);
        } else if (order < maxOrder_) {
            SetSuccessor(s, CutOff(Ctx(Successor(s)), order + 1));
        } else {
            SetSuccessor(s, 0);
        }
    }
    if (i != c->NumStats && order != 0) {
        c->NumStats = static_cast<std::uint8_t>(i);
        State *s = Stats(c);
        if (i < 0) {
            InsertNode(s, U2I(nu));
            SpecialFreeUnit(c);
            return 0;
        }
        if (i == 0) {
            c->Flags = static_cast<std::uint8_t>((c->Flags & 0x10) + HighSymbol(s->Symbol));
            *OneState(c) = *s;
            InsertNode(s, U2I(nu));
            OneState(c)->Freq = static_cast<std::uint8_t>((OneState(c)->Freq + 11u) >> 3);
        } else {
            Refresh(c, nu, c->SummFreq > 16 * i);
        }
    }
    return RefOf(c);
}

void Model::RestoreModel(Context *c1)
{
    text_ = base_;
    // The contexts before c1 took the new symbol already: take it back.
    Context *c = maxContext_;
    for (; c != c1; c = Ctx(c->Suffix)) {
        if (--c->NumStats == 0) {
            State *s = Stats(c);
            c->Flags = static_cast<std::uint8_t>((c->Flags & 0x10) + HighSymbol(s->Symbol));
            *OneState(c) = *s;
            SpecialFreeUnit(s);
            OneState(c)->Freq = static_cast<std::uint8_t>((OneState(c)->Freq + 11u) >> 3);
        } else {
            Refresh(c, (c->NumStats + 3u) >> 1, 0);
        }
    }
    for (; c != minContext_; c = Ctx(c->Suffix)) {
        if (c->NumStats == 0) {
            OneState(c)->Freq = static_cast<std::uint8_t>(OneState(c)->Freq - (OneState(c)->Freq >> 1));
        } else if ((c->SummFreq = static_cast<std::uint16_t>(c->SummFreq + 4)) > 128 + 4 * c->NumStats) {
            Refresh(c, (c->NumStats + 2u) >> 1, 1);
        }
    }

    if (restoration_ == kRestart || UsedMemory() < (size_ >> 1)) {
        RestartModel();
        return;
    }
    while (maxContext_->Suffix != 0)
        maxContext_ = Ctx(maxContext_->Suffix);
    do {
        CutOff(maxContext_, 0);
        ExpandTextArea();
    } while (UsedMemory() > 3 * (size_ >> 2));
    glueCount_ = 0;
    orderFall_ = maxOrder_;
}

} // namespace pellux::libs::ppmd
