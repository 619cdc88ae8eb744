// The writer's records around entries of 4 GiB and more, built in memory and read back
// by the readers the libraries share and by Python's zipfile.
#include "libs/pxzip/Records.h"
#include "tests/support/TempDir.h"
#include "util/ZipRecords.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace pellux::test {
namespace {

using namespace pellux::libs;

constexpr std::uint64_t kGiB = 1ull << 30;

TEST(RecordsTest, Zip64SizesAndOffsetsReadBackWhereTheyWereWritten)
{
    // Every pair of values differs, so that any two swapped show.
    struct Case {
        const char *Name;
        std::uint64_t Uncompressed, Compressed, Offset;
    };
    const Case cases[] = {
        {"both.bin", 6 * kGiB + 1, 5 * kGiB + 3, 0},                 // both sizes in the ZIP64 field
        {"uncompressed.bin", 6 * kGiB + 7, 3 * kGiB + 11, 0},        // only the uncompressed size
        {"offset.bin", 4 * kGiB + 13, 4 * kGiB + 17, 7 * kGiB + 19}, // all three
    };
    std::string locals;
    std::string central;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        EntryRecord entry;
        entry.Name = c.Name;
        entry.Method = kMethodDeflate;
        entry.VersionNeeded = 20;
        entry.Crc32 = 0x1234abcd;
        entry.UncompressedSize = c.Uncompressed;
        entry.CompressedSize = c.Compressed;
        entry.Offset = c.Offset;
        const std::string local = LocalHeaderBytes(entry, true);
        MemoryByteSource source(local);
        const auto header = ReadLocalHeader(source, 0);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->VersionNeeded, 45);
        EXPECT_EQ(header->UncompressedSize, c.Uncompressed);
        EXPECT_EQ(header->CompressedSize, c.Compressed);
        EXPECT_EQ(header->DataStart, local.size());
        locals += local;
        central += CentralHeaderBytes(entry);
    }
    // No entry data: the readers go by the records alone.
    const std::string bytes = locals + central + EndRecordBytes(std::size(cases), locals.size(), central.size(), "");
    MemoryByteSource source(bytes);
    const auto directory = ReadCentralDirectory(source);
    ASSERT_TRUE(directory);
    EXPECT_EQ(directory->Damage, "");
    ASSERT_EQ(directory->Entries.size(), std::size(cases));
    std::string expected;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.Name);
        const CentralEntry &e = directory->Entries[i];
        EXPECT_EQ(e.Name(), c.Name);
        EXPECT_EQ(e.UncompressedSize, c.Uncompressed);
        EXPECT_EQ(e.CompressedSize, c.Compressed);
        EXPECT_EQ(e.StatedOffset, c.Offset);
        expected += std::string(c.Name) + " " + std::to_string(c.Uncompressed) + " " + std::to_string(c.Compressed)
            + " " + std::to_string(c.Offset) + "\n";
    }

    TempDir dir;
    std::string printed;
    EXPECT_EQ(RunShell("python3 -c 'import sys, zipfile\n"
                       "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                       "    print(i.filename, i.file_size, i.compress_size, i.header_offset)' "
                           + Quote(dir.Write("big.zip", bytes)),
                       &printed),
              0);
    EXPECT_EQ(printed, expected);
}

} // namespace
} // namespace pellux::test
