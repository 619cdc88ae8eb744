// libpxzip.so writing archives on several cores: the same archive whatever the number of
// workers, large files split into chunks of one deflate stream, sparse files read by
// their data only, entries that stay copied byte for byte, and no trace of a write that
// did not finish.
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
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

// A file of `size` bytes that is all hole but for `pieces` (offset, bytes); false where
// the file system keeps no holes.
bool WriteSparse(const std::string &path, off_t size, const std::vector<std::pair<off_t, std::string>> &pieces)
{
    fs::create_directories(fs::path(path).parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool written = fd >= 0 && ::ftruncate(fd, size) == 0;
    for (const auto &[at, bytes] : pieces)
        written = written && ::pwrite(fd, bytes.data(), bytes.size(), at) == static_cast<ssize_t>(bytes.size());
    struct stat st {};
    written = written && ::fstat(fd, &st) == 0;
    if (fd >= 0)
        ::close(fd);
    EXPECT_TRUE(written) << path;
    return written && st.st_blocks * 512 < size;
}

// Bytes this process has read from files so far.
std::uint64_t BytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return 0;
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

// Whichever compressor a chunk gets (zlib; libdeflate's near-optimal level for data of
// few byte values and binaries; its lazy level, unprimed, after a trial on the first
// chunk), no entry is larger than zip -9 makes it, and peers read the chunks joined.
// The log's chunks end with 2 and 5 bits to spare before the stored block that reopens
// them; bytes spread like noise's are still deflated where they repeat.
TEST_F(ParallelWriteTest, NoEntryComesOutLargerThanZipMakesItAtLevelNine)
{
    std::mt19937 rng(3);
    std::string dna, numbers;
    while (dna.size() < 300000)
        dna += (dna.size() % 61 == 60) ? '\n' : "ACGT"[rng() % 4];
    for (int i = 1; numbers.size() < 400000; ++i)
        numbers += std::to_string(i) + "\n";
    dir.Write("src/genome.fa", dna);
    std::string records; // as programs and tables hold them: small numbers in wide fields
    while (records.size() < 300000) {
        const std::uint32_t n = rng() % 70000;
        records.append(reinterpret_cast<const char *>(&n), sizeof n).append(LogText(rng() % 12, rng()));
    }
    dir.Write("src/records.bin", records);
    dir.Write("src/numbers.txt", numbers);
    dir.Write("src/access.log", LogText(13 << 20, 12)); // several chunks
    dir.Write("src/notes.txt", LogText(50000, 8));
    std::string repeated;
    for (const std::string noise = RandomBytes(16 << 10, 9); repeated.size() < (128 << 10);)
        repeated += noise; // bytes spread as noise's, yet most of it matches
    dir.Write("src/repeated.bin", repeated);
    const auto run = RunZip(archive, {dir.File("src")}, ZipOptions{});
    ASSERT_EQ(run.Result, 6);
    ASSERT_FALSE(run.HasError());
    ASSERT_EQ(RunIn(dir.Path().string(), "zip -q -r -9 peer.zip src"), 0);
    EXPECT_EQ(RunShell("unzip -tqq " + Quote(archive) + " >/dev/null"), 0);
    EXPECT_EQ(RunShell("7z t " + Quote(archive) + " >/dev/null"), 0);
    std::string over;
    RunPython(
        "import zipfile\n"
        "ours={i.filename:i.compress_size for i in zipfile.ZipFile('"
            + archive
            + "').infolist()}\n"
              "for i in zipfile.ZipFile('"
            + dir.File("peer.zip")
            + "').infolist():\n"
              "  if ours[i.filename]>i.compress_size*1.01+8: print(i.filename,ours[i.filename],i.compress_size)\n",
        &over);
    EXPECT_EQ(over, "");
}

// Holes are not read, and come out as the same file written in full would: chunks of
// zeros after zeros share one compressed form. Past the last data the file ends in a hole.
TEST_F(ParallelWriteTest, ASparseFileIsReadByItsDataAndComesOutAsTheFileInFull)
{
    constexpr off_t kMiB = 1 << 20;
    const std::vector<std::pair<off_t, std::string>> pieces{
        {9 * kMiB - 5000, LogText(kMiB + 777, 1)}, // across a chunk's end
        {40 * kMiB, std::string(6 * kMiB, '\0')},  // zeros written, not a hole
        {52 * kMiB - 100, RandomBytes(200000, 2)},
        {90 * kMiB, LogText(300000, 3)}};
    if (!WriteSparse(dir.File("sparse/disk.img"), 100 * kMiB, pieces))
        GTEST_SKIP() << "no sparse files here";
    {
        fs::create_directories(dir.File("dense"));
        std::ofstream dense(dir.File("dense/disk.img"), std::ios::binary);
        const std::string zeros(kMiB, '\0');
        for (off_t at = 0; at < 100 * kMiB; at += kMiB)
            dense.write(zeros.data(), kMiB);
        for (const auto &[at, bytes] : pieces) {
            dense.seekp(at);
            dense.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
    }
    for (const auto *file : {"sparse/disk.img", "dense/disk.img"}) {
        const timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
        ::utimensat(AT_FDCWD, dir.File(file).c_str(), times, 0);
    }

    SetWorkers(2);
    ZipOptions flat;
    flat.DirNames = false;
    const std::uint64_t readBefore = BytesRead();
    ASSERT_EQ(RunZip(archive, {dir.File("sparse/disk.img")}, flat).Result, 1);
    EXPECT_LT(BytesRead() - readBefore, 16u << 20); // of 100 MiB, under 8 are data
    const std::string denseArchive = dir.File("dense.zip");
    ASSERT_EQ(RunZip(denseArchive, {dir.File("dense/disk.img")}, flat).Result, 1);
    EXPECT_EQ(RawEntries(archive), RawEntries(denseArchive));
    EXPECT_LT(fs::file_size(archive), 1u << 20);

    EXPECT_EQ(RunShell("unzip -tqq " + Quote(archive) + " >/dev/null"), 0);
    EXPECT_EQ(RunShell("7z t " + Quote(archive) + " >/dev/null"), 0);
    std::string sums;
    RunPython("import hashlib,zipfile\n"
              "h=hashlib.sha256()\n"
              "with zipfile.ZipFile('"
                  + archive
                  + "').open('disk.img') as f:\n"
                    "  while b:=f.read(1<<20): h.update(b)\n"
                    "print(h.hexdigest()==hashlib.sha256(open('"
                  + dir.File("sparse/disk.img") + "','rb').read()).hexdigest())\n",
              &sums);
    EXPECT_EQ(sums, "True\n");
}

// Stored and encrypted, the shared chunk of zeros is written as often as it comes and
// never ciphered in place.
TEST_F(ParallelWriteTest, ASparseFileStoredOrEncryptedKeepsEveryHoleZero)
{
    constexpr off_t kMiB = 1 << 20;
    const std::string file = dir.File("disk.img");
    if (!WriteSparse(file, 24 * kMiB, {{3 * kMiB, LogText(kMiB, 4)}, {20 * kMiB + 9, "end of the data"}}))
        GTEST_SKIP() << "no sparse files here";
    const std::string cli = Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli");
    dir.Write("pw.txt", "pw\n");
    for (const char *level : {"0", "6"}) {
        SCOPED_TRACE(level);
        fs::remove(archive);
        ASSERT_EQ(RunShell(cli + " add -q " + Quote(archive) + " --level " + level + " --encrypt --password-file "
                           + Quote(dir.File("pw.txt")) + " " + Quote(file)),
                  0);
        EXPECT_EQ(RunShell("7z t -ppw " + Quote(archive) + " >/dev/null"), 0);
        EXPECT_EQ(RunShell("7z x -so -ppw " + Quote(archive) + " | cmp - " + Quote(file)), 0);
    }
    ZipOptions stored;
    stored.Level = 0;
    fs::remove(archive);
    ASSERT_EQ(RunZip(archive, {file}, stored).Result, 1);
    EXPECT_EQ(RunShell("unzip -p " + Quote(archive) + " | cmp - " + Quote(file)), 0);
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
