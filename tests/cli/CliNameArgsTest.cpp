// What pellux-cli's arguments mean: NAME wildcards and directories as unzip users write
// them, and usage errors that say which argument is wrong.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using namespace pellux::test;
namespace fs = std::filesystem;

namespace {

class CliNameArgsTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string err = dir.File("err.txt");

    void SetUp() override
    {
        for (const char *name : {"docs/a.txt", "docs/b.md", "docs/sub/c.txt", "top.txt", "odd[1].txt"})
            dir.Write(std::string("src/") + name, name);
        ASSERT_EQ(RunShell("cd " + Quote(dir.File("src")) + " && zip -qr ../a.zip docs top.txt 'odd[1].txt'"), 0);
    }

    // Runs pellux-cli in the directory; stdout is returned in `out`, stderr in `err`.
    int Cli(const std::string &args, std::string *out = nullptr)
    {
        std::string ignored;
        return RunShell("cd " + Quote(dir.Path().string()) + " && LC_ALL=C.UTF-8 "
                            + Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli") + " " + args + " 2>" + Quote(err),
                        out ? out : &ignored);
    }

    std::string Stored()
    {
        std::string names;
        RunShell("unzip -Z1 " + Quote(dir.File("a.zip")) + " | sort | tr '\\n' ' '", &names);
        return names;
    }
};

} // namespace

TEST_F(CliNameArgsTest, WildcardsAndDirectoriesChooseStoredNames)
{
    ASSERT_EQ(Cli("extract a.zip -d one 'docs/*.txt'"), 0) << ReadFile(err);
    EXPECT_TRUE(fs::exists(dir.File("one/docs/a.txt")));
    EXPECT_FALSE(fs::exists(dir.File("one/docs/sub/c.txt"))); // a single star stops at '/'
    EXPECT_FALSE(fs::exists(dir.File("one/docs/b.md")));

    ASSERT_EQ(Cli("extract a.zip -d two 'docs/**.txt'"), 0) << ReadFile(err);
    EXPECT_TRUE(fs::exists(dir.File("two/docs/sub/c.txt")));
    EXPECT_FALSE(fs::exists(dir.File("two/top.txt")));

    ASSERT_EQ(Cli("extract a.zip -d three docs/"), 0) << ReadFile(err);
    EXPECT_TRUE(fs::exists(dir.File("three/docs/b.md")));
    EXPECT_TRUE(fs::exists(dir.File("three/docs/sub/c.txt")));
    EXPECT_FALSE(fs::exists(dir.File("three/top.txt")));

    // A stored name that looks like a pattern means itself.
    std::string out;
    EXPECT_EQ(Cli("test a.zip 'odd[1].txt'", &out), 0);
    EXPECT_EQ(out, "1 files tested, 0 failed\n");

    // A pattern that matches nothing is named; the rest of the work goes on.
    EXPECT_EQ(Cli("test a.zip 'nope*' 't?p.txt'", &out), 0);
    EXPECT_EQ(out, "1 files tested, 0 failed\n");
    EXPECT_EQ(ReadFile(err), "warning: no entry matches nope*\n");
    // When nothing at all matches, nothing is done, and that is a failure.
    EXPECT_EQ(Cli("extract a.zip -d four 'nope*'"), 1);
    EXPECT_NE(ReadFile(err).find("no entry matches the names given"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.File("four")));

    ASSERT_EQ(Cli("delete a.zip 'docs/*' '[o]dd*'"), 0) << ReadFile(err);
    EXPECT_EQ(Stored(), "docs/sub/ docs/sub/c.txt top.txt ");
}

TEST_F(CliNameArgsTest, UsageErrorsNameTheWrongArgument)
{
    const std::string before = ReadFile(dir.File("a.zip"));
    const struct {
        const char *args;
        const char *said;
    } cases[] = {
        {"add a.zip --level 12 src/top.txt", "pellux-cli: --level takes a number from 0 to 9, not 12\n"},
        {"add a.zip --level=x src/top.txt", "pellux-cli: --level takes a number from 0 to 9, not x\n"},
        {"extract a.zip --bogus", "pellux-cli: unknown option --bogus\n"},
        {"extract a.zip -d", "pellux-cli: -d needs a directory\n"},
        {"test a.zip --password-file", "pellux-cli: --password-file needs a value\n"},
        {"frobnicate a.zip", "pellux-cli: unknown command frobnicate\n"},
        {"delete a.zip", "pellux-cli: delete needs a name to delete\n"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Cli(c.args), 2) << c.args;
        const std::string said = ReadFile(err);
        EXPECT_EQ(said.substr(0, said.find("usage: ")), c.said) << c.args;
        EXPECT_NE(said.find("usage: pellux-cli"), std::string::npos);
    }
    EXPECT_EQ(ReadFile(dir.File("a.zip")), before);

    // Only add makes an archive: delete does not take a missing one for an empty one.
    EXPECT_EQ(Cli("delete missing.zip top.txt"), 1);
    EXPECT_EQ(ReadFile(err), "missing.zip: No such file or directory\n");
    EXPECT_FALSE(fs::exists(dir.File("missing.zip")));
}

TEST_F(CliNameArgsTest, RecursionSaysHowManyHiddenFilesItLeftOut)
{
    dir.Write("src/.env", "secret");
    dir.Write("src/docs/.git/config", "x"); // a hidden folder counts once
    std::string out;
    ASSERT_EQ(Cli("add b.zip --recurse src", &out), 0) << ReadFile(err);
    EXPECT_EQ(ReadFile(err), "warning: skipping 2 hidden files in src\n");
    ASSERT_EQ(Cli("add c.zip --recurse --hidden src", &out), 0);
    EXPECT_EQ(ReadFile(err), "");
}

TEST_F(CliNameArgsTest, AWarningOfTheListingIsNotSaidAgainByTheWork)
{
    dir.Write("pre.zip", "JUNKJUNK" + ReadFile(dir.File("a.zip")));
    for (const char *args : {"test pre.zip", "extract pre.zip -d out"}) {
        ASSERT_EQ(Cli(args), 0) << args;
        EXPECT_EQ(ReadFile(err), "warning: the archive's offsets are off by 8 bytes (data was put in front of it)\n")
            << args;
    }
}
