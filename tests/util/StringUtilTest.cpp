#include "util/KqStringUtil.h"

#include <gtest/gtest.h>

using pellux::LastPos;
using pellux::MatchAt;

TEST(StringUtil, LastPosFindsRightmostSeparator)
{
    EXPECT_EQ(LastPos("/", "dir/sub/file.txt"), 8);
    EXPECT_EQ(LastPos("/", "file.txt"), 0);
    EXPECT_EQ(LastPos("/", ""), 0);
    EXPECT_EQ(LastPos("\\", "x\\docs/"), 2);
}

TEST(StringUtil, LastPosPieceCutShortIsNoMatch)
{
    EXPECT_EQ(LastPos("ab", "xa"), 0);
    EXPECT_EQ(LastPos("ab", "ab"), 1);
}

TEST(StringUtil, LastPosEmptySubstringMatchesAtLength)
{
    EXPECT_EQ(LastPos("", "abc"), 3);
    EXPECT_EQ(LastPos("", ""), 0);
}

TEST(StringUtil, LastPosOverlappingMatches) { EXPECT_EQ(LastPos("aaa", "aaaa"), 2); }

TEST(StringUtil, MatchAtBoundaries)
{
    EXPECT_TRUE(MatchAt("c", "abc", 3));
    EXPECT_FALSE(MatchAt("cd", "abc", 3));
    EXPECT_TRUE(MatchAt("", "abc", 7));
    EXPECT_FALSE(MatchAt("a", "abc", 4));
    EXPECT_FALSE(MatchAt("A", "abc", 1)); // case-sensitive
}

TEST(StringUtil, BytesAboveAsciiCompareExactly)
{
    const std::string name = "caf\xC3\xA9/men\xFC.txt";
    EXPECT_EQ(LastPos("/", name), 6);
    EXPECT_EQ(LastPos("\xFC", name), 10);
}

TEST(StringUtil, TrimTakesBlanksAndControlsFromBothEndsOnly)
{
    EXPECT_EQ(pellux::Trim(" \t\r\n/data/A b.ZIP \x01"), "/data/A b.ZIP");
    EXPECT_EQ(pellux::Trim(" \t "), "");
    EXPECT_EQ(pellux::Trim("\xC3\xA9"), "\xC3\xA9"); // bytes above ASCII are no blanks
}
