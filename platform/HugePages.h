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

// For the window: glibc backs its heap with huge pages only when told so in
// GLIBC_TUNABLES, which it reads once, at start. Unless the user set tunables of their
// own, this starts the program again with glibc.malloc.hugetlb=1 and returns in the
// new image, where the variable is taken out again so that programs it starts do not
// inherit it. Returns without restarting where exec fails. Call it first in main, with
// main's argv.
void RestartWithHugePageHeap(char **argv);

} // namespace pellux
