// How the model learns a symbol: the symbol added to each context that lacked it, and
// the successor contexts that follow it, created or found by reducing the order.
#include "libs/pxunz/PpmdModel.h"
#include "libs/pxunz/PpmdStates.h"

#include <cstring>

namespace pellux::libs::ppmd {

namespace {

constexpr unsigned kMaxOrderLimit = 64;

void CopyUnits(void *dest, const void *src, unsigned units) { std::memmove(dest, src, U2B(units)); }

} // namespace

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
