// pellux-cli list, run as a user runs it: stdout, stderr and the exit status.
#include "tests/support/TempDir.h"
#include "tests/support/ZipBytes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace pellux::test;

namespace {

struct CliRun {
    int Status = -1;
    std::string Out, Err;
};

class CliListTest : public ::testing::Test {
protected:
    CliRun Cli(const std::string &args, const std::string &env = "LC_ALL=C")
    {
        CliRun r;
        const std::string err = dir.File("stderr.txt");
        r.Status = RunShell(
            env + " " + Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli") + " " + args + " 2>" + Quote(err), &r.Out);
        r.Err = ReadFile(err);
        return r;
    }
    TempDir dir;
};

} // namespace

TEST_F(CliListTest, PrintsOneTabSeparatedLinePerEntry)
{
    ZipBytes z;
    z.LocalHeader("docs/sub/a.txt", std::string(1000, 'a'), DosDateTime(1999, 12, 31, 23, 59, 0))
        .LocalHeader("empty/", "", DosDateTime(2024, 2, 29, 8, 5, 0))
        .EndRecord();
    const CliRun r = Cli("list " + Quote(dir.Write("a.zip", z.Str())));
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out,
              "a.txt\t12/31/1999\t23:59\t1000\t \t1000\tdocs/sub\n"
              "empty/\t02/29/2024\t08:05\t \t \t \t\n");
    EXPECT_EQ(r.Err, "");
}

TEST_F(CliListTest, CodePage437NamesArePrintedAsUtf8)
{
    ZipBytes z;
    z.LocalHeader("gr\x94\xE1"
                  "e.txt",
                  "x")
        .EndRecord();
    const CliRun r = Cli("list " + Quote(dir.Write("cp.zip", z.Str())));
    EXPECT_EQ(r.Out.substr(0, r.Out.find('\t')),
              "gr\xC3\xB6\xC3\x9F"
              "e.txt");
}

TEST_F(CliListTest, MessagesGoToStderrAsTheWindowShowsThem)
{
    ZipBytes none;
    none.EndRecord();
    const CliRun empty = Cli("list " + Quote(dir.Write("empty.zip", none.Str())));
    EXPECT_EQ(empty.Status, 0); // a message, not an error
    EXPECT_EQ(empty.Out, "");
    EXPECT_EQ(empty.Err, "No valid zip entries found\n");

    const CliRun missing = Cli("list " + Quote(dir.File("missing.zip")));
    EXPECT_EQ(missing.Status, 0);
    EXPECT_EQ(missing.Out + missing.Err, "");

    const CliRun text = Cli("list " + Quote(dir.Write("notes.zip", "just some notes\n")));
    EXPECT_EQ(text.Status, 1); // no archive at all
    EXPECT_EQ(text.Err, "No valid zip entries found\n");
}

TEST_F(CliListTest, DisguisedNamesAndDamageAreWarningsAndExitWithOne)
{
    ZipBytes z;
    z.LocalHeader("tab\there.txt", "1", DosDateTime(2000, 1, 1, 0, 0, 0))
        .LocalHeader("unlisted.txt", "2", DosDateTime(2000, 1, 1, 0, 0, 0))
        .EndRecord();
    // Drop the second entry from the directory: cut its central header out and fix the end record.
    std::string bytes = z.Str();
    const std::size_t first = bytes.find("PK\x01\x02");
    const std::size_t second = bytes.find("PK\x01\x02", first + 1);
    const std::size_t end = bytes.find("PK\x05\x06");
    bytes.erase(second, end - second);
    const std::size_t fixedEnd = bytes.find("PK\x05\x06");
    bytes[fixedEnd + 8] = bytes[fixedEnd + 10] = 1;           // entries on this disk, total
    bytes[fixedEnd + 12] = static_cast<char>(second - first); // directory size: one header
    const CliRun r = Cli("list " + Quote(dir.Write("d.zip", bytes)));
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out,
              "tab\\x09here.txt\t01/01/2000\t00:00\t1\t \t1\t\n"
              "unlisted.txt\t01/01/2000\t00:00\t1\t \t1\t\n");
    EXPECT_EQ(r.Err,
              "warning: not in the central directory, so not extracted: unlisted.txt\n"
              "warning: names with control or direction characters: tab\\x09here.txt\n");

    // A warning that only informs is no failure.
    ZipBytes tab;
    tab.LocalHeader("tab\there.txt", "1").EndRecord();
    const CliRun informed = Cli("list " + Quote(dir.Write("t.zip", tab.Str())));
    EXPECT_EQ(informed.Status, 0);
    EXPECT_EQ(informed.Err, "warning: names with control or direction characters: tab\\x09here.txt\n");
}

TEST_F(CliListTest, ReadErrorKeepsRowsReadBeforeItAndExitsWithOne)
{
    ZipBytes z;
    z.LocalHeader("first.txt", "1", DosDateTime(2000, 1, 1, 0, 0, 0)).Fill(26, 'x');
    const CliRun r = Cli("list " + Quote(dir.Write("bad.zip", z.Str())));
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "first.txt\t01/01/2000\t00:00\t1\t \t1\t\n");
    EXPECT_EQ(r.Err, "Error reading Zip File.\n");

    const std::string fifo = dir.File("pipe.zip");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const CliRun open = Cli("list " + Quote(fifo));
    EXPECT_EQ(open.Status, 1);
    EXPECT_EQ(open.Err, "Cannot open file " + fifo + ".\n");
}

TEST_F(CliListTest, LocaleDateSeparator)
{
    // A German locale compiled into the test's own folder: "%d.%m.%Y" gives ".".
    const std::string locales = dir.File("locales");
    if (RunShell("mkdir -p " + Quote(locales) + " && localedef -i de_DE -f UTF-8 " + Quote(locales + "/de_DE.UTF-8")
                 + " >/dev/null 2>&1")
        != 0)
        GTEST_SKIP() << "localedef or the de_DE locale source is not available";
    ZipBytes z;
    z.LocalHeader("a", "1", DosDateTime(1999, 12, 31, 23, 59, 0)).EndRecord();
    const CliRun r =
        Cli("list " + Quote(dir.Write("a.zip", z.Str())), "LOCPATH=" + Quote(locales) + " LC_ALL=de_DE.UTF-8");
    EXPECT_EQ(r.Out, "a\t12.31.1999\t23:59\t1\t \t1\t\n");
}

TEST_F(CliListTest, WrongUsageExitsWithTwo)
{
    EXPECT_EQ(Cli("").Status, 2);
    EXPECT_EQ(Cli("list").Status, 2);
    EXPECT_EQ(Cli("list a.zip b.zip").Status, 2);
    EXPECT_EQ(Cli("frobnicate a.zip").Status, 2);
}
