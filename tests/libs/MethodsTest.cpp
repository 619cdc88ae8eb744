// Every compression method libpxunz.so decodes: archives from real writers where one
// exists here, from the small encoders of method_zip.py where none does; damaged
// streams; bzip2 split into blocks across workers; memory on a huge entry; pellux-cli
// test.
#include "tests/libs/LibDriver.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;

const std::string kScript = Quote(std::string(PELLUX_TESTS_DIR) + "/method_zip.py");

// Words and noise, with every 40 KiB stretch of noise repeated 60 KiB later: only a
// 64 KiB window reaches back that far.
std::string Corpus(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    auto words = [&](std::size_t bytes) {
        std::string s;
        while (s.size() < bytes)
            s += "word" + std::to_string(rng() % 300) + (rng() % 7 ? " " : "\n");
        return s;
    };
    std::string s;
    while (s.size() < n) {
        std::string noise(40 << 10, '\0');
        for (char &c : noise)
            c = static_cast<char>(rng());
        s += noise + words(20 << 10) + noise + words(5 << 10);
    }
    s.resize(n);
    return s;
}

class MethodsTest : public ::testing::Test {
protected:
    TempDir dir;
    TempDir out;

    // Extracts into `out`, compares with the source and removes the copy.
    void ExpectExtractsEqual(const std::string &archive, const std::string &source)
    {
        SCOPED_TRACE(archive);
        const auto run = RunUnz(dir.File(archive), {}, UnzOptions{}, out.Path());
        EXPECT_FALSE(run.HasError()) << ::testing::PrintToString(run.Messages());
        EXPECT_EQ(run.Result, 1);
        EXPECT_TRUE(ReadFile(out.File("src.bin")) == source);
        fs::remove(out.File("src.bin"));
    }
    void Encode(const std::string &method, const std::string &archive)
    {
        ASSERT_EQ(RunIn(dir.Path(), "python3 " + kScript + " write " + method + " src.bin " + archive), 0) << method;
    }
};

TEST_F(MethodsTest, ArchivesOfRealWritersExtractEqual)
{
    const std::string source = Corpus(1500000, 1);
    dir.Write("src.bin", source);
    const std::vector<std::pair<std::string, std::string>> writers = {
        {"deflate64.zip", "7z a -tzip -mm=Deflate64 -bd -bso0 deflate64.zip src.bin"},
        {"deflate.zip", "7z a -tzip -mm=Deflate -bd -bso0 deflate.zip src.bin"},
        {"7z-bzip2.zip", "7z a -tzip -mm=BZip2 -bd -bso0 7z-bzip2.zip src.bin"},
        {"7z-lzma.zip", "7z a -tzip -mm=LZMA -bd -bso0 7z-lzma.zip src.bin"},
        {"zip-bzip2.zip", "zip -q -Z bzip2 zip-bzip2.zip src.bin"},
        {"py-bzip2.zip",
         "python3 -c 'import zipfile; zipfile.ZipFile(\"py-bzip2.zip\", \"w\", "
         "zipfile.ZIP_BZIP2).write(\"src.bin\")'"},
        {"py-lzma.zip",
         "python3 -c 'import zipfile; zipfile.ZipFile(\"py-lzma.zip\", \"w\", "
         "zipfile.ZIP_LZMA).write(\"src.bin\")'"},
        // The zstd program writes the stream; only the ZIP around it is ours.
        {"zstd.zip", "python3 " + kScript + " write zstd src.bin zstd.zip"},
    };
    for (const auto &[archive, command] : writers) {
        ASSERT_EQ(RunIn(dir.Path(), command), 0) << command;
        ExpectExtractsEqual(archive, source);
    }
    // The source's repeats lie beyond deflate's 32 KiB: Deflate64 must have used them.
    EXPECT_LT(fs::file_size(dir.File("deflate64.zip")) + 400000, fs::file_size(dir.File("deflate.zip")));
}

// Bytes whose bzip2 symbol map (a 16-bit map of the used ranges of 16 byte values, then
// a 16-bit map per used range) reads 7000 3141 5926 5359: a block of them carries the
// block magic in its header, a false start for a decoder that looks for blocks.
std::string FalseStartBytes(std::size_t n, unsigned seed)
{
    std::string used;
    const unsigned maps[3] = {0x3141, 0x5926, 0x5359};
    for (unsigned range = 0; range < 3; ++range)
        for (unsigned j = 0; j < 16; ++j)
            if ((maps[range] >> (15 - j)) & 1)
                used += static_cast<char>(16 * (range + 1) + j);
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char &c : s)
        c = used[rng() % used.size()];
    return s;
}

TEST_F(MethodsTest, Bzip2BlocksDecodeAlikeOnOneWorkerAndOnSeveral)
{
    // Several 900 kB blocks; then blocks with false starts after good ones.
    const std::string source = Corpus(4000000, 5);
    const std::string tricky = source.substr(0, 2000000) + FalseStartBytes(2500000, 6);
    // Runs of every length up to past 255 (the first stage writes four bytes and a
    // count), every byte value, and a block of one byte only.
    std::string runs(1200000, 'z');
    std::mt19937 rng(7);
    for (std::size_t at = 0; at < 900000;) {
        const std::size_t n = std::min<std::size_t>(1 + rng() % 300, 900000 - at);
        std::fill_n(runs.begin() + static_cast<std::ptrdiff_t>(at), n, static_cast<char>(rng()));
        at += n;
    }
    dir.Write("src.bin", source);
    dir.Write("tricky.bin", tricky);
    dir.Write("runs.bin", runs);
    ASSERT_EQ(RunIn(dir.Path(), "7z a -tzip -mm=BZip2 -bd -bso0 7z.zip src.bin tricky.bin runs.bin"), 0);
    ASSERT_EQ(RunIn(dir.Path(), "zip -q -Z bzip2 zip.zip src.bin tricky.bin runs.bin"), 0);
    ASSERT_EQ(RunIn(dir.Path(), "zip -q -Z bzip2 one.zip src.bin"), 0);
    ScopedEnv env;
    std::vector<std::string> damage[2];
    for (const char *workers : {"1", "3"}) {
        env.Set("PELLUX_UNZ_WORKERS", workers);
        for (const char *archive : {"7z.zip", "zip.zip"}) {
            SCOPED_TRACE(std::string(archive) + " on " + workers);
            const auto run = RunUnz(dir.File(archive), {}, UnzOptions{}, out.Path());
            EXPECT_FALSE(run.HasError()) << ::testing::PrintToString(run.Messages());
            EXPECT_TRUE(ReadFile(out.File("src.bin")) == source);
            EXPECT_TRUE(ReadFile(out.File("tricky.bin")) == tricky);
            EXPECT_TRUE(ReadFile(out.File("runs.bin")) == runs);
            for (const char *name : {"src.bin", "tricky.bin", "runs.bin"})
                fs::remove(out.File(name));
        }
        // A block cut or damaged midway: the same message as libbz2 alone gives.
        for (const char *how : {"cut", "flip"}) {
            ASSERT_EQ(RunIn(dir.Path(), "python3 " + kScript + " damage one.zip bad.zip " + how), 0);
            const auto run = RunUnz(dir.File("bad.zip"), {}, UnzOptions{}, out.Path());
            EXPECT_TRUE(fs::is_empty(out.Path()));
            damage[workers[0] == '3'].push_back(::testing::PrintToString(run.Messages()));
        }
    }
    EXPECT_EQ(damage[0], damage[1]);
    EXPECT_NE(damage[0][0].find("cannot extract src.bin: corrupt bzip2 data"), std::string::npos) << damage[0][0];
}

TEST_F(MethodsTest, PpmdArchivesOf7ZipExtractEqual)
{
    if (RunIn(dir.Path(), "command -v 7z >/dev/null") != 0)
        GTEST_SKIP() << "7z is not installed";
    // Past 1 MiB of model memory many times over: restart (-mx=5) and cut-off (-mx=9)
    // run again and again, with the allocator's gluing of free blocks in between.
    const std::string source = Corpus(2500000, 4);
    dir.Write("src.bin", source);
    for (const char *options : {"-mx=5", "-mx=9", "-mx=5 -mmem=1m -mo=2", "-mx=9 -mmem=1m -mo=16"}) {
        ASSERT_EQ(RunIn(dir.Path(),
                        std::string("rm -f p.zip && 7z a -tzip -mm=PPMd -bd -bso0 ") + options + " p.zip src.bin"),
                  0)
            << options;
        SCOPED_TRACE(options);
        ExpectExtractsEqual("p.zip", source);
    }
}

TEST_F(MethodsTest, OldMethodsFromTestEncodersExtractEqual)
{
    // Past the dictionaries: shrink's 8192 codes fill and are partly cleared.
    const std::string source = Corpus(150000, 2);
    dir.Write("src.bin", source);
    for (const char *method : {"shrink", "reduce1", "reduce2", "reduce3", "reduce4", "implode4k", "implode8k",
                               "implode4k-lit", "implode8k-lit"}) {
        const std::string archive = std::string(method) + ".zip";
        Encode(method, archive);
        ExpectExtractsEqual(archive, source);
        // 7-Zip decodes shrink and implode (not reduce): the encoders hold to the format.
        if (archive.rfind("reduce", 0) != 0) {
            EXPECT_EQ(RunIn(dir.Path(), "7z t -bso0 -bse0 " + archive), 0) << archive;
        }
    }
}

TEST_F(MethodsTest, DamagedStreamsFailByNameAndLeaveNoFile)
{
    dir.Write("src.bin", Corpus(300000, 3));
    const std::vector<std::pair<std::string, std::string>> archives = {
        {"7z a -tzip -mm=Deflate -bd -bso0 m.zip src.bin", "deflate"},
        {"7z a -tzip -mm=Deflate64 -bd -bso0 m.zip src.bin", "Deflate64"},
        {"7z a -tzip -mm=BZip2 -bd -bso0 m.zip src.bin", "bzip2"},
        {"7z a -tzip -mm=LZMA -bd -bso0 m.zip src.bin", "LZMA"},
        {"7z a -tzip -mm=PPMd -bd -bso0 m.zip src.bin", "PPMd"},
        {"python3 " + kScript + " write zstd src.bin m.zip", "zstd"},
        {"python3 " + kScript + " write shrink src.bin m.zip", "shrink"},
        {"python3 " + kScript + " write reduce3 src.bin m.zip", "reduce"},
        {"python3 " + kScript + " write implode8k-lit src.bin m.zip", "implode"},
        {"python3 " + kScript + " write implode4k src.bin m.zip", "implode"},
    };
    for (const auto &[command, method] : archives) {
        ASSERT_EQ(RunIn(dir.Path(), "rm -f m.zip && " + command), 0) << command;
        for (const char *how : {"cut", "empty", "flip"}) {
            SCOPED_TRACE(method + " " + how);
            ASSERT_EQ(RunIn(dir.Path(), "python3 " + kScript + " damage m.zip bad.zip " + how), 0);
            const auto run = RunUnz(dir.File("bad.zip"), {}, UnzOptions{}, out.Path());
            ASSERT_EQ(run.Messages().size(), 1u);
            const std::string message = run.Messages()[0];
            EXPECT_EQ(message.rfind("cannot extract src.bin: ", 0), 0u) << message;
            // A flipped byte may still decode, and then the CRC tells.
            if (std::string(how) != "flip") {
                EXPECT_NE(message.find("corrupt " + method + " data"), std::string::npos) << message;
            }
            EXPECT_EQ(run.Result, 0);
            EXPECT_TRUE(fs::is_empty(out.Path()));
        }
    }
}

TEST_F(MethodsTest, UnknownMethodIsSkippedWithItsName)
{
    dir.Write("src.bin", "not really WavPack");
    Encode("wavpack", "wv.zip");
    const auto run = RunUnz(dir.File("wv.zip"), {}, UnzOptions{}, out.Path());
    ASSERT_EQ(run.Messages().size(), 1u);
    EXPECT_EQ(run.Messages()[0], "skipping src.bin: unsupported compression method 97 (WavPack)");
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

TEST_F(MethodsTest, AStreamAskingForTooLargeAWindowIsRefused)
{
    dir.Write("src.bin", Corpus(100000, 4));
    Encode("zstd-long", "long.zip");
    const auto run = RunUnz(dir.File("long.zip"), {}, UnzOptions{}, out.Path());
    ASSERT_EQ(run.Messages().size(), 1u);
    EXPECT_EQ(run.Messages()[0], "cannot extract src.bin: it needs a window of more than 128 MiB");
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

TEST_F(MethodsTest, CancelInsideAnEntryOfOurOwnDecoderLeavesNoFile)
{
    ASSERT_EQ(RunIn(dir.Path(), "python3 " + kScript + " big64 20000000 big.zip"), 0);
    UnzOptions options;
    options.FileSizeLimit = 64u << 20;
    int steps = 0;
    const auto run = RunUnz(dir.File("big.zip"), {}, options, out.Path(),
                            [&](const Report &r) { return r.Action == PX_ACTION_STEP && ++steps == 3; });
    EXPECT_EQ(run.Result, 0);
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

// The peak resident memory of a pellux-cli child, in KiB.
long ChildPeakKiB(const std::vector<std::string> &args)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char *> argv;
        for (const auto &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

TEST_F(MethodsTest, AGigabyteEntryExtractsInBoundedMemory)
{
    ASSERT_EQ(RunIn(dir.Path(), "python3 " + kScript + " big64 1073741824 big.zip"), 0);
    const long peak = ChildPeakKiB(
        {std::string(PELLUX_BIN_DIR) + "/pellux-cli", "extract", dir.File("big.zip"), "-d", out.Path().string()});
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 64 << 10) << peak << " KiB";
    EXPECT_EQ(fs::file_size(out.File("big.bin")), 1u << 30);
    RecordProperty("PeakKiB", static_cast<int>(peak));
}

TEST_F(MethodsTest, CliTestNamesEachFailingEntryAndWritesNothing)
{
    PythonZip(dir.File("good.zip"),
              "add('a.txt', b'alpha' * 1000)\nadd('b.txt', b'beta' * 1000)\n"
              "add('sub/', b'')\nadd('c.bin', bytes(range(256)) * 300)");
    // The second entry's data changed, the others intact.
    ASSERT_EQ(RunIn(dir.Path(),
                    "python3 -c 'import zipfile\n"
                    "z = zipfile.ZipFile(\"good.zip\")\n"
                    "i = z.getinfo(\"b.txt\")\n"
                    "d = bytearray(open(\"good.zip\", \"rb\").read())\n"
                    "d[i.header_offset + 30 + len(i.filename) + i.compress_size // 2] ^= 0xFF\n"
                    "open(\"bad.zip\", \"wb\").write(d)\n"
                    "open(\"cut.zip\", \"wb\").write(d[:i.header_offset + 40])'"),
              0);
    const std::string cli = Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli");
    const auto test = [&](const std::string &archive, std::string &stdoutText, std::string &err) {
        const int status = RunIn(
            out.Path(), "LC_ALL=C " + cli + " test " + Quote(dir.File(archive)) + " 2>" + Quote(dir.File("err.txt")),
            &stdoutText);
        err = ReadFile(dir.File("err.txt"));
        return status;
    };
    std::string stdoutText, err;
    EXPECT_EQ(test("good.zip", stdoutText, err), 0);
    EXPECT_EQ(stdoutText, "3 files tested, 0 failed\n");
    EXPECT_EQ(err, "");
    // A flipped byte: corrupt deflate data or a CRC mismatch, on one line naming it.
    EXPECT_EQ(test("bad.zip", stdoutText, err), 1);
    EXPECT_EQ(stdoutText, "3 files tested, 1 failed\n");
    EXPECT_EQ(err.rfind("b.txt: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    // Cut inside its second entry: never a pass.
    EXPECT_EQ(test("cut.zip", stdoutText, err), 1);
    EXPECT_NE(stdoutText, "3 files tested, 0 failed\n");
    EXPECT_NE(err, "");
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

} // namespace
} // namespace pellux::test
