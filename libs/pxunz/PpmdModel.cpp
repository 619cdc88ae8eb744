// PPMd variant I, revision 1: how the model learns from each symbol, and what it gives
// up when its memory is full. Memory is addressed by 32-bit offsets into the model's
// block so that units are 12 bytes and states 6, as in the encoder: the byte counts
// decide when memory runs out, and with it everything after.
#include "libs/pxunz/PpmdModel.h"
#include "libs/pxunz/PpmdStates.h"

#include <cstring>

namespace pellux::libs::ppmd {

namespace {

constexpr unsigned kBinScale = 1 << 14;

constexpr std::uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};

} // namespace

Model::Model(unsigned char *memory, std::uint32_t size, unsigned maxOrder, Restoration restoration)
    : base_(memory), size_(size), maxOrder_(maxOrder), restoration_(restoration)
{
    unsigned k = 0;
    for (unsigned i = 0; i < kIndexes; ++i) {
        unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
        do
            units2Indx_[k++] = static_cast<std::uint8_t>(i);
        while (--step);
        indx2Units_[i] = static_cast<std::uint8_t>(k);
    }
    ns2BSIndx_[0] = 0;
    ns2BSIndx_[1] = 2;
    std::memset(ns2BSIndx_ + 2, 4, 9);
    std::memset(ns2BSIndx_ + 11, 6, 256 - 11);
    unsigned i = 0;
    for (; i < 5; ++i)
        ns2Indx_[i] = static_cast<std::uint8_t>(i);
    for (unsigned m = i, left = 1; i < 260; ++i) {
        ns2Indx_[i] = static_cast<std::uint8_t>(m);
        if (--left == 0)
            left = ++m - 4;
    }
    dummySee_.Shift = kPeriodBits;
    dummySee_.Count = 64;
    RestartModel();
}

void Model::RestartModel()
{
    std::memset(freeList_, 0, sizeof freeList_);
    std::memset(stamps_, 0, sizeof stamps_);
    text_ = base_;
    hiUnit_ = text_ + size_;
    loUnit_ = unitsStart_ = hiUnit_ - size_ / 8 / kUnitSize * 7 * kUnitSize;
    glueCount_ = 0;

    orderFall_ = maxOrder_;
    runLength_ = initRL_ = -static_cast<std::int32_t>(maxOrder_ < 12 ? maxOrder_ : 12) - 1;
    prevSuccess_ = 0;

    hiUnit_ -= kUnitSize;
    minContext_ = maxContext_ = reinterpret_cast<Context *>(hiUnit_);
    minContext_->Suffix = 0;
    minContext_->NumStats = 255;
    minContext_->Flags = 0;
    minContext_->SummFreq = 256 + 1;
    foundState_ = reinterpret_cast<State *>(loUnit_);
    loUnit_ += U2B(256 / 2);
    minContext_->Stats = RefOf(foundState_);
    for (unsigned i = 0; i < 256; ++i) {
        State *s = &foundState_[i];
        s->Symbol = static_cast<std::uint8_t>(i);
        s->Freq = 1;
        SetSuccessor(s, 0);
    }

    for (unsigned i = 0, m = 0; m < 25; ++m) {
        while (ns2Indx_[i] == m)
            ++i;
        for (unsigned k = 0; k < 8; ++k) {
            const auto value = static_cast<std::uint16_t>(kBinScale - kInitBinEsc[k] / (i + 1));
            for (unsigned r = 0; r < 64; r += 8)
                binSumm_[m][k + r] = value;
        }
    }
    for (unsigned i = 0, m = 0; m < 24; ++m) {
        while (ns2Indx_[i + 3] == m + 3)
            ++i;
        for (See &s : see_[m]) {
            s.Shift = kPeriodBits - 4;
            s.Summ = static_cast<std::uint16_t>((2 * i + 5) << s.Shift);
            s.Count = 7;
        }
    }
}

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
