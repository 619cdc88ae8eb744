#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string RunProbe(const std::string &env)
{
    const std::string command =
        "env " + env + " " PELLUX_BIN_DIR "/pellux_heap_restart_probe 'a b' '' \"$(printf '\\377')\"";
    std::FILE *out = ::popen(command.c_str(), "r");
    std::string text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out))
        text += buffer;
    EXPECT_EQ(::pclose(out), 0);
    return text;
}

} // namespace

// The window restarts itself once with a huge-page heap: its arguments arrive as they
// were, and the programs it starts inherit neither variable. Tunables the user set are
// left alone.
TEST(RestartWithHugePageHeap, RestartsOnceAndLeavesNoTrace)
{
    EXPECT_EQ(RunProbe("-u GLIBC_TUNABLES -u PELLUX_HUGE_PAGE_HEAP"),
              "[a b][][\377]\nnow: - -\nstarted: glibc.malloc.hugetlb=1\n");
    EXPECT_EQ(RunProbe("-u PELLUX_HUGE_PAGE_HEAP GLIBC_TUNABLES=glibc.malloc.hugetlb=0"),
              "[a b][][\377]\nnow: glibc.malloc.hugetlb=0 -\nstarted: glibc.malloc.hugetlb=0\n");
}
