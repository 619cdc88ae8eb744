// libpxzip.so deleting entries by their exact stored names.
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace pellux::test {
namespace {

class DeleteTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir.File("d.zip");
    void SetUp() override
    {
        PythonZip(archive,
                  "add('a.txt', b'lower')\n"
                  "add('A.txt', b'upper')\n"
                  "add('dir/b.txt', b'b' * 100000)\n"
                  "add('dir/c.txt', b'c')\n");
    }
    ZipOptions Delete()
    {
        ZipOptions options;
        options.Delete = true;
        return options;
    }
};

TEST_F(DeleteTest, RemovesOnlyEntriesWhoseNamesMatchByteForByte)
{
    const auto run = RunZip(archive, {"A.txt", "dir/b.txt"}, Delete());
    EXPECT_EQ(run.Result, 2);
    EXPECT_TRUE(run.Messages().empty());
    EXPECT_EQ(RunShell("unzip -tqq " + Quote(archive) + " >/dev/null"), 0);
    const auto listing = PythonListing(archive);
    EXPECT_NE(listing.find("a.txt\t5\t"), std::string::npos);
    EXPECT_EQ(listing.find("A.txt"), std::string::npos);
    EXPECT_EQ(listing.find("dir/b.txt"), std::string::npos);
    EXPECT_NE(listing.find("dir/c.txt"), std::string::npos);
}

TEST_F(DeleteTest, NamesThatMatchNothingAreReportedAndNotCounted)
{
    const auto before = ReadFile(archive);
    const auto run = RunZip(archive, {"missing.txt", "dir/", "a.TXT"}, Delete());
    EXPECT_EQ(run.Result, 0);
    EXPECT_EQ(run.Messages().size(), 3u);
    EXPECT_TRUE(run.HasError());
    EXPECT_EQ(ReadFile(archive), before);

    const auto partly = RunZip(archive, {"missing.txt", "a.txt", "a.txt"}, Delete());
    EXPECT_EQ(partly.Result, 1);
    EXPECT_EQ(partly.Files(), std::vector<std::string>{"a.txt"});
}

TEST_F(DeleteTest, CancelLeavesTheArchiveByteIdentical)
{
    const auto before = ReadFile(archive);
    const auto run =
        RunZip(archive, {"a.txt", "dir/c.txt"}, Delete(), [](const Report &r) { return r.Action == PX_ACTION_FILE; });
    EXPECT_EQ(run.Result, 0);
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 1);
}

TEST_F(DeleteTest, AnArchiveWrittenByZipKeepsItsOtherEntriesIntact)
{
    dir.Write("src/one.txt", std::string(50000, 'x'));
    dir.Write("src/two.txt", "two");
    const auto zipped = dir.File("z.zip");
    ASSERT_EQ(RunIn(dir.Path(), "zip -qr z.zip src"), 0);
    EXPECT_EQ(RunZip(zipped, {"src/two.txt"}, Delete()).Result, 1);
    std::string out;
    ASSERT_EQ(RunShell("unzip -p " + Quote(zipped) + " src/one.txt", &out), 0);
    EXPECT_EQ(out, std::string(50000, 'x'));
    EXPECT_EQ(RunShell("unzip -tqq " + Quote(zipped) + " >/dev/null"), 0);
}

// The listing is not read before a delete: what the directory does not list is named here.
TEST_F(DeleteTest, ALocalHeaderTheDirectoryDoesNotListIsLeftOutAndSaidSo)
{
    // Python's zipfile writes three entries; the middle one's directory record is cut out.
    ASSERT_EQ(RunShell("python3 - " + Quote(archive) + R"( <<'EOF'
import struct, sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path, 'w') as z:
    for name in ('a.txt', 'hidden.txt', 'c.txt'):
        z.writestr(name, name * 50)
data = open(path, 'rb').read()
end = data.rfind(b'PK\x05\x06')
size, offset = struct.unpack('<II', data[end + 12:end + 20])
records, p = [], offset
while p < offset + size:
    n, e, c = struct.unpack('<HHH', data[p + 28:p + 34])
    records.append(data[p:p + 46 + n + e + c])
    p += 46 + n + e + c
kept = b''.join(r for r in records if b'hidden' not in r)
open(path, 'wb').write(data[:offset] + kept + data[end:end + 8]
                       + struct.pack('<HHII', 2, 2, len(kept), offset) + data[end + 20:])
EOF)"),
              0);
    const auto run = RunZip(archive, {"a.txt"}, Delete());
    EXPECT_EQ(run.Result, 1);
    EXPECT_FALSE(run.HasError());
    ASSERT_EQ(run.Messages().size(), 1u);
    EXPECT_NE(run.Messages()[0].find(archive + ": "), std::string::npos) << run.Messages()[0];
    EXPECT_NE(run.Messages()[0].find("left out"), std::string::npos) << run.Messages()[0];
    EXPECT_EQ(ReadFile(archive).find("hidden"), std::string::npos);
    EXPECT_EQ(RunShell("unzip -tqq " + Quote(archive) + " >/dev/null"), 0);
    EXPECT_NE(PythonListing(archive).find("c.txt"), std::string::npos);
}

} // namespace
} // namespace pellux::test
