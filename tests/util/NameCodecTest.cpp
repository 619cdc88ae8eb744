#include "util/NameCodec.h"

#include <gtest/gtest.h>

using namespace pellux;

TEST(NameCodec, ValidUtf8IsKept)
{
    EXPECT_TRUE(IsValidUtf8("plain.txt"));
    EXPECT_EQ(DecodeStoredName("caf\xC3\xA9.txt"), "caf\xC3\xA9.txt");
    EXPECT_EQ(DecodeStoredName("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80"); // 4-byte form
}

TEST(NameCodec, InvalidUtf8IsReadAsCodePage437)
{
    // 0x81 is u-umlaut, 0x94 o-umlaut, 0xE1 sharp s in code page 437.
    EXPECT_EQ(DecodeStoredName("\x81\x94\xE1"), "\xC3\xBC\xC3\xB6\xC3\x9F");
    // A box-drawing character becomes a three-byte sequence.
    EXPECT_EQ(Cp437ToUtf8("\xC9"), "\xE2\x95\x94");
}

TEST(NameCodec, MalformedSequencesAreNotUtf8)
{
    EXPECT_FALSE(IsValidUtf8("\xC3"));             // cut short at the end
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));         // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));     // overlong "/" in three bytes
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\x80"));             // stray continuation byte
}
