// libpxzip.so adding files: archives checked by unzip -t and read back by Python.
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;

std::string Text(std::size_t lines)
{
    std::string s;
    for (std::size_t i = 0; i < lines; ++i)
        s += "int value_" + std::to_string(i) + " = compute(" + std::to_string(i * 7 % 13) + ");\n";
    return s;
}

void SetMtime(const std::string &path, std::time_t t)
{
    const timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

bool UnzipTestPasses(const std::string &archive)
{
    return RunShell("unzip -tqq " + Quote(archive) + " >/dev/null 2>&1") == 0;
}

std::vector<std::string> StoredNames(const std::string &archive)
{
    std::string out;
    RunShell("python3 -c 'import sys,zipfile\nfor n in zipfile.ZipFile(sys.argv[1]).namelist(): print(n)' "
                 + Quote(archive),
             &out);
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < out.size()) {
        const auto end = out.find('\n', start);
        names.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

class AddTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir.File("out.zip");
    std::string src = dir.File("proj");

    void MakeTree()
    {
        dir.Write("proj/main.c", Text(2000));
        dir.Write("proj/empty.txt", "");
        dir.Write("proj/data.bin", RandomBytes(300000, 1));
        dir.Write("proj/sub/deeper/notes.md", "# notes\n");
        fs::create_directories(src + "/emptydir");
    }
};

TEST_F(AddTest, AddsTreeThatPeersReadBackEqual)
{
    MakeTree();
    const auto run = RunZip(archive, {src}, ZipOptions{});
    EXPECT_EQ(run.Result, 4); // files only; the directory entries are not counted
    EXPECT_FALSE(run.HasError());
    EXPECT_EQ(run.Files().size(), 4u);
    EXPECT_EQ(run.Ends(), 1);
    EXPECT_TRUE(UnzipTestPasses(archive));

    TempDir out;
    ASSERT_EQ(RunIn(out.Path(), "unzip -qq " + Quote(archive)), 0);
    EXPECT_EQ(TreeListing(out.File("proj")), TreeListing(src));
    auto names = StoredNames(archive);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"proj/", "proj/data.bin", "proj/empty.txt", "proj/emptydir/", "proj/main.c",
                                        "proj/sub/", "proj/sub/deeper/", "proj/sub/deeper/notes.md"}));
    EXPECT_TRUE(fs::is_directory(out.File("proj/emptydir")));
}

TEST_F(AddTest, StoredNamesAreRelativeToTheParentOfTheGivenPath)
{
    MakeTree();
    RunZip(archive, {src + "/sub/"}, ZipOptions{});
    auto names = StoredNames(archive);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"sub/", "sub/deeper/", "sub/deeper/notes.md"}));

    const auto cwd = fs::current_path();
    fs::current_path(dir.Path());
    const auto run = RunZip(archive, {"proj/main.c", "./proj/../proj/empty.txt"}, ZipOptions{});
    fs::current_path(cwd);
    EXPECT_EQ(run.Result, 2);
    names = StoredNames(archive);
    EXPECT_NE(std::find(names.begin(), names.end(), "main.c"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "empty.txt"), names.end());
}

TEST_F(AddTest, MissingPathIsAnErrorAndTheRestIsAdded)
{
    MakeTree();
    const auto run = RunZip(archive, {dir.File("nope.txt"), src + "/main.c"}, ZipOptions{});
    EXPECT_EQ(run.Result, 1);
    EXPECT_TRUE(run.HasError());
    EXPECT_EQ(StoredNames(archive), std::vector<std::string>{"main.c"});
}

TEST_F(AddTest, StripDirNamesStoresBaseNamesAndKeepsTheFirstOfTwoEqualNames)
{
    dir.Write("proj/a/same.txt", "first");
    dir.Write("proj/b/same.txt", "second");
    dir.Write("proj/b/other.txt", "x");
    ZipOptions options;
    options.DirNames = false;
    const auto run = RunZip(archive, {src}, options);
    EXPECT_EQ(run.Result, 2);
    EXPECT_TRUE(run.HasError());
    auto names = StoredNames(archive);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"other.txt", "same.txt"}));
    TempDir out;
    RunIn(out.Path(), "unzip -qq " + Quote(archive));
    EXPECT_EQ(ReadFile(out.File("same.txt")), "first");
}

TEST_F(AddTest, WithoutRecursionADirectoryIsStoredAlone)
{
    MakeTree();
    ZipOptions options;
    options.Recurse = false;
    const auto run = RunZip(archive, {src, src + "/main.c"}, options);
    EXPECT_EQ(run.Result, 1);
    auto names = StoredNames(archive);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"main.c", "proj/"}));
}

TEST_F(AddTest, HiddenNamesAreSkippedUnlessAsked)
{
    dir.Write("proj/.git/config", "x");
    dir.Write("proj/.env", "secret");
    dir.Write("proj/visible.txt", "v");
    EXPECT_EQ(RunZip(archive, {src}, ZipOptions{}).Result, 1);
    EXPECT_EQ(StoredNames(archive), (std::vector<std::string>{"proj/", "proj/visible.txt"}));
    ZipOptions hidden;
    hidden.Hidden = true;
    EXPECT_EQ(RunZip(archive, {src}, hidden).Result, 3);
    EXPECT_EQ(StoredNames(archive).size(), 5u);
}

TEST_F(AddTest, AnEntryOfTheSameNameIsReplaced)
{
    dir.Write("proj/f.txt", "old contents");
    RunZip(archive, {src}, ZipOptions{});
    dir.Write("proj/f.txt", "new contents, longer than before");
    EXPECT_EQ(RunZip(archive, {src}, ZipOptions{}).Result, 1);
    EXPECT_EQ(StoredNames(archive), (std::vector<std::string>{"proj/", "proj/f.txt"}));
    std::string out;
    RunShell("unzip -p " + Quote(archive) + " proj/f.txt", &out);
    EXPECT_EQ(out, "new contents, longer than before");
    EXPECT_TRUE(UnzipTestPasses(archive));
}

TEST_F(AddTest, UpdateAddsNewAndReplacesOlderFreshenOnlyReplacesOlder)
{
    dir.Write("proj/old.txt", "v1");
    dir.Write("proj/same.txt", "s");
    SetMtime(src + "/old.txt", 1500000000);
    SetMtime(src + "/same.txt", 1500000000);
    RunZip(archive, {src}, ZipOptions{});

    dir.Write("proj/old.txt", "v2");
    SetMtime(src + "/old.txt", 1600000000);
    dir.Write("proj/new.txt", "n");
    ZipOptions freshen;
    freshen.Freshen = true;
    const auto fresh = RunZip(archive, {src}, freshen);
    EXPECT_EQ(fresh.Result, 1);
    EXPECT_EQ(fresh.Files(), std::vector<std::string>{"proj/old.txt"});
    EXPECT_EQ(StoredNames(archive).size(), 3u); // no new.txt

    dir.Write("proj/old.txt", "v3");
    SetMtime(src + "/old.txt", 1700000000);
    ZipOptions update;
    update.Update = true;
    const auto updated = RunZip(archive, {src}, update);
    EXPECT_EQ(updated.Result, 2);
    auto files = updated.Files();
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"proj/new.txt", "proj/old.txt"}));
    std::string out;
    RunShell("unzip -p " + Quote(archive) + " proj/old.txt", &out);
    EXPECT_EQ(out, "v3");
}

TEST_F(AddTest, MoveRemovesTheSourcesOnlyAfterTheArchiveIsWritten)
{
    MakeTree();
    ZipOptions move;
    move.Move = true;
    const auto run = RunZip(archive, {src}, move);
    EXPECT_EQ(run.Result, 4);
    EXPECT_TRUE(UnzipTestPasses(archive));
    EXPECT_FALSE(fs::exists(src));

    // A failed write keeps the sources.
    dir.Write("keep/file.txt", "k");
    const auto notAnArchive = dir.Write("bad.zip", "this is not a zip archive at all, just text");
    const auto failed = RunZip(notAnArchive, {dir.File("keep")}, move);
    EXPECT_EQ(failed.Result, 0);
    EXPECT_TRUE(failed.HasError());
    EXPECT_TRUE(fs::exists(dir.File("keep/file.txt")));
    EXPECT_EQ(ReadFile(notAnArchive), "this is not a zip archive at all, just text");
}

TEST_F(AddTest, ZipTimeGivesTheArchiveTheTimeOfItsNewestEntry)
{
    dir.Write("proj/a.txt", "a");
    dir.Write("proj/b.txt", "b");
    SetMtime(src + "/a.txt", 1400000000);
    SetMtime(src + "/b.txt", 1500000000);
    SetMtime(src, 1300000000);
    ZipOptions options;
    options.ZipTime = true;
    RunZip(archive, {src}, options);
    struct stat st {};
    ASSERT_EQ(::stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1500000000);
}

TEST_F(AddTest, ForceDosStoresUpperCaseEightDotThreeNames)
{
    dir.Write("Project Files/readme.markdown", "r");
    dir.Write("Project Files/a.b.c.txt", "x");
    ZipOptions options;
    options.ForceDos = true;
    RunZip(archive, {dir.File("Project Files")}, options);
    auto names = StoredNames(archive);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"PROJECT_/", "PROJECT_/ABC.TXT", "PROJECT_/README.MAR"}));
}

TEST_F(AddTest, LevelZeroStoresAndLevelsOutsideTheRangeAreClamped)
{
    dir.Write("proj/t.txt", Text(500));
    const auto methods = [&] {
        std::string out;
        RunShell("python3 -c 'import sys,zipfile\nprint(*[i.compress_type for i in "
                 "zipfile.ZipFile(sys.argv[1]).infolist() if not i.is_dir()])' "
                     + Quote(archive),
                 &out);
        return out;
    };
    ZipOptions options;
    options.Level = 0;
    RunZip(archive, {src}, options);
    EXPECT_EQ(methods(), "0\n");
    options.Level = 42;
    RunZip(archive, {src}, options);
    EXPECT_EQ(methods(), "8\n");
    options.Level = -3;
    RunZip(archive, {src}, options);
    EXPECT_EQ(methods(), "0\n");
    EXPECT_TRUE(UnzipTestPasses(archive));
}

TEST_F(AddTest, KeepsModificationTimesAndPermissions)
{
    dir.Write("proj/run.sh", "#!/bin/sh\n");
    ::chmod((src + "/run.sh").c_str(), 0750);
    SetMtime(src + "/run.sh", 1234567890);
    RunZip(archive, {src}, ZipOptions{});
    TempDir out;
    ASSERT_EQ(RunIn(out.Path(), "unzip -qq " + Quote(archive)), 0);
    struct stat st {};
    ASSERT_EQ(::stat(out.File("proj/run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(st.st_mtime, 1234567890);
}

TEST_F(AddTest, ATimeBefore1980GetsTheFirstDosDateAndKeepsItsOwnInTheExtendedTimestamp)
{
    constexpr std::time_t k1975 = 171000000; // 1975-06-03 04:00 UTC
    dir.Write("proj/old.txt", "from 1975");
    SetMtime(src + "/old.txt", k1975);
    ASSERT_EQ(RunZip(archive, {src + "/old.txt"}, ZipOptions{}).Result, 1);
    EXPECT_TRUE(UnzipTestPasses(archive));
    // The DOS date of the central and the local header, and the extended timestamp's
    // modification time (flags bit 0, then a signed 32-bit time) of each.
    std::string printed;
    ASSERT_EQ(RunShell("python3 -c 'import struct, sys, zipfile\n"
                       "def ut(e):\n"
                       "    while len(e) >= 4:\n"
                       "        k, n = struct.unpack(\"<HH\", e[:4])\n"
                       "        if k == 0x5455 and e[4] & 1: return struct.unpack(\"<i\", e[5:9])[0]\n"
                       "        e = e[4 + n:]\n"
                       "z = zipfile.ZipFile(sys.argv[1])\n"
                       "i = z.getinfo(\"old.txt\")\n"
                       "b = open(sys.argv[1], \"rb\").read()[i.header_offset:]\n"
                       "time, date, n, m = struct.unpack(\"<HH12xHH\", b[10:30])\n"
                       "print(i.date_time, hex(date), hex(time), ut(i.extra), ut(b[30 + n:30 + n + m]))' "
                           + Quote(archive),
                       &printed),
              0);
    EXPECT_EQ(printed, "(1980, 1, 1, 0, 0, 0) 0x21 0x0 171000000 171000000\n");

    TempDir out;
    ASSERT_EQ(RunUnz(archive, {}, UnzOptions{}, out.Path()).Result, 1);
    struct stat st {};
    ASSERT_EQ(::stat(out.File("old.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, k1975);
}

TEST_F(AddTest, FollowsSymbolicLinksWithoutLoopingOnACycle)
{
    dir.Write("proj/real/file.txt", "f");
    dir.Write("elsewhere.txt", "linked");
    fs::create_directory_symlink("..", src + "/real/up");             // a cycle
    fs::create_symlink(dir.File("elsewhere.txt"), src + "/link.txt"); // a file link
    const auto run = RunZip(archive, {src}, ZipOptions{});
    EXPECT_EQ(run.Result, 2);
    std::string out;
    RunShell("unzip -p " + Quote(archive) + " proj/link.txt", &out);
    EXPECT_EQ(out, "linked");
    EXPECT_FALSE(run.Messages().empty()); // the loop is reported
}

TEST_F(AddTest, UnreadableAndSpecialFilesAreSkippedAndTheRestGoesOn)
{
    dir.Write("proj/good.txt", "g");
    fs::create_symlink(dir.File("gone"), src + "/dangling.txt");
    ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0600), 0);
    const auto run = RunZip(archive, {src}, ZipOptions{});
    EXPECT_EQ(run.Result, 1);
    EXPECT_TRUE(run.HasError());
    EXPECT_EQ(StoredNames(archive), (std::vector<std::string>{"proj/", "proj/good.txt"}));
}

TEST_F(AddTest, CancelFromAProgressReportLeavesTheArchiveByteIdentical)
{
    MakeTree();
    RunZip(archive, {src}, ZipOptions{});
    const std::string before = ReadFile(archive);
    dir.Write("big/large.bin", RandomBytes(5 << 20, 7));
    for (int stopAt : {PX_ACTION_FILE, PX_ACTION_STEP}) {
        const auto run = RunZip(archive, {dir.File("big")}, ZipOptions{}, [stopAt](const Report &r) {
            return r.Action == stopAt && (stopAt != PX_ACTION_STEP || r.FileSize > 0);
        });
        EXPECT_EQ(run.Result, 0);
        EXPECT_EQ(ReadFile(archive), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 3); // no temporary file
    }
}

TEST_F(AddTest, AFullDiskLeavesTheArchiveIntactAndNoTemporaryFile)
{
    MakeTree();
    RunZip(archive, {src}, ZipOptions{});
    const std::string before = ReadFile(archive);
    dir.Write("big/large.bin", RandomBytes(4 << 20, 9));

    // A file-size limit stands in for a full disk: writes past it fail with EFBIG.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = before.size() + (1 << 20);
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const auto run = RunZip(archive, {dir.File("big")}, ZipOptions{});
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(run.Result, 0);
    EXPECT_TRUE(run.HasError());
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 3);
}

TEST_F(AddTest, AFileThatIsNotAnArchiveIsNeverOverwritten)
{
    MakeTree();
    const auto text = dir.Write("notes.zip", "plain text, not an archive");
    const auto run = RunZip(text, {src}, ZipOptions{});
    EXPECT_EQ(run.Result, 0);
    EXPECT_TRUE(run.HasError());
    EXPECT_EQ(ReadFile(text), "plain text, not an archive");
}

} // namespace
} // namespace pellux::test
