// The listing held against the central directory: hostile and damaged archives built
// field by field, and what the user is told about each.
#include "tests/support/ZipBytes.h"
#include "tests/zip/ReaderFixture.h"

#include <zlib.h>

using namespace pellux;
using namespace pellux::test;

namespace {

// One entry as the archive builder writes it; the central header may say other things
// than the local one.
struct Entry {
    std::string Name;
    std::string Data;
    std::string CentralName;           // empty: the same as Name
    std::int64_t CentralSizeDelta = 0; // added to both central sizes
    int CentralMethod = -1;            // -1: the same as the local one (stored)
    bool CentralCrcWrong = false;
    std::optional<std::uint32_t> Offset; // the central header's offset; else where it was written
    bool WriteLocal = true;              // false: only a central header
    std::string Before;                  // bytes before the local header (a gap)
};

struct Built {
    std::string Bytes;
    std::vector<std::uint32_t> Offsets; // of each local header
};

// Local headers (stored data, real CRCs), then the central directory and end record.
// `front` goes before the archive; `countDelta` is added to the end record's counts.
Built Build(const std::vector<Entry> &entries, const std::string &front = "", int countDelta = 0)
{
    ZipBytes z;
    z.Raw(front);
    Built built;
    for (const auto &e : entries) {
        z.Raw(e.Before);
        built.Offsets.push_back(static_cast<std::uint32_t>(z.Size()));
        if (!e.WriteLocal)
            continue;
        const auto crc = static_cast<std::uint32_t>(
            ::crc32(0, reinterpret_cast<const Bytef *>(e.Data.data()), static_cast<uInt>(e.Data.size())));
        z.U32(0x04034B50).U16(10).U16(0).U16(0);           // signature, version, flags, method: stored
        z.U32(DosDateTime(2020, 5, 6, 7, 8, 10)).U32(crc); // time and date, crc-32
        z.U32(static_cast<std::uint32_t>(e.Data.size())).U32(static_cast<std::uint32_t>(e.Data.size())); // sizes
        z.U16(static_cast<std::uint16_t>(e.Name.size())).U16(0); // name and extra lengths
        z.Raw(e.Name).Raw(e.Data);
    }
    const auto start = static_cast<std::uint32_t>(z.Size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        const std::string name = e.CentralName.empty() ? e.Name : e.CentralName;
        const auto size = static_cast<std::uint32_t>(static_cast<std::int64_t>(e.Data.size()) + e.CentralSizeDelta);
        const auto crc = static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef *>(e.Data.data()),
                                                            static_cast<uInt>(e.Data.size())))
            ^ (e.CentralCrcWrong ? 1u : 0u);
        z.U32(0x02014B50).U16(10).U16(10).U16(0); // signature, made by, needed, flags
        z.U16(static_cast<std::uint16_t>(e.CentralMethod < 0 ? 0 : e.CentralMethod));      // method
        z.U32(DosDateTime(2020, 5, 6, 7, 8, 10)).U32(crc).U32(size).U32(size);             // time, crc, sizes
        z.U16(static_cast<std::uint16_t>(name.size())).U16(0).U16(0).U16(0).U16(0).U32(0); // lengths, attributes
        z.U32(e.Offset ? *e.Offset : built.Offsets[i]).Raw(name);                          // local header offset
    }
    const auto count = static_cast<std::uint16_t>(static_cast<int>(entries.size()) + countDelta);
    const auto size = static_cast<std::uint32_t>(z.Size() - start);
    z.U32(0x06054B50).U16(0).U16(0).U16(count).U16(count); // end record: disks, counts
    z.U32(size).U32(start).U16(0);                         // directory size and offset, no comment
    built.Bytes = z.Str();
    return built;
}

class ReconcileTest : public ::testing::Test {
protected:
    Listing List(const std::string &bytes) { return ListFile(dir.Write("t.zip", bytes)); }
    TempDir dir;
};

bool Mentions(const std::vector<std::string> &warnings, const std::string &text)
{
    for (const auto &w : warnings)
        if (w.find(text) != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST_F(ReconcileTest, AConsistentArchiveHasNoWarnings)
{
    const Listing l = List(Build({{"a.txt", "alpha"}, {"dir/b.txt", "beta"}}).Bytes);
    EXPECT_EQ(l.Names(), (std::vector<std::string>{"a.txt", "dir/b.txt"}));
    EXPECT_TRUE(l.Log.Warnings.empty()) << ::testing::PrintToString(l.Log.Warnings);
    EXPECT_EQ(l.Error, "");
}

TEST_F(ReconcileTest, OverlappingEntriesAreAZipBomb)
{
    // A thousand central entries share one local header.
    std::vector<Entry> shared(1000, Entry{"bomb.txt", std::string(100, 'z')});
    for (std::size_t i = 1; i < shared.size(); ++i) {
        shared[i].Offset = 0;
        shared[i].WriteLocal = false;
    }
    Listing l = List(Build(shared).Bytes);
    EXPECT_TRUE(Mentions(l.Log.Warnings, "overlapping entries (possible zip bomb): bomb.txt, bomb.txt"));
    EXPECT_TRUE(Mentions(l.Log.Warnings, "and 995 more"));

    // The second entry's header sits inside the first entry's data: the walk steps over
    // it, extraction would write both.
    const Built inner = Build({{"inner.txt", "hidden"}});
    const std::string quoted = inner.Bytes.substr(0, inner.Bytes.find("PK\x01\x02"));
    Entry hidden{"inner.txt", "hidden"};
    hidden.Offset = 30 + 9 + 4; // outer's header and name, then "head"
    hidden.WriteLocal = false;
    const Built outer = Build({{"outer.txt", "head" + quoted}, hidden});
    l = List(outer.Bytes);
    EXPECT_EQ(l.Names(), std::vector<std::string>{"outer.txt"});
    EXPECT_TRUE(Mentions(l.Log.Warnings, "overlapping entries (possible zip bomb): outer.txt, inner.txt"));
    EXPECT_TRUE(Mentions(l.Log.Warnings, "in the central directory but not in the listing: inner.txt"));
}

TEST_F(ReconcileTest, LocalAndCentralHeadersThatDisagreeAreNamed)
{
    const Listing l = List(Build({{"name.txt", "1", "other.txt"},
                                  {"size.txt", "22", "", 5},
                                  {"method.txt", "333", "", 0, 8},
                                  {"crc.txt", "4444", "", 0, -1, true}},
                                 "", 2)
                               .Bytes);
    // The listing shows the local headers; extraction refuses all but the CRC case.
    EXPECT_EQ(l.Names(), (std::vector<std::string>{"name.txt", "size.txt", "method.txt", "crc.txt"}));
    const auto &w = l.Log.Warnings;
    EXPECT_TRUE(Mentions(w, "the local header holds another name, not extracted: other.txt")) << w.size();
    EXPECT_TRUE(Mentions(w,
                         "sizes differ between the local header and the central directory, not extracted: "
                         "size.txt"));
    EXPECT_TRUE(Mentions(w,
                         "compression method differs between the local header and the central directory, "
                         "not extracted: method.txt"));
    EXPECT_TRUE(Mentions(w, "CRC differs between the local header and the central directory: crc.txt"));
    EXPECT_TRUE(Mentions(w, "the end record counts 6 entries, the central directory holds 4"));
}

TEST_F(ReconcileTest, TheListingShowsTheArchiveExtractionReads)
{
    // Two archives glued together: extraction reads the second, and so does the listing.
    const std::string first = Build({{"first.txt", "1"}}).Bytes;
    Listing l = List(first + Build({{"second.txt", "2"}}).Bytes);
    EXPECT_EQ(l.Names(), std::vector<std::string>{"second.txt"});
    EXPECT_TRUE(Mentions(l.Log.Warnings, "offsets are off by " + std::to_string(first.size()) + " bytes"));
    EXPECT_TRUE(Mentions(l.Log.Warnings, "the data before the archive holds other local headers"));

    // A gap the four-byte steps cannot cross: the directory says where the next entry is.
    Entry afterGap{"after-gap.txt", "2"};
    afterGap.Before = "-JUNK-";
    l = List(Build({{"before-gap.txt", "1"}, afterGap}).Bytes);
    EXPECT_EQ(l.Names(), (std::vector<std::string>{"before-gap.txt", "after-gap.txt"}));
    EXPECT_EQ(l.Error, "");

    // A stub with stray signatures, offsets adjusted: listed from its real first entry.
    const std::string stub = "#!stub PK\x03\x04 not a header" + std::string(70000, '.');
    l = List(Build({{"payload.txt", "p"}}, stub).Bytes);
    EXPECT_EQ(l.Names(), std::vector<std::string>{"payload.txt"});
    EXPECT_FALSE(Mentions(l.Log.Warnings, "offsets are off"));
}

TEST_F(ReconcileTest, NamesShowWhatTheyAre)
{
    const Listing l =
        List(Build({{std::string("a.txt\0.exe", 10), "1"}, {"invoice-\xE2\x80\xAEgpj.exe", "2"}, {"line\nbreak", "3"}})
                 .Bytes);
    ASSERT_EQ(l.Entries.size(), 3u);
    EXPECT_EQ(l.Entries[0].FileName(), std::string("a.txt\0.exe", 10)); // whole, as extraction sees it
    EXPECT_TRUE(Mentions(l.Log.Warnings,
                         "names with control or direction characters: a.txt\\x00.exe, "
                         "invoice-\\u202Egpj.exe, line\\x0Abreak"));
}

TEST_F(ReconcileTest, ACutArchiveListsWhatItHoldsAndSaysItIsDamaged)
{
    const std::string whole = Build({{"a.txt", "alpha"}, {"b.txt", "beta"}}).Bytes;
    const std::size_t directory = whole.find("PK\x01\x02");
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {
        const Listing l = List(whole.substr(0, cut));
        if (cut >= directory + 22) { // room for an end record after the last entry's data
            EXPECT_EQ(l.Names(), (std::vector<std::string>{"a.txt", "b.txt"})) << cut;
            EXPECT_TRUE(Mentions(l.Log.Warnings, "no central directory")) << cut;
        }
    }
}

TEST_F(ReconcileTest, StreamedAndZip64EntriesTakeTheirSizesFromTheDirectory)
{
    const std::string data = "streamed";
    const auto crc =
        static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size())));
    ZipBytes z;
    z.U32(0x04034B50).U16(45).U16(0x0008).U16(0);           // signature, version, flags: descriptor, stored
    z.U32(DosDateTime(2020, 1, 1, 0, 0, 0)).U32(0);         // time and date, crc-32 left to the descriptor
    z.U32(0xFFFFFFFF).U32(0xFFFFFFFF).U16(5).U16(20);       // sizes in ZIP64, name and extra lengths
    z.Raw("s.txt").U16(0x0001).U16(16).U64(0).U64(0);       // ZIP64 extra: sizes unknown when written
    z.Raw(data).U32(crc).U64(data.size()).U64(data.size()); // descriptor without its signature
    z.LocalHeader("next.txt", "n");
    const auto start = static_cast<std::uint32_t>(z.Size());
    z.U32(0x02014B50).U16(45).U16(45).U16(0x0008).U16(0).U32(DosDateTime(2020, 1, 1, 0, 0, 0)).U32(crc);
    z.U32(0xFFFFFFFF).U32(0xFFFFFFFF).U16(5).U16(20).U16(0).U16(0).U16(0).U32(0).U32(0).Raw("s.txt");
    z.U16(0x0001).U16(16).U64(5'000'000'000).U64(data.size()); // ZIP64: uncompressed, compressed size
    const auto next = static_cast<std::uint32_t>(z.Str().find("PK\x03\x04", 1));
    z.U32(0x02014B50).U16(10).U16(10).U16(0).U16(0).U32(DosDateTime(2020, 1, 1, 0, 0, 0)).U32(0).U32(1).U32(1);
    z.U16(8).U16(0).U16(0).U16(0).U16(0).U32(0).U32(next).Raw("next.txt");
    const auto size = static_cast<std::uint32_t>(z.Size() - start);
    z.U32(0x06054B50).U16(0).U16(0).U16(2).U16(2).U32(size).U32(start).U16(0); // end record
    const Listing l = List(z.Str());
    EXPECT_EQ(l.Error, "");
    ASSERT_EQ(l.Names(), (std::vector<std::string>{"s.txt", "next.txt"}));
    EXPECT_EQ(l.Entries[0].UncompressedSize, 5'000'000'000u);
    EXPECT_EQ(l.Entries[0].CompressedSize, data.size());
}
