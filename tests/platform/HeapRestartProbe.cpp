// A program for the heap restart test: restarts as the window does, then prints its
// arguments, the two variables as it sees them, and GLIBC_TUNABLES as the image it
// runs in was started with.
#include "platform/HugePages.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char **argv)
{
    pellux::RestartWithHugePageHeap(argv);
    for (int i = 1; i < argc; ++i)
        std::printf("[%s]", argv[i]);
    const char *tunables = std::getenv("GLIBC_TUNABLES");
    const char *marker = std::getenv("PELLUX_HUGE_PAGE_HEAP");
    std::printf("\nnow: %s %s\n", tunables ? tunables : "-", marker ? marker : "-");
    std::ifstream in("/proc/self/environ", std::ios::binary);
    const std::string environ((std::istreambuf_iterator<char>(in)), {});
    const std::string key = std::string(1, '\0') + "GLIBC_TUNABLES=";
    const auto at = ("\0" + environ).find(key);
    std::printf("started: %s\n", at == std::string::npos ? "-" : ("\0" + environ).substr(at + key.size()).c_str());
    return 0;
}
