#pragma once
// The context model of PPMd variant I revision 1 with its carry-less range decoder, as
// ZIP's method 98 uses it. The model lives in one block of memory, carved into 12-byte
// units by its own allocator; the encoder runs the same allocator, so every detail of
// it (free lists, gluing, the text area, restart and cut-off when memory runs out)
// decides what the next symbols decode to.
#include <cstddef>
#include <cstdint>

namespace pellux::libs::ppmd {

struct State {
    std::uint8_t Symbol;
    std::uint8_t Freq;
    std::uint16_t SuccessorLow; // halves, so that a state takes 6 bytes
    std::uint16_t SuccessorHigh;
};

struct Context {
    std::uint8_t NumStats; // symbols - 1; 0 makes a binary context with the state inline
    std::uint8_t Flags;
    std::uint16_t SummFreq;
    std::uint32_t Stats;
    std::uint32_t Suffix;
};

struct See {
    std::uint16_t Summ;
    std::uint8_t Shift;
    std::uint8_t Count;
};

constexpr unsigned kIndexes = 38;
constexpr unsigned kUnitSize = 12;
constexpr unsigned kMaxFreq = 124;
constexpr unsigned kPeriodBits = 7;

inline std::uint32_t U2B(unsigned units) { return units * kUnitSize; }

class Model {
public:
    enum Restoration { kRestart = 0, kCutOff = 1 };
    static constexpr int kEndMarker = -1;
    static constexpr int kBroken = -2;

    // `memory` is the whole model's memory, `size` bytes, zeroed, a multiple of 4.
    Model(unsigned char *memory, std::uint32_t size, unsigned maxOrder, Restoration restoration);

    // The range decoder reads from [In, InEnd); reading past it sets Overrun and reads zeros.
    const unsigned char *In = nullptr;
    const unsigned char *InEnd = nullptr;
    bool Overrun = false;

    // Reads the range decoder's first 4 bytes; false when they cannot start a stream.
    bool StartDecoding();
    // The next byte, kEndMarker, or kBroken when the input is not a valid stream.
    int DecodeSymbol();

private:
    using Ref = std::uint32_t;

    unsigned char *Ptr(Ref ref) const { return base_ + ref; }
    Ref RefOf(const void *p) const { return static_cast<Ref>(static_cast<const unsigned char *>(p) - base_); }
    Context *Ctx(Ref ref) const { return reinterpret_cast<Context *>(base_ + ref); }
    State *Stats(const Context *c) const { return reinterpret_cast<State *>(base_ + c->Stats); }
    static State *OneState(Context *c) { return reinterpret_cast<State *>(&c->SummFreq); }
    static Ref Successor(const State *s) { return s->SuccessorLow | (Ref(s->SuccessorHigh) << 16); }
    static void SetSuccessor(State *s, Ref v)
    {
        s->SuccessorLow = static_cast<std::uint16_t>(v);
        s->SuccessorHigh = static_cast<std::uint16_t>(v >> 16);
    }

    // Allocator
    unsigned I2U(unsigned index) const { return indx2Units_[index]; }
    unsigned U2I(unsigned units) const { return units2Indx_[units - 1]; }
    void InsertNode(void *node, unsigned index);
    void *RemoveNode(unsigned index);
    void SplitBlock(void *ptr, unsigned oldIndex, unsigned newIndex);
    void GlueFreeBlocks();
    void *AllocUnitsRare(unsigned index);
    void *AllocUnits(unsigned index);
    void *AllocContext();
    void *ShrinkUnits(void *oldPtr, unsigned oldNU, unsigned newNU);
    void SpecialFreeUnit(void *ptr);
    void *MoveUnitsUp(void *oldPtr, unsigned nu);
    void ExpandTextArea();
    std::uint32_t UsedMemory() const;

    // Model
    void RestartModel();
    void Refresh(Context *c, unsigned oldNU, unsigned scale);
    Ref CutOff(Context *c, unsigned order);
    void RestoreModel(Context *c1);
    Context *CreateSuccessors(bool skip, State *s1, Context *c);
    Context *ReduceOrder(State *s1, Context *c);
    void UpdateModel();
    void Rescale();
    void NextContext();
    void Update1();
    void Update1First();
    void Update2();
    void UpdateBin();
    See *MakeEscFreq(unsigned numMasked, std::uint32_t *escFreq);
    State *Find(Context *c, unsigned symbol);

    // Range decoder
    unsigned NextByte();
    bool Threshold(std::uint32_t total, std::uint32_t *count);
    void Consume(std::uint32_t start, std::uint32_t size);

    unsigned char *base_;
    std::uint32_t size_;
    unsigned maxOrder_;
    Restoration restoration_;
    bool broken_ = false;

    unsigned char *text_ = nullptr;
    unsigned char *unitsStart_ = nullptr;
    unsigned char *loUnit_ = nullptr;
    unsigned char *hiUnit_ = nullptr;
    std::uint32_t glueCount_ = 0;
    Ref freeList_[kIndexes] = {};
    std::uint32_t stamps_[kIndexes] = {};
    std::uint8_t indx2Units_[kIndexes] = {};
    std::uint8_t units2Indx_[128] = {};
    std::uint8_t ns2BSIndx_[256] = {};
    std::uint8_t ns2Indx_[260] = {};

    Context *minContext_ = nullptr;
    Context *maxContext_ = nullptr;
    State *foundState_ = nullptr;
    unsigned orderFall_ = 0;
    unsigned initEsc_ = 0;
    unsigned prevSuccess_ = 0;
    std::int32_t runLength_ = 0;
    std::int32_t initRL_ = 0;
    See see_[24][32] = {};
    See dummySee_ = {};
    std::uint16_t binSumm_[25][64] = {};

    std::uint32_t low_ = 0;
    std::uint32_t range_ = 0;
    std::uint32_t code_ = 0;
};

} // namespace pellux::libs::ppmd
