// The entry-list reader against archives built byte by byte.
#include "tests/support/ZipBytes.h"
#include "tests/zip/ReaderFixture.h"
#include "zip/ZipListReader.h"

#include <sys/stat.h>

using namespace pellux;
using namespace pellux::test;

namespace {

const char *kNoEntries = "No valid zip entries found";

class ReaderTest : public ::testing::Test {
protected:
    std::string Write(const ZipBytes &bytes, const std::string &name = "a.zip") { return dir.Write(name, bytes.Str()); }
    TempDir dir;
};

} // namespace

TEST_F(ReaderTest, EmptyNameOrMissingFileGivesEmptyListWithoutMessage)
{
    for (const std::string &path : {std::string(), dir.File("not-yet.zip"), dir.Path().string()}) {
        const Listing l = ListFile(path);
        EXPECT_TRUE(l.Entries.empty()) << path;
        EXPECT_EQ(l.Updates, 1) << path;
        EXPECT_TRUE(l.Log.Messages.empty()) << path;
        EXPECT_EQ(l.Error, "") << path;
    }
}

TEST_F(ReaderTest, EntryCountIsZeroWithoutArchiveName)
{
    ScopedScriptedInteraction ui;
    ZipBytes z;
    z.LocalHeader("a.txt", "abc").EndRecord();
    TZipEngine engine;
    engine.SetZipFilename(Write(z));
    EXPECT_EQ(engine.EntryCount(), 1);
    engine.SetZipFilename("");
    EXPECT_EQ(engine.EntryCount(), 0);
}

TEST_F(ReaderTest, SameNameAgainRereadsAndFiresAgain)
{
    ScopedScriptedInteraction ui;
    ZipBytes z;
    z.LocalHeader("a.txt", "abc").EndRecord();
    const std::string path = Write(z);
    TZipEngine engine;
    int updates = 0;
    engine.OnDirUpdate = [&](TZipEngine &) { ++updates; };
    engine.SetZipFilename(path);
    engine.SetZipFilename(path);
    EXPECT_EQ(updates, 2);
    EXPECT_EQ(engine.EntryCount(), 1);
}

TEST_F(ReaderTest, FileThatCannotBeOpenedReportsOpenErrorWithoutUpdate)
{
    const std::string fifo = dir.File("pipe.zip");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Listing l = ListFile(fifo);
    EXPECT_EQ(l.Error, "Cannot open file " + fifo);
    EXPECT_EQ(l.Updates, 0);
}

TEST_F(ReaderTest, NoLocalHeaderShowsMessageAndEmptyList)
{
    ZipBytes onlyEnd;
    onlyEnd.EndRecord(); // an archive with no entries
    ZipBytes partial;
    partial.Raw("PK\x03"); // the file ends inside the signature
    ZipBytes text;
    text.Raw("just some notes\n");
    for (const auto *bytes : {&onlyEnd, &partial, &text}) {
        const Listing l = ListFile(Write(*bytes));
        EXPECT_TRUE(l.Entries.empty());
        EXPECT_EQ(l.Log.Messages, std::vector<std::string>{kNoEntries});
        EXPECT_EQ(l.Updates, 1);
        EXPECT_EQ(l.Error, "");
    }
}

TEST_F(ReaderTest, FirstHeaderMustStartWithinTheCandidateLimit)
{
    ZipBytes inside;
    inside.Fill(kSignatureCandidateLimit - 1, 'x').LocalHeader("last.txt", "1").EndRecord();
    const Listing found = ListFile(Write(inside, "inside.zip"));
    EXPECT_EQ(found.Names(), std::vector<std::string>{"last.txt"});
    EXPECT_TRUE(found.Log.Messages.empty());

    ZipBytes outside;
    outside.Fill(kSignatureCandidateLimit, 'x').LocalHeader("late.txt", "1").EmptyEndRecord();
    const Listing missed = ListFile(Write(outside, "outside.zip"));
    EXPECT_TRUE(missed.Entries.empty());
    EXPECT_EQ(missed.Log.Messages, std::vector<std::string>{kNoEntries});

    // A central directory says where the entries begin, however large the stub.
    ZipBytes large;
    large.Fill(3 * kSignatureCandidateLimit, 'x').LocalHeader("late.txt", "1").EndRecord();
    const Listing listed = ListFile(Write(large, "large.zip"));
    EXPECT_EQ(listed.Names(), std::vector<std::string>{"late.txt"});
    EXPECT_TRUE(listed.Log.Messages.empty());
    EXPECT_TRUE(listed.Log.Warnings.empty());
}

TEST_F(ReaderTest, SignatureRightAfterAStrayPIsFound)
{
    ZipBytes z;
    z.Raw("P").LocalHeader("first.txt", "abc").LocalHeader("second.txt", "de").EndRecord();
    const Listing l = ListFile(Write(z));
    EXPECT_EQ(l.Names(), (std::vector<std::string>{"first.txt", "second.txt"}));

    ZipBytes twice;
    twice.Raw("PKPK").LocalHeader("first.txt", "abc").EndRecord(); // "PK" then a mismatch on "P"
    EXPECT_EQ(ListFile(Write(twice, "b.zip")).Names(), std::vector<std::string>{"first.txt"});
}

TEST_F(ReaderTest, FixedFieldsAreReadLittleEndian)
{
    ZipBytes z;
    z.U32(0x04034B50) // local file header signature
        .U16(20)      // version needed
        .U16(0x0800)  // flags: UTF-8 names
        .U16(8)       // method: deflate
        .U32(0x5B2C6000)
        .U32(0xCAFEBABE) // crc-32
        .U32(2)          // compressed size
        .U32(1000)       // uncompressed size
        .U16(5)          // name length
        .U16(4)          // extra length
        .Raw("n.txt")
        .Raw("\xFF\xFF\x00\x00") // an extra block with no data
        .Raw("zz")               // the data
        .EndRecord();
    const Listing l = ListFile(Write(z));
    ASSERT_EQ(l.Entries.size(), 1u);
    const ZipDirEntry &e = l.Entries[0];
    EXPECT_EQ(e.VersionNeeded, 20);
    EXPECT_EQ(e.GeneralPurposeFlag, 0x0800);
    EXPECT_EQ(e.CompressionMethod, 8);
    EXPECT_EQ(e.DosDateTime, 0x5B2C6000u);
    EXPECT_EQ(e.Crc32, 0xCAFEBABEu);
    EXPECT_EQ(e.CompressedSize, 2u);
    EXPECT_EQ(e.UncompressedSize, 1000u);
    EXPECT_EQ(e.FileNameLength, 5);
    EXPECT_EQ(e.ExtraFieldLength, 4);
}

TEST_F(ReaderTest, StoredNamesKeepTheirBytes)
{
    const std::string longName = std::string(300, 'n') + ".txt";
    ZipBytes z;
    z.LocalHeader(std::string("nul\0here.txt", 12), "1") // a NUL byte is kept
        .LocalHeader("docs\\win.txt", "2")               // a backslash is kept
        .LocalHeader("dir/sub/", "")                     // a directory entry
        .LocalHeader("Caf\xC3\xA9.txt", "3")             // UTF-8 bytes
        .LocalHeader(longName, "4")                      // longer than 256 bytes: read whole
        .EndRecord();
    const Listing l = ListFile(Write(z));
    EXPECT_EQ(l.Names(),
              (std::vector<std::string>{std::string("nul\0here.txt", 12), "docs\\win.txt", "dir/sub/",
                                        "Caf\xC3\xA9.txt", longName}));
    EXPECT_EQ(l.Entries[0].FileNameLength, 12);
}

TEST_F(ReaderTest, ShortFixedPartOrNameIsError2AndDropsThatEntry)
{
    ZipBytes shortFixed;
    shortFixed.LocalHeader("ok.txt", "1").U32(0x04034B50).U16(10).U16(0).U16(0).U32(0).U32(0).U32(0); // 18 of the 26
                                                                                                      // fixed bytes
    ZipBytes shortName;
    shortName.LocalHeader("ok.txt", "1")
        .U32(0x04034B50)
        .U16(10)
        .U16(0)
        .U16(0)
        .U32(0)
        .U32(0)
        .U32(0)
        .U32(0)
        .U16(40)
        .U16(0)             // name length 40
        .Raw("only-ten.x"); // but only 10 bytes follow
    for (const auto *bytes : {&shortFixed, &shortName}) {
        const Listing l = ListFile(Write(*bytes));
        EXPECT_EQ(l.Error, "Error 2 reading Zip file");
        EXPECT_EQ(l.Names(), std::vector<std::string>{"ok.txt"});
        EXPECT_EQ(l.Updates, 1);
    }
}

TEST_F(ReaderTest, DataReachingIntoTheLast22BytesIsError3AndKeepsTheEntry)
{
    ZipBytes z;
    z.LocalHeader("ok.txt", "1")
        .U32(0x04034B50)
        .U16(10)
        .U16(0)
        .U16(0)
        .U32(0)
        .U32(0)
        .U32(5000)
        .U32(5000) // sizes larger than what follows
        .U16(9)
        .U16(0)
        .Raw("truncated")
        .Fill(100, 'd');
    const Listing l = ListFile(Write(z));
    EXPECT_EQ(l.Error, "Error 3 reading Zip file");
    EXPECT_EQ(l.Names(), (std::vector<std::string>{"ok.txt", "truncated"}));
    EXPECT_EQ(l.Updates, 1);

    // Exactly 22 bytes after the data are enough.
    ZipBytes fits;
    fits.LocalHeader("a", "x").EndRecord();
    EXPECT_EQ(ListFile(Write(fits, "fits.zip")).Error, "");
}

TEST_F(ReaderTest, SizeWithTheTopBitSetIsNotASeekBackwards)
{
    // Read as a signed number this size would step back to the header and walk it
    // again forever; it is a size of almost 4 GiB that the file does not hold.
    ZipBytes z;
    z.U32(0x04034B50)
        .U16(10)
        .U16(0)
        .U16(0)
        .U32(0x5B2C6000)
        .U32(0)
        .U32(0xFFFFFFC0)
        .U32(0xFFFFFFC0) // compressed and uncompressed size
        .U16(4)
        .U16(0)
        .Raw("loop")
        .EndRecord()
        .EndRecord();
    const Listing l = ListFile(Write(z));
    EXPECT_EQ(l.Error, "Error 3 reading Zip file");
    EXPECT_EQ(l.Names(), std::vector<std::string>{"loop"});
}

TEST_F(ReaderTest, FileShrinkingUnderTheReaderGivesErrors4And5)
{
    // The stream claims more bytes than it has, as a file truncated after it was opened.
    ZipBytes extra;
    extra.U32(0x04034B50)
        .U16(10)
        .U16(0)
        .U16(0)
        .U32(0)
        .U32(0)
        .U32(0)
        .U32(0)
        .U16(1)
        .U16(200) // 200 bytes of extra field, none present
        .Raw("e");
    ZipBytes data;
    data.U32(0x04034B50)
        .U16(10)
        .U16(0)
        .U16(0)
        .U32(0)
        .U32(0)
        .U32(300)
        .U32(300)
        .U16(1)
        .U16(0) // 300 bytes of data, none present
        .Raw("d");
    for (const auto &[bytes, text] :
         {std::pair{&extra, "Error 4 reading Zip file"}, std::pair{&data, "Error 5 reading Zip file"}}) {
        std::vector<unsigned char> raw(bytes->Str().begin(), bytes->Str().end());
        MemoryStream stream(raw, 4096);
        ZipEntryList entries;
        try {
            ReadEntryList(stream, entries);
            ADD_FAILURE() << "no error for " << text;
        } catch (const EStreamError &e) {
            EXPECT_STREQ(e.what(), text);
        }
        EXPECT_EQ(entries.size(), 1u);
    }
}

TEST_F(ReaderTest, MissingSignatureAfterDataIsReadError)
{
    ZipBytes z;
    z.LocalHeader("a.txt", "abc").Fill(26, 'x'); // no header follows, only filler to the end
    const Listing l = ListFile(Write(z));
    EXPECT_EQ(l.Error, "Error reading Zip File");
    EXPECT_EQ(l.Names(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(l.Updates, 1);
}

TEST_F(ReaderTest, UnknownWordsBetweenEntriesAreSteppedOver)
{
    ZipBytes z;
    z.LocalHeader("a.txt", "abc").Raw("junkjunk").LocalHeader("b.txt", "d").EndRecord();
    EXPECT_EQ(ListFile(Write(z)).Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(ReaderTest, DescriptorEntryWithoutCentralDirectoryIsFoundByItsDescriptor)
{
    const std::string data = "streamed data, size unknown when the header was written";
    ZipBytes z;
    z.U32(0x04034B50)
        .U16(20)
        .U16(0x0008) // flags: sizes and CRC in a data descriptor
        .U16(0)      // stored
        .U32(0x5B2C6000)
        .U32(0)
        .U32(0)
        .U32(0) // crc and sizes left zero
        .U16(6)
        .U16(0)
        .Raw("s1.txt")
        .Raw(data)
        .U32(0x08074B50)                              // data descriptor signature
        .U32(0x11223344)                              // crc-32
        .U32(static_cast<std::uint32_t>(data.size())) // compressed size
        .U32(static_cast<std::uint32_t>(data.size())) // uncompressed size
        .LocalHeader("after.txt", "x")
        .EmptyEndRecord(); // the central directory knows neither entry
    const Listing l = ListFile(Write(z));
    EXPECT_EQ(l.Error, "");
    ASSERT_EQ(l.Names(), (std::vector<std::string>{"s1.txt", "after.txt"}));
    EXPECT_EQ(l.Entries[0].CompressedSize, data.size());
    EXPECT_EQ(l.Entries[0].UncompressedSize, data.size());
    EXPECT_EQ(l.Entries[0].Crc32, 0x11223344u);
}
