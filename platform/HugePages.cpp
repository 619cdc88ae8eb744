#include "platform/HugePages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace pellux {

namespace {
constexpr std::uintptr_t kHugePage = 2u << 20;
} // namespace

void AdviseHugePages(const void *data, std::size_t bytes)
{
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    if (bytes < 2 * kHugePage || start > UINTPTR_MAX - bytes)
        return;
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    if (last > first) // a hint: where it is refused, small pages serve as before
        ::madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
}

HugePageBuffer::~HugePageBuffer()
{
    if (mapping_)
        ::munmap(mapping_, length_);
}

unsigned char *HugePageBuffer::Reserve(std::size_t bytes)
{
    if (bytes <= size_ && data_)
        return data_;
    if (mapping_)
        ::munmap(mapping_, length_);
    mapping_ = data_ = nullptr;
    size_ = length_ = 0;
    if (bytes > SIZE_MAX - 2 * kHugePage)
        return nullptr;
    const std::size_t size = (std::max<std::size_t>(bytes, 1) + kHugePage - 1) & ~(kHugePage - 1);
    const std::size_t length = size + kHugePage; // room to align the start
    void *mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return nullptr;
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(mapping) + kHugePage - 1) & ~(kHugePage - 1);
    ::madvise(reinterpret_cast<void *>(start), size, MADV_HUGEPAGE);
    mapping_ = mapping;
    length_ = length;
    size_ = size;
    data_ = reinterpret_cast<unsigned char *>(start);
    return data_;
}

namespace {
constexpr const char *kTunables = "GLIBC_TUNABLES";
constexpr const char *kHugePageHeap = "glibc.malloc.hugetlb=1";
constexpr const char *kRestarted = "PELLUX_HUGE_PAGE_HEAP";
} // namespace

void RestartWithHugePageHeap(char **argv)
{
#ifdef __GLIBC__
    if (std::getenv(kRestarted)) {
        ::unsetenv(kRestarted);
        const char *tunables = std::getenv(kTunables);
        if (tunables && std::strcmp(tunables, kHugePageHeap) == 0)
            ::unsetenv(kTunables);
        return;
    }
    if (std::getenv(kTunables))
        return;
    ::setenv(kTunables, kHugePageHeap, 1);
    ::setenv(kRestarted, "1", 1);
    ::execv("/proc/self/exe", argv);
    ::unsetenv(kTunables); // exec failed: on as we are
    ::unsetenv(kRestarted);
#else
    (void)argv;
#endif
}

} // namespace pellux
