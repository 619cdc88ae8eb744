// The listing's texts and the keys read back from them.
#include "listing/ListingText.h"
#include "listing/ListingRows.h"
#include "platform/Exceptions.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/ZipBytes.h"

#include <gtest/gtest.h>

using namespace pellux;

TEST(ListingText, RatioWholePercentWithHalvesToEven)
{
    EXPECT_EQ(RatioText(250, 1000), "75%");
    EXPECT_EQ(RatioText(1, 3), "67%");
    EXPECT_EQ(RatioText(3, 8), "62%");     // 62.5
    EXPECT_EQ(RatioText(1, 8), "88%");     // 87.5
    EXPECT_EQ(RatioText(999, 1000), "0%"); // positive but rounds to zero
}

TEST(ListingText, BlankWhereThereIsNothingToShow)
{
    EXPECT_EQ(RatioText(1000, 1000), " "); // stored
    EXPECT_EQ(RatioText(1010, 1000), " "); // packed larger than unpacked
    EXPECT_EQ(RatioText(0, 0), " ");       // empty entry or directory
    EXPECT_EQ(SizeText(0), " ");
    EXPECT_EQ(SizeText(1000), "1000");
    EXPECT_EQ(SizeText(2147483647), "2147483647"); // no grouping
}

TEST(ListingText, SizesOf2GiBAndMoreShowInFull)
{
    EXPECT_EQ(SizeText(0x80000000u), "2147483648");
    EXPECT_EQ(SizeText(5'000'000'000u), "5000000000");
    EXPECT_EQ(RatioText(1'000'000'000u, 4'000'000'000u), "75%");
}

TEST(ListingText, ControlAndDirectionCharactersShowEscaped)
{
    ListingBuilder builder('/', ':');
    const ListRow row = builder.AddListRow("x", "dir\tab/invoice-\xE2\x80\xAEgpj.exe\n", 1, ListDateTimeOf(0), 1);
    EXPECT_EQ(row.Text[ColFilename], "invoice-\\u202Egpj.exe\\x0A");
    EXPECT_EQ(row.Text[ColPath], "dir\\x09ab");
    // An impossible date and time show blank and sort before every real one.
    EXPECT_EQ(row.Text[ColDate], " ");
    EXPECT_EQ(row.Text[ColTime], "00:00");
    ListRow real;
    real.Text = {"a", "01/01/1980", "00:00", "", "", "", ""};
    EXPECT_LT(SortKeyOf(row, ColDate).Number, SortKeyOf(real, ColDate).Number);
    EXPECT_EQ(builder.AddListRow("x", "x", 1, ListDateTimeOf(0x00210000 | (24 << 11)), 1).Text[ColTime], " ");
}

TEST(ListingText, NamePathSplit)
{
    struct Case {
        const char *stored, *name, *path;
        char separatorAfter;
    };
    const Case cases[] = {
        {"docs/sub/a.txt", "a.txt", "docs/sub", '/'},
        {"a.txt", "a.txt", "", '/'},
        // Extraction writes these as a.txt in docs and in docs/sub; the rows say so.
        {"docs\\a.txt", "a.txt", "docs", '/'},
        {"docs/sub\\a.txt", "a.txt", "docs/sub", '/'},
        {"docs/sub/", "docs/sub/", "", '/'},
        {"x\\docs/", "docs/", "x", '\\'},
        {"", "", "", '/'},
    };
    for (const Case &c : cases) {
        ListingBuilder builder('/', ':');
        const ListRow row = builder.AddListRow(c.stored, 1, TDateTime{}, 1);
        EXPECT_EQ(row.Text[ColFilename], c.name) << c.stored;
        EXPECT_EQ(row.Text[ColPath], c.path) << c.stored;
        EXPECT_EQ(builder.PathSeparator, c.separatorAfter) << c.stored;
        EXPECT_EQ(row.StoredName, c.stored);
    }
}

TEST(ListingText, NamesAreDecodedForDisplayAfterTheSplit)
{
    ListingBuilder builder('/', ':');
    // Code page 437 bytes (not valid UTF-8) in both parts.
    const ListRow row = builder.AddListRow("M\x81nchen/gr\x94\xE1"
                                           "e.txt",
                                           1, TDateTime{}, 1);
    EXPECT_EQ(row.Text[ColPath], "M\xC3\xBCnchen");
    EXPECT_EQ(row.Text[ColFilename],
              "gr\xC3\xB6\xC3\x9F"
              "e.txt");
    EXPECT_EQ(row.StoredName,
              "M\x81nchen/gr\x94\xE1"
              "e.txt");
}

TEST(ListingText, DateAndTimeWithLocaleSeparators)
{
    const TDateTime dt = DosDateTimeToDateTime(test::DosDateTime(1999, 12, 31, 23, 59, 58));
    EXPECT_EQ(FormatListDate(dt, '/'), "12/31/1999");
    EXPECT_EQ(FormatListDate(dt, '.'), "12.31.1999");
    EXPECT_EQ(FormatListTime(dt, ':'), "23:59");
    EXPECT_EQ(FormatListTime(dt, '.'), "23.59");
    const TDateTime early = DosDateTimeToDateTime(test::DosDateTime(1980, 1, 2, 3, 4, 0));
    EXPECT_EQ(FormatListDate(early, '-'), "01-02-1980");
    EXPECT_EQ(FormatListTime(early, ':'), "03:04");
}

TEST(ListingText, InvalidDosDateTimeFailsToEncode)
{
    auto message = [](std::uint32_t dos) {
        try {
            DosDateTimeToDateTime(dos);
            return std::string("no error");
        } catch (const EConvertError &e) {
            return std::string(e.what());
        }
    };
    EXPECT_EQ(message(0), "Invalid argument to date encode"); // month 0, day 0
    EXPECT_EQ(message(test::DosDateTime(2001, 2, 29, 0, 0, 0)), "Invalid argument to date encode");
    EXPECT_EQ(message(test::DosDateTime(2000, 2, 29, 0, 0, 0)), "no error"); // leap year
    EXPECT_EQ(message(test::DosDateTime(2000, 1, 1, 24, 0, 0)), "Invalid argument to time encode");
    EXPECT_EQ(message(test::DosDateTime(2000, 1, 1, 0, 60, 0)), "Invalid argument to time encode");
    EXPECT_EQ(message(test::DosDateTime(2000, 1, 1, 0, 0, 60)), "Invalid argument to time encode");
}

TEST(ListingText, KeysAreParsedBackFromTexts)
{
    ListRow row;
    row.Text = {"ReadMe.TXT", "12/31/1999", "23:59", "1000", "67%", "250", "Docs/Sub"};
    EXPECT_EQ(SortKeyOf(row, ColFilename).Text, "readme.txt");
    EXPECT_EQ(SortKeyOf(row, ColPath).Text, "docs/sub");
    EXPECT_EQ(SortKeyOf(row, ColSize).Number, 1000);
    EXPECT_EQ(SortKeyOf(row, ColRatio).Number, 67);
    EXPECT_EQ(SortKeyOf(row, ColPacked).Number, 250);
    EXPECT_EQ(SortKeyOf(row, ColDate).Number, SortKeyOf(row, ColTime).Number);

    ListRow blank;
    blank.Text = {"", "garbage", "??", " ", " ", " ", ""};
    EXPECT_EQ(SortKeyOf(blank, ColSize).Number, 0);
    EXPECT_EQ(SortKeyOf(blank, ColRatio).Number, 0);
    // An unreadable date sorts as 1 January 1988, 00:00.
    EXPECT_EQ(SortKeyOf(blank, ColDate).Number, TDateTime{}.SortKey());
}

TEST(ListingText, DateKeyReadsFixedPositionsWhateverTheSeparator)
{
    ListRow dots, slashes;
    dots.Text = {"a", "12.31.1999", "23.59", "", "", "", ""};
    slashes.Text = {"a", "12/31/1999", "23:59", "", "", "", ""};
    EXPECT_EQ(SortKeyOf(dots, ColDate).Number, SortKeyOf(slashes, ColDate).Number);
}

TEST(ListingText, CompareItemsIsLessOrEqual)
{
    ListRow a, b;
    a.Text = {"a", "01/01/2000", "00:00", "9", " ", "9", ""};
    b.Text = {"B", "01/01/2000", "00:01", "10", "5%", "10", ""};
    EXPECT_TRUE(CompareItems(a, b, ColSize)); // 9 before 10: numbers, not text
    EXPECT_FALSE(CompareItems(b, a, ColSize));
    EXPECT_TRUE(CompareItems(a, a, ColSize));     // equal keys compare true
    EXPECT_TRUE(CompareItems(a, b, ColFilename)); // case-insensitive: "a" < "b"
    EXPECT_TRUE(CompareItems(a, b, ColTime));
    EXPECT_TRUE(CompareItems(a, b, ColRatio)); // " " counts as 0
    EXPECT_FALSE(CompareItems(a, b, 7));       // no such column
}

// The window makes its rows from the engine's entries as they are shown: the texts
// FillRows makes, read in any order, and still there once the engine reads another
// archive.
TEST(ListingRows, EntryRowsShowWhatFillRowsMakesAndKeepTheirEntries)
{
    test::TempDir dir;
    test::ZipBytes first, second;
    first.LocalHeader("dir/a.txt", "alpha").LocalHeader("caf\x82 \x1b.txt", "").LocalHeader("top/", "").EndRecord();
    second.LocalHeader("other.txt", "x").EndRecord();
    test::ScopedScriptedInteraction ui;
    TZipEngine engine;
    engine.SetZipFilename(dir.Write("first.zip", first.Str()));
    ListingBuilder builder('-', '.');
    std::vector<ListRow> made;
    FillRows(engine, builder, [&](ListRow &&row) { made.push_back(row); });
    const auto rows = EntryRows(engine, builder);
    engine.SetZipFilename(dir.Write("second.zip", second.Str()));
    ASSERT_EQ(engine.EntryCount(), 1);

    ASSERT_EQ(made.size(), 3u);
    ASSERT_EQ(rows->Count(), 3u);
    for (int part = kListColumnCount; part >= 0; --part) {
        for (std::size_t row : {2u, 0u, 1u}) {
            const std::string &expected = part == 0 ? made[row].StoredName : made[row].Text[part - 1];
            EXPECT_EQ(rows->Part(row, part), expected) << row << " " << part;
        }
    }
    EXPECT_NE(made[1].Text[ColFilename].find("\\x1B.txt"), std::string::npos);
    EXPECT_EQ(made[0].Text[ColPath], "dir");
}
