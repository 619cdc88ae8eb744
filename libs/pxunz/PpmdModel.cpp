// PPMd variant I, revision 1: the model's tables and its fresh start, at first and
// whenever restart is the rule for a full memory. Memory is addressed by 32-bit offsets
// into the model's block so that units are 12 bytes and states 6, as in the encoder:
// the byte counts decide when memory runs out, and with it everything after.
#include "libs/pxunz/PpmdModel.h"

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

} // namespace pellux::libs::ppmd
