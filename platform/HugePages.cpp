#include "platform/HugePages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace pellux {

void AdviseHugePages(const void *data, std::size_t bytes)
{
    constexpr std::uintptr_t kHugePage = 2u << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    if (bytes < 2 * kHugePage || start > UINTPTR_MAX - bytes)
        return;
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    if (last > first) // a hint: where it is refused, small pages serve as before
        ::madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
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
