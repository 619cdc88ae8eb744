// The extractor stub with real archives appended: written by zip and Python's zipfile,
// adjusted with `zip -A` or plainly concatenated, and hostile or damaged ones.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;

const std::string kStub = std::string(PELLUX_BIN_DIR) + "/pellux-sfx-stub";

// Python helpers shared by the archive scripts: raw byte patches for what zipfile will not
// write itself (non-UTF-8 names, NUL bytes, flags, impossible dates, bad CRCs).
const char *kPyHelpers = R"(
import os, stat, struct, zipfile, zlib
def link(z, name, target):
    i = zipfile.ZipInfo(name); i.create_system = 3
    i.external_attr = (stat.S_IFLNK | 0o777) << 16
    z.writestr(i, target)
def patch_central(path, name, offset, data):
    b = bytearray(open(path, 'rb').read())
    p = b.find(b'PK\x01\x02')
    while p >= 0:
        n = struct.unpack_from('<H', b, p + 28)[0]
        if bytes(b[p + 46:p + 46 + n]) == name:
            b[p + offset:p + offset + len(data)] = data
        p = b.find(b'PK\x01\x02', p + 4)
    open(path, 'wb').write(b)
def replace(path, old, new):
    b = open(path, 'rb').read(); open(path, 'wb').write(b.replace(old, new))
def unix(z, name, mode, data=b'', when=(2001, 2, 3, 4, 5, 6)):
    i = zipfile.ZipInfo(name, when); i.create_system = 3
    i.external_attr = mode << 16
    z.writestr(i, data)
)";

struct Outcome {
    int Status;
    std::string Out, Err;
};

class StubTest : public ::testing::Test {
protected:
    TempDir work;

    // Writes an archive with a Python script that sees `path` (the archive to write).
    void PyZip(const std::string &name, const std::string &body)
    {
        const std::string script = std::string(kPyHelpers) + "path = " + Quote(work.File(name)) + "\n" + body;
        ASSERT_EQ(RunPython(script), 0) << body;
    }
    // The stub with the archive behind it; `zip -A` moves every offset past the stub.
    std::string MakeSfx(const std::string &zip, bool adjust = true)
    {
        const std::string exe = work.File(zip + ".exe");
        const std::string command = "cat " + Quote(kStub) + " " + Quote(work.File(zip)) + " > " + Quote(exe)
            + " && chmod +x " + Quote(exe) + (adjust ? " && zip -qA " + Quote(exe) : "");
        EXPECT_EQ(RunShell(command), 0);
        return exe;
    }
    // `before` goes in front of the program: a limit, or another user to run it as.
    Outcome Start(const std::string &exe, const std::string &args, const std::string &before = "")
    {
        Outcome run;
        const std::string err = work.File("stderr.txt");
        run.Status = RunShell("cd " + Quote(work.Path().string()) + " && " + before + Quote(exe) + " " + args + " 2>"
                                  + Quote(err),
                              &run.Out);
        run.Err = ReadFile(err);
        return run;
    }
    bool NothingBut(const fs::path &dir, std::size_t count)
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator())) == count;
    }
};

// A file-size limit (in 512-byte blocks) stands in for a full disk; SIGXFSZ ignored, as
// the program itself does, so a write past it fails with EFBIG and nothing kills the run.
std::string SizeLimit(int blocks) { return "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; "; }

// Who runs the program in tests where permissions must bind: the user itself, and
// nobody too when running as root (root's own runs ignore modes).
std::vector<std::string> Users()
{
    std::vector<std::string> users = {""};
    if (::geteuid() == 0 && RunShell("command -v setpriv >/dev/null") == 0)
        users.push_back("setpriv --reuid=65534 --regid=65534 --clear-groups ");
    return users;
}

mode_t ModeOf(const fs::path &p)
{
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
}
time_t MtimeOf(const fs::path &p)
{
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mtime;
}

TEST_F(StubTest, StaysSmallAndAnswersItsOptions)
{
    const auto size = fs::file_size(kStub);
    std::printf("pellux-sfx-stub: %ju bytes\n", static_cast<std::uintmax_t>(size));
    RecordProperty("StubBytes", static_cast<int>(size));
    EXPECT_LT(size, 60000u);

    const Outcome bare = Start(kStub, "");
    EXPECT_EQ(bare.Status, 1);
    EXPECT_NE(bare.Err.find("pellux-sfx-stub: no archive found"), std::string::npos) << bare.Err;

    ASSERT_EQ(RunShell("cd " + Quote(work.Path().string()) + " && echo x > a && zip -q a.zip a"), 0);
    const std::string exe = MakeSfx("a.zip");
    const Outcome help = Start(exe, "-h");
    EXPECT_EQ(help.Status, 0);
    for (const char *option : {"-d DIR", "-o", "-l", "-t", "-h"})
        EXPECT_NE(help.Out.find(option), std::string::npos) << option;
    EXPECT_EQ(Start(exe, "-q").Status, 2);
    EXPECT_EQ(Start(exe, "extra").Status, 2);
    EXPECT_EQ(Start(exe, "-d").Status, 2);
}

TEST_F(StubTest, TreeRoundTripKeepsContentsModesAndTimes)
{
    std::string big;
    for (int i = 0; big.size() < 300000; ++i)
        big += "line " + std::to_string(i * 7919 % 10007) + "\n";
    work.Write("tree/a.txt", "alpha\n");
    work.Write("tree/sub/run.sh", "#!/bin/sh\necho hi\n");
    work.Write("tree/sub/deep/big.txt", big);
    work.Write("tree/empty", "");
    fs::create_directories(work.Path() / "tree/emptydir");
    ASSERT_EQ(RunShell("cd " + Quote(work.File("tree"))
                       + " && chmod 750 sub/run.sh && chmod 4755 a.txt && chmod 700 emptydir"
                         " && touch -d '2021-03-04 05:06:07' a.txt sub/run.sh sub/deep/big.txt sub/deep sub emptydir"
                         " && zip -qr ../tree.zip . -x empty && zip -q0 ../tree.zip empty"),
              0);
    const std::string exe = MakeSfx("tree.zip");
    EXPECT_EQ(RunShell("unzip -tq " + Quote(exe) + " >/dev/null"), 0) << "peer check";

    const Outcome run = Start(exe, "-d out/new/deep");
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_NE(run.Out.find("  inflating: sub/deep/big.txt\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("4 files extracted"), std::string::npos) << run.Out;
    const fs::path out = work.Path() / "out/new/deep";
    EXPECT_EQ(ReadFile((out / "sub/deep/big.txt").string()), big);
    EXPECT_EQ(ReadFile((out / "a.txt").string()), "alpha\n");
    EXPECT_TRUE(fs::is_regular_file(out / "empty"));
    EXPECT_EQ(ModeOf(out / "sub/run.sh"), 0750u);
    EXPECT_EQ(ModeOf(out / "a.txt"), 0755u) << "set-uid is never restored";
    EXPECT_EQ(ModeOf(out / "emptydir"), 0700u);
    for (const char *name : {"a.txt", "sub/run.sh", "sub/deep/big.txt", "sub/deep", "sub", "emptydir"})
        EXPECT_EQ(MtimeOf(out / name), MtimeOf(work.Path() / "tree" / name)) << name;

    const Outcome list = Start(exe, "-l");
    EXPECT_EQ(list.Status, 0);
    EXPECT_NE(list.Out.find("2021-03-04 05:06   sub/run.sh\n"), std::string::npos) << list.Out;
    EXPECT_NE(list.Out.find(std::to_string(big.size() + 6 + 18) + "                     7 files"), std::string::npos)
        << list.Out;
    const Outcome test = Start(exe, "-t");
    EXPECT_EQ(test.Status, 0);
    EXPECT_NE(test.Out.find("No errors detected in 4 files"), std::string::npos) << test.Out;

    // Existing files are kept unless -o is given; neither counts as a failure.
    work.Write("out/new/deep/a.txt", "mine\n");
    const Outcome again = Start(exe, "-d out/new/deep");
    EXPECT_EQ(again.Status, 0);
    EXPECT_NE(again.Err.find("skipped a.txt: already exists (-o overwrites)"), std::string::npos) << again.Err;
    EXPECT_EQ(ReadFile((out / "a.txt").string()), "mine\n");
    EXPECT_EQ(Start(exe, "-o -d out/new/deep").Status, 0);
    EXPECT_EQ(ReadFile((out / "a.txt").string()), "alpha\n");
}

TEST_F(StubTest, UnadjustedArchivesAndTheNameRule)
{
    // Written by Python (DOS times, no extended timestamp), then concatenated unadjusted.
    PyZip("names.zip", R"(
u = '\u00fcn\u00efcode.txt'.encode()
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr(zipfile.ZipInfo('utf8-\u00e9.txt', (2019, 1, 2, 3, 4, 6)), 'e')
    z.writestr('cp_X.txt', 'c', zipfile.ZIP_STORED)
    i = zipfile.ZipInfo('plain.txt'); i.extra = struct.pack('<HHBI', 0x7075, 5 + len(u), 1, zlib.crc32(b'plain.txt')) + u
    z.writestr(i, 'u')
    i = zipfile.ZipInfo('stale.txt'); i.extra = struct.pack('<HHBI', 0x7075, 5 + len(u), 1, 1234) + u
    z.writestr(i, 's')
    z.writestr('baddate.txt', 'd')
replace(path, b'cp_X.txt', b'cp_\x81.txt')
patch_central(path, b'baddate.txt', 12, struct.pack('<HH', 0xFFFF, (39 << 9) | (2 << 5) | 31))
)");
    const std::string exe = MakeSfx("names.zip", false);
    const Outcome run = Start(exe, "-d out");
    EXPECT_EQ(run.Status, 0) << run.Err;
    const fs::path out = work.Path() / "out";
    EXPECT_EQ(ReadFile((out / "utf8-\u00e9.txt").string()), "e");
    EXPECT_EQ(ReadFile((out / "cp_\u00fc.txt").string()), "c") << "code page 437";
    EXPECT_EQ(ReadFile((out / "\u00fcn\u00efcode.txt").string()), "u") << "Unicode Path with matching CRC";
    EXPECT_EQ(ReadFile((out / "stale.txt").string()), "s") << "Unicode Path with a stale CRC is ignored";
    EXPECT_TRUE(NothingBut(out, 5));
    struct tm when {};
    when.tm_year = 119, when.tm_mon = 0, when.tm_mday = 2, when.tm_hour = 3, when.tm_min = 4, when.tm_sec = 6;
    when.tm_isdst = -1;
    EXPECT_EQ(MtimeOf(out / "utf8-\u00e9.txt"), std::mktime(&when)) << "DOS time is local time";
    // 2019-02-31 31:63:62 becomes 2019-02-28 23:59:59.
    when.tm_mon = 1, when.tm_mday = 28, when.tm_hour = 23, when.tm_min = 59, when.tm_sec = 59;
    EXPECT_EQ(MtimeOf(out / "baddate.txt"), std::mktime(&when));

    // ZIP64: zip -fz puts the sizes in the 0x0001 extra field and writes the ZIP64 end records.
    // zip -A gives up on ZIP64 end records, so the adjusted copy is shifted here.
    ASSERT_EQ(RunShell("cd " + Quote(work.Path().string()) + " && printf 'streamed data' | zip -q -fz z64.zip -"), 0);
    MakeSfx("z64.zip", false);
    PyZip("z64.zip.exe.adjusted", R"(
b = bytearray(open(path[:-9], 'rb').read())
shift = len(b) - os.path.getsize(path[:-13])
def add(at, size):
    v = int.from_bytes(b[at:at + size], 'little')
    if v != (1 << 8 * size) - 1:
        b[at:at + size] = (v + shift).to_bytes(size, 'little')
add(b.rfind(b'PK\x01\x02') + 42, 4)
add(b.rfind(b'PK\x06\x06') + 48, 8)
add(b.rfind(b'PK\x06\x07') + 8, 8)
add(b.rfind(b'PK\x05\x06') + 16, 4)
open(path, 'wb').write(b)
)");
    for (const char *z64 : {"z64.zip.exe", "z64.zip.exe.adjusted"}) {
        SCOPED_TRACE(z64);
        // unzip warns (status 1) about the unadjusted one, as it should.
        EXPECT_EQ(RunShell("chmod +x " + Quote(work.File(z64)) + " && unzip -tqq " + Quote(work.File(z64))),
                  z64 == std::string("z64.zip.exe") ? 1 : 0);
        const Outcome unpacked = Start(work.File(z64), "-o -d z64");
        EXPECT_EQ(unpacked.Status, 0) << unpacked.Err;
        EXPECT_EQ(ReadFile(work.File("z64/-")), "streamed data");
    }
}

TEST_F(StubTest, LegacyNamesReadInTheLanguagesCodePageOrTheOneThatReadsThemAll)
{
    // Made on MS-DOS (host 0) without the UTF-8 flag, as Windows writes them.
    PyZip("legacy.zip", R"(
class Raw(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.raw, self.flag_bits | self.want
def add(z, raw, flagged=False, system=0):
    i = Raw(raw.decode('latin-1')); i.raw = raw; i.want = 0x800 if flagged else 0; i.create_system = system
    z.writestr(i, raw)
with zipfile.ZipFile(path, 'w') as z:
    add(z, 'Папка/Отчёт за май.txt'.encode('cp866'))
    add(z, b'dir\\caf\xe9.txt', flagged=True)
    add(z, 'unix-\u00fc.txt'.encode('cp437'), system=3)
with zipfile.ZipFile(path[:-4] + '-gbk.zip', 'w') as z:
    add(z, '中文文件.txt'.encode('gbk'))
)");
    const std::string lang = "env -u LC_ALL -u LC_CTYPE LANG=ru_RU.UTF-8 ";
    const Outcome listed = Start(MakeSfx("legacy.zip", false), "-l", lang);
    EXPECT_NE(listed.Out.find("Папка/Отчёт за май.txt\n"), std::string::npos) << listed.Out;
    const Outcome run = Start(work.File("legacy.zip.exe"), "-d out", lang);
    EXPECT_EQ(run.Status, 0) << run.Err;
    const fs::path out = work.Path() / "out";
    EXPECT_TRUE(fs::exists(out / "Папка" / "Отчёт за май.txt"));
    EXPECT_TRUE(fs::exists(out / "dir" / "caf\\xE9.txt")) << "bad bytes of a flagged name as \\xHH";
    EXPECT_TRUE(fs::exists(out / "unix-\u00fc.txt")) << "a Unix host's name in code page 437";
    // In code page 437 GBK is all box drawing: code page 936 reads it cleanly.
    const Outcome gbk = Start(MakeSfx("legacy-gbk.zip", false), "-d gbk", "env -u LC_ALL -u LC_CTYPE LANG=C ");
    EXPECT_EQ(gbk.Status, 0) << gbk.Err;
    EXPECT_TRUE(fs::exists(work.Path() / "gbk" / "中文文件.txt"));
}

TEST_F(StubTest, HostileEntriesWriteNothingOutside)
{
    fs::create_directories(work.Path() / "outside");
    fs::create_directories(work.Path() / "out");
    work.Write("outside/keep", "keep");
    fs::create_symlink("../outside", work.Path() / "out/pre");
    fs::create_symlink("../outside/keep", work.Path() / "out/prefile");
    const std::string abs = work.File("outside/abs");
    PyZip("evil.zip",
          R"(
with zipfile.ZipFile(path, 'w') as z:
    for n in ['../outside/x', '..\\outside\\y', ')"
              + abs + R"(', '\\abs', 'C:x', 'C:\\x', 'a/../../z',
              'pre/in-pre', 'ok.txt', 'nXul', 'enc']:
        z.writestr(n, 'evil')
    z.writestr('bz', 'b' * 100, zipfile.ZIP_BZIP2)
    link(z, 'esc', '../outside')
    link(z, 'esc2', 'sub/../../outside')
    z.writestr('esc/f', 'f')
    link(z, 'in', 'sub')
    z.writestr('sub/g', 'g')
    z.writestr('in/g2', 'g2')
    link(z, 'sub/up', '../ok.txt')
    link(z, 'sub/lnk', '..')
    link(z, 'sub/b', 'lnk/../outside')
    z.writestr('prefile', 'replaced')
replace(path, b'nXul', b'n\x00ul')
patch_central(path, b'enc', 8, b'\x01\x00')
)");
    const std::string exe = MakeSfx("evil.zip");
    const Outcome run = Start(exe, "-o -d out");
    EXPECT_EQ(run.Status, 1);
    for (const std::string &message : std::vector<std::string>{
             "skipped ../outside/x: path leads outside the target directory",
             "skipped ..\\outside\\y: path leads outside the target directory", "skipped " + abs + ": absolute path",
             "skipped \\abs: absolute path", "skipped C:x: absolute path", "skipped C:\\x: absolute path",
             "skipped a/../../z: path leads outside", "skipped pre/in-pre: path goes through the symbolic link pre",
             "skipped n: name holds a NUL byte", "skipped enc: encrypted",
             "skipped bz: unsupported compression method 12", "skipped esc: link leads outside",
             "skipped esc2: link leads outside", "skipped sub/b: link leads outside",
             "skipped in/g2: path goes through the symbolic link in"})
        EXPECT_NE(run.Err.find(message), std::string::npos) << message << "\n" << run.Err;
    EXPECT_NE(run.Out.find("7 files extracted, 15 failed"), std::string::npos) << run.Out;

    // Nothing new outside; the pre-existing link at "prefile" was replaced, not written through.
    EXPECT_TRUE(NothingBut(work.Path() / "outside", 1));
    EXPECT_EQ(ReadFile(work.File("outside/keep")), "keep");
    const fs::path out = work.Path() / "out";
    EXPECT_FALSE(fs::is_symlink(out / "prefile"));
    EXPECT_EQ(ReadFile((out / "prefile").string()), "replaced");
    EXPECT_EQ(fs::read_symlink(out / "in"), "sub");
    EXPECT_EQ(fs::read_symlink(out / "sub/up"), "../ok.txt");
    EXPECT_FALSE(fs::exists(out / "sub/b")) << "a \"..\" after a name may climb out through another link";
    EXPECT_TRUE(fs::is_directory(out / "esc") && !fs::is_symlink(out / "esc"));
    EXPECT_EQ(ReadFile((out / "esc/f").string()), "f");
    EXPECT_FALSE(fs::exists(work.Path() / "z"));
    EXPECT_FALSE(fs::exists(fs::path("/") / "abs"));
}

TEST_F(StubTest, DamagedArchivesFailClearlyAndLeaveNoPartialFile)
{
    PyZip("ok.zip", R"(
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('good.txt', 'fine')
    z.writestr('big.txt', ''.join('row %d\n' % (i * 31 % 997) for i in range(40000)))
)");
    // Flip a byte in the middle of big.txt's deflated data; in a copy, break its CRC.
    PyZip("flip.zip", R"(
source = path.replace('flip', 'ok')
i = zipfile.ZipFile(source).getinfo('big.txt')
b = bytearray(open(source, 'rb').read())
b[i.header_offset + 30 + len('big.txt') + i.compress_size // 2] ^= 0x55
open(path, 'wb').write(b)
)");
    PyZip("crc.zip", R"(
open(path, 'wb').write(open(path.replace('crc', 'ok'), 'rb').read())
patch_central(path, b'big.txt', 16, b'\0\0\0\0')
)");
    for (const char *zip : {"flip.zip", "crc.zip"}) {
        SCOPED_TRACE(zip);
        const std::string exe = MakeSfx(zip);
        const std::string dir = std::string("out-") + zip;
        const Outcome run = Start(exe, "-d " + dir);
        EXPECT_EQ(run.Status, 1);
        EXPECT_NE(run.Err.find("error: big.txt: "), std::string::npos) << run.Err;
        EXPECT_NE(run.Err.find(", file removed"), std::string::npos) << run.Err;
        EXPECT_EQ(ReadFile(work.File(dir + "/good.txt")), "fine");
        EXPECT_TRUE(NothingBut(work.Path() / dir, 1)) << "no partial or temporary file";
        const Outcome test = Start(exe, "-t");
        EXPECT_EQ(test.Status, 1);
        EXPECT_NE(test.Err.find("error: big.txt: "), std::string::npos) << test.Err;
    }
    EXPECT_NE(Start(MakeSfx("crc.zip"), "-t").Err.find("big.txt: CRC error"), std::string::npos);

    // Cut off in the middle of the archive: the end records are gone.
    const std::string exe = MakeSfx("ok.zip");
    ASSERT_EQ(
        ::truncate(exe.c_str(), static_cast<off_t>(fs::file_size(kStub) + fs::file_size(work.File("ok.zip")) / 2)), 0);
    const Outcome cut = Start(exe, "-d cut");
    EXPECT_EQ(cut.Status, 1);
    EXPECT_NE(cut.Err.find("ok.zip.exe: no archive found"), std::string::npos) << cut.Err;
    EXPECT_TRUE(!fs::exists(work.Path() / "cut") || NothingBut(work.Path() / "cut", 0));
}

TEST_F(StubTest, OverlappingEntriesAndAFullDiskStopBeforeTheDiskFills)
{
    // 64 central records naming one local header and its 4 MiB of deflated zeros.
    PyZip("bomb.zip", R"(
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('bomb', b'\0' * (4 << 20))
b = open(path, 'rb').read()
cd, end = b.find(b'PK\x01\x02'), b.find(b'PK\x05\x06')
# The one record again and again, each under a name of its own; offset 0 in all of them.
records = b''.join(b[cd:end].replace(b'bomb', b'b%03d' % i) for i in range(64))
# End record: signature and disk numbers, 64 entries here and in all, the directory's
# size, its start (unchanged) and the comment length.
open(path, 'wb').write(b[:cd] + records + b[end:end + 8] + struct.pack('<HHI', 64, 64, len(records)) + b[end + 16:])
)");
    // Unadjusted: zip -A would copy the data once for every record.
    const std::string bomb = MakeSfx("bomb.zip", false);
    for (const char *args : {"-d out", "-t"}) {
        SCOPED_TRACE(args);
        const Outcome run = Start(bomb, args, SizeLimit(4096));
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Err, "bomb.zip.exe: overlapping entries (possible zip bomb): b000, b001\n");
        EXPECT_FALSE(fs::exists(work.Path() / "out")) << "nothing written, not even the target directory";
    }
    EXPECT_EQ(Start(bomb, "-l").Status, 0) << "a listing writes nothing";

    // The first entry alone is past the limit: one message, then nothing more is tried.
    PyZip("full.zip", R"(
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('first.bin', b'1' * (1 << 20))
    z.writestr('second.txt', 'small')
    z.writestr('dir/', '')
    z.writestr('dir/third.txt', 'small')
)");
    const Outcome full = Start(MakeSfx("full.zip"), "-d out", SizeLimit(1024));
    EXPECT_EQ(full.Status, 1);
    EXPECT_EQ(full.Err, "error: first.bin: write error: File too large, file removed; extraction stopped\n");
    EXPECT_EQ(full.Out.find("second"), std::string::npos) << full.Out;
    EXPECT_TRUE(NothingBut(work.Path() / "out", 0)) << "no partial or temporary file";
}

TEST_F(StubTest, DirectoriesThatWereThereKeepTheirModesAndAllAreSetDeepestFirst)
{
    PyZip("dirs.zip", R"(
D = stat.S_IFDIR
with zipfile.ZipFile(path, 'w') as z:
    unix(z, 'docs/', D | 0o000)
    unix(z, 'ssh/', D | 0o777)
    unix(z, 'made/sub/f', stat.S_IFREG | 0o644, 'f')
    unix(z, 'made/', D | 0o705)
    # A locked parent before its child, and a child before its locked parent.
    unix(z, 'p/', D | 0o500)
    unix(z, 'p/c/', D | 0o700)
    unix(z, 'q/c/', D | 0o700)
    unix(z, 'q/', D | 0o000)
)");
    const std::string exe = MakeSfx("dirs.zip");
    ::chmod(work.Path().c_str(), 0755);
    struct tm when {};
    when.tm_year = 101, when.tm_mon = 1, when.tm_mday = 3, when.tm_hour = 4, when.tm_min = 5, when.tm_sec = 6;
    when.tm_isdst = -1;
    const time_t stored = std::mktime(&when), before = 1000000000;
    for (const std::string &user : Users()) {
        SCOPED_TRACE(user.empty() ? "as the user" : user);
        const std::string out = user.empty() ? "out-self" : "out-nobody";
        const fs::path dir = work.Path() / out;
        fs::create_directories(dir / "docs");
        fs::create_directories(dir / "ssh");
        ::chmod((dir / "docs").c_str(), 0750);
        ::chmod((dir / "ssh").c_str(), 0700);
        ASSERT_EQ(RunShell("cd " + Quote(dir.string()) + " && touch -d @" + std::to_string(before) + " docs ssh"
                           + (user.empty() ? "" : " && chown -R 65534:65534 .")),
                  0);

        const Outcome run = Start(exe, "-d " + out, user);
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(ModeOf(dir / "docs"), 0750u);
        EXPECT_EQ(ModeOf(dir / "ssh"), 0700u);
        EXPECT_EQ(MtimeOf(dir / "docs"), before);
        EXPECT_EQ(MtimeOf(dir / "ssh"), before);
        EXPECT_EQ(ModeOf(dir / "made"), 0705u) << "made by the run, through the file below it";
        EXPECT_EQ(MtimeOf(dir / "made"), stored);
        for (const auto &[path, mode] :
             std::vector<std::pair<const char *, mode_t>>{{"p", 0500}, {"p/c", 0700}, {"q", 0000}, {"q/c", 0700}})
            EXPECT_EQ(ModeOf(dir / path), mode) << path;

        // With -o the archive's mode, but no group or world write and the owner's rights kept
        // (q opened again first, or nobody could not enter it).
        ::chmod((dir / "q").c_str(), 0700);
        const Outcome again = Start(exe, "-o -d " + out, user);
        EXPECT_EQ(again.Status, 0) << again.Err;
        EXPECT_EQ(ModeOf(dir / "docs"), 0700u);
        EXPECT_EQ(ModeOf(dir / "ssh"), 0755u);
        EXPECT_EQ(MtimeOf(dir / "docs"), stored);
        EXPECT_EQ(ModeOf(dir / "q"), 0700u);
    }
}

TEST_F(StubTest, ArchiveTextsReachTheTerminalEscaped)
{
    // ESC and a bidirectional override in a directory, CSI (U+009B) in a file name, and an
    // OSC title sequence in a file that a later path runs through.
    PyZip("esc.zip", R"(
with zipfile.ZipFile(path, 'w') as z:
    z.writestr('d\x1b[2J\u202e/', '')
    z.writestr('d\x1b[2J\u202e/f\u009b1m.txt', 'f')
    z.writestr('x\x1b]0;t\x07', 'x')
    z.writestr('x\x1b]0;t\x07/y', 'y')
)");
    const std::string exe = MakeSfx("esc.zip");
    const Outcome list = Start(exe, "-l"), test = Start(exe, "-t"), run = Start(exe, "-d out");
    EXPECT_EQ(run.Status, 1);
    const std::string all = list.Out + list.Err + test.Out + test.Err + run.Out + run.Err;
    for (const char *raw : {"\x1b", "\x07", "\xc2\x9b", "\xe2\x80\xae"})
        EXPECT_EQ(all.find(raw), std::string::npos) << all;
    EXPECT_NE(list.Out.find("   d\\x1B[2J\\u202E/f\\x9B1m.txt\n"), std::string::npos) << list.Out;
    EXPECT_NE(test.Out.find("testing: x\\x1B]0;t\\x07  OK"), std::string::npos) << test.Out;
    EXPECT_NE(run.Out.find("   creating: d\\x1B[2J\\u202E/\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("d\\x1B[2J\\u202E/f\\x9B1m.txt\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Err.find("skipped x\\x1B]0;t\\x07/y: path goes through the file x\\x1B]0;t\\x07\n"),
              std::string::npos)
        << run.Err;
    EXPECT_EQ(ReadFile(work.File("out/d\x1b[2J\u202e/f\u009b1m.txt")), "f");
}

} // namespace
} // namespace pellux::test
