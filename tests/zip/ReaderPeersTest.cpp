// The entry-list reader against archives written by real tools, checked against
// Python's zipfile reading the central directory.
#include "tests/zip/ReaderFixture.h"

#include <algorithm>
#include <sstream>

using namespace pellux;
using namespace pellux::test;

namespace {

// What Python's zipfile reads from the central directory: name, sizes, CRC, DOS time.
std::vector<std::string> PythonManifest(const std::string &archive)
{
    std::string out;
    const int rc = RunPython("import zipfile\n"
                             "for i in zipfile.ZipFile("
                                 + Quote(archive)
                                 + ").infolist():\n"
                                   "    y,mo,d,h,mi,s = i.date_time\n"
                                   "    dos = ((y-1980)<<25)|(mo<<21)|(d<<16)|(h<<11)|(mi<<5)|(s//2)\n"
                                   "    print(i.orig_filename.encode('utf-8','surrogateescape').hex(), i.file_size, "
                                   "i.compress_size, i.CRC, dos)\n",
                             &out);
    EXPECT_EQ(rc, 0);
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Hex(const std::string &bytes)
{
    static const char *digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::vector<std::string> OurManifest(const Listing &l)
{
    std::vector<std::string> lines;
    for (const auto &e : l.Entries)
        lines.push_back(Hex(e.FileName()) + " " + std::to_string(e.UncompressedSize) + " "
                        + std::to_string(e.CompressedSize) + " " + std::to_string(e.Crc32) + " "
                        + std::to_string(e.DosDateTime));
    return lines;
}

class ReaderPeersTest : public ::testing::Test {
protected:
    void ExpectSameAsPython(const std::string &archive, std::size_t expectedEntries)
    {
        const Listing l = ListFile(archive);
        EXPECT_EQ(l.Error, "");
        EXPECT_TRUE(l.Log.Messages.empty());
        EXPECT_TRUE(l.Log.Warnings.empty()) << ::testing::PrintToString(l.Log.Warnings);
        EXPECT_EQ(l.Entries.size(), expectedEntries);
        EXPECT_EQ(OurManifest(l), PythonManifest(archive));
    }
    TempDir dir;
};

} // namespace

TEST_F(ReaderPeersTest, ArchiveWrittenByPython)
{
    const std::string archive = dir.File("py.zip");
    ASSERT_EQ(RunPython("import zipfile\n"
                        "with zipfile.ZipFile("
                        + Quote(archive)
                        + ", 'w') as z:\n"
                          "    z.writestr(zipfile.ZipInfo('docs/', (2001,2,3,4,5,6)), '')\n"
                          "    z.writestr(zipfile.ZipInfo('docs/a.txt', (1999,12,31,23,59,58)), 'hello '*500, "
                          "zipfile.ZIP_DEFLATED)\n"
                          "    z.writestr('stored.bin', bytes(range(256))*7, zipfile.ZIP_STORED)\n"
                          "    z.writestr('caf\\u00e9.txt', 'x', zipfile.ZIP_DEFLATED)\n"
                          "    z.writestr('empty', '')\n"
                          "    z.comment = b'an archive comment'\n"),
              0);
    ExpectSameAsPython(archive, 5);
}

TEST_F(ReaderPeersTest, ArchiveWrittenByInfoZipWithExtraFields)
{
    dir.Write("tree/a.txt", std::string(10000, 'a'));
    dir.Write("tree/sub/b.c", "int main() { return 0; }\n");
    dir.Write("tree/sub/deeper/c.bin", std::string("\x00\x01\x02", 3));
    const std::string archive = dir.File("iz.zip");
    ASSERT_EQ(RunShell("cd " + Quote(dir.Path().string()) + " && zip -q -r -9 iz.zip tree"), 0);
    ExpectSameAsPython(archive, 6); // three files and three directories
}

TEST_F(ReaderPeersTest, ArchiveWrittenBy7Zip)
{
    // Its extra fields (NTFS times) and an archive comment: nothing to warn of.
    dir.Write("7z/a.txt", std::string(20000, 'a'));
    dir.Write("7z/sub/b.bin", std::string("\x00\xFF\x10", 3));
    ASSERT_EQ(RunShell("cd " + Quote(dir.File("7z")) + " && 7z a -tzip -bso0 -bsp0 ../7z.zip a.txt sub"), 0);
    ExpectSameAsPython(dir.File("7z.zip"), 3); // two files and a directory
}

TEST_F(ReaderPeersTest, StreamedArchivesWithDataDescriptorsListWithTrueSizes)
{
    // Written to a pipe, neither tool can go back to fill in the local headers: every
    // entry carries zero sizes and a data descriptor.
    const std::string python = dir.File("streamed-py.zip");
    ASSERT_EQ(RunPython("import zipfile, sys\n"
                        "class Pipe:\n"
                        "    def __init__(s, f): s.f = f\n"
                        "    def write(s, b): return s.f.write(b)\n"
                        "    def flush(s): s.f.flush()\n"
                        "with open("
                        + Quote(python)
                        + ", 'wb') as f:\n"
                          "    with zipfile.ZipFile(Pipe(f), 'w', zipfile.ZIP_DEFLATED) as z:\n"
                          "        z.writestr('one.txt', 'one '*1000)\n"
                          "        z.writestr('two/', '')\n"
                          "        z.writestr('three.bin', bytes(range(256))*50, zipfile.ZIP_STORED)\n"),
              0);
    const Listing l = ListFile(python);
    ASSERT_EQ(l.Entries.size(), 3u);
    EXPECT_NE(l.Entries[0].GeneralPurposeFlag & 8, 0) << "the archive should use data descriptors";
    ExpectSameAsPython(python, 3);

    dir.Write("in/x.txt", std::string(5000, 'x'));
    dir.Write("in/y.txt", "why");
    ASSERT_EQ(
        RunShell("cd " + Quote(dir.Path().string() + "/in") + " && zip -q - x.txt y.txt | cat > ../streamed-iz.zip"),
        0);
    ExpectSameAsPython(dir.File("streamed-iz.zip"), 2);
}

TEST_F(ReaderPeersTest, Zip64EntriesAreWalked)
{
    const std::string archive = dir.File("z64.zip");
    ASSERT_EQ(RunPython("import zipfile\n"
                        "with zipfile.ZipFile("
                        + Quote(archive)
                        + ", 'w', zipfile.ZIP_DEFLATED) as z:\n"
                          "    for n in ('a.txt', 'b.txt'):\n"
                          "        with z.open(n, 'w', force_zip64=True) as f:\n"
                          "            f.write(n.encode() * 3000)\n"),
              0);
    const Listing l = ListFile(archive);
    EXPECT_EQ(l.Error, "");
    EXPECT_EQ(l.Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(ReaderPeersTest, SelfExtractingArchiveWithProgramInFront)
{
    const std::string archive = dir.File("setup.exe");
    ASSERT_EQ(RunPython("import zipfile\n"
                        "with open("
                        + Quote(archive)
                        + ", 'wb') as f:\n"
                          "    f.write(b'\\x7fELF' + bytes(range(256)) * 80)\n"
                          "with zipfile.ZipFile("
                        + Quote(archive)
                        + ", 'a') as z:\n"
                          "    z.writestr('readme.txt', 'read me')\n"
                          "    z.writestr('bin/tool', 'tool' * 100, zipfile.ZIP_DEFLATED)\n"),
              0);
    const Listing l = ListFile(archive);
    EXPECT_EQ(l.Error, "");
    EXPECT_EQ(l.Names(), (std::vector<std::string>{"readme.txt", "bin/tool"}));
}

TEST_F(ReaderPeersTest, LargeDirectoryOutOfFileOrderIsReadWhole)
{
    // A directory of some megabytes is read in pieces; written backwards, it no longer
    // lies in the order of the local headers the walk follows.
    const std::string archive = dir.File("big.zip");
    ASSERT_EQ(RunPython("import zipfile\n"
                        "with zipfile.ZipFile("
                        + Quote(archive)
                        + ", 'w') as z:\n"
                          "    for i in range(30000):\n"
                          "        z.writestr('folder%03d/a-rather-long-file-name-%05d.txt' % (i % 97, i), str(i))\n"
                          "    z.filelist.reverse()\n"),
              0);
    const Listing l = ListFile(archive);
    EXPECT_EQ(l.Error, "");
    EXPECT_TRUE(l.Log.Messages.empty());
    ASSERT_EQ(l.Entries.size(), 30000u);
    std::vector<std::string> python = PythonManifest(archive);
    std::reverse(python.begin(), python.end());
    EXPECT_EQ(OurManifest(l), python);
}
