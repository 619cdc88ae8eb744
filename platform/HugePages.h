#pragma once

#include <cstddef>

namespace pellux {

// Asks the kernel to back the whole 2 MiB pages inside [data, data + bytes) with huge
// pages. A listing of a million entries touches hundreds of MB that are faulted in
// 4 KiB at a time otherwise, and on a virtual machine a fault costs microseconds. Call
// it before the memory is first written; below a few MB it does nothing.
void AdviseHugePages(const void *data, std::size_t bytes);

// The same for a vector's reserved capacity (call right after reserve).
template <class Vector>
void AdviseHugePagesFor(const Vector &v)
{
    AdviseHugePages(v.data(), v.capacity() * sizeof(typename Vector::value_type));
}

// Scratch memory for large buffers kept across uses: mapped, not allocated, so that it
// starts on a huge page boundary and needs no clearing by us (the kernel's zero pages).
// Grows on need; its bytes are not kept when it grows.
class HugePageBuffer {
public:
    HugePageBuffer() = default;
    ~HugePageBuffer();
    HugePageBuffer(const HugePageBuffer &) = delete;
    HugePageBuffer &operator=(const HugePageBuffer &) = delete;

    // At least `bytes` bytes; nullptr when no memory is left.
    unsigned char *Reserve(std::size_t bytes);

private:
    void *mapping_ = nullptr;
    std::size_t length_ = 0;
    std::size_t size_ = 0; // usable from data_
    unsigned char *data_ = nullptr;
};

// For the window: glibc backs its heap with huge pages only when told so in
// GLIBC_TUNABLES, which it reads once, at start. Unless the user set tunables of their
// own, this starts the program again with glibc.malloc.hugetlb=1 and returns in the
// new image, where the variable is taken out again so that programs it starts do not
// inherit it. Returns without restarting where exec fails. Call it first in main, with
// main's argv.
void RestartWithHugePageHeap(char **argv);

} // namespace pellux
