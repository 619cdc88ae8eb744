// pellux-cli add / delete / extract as a user runs them: the count line on stdout, the
// message texts on stderr and the exit status.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int Status = -1;
    std::string Out, Err;
};

class CliOperationsTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir.File("t.zip");

    void SetUp() override
    {
        dir.Write("src/a.txt", "alpha");
        dir.Write("src/sub/b.txt", std::string(20000, 'b'));
        dir.Write("src/.hidden", "h");
    }
    // Runs in the test directory or in a folder of it.
    CliRun Cli(const std::string &args, const std::string &in = ".")
    {
        CliRun r;
        const std::string err = dir.File("stderr.txt");
        r.Status = RunShell("cd " + Quote(dir.File(in)) + " && " + Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli")
                                + " " + args + " 2>" + Quote(err),
                            &r.Out);
        r.Err = ReadFile(err);
        fs::remove(err);
        return r;
    }
};

TEST_F(CliOperationsTest, AddExtractAndDeleteReportTheirCounts)
{
    auto r = Cli("add t.zip --recurse --dir-names --level 9 src");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "2 files were added\n");
    EXPECT_EQ(r.Err, "warning: skipping 1 hidden file in src\n");
    EXPECT_EQ(RunShell("unzip -tqq " + Quote(archive) + " >/dev/null"), 0);

    r = Cli("extract t.zip -d out");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "2 files were extracted\n");
    EXPECT_EQ(ReadFile(dir.File("out/src/sub/b.txt")), std::string(20000, 'b'));

    r = Cli("delete t.zip src/a.txt");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "1 files were deleted\n");
    std::string names;
    RunShell("unzip -Z1 " + Quote(archive), &names);
    EXPECT_EQ(names, "src/\nsrc/sub/\nsrc/sub/b.txt\n");
}

TEST_F(CliOperationsTest, OptionsReachTheLibrary)
{
    auto r = Cli("add t.zip --recurse --hidden --level 0 src");
    EXPECT_EQ(r.Out, "3 files were added\n");
    std::string out;
    RunShell("python3 -c 'import sys,zipfile\nprint(sorted((i.filename, i.compress_type) for i in "
             "zipfile.ZipFile(sys.argv[1]).infolist()))' "
                 + Quote(archive),
             &out);
    // Without --dir-names only base names are stored.
    EXPECT_EQ(out, "[('.hidden', 0), ('a.txt', 0), ('b.txt', 0)]\n");

    r = Cli("extract t.zip --junk-paths -d flat a.txt");
    EXPECT_EQ(r.Out, "1 files were extracted\n");
    EXPECT_TRUE(fs::exists(dir.File("flat/a.txt")));
}

TEST_F(CliOperationsTest, ExtractDefaultsToTheCurrentDirectoryAndKeepsExistingFiles)
{
    Cli("add t.zip --recurse --dir-names src");
    dir.Write("here/src/a.txt", "mine");
    auto r = Cli("extract ../t.zip", "here");
    EXPECT_EQ(r.Status, 0); // a kept file is reported, not an error
    EXPECT_EQ(r.Out, "1 files were extracted\n");
    EXPECT_EQ(r.Err, "warning: src/a.txt exists, not overwritten\n");
    EXPECT_EQ(ReadFile(dir.File("here/src/a.txt")), "mine");

    r = Cli("extract t.zip --overwrite");
    EXPECT_EQ(r.Out, "2 files were extracted\n");
    EXPECT_EQ(ReadFile(dir.File("src/a.txt")), "alpha");
}

TEST_F(CliOperationsTest, PreconditionMessagesAndLibraryErrorsGiveStatusOne)
{
    auto r = Cli("add setup.EXE src/a.txt");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "Error - this pgm can NOT add files to a self-extracting archive\n");
    EXPECT_EQ(r.Out, "0 files were added\n");

    r = Cli("delete missing.zip a.txt");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "missing.zip: No such file or directory\n");

    r = Cli("add t.zip src/a.txt src/none.txt");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "1 files were added\n");
    EXPECT_NE(r.Err.find("src/none.txt"), std::string::npos);

    r = Cli("extract t.zip -d out nothing.txt");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "name not matched: nothing.txt\n");
}

TEST_F(CliOperationsTest, BadArgumentsShowTheUsage)
{
    for (const char *args : {"add t.zip", "add t.zip --level x src", "add t.zip --bogus src", "delete t.zip", "extract",
                             "extract t.zip --bogus"}) {
        const auto r = Cli(args);
        EXPECT_EQ(r.Status, 2) << args;
        // What was wrong comes first, on a line of its own.
        EXPECT_EQ(r.Err.rfind("pellux-cli: ", 0), 0u) << args;
        EXPECT_NE(r.Err.find("\nusage: pellux-cli"), std::string::npos) << args;
    }
}

} // namespace
} // namespace pellux::test
