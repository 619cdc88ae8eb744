// Archives whose records were tampered with or damaged, built field by field: what is
// refused is refused before anything is written, each refusal names its entry, and what
// can be recovered is.
#include "tests/libs/ExtractFixture.h"
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"
#include "tests/support/ZipBytes.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>

#include <ctime>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;

std::uint32_t Crc(const std::string &data)
{
    return static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef *>(data.data()), data.size()));
}

// What a central directory header says of an entry; a local header says the same
// unless a test makes it lie.
struct Record {
    std::string Name;
    std::string Data; // as stored in the archive
    std::uint16_t Method = 0;
    std::uint32_t Crc32 = 0;
    std::uint32_t UncompressedSize = 0;
    std::uint32_t DosDateTime = test::DosDateTime(2020, 5, 17, 12, 30, 0);
    std::uint16_t Flags = 0;
    std::string Extra;
    std::uint32_t Offset = 0; // of the local header, set when it is written
};

Record Stored(const std::string &name, const std::string &data)
{
    Record r;
    r.Name = name;
    r.Data = data;
    r.Crc32 = Crc(data);
    r.UncompressedSize = static_cast<std::uint32_t>(data.size());
    return r;
}

void Local(ZipBytes &z, Record &r, bool sizes = true)
{
    r.Offset = static_cast<std::uint32_t>(z.Size());
    z.U32(0x04034B50);                                            // local file header signature
    z.U16(20);                                                    // version needed to extract
    z.U16(r.Flags);                                               // general purpose bit flag
    z.U16(r.Method);                                              // compression method
    z.U32(r.DosDateTime);                                         // last mod file time and date
    z.U32(sizes ? r.Crc32 : 0);                                   // crc-32
    z.U32(sizes ? static_cast<std::uint32_t>(r.Data.size()) : 0); // compressed size
    z.U32(sizes ? r.UncompressedSize : 0);                        // uncompressed size
    z.U16(static_cast<std::uint16_t>(r.Name.size()));             // file name length
    z.U16(static_cast<std::uint16_t>(r.Extra.size()));            // extra field length
    z.Raw(r.Name).Raw(r.Extra).Raw(r.Data);
}

void Central(ZipBytes &z, const Record &r, std::uint32_t unixMode = 0100644)
{
    z.U32(0x02014B50);                                 // central file header signature
    z.U16(0x031E);                                     // version made by: Unix, 3.0
    z.U16(20);                                         // version needed to extract
    z.U16(r.Flags);                                    // general purpose bit flag
    z.U16(r.Method);                                   // compression method
    z.U32(r.DosDateTime);                              // last mod file time and date
    z.U32(r.Crc32);                                    // crc-32
    z.U32(static_cast<std::uint32_t>(r.Data.size()));  // compressed size
    z.U32(r.UncompressedSize);                         // uncompressed size
    z.U16(static_cast<std::uint16_t>(r.Name.size()));  // file name length
    z.U16(static_cast<std::uint16_t>(r.Extra.size())); // extra field length
    z.U16(0);                                          // file comment length
    z.U16(0);                                          // disk number start
    z.U16(0);                                          // internal file attributes
    z.U32(unixMode << 16);                             // external file attributes
    z.U32(r.Offset);                                   // relative offset of local header
    z.Raw(r.Name).Raw(r.Extra);
}

void End(ZipBytes &z, std::size_t count, std::size_t directoryStart)
{
    const auto size = static_cast<std::uint32_t>(z.Size() - directoryStart);
    z.U32(0x06054B50);                                 // end of central dir signature
    z.U16(0);                                          // number of this disk
    z.U16(0);                                          // disk where central directory starts
    z.U16(static_cast<std::uint16_t>(count));          // entries on this disk
    z.U16(static_cast<std::uint16_t>(count));          // total entries
    z.U32(size);                                       // size of the central directory
    z.U32(static_cast<std::uint32_t>(directoryStart)); // offset of the central directory
    z.U16(0);                                          // comment length
}

// Local headers, then central headers of the same records, then the end record.
std::string Archive(std::vector<Record> records)
{
    ZipBytes z;
    for (auto &r : records)
        Local(z, r);
    const std::size_t start = z.Size();
    for (const auto &r : records)
        Central(z, r);
    End(z, records.size(), start);
    return z.Str();
}

class TamperedArchiveTest : public ExtractFixture {
protected:
    std::size_t Written() const
    {
        return static_cast<std::size_t>(
            std::distance(fs::recursive_directory_iterator(target.Path()), fs::recursive_directory_iterator()));
    }
};

TEST_F(TamperedArchiveTest, OverlappingEntriesRefuseTheWholeArchive)
{
    // A zip bomb's shape: each entry's data quotes the local header and data of the
    // next, so the same bytes are written many times over.
    {
        Record inner = Stored("b.txt", "bbbb");
        ZipBytes quoted;
        Local(quoted, inner);
        inner.Offset = 4 + 30 + 5; // behind a.txt's header and its first four bytes
        Record outer = Stored("a.txt", "aaaa" + quoted.Str());
        ZipBytes z;
        Local(z, outer);
        const std::size_t start = z.Size();
        Central(z, outer);
        Central(z, inner);
        End(z, 2, start);
        const auto run = Extract(z.Str());
        EXPECT_EQ(run.Result, 0);
        ASSERT_EQ(run.Messages().size(), 1u);
        EXPECT_EQ(run.Messages()[0], archive + ": overlapping entries (possible zip bomb): a.txt, b.txt");
        EXPECT_EQ(Written(), 0u);
    }
    // A thousand central headers, one local header.
    {
        Record r = Stored("same.txt", "x");
        ZipBytes z;
        Local(z, r);
        const std::size_t start = z.Size();
        for (int i = 0; i < 1000; ++i)
            Central(z, r);
        End(z, 1000, start);
        const auto run = Extract(z.Str());
        EXPECT_EQ(run.Result, 0);
        ASSERT_EQ(run.Messages().size(), 1u);
        EXPECT_NE(run.Messages()[0].find("overlapping entries (possible zip bomb): same.txt, same.txt"),
                  std::string::npos);
        EXPECT_NE(run.Messages()[0].find("and 995 more"), std::string::npos);
        EXPECT_EQ(Written(), 0u);
    }
}

TEST_F(TamperedArchiveTest, AnEntryHiddenInAnothersDataIsNeverWritten)
{
    // carrier.zip stores a whole local record of hidden.txt as its data; the central
    // directory lists both, so hidden.txt's bytes would be written twice.
    Record hidden = Stored("hidden.txt", "payload");
    ZipBytes inner;
    Local(inner, hidden);
    Record carrier = Stored("carrier.zip", inner.Str());
    ZipBytes z;
    Local(z, carrier);
    hidden.Offset = carrier.Offset + 30 + static_cast<std::uint32_t>(carrier.Name.size());
    const std::size_t start = z.Size();
    Central(z, carrier);
    Central(z, hidden);
    End(z, 2, start);
    const auto run = Extract(z.Str());
    EXPECT_EQ(run.Result, 0);
    ASSERT_EQ(run.Messages().size(), 1u);
    EXPECT_NE(run.Messages()[0].find("overlapping entries (possible zip bomb): carrier.zip, hidden.txt"),
              std::string::npos);
    EXPECT_EQ(Written(), 0u);
}

TEST_F(TamperedArchiveTest, LocalHeadersThatContradictTheDirectoryAreRefusedOneByOne)
{
    std::vector<Record> records = {Stored("named.txt", "n"), Stored("sized.txt", "s"), Stored("method.txt", "m"),
                                   Stored("good.txt", "g")};
    ZipBytes z;
    for (auto &r : records) {
        Record local = r;
        if (r.Name == "named.txt")
            local.Name = "other.txt"; // the listing would show this name
        if (r.Name == "sized.txt")
            local.UncompressedSize = 1000; // and this size
        if (r.Name == "method.txt")
            local.Method = 8; // and this method
        Local(z, local);
        r.Offset = local.Offset;
    }
    const std::size_t start = z.Size();
    for (const auto &r : records)
        Central(z, r);
    End(z, records.size(), start);
    const auto run = Extract(z.Str());
    EXPECT_EQ(run.Result, 1);
    EXPECT_EQ(run.Messages(),
              (std::vector<std::string>{
                  "skipping named.txt: the local header names it other.txt",
                  "skipping sized.txt: sizes differ between the local header and the central directory",
                  "skipping method.txt: compression method 8 in the local header, 0 in the central "
                  "directory",
              }));
    EXPECT_EQ(ReadFile(target.File("good.txt")), "g");
    EXPECT_EQ(Written(), 1u);
}

TEST_F(TamperedArchiveTest, ADamagedArchiveIsRecoveredFromItsLocalHeaders)
{
    std::vector<Record> records = {Stored("one.txt", "first"), Stored("streamed.txt", "sizes follow the data"),
                                   Stored("bad.txt", "corrupted"), Stored("two.txt", "second")};
    records[2].Crc32 ^= 1;
    records[1].Flags = 1u << 3; // the local header's CRC and sizes are zero, a descriptor follows
    ZipBytes z;
    for (auto &r : records) {
        Local(z, r, r.Flags == 0);
        if (r.Flags) {
            z.U32(0x08074B50);                                // data descriptor signature
            z.U32(r.Crc32);                                   // crc-32
            z.U32(static_cast<std::uint32_t>(r.Data.size())); // compressed size
            z.U32(r.UncompressedSize);                        // uncompressed size
        }
    }
    const std::size_t start = z.Size();
    for (const auto &r : records)
        Central(z, r);
    End(z, records.size(), start);
    ASSERT_EQ(RunIn(dir.Path(), "unzip -tqq " + Quote(dir.Write("whole.zip", z.Str())) + " -x bad.txt"), 0);

    // Cut inside the central directory: no end record is left.
    const auto cut = Extract(z.Str().substr(0, start + 60));
    EXPECT_EQ(cut.Result, 3);
    EXPECT_EQ(cut.Messages(),
              (std::vector<std::string>{
                  archive
                      + ": the archive is damaged (no central directory): extracting the entries its local "
                        "headers hold",
                  "cannot extract bad.txt: CRC mismatch",
              }));
    EXPECT_EQ(ReadFile(target.File("one.txt")), "first");
    EXPECT_EQ(ReadFile(target.File("streamed.txt")), "sizes follow the data");
    EXPECT_EQ(ReadFile(target.File("two.txt")), "second");
    EXPECT_EQ(Written(), 3u);

    // Cut inside the last entry's data: the entries before it are still whole.
    for (const auto &written : fs::directory_iterator(target.Path()))
        fs::remove_all(written);
    const auto data = Extract(z.Str().substr(0, start - 2));
    EXPECT_EQ(data.Result, 2);
    ASSERT_EQ(data.Messages().size(), 3u);
    EXPECT_EQ(data.Messages()[2], "skipping two.txt: its data is cut short");
    EXPECT_TRUE(fs::exists(target.File("one.txt")));
}

TEST_F(TamperedArchiveTest, NamesWithANulByteAreRefused)
{
    const auto run = Extract(Archive({Stored(std::string("a.txt\0.exe", 10), "x"), Stored("ok.txt", "ok")}));
    EXPECT_EQ(run.Result, 1);
    EXPECT_EQ(run.Messages(), std::vector<std::string>{"skipping a.txt\\x00.exe: its name holds a NUL byte"});
    EXPECT_EQ(Written(), 1u);
}

TEST_F(TamperedArchiveTest, InvalidDosDatesAreClampedAndTheExtendedTimestampWins)
{
    Record zero = Stored("zero.txt", "z");
    zero.DosDateTime = 0; // 1980, month 0, day 0
    Record month = Stored("month.txt", "m");
    month.DosDateTime = DosDateTime(2019, 13, 5, 10, 0, 0);
    Record day = Stored("day.txt", "d");
    day.DosDateTime = DosDateTime(2021, 2, 30, 25, 61, 0); // hour 25 and minute 61 too
    Record stamped = Stored("stamped.txt", "s");
    stamped.DosDateTime = 0;
    stamped.Extra = ZipBytes()
                        .U16(0x5455)     // extended timestamp
                        .U16(5)          // its length
                        .U8(1)           // flags: modification time present
                        .U32(1600000000) // 2020-09-13 12:26:40 UTC
                        .Str();
    const auto run = Extract(Archive({zero, month, day, stamped}));
    EXPECT_EQ(run.Result, 4);
    EXPECT_FALSE(run.HasError());
    auto local = [&](const std::string &name) {
        struct stat st {};
        ::stat(target.File(name).c_str(), &st);
        std::tm tm{};
        ::localtime_r(&st.st_mtime, &tm);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        return std::string(text);
    };
    EXPECT_EQ(local("zero.txt"), "1980-01-01 00:00:00");
    EXPECT_EQ(local("month.txt"), "2019-12-05 10:00:00");
    EXPECT_EQ(local("day.txt"), "2021-02-28 23:59:00");
    struct stat st {};
    ::stat(target.File("stamped.txt").c_str(), &st);
    EXPECT_EQ(st.st_mtime, 1600000000);
}

TEST_F(TamperedArchiveTest, DataLongerOrShorterThanDeclaredLeavesNoFile)
{
    // Inflated whole, and (large.txt) found again by the streaming way that writes on a
    // second thread.
    PythonZip(archive,
              "add('long.txt', b'x' * 100000)\nadd('short.txt', b'y' * 1000)\nadd('fine.txt', b'f')\n"
              "add('large.txt', b'z' * 3000000)");
    std::string bytes = ReadFile(archive);
    // Uncompressed sizes: local header offset 22, central header offset 24.
    auto declare = [&](const std::string &name, std::uint32_t size) {
        for (std::size_t at = 0; (at = bytes.find(name, at)) != std::string::npos; at += name.size()) {
            const bool central = at >= 46 && bytes.compare(at - 46, 4, "PK\x01\x02") == 0;
            const std::size_t field = central ? at - 46 + 24 : at - 30 + 22;
            for (int i = 0; i < 4; ++i)
                bytes[field + i] = static_cast<char>(size >> (8 * i));
        }
    };
    declare("long.txt", 10);
    declare("short.txt", 5000);
    declare("large.txt", 2000000);
    const auto run = Extract(bytes);
    EXPECT_EQ(run.Result, 1);
    EXPECT_EQ(run.Messages(),
              (std::vector<std::string>{
                  "cannot extract long.txt: its data is longer than its declared size",
                  "cannot extract short.txt: its data is shorter than its declared size",
                  "cannot extract large.txt: its data is longer than its declared size",
              }));
    EXPECT_EQ(Written(), 1u); // no partial file, no temporary one
}

TEST_F(TamperedArchiveTest, SymlinksResolvedFromTheirDirectoryMayStayInside)
{
    // Links come before the directories they pass through; they are made at the end.
    PythonZip(archive,
              "add('top/inside', b'../top/./a/b/c/../../../g', mode=0o120777)\n"
              "add('top/deep', b'a/b/../b/c', mode=0o120777)\n"
              "add('top/above', b'../../g', mode=0o120777)\n"
              "add('dotdot', b'..', mode=0o120777)\n"
              "add('top/self', b'.', mode=0o120777)\n"
              "add('top/through', b'self/a/../../g', mode=0o120777)\n"
              "add('top/a/b/c/file', b'c')\nadd('top/g', b'g')");
    const auto run = Extract(ReadFile(archive));
    EXPECT_EQ(ReadFile(target.File("top/inside")), "g");
    EXPECT_EQ(ReadFile(target.File("top/deep/file")), "c");
    EXPECT_TRUE(fs::is_symlink(target.File("top/self")));
    for (const char *refused : {"top/above", "dotdot", "top/through"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(target.File(refused)))) << refused;
    EXPECT_EQ(run.Messages(),
              (std::vector<std::string>{
                  "skipping top/above: symbolic link points outside (../../g)",
                  "skipping dotdot: symbolic link points outside (..)",
                  "skipping top/through: its target (self/a/../../g) passes through top/self/a, "
                  "which is not a directory",
              }));
    EXPECT_EQ(run.Result, 5);
}

} // namespace
} // namespace pellux::test
