// libpxzip.so writing archives on several cores: the same archive whatever the number of
// workers, large files split into chunks of one deflate stream, entries that stay copied
// byte for byte, and no trace of a write that did not finish.
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;

// Text that compresses, but not to nothing: words drawn at random.
std::string LogText(std::size_t bytes, unsigned seed)
{
    static const char *words[] = {"GET", "POST", "/index.html", "200", "404", "user", "session", "timeout", "ok"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < bytes)
        s += std::to_string(rng() % 100000) + " " + words[rng() % 9] + " " + words[rng() % 9] + "\n";
    s.resize(bytes);
    return s;
}

void SetWorkers(int n) { ::setenv("PELLUX_ZIP_WORKERS", std::to_string(n).c_str(), 1); }

std::size_t FilesIn(const fs::path &dir)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// name, method, and the entry's raw bytes (local header to the end of its data) as hex digests.
std::string RawEntries(const std::string &archive)
{
    std::string out;
    RunPython("import hashlib,struct,zipfile\n"
              "f=open('"
                  + archive
                  + "','rb').read()\n"
                    "for i in zipfile.ZipFile('"
                  + archive
                  + "').infolist():\n"
                    "  n,e=struct.unpack('<HH',f[i.header_offset+26:i.header_offset+30])\n"
                    "  end=i.header_offset+30+n+e+i.compress_size\n"
                    "  print(i.filename,i.compress_type,hashlib.sha1(f[i.header_offset:end]).hexdigest())\n",
              &out);
    return out;
}

class ParallelWriteTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir.File("a.zip");
    ~ParallelWriteTest() override
    {
        ::unsetenv("PELLUX_ZIP_WORKERS");
        ::unsetenv("PELLUX_ZIP_NAMED_TEMP");
    }

    void MakeTree()
    {
        for (int i = 0; i < 40; ++i)
            dir.Write("src/small/f" + std::to_string(i) + ".txt", LogText(1000 + i * 300, i));
        dir.Write("src/big.log", LogText(5 << 20, 99)); // several chunks
        dir.Write("src/video.bin", RandomBytes(3 << 20, 5));
        dir.Write("src/photo.jpg", RandomBytes(200000, 6));
        dir.Write("src/empty.txt", "");
        for (const auto &entry : fs::recursive_directory_iterator(dir.File("src"))) {
            const timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
            ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
        }
    }
};

TEST_F(ParallelWriteTest, TheArchiveIsTheSameWhateverTheNumberOfWorkersAndPeersReadIt)
{
    MakeTree();
    std::string first;
    for (int workers : {1, 2, 5}) {
        SetWorkers(workers);
        fs::remove(archive);
        const auto run = RunZip(archive, {dir.File("src")}, ZipOptions{});
        ASSERT_EQ(run.Result, 44);
        ASSERT_FALSE(run.HasError());
        if (first.empty())
            first = ReadFile(archive);
        else
            EXPECT_EQ(ReadFile(archive), first) << workers << " workers";
    }
    EXPECT_EQ(RunShell("unzip -tqq " + Quote(archive) + " >/dev/null"), 0);
    EXPECT_EQ(RunShell("7z t " + Quote(archive) + " >/dev/null"), 0);
    TempDir out;
    ASSERT_EQ(RunIn(out.Path(), "unzip -qq " + Quote(archive)), 0);
    EXPECT_EQ(TreeListing(out.File("src")), TreeListing(dir.File("src")));

    // Deflated where it pays, stored where it does not (decided from the first chunk).
    const auto raw = RawEntries(archive);
    EXPECT_NE(raw.find("src/big.log 8 "), std::string::npos);
    EXPECT_NE(raw.find("src/small/f3.txt 8 "), std::string::npos);
    EXPECT_NE(raw.find("src/video.bin 0 "), std::string::npos);
    EXPECT_NE(raw.find("src/photo.jpg 0 "), std::string::npos);
}

TEST_F(ParallelWriteTest, EntriesThatStayKeepTheirExactBytes)
{
    // Written by a peer with data descriptors (a stream it cannot seek back in).
    ASSERT_EQ(RunPython("import sys,zipfile\n"
                        "class Pipe:\n"
                        "  def __init__(s,f): s.f=f\n"
                        "  def write(s,b): return s.f.write(b)\n"
                        "  def flush(s): s.f.flush()\n"
                        "z=zipfile.ZipFile(Pipe(open('"
                        + archive
                        + "','wb')),'w',zipfile.ZIP_DEFLATED)\n"
                          "z.writestr('one.txt',b'one '*50000)\n"
                          "z.writestr('two.txt',b'two')\n"
                          "z.writestr('three.bin',bytes(range(256))*999)\n"
                          "z.comment=b'kept comment'\n"
                          "z.close()\n"),
              0);
    const auto before = RawEntries(archive);
    dir.Write("new.txt", LogText(3 << 20, 1));
    ASSERT_EQ(RunZip(archive, {dir.File("new.txt")}, ZipOptions{}).Result, 1);
    const auto added = RawEntries(archive);
    EXPECT_EQ(added.substr(0, before.size()), before);
    EXPECT_EQ(RunShell("unzip -tqq " + Quote(archive) + " >/dev/null"), 0);

    ZipOptions remove;
    remove.Delete = true;
    ASSERT_EQ(RunZip(archive, {"two.txt"}, remove).Result, 1);
    const auto kept = RawEntries(archive);
    EXPECT_EQ(kept.find("two.txt"), std::string::npos);
    for (const std::string name : {"one.txt", "three.bin", "new.txt"}) {
        const auto line = added.substr(added.find(name), added.find('\n', added.find(name)) - added.find(name));
        EXPECT_NE(kept.find(line), std::string::npos) << name;
    }
    EXPECT_EQ(RunShell("unzip -tqq " + Quote(archive) + " >/dev/null"), 0);
    std::string comment;
    RunShell("unzip -z " + Quote(archive) + " | tail -1", &comment);
    EXPECT_EQ(comment, "kept comment\n");
}

// Each way a write can end early, during an add of a large file and during a delete:
// the archive stays byte for byte as it was and nothing is left beside it.
TEST_F(ParallelWriteTest, AWriteCutShortLeavesTheArchiveAndNoTemporaryFile)
{
    dir.Write("src/keep.bin", RandomBytes(3 << 20, 3));
    dir.Write("src/small.txt", "small");
    ASSERT_EQ(RunZip(archive, {dir.File("src")}, ZipOptions{}).Result, 2);
    dir.Write("more/big.log", LogText(6 << 20, 4));
    const std::string before = ReadFile(archive);
    const std::size_t files = FilesIn(dir.Path());
    SetWorkers(2);

    ZipOptions remove;
    remove.Delete = true;
    const std::vector<std::pair<std::vector<std::string>, ZipOptions>> operations{{{dir.File("more")}, ZipOptions{}},
                                                                                  {{"src/small.txt"}, remove}};
    for (const bool named : {false, true})
        for (const auto &[paths, options] : operations) {
            SCOPED_TRACE(options.Delete ? "delete" : "add");
            SCOPED_TRACE(named ? "named temporary file" : "anonymous file");
            if (named)
                ::setenv("PELLUX_ZIP_NAMED_TEMP", "1", 1);
            // An add first copies the 3 MiB entry (24 steps), then compresses.
            const int stopAt = options.Delete ? 3 : 30;
            int steps = 0;
            const auto stopped = RunZip(archive, paths, options, [&](const Report &r) {
                return r.Action == PX_ACTION_STEP && r.FileSize > 0 && ++steps == stopAt;
            });
            EXPECT_EQ(stopped.Result, 0);
            EXPECT_EQ(ReadFile(archive), before);
            EXPECT_EQ(FilesIn(dir.Path()), files);

            // A full disk: a file-size limit makes writes past it fail.
            const auto previous = std::signal(SIGXFSZ, SIG_IGN);
            rlimit old{};
            ::getrlimit(RLIMIT_FSIZE, &old);
            rlimit limited = old;
            limited.rlim_cur = 1 << 20;
            ::setrlimit(RLIMIT_FSIZE, &limited);
            const auto full = RunZip(archive, paths, options);
            ::setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, previous);
            EXPECT_EQ(full.Result, 0);
            EXPECT_TRUE(full.HasError());
            EXPECT_EQ(ReadFile(archive), before);
            EXPECT_EQ(FilesIn(dir.Path()), files);

            if (named) {
                // Completed, it leaves only the archive (killed, it would leave its hidden file).
                const auto done = RunZip(archive, paths, options);
                ::unsetenv("PELLUX_ZIP_NAMED_TEMP");
                EXPECT_EQ(done.Result, 1);
                EXPECT_EQ(FilesIn(dir.Path()), files);
                EXPECT_EQ(RunShell("unzip -tqq " + Quote(archive) + " >/dev/null"), 0);
                dir.Write("a.zip", before);
                continue;
            }
            // Killed mid-write.
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                int done = 0;
                RunZip(archive, paths, options, [&](const Report &r) {
                    if (r.Action == PX_ACTION_STEP && r.FileSize > 0 && ++done == stopAt + 5)
                        ::raise(SIGKILL);
                    return false;
                });
                ::_exit(0);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            EXPECT_EQ(ReadFile(archive), before);
            EXPECT_EQ(FilesIn(dir.Path()), files);
        }
}

} // namespace
} // namespace pellux::test
