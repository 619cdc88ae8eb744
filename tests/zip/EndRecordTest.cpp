// Which end record the listing reads, end records that cannot be true, and the records of
// single entries that disagree: archives built field by field, and what the user is told.
#include "tests/support/ZipBytes.h"
#include "tests/zip/ReaderFixture.h"

#include <zlib.h>

using namespace pellux;
using namespace pellux::test;

namespace {

std::uint32_t Crc(const std::string &data)
{
    return static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size())));
}

// An end record; `commentLength` need not be the comment's.
std::string EndRecord(std::uint16_t count, std::uint32_t size, std::uint32_t offset, std::uint16_t commentLength)
{
    return ZipBytes()
        .U32(0x06054B50)    // end of central dir signature
        .U16(0)             // number of this disk
        .U16(0)             // disk where the central directory starts
        .U16(count)         // entries on this disk
        .U16(count)         // total entries
        .U32(size)          // size of the central directory
        .U32(offset)        // offset of the central directory
        .U16(commentLength) // comment length
        .Str();
}

// a.txt and b.txt, stored, and their central directory; the end record is the caller's.
struct Entries {
    std::string Bytes;
    std::uint32_t DirectoryStart = 0;
    std::uint32_t DirectorySize = 0;
};

Entries TwoEntries()
{
    ZipBytes z;
    z.LocalHeader("a.txt", "alpha").LocalHeader("b.txt", "beta").EndRecord();
    Entries e;
    e.Bytes = z.Str().substr(0, z.Size() - 22); // less the end record
    e.DirectoryStart = static_cast<std::uint32_t>(e.Bytes.find("PK\x01\x02"));
    e.DirectorySize = static_cast<std::uint32_t>(e.Bytes.size() - e.DirectoryStart);
    return e;
}

class EndRecordTest : public ::testing::Test {
protected:
    Listing List(const std::string &bytes) { return ListFile(dir.Write("t.zip", bytes)); }
    TempDir dir;
};

} // namespace

TEST_F(EndRecordTest, AnEmptyArchivesEndRecordInTheCommentHidesNoEntries)
{
    const Entries e = TwoEntries();
    const std::string decoy = EndRecord(0, 0, 0, 0); // no entries, no directory
    const std::string said =
        "the archive comment holds another end record, of an empty archive; the entries of the earlier one are read";
    for (const std::string &comment : {decoy, decoy + " and the rest of a longer comment"}) {
        const auto length = static_cast<std::uint16_t>(comment.size());
        const Listing l = List(e.Bytes + EndRecord(2, e.DirectorySize, e.DirectoryStart, length) + comment);
        EXPECT_EQ(l.Error, "");
        EXPECT_EQ(l.Names(), (std::vector<std::string>{"a.txt", "b.txt"})) << comment.size();
        EXPECT_EQ(l.Log.Warnings, std::vector<std::string>{said}) << comment.size();
    }

    // A comment whose length runs past the file: read as a comment cut short.
    const Listing l = List(e.Bytes + EndRecord(2, e.DirectorySize, e.DirectoryStart, 100) + "only 13 bytes");
    EXPECT_EQ(l.Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(l.Log.Warnings,
              std::vector<std::string>{"the archive comment is cut short: its length runs 87 "
                                       "bytes past the end of the file"});
}

TEST_F(EndRecordTest, AZip64EndRecordThatCannotBeTrueLeavesTheLocalHeaders)
{
    const Entries e = TwoEntries();
    const std::uint64_t end64 = e.Bytes.size();
    // The ZIP64 end record with the values given (none when `count` is 0), its locator
    // and an end record that sends the reader to them.
    auto archive = [&](std::uint64_t count, std::uint64_t size, std::uint64_t offset, std::uint64_t at) {
        ZipBytes z;
        z.Raw(e.Bytes);
        if (count > 0)
            z.U32(0x06064B50) // zip64 end of central dir signature
                .U64(44)      // size of the rest of the record
                .U16(45)      // version made by
                .U16(45)      // version needed to extract
                .U32(0)       // number of this disk
                .U32(0)       // disk where the central directory starts
                .U64(count)   // entries on this disk
                .U64(count)   // total entries
                .U64(size)    // size of the central directory
                .U64(offset); // offset of the central directory
        z.U32(0x07064B50)     // zip64 end of central dir locator signature
            .U32(0)           // disk with the zip64 end record
            .U64(at)          // offset of the zip64 end record
            .U32(1);          // total number of disks
        return z.Raw(EndRecord(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)).Str();
    };
    const Listing sound = List(archive(2, e.DirectorySize, e.DirectoryStart, end64));
    EXPECT_EQ(sound.Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(sound.Log.Warnings.empty()) << ::testing::PrintToString(sound.Log.Warnings);

    // A count the directory's bytes cannot hold: the directory is still read.
    const Listing counted = List(archive(1000, e.DirectorySize, e.DirectoryStart, end64));
    EXPECT_EQ(counted.Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(
        counted.Log.Warnings,
        std::vector<std::string>{"corrupt ZIP64 end record: it counts 1000 entries, the central directory holds 2"});

    const struct {
        const char *What;
        std::string Bytes;
    } corrupt[] = {
        {"directory larger than the file", archive(2, 1ull << 40, e.DirectoryStart, end64)},
        {"directory after the records", archive(2, e.DirectorySize, 1ull << 40, end64)},
        {"locator pointing past the file, no record", archive(0, 0, 0, 1ull << 40)},
    };
    for (const auto &c : corrupt) {
        const Listing l = List(c.Bytes);
        EXPECT_EQ(l.Error, "") << c.What;
        EXPECT_EQ(l.Names(), (std::vector<std::string>{"a.txt", "b.txt"})) << c.What;
        EXPECT_EQ(l.Log.Warnings,
                  std::vector<std::string>{"corrupt ZIP64 end record: the entries are read from their local headers"})
            << c.What;
    }
}

TEST_F(EndRecordTest, RecordsOfOneEntryThatCannotAllBeTrueAreNamed)
{
    struct Entry {
        std::string Name, Data;
        std::uint32_t UncompressedSize; // stored: the data's size when true
        std::string CentralExtra, LocalExtra;
        bool Streamed = false;
        std::uint32_t DescriptorCrc = 0; // streamed: what the descriptor says
        std::uint32_t Offset = 0;
    };
    const std::string cut = ZipBytes().U16(0x5455).U16(9).U8(1).U32(1600000000).Str(); // 9 bytes said, 5 there
    const std::string padded = ZipBytes().U16(0x5455).U16(5).U8(1).U32(1600000000).U16(0).Str(); // 2 to align
    std::vector<Entry> entries = {
        {"stored.txt", "12345", 9},
        {"central-extra.txt", "c", 1, cut},
        {"local-extra.txt", "l", 1, "", cut},
        {"aligned.txt", "p", 1, padded, padded},
        {"streamed.txt", "sizes follow", 12, "", "", true, Crc("sizes follow") ^ 1},
        {"good-stream.txt", "right", 5, "", "", true, Crc("right")},
    };
    ZipBytes z;
    for (auto &e : entries) {
        e.Offset = static_cast<std::uint32_t>(z.Size());
        const auto known = [&](std::uint32_t v) { return e.Streamed ? 0u : v; };
        z.U32(0x04034B50);                                       // local file header signature
        z.U16(20);                                               // version needed to extract
        z.U16(e.Streamed ? 8 : 0);                               // flags: data descriptor
        z.U16(0);                                                // compression method: stored
        z.U32(DosDateTime(2020, 1, 2, 3, 4, 6));                 // last mod time and date
        z.U32(known(Crc(e.Data)));                               // crc-32
        z.U32(known(static_cast<std::uint32_t>(e.Data.size()))); // compressed size
        z.U32(known(e.UncompressedSize));                        // uncompressed size
        z.U16(static_cast<std::uint16_t>(e.Name.size()));        // file name length
        z.U16(static_cast<std::uint16_t>(e.LocalExtra.size()));  // extra field length
        z.Raw(e.Name).Raw(e.LocalExtra).Raw(e.Data);
        if (e.Streamed)
            z.U32(0x08074B50)                                   // data descriptor signature
                .U32(e.DescriptorCrc)                           // crc-32
                .U32(static_cast<std::uint32_t>(e.Data.size())) // compressed size
                .U32(e.UncompressedSize);                       // uncompressed size
    }
    const auto start = static_cast<std::uint32_t>(z.Size());
    for (const auto &e : entries) {
        z.U32(0x02014B50);                                        // central file header signature
        z.U16(0x031E).U16(20);                                    // made by Unix 3.0, version needed
        z.U16(e.Streamed ? 8 : 0);                                // flags
        z.U16(0);                                                 // compression method: stored
        z.U32(DosDateTime(2020, 1, 2, 3, 4, 6));                  // last mod time and date
        z.U32(Crc(e.Data));                                       // crc-32 of the data
        z.U32(static_cast<std::uint32_t>(e.Data.size()));         // compressed size
        z.U32(e.UncompressedSize);                                // uncompressed size
        z.U16(static_cast<std::uint16_t>(e.Name.size()));         // file name length
        z.U16(static_cast<std::uint16_t>(e.CentralExtra.size())); // extra field length
        z.U16(0).U16(0).U16(0);                                   // comment length, disk, internal attributes
        z.U32(0100644u << 16);                                    // external attributes
        z.U32(e.Offset);                                          // local header offset
        z.Raw(e.Name).Raw(e.CentralExtra);
    }
    z.Raw(
        EndRecord(static_cast<std::uint16_t>(entries.size()), static_cast<std::uint32_t>(z.Size() - start), start, 0));
    const Listing l = List(z.Str());
    EXPECT_EQ(l.Entries.size(), entries.size());
    EXPECT_EQ(l.Log.Warnings,
              (std::vector<std::string>{
                  "CRC differs between the data descriptor and the central directory: streamed.txt",
                  "stored, but its two sizes differ (extraction fails): stored.txt",
                  "extra field cut short: central-extra.txt, local-extra.txt",
              }));
}

TEST_F(EndRecordTest, AStreamedZip64ArchiveWithoutItsDirectoryListsEveryEntry)
{
    // Written to a pipe with ZIP64 forced: zero sizes in the local headers' ZIP64 fields,
    // 24-byte descriptors; then the central directory is cut off.
    const std::string archive = dir.File("streamed64.zip");
    std::string expected;
    ASSERT_EQ(RunPython("import zipfile, random\n"
                        "class Pipe:\n"
                        "    def __init__(s, f): s.f = f\n"
                        "    def write(s, b): return s.f.write(b)\n"
                        "    def flush(s): s.f.flush()\n"
                        "r = random.Random(5)\n"
                        "with open("
                            + Quote(archive)
                            + ", 'wb') as f:\n"
                              "    with zipfile.ZipFile(Pipe(f), 'w', zipfile.ZIP_DEFLATED) as z:\n"
                              "        for n, d in (('one.txt', b'one ' * 4000), ('two.bin', r.randbytes(70000)),\n"
                              "                     ('three/', b''), ('four.txt', b'4')):\n"
                              "            with z.open(n, 'w', force_zip64=True) as w: w.write(d)\n"
                              "b = open("
                            + Quote(archive)
                            + ", 'rb').read()\n"
                              "for i in zipfile.ZipFile("
                            + Quote(archive)
                            + ").infolist(): print(i.filename, i.file_size, i.compress_size, i.CRC)\n"
                              "open("
                            + Quote(archive) + ", 'wb').write(b[:b.find(b'PK\\x01\\x02') + 40])\n",
                        &expected),
              0);
    const Listing l = ListFile(archive);
    EXPECT_EQ(l.Error, "");
    std::string listed;
    for (const auto &e : l.Entries)
        listed += std::string(e.FileName()) + " " + std::to_string(e.UncompressedSize) + " "
            + std::to_string(e.CompressedSize) + " " + std::to_string(e.Crc32) + "\n";
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(l.Log.Warnings,
              std::vector<std::string>{"the archive has no central directory: it is damaged or cut short"});
}
