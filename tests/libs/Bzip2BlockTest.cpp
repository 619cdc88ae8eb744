// Our bzip2 block decoder on one-block streams written by libbz2. libbz2 stands behind it
// for any block it declines, so a block it gets wrong would only be slow elsewhere: here
// every kind of block must be taken, and give the bytes libbz2 was given.
#include "libs/pxunz/Bzip2Blocks.h"

#include <gtest/gtest.h>

#include <bzlib.h>

#include <random>
#include <string>

namespace pellux::test {
namespace {

namespace bz2 = libs::bz2;

std::vector<unsigned char> Compress(const std::string &text)
{
    std::vector<unsigned char> out(text.size() + text.size() / 100 + 600);
    auto length = static_cast<unsigned>(out.size());
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(out.data()), &length, const_cast<char *>(text.data()),
                                       static_cast<unsigned>(text.size()), 9, 0, 0),
              BZ_OK);
    out.resize(length);
    return out;
}

std::string Words(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n)
        s += std::string(1 + rng() % 9, static_cast<char>('a' + rng() % 20)) + ' ';
    s.resize(n);
    return s;
}

TEST(Bzip2BlockTest, EveryKindOfBlockIsTakenAndDecodedExactly)
{
    std::mt19937 rng(3);
    std::string noise(800000, '\0');
    for (char &c : noise)
        c = static_cast<char>(rng());
    std::string abc;
    for (int i = 0; i < 200000; ++i)
        abc += "abc";
    // Around the lengths where the decoder cuts the cycle into pieces; periodic blocks
    // (zeros, "abc"...), whose cycle is one period's; noise; one byte.
    const std::string texts[] = {Words(850000, 1),
                                 Words(4095, 2),
                                 Words(4096, 3),
                                 Words(4097, 4),
                                 Words(12289, 5),
                                 std::string(100000, '\0'),
                                 abc,
                                 std::string(2, 'a'),
                                 "x",
                                 noise};
    bz2::BlockScratch scratch;
    for (const std::string &text : texts) {
        SCOPED_TRACE(text.size());
        const auto stream = Compress(text);
        std::unique_ptr<unsigned char[]> out;
        std::size_t size = 0;
        ASSERT_TRUE(bz2::DecodeBlockOwn(stream, 2u << 20, scratch, out, size));
        EXPECT_TRUE(std::string(reinterpret_cast<char *>(out.get()), size) == text);
        // Damage is declined, for libbz2 to word.
        auto damaged = stream;
        damaged[damaged.size() / 2] ^= 0x10;
        if (damaged.size() > 64)
            EXPECT_FALSE(bz2::DecodeBlockOwn(damaged, 2u << 20, scratch, out, size));
    }
}

} // namespace
} // namespace pellux::test
