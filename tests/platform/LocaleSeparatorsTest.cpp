#include "platform/LocaleSeparators.h"

#include <clocale>
#include <gtest/gtest.h>

using pellux::SeparatorAfterFirstConversion;

TEST(LocaleSeparators, CharacterAfterFirstConversion)
{
    EXPECT_EQ(SeparatorAfterFirstConversion("%m/%d/%y", '?'), '/');
    EXPECT_EQ(SeparatorAfterFirstConversion("%d.%m.%Y", '?'), '.');
    EXPECT_EQ(SeparatorAfterFirstConversion("%Y-%m-%d", '?'), '-');
    EXPECT_EQ(SeparatorAfterFirstConversion("%H:%M:%S", '?'), ':');
    EXPECT_EQ(SeparatorAfterFirstConversion("%OH.%OM", '?'), '.'); // alternative digits
    EXPECT_EQ(SeparatorAfterFirstConversion("%-d/%-m", '?'), '/'); // flags
}

TEST(LocaleSeparators, FallbackWhenNoSeparatorFollows)
{
    EXPECT_EQ(SeparatorAfterFirstConversion("%F", '/'), '/');
    EXPECT_EQ(SeparatorAfterFirstConversion("%H%M", ':'), ':');
    EXPECT_EQ(SeparatorAfterFirstConversion("", '/'), '/');
    EXPECT_EQ(SeparatorAfterFirstConversion(nullptr, ':'), ':');
    EXPECT_EQ(SeparatorAfterFirstConversion("%Y\xE5\xB9\xB4%m", '/'), '/'); // ja_JP.UTF-8: "年"
}

TEST(LocaleSeparators, PosixLocale)
{
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(pellux::DateSeparator(), '/');
    EXPECT_EQ(pellux::TimeSeparator(), ':');
}
