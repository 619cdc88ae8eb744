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
    EXPECT_FALSE(run.HasError());
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

} // namespace
} // namespace pellux::test
