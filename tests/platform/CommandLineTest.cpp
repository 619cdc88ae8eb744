#include "platform/CommandLine.h"
#include "platform/InOutError.h"
#include "platform/ProgramPath.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

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

TEST(DirectoryPart, KeepsTheRootAndDropsOtherTrailingSlashes)
{
    EXPECT_EQ(DirectoryPart("/usr/bin/pellux"), "/usr/bin");
    EXPECT_EQ(DirectoryPart("/pellux"), "/");
    EXPECT_EQ(DirectoryPart("pellux"), "");
    EXPECT_EQ(ProgramFilePath().front(), '/');
}
