// pellux-cli with encrypted archives, run as a script runs it: no terminal, the password
// in a file, archives written and read back by zip and 7-Zip.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pellux::test;
namespace fs = std::filesystem;

namespace {

struct CliRun {
    int Status = -1;
    std::string Out, Err;
};

class CliPasswordTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir.File("a.zip");

    void SetUp() override
    {
        dir.Write("src/secret.txt", std::string(5000, 's') + "end");
        dir.Write("src/plain.txt", "plain");
        dir.Write("right", "right password\n");
        dir.Write("wrong", "not it\n");
        ASSERT_EQ(RunShell("cd " + Quote(dir.File("src")) + " && zip -q -P 'right password' ../a.zip secret.txt"
                           + " && zip -q ../a.zip plain.txt"),
                  0);
    }

    // setsid: no controlling terminal, so nothing can be asked.
    CliRun Cli(const std::string &args)
    {
        CliRun r;
        const std::string err = dir.File("stderr.txt");
        r.Status = RunShell("cd " + Quote(dir.Path().string()) + " && LC_ALL=C setsid -w "
                                + Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli") + " " + args + " </dev/null 2>"
                                + Quote(err),
                            &r.Out);
        r.Err = ReadFile(err);
        return r;
    }
};

} // namespace

TEST_F(CliPasswordTest, APasswordFileOpensTheEncryptedEntriesAndAWrongOneWritesNothing)
{
    CliRun r = Cli("list a.zip");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Err, "encrypted (a password is needed to extract): secret.txt\n");

    r = Cli("test a.zip --password-file right");
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "2 files tested, 0 failed\n");

    r = Cli("extract a.zip -d out --password-file wrong");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("wrong password for secret.txt"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find("not it"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.File("out/secret.txt")));
    EXPECT_EQ(ReadFile(dir.File("out/plain.txt")), "plain");

    r = Cli("extract a.zip -d good --password-file=right");
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ReadFile(dir.File("good/secret.txt")), std::string(5000, 's') + "end");

    r = Cli("extract a.zip -d none --password-file missing");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("cannot read missing"), std::string::npos) << r.Err;
}

TEST_F(CliPasswordTest, WithoutATerminalOrFileTheEncryptedEntryIsSkippedByName)
{
    const CliRun r = Cli("extract a.zip -d out");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("secret.txt is encrypted: no password (give --password-file FILE"), std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("skipped 1 encrypted entry"), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(dir.File("out/secret.txt")));
    EXPECT_TRUE(fs::exists(dir.File("out/plain.txt")));
}

TEST_F(CliPasswordTest, AddEncryptWritesEntriesThatSevenZipOpens)
{
    const std::string before = ReadFile(archive);
    CliRun r = Cli("add a.zip --encrypt src/new.txt");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("--encrypt: no password"), std::string::npos) << r.Err;
    EXPECT_EQ(ReadFile(archive), before);

    dir.Write("src/new.txt", "new and secret");
    r = Cli("add new.zip --encrypt --password-file right src/new.txt");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(RunShell("cd " + Quote(dir.Path().string()) + " && 7z x -y -bd -bso0 '-pright password' -o7z new.zip"),
              0);
    EXPECT_EQ(ReadFile(dir.File("7z/new.txt")), "new and secret");
    EXPECT_EQ(Cli("list new.zip").Err, "encrypted (a password is needed to extract): new.txt\n");
}
