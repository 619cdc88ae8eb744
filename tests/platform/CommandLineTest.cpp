#include "platform/CommandLine.h"
#include "platform/InOutError.h"
#include "platform/ProgramPath.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include <unistd.h>

using namespace pellux;
using Items = std::vector<std::string>;

TEST(SplitCommandLine, BlanksSeparateAndEscapesJoin)
{
    EXPECT_EQ(SplitCommandLine(""), Items{});
    EXPECT_EQ(SplitCommandLine("   "), Items{});
    EXPECT_EQ(SplitCommandLine("  prog   a  b "), (Items{"prog", "a", "b"}));
    EXPECT_EQ(SplitCommandLine("prog a\\ b c\\\\d"), (Items{"prog", "a b", "c\\d"}));
    // Quotes are ordinary characters: no shell reads this line.
    EXPECT_EQ(SplitCommandLine("prog \"a b\" '$x'"), (Items{"prog", "\"a", "b\"", "'$x'"}));
    EXPECT_EQ(SplitCommandLine("prog end\\"), (Items{"prog", "end\\"}));
}

TEST(SplitCommandLine, EscapingRoundTripsAnyItem)
{
    const Items items{"/opt/my prog/zip2exe", "C:\\odd", " lead", "trail ", "a\\ b", "\\", "$(rm -rf x)"};
    std::string line;
    for (const auto &item : items)
        line += EscapeCommandLineItem(item) + " ";
    EXPECT_EQ(SplitCommandLine(line), items);
}

TEST(StartProgram, NothingToStartIsFalse)
{
    EXPECT_FALSE(StartProgram({}));
    EXPECT_FALSE(StartProgram({"/no/such/program"}));
}

TEST(StartProgram, TheProgramHasNoTerminalAndNothingOnStdin)
{
    pellux::test::TempDir temp;
    const std::string report = temp.File("report");
    ASSERT_TRUE(StartProgram({"python3", "-c",
                              "import os,sys; open(sys.argv[1]+'.part','w').write("
                              "str(os.getsid(0) == os.getpid()) + ' ' + os.readlink('/proc/self/fd/0'));"
                              "os.rename(sys.argv[1]+'.part', sys.argv[1])",
                              report}));
    for (int i = 0; i < 500 && !std::filesystem::exists(report); ++i)
        ::usleep(10000);
    EXPECT_EQ(pellux::test::ReadFile(report), "True /dev/null");
}

TEST(DirectoryPart, KeepsTheRootAndDropsOtherTrailingSlashes)
{
    EXPECT_EQ(DirectoryPart("/usr/bin/pellux"), "/usr/bin");
    EXPECT_EQ(DirectoryPart("/pellux"), "/");
    EXPECT_EQ(DirectoryPart("pellux"), "");
    EXPECT_EQ(ProgramFilePath().front(), '/');
}
