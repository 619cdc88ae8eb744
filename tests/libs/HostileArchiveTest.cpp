// Archives built to write outside the extraction directory: nothing may land there,
// each refused entry is reported, and the harmless entries are still extracted.
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

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

// Raw bytes that steer a terminal: C0 controls, DEL, C1 controls (CSI among them) in
// UTF-8, and the bidirectional overrides.
bool HoldsRawControl(const std::string &text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F)
            || (c == 0xE2 && text.compare(i, 3, "\xE2\x80\xAE") == 0))
            return true;
    }
    return false;
}

TEST_F(HostileArchiveTest, ReasonsQuotingTheArchiveAreEscaped)
{
    // A file named with an OSC title sequence, then an entry that would need it to be a
    // directory; a link whose target holds ESC and a right-to-left override; a C1 CSI.
    PythonZip(archive,
              "add('t\\x1b]0;pwned\\x07', b'x')\n"
              "add('t\\x1b]0;pwned\\x07/in.txt', b'x')\n"
              "add('ln', '../../\\x1b[31mout\\u202e'.encode(), mode=0o120777)\n"
              "add('../\\u009b31m.txt', b'x')\n");
    const auto run = Extract();
    ASSERT_EQ(run.Messages().size(), 3u);
    for (const auto &report : run.Reports)
        EXPECT_FALSE(HoldsRawControl(report.Text)) << report.Text;
    std::string all;
    for (const auto &message : run.Messages())
        all += message + "\n";
    for (const char *escaped :
         {"path goes through the file t\\x1B]0;pwned\\x07", "../\\x9B31m.txt", "outside (../../\\x1B[31mout\\u202E)"})
        EXPECT_NE(all.find(escaped), std::string::npos) << escaped << " in\n" << all;
}

TEST_F(HostileArchiveTest, ExistingDirectoriesKeepTheirModeAndTime)
{
    // Documents/ would lock the user out (0000), ssh/ open it to everyone (0777); new/
    // is made by the extraction and takes its stored mode and time.
    PythonZip(archive,
              "add('Documents/', b'', mode=0o040000)\nadd('ssh/', b'', mode=0o040777)\n"
              "add('new/', b'', mode=0o040750)\nadd('new/a.txt', b'a')\n");
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    std::tm dos{}; // the entries' time, 2020-05-17 12:30 local
    dos.tm_year = 120, dos.tm_mon = 4, dos.tm_mday = 17, dos.tm_hour = 12, dos.tm_min = 30, dos.tm_isdst = -1;
    const std::time_t stored = std::mktime(&dos);
    const auto prepare = [&] {
        for (const auto &[name, mode] : {std::pair{"Documents", 0750}, std::pair{"ssh", 0700}}) {
            const std::string path = target + "/" + name;
            fs::create_directories(path);
            ::chmod(path.c_str(), static_cast<mode_t>(mode));
            ::utimensat(AT_FDCWD, path.c_str(), old, 0);
        }
        fs::remove_all(target + "/new");
    };
    const auto modeOf = [&](const char *name) {
        struct stat st {};
        ::stat((target + "/" + name).c_str(), &st);
        return std::pair{st.st_mode & 07777, st.st_mtime};
    };
    for (bool overwrite : {false, true}) {
        prepare();
        UnzOptions options;
        options.Overwrite = overwrite;
        const auto run = RunUnz(archive, {}, options, target);
        EXPECT_FALSE(run.HasError());
        const auto [documents, documentsTime] = modeOf("Documents");
        const auto [ssh, sshTime] = modeOf("ssh");
        EXPECT_EQ(modeOf("new"), std::pair(0750u, stored));
        if (!overwrite) {
            EXPECT_EQ(documents, 0750u);
            EXPECT_EQ(ssh, 0700u);
            EXPECT_EQ(documentsTime, 1000000000);
            EXPECT_EQ(sshTime, 1000000000);
        } else {
            // The owner keeps what it had; nobody gains write.
            EXPECT_EQ(documents, 0700u);
            EXPECT_EQ(ssh, 0755u);
            EXPECT_EQ(documentsTime, stored);
        }
    }
}

TEST_F(HostileArchiveTest, AFifoNamedAsTheArchiveIsRefusedAtOnce)
{
    ASSERT_EQ(::mkfifo(archive.c_str(), 0600), 0);
    const std::string cli = Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli");
    for (const std::string command : {"list", "test", "extract", "add", "delete"}) {
        std::string out;
        // Blocking would end in timeout's 124.
        const int status = RunIn(dir.Path(),
                                 "timeout 10 " + cli + " " + command + " evil.zip "
                                     + (command == "add"          ? "evil.zip"
                                            : command == "delete" ? "x"
                                                                  : "")
                                     + " 2>&1",
                                 &out);
        EXPECT_NE(status, 0) << command;
        EXPECT_NE(status, 124) << command;
        EXPECT_NE(out.find("evil.zip"), std::string::npos) << command << ": " << out;
    }
}

} // namespace
} // namespace pellux::test
