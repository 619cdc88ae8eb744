// Archives built to write outside the extraction directory: nothing may land there,
// each refused entry is reported, and the harmless entries are still extracted.
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;

class HostileArchiveTest : public ::testing::Test {
protected:
    TempDir dir; // holds the archive, the target and the "outside"
    std::string archive = dir.File("evil.zip");
    std::string target = dir.File("target/inner");
    std::string outside = dir.File("outside");

    void SetUp() override
    {
        fs::create_directories(target);
        fs::create_directories(outside);
    }
    // Everything under dir except the target must stay as it was: the archive and an
    // empty "outside" directory.
    void ExpectNothingOutside()
    {
        EXPECT_TRUE(fs::is_empty(outside));
        EXPECT_FALSE(fs::exists(dir.File("target/evil.txt")));
        EXPECT_FALSE(fs::exists(dir.File("evil.txt")));
        EXPECT_FALSE(fs::exists("/tmp/pellux-evil.txt"));
    }
    LibRun Extract(bool dirNames = true)
    {
        UnzOptions options;
        options.DirNames = dirNames;
        options.Overwrite = true;
        return RunUnz(archive, {}, options, target);
    }
};

TEST_F(HostileArchiveTest, ParentTraversalIsRefused)
{
    PythonZip(archive,
              "add('../evil.txt', b'x')\nadd('a/../../evil.txt', b'x')\nadd('../../outside/evil.txt', b'x')\n"
              "add('ok.txt', b'fine')");
    for (bool dirNames : {true, false}) {
        const auto run = Extract(dirNames);
        EXPECT_EQ(run.Result, 1);
        EXPECT_EQ(run.Messages().size(), 3u);
        EXPECT_TRUE(run.HasError());
        EXPECT_EQ(ReadFile(target + "/ok.txt"), "fine");
        ExpectNothingOutside();
    }
}

TEST_F(HostileArchiveTest, AbsoluteNamesAreRefusedAndDrivePrefixesRemoved)
{
    PythonZip(archive,
              "add('/tmp/pellux-evil.txt', b'x')\nadd(" + Quote(outside + "/evil.txt")
                  + ", b'x')\n"
                    "add('C:/c1.txt', b'1')\nadd('c:\\\\c2.txt', b'2')\nadd('C:c3.txt', b'3')\nadd('ok.txt', b'fine')");
    // Python strips a leading "/" when writing; put it back in the stored names.
    std::string bytes = ReadFile(archive);
    for (const std::string &name : {std::string("tmp/pellux-evil.txt"), outside.substr(1) + "/evil.txt"}) {
        for (std::size_t at = 0; (at = bytes.find(name, at)) != std::string::npos; at += name.size())
            bytes[at - 1] = '/';
    }
    dir.Write("evil.zip", bytes);
    const auto run = Extract();
    EXPECT_EQ(run.Result, 4);
    const std::vector<std::string> messages = run.Messages();
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0], "skipping /tmp/pellux-evil.txt: absolute path");
    EXPECT_EQ(messages[2], "C:/c1.txt: drive prefix C:/ removed");
    EXPECT_EQ(messages[3], "c:\\c2.txt: drive prefix c:\\ removed");
    EXPECT_EQ(messages[4], "C:c3.txt: drive prefix C: removed");
    for (const char *name : {"c1.txt", "c2.txt", "c3.txt"})
        EXPECT_TRUE(fs::is_regular_file(target + "/" + name)) << name;
    ExpectNothingOutside();
}

TEST_F(HostileArchiveTest, EmptyAndDotNamesAreRefused)
{
    PythonZip(archive, "add('', b'x')\nadd('.', b'x')\nadd('./', b'')\nadd('ok.txt', b'fine')");
    const auto run = Extract();
    EXPECT_EQ(run.Result, 1);
    EXPECT_EQ(run.Messages().size(), 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1);
}

TEST_F(HostileArchiveTest, BackslashTraversalIsRefused)
{
    PythonZip(archive,
              "add('..\\\\evil.txt', b'x')\nadd('sub\\\\..\\\\..\\\\..\\\\outside\\\\evil.txt', b'x')\n"
              "add('win\\\\ok.txt', b'fine')");
    const auto run = Extract();
    EXPECT_EQ(run.Result, 1);
    EXPECT_EQ(run.Messages().size(), 2u);
    EXPECT_EQ(ReadFile(target + "/win/ok.txt"), "fine");
    ExpectNothingOutside();
}

TEST_F(HostileArchiveTest, SymlinkEntriesPointingOutAndFilesThroughThemAreRefused)
{
    PythonZip(archive,
              "add('link', b'../../outside', mode=0o120777)\n"
              "add('link/evil.txt', b'x')\n"
              "add('abs', "
                  + Quote(outside)
                  + ".encode(), mode=0o120777)\n"
                    "add('abs/evil.txt', b'x')\n"
                    "add('loop', b'.', mode=0o120777)\n"
                    "add('climb', b'loop/loop/..', mode=0o120777)\n"
                    "add('sub/up', b'../ok.txt', mode=0o120777)\n"
                    "add('ok.txt', b'fine')");
    const auto run = Extract();
    ExpectNothingOutside();
    // "loop" and "sub/up" stay inside and are made; "climb" could escape through "loop".
    EXPECT_TRUE(fs::is_symlink(target + "/loop"));
    EXPECT_EQ(fs::read_symlink(target + "/sub/up"), "../ok.txt");
    EXPECT_FALSE(fs::exists(fs::symlink_status(target + "/climb")));
    EXPECT_FALSE(fs::is_symlink(target + "/link"));
    EXPECT_FALSE(fs::is_symlink(target + "/abs"));
    EXPECT_TRUE(run.HasError());
    EXPECT_EQ(ReadFile(target + "/ok.txt"), "fine");
}

TEST_F(HostileArchiveTest, AnExistingSymlinkInTheTargetIsNeverFollowed)
{
    fs::create_directory_symlink(outside, target + "/sub");
    fs::create_symlink(outside + "/evil.txt", target + "/file.txt");
    PythonZip(archive, "add('sub/evil.txt', b'x')\nadd('file.txt', b'replaces the link itself')");
    const auto run = Extract();
    EXPECT_EQ(run.Result, 1);
    EXPECT_TRUE(run.HasError());
    ExpectNothingOutside();
    EXPECT_FALSE(fs::is_symlink(target + "/file.txt"));
    EXPECT_EQ(ReadFile(target + "/file.txt"), "replaces the link itself");
}

} // namespace
} // namespace pellux::test
