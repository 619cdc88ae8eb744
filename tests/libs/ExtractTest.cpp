// libpxunz.so extracting archives written by zip, Python, 7z and libpxzip.so itself.
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;

std::string Mixed(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n)
        s += (rng() % 3 == 0) ? std::string(1, char(rng())) : "word" + std::to_string(rng() % 50) + " ";
    return s.substr(0, n);
}

class ExtractTest : public ::testing::Test {
protected:
    TempDir dir;
    TempDir out;
    std::string src = dir.File("tree");

    void MakeTree()
    {
        dir.Write("tree/a.txt", "alpha\n");
        dir.Write("tree/empty", "");
        dir.Write("tree/sub/b.bin", Mixed(700000, 3));
        dir.Write("tree/sub/deep/c.txt", Mixed(5000, 4));
    }
    UnzOptions Plain() { return UnzOptions{}; }
};

TEST_F(ExtractTest, ArchivesWrittenByPeersExtractEqual)
{
    MakeTree();
    const std::vector<std::pair<std::string, std::string>> writers = {
        {"zip.zip", "zip -qr zip.zip tree"},
        {"7z.zip", "7z a -tzip -bd -bso0 7z.zip tree"},
        {"py.zip", "python3 -c 'import shutil; shutil.make_archive(\"py\", \"zip\", \".\", \"tree\")'"},
        {"store.zip", "zip -qr0 store.zip tree"},
        {"7z-bzip2.zip", "7z a -tzip -mm=BZip2 -bd -bso0 7z-bzip2.zip tree"},
        {"7z-lzma.zip", "7z a -tzip -mm=LZMA -bd -bso0 7z-lzma.zip tree"},
        {"py-lzma.zip",
         "python3 -c 'import zipfile, os\n"
         "with zipfile.ZipFile(\"py-lzma.zip\", \"w\", zipfile.ZIP_LZMA) as z:\n"
         "    for root, dirs, files in os.walk(\"tree\"):\n"
         "        for f in files: z.write(os.path.join(root, f))'"},
    };
    for (const auto &[name, command] : writers) {
        SCOPED_TRACE(name);
        ASSERT_EQ(RunIn(dir.Path(), command), 0);
        TempDir target;
        const auto run = RunUnz(dir.File(name), {}, Plain(), target.Path());
        EXPECT_EQ(run.Result, 4);
        EXPECT_FALSE(run.HasError());
        EXPECT_EQ(run.Ends(), 1);
        EXPECT_EQ(TreeListing(target.File("tree")), TreeListing(src));
    }
}

TEST_F(ExtractTest, XzEntriesExtract)
{
    // Neither zip nor Python writes method 95; the stream comes from Python's lzma.
    MakeTree();
    ASSERT_EQ(RunIn(dir.Path(),
                    "python3 -c 'import lzma, struct, zlib\n"
                    "data = open(\"tree/sub/b.bin\", \"rb\").read()\n"
                    "packed = lzma.compress(data, format=lzma.FORMAT_XZ)\n"
                    "crc, name = zlib.crc32(data), b\"b.bin\"\n"
                    "sizes = (crc, len(packed), len(data), len(name))\n"
                    "local = struct.pack(\"<IHHHI\", 0x04034B50, 63, 0, 95, 0)\n"
                    "local += struct.pack(\"<IIIHH\", *sizes, 0) + name + packed\n"
                    "central = struct.pack(\"<IHHHHI\", 0x02014B50, 63, 63, 0, 95, 0)\n"
                    "central += struct.pack(\"<IIIHHHHHII\", *sizes, 0, 0, 0, 0, 0, 0) + name\n"
                    "end = struct.pack(\"<IHHHHIIH\", 0x06054B50, 0, 0, 1, 1, len(central), len(local), 0)\n"
                    "open(\"xz.zip\", \"wb\").write(local + central + end)'"),
              0);
    const auto run = RunUnz(dir.File("xz.zip"), {}, Plain(), out.Path());
    EXPECT_EQ(run.Result, 1);
    EXPECT_FALSE(run.HasError());
    EXPECT_EQ(ReadFile(out.File("b.bin")), ReadFile(dir.File("tree/sub/b.bin")));
}

TEST_F(ExtractTest, OurOwnArchivesRoundTrip)
{
    MakeTree();
    ASSERT_EQ(RunZip(dir.File("own.zip"), {src}, ZipOptions{}).Result, 4);
    const auto run = RunUnz(dir.File("own.zip"), {}, Plain(), out.Path());
    EXPECT_EQ(run.Result, 4);
    EXPECT_EQ(TreeListing(out.File("tree")), TreeListing(src));
}

TEST_F(ExtractTest, SelectedNamesOnlyAndUnmatchedNamesAreErrors)
{
    MakeTree();
    ASSERT_EQ(RunIn(dir.Path(), "zip -qr z.zip tree"), 0);
    const auto run = RunUnz(dir.File("z.zip"), {"tree/sub/deep/c.txt", "tree/nothing"}, Plain(), out.Path());
    EXPECT_EQ(run.Result, 1);
    EXPECT_TRUE(run.HasError());
    EXPECT_TRUE(fs::exists(out.File("tree/sub/deep/c.txt")));
    EXPECT_FALSE(fs::exists(out.File("tree/a.txt")));
}

TEST_F(ExtractTest, WithoutDirNamesOnlyBaseNamesAreUsed)
{
    MakeTree();
    ASSERT_EQ(RunIn(dir.Path(), "zip -qr z.zip tree"), 0);
    UnzOptions junk;
    junk.DirNames = false;
    EXPECT_EQ(RunUnz(dir.File("z.zip"), {}, junk, out.Path()).Result, 4);
    EXPECT_TRUE(fs::exists(out.File("b.bin")));
    EXPECT_TRUE(fs::exists(out.File("c.txt")));
    EXPECT_FALSE(fs::exists(out.File("tree")));
}

TEST_F(ExtractTest, ExistingFilesAreKeptAndReportedUnlessOverwriting)
{
    PythonZip(dir.File("z.zip"), "add('f.txt', b'from archive')\nadd('g.txt', b'g')");
    out.Write("f.txt", "mine");
    const auto kept = RunUnz(dir.File("z.zip"), {}, Plain(), out.Path());
    EXPECT_EQ(kept.Result, 1);
    EXPECT_FALSE(kept.HasError()); // a warning, not an error
    ASSERT_EQ(kept.Messages().size(), 1u);
    EXPECT_NE(kept.Messages()[0].find("f.txt"), std::string::npos);
    EXPECT_EQ(ReadFile(out.File("f.txt")), "mine");

    UnzOptions overwrite;
    overwrite.Overwrite = true;
    EXPECT_EQ(RunUnz(dir.File("z.zip"), {}, overwrite, out.Path()).Result, 2);
    EXPECT_EQ(ReadFile(out.File("f.txt")), "from archive");
}

TEST_F(ExtractTest, FreshenAndUpdateReplaceOnlyOlderFiles)
{
    // Entries dated 2020-05-17.
    PythonZip(dir.File("z.zip"),
              "add('old.txt', b'archive')\nadd('new.txt', b'archive')\nadd('absent.txt', b'archive')");
    out.Write("old.txt", "disk");
    out.Write("new.txt", "disk");
    const timespec past[2] = {{1000000000, 0}, {1000000000, 0}}; // 2001
    ::utimensat(AT_FDCWD, out.File("old.txt").c_str(), past, 0);

    UnzOptions freshen;
    freshen.Freshen = true;
    EXPECT_EQ(RunUnz(dir.File("z.zip"), {}, freshen, out.Path()).Result, 1);
    EXPECT_EQ(ReadFile(out.File("old.txt")), "archive");
    EXPECT_EQ(ReadFile(out.File("new.txt")), "disk");
    EXPECT_FALSE(fs::exists(out.File("absent.txt")));

    UnzOptions update;
    update.Update = true;
    update.Freshen = true; // update wins
    EXPECT_EQ(RunUnz(dir.File("z.zip"), {}, update, out.Path()).Result, 1);
    EXPECT_EQ(ReadFile(out.File("absent.txt")), "archive");
    EXPECT_EQ(ReadFile(out.File("new.txt")), "disk");
}

TEST_F(ExtractTest, RestoresTimesAndPermissionsButNeverSetUidOrSetGid)
{
    PythonZip(dir.File("z.zip"),
              "add('tool', b'#!/bin/sh\\n', mode=0o106755)\n"
              "add('private.txt', b'p', mode=0o100600)\n"
              "add('ro/', b'', mode=0o40555)\nadd('ro/in.txt', b'i', mode=0o100644)");
    EXPECT_EQ(RunUnz(dir.File("z.zip"), {}, Plain(), out.Path()).Result, 3);
    struct stat st {};
    ASSERT_EQ(::stat(out.File("tool").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(::stat(out.File("private.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    struct tm when {};
    localtime_r(&st.st_mtime, &when);
    EXPECT_EQ(when.tm_year + 1900, 2020);
    EXPECT_EQ(when.tm_hour, 12);
    EXPECT_EQ(when.tm_min, 30);
    ASSERT_EQ(::stat(out.File("ro").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0555u); // applied after its contents were written
    EXPECT_EQ(ReadFile(out.File("ro/in.txt")), "i");
}

TEST_F(ExtractTest, ExtendedTimestampsAfter2038StayInTheFuture)
{
    // zip writes the time as an unsigned 32-bit count: 2040 lies past the signed range.
    dir.Write("late.txt", "from 2040");
    const std::time_t late = 2208988800; // 2040-01-01 00:00:00 UTC
    const timespec times[2] = {{late, 0}, {late, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.File("late.txt").c_str(), times, 0), 0);
    ASSERT_EQ(RunIn(dir.Path(), "zip -q late.zip late.txt"), 0);
    dir.Write("other.txt", "o");
    for (bool rewritten : {false, true}) {
        // The second time the archive has been rewritten by an add, which keeps the field.
        if (rewritten) {
            ASSERT_EQ(RunZip(dir.File("late.zip"), {dir.File("other.txt")}, ZipOptions{}).Result, 1);
        }
        fs::remove_all(out.Path() / "late.txt");
        ASSERT_GE(RunUnz(dir.File("late.zip"), {"late.txt"}, Plain(), out.Path()).Result, 1);
        struct stat st {};
        ASSERT_EQ(::stat(out.File("late.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, late) << (rewritten ? "after an add" : "as zip wrote it");
    }
}

TEST_F(ExtractTest, ACorruptEntryLeavesNoFileAndTheRestGoesOn)
{
    PythonZip(dir.File("z.zip"),
              "add('bad.txt', b'payload-payload', method=zipfile.ZIP_STORED)\nadd('good.txt', b'good')");
    // Flip one byte of the stored data: the CRC no longer matches.
    std::string bytes = ReadFile(dir.File("z.zip"));
    const auto at = bytes.find("payload-payload");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'X';
    dir.Write("z.zip", bytes);
    const auto run = RunUnz(dir.File("z.zip"), {}, Plain(), out.Path());
    EXPECT_EQ(run.Result, 1);
    EXPECT_TRUE(run.HasError());
    EXPECT_FALSE(fs::exists(out.File("bad.txt")));
    EXPECT_TRUE(fs::exists(out.File("good.txt")));
    EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 1);
}

TEST_F(ExtractTest, LargeEntriesAreCheckedAsTheyAreWritten)
{
    // Entries this large are written, and their CRC taken, on a second thread; the
    // deflated one is also too large to be inflated whole.
    ASSERT_EQ(RunIn(dir.Path(),
                    "python3 -c 'import random, zipfile\n"
                    "r = random.Random(7)\n"
                    "d = b\"\".join(r.randbytes(2000) + b\"word \" * 600 for _ in range(1300))\n"
                    "open(\"d.bin\", \"wb\").write(d)\n"
                    "with zipfile.ZipFile(\"z.zip\", \"w\") as z:\n"
                    "    z.writestr(\"good.bin\", d, zipfile.ZIP_DEFLATED)\n"
                    "    z.writestr(\"bad.bin\", d, zipfile.ZIP_STORED)\n"
                    "    z.writestr(\"last.txt\", b\"l\")\n"
                    "i = zipfile.ZipFile(\"z.zip\").getinfo(\"bad.bin\")\n"
                    "b = bytearray(open(\"z.zip\", \"rb\").read())\n"
                    "b[i.header_offset + 30 + len(i.filename) + i.file_size // 2] ^= 1\n"
                    "open(\"z.zip\", \"wb\").write(b)'"),
              0);
    const auto run = RunUnz(dir.File("z.zip"), {}, Plain(), out.Path());
    EXPECT_EQ(run.Result, 2);
    EXPECT_EQ(run.Messages(), std::vector<std::string>{"cannot extract bad.bin: CRC mismatch"});
    EXPECT_TRUE(ReadFile(out.File("good.bin")) == ReadFile(dir.File("d.bin")));
    EXPECT_EQ(ReadFile(out.File("last.txt")), "l");
    EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 2);
    // Testing takes the same way, without the writing.
    std::string printed;
    EXPECT_EQ(RunIn(out.Path(),
                    "LC_ALL=C " + Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli") + " test "
                        + Quote(dir.File("z.zip")) + " 2>&1",
                    &printed),
              1);
    EXPECT_NE(printed.find("bad.bin: CRC mismatch"), std::string::npos) << printed;
    EXPECT_NE(printed.find("3 files tested, 1 failed"), std::string::npos) << printed;
}

TEST_F(ExtractTest, NamesOnDiskFollowTheNameRule)
{
    // zip on Linux stores UTF-8 bytes without the UTF-8 flag.
    dir.Write("n/Grüße.txt", "utf8");
    ASSERT_EQ(RunIn(dir.File("n"), "LC_ALL=C.UTF-8 zip -q ../u.zip Grüße.txt"), 0);
    EXPECT_EQ(RunUnz(dir.File("u.zip"), {}, Plain(), out.Path()).Result, 1);
    EXPECT_EQ(ReadFile(out.File("Grüße.txt")), "utf8");

    // Bytes that are not UTF-8 are code page 437: 0x81 is "ü".
    PythonZip(dir.File("c.zip"), "add('Xber.txt', b'cp437')");
    std::string bytes = ReadFile(dir.File("c.zip"));
    for (std::size_t at; (at = bytes.find("Xber.txt")) != std::string::npos;)
        bytes[at] = '\x81';
    dir.Write("c.zip", bytes);
    EXPECT_EQ(RunUnz(dir.File("c.zip"), {}, Plain(), out.Path()).Result, 1);
    EXPECT_EQ(ReadFile(out.File("über.txt")), "cp437");

    // A Unicode Path field whose CRC matches the stored name wins.
    PythonZip(dir.File("p.zip"),
              "import struct, zlib\n"
              "u = 'Ω-name.txt'.encode()\n"
              "i = zipfile.ZipInfo('plain.txt')\n"
              "i.extra = struct.pack('<HHBI', 0x7075, 5 + len(u), 1, zlib.crc32(b'plain.txt')) + u\n"
              "z.writestr(i, b'unicode')\n"
              "i = zipfile.ZipInfo('stale.txt')\n"
              "i.extra = struct.pack('<HHBI', 0x7075, 5 + len(u), 1, 12345) + u\n"
              "z.writestr(i, b'stale')");
    EXPECT_EQ(RunUnz(dir.File("p.zip"), {}, Plain(), out.Path()).Result, 2);
    EXPECT_EQ(ReadFile(out.File("Ω-name.txt")), "unicode");
    EXPECT_EQ(ReadFile(out.File("stale.txt")), "stale");
}

TEST_F(ExtractTest, SelfExtractingArchivesExtractLikePlainOnes)
{
    dir.Write("t/x.txt", "inside");
    ASSERT_EQ(RunIn(dir.File("t"), "zip -q ../plain.zip x.txt"), 0);
    dir.Write("sfx.exe", std::string(20000, '\x7f') + ReadFile(dir.File("plain.zip")));
    // Offsets left as they were, as a plain concatenation leaves them ...
    const auto unadjusted = RunUnz(dir.File("sfx.exe"), {}, Plain(), out.Path());
    EXPECT_EQ(unadjusted.Result, 1);
    EXPECT_FALSE(unadjusted.HasError());
    EXPECT_EQ(ReadFile(out.File("x.txt")), "inside");
    // ... and adjusted, as converters do.
    ASSERT_EQ(RunIn(dir.Path(), "zip -qA sfx.exe"), 0);
    fs::remove(out.File("x.txt"));
    EXPECT_EQ(RunUnz(dir.File("sfx.exe"), {}, Plain(), out.Path()).Result, 1);
    EXPECT_EQ(ReadFile(out.File("x.txt")), "inside");
}

TEST_F(ExtractTest, EncryptedEntriesAreSkippedWithAMessage)
{
    dir.Write("t/secret.txt", "s");
    dir.Write("t/open.txt", "o");
    ASSERT_EQ(RunIn(dir.File("t"), "zip -q -P pw ../e.zip secret.txt && zip -q ../e.zip open.txt"), 0);
    const auto run = RunUnz(dir.File("e.zip"), {}, Plain(), out.Path());
    EXPECT_EQ(run.Result, 1);
    EXPECT_TRUE(run.HasError());
    ASSERT_EQ(run.Messages().size(), 1u);
    EXPECT_NE(run.Messages()[0].find("encrypted"), std::string::npos);
    EXPECT_FALSE(fs::exists(out.File("secret.txt")));
}

TEST_F(ExtractTest, UnknownCompressionMethodsAreSkippedWithAMessage)
{
    PythonZip(dir.File("m.zip"), "add('odd.bin', b'data', method=zipfile.ZIP_STORED)\nadd('fine.txt', b'f')");
    // Method 77 in the local header (offset 8) and the central header (offset 10).
    std::string bytes = ReadFile(dir.File("m.zip"));
    const auto local = bytes.find("PK\x03\x04");
    const auto central = bytes.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    bytes[local + 8] = 77;
    bytes[central + 10] = 77;
    dir.Write("m.zip", bytes);
    const auto run = RunUnz(dir.File("m.zip"), {}, Plain(), out.Path());
    EXPECT_EQ(run.Result, 1);
    ASSERT_EQ(run.Messages().size(), 1u);
    EXPECT_EQ(run.Messages()[0], "skipping odd.bin: unsupported compression method 77");
    EXPECT_FALSE(fs::exists(out.File("odd.bin")));
    EXPECT_TRUE(fs::exists(out.File("fine.txt")));
}

TEST_F(ExtractTest, CancelInsideAFileLeavesNoPartOfIt)
{
    // Inflated whole, and stored: copied while a second thread writes.
    for (const std::string level : {"-6", "-0"}) {
        SCOPED_TRACE(level);
        dir.Write("t/first.txt", "1");
        dir.Write("t/large.bin", Mixed(std::size_t(6) << 20, 5));
        dir.Write("t/last.txt", "3");
        ASSERT_EQ(RunIn(dir.File("t"), "rm -f ../z.zip && zip -q " + level + " ../z.zip first.txt large.bin last.txt"),
                  0);
        fs::remove_all(out.Path());
        fs::create_directory(out.Path());
        const auto run = RunUnz(dir.File("z.zip"), {}, Plain(), out.Path(),
                                [](const Report &r) { return r.Action == PX_ACTION_STEP && r.FileSize > 0; });
        EXPECT_EQ(run.Result, 1);
        EXPECT_TRUE(fs::exists(out.File("first.txt")));
        EXPECT_FALSE(fs::exists(out.File("large.bin")));
        EXPECT_FALSE(fs::exists(out.File("last.txt")));
        EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 1);
    }
}

TEST_F(ExtractTest, CancelInsideAStoredOrBzip2FileLeavesNoPartOfIt)
{
    // Neither deflated nor over 1 MiB: copied block by block on the caller's thread.
    dir.Write("t/first.txt", "1");
    dir.Write("t/middle.bin", Mixed(400000, 8));
    dir.Write("t/last.txt", "3");
    for (const std::string method : {"store", "bzip2"}) {
        SCOPED_TRACE(method);
        ASSERT_EQ(
            RunIn(dir.File("t"), "rm -f ../z.zip && zip -q -Z " + method + " ../z.zip first.txt middle.bin last.txt"),
            0);
        fs::remove_all(out.Path());
        fs::create_directory(out.Path());
        const auto run = RunUnz(dir.File("z.zip"), {}, Plain(), out.Path(),
                                [](const Report &r) { return r.Action == PX_ACTION_STEP && r.FileSize > 0; });
        EXPECT_EQ(run.Result, 1);
        EXPECT_EQ(ReadFile(out.File("first.txt")), "1");
        // Only first.txt: neither middle.bin, nor its temporary file, nor last.txt.
        EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 1);
    }
}

TEST_F(ExtractTest, AFullDiskEndsTheExtractionAndLeavesNoPartOfAFile)
{
    // Inflated whole, and stored: copied while a second thread writes.
    for (const std::string level : {"-6", "-0"}) {
        SCOPED_TRACE(level);
        dir.Write("t/small.txt", "s");
        dir.Write("t/large.bin", Mixed(std::size_t(3) << 20, 6));
        dir.Write("t/later.txt", "l");
        ASSERT_EQ(RunIn(dir.File("t"), "rm -f ../z.zip && zip -q " + level + " ../z.zip small.txt large.bin later.txt"),
                  0);
        fs::remove_all(out.Path());
        fs::create_directory(out.Path());
        // A file-size limit stands in for a full disk: writes past it fail with EFBIG.
        UnzOptions limited;
        limited.FileSizeLimit = 1 << 20;
        const auto run = RunUnz(dir.File("z.zip"), {}, limited, out.Path());
        EXPECT_EQ(run.Result, 1);
        ASSERT_EQ(run.Messages().size(), 1u);
        EXPECT_NE(run.Messages()[0].find("cannot write large.bin: File too large; extraction stopped"),
                  std::string::npos);
        EXPECT_EQ(ReadFile(out.File("small.txt")), "s");
        EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 1);
    }
}

// Some 3,000 small files of mixed sizes, modes and times in 30 folders and at the top,
// written by zip from inside `many`: names in the archive have no common prefix. One
// file of 600,000 bytes in d12, and with `large`, one of 1.5 MB in each of three folders.
void MakeManyFiles(const TempDir &dir, bool large)
{
    ASSERT_EQ(RunPython("import os, random\n"
                        "os.chdir("
                        + Quote(dir.Path().string())
                        + ")\n"
                          "r = random.Random(7)\n"
                          "def put(p, n):\n"
                          "    data = (r.randbytes(n // 3) + b'some words ' * (n // 11 + 1))[:n]\n"
                          "    open(p, 'wb').write(data)\n"
                          "    os.chmod(p, r.choice([0o644, 0o600, 0o755, 0o640]))\n"
                          "    t = r.randrange(10**9, 19 * 10**8)\n"
                          "    os.utime(p, (t, t))\n"
                          "for d in range(30):\n"
                          "    os.makedirs(f'many/d{d:02}')\n"
                          "    for f in range(100):\n"
                          "        put(f'many/d{d:02}/f{f:03}.txt', r.choice([0, 1, 100, 3000, 20000, 150000]))\n"
                          "    if d % 10 == 5 and "
                        + std::string(large ? "True" : "False")
                        + ":\n"
                          "        put(f'many/d{d:02}/f050.txt', 1500000)\n"
                          "    if d == 12:\n"
                          "        put('many/d12/f040.txt', 600000)\n"
                          "for f in range(10):\n"
                          "    put(f'many/r{f:02}.txt', 500)\n"
                          "for d in range(30):\n"
                          "    os.chmod(f'many/d{d:02}', 0o750 if d % 2 else 0o755)\n"
                          "    os.utime(f'many/d{d:02}', (10**9 + d, 10**9 + d))\n"),
              0);
    ASSERT_EQ(RunIn(dir.File("many"), "zip -qr ../z.zip ."), 0);
}

// The archive's entries in order, without the folders.
std::vector<std::string> FileEntries(const TempDir &dir)
{
    std::string names;
    RunIn(dir.Path(), "unzip -Z1 z.zip | grep -v '/$'", &names);
    std::vector<std::string> out;
    for (std::size_t at = 0, end; (end = names.find('\n', at)) != std::string::npos; at = end + 1)
        out.push_back(names.substr(at, end - at));
    return out;
}

// Every file and folder below `root`: type, mode, time, size and SHA-1.
std::string FullListing(const fs::path &root)
{
    std::string out;
    RunPython("import os, hashlib, stat\n"
              "os.chdir("
                  + Quote(root.string())
                  + ")\n"
                    "for top, dirs, files in os.walk('.'):\n"
                    "    for n in sorted(dirs + files):\n"
                    "        p = os.path.join(top, n); s = os.lstat(p)\n"
                    "        h = hashlib.sha1(open(p, 'rb').read()).hexdigest() if stat.S_ISREG(s.st_mode) else ''\n"
                    "        print(p, oct(s.st_mode), s.st_mtime_ns, s.st_size if h else '', h)\n",
              &out);
    return out;
}

TEST_F(ExtractTest, ManySmallFilesExtractAsUnzipExtractsThem)
{
    MakeManyFiles(dir, true);
    const std::vector<std::string> entries = FileEntries(dir);
    ASSERT_GT(entries.size(), 3000u);
    // Two files already there, kept by both: their warnings come in entry order.
    TempDir peer;
    for (const fs::path &target : {out.Path(), peer.Path()})
        ASSERT_EQ(RunIn(target, "echo mine > r03.txt && echo mine > r07.txt && touch -d @1234567890 r03.txt r07.txt"),
                  0);
    ASSERT_EQ(RunIn(peer.Path(), "unzip -qn " + Quote(dir.File("z.zip"))), 0);
    const auto run = RunUnz(dir.File("z.zip"), {}, Plain(), out.Path());
    EXPECT_EQ(run.Result, static_cast<int>(entries.size()) - 2);
    EXPECT_EQ(FullListing(out.Path()), FullListing(peer.Path()));
    std::vector<std::string> expected, reported;
    for (const auto &name : entries)
        expected.push_back(name == "r03.txt" || name == "r07.txt" ? name + " exists, not overwritten" : name);
    for (const auto &report : run.Reports)
        if (report.Action == PX_ACTION_FILE || report.Action == PX_ACTION_MESSAGE)
            reported.push_back(report.Text);
    EXPECT_EQ(reported, expected);
}

TEST_F(ExtractTest, StoppingAmongManySmallFilesKeepsTheEarlierOnesAndNothingOfTheRest)
{
    // A cancel at one file's report, and a write that fails as on a full disk (the
    // 600,000-byte file against a 512 KiB limit): the files before it are there, and
    // nothing else is, no temporary file either.
    MakeManyFiles(dir, false);
    const std::vector<std::string> entries = FileEntries(dir);
    const auto big = std::find(entries.begin(), entries.end(), "d12/f040.txt");
    ASSERT_NE(big, entries.end());
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel);
        fs::remove_all(out.Path());
        fs::create_directory(out.Path());
        const std::string stopAt = cancel ? entries[1500] : *big;
        UnzOptions options;
        if (!cancel)
            options.FileSizeLimit = 512 << 10;
        const auto run = RunUnz(dir.File("z.zip"), {}, options, out.Path(), [&](const Report &r) {
            return cancel && r.Action == PX_ACTION_FILE && r.Text == stopAt;
        });
        const auto at = std::find(entries.begin(), entries.end(), stopAt);
        std::vector<std::string> before(entries.begin(), at), onDisk;
        for (const auto &file : fs::recursive_directory_iterator(out.Path()))
            if (!file.is_directory())
                onDisk.push_back(fs::relative(file.path(), out.Path()).string());
        std::sort(before.begin(), before.end());
        std::sort(onDisk.begin(), onDisk.end());
        EXPECT_EQ(onDisk, before);
        EXPECT_EQ(run.Result, static_cast<int>(before.size()));
        if (!cancel) {
            EXPECT_EQ(run.Messages(),
                      std::vector<std::string>{"cannot write d12/f040.txt: File too large; extraction stopped"});
        }
    }
}

TEST_F(ExtractTest, AmongManySmallFilesACorruptOneAndASecondNameForOneFileAreHandledAsAlone)
{
    // Enough small files to be written two at a time; among them a stored entry whose
    // data no longer matches its CRC, and "./f11.txt" right after "f11.txt": the later wins.
    PythonZip(dir.File("z.zip"),
              "for i in range(80):\n"
              "    add(f'f{i:02}.txt', f'file {i} '.encode() * 50)\n"
              "    if i == 11: add('./f11.txt', b'second')\n"
              "    if i == 20: add('bad.txt', b'payload-payload', method=zipfile.ZIP_STORED)\n");
    std::string bytes = ReadFile(dir.File("z.zip"));
    bytes[bytes.find("payload-payload")] = 'X';
    dir.Write("z.zip", bytes);
    const auto run = RunUnz(dir.File("z.zip"), {}, Plain(), out.Path());
    EXPECT_EQ(run.Result, 80);
    EXPECT_FALSE(fs::exists(out.File("bad.txt")));
    EXPECT_EQ(ReadFile(out.File("f11.txt")), "second");
    EXPECT_EQ(ReadFile(out.File("f79.txt")).size(), 400u);
    const auto messages = run.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "skipping f11.txt: a later entry of the same name is extracted instead");
    EXPECT_EQ(messages[1].rfind("cannot extract bad.txt: ", 0), 0u) << messages[1];
    std::size_t leftovers = 0;
    for (const auto &file : fs::directory_iterator(out.Path()))
        leftovers += file.path().extension() == ".tmp";
    EXPECT_EQ(leftovers, 0u);
}

TEST_F(ExtractTest, AMissingArchiveIsAnError)
{
    const auto run = RunUnz(dir.File("none.zip"), {}, Plain(), out.Path());
    EXPECT_EQ(run.Result, 0);
    EXPECT_TRUE(run.HasError());
    EXPECT_EQ(run.Ends(), 1);
}

} // namespace
} // namespace pellux::test
