#include "util/Kq_FileSystem.h"

#include "platform/Exceptions.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

using pellux::TKq_FileSystem;
namespace fs = std::filesystem;

namespace {

const std::string kDumpProgram = PELLUX_BIN_DIR "/pellux_argv_dump";

// Waits for the started program's argument file and splits it at the NUL bytes.
std::vector<std::string> WaitForArguments(const std::string &dumpFile)
{
    for (int i = 0; i < 500 && !fs::exists(dumpFile); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::string> args;
    const std::string bytes = pellux::test::ReadFile(dumpFile);
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1)
        args.push_back(bytes.substr(start, end - start));
    return args;
}

class RunCommandLineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fs::exists(kDumpProgram)); }
    void TearDown() override { ::unsetenv("PELLUX_ARGV_DUMP"); }
    void DumpTo(const std::string &file) { ::setenv("PELLUX_ARGV_DUMP", file.c_str(), 1); }
    pellux::test::TempDir temp_;
};

} // namespace

TEST(AddBackslash, EndsInOneSlashUnlessBlank)
{
    EXPECT_EQ(TKq_FileSystem::AddBackslash(""), "");
    EXPECT_EQ(TKq_FileSystem::AddBackslash("   "), "");
    EXPECT_EQ(TKq_FileSystem::AddBackslash(" \t\r\n"), "");
    EXPECT_EQ(TKq_FileSystem::AddBackslash("/"), "/");
    EXPECT_EQ(TKq_FileSystem::AddBackslash("/usr"), "/usr/");
    EXPECT_EQ(TKq_FileSystem::AddBackslash("/usr/lib/"), "/usr/lib/");
    // Blanks are only looked at for the emptiness test; the result keeps them.
    EXPECT_EQ(TKq_FileSystem::AddBackslash("dir "), "dir /");
    EXPECT_EQ(TKq_FileSystem::AddBackslash(" /x"), " /x/");
}

TEST(GetProgramDir, IsTheTestProgramsDirectoryWithOneSlash)
{
    const std::string dir = TKq_FileSystem::GetProgramDir();
    ASSERT_GE(dir.size(), 2u);
    EXPECT_EQ(dir.back(), '/');
    EXPECT_NE(dir[dir.size() - 2], '/');
    EXPECT_TRUE(fs::equivalent(dir, PELLUX_BIN_DIR));
}

TEST(GetShortPath, EscapesBlanksAndBackslashesOnly)
{
    EXPECT_EQ(TKq_FileSystem::GetShortPath(""), "");
    EXPECT_EQ(TKq_FileSystem::GetShortPath("/a b/c\\d"), "/a\\ b/c\\\\d");
    EXPECT_EQ(TKq_FileSystem::GetShortPath("/no/such/'$x'"), "/no/such/'$x'");
}

TEST_F(RunCommandLineTest, AwkwardPathsReachTheProgramUnchanged)
{
    const std::string odd = temp_.Write("it's \"two  words\" $(touch pwned) `id` a\\b;c*/in put.zip", "");
    const std::string out = (temp_.Path() / "out dir\\").string();
    const std::string dump = temp_.File("argv");
    DumpTo(dump);
    TKq_FileSystem::RunCommandLine(TKq_FileSystem::GetShortPath(kDumpProgram) + " " + TKq_FileSystem::GetShortPath(odd)
                                   + " " + TKq_FileSystem::GetShortPath(out));
    EXPECT_EQ(WaitForArguments(dump), (std::vector<std::string>{kDumpProgram, odd, out}));
    EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(RunCommandLineTest, TwoHundredFiftyCharactersStartAndOneMoreRaises)
{
    const std::string head = kDumpProgram + " ";
    ASSERT_LT(head.size(), 240u);

    const std::string refusedDump = temp_.File("refused");
    DumpTo(refusedDump);
    const std::string tooLong = head + std::string(251 - head.size(), 'x');
    try {
        TKq_FileSystem::RunCommandLine(tooLong);
        FAIL() << "no error raised";
    } catch (const pellux::Exception &error) {
        EXPECT_EQ(std::string(error.what()), "CommandLine too long\r" + tooLong);
    }

    const std::string startedDump = temp_.File("started");
    DumpTo(startedDump);
    const std::string longest = head + std::string(250 - head.size(), 'y');
    ASSERT_EQ(longest.size(), 250u);
    TKq_FileSystem::RunCommandLine(longest);
    const auto args = WaitForArguments(startedDump);
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[1], std::string(250 - head.size(), 'y'));
    // Had the refused line started, its program would have finished by now as well.
    EXPECT_FALSE(fs::exists(refusedDump));
}

TEST_F(RunCommandLineTest, AProgramThatCannotStartIsNotReported)
{
    EXPECT_NO_THROW(TKq_FileSystem::RunCommandLine(temp_.File("no-such-program") + " arg"));
    EXPECT_NO_THROW(TKq_FileSystem::RunCommandLine(""));
}
