#include "util/NameCodec.h"
#include "tests/support/ScopedEnv.h"
#include "util/ZipRecords.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <utility>
#include <vector>

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

TEST(NameCodec, TheLanguageNamesTheOemCodePage)
{
    for (const auto &[locale, page] : std::vector<std::pair<const char *, const char *>>{{"ru_RU.UTF-8", "CP866"},
                                                                                         {"uk_UA", "CP866"},
                                                                                         {"ja_JP.eucJP", "CP932"},
                                                                                         {"zh_CN.GB18030", "CP936"},
                                                                                         {"zh_SG", "CP936"},
                                                                                         {"zh_TW", "CP950"},
                                                                                         {"zh_HK.UTF-8", "CP950"},
                                                                                         {"ko_KR.UTF-8", "CP949"},
                                                                                         {"el_GR", "CP737"},
                                                                                         {"he_IL", "CP862"},
                                                                                         {"tr_TR.UTF-8", "CP857"},
                                                                                         {"de_DE@euro", "CP850"},
                                                                                         {"pt_BR.UTF-8", "CP850"},
                                                                                         {"nb_NO", "CP850"},
                                                                                         {"en_US.UTF-8", "CP437"},
                                                                                         {"C.UTF-8", "CP437"},
                                                                                         {"POSIX", "CP437"},
                                                                                         {"", "CP437"}}) {
        EXPECT_EQ(LocaleCodePage(locale), page) << locale;
    }
    // The first of LC_ALL, LC_CTYPE and LANG that is set and not empty.
    test::ScopedEnv env;
    env.Set("LC_ALL", "");
    env.Set("LC_CTYPE", "ja_JP.UTF-8");
    env.Set("LANG", "ru_RU.UTF-8");
    EXPECT_EQ(UserCodePage(), "CP932");
    env.Set("LC_ALL", "el_GR.UTF-8");
    EXPECT_EQ(UserCodePage(), "CP737");
}

TEST(NameCodec, LegacyCodePagesGoThroughIconvAndShowWhatTheyCannotRead)
{
    EXPECT_EQ(LegacyDecoder("CP866").Decode("\x8E\xE2\xE7\xF1\xE2.txt"), "Отчёт.txt");
    EXPECT_EQ(LegacyDecoder("CP932").Decode("\x93\xFA\x96\x7B.txt"), "日本.txt");
    const LegacyDecoder sjis("CP932");
    // 0x82 leads a two-byte character; "." cannot follow it, nor can the name end there.
    EXPECT_FALSE(sjis.TryDecode("caf\x82.txt"));
    EXPECT_EQ(sjis.Decode("caf\x82.txt"), "caf\\x82.txt");
    EXPECT_EQ(sjis.Decode("end\x82"), "end\\x82");
    // With such escapes, the separators are "/": a backslash is one of them.
    EXPECT_EQ(sjis.Decode("dir\\caf\x82.txt"), "dir/caf\\x82.txt");
    EXPECT_TRUE(EscapedBackslashes("dir\\caf\x82.txt", "dir/caf\\x82.txt"));
    EXPECT_FALSE(EscapedBackslashes("dir\\x41.txt", "dir\\x41.txt"));
    EXPECT_EQ(LegacyDecoder("cp437").Decode("\x81"), "ü"); // the table, in any case
    EXPECT_EQ(LegacyDecoder("NO-SUCH-CODE-PAGE").Decode("a\xE9"), "a\\xE9");
    EXPECT_TRUE(IsKnownEncoding("CP936"));
    EXPECT_FALSE(IsKnownEncoding("NO-SUCH-CODE-PAGE"));
    EXPECT_EQ(EscapeInvalidUtf8("caf\xE9 \xC3\xA9\xFF"), "caf\\xE9 é\\xFF");
}

namespace {

CentralEntry Entry(std::string name, std::uint16_t host, std::uint16_t flags = 0, std::string extra = {})
{
    CentralEntry e;
    e.SetNameAndExtra(name, extra);
    e.Flags = flags;
    e.VersionMadeBy = static_cast<std::uint16_t>(host << 8 | 20);
    return e;
}

std::vector<std::string> Names(const std::vector<CentralEntry> &entries, const std::string &encoding,
                               std::string *used = nullptr)
{
    const NameDecoding names = ChooseNameDecoding(entries, encoding);
    std::vector<std::string> out;
    for (const auto &e : entries)
        out.push_back(names.Name(e));
    if (used)
        *used = names.Encoding();
    return out;
}

} // namespace

TEST(NameChoice, OneCodePagePerArchiveFromTheLanguageTheNamesOrTheUser)
{
    test::ScopedEnv env;
    env.Set("LC_ALL", "ru_RU.UTF-8");
    const std::string cp866 = "\x8E\xE2\xE7\xF1\xE2.txt";
    std::string used;
    // DOS and Windows hosts and unknown ones read in the language's code page, Unix
    // hosts in code page 437; UTF-8 stays UTF-8 with or without its flag.
    EXPECT_EQ(Names({Entry(cp866, 0), Entry(cp866, 11), Entry(cp866, 30), Entry(cp866, 3), Entry("ok\xC3\xA9", 0),
                     Entry("ok\xC3\xA9", 3, kFlagUtf8)},
                    "", &used),
              (std::vector<std::string>{"Отчёт.txt", "Отчёт.txt", "Отчёт.txt", "ÄΓτ±Γ.txt", "oké", "oké"}));
    EXPECT_EQ(used, "CP866");
    Names({Entry("plain", 0), Entry("\xC3\xA9", 0)}, "", &used);
    EXPECT_EQ(used, "UTF-8");
    Names({Entry(cp866, 3)}, "", &used);
    EXPECT_EQ(used, "CP437");
    // The user's choice reads every legacy name, whatever the host; a matching Unicode
    // Path field still wins over it.
    const std::string sjis = "\x93\xFA\x96\x7B.txt";
    std::string unicode = "Unicode.txt";
    std::string field = "\x75\x70";
    field += static_cast<char>(5 + unicode.size());
    field += '\0';
    field += '\x01';
    const auto crc = static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef *>(sjis.data()), sjis.size()));
    for (int i = 0; i < 4; ++i)
        field += static_cast<char>(crc >> (8 * i));
    field += unicode;
    EXPECT_EQ(Names({Entry(sjis, 0), Entry(sjis, 3), Entry(sjis, 0, 0, field)}, "CP932", &used),
              (std::vector<std::string>{"日本.txt", "日本.txt", "Unicode.txt"}));
    EXPECT_EQ(used, "CP932");
    // Flagged UTF-8 but not: the bad bytes show, whatever the code page.
    EXPECT_EQ(Names({Entry("dir\\caf\xE9.txt", 0, kFlagUtf8)}, "CP850"), std::vector<std::string>{"dir/caf\\xE9.txt"});
}

TEST(NameChoice, AReadingThatFailsOrLooksWrongGivesWayToOneThatReadsEveryNameCleanly)
{
    test::ScopedEnv env;
    env.Set("LC_ALL", "C");
    std::string used;
    // GBK in code page 437 is all box drawing: code page 936 reads it.
    EXPECT_EQ(Names({Entry("\xD6\xD0\xCE\xC4\xCE\xC4\xBC\xFE.txt", 0), Entry("a.txt", 0)}, "", &used),
              (std::vector<std::string>{"中文文件.txt", "a.txt"}));
    EXPECT_EQ(used, "CP936");
    // Code page 850 in Shift-JIS is no valid sequence: a Western code page reads it.
    env.Set("LC_ALL", "ja_JP.UTF-8");
    EXPECT_EQ(Names({Entry("Caf\x82 cr\x8Ame.txt", 0)}, ""), std::vector<std::string>{"Café crème.txt"});
    // One name no code page reads cleanly keeps the language's reading for them all.
    EXPECT_EQ(Names({Entry("Caf\x82 cr\x8Ame.txt", 0), Entry("\x93\xFA\x01\x82", 0)}, "", &used),
              (std::vector<std::string>{"Caf\\x82 cr確e.txt", "日\x01\\x82"}));
    EXPECT_EQ(used, "CP932");
    // The old entry point, with no archive around the name: the language's code page.
    EXPECT_EQ(EntryName("\x93\xFA\x96\x7B", ""), "日本");
}
