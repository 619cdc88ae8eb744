// The model's allocator: 12-byte units in lists of free blocks by size, taken from both
// ends of the space between the text and the units in use, glued together when a size
// runs out. Its order of reuse is the encoder's, or the model's memory fills differently.
#include "libs/pxunz/PpmdModel.h"

#include <cstring>

namespace pellux::libs::ppmd {

namespace {

constexpr std::uint32_t kEmptyNode = 0xFFFFFFFF;

// A free block: its first word tells free units from used ones while gluing.
struct Node {
    std::uint32_t Stamp;
    std::uint32_t Next;
    std::uint32_t NU;
};

void CopyUnits(void *dest, const void *src, unsigned units) { std::memmove(dest, src, U2B(units)); }

} // namespace

void Model::InsertNode(void *p, unsigned index)
{
    auto *node = static_cast<Node *>(p);
    node->Stamp = kEmptyNode;
    node->Next = freeList_[index];
    node->NU = I2U(index);
    freeList_[index] = RefOf(node);
    ++stamps_[index];
}

void *Model::RemoveNode(unsigned index)
{
    auto *node = reinterpret_cast<Node *>(Ptr(freeList_[index]));
    freeList_[index] = node->Next;
    --stamps_[index];
    return node;
}

void Model::SplitBlock(void *ptr, unsigned oldIndex, unsigned newIndex)
{
    const unsigned nu = I2U(oldIndex) - I2U(newIndex);
    unsigned char *p = static_cast<unsigned char *>(ptr) + U2B(I2U(newIndex));
    unsigned i = U2I(nu);
    if (I2U(i) != nu) {
        const unsigned k = I2U(--i);
        InsertNode(p + U2B(k), nu - k - 1);
    }
    InsertNode(p, i);
}

void Model::GlueFreeBlocks()
{
    glueCount_ = 1 << 13;
    std::memset(stamps_, 0, sizeof stamps_);
    // The root context holds the top unit, so only LoUnit needs a guard.
    if (loUnit_ != hiUnit_)
        reinterpret_cast<Node *>(loUnit_)->Stamp = 0;

    // Chain every free block, each merged with the free blocks right after it.
    Ref head = 0;
    Ref *prev = &head;
    for (unsigned i = 0; i < kIndexes; ++i) {
        Ref next = freeList_[i];
        freeList_[i] = 0;
        while (next != 0) {
            auto *node = reinterpret_cast<Node *>(Ptr(next));
            if (node->NU != 0) {
                *prev = next;
                prev = &node->Next;
                Node *node2;
                while ((node2 = node + node->NU)->Stamp == kEmptyNode) {
                    node->NU += node2->NU;
                    node2->NU = 0;
                }
            }
            next = node->Next;
        }
    }
    *prev = 0;

    while (head != 0) {
        auto *node = reinterpret_cast<Node *>(Ptr(head));
        head = node->Next;
        std::uint32_t nu = node->NU;
        if (nu == 0)
            continue;
        for (; nu > 128; nu -= 128, node += 128)
            InsertNode(node, kIndexes - 1);
        unsigned i = U2I(nu);
        if (I2U(i) != nu) {
            const unsigned k = I2U(--i);
            InsertNode(node + k, nu - k - 1);
        }
        InsertNode(node, i);
    }
}

void *Model::AllocUnitsRare(unsigned index)
{
    if (glueCount_ == 0) {
        GlueFreeBlocks();
        if (freeList_[index] != 0)
            return RemoveNode(index);
    }
    unsigned i = index;
    do {
        if (++i == kIndexes) {
            const std::uint32_t bytes = U2B(I2U(index));
            --glueCount_;
            if (static_cast<std::uint32_t>(unitsStart_ - text_) > bytes) {
                unitsStart_ -= bytes;
                return unitsStart_;
            }
            return nullptr;
        }
    } while (freeList_[i] == 0);
    void *block = RemoveNode(i);
    SplitBlock(block, i, index);
    return block;
}

void *Model::AllocUnits(unsigned index)
{
    if (freeList_[index] != 0)
        return RemoveNode(index);
    const std::uint32_t bytes = U2B(I2U(index));
    if (bytes <= static_cast<std::uint32_t>(hiUnit_ - loUnit_)) {
        void *block = loUnit_;
        loUnit_ += bytes;
        return block;
    }
    return AllocUnitsRare(index);
}

void *Model::AllocContext()
{
    if (hiUnit_ != loUnit_)
        return hiUnit_ -= kUnitSize;
    if (freeList_[0] != 0)
        return RemoveNode(0);
    return AllocUnitsRare(0);
}

void *Model::ShrinkUnits(void *oldPtr, unsigned oldNU, unsigned newNU)
{
    const unsigned i0 = U2I(oldNU);
    const unsigned i1 = U2I(newNU);
    if (i0 == i1)
        return oldPtr;
    if (freeList_[i1] != 0) {
        void *block = RemoveNode(i1);
        CopyUnits(block, oldPtr, newNU);
        InsertNode(oldPtr, i0);
        return block;
    }
    SplitBlock(oldPtr, i0, i1);
    return oldPtr;
}

void Model::SpecialFreeUnit(void *ptr)
{
    if (static_cast<unsigned char *>(ptr) != unitsStart_)
        InsertNode(ptr, 0);
    else
        unitsStart_ += kUnitSize;
}

void *Model::MoveUnitsUp(void *oldPtr, unsigned nu)
{
    const unsigned index = U2I(nu);
    if (static_cast<unsigned char *>(oldPtr) > unitsStart_ + 16 * 1024 || RefOf(oldPtr) > freeList_[index])
        return oldPtr;
    void *block = RemoveNode(index);
    CopyUnits(block, oldPtr, nu);
    if (static_cast<unsigned char *>(oldPtr) != unitsStart_)
        InsertNode(oldPtr, index);
    else
        unitsStart_ += U2B(I2U(index));
    return block;
}

void Model::ExpandTextArea()
{
    std::uint32_t count[kIndexes] = {};
    if (loUnit_ != hiUnit_)
        reinterpret_cast<Node *>(loUnit_)->Stamp = 0;
    // Free blocks at the bottom of the units go to the text; mark them to drop them
    // from their lists below.
    auto *node = reinterpret_cast<Node *>(unitsStart_);
    for (; node->Stamp == kEmptyNode; node += node->NU) {
        node->Stamp = 0;
        ++count[U2I(node->NU)];
    }
    unitsStart_ = reinterpret_cast<unsigned char *>(node);

    for (unsigned i = 0; i < kIndexes; ++i) {
        Ref *next = &freeList_[i];
        while (count[i] != 0) {
            auto *n = reinterpret_cast<Node *>(Ptr(*next));
            while (n->Stamp == 0) {
                *next = n->Next;
                n = reinterpret_cast<Node *>(Ptr(*next));
                --stamps_[i];
                if (--count[i] == 0)
                    break;
            }
            next = &n->Next;
        }
    }
}

std::uint32_t Model::UsedMemory() const
{
    std::uint32_t freeUnits = 0;
    for (unsigned i = 0; i < kIndexes; ++i)
        freeUnits += stamps_[i] * I2U(i);
    return size_ - static_cast<std::uint32_t>(hiUnit_ - loUnit_) - static_cast<std::uint32_t>(unitsStart_ - text_)
        - U2B(freeUnits);
}

} // namespace pellux::libs::ppmd
