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
constexpr unsigned kMaxOrderLimit = 64;

constexpr std::uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};

void CopyUnits(void *dest, const void *src, unsigned units) { std::memmove(dest, src, U2B(units)); }

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

// The state of `symbol` in the context with more than one; the model keeps every
// symbol of a context in its suffix, so a miss means the model is broken.
State *Model::Find(Context *c, unsigned symbol)
{
    State *s = Stats(c);
    for (unsigned n = c->NumStats; s->Symbol != symbol; ++s) {
        if (n-- == 0) {
            broken_ = true;
            return Stats(c);
        }
    }
    return s;
}

Context *Model::CreateSuccessors(bool skip, State *s1, Context *c)
{
    const Ref upBranch = Successor(foundState_);
    State *ps[kMaxOrderLimit + 1];
    unsigned numPs = 0;
    if (!skip)
        ps[numPs++] = foundState_;

    while (c->Suffix != 0) {
        c = Ctx(c->Suffix);
        State *s;
        if (s1 != nullptr) {
            s = s1;
            s1 = nullptr;
        } else if (c->NumStats != 0) {
            s = Find(c, foundState_->Symbol);
            if (s->Freq < kMaxFreq - 9) {
                ++s->Freq;
                ++c->SummFreq;
            }
        } else {
            s = OneState(c);
            s->Freq = static_cast<std::uint8_t>(s->Freq + (Ctx(c->Suffix)->NumStats == 0 && s->Freq < 24));
        }
        const Ref successor = Successor(s);
        if (successor != upBranch) {
            c = Ctx(successor);
            if (numPs == 0)
                return c;
            break;
        }
        if (numPs == kMaxOrderLimit + 1) {
            broken_ = true;
            return nullptr;
        }
        ps[numPs++] = s;
    }

    State upState;
    upState.Symbol = *Ptr(upBranch);
    SetSuccessor(&upState, upBranch + 1);
    const auto flags = static_cast<std::uint8_t>((foundState_->Symbol >= 0x40 ? 0x10 : 0) + HighSymbol(upState.Symbol));
    if (c->NumStats == 0) {
        upState.Freq = OneState(c)->Freq;
    } else {
        const State *s = Find(c, upState.Symbol);
        const std::uint32_t cf = s->Freq - 1u;
        const std::uint32_t s0 = c->SummFreq - c->NumStats - cf;
        upState.Freq = static_cast<std::uint8_t>(1 + (2 * cf <= s0 ? (5 * cf > s0) : (cf + 2 * s0 - 3) / s0));
    }

    do {
        auto *c1 = static_cast<Context *>(AllocContext());
        if (c1 == nullptr)
            return nullptr;
        c1->NumStats = 0;
        c1->Flags = flags;
        *OneState(c1) = upState;
        c1->Suffix = RefOf(c);
        SetSuccessor(ps[--numPs], RefOf(c1));
        c = c1;
    } while (numPs != 0);
    return c;
}

Context *Model::ReduceOrder(State *s1, Context *c)
{
    State *s = nullptr;
    Context *c1 = c;
    const Ref upBranch = RefOf(text_);
    SetSuccessor(foundState_, upBranch);
    ++orderFall_;
    for (;;) {
        if (s1 != nullptr) {
            c = Ctx(c->Suffix);
            s = s1;
            s1 = nullptr;
        } else {
            if (c->Suffix == 0)
                return c;
            c = Ctx(c->Suffix);
            if (c->NumStats != 0) {
                s = Find(c, foundState_->Symbol);
                if (s->Freq < kMaxFreq - 9) {
                    s->Freq += 2;
                    c->SummFreq += 2;
                }
            } else {
                s = OneState(c);
                s->Freq = static_cast<std::uint8_t>(s->Freq + (s->Freq < 32));
            }
        }
        if (Successor(s) != 0)
            break;
        SetSuccessor(s, upBranch);
        ++orderFall_;
    }

    if (Successor(s) <= upBranch) {
        State *saved = foundState_;
        foundState_ = s;
        Context *successor = CreateSuccessors(false, nullptr, c);
        SetSuccessor(s, successor == nullptr ? 0 : RefOf(successor));
        foundState_ = saved;
    }
    if (orderFall_ == 1 && c1 == maxContext_) {
        SetSuccessor(foundState_, Successor(s));
        --text_;
    }
    if (Successor(s) == 0)
        return nullptr;
    return Ctx(Successor(s));
}

void Model::UpdateModel()
{
    Ref fSuccessor = Successor(foundState_);
    const unsigned fFreq = foundState_->Freq;
    const unsigned fSymbol = foundState_->Symbol;
    State *s = nullptr;

    if (fFreq < kMaxFreq / 4 && minContext_->Suffix != 0) {
        Context *c = Ctx(minContext_->Suffix);
        if (c->NumStats == 0) {
            s = OneState(c);
            if (s->Freq < 32)
                ++s->Freq;
        } else {
            s = Stats(c);
            if (s->Symbol != fSymbol) {
                s = Find(c, fSymbol);
                if (s != Stats(c) && s[0].Freq >= s[-1].Freq) {
                    SwapStates(&s[0], &s[-1]);
                    --s;
                }
            }
            if (s->Freq < kMaxFreq - 9) {
                s->Freq += 2;
                c->SummFreq += 2;
            }
        }
    }

    Context *c = maxContext_;
    if (orderFall_ == 0 && fSuccessor != 0) {
        Context *cs = CreateSuccessors(true, s, minContext_);
        if (cs == nullptr) {
            SetSuccessor(foundState_, 0);
            RestoreModel(c);
        } else {
            SetSuccessor(foundState_, RefOf(cs));
            maxContext_ = cs;
        }
        return;
    }

    *text_++ = static_cast<unsigned char>(fSymbol);
    Ref successor = RefOf(text_);
    if (text_ >= unitsStart_) {
        RestoreModel(c);
        return;
    }

    if (fSuccessor == 0) {
        Context *cs = ReduceOrder(s, minContext_);
        if (cs == nullptr) {
            RestoreModel(c);
            return;
        }
        fSuccessor = RefOf(cs);
    } else if (Ptr(fSuccessor) < unitsStart_) {
        Context *cs = CreateSuccessors(false, s, minContext_);
        if (cs == nullptr) {
            RestoreModel(c);
            return;
        }
        fSuccessor = RefOf(cs);
    }

    if (--orderFall_ == 0) {
        successor = fSuccessor;
        text_ -= (maxContext_ != minContext_);
    }

    const unsigned ns = minContext_->NumStats;
    const std::uint32_t s0 = minContext_->SummFreq - ns - fFreq;
    const unsigned flag = HighSymbol(fSymbol);

    for (; c != minContext_; c = Ctx(c->Suffix)) {
        const unsigned ns1 = c->NumStats;
        if (ns1 != 0) {
            if ((ns1 & 1) != 0) {
                // The states fill their units: move them to one unit more.
                const unsigned oldNU = (ns1 + 1) >> 1;
                const unsigned i = U2I(oldNU);
                if (i != U2I(oldNU + 1)) {
                    void *block = AllocUnits(i + 1);
                    if (block == nullptr) {
                        RestoreModel(c);
                        return;
                    }
                    void *old = Stats(c);
                    CopyUnits(block, old, oldNU);
                    InsertNode(old, i);
                    c->Stats = RefOf(block);
                }
            }
            c->SummFreq = static_cast<std::uint16_t>(c->SummFreq + (3 * ns1 + 1 < ns));
        } else {
            auto *s2 = static_cast<State *>(AllocUnits(0));
            if (s2 == nullptr) {
                RestoreModel(c);
                return;
            }
            *s2 = *OneState(c);
            c->Stats = RefOf(s2);
            if (s2->Freq < kMaxFreq / 4 - 1)
                s2->Freq = static_cast<std::uint8_t>(s2->Freq << 1);
            else
                s2->Freq = kMaxFreq - 4;
            c->SummFreq = static_cast<std::uint16_t>(s2->Freq + initEsc_ + (ns > 2));
        }
        std::uint32_t cf = 2 * fFreq * (c->SummFreq + 6u);
        const std::uint32_t sf = s0 + c->SummFreq;
        if (cf < 6 * sf) {
            cf = 1 + (cf > sf) + (cf >= 4 * sf);
            c->SummFreq = static_cast<std::uint16_t>(c->SummFreq + 4);
        } else {
            cf = 4 + (cf > 9 * sf) + (cf > 12 * sf) + (cf > 15 * sf);
            c->SummFreq = static_cast<std::uint16_t>(c->SummFreq + cf);
        }
        State *added = Stats(c) + ns1 + 1;
        SetSuccessor(added, successor);
        added->Symbol = static_cast<std::uint8_t>(fSymbol);
        added->Freq = static_cast<std::uint8_t>(cf);
        c->Flags = static_cast<std::uint8_t>(c->Flags | flag);
        c->NumStats = static_cast<std::uint8_t>(ns1 + 1);
    }
    maxContext_ = minContext_ = Ctx(fSuccessor);
}

} // namespace pellux::libs::ppmd
