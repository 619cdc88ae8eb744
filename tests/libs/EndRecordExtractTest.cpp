// What extraction does with the archives whose end records or entry records the listing
// warns of: it writes what the warning says, and the warning comes first.
#include "tests/libs/ExtractFixture.h"
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"
#include "tests/support/ZipBytes.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <functional>

namespace pellux::test {
namespace {

std::uint32_t Crc(const std::string &data)
{
    return static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef *>(data.data()), data.size()));
}

// Stored entries (the uncompressed size as given, else the data's) and their central
// directory; the end record is the caller's, with `end` after the directory.
std::string Archive(const std::vector<std::pair<std::string, std::string>> &entries, std::uint32_t uncompressed,
                    const std::function<void(ZipBytes &, std::uint32_t start, std::uint32_t size)> &end)
{
    ZipBytes z;
    std::vector<std::uint32_t> offsets;
    auto sizes = [&](const std::string &data) {
        z.U32(static_cast<std::uint32_t>(data.size()));                               // compressed size
        z.U32(uncompressed ? uncompressed : static_cast<std::uint32_t>(data.size())); // uncompressed size
    };
    for (const auto &[name, data] : entries) {
        offsets.push_back(static_cast<std::uint32_t>(z.Size()));
        z.U32(0x04034B50).U16(20).U16(0).U16(0);                // signature, version needed, flags, stored
        z.U32(DosDateTime(2021, 3, 4, 5, 6, 8)).U32(Crc(data)); // time and date, crc-32
        sizes(data);
        z.U16(static_cast<std::uint16_t>(name.size())).U16(0).Raw(name).Raw(data); // name, no extra field
    }
    const auto start = static_cast<std::uint32_t>(z.Size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto &[name, data] = entries[i];
        z.U32(0x02014B50).U16(0x031E).U16(20).U16(0).U16(0);    // signature, made by Unix, needed, flags, stored
        z.U32(DosDateTime(2021, 3, 4, 5, 6, 8)).U32(Crc(data)); // time and date, crc-32
        sizes(data);
        z.U16(static_cast<std::uint16_t>(name.size())).U16(0).U16(0);  // name, extra and comment lengths
        z.U16(0).U16(0).U32(0100644u << 16).U32(offsets[i]).Raw(name); // disk, attributes, local header offset
    }
    end(z, start, static_cast<std::uint32_t>(z.Size() - start));
    return z.Str();
}

void EndRecord(ZipBytes &z, std::uint16_t count, std::uint32_t size, std::uint32_t start, std::uint16_t comment)
{
    z.U32(0x06054B50).U16(0).U16(0); // signature, this disk, the directory's disk
    z.U16(count).U16(count);         // entries on this disk, total
    z.U32(size).U32(start);          // directory size and offset
    z.U16(comment);                  // comment length
}

using EndRecordExtractTest = ExtractFixture;

const std::vector<std::pair<std::string, std::string>> kTwo = {{"a.txt", "alpha"}, {"b.txt", "beta"}};

TEST_F(EndRecordExtractTest, TheEntriesBehindAnEmptyArchivesEndRecordInTheCommentAreExtracted)
{
    const auto run = Extract(Archive(kTwo, 0, [](ZipBytes &z, std::uint32_t start, std::uint32_t size) {
        EndRecord(z, 2, size, start, 22 + 4); // the comment: an empty archive's end record and "more"
        EndRecord(z, 0, 0, 0, 0);
        z.Raw("more");
    }));
    EXPECT_EQ(run.Messages(),
              std::vector<std::string>{archive
                                       + ": the archive comment holds another end record, of an "
                                         "empty archive; the entries of the earlier one are read"});
    EXPECT_EQ(ReadFile(target.File("a.txt")), "alpha");
    EXPECT_EQ(ReadFile(target.File("b.txt")), "beta");
}

TEST_F(EndRecordExtractTest, ACorruptZip64EndRecordLeavesTheLocalHeaders)
{
    const auto run = Extract(Archive(kTwo, 0, [](ZipBytes &z, std::uint32_t start, std::uint32_t size) {
        const std::uint64_t at = z.Size();
        z.U32(0x06064B50).U64(44).U16(45).U16(45);   // zip64 end record: signature, its size, versions
        z.U32(0).U32(0).U64(2).U64(2);               // disks, entries on this disk and in all
        z.U64(std::uint64_t(size) << 32).U64(start); // directory size (past the file's start) and offset
        z.U32(0x07064B50).U32(0).U64(at).U32(1);     // locator: signature, disk, record offset, disks
        EndRecord(z, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0);
    }));
    EXPECT_EQ(run.Messages(),
              std::vector<std::string>{archive
                                       + ": the archive is damaged (corrupt ZIP64 end record): extracting the entries "
                                         "its local headers hold"});
    EXPECT_EQ(ReadFile(target.File("a.txt")), "alpha");
    EXPECT_EQ(ReadFile(target.File("b.txt")), "beta");
}

TEST_F(EndRecordExtractTest, AStoredEntryWithTwoSizesIsNotWritten)
{
    for (const std::uint32_t declared : {3u, 9u}) { // shorter and longer than its 5 bytes
        const auto run =
            Extract(Archive({{"s.txt", "12345"}}, declared, [](ZipBytes &z, std::uint32_t start, std::uint32_t size) {
                EndRecord(z, 1, size, start, 0);
            }));
        ASSERT_EQ(run.Messages().size(), 2u) << declared;
        EXPECT_EQ(run.Messages()[0], archive + ": stored, but its two sizes differ (extraction fails): s.txt");
        EXPECT_EQ(run.Messages()[1].rfind("cannot extract s.txt: its data is ", 0), 0u) << run.Messages()[1];
        EXPECT_FALSE(std::filesystem::exists(target.File("s.txt"))) << declared;
    }
}

TEST_F(EndRecordExtractTest, AStreamedZip64ArchiveWithoutItsDirectoryIsRecoveredWhole)
{
    const std::string whole = dir.File("whole.zip");
    ASSERT_EQ(RunIn(dir.Path(),
                    "python3 -c 'import zipfile, random, sys\n"
                    "class Pipe:\n"
                    "    def __init__(s, f): s.f = f\n"
                    "    def write(s, b): return s.f.write(b)\n"
                    "    def flush(s): s.f.flush()\n"
                    "r = random.Random(7)\n"
                    "with open(sys.argv[1], \"wb\") as f:\n"
                    "    with zipfile.ZipFile(Pipe(f), \"w\", zipfile.ZIP_DEFLATED) as z:\n"
                    "        for n, d in ((\"one.txt\", b\"one \" * 4000), (\"sub/two.bin\", "
                    "r.randbytes(70000)), (\"empty\", b\"\"), (\"four.txt\", b\"4\")):\n"
                    "            with z.open(n, \"w\", force_zip64=True) as w: w.write(d)\n' "
                        + Quote(whole)),
              0);
    const std::string bytes = ReadFile(whole);
    const auto run = Extract(bytes.substr(0, bytes.find("PK\x01\x02") + 40));
    EXPECT_EQ(run.Messages(),
              std::vector<std::string>{archive
                                       + ": the archive is damaged (no central directory): "
                                         "extracting the entries its local headers hold"});
    EXPECT_EQ(TreeListing(target.Path()), PythonListing(whole));
}

} // namespace
} // namespace pellux::test
