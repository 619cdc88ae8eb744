// zip2exe end to end: archives written by Python's zipfile, Info-ZIP zip and
// pellux-cli become programs that unpack them, and that unzip, Python and Pellux
// still read as ZIP archives.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

using namespace pellux::test;
namespace fs = std::filesystem;

namespace {

const std::string kBin = PELLUX_BIN_DIR;

struct Outcome {
    int Status = -1;
    std::string Out, Err;
};

class Zip2ExeTest : public ::testing::Test {
protected:
    // Runs a shell command without a display, so that zip2exe never opens a window.
    Outcome Sh(const std::string &command)
    {
        Outcome r;
        const std::string err = dir.File("stderr.txt");
        r.Status =
            RunShell("cd " + Quote(dir.Path().string()) + " && unset DISPLAY WAYLAND_DISPLAY && export LC_ALL=C && "
                         + command + " 2>" + Quote(err),
                     &r.Out);
        r.Err = ReadFile(err);
        return r;
    }
    Outcome Zip2Exe(const std::string &zip, const std::string &outDir)
    {
        return Sh(Quote(kBin + "/zip2exe") + " " + Quote(zip) + " " + Quote(outDir));
    }
    // Python with the test directory as its working directory.
    void Python(const std::string &program)
    {
        std::string out;
        ASSERT_EQ(RunPython("import os, zipfile\nos.chdir(" + PyStr(dir.Path().string()) + ")\n" + program, &out), 0)
            << out;
    }
    static std::string PyStr(const std::string &text) { return "'" + text + "'"; }

    // A small tree with a program, an empty folder and a non-ASCII name.
    void MakeTree(const std::string &root)
    {
        dir.Write(root + "/readme.txt", "hello\n");
        dir.Write(root
                      + "/docs/gr\xC3\xBC\xC3\x9F"
                        "e.txt",
                  std::string(5000, 'g'));
        std::string noise;
        for (int i = 0; i < 20000; ++i)
            noise += std::to_string(i * 7919 % 104729) + ",";
        dir.Write(root + "/docs/deep/noise.csv", noise);
        dir.Write(root + "/bin/run.sh", "#!/bin/sh\necho run\n");
        fs::permissions(dir.Path() / root / "bin/run.sh", fs::perms::owner_exec | fs::perms::group_exec,
                        fs::perm_options::add);
        fs::create_directories(dir.Path() / root / "empty");
    }

    // The made program unpacks a tree equal to `tree` (bytes and execute bits).
    void ExpectUnpacksTo(const std::string &exe, const std::string &tree, const std::string &prefix = "")
    {
        const std::string out = "unpacked-" + std::to_string(++unpacks);
        const Outcome r = Sh(Quote(exe) + " -d " + Quote(out));
        ASSERT_EQ(r.Status, 0) << r.Err;
        EXPECT_EQ(Sh("diff -r " + Quote(tree) + " " + Quote(out + "/" + prefix)).Status, 0) << exe;
        const std::string script = dir.File(out + "/" + prefix + "bin/run.sh");
        if (fs::exists(dir.File(tree + "/bin/run.sh"))) {
            EXPECT_EQ(::access(script.c_str(), X_OK), 0) << script;
        }
    }

    // unzip and Python accept the program as an archive with the same entries as zip.
    void ExpectPeersAccept(const std::string &zip, const std::string &exe)
    {
        const Outcome unzip = Sh("unzip -tq " + Quote(exe));
        EXPECT_EQ(unzip.Status, 0) << unzip.Out << unzip.Err;
        Python("a, b = zipfile.ZipFile(" + PyStr(zip) + "), zipfile.ZipFile(" + PyStr(exe)
               + ")\n"
                 "assert b.testzip() is None\n"
                 "assert a.comment == b.comment\n"
                 "def strip(x):\n"
                 "    out, i = b'', 0\n"
                 "    while i + 4 <= len(x):\n"
                 "        n = int.from_bytes(x[i+2:i+4], 'little')\n"
                 "        if x[i:i+2] != b'\\x01\\x00': out += x[i:i+4+n]\n"
                 "        i += 4 + n\n"
                 "    return out + x[i:]\n"
                 "key = lambda i: (i.filename, i.CRC, i.compress_size, i.file_size, i.compress_type, i.date_time,\n"
                 "                 i.external_attr, i.comment, strip(i.extra))\n"
                 "assert [key(i) for i in a.infolist()] == [key(i) for i in b.infolist()], 'entries differ'\n");
    }

    std::string Stub() const { return kBin + "/pellux-sfx-stub"; }

    TempDir dir;
    int unpacks = 0;
};

} // namespace

TEST_F(Zip2ExeTest, ProgramsFromThreeWritersUnpackAndStillReadAsArchives)
{
    const auto stubSize = fs::file_size(Stub());
    std::cout << "extractor stub: " << stubSize << " bytes\n";
    EXPECT_LT(stubSize, 60000u);
    // Pellux looks for the first local header from the start of the file.
    EXPECT_EQ(ReadFile(Stub()).find("PK\x03\x04"), std::string::npos) << "the stub holds a local header signature";

    MakeTree("src");
    Python("with zipfile.ZipFile('py.zip', 'w') as zf:\n"
           "    for root, dirs, files in sorted(os.walk('src')):\n"
           "        rel = os.path.relpath(root, 'src')\n"
           "        if rel != '.': zf.write(root, rel + '/')\n"
           "        for f in sorted(files):\n"
           "            zf.write(os.path.join(root, f), os.path.normpath(os.path.join(rel, f)),\n"
           "                     zipfile.ZIP_STORED if f.endswith('.sh') else zipfile.ZIP_DEFLATED)\n"
           "    zf.getinfo('readme.txt').comment = b'first file'\n"
           "    zf.comment = b'made by Python'\n");
    ASSERT_EQ(Sh("cd src && zip -qr ../info.zip .").Status, 0);
    ASSERT_EQ(Sh(Quote(kBin + "/pellux-cli") + " add pellux.zip --dir-names --recurse src").Status, 0);

    for (const std::string name : {"py", "info", "pellux"}) {
        SCOPED_TRACE(name);
        const std::string zip = name + ".zip", exe = name + ".exe";
        const Outcome made = Zip2Exe(zip, ".");
        ASSERT_EQ(made.Status, 0) << made.Err;
        const auto exeSize = fs::file_size(dir.File(exe));
        std::string size = std::to_string(exeSize);
        for (auto i = size.size(); i > 3; i -= 3)
            size.insert(i - 3, ",");
        EXPECT_EQ(made.Err, "zip2exe: wrote " + dir.File(exe) + " (" + size + " bytes)\n");
        // Nothing needed ZIP64, so only offset fields changed: the stub plus the archive.
        EXPECT_EQ(exeSize, stubSize + fs::file_size(dir.File(zip)));
        EXPECT_EQ(fs::status(dir.File(exe)).permissions() & fs::perms::all, static_cast<fs::perms>(0755));

        ExpectPeersAccept(zip, exe);
        const std::string cli = Quote(kBin + "/pellux-cli") + " list ";
        const Outcome rowsZip = Sh(cli + zip), rowsExe = Sh(cli + exe);
        EXPECT_EQ(rowsExe.Out, rowsZip.Out);
        EXPECT_NE(rowsExe.Out.find("run.sh"), std::string::npos);
        ExpectUnpacksTo(dir.File(exe), "src", name == "pellux" ? "src/" : "");
    }

    // -l and -t read without writing; -o decides whether a present file is replaced.
    const Outcome list = Sh("./info.exe -l");
    EXPECT_EQ(list.Status, 0);
    EXPECT_NE(list.Out.find("docs/deep/noise.csv"), std::string::npos);
    EXPECT_EQ(Sh("mkdir t && cd t && ../info.exe -t && test -z \"$(ls -A)\"").Status, 0);
    dir.Write("out-info/readme.txt", "changed");
    Sh("./info.exe -d out-info");
    EXPECT_EQ(ReadFile(dir.File("out-info/readme.txt")), "changed");
    EXPECT_EQ(Sh("./info.exe -o -d out-info").Status, 0);
    EXPECT_EQ(ReadFile(dir.File("out-info/readme.txt")), "hello\n");
}

TEST_F(Zip2ExeTest, Zip64ArchivesAndAHundredMegabytes)
{
    // One entry above 100 MB (stored, so the archive is that large too), and entries
    // that Python writes with ZIP64 fields although they are small.
    Python("block = b''.join(b'%08d\\n' % i for i in range(1 << 16))\n"
           "os.makedirs('big/sub')\n"
           "with open('big/large.bin', 'wb') as f:\n"
           "    for i in range(180): f.write(block[i:] + block[:i])\n"
           "open('big/sub/small.txt', 'wb').write(b'small' * 100)\n"
           "with zipfile.ZipFile('large.zip', 'w', zipfile.ZIP_STORED) as zf:\n"
           "    zf.write('big/large.bin', 'large.bin')\n"
           "    zf.write('big/sub/small.txt', 'sub/small.txt', zipfile.ZIP_DEFLATED)\n"
           "os.makedirs('z64/sub')\n"
           "open('z64/a.txt', 'wb').write(b'a' * 1000)\n"
           "open('z64/sub/b.bin', 'wb').write(block[:200000])\n"
           "with zipfile.ZipFile('z64.zip', 'w', zipfile.ZIP_DEFLATED) as zf:\n"
           "    for name in ('a.txt', 'sub/b.bin'):\n"
           "        with open('z64/' + name, 'rb') as src, zf.open(name, 'w', force_zip64=True) as dst:\n"
           "            dst.write(src.read())\n"
           "with zipfile.ZipFile('many.zip', 'w') as zf:\n"
           "    for i in range(70000): zf.writestr('f/%05d' % i, b'')\n");
    ASSERT_GT(fs::file_size(dir.File("large.zip")), 100u << 20);
    for (const std::string name : {"large", "z64"}) {
        SCOPED_TRACE(name);
        const Outcome made = Zip2Exe(name + ".zip", ".");
        ASSERT_EQ(made.Status, 0) << made.Err;
        ExpectPeersAccept(name + ".zip", name + ".exe");
        ExpectUnpacksTo(dir.File(name + ".exe"), name == "large" ? "big" : "z64");
    }
    const std::string cli = Quote(kBin + "/pellux-cli") + " list ";
    EXPECT_EQ(Sh(cli + "z64.exe").Out, Sh(cli + "z64.zip").Out);

    ASSERT_EQ(Zip2Exe("many.zip", ".").Status, 0);
    Python("zf = zipfile.ZipFile('many.exe')\n"
           "assert len(zf.infolist()) == 70000 and zf.testzip() is None\n");
    EXPECT_EQ(Sh("./many.exe -t >/dev/null").Status, 0);
}

TEST_F(Zip2ExeTest, ShiftedInputAndOffsetsPastFourGiBBecomeZip64)
{
    // An archive whose offsets were not adjusted for 4 GiB put in front of it (a hole,
    // so the test stays small): every moved offset needs ZIP64.
    MakeTree("src");
    ASSERT_EQ(Sh("cd src && zip -qr ../small.zip .").Status, 0);
    Python("data = open('small.zip', 'rb').read()\n"
           "with open('far.zip', 'wb') as f:\n"
           "    f.seek((4 << 30) + 1000)\n"
           "    f.write(data)\n");
    const Outcome made = Zip2Exe("far.zip", ".");
    ASSERT_EQ(made.Status, 0) << made.Err;
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("far.exe").c_str(), &st), 0);
    EXPECT_LT(st.st_blocks * 512, 16 << 20) << "the hole was written out";
    ExpectPeersAccept("small.zip", "far.exe");
    Python("zf = zipfile.ZipFile('far.exe')\n"
           "assert all(i.header_offset > 0xFFFFFFFF for i in zf.infolist())\n");
    ExpectUnpacksTo(dir.File("far.exe"), "src");

    // Converted once more, the ZIP64 offsets and end records are moved in place.
    fs::create_directory(dir.Path() / "again");
    ASSERT_EQ(Zip2Exe("far.exe", "again").Status, 0);
    ExpectPeersAccept("small.zip", "again/far.exe");
    ExpectUnpacksTo(dir.File("again/far.exe"), "src");
}

TEST_F(Zip2ExeTest, DamagedProgramFailsAndLeavesNoPartialFile)
{
    dir.Write("src/good.txt", "good\n");
    std::string text;
    for (int i = 0; i < 50000; ++i)
        text += "line " + std::to_string(i) + "\n";
    dir.Write("src/bad.txt", text);
    ASSERT_EQ(Sh("cd src && zip -q ../d.zip good.txt bad.txt").Status, 0);
    ASSERT_EQ(Zip2Exe("d.zip", ".").Status, 0);
    Python("zf = zipfile.ZipFile('d.exe')\n"
           "i = zf.getinfo('bad.txt')\n"
           "with open('d.exe', 'r+b') as f:\n"
           "    f.seek(i.header_offset + 26)\n"
           "    n, m = [int.from_bytes(f.read(2), 'little') for _ in range(2)]\n"
           "    f.seek(i.header_offset + 30 + n + m + i.compress_size // 2)\n"
           "    f.write(b'\\xde\\xad\\xbe\\xef' * 8)\n");
    const Outcome r = Sh("./d.exe -d out");
    std::cout << "damaged program, exit status " << r.Status << ":\n" << r.Out << r.Err;
    EXPECT_NE(r.Status, 0);
    EXPECT_NE((r.Out + r.Err).find("bad.txt"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.File("out/bad.txt")));
    EXPECT_EQ(ReadFile(dir.File("out/good.txt")), "good\n");
    EXPECT_NE(Sh("./d.exe -t").Status, 0);
}

TEST_F(Zip2ExeTest, RefusalsNameTheCauseAndLeaveNoFile)
{
    dir.Write("src/x.bz", std::string(3000, 'b'));
    dir.Write("src/plain.txt", std::string(300000, 'p'));
    ASSERT_EQ(Sh("zip -qj0 good.zip src/plain.txt && zip -qj -P secret locked.zip src/plain.txt").Status, 0);
    Python("zipfile.ZipFile('bz.zip', 'w', zipfile.ZIP_BZIP2).write('src/x.bz', 'x.bz')\n"
           "zipfile.ZipFile('xz.zip', 'w', zipfile.ZIP_LZMA).write('src/x.bz', 'y.lz')\n"
           "data = bytearray(open('good.zip', 'rb').read())\n"
           "end = data.rfind(b'PK\\x05\\x06')\n"
           "d = bytearray(data); d[end + 12:end + 16] = (1 << 30).to_bytes(4, 'little')\n"
           "open('range.zip', 'wb').write(d)\n"
           "cd = data.rfind(b'PK\\x01\\x02')\n"
           "d = bytearray(data); d[cd + 42:cd + 46] = (100).to_bytes(4, 'little')\n"
           "open('nolocal.zip', 'wb').write(d)\n"
           "zipfile.ZipFile('empty.zip', 'w').close()\n"
           // good.zip's one central record four times under names of its own, all naming
           // its one local header; the end record's two counts and directory size to match.
           "cd, end = data.rfind(b'PK\\x01\\x02'), data.rfind(b'PK\\x05\\x06')\n"
           "records = b''.join(data[cd:end].replace(b'plain.txt', b'plain%04d' % i) for i in range(4))\n"
           "d = data[:cd] + records + data[end:end + 8] + (4).to_bytes(2, 'little') * 2\n"
           "d += len(records).to_bytes(4, 'little') + data[end + 16:]\n"
           "open('bomb.zip', 'wb').write(d)\n");
    ASSERT_EQ(::mkfifo(dir.File("fifo.zip").c_str(), 0600), 0);
    dir.Write("text.zip", "just some text, no archive\n");
    dir.Write("afile", "");
    const bool root = ::geteuid() == 0; // permissions do not stop root
    if (!root) {
        dir.Write("unreadable.zip", ReadFile(dir.File("good.zip")));
        ::chmod(dir.File("unreadable.zip").c_str(), 0);
        fs::create_directory(dir.Path() / "locked-dir");
        ::chmod(dir.File("locked-dir").c_str(), 0555);
    }

    struct Case {
        std::string zip, outDir, message, shell = "";
    };
    const std::vector<Case> cases = {
        {"missing.zip", "out", "zip2exe: missing.zip: No such file or directory"},
        {"src", "out", "zip2exe: src: not a regular file (a directory)"},
        // Opened without a writer, a FIFO would block a reader that waits for one.
        {"fifo.zip", "out", "zip2exe: fifo.zip: not a regular file (a FIFO)", "timeout 1 "},
        {"/dev/zero", "out", "zip2exe: /dev/zero: not a regular file (a device)", "timeout 1 "},
        {"bomb.zip", "out", "zip2exe: bomb.zip: overlapping entries (possible zip bomb): plain0000, plain0001"},
        {"text.zip", "out", "zip2exe: text.zip: not a ZIP archive (no end of central directory record)"},
        {"range.zip", "out", "zip2exe: range.zip: not a ZIP archive (central directory out of range)"},
        {"empty.zip", "out", "zip2exe: empty.zip: the archive holds no entries"},
        {"nolocal.zip", "out", "zip2exe: nolocal.zip: entry plain.txt: no local header at offset 100"},
        {"bz.zip", "out",
         "zip2exe: bz.zip: entry x.bz: compression method 12 (bzip2) cannot be unpacked by the extractor"},
        {"xz.zip", "out", "zip2exe: xz.zip: entry y.lz: compression method 14 (LZMA) cannot be unpacked"},
        {"locked.zip", "out", "zip2exe: locked.zip: entry plain.txt: encrypted"},
        {"good.zip", "nowhere", "zip2exe: nowhere: No such file or directory"},
        {"good.zip", "afile", "zip2exe: afile: not a directory"},
        // A file-size limit (in 512-byte blocks) stands in for a full disk.
        {"good.zip", "out", "zip2exe: " + dir.File("out/good.exe") + ": File too large", "ulimit -f 100; "},
        {"unreadable.zip", "out", "zip2exe: unreadable.zip: Permission denied"},
        {"good.zip", "locked-dir", "zip2exe: cannot write in " + dir.File("locked-dir") + ": Permission denied"},
    };
    for (const Case &c : cases) {
        if (root && (c.zip == "unreadable.zip" || c.outDir == "locked-dir"))
            continue;
        SCOPED_TRACE(c.zip + " " + c.outDir);
        fs::create_directories(dir.Path() / "out");
        const Outcome r = Sh(c.shell + Quote(kBin + "/zip2exe") + " " + Quote(c.zip) + " " + Quote(c.outDir));
        EXPECT_EQ(r.Status, 1);
        EXPECT_EQ(r.Err.rfind(c.message, 0), 0u) << r.Err;
        EXPECT_EQ(r.Err.find('\n'), r.Err.size() - 1) << "one line: " << r.Err;
        EXPECT_TRUE(fs::is_empty(dir.Path() / "out"));
        if (fs::is_directory(dir.Path() / c.outDir)) {
            EXPECT_TRUE(fs::is_empty(dir.Path() / c.outDir));
        }
    }

    const Outcome none = Sh(Quote(kBin + "/zip2exe"));
    EXPECT_EQ(none.Status, 2);
    EXPECT_EQ(none.Err.rfind("usage: zip2exe ZIPFILE OUTDIR\n", 0), 0u);
    const Outcome unknown = Sh(Quote(kBin + "/zip2exe") + " -x good.zip out");
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_EQ(unknown.Err.rfind("zip2exe: unknown option -x\nusage: zip2exe ZIPFILE OUTDIR\n", 0), 0u);
    EXPECT_EQ(Sh(Quote(kBin + "/zip2exe") + " good.zip").Err.rfind("zip2exe: too few operands\n", 0), 0u);
    const Outcome help = Sh(Quote(kBin + "/zip2exe") + " --help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind("usage: zip2exe ZIPFILE OUTDIR\n", 0), 0u);
    const Outcome version = Sh(Quote(kBin + "/zip2exe") + " --version");
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out, "zip2exe 1.0\n");
}

TEST_F(Zip2ExeTest, UnderADisplayWithoutATerminalOnlyTheWizardsRunTriesAWindow)
{
    Python("zipfile.ZipFile('a.zip', 'w').writestr('a.txt', 'a')");
    // A display that no server answers: a window tried shows as Qt's complaint on stderr.
    const auto run = [&](const std::string &out, const std::string &marker) {
        fs::create_directories(dir.Path() / out);
        return Sh("export DISPLAY=:97 " + marker + "; unset QT_QPA_PLATFORM; timeout 60 setsid -w "
                  + Quote(kBin + "/zip2exe") + " a.zip " + out);
    };
    const Outcome script = run("script", "PELLUX_ZIP2EXE_WINDOW=0");
    EXPECT_EQ(script.Status, 0);
    EXPECT_EQ(script.Err.rfind("zip2exe: wrote " + dir.File("script/a.exe") + " (", 0), 0u) << script.Err;
    EXPECT_EQ(script.Err.find('\n'), script.Err.size() - 1) << "one line: " << script.Err;

    const Outcome wizard = run("wizard", "PELLUX_ZIP2EXE_WINDOW=1");
    EXPECT_EQ(wizard.Status, 0);
    EXPECT_EQ(wizard.Err.rfind("zip2exe: wrote " + dir.File("wizard/a.exe") + " (", 0), 0u) << wizard.Err;
    EXPECT_NE(wizard.Err.find('\n'), wizard.Err.size() - 1) << "the window's try: " << wizard.Err;
}
