// "&Associate  .zip  files with  Pellux" offscreen, against the desktop's files in a
// temporary HOME: what a No and a Yes write, what the desktop (and xdg-mime) then
// starts, an installed entry used instead of a copy, the desktop's own lists, and the
// error box when a file cannot be written.
#include "app/commands/Association.h"
#include "platform/ProgramPath.h"
#include "platform/RegistryStore.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/ScopedEnv.h"

#include <QAction>

#include <filesystem>

using namespace pellux;
using namespace pellux::test;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const char *const kQuestion = "Are you sure you want to associate all\r.ZIP files with Pellux?";
const char *const kDone = "Pellux successfully associated with .zip files.";

// The arguments an Exec value starts, as a desktop launcher reads it: the
// string escapes of the file, then the argument quoting, then the field codes.
Strings ExecArguments(const std::string &value, const std::string &file)
{
    std::string exec;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char c = value[++i];
            exec += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            exec += value[i];
        }
    }
    Strings args;
    std::string arg;
    bool inArg = false, quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && i + 1 < exec.size())
                arg += exec[++i];
            else
                arg += c;
        } else if (c == ' ') {
            if (inArg)
                args.push_back(arg);
            arg.clear();
            inArg = false;
        } else {
            inArg = true;
            if (c == '"')
                quoted = true;
            else
                arg += c;
        }
    }
    if (inArg)
        args.push_back(arg);
    for (auto &a : args) {
        if (a == "%f") {
            a = file;
            continue;
        }
        for (std::size_t at = 0; (at = a.find("%%", at)) != std::string::npos; ++at)
            a.replace(at, 2, "%");
    }
    return args;
}

std::string ExecOf(const std::string &desktopFile)
{
    const std::string text = ReadFile(desktopFile);
    const auto at = text.find("\nExec=");
    return at == std::string::npos ? "" : text.substr(at + 6, text.find('\n', at + 6) - at - 6);
}

// The packaged entry with another Exec.
std::string PackagedWithExec(const std::string &exec)
{
    std::string text = ReadFile(PELLUX_PACKAGED_ENTRY);
    const auto at = text.find("\nExec=") + 6;
    return text.replace(at, text.find('\n', at) - at, exec);
}

// What the association copies: that, marked as ours.
std::string CopyWithExec(const std::string &exec) { return PackagedWithExec(exec) + "X-Pellux-Association=true\n"; }

class AssociationTest : public WindowTest {
protected:
    AssociationTest()
    {
        env.Set("HOME", dir.File("home"));
        env.Set("XDG_CONFIG_HOME", dir.File("config"));
        env.Set("XDG_DATA_HOME", dir.File("data"));
        env.Set("XDG_DATA_DIRS", dir.File("system"));
        env.Set("XDG_CURRENT_DESKTOP", "");
    }
    // What xdg-mime names the handler of ZIP archives, away from any real session.
    static std::string XdgDefault()
    {
        std::string out;
        const int status = RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u DESKTOP_SESSION "
                                    "-u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID -u MATE_DESKTOP_SESSION_ID "
                                    "xdg-mime query default application/zip 2>&1",
                                    &out);
        return status == 127 ? "xdg-mime missing (scripts/install-deps.sh)" : out;
    }
    void Associate(TFormMainZip &w, bool answer)
    {
        ui.Log.Answers.push_back(answer);
        w.findChild<QAction *>(QStringLiteral("MenuOptions"))->trigger();
    }
    std::string MimeApps() const { return dir.File("config") + "/mimeapps.list"; }
    std::string DesktopFile() const { return dir.File("data") + "/applications/pellux.desktop"; }
    ScopedEnv env;
};

} // namespace

TEST_F(AssociationTest, NoWritesNothing)
{
    auto w = Start();
    Associate(*w, false);
    EXPECT_EQ(ui.Log.Confirmations, Strings{kQuestion});
    EXPECT_EQ(ui.Log.ConfirmationTitles, Strings{"Confirm"});
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_TRUE(ui.Log.Errors.empty());
    EXPECT_FALSE(fs::exists(dir.File("config")));
    EXPECT_FALSE(fs::exists(dir.File("data")));
}

TEST_F(AssociationTest, YesMakesPelluxTheZipHandlerAndKeepsEveryOtherLine)
{
    const std::string before = "# kept\n"
                               "[Default Applications]\n"
                               "text/plain=gedit.desktop\n"
                               "application/zip = org.other.Archiver.desktop;\n"
                               "image/png=eog.desktop\n"
                               "\n"
                               "[Added Associations]\n"
                               "application/zip=org.other.Archiver.desktop;\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", "[Default Applications]\napplication/zip=pellux.desktop\n"},
        {"[Added Associations]\ntext/plain=x.desktop;",
         "[Added Associations]\ntext/plain=x.desktop;\n\n[Default Applications]\napplication/zip=pellux.desktop\n"},
        {"[Default Applications]\ntext/plain=x.desktop\n\n[Removed Associations]\nimage/png=y.desktop\n",
         "[Default Applications]\ntext/plain=x.desktop\napplication/zip=pellux.desktop\n\n"
         "[Removed Associations]\nimage/png=y.desktop\n"},
        {before,
         "# kept\n"
         "[Default Applications]\n"
         "text/plain=gedit.desktop\n"
         "application/zip=pellux.desktop\n"
         "image/png=eog.desktop\n"
         "\n"
         "[Added Associations]\n"
         "application/zip=org.other.Archiver.desktop;\n"},
    };
    auto w = Start();
    for (const auto &[old, expected] : cases) {
        SCOPED_TRACE(old);
        fs::remove_all(dir.File("config"));
        fs::remove_all(dir.File("data"));
        if (!old.empty())
            dir.Write("config/mimeapps.list", old);
        ui.Log.Clear();
        Associate(*w, true);
        EXPECT_EQ(ui.Log.Messages, Strings{kDone});
        EXPECT_TRUE(ui.Log.Errors.empty());
        EXPECT_EQ(ReadFile(MimeApps()), expected);
        const std::string entry = ReadFile(DesktopFile());
        EXPECT_EQ(ExecArguments(ExecOf(DesktopFile()), "/a b/c.zip"), (Strings{ProgramFilePath(), "/a b/c.zip"}));
        // Every key and type of the packaged entry, so the copy hides nothing.
        EXPECT_EQ(entry, CopyWithExec(ExecOf(DesktopFile())));
        EXPECT_EQ(XdgDefault(), "pellux.desktop\n");

        // A second time gives the same files.
        Associate(*w, true);
        EXPECT_EQ(ui.Log.Messages, (Strings{kDone, kDone}));
        EXPECT_EQ(ReadFile(MimeApps()), expected);
        EXPECT_EQ(ReadFile(DesktopFile()), entry);
    }
}

TEST_F(AssociationTest, AProgramPathWithBlanksAndQuotesIsStarted)
{
    const fs::path folder = dir.Path() / "My \"Apps\" $HOME 100% `x` \\ (new)";
    fs::create_directories(folder);
    const std::string program = (folder / "pellux dump").string();
    fs::copy_file(std::string(PELLUX_BIN_DIR) + "/pellux_argv_dump", program);

    // The registry value keeps the path as it is, unquoted.
    auto previous = SetRegistryStore(std::make_unique<MemoryRegistryStore>());
    auto &memory = static_cast<MemoryRegistryStore &>(Registry());
    ui.Log.Answers.push_back(true);
    AssociateZipFiles(program);
    EXPECT_EQ(memory.Dump(),
              (Strings{"HKEY_CLASSES_ROOT\\.zip|=Pellux",
                       "HKEY_CLASSES_ROOT\\pellux\\shell\\open\\command|=" + program + " \"%1\""}));
    SetRegistryStore(std::move(previous));

    // The desktop starts it with the file's path as its one argument.
    ui.Log.Answers.push_back(true);
    AssociateZipFiles(program);
    const std::string archive = dir.File("an archive.zip");
    const Strings args = ExecArguments(ExecOf(DesktopFile()), archive);
    ASSERT_EQ(args.size(), 2u) << ExecOf(DesktopFile());
    const std::string dump = dir.File("argv");
    ASSERT_EQ(RunShell("PELLUX_ARGV_DUMP=" + Quote(dump) + " " + Quote(args[0]) + " " + Quote(args[1])), 0);
    EXPECT_EQ(ReadFile(dump), program + '\0' + archive + '\0');
    EXPECT_EQ(ui.Log.Messages, (Strings{kDone, kDone}));
}

TEST_F(AssociationTest, AFileThatCannotBeWrittenShowsTheErrorBoxAndKeepsWhatWasWritten)
{
    // Paths that run through a regular file: no one can create them, root included.
    dir.Write("file", "");
    auto w = Start();
    env.Set("XDG_CONFIG_HOME", dir.File("file/config"));
    Associate(*w, true);
    EXPECT_EQ(ui.Log.Errors, Strings{"Failed to set data for ''"});
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_FALSE(fs::exists(DesktopFile()));

    // The first value written stays when the second fails; there is no rollback.
    ui.Log.Clear();
    env.Set("XDG_CONFIG_HOME", dir.File("config"));
    env.Set("XDG_DATA_HOME", dir.File("file/data"));
    Associate(*w, true);
    EXPECT_EQ(ui.Log.Errors, Strings{"Failed to set data for ''"});
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_EQ(ReadFile(MimeApps()), "[Default Applications]\napplication/zip=pellux.desktop\n");
}

TEST_F(AssociationTest, AnInstalledEntryForThisProgramIsUsedInsteadOfACopy)
{
    const std::string program = ProgramFilePath();
    fs::create_directories(dir.File("path"));
    fs::create_symlink(program, dir.File("path/pellux"));
    env.Set("PATH", dir.File("path") + ":" + std::getenv("PATH"));
    env.Set("XDG_DATA_DIRS", dir.File("nothing") + ":" + dir.File("system") + ":" + dir.File("later"));
    const std::string packaged = ReadFile(PELLUX_PACKAGED_ENTRY);
    const std::string earlierCopy = "[Desktop Entry]\nType=Application\nName=Pellux\nIcon=pellux\nExec=/old/pellux %f\n"
                                    "MimeType=application/zip;\nCategories=Utility;Archiving;Compression;\n"
                                    "Terminal=false\n";
    const std::string usersOwn = "[Desktop Entry]\nType=Application\nName=My Pellux\nExec=pellux --mine %f\n";
    struct Case {
        std::string Installed, UserBefore, UserAfter;
    };
    const Case cases[] = {
        // The packaged entry, its program found on PATH: our copies go, the user's own stays.
        {packaged, "", ""},
        {packaged, earlierCopy, ""},
        {packaged, CopyWithExec("/old/pellux %f"), ""},
        {packaged, usersOwn, usersOwn},
        {PackagedWithExec(program + " %f"), CopyWithExec("x %f"), ""},
        // One for another program, or not for ZIP archives: a complete copy of ours.
        {PackagedWithExec("sh %f"), "", CopyWithExec(program + " %f")},
        {"[Desktop Entry]\nType=Application\nExec=pellux %f\nMimeType=text/plain;\n", earlierCopy,
         CopyWithExec(program + " %f")},
    };
    for (const auto &[installed, before, after] : cases) {
        SCOPED_TRACE(installed + "|" + before);
        fs::remove_all(dir.File("data"));
        dir.Write("system/applications/pellux.desktop", installed);
        dir.Write("later/applications/pellux.desktop", packaged); // hidden by the first
        if (!before.empty())
            dir.Write("data/applications/pellux.desktop", before);
        ui.Log.Answers.push_back(true);
        AssociateZipFiles(program);
        EXPECT_EQ(ui.Log.Errors, Strings{});
        EXPECT_EQ(fs::exists(DesktopFile()) ? ReadFile(DesktopFile()) : "", after);
        EXPECT_EQ(ReadFile(MimeApps()), "[Default Applications]\napplication/zip=pellux.desktop\n");
        EXPECT_EQ(XdgDefault(), "pellux.desktop\n");
    }
    EXPECT_EQ(ReadFile(dir.File("system/applications/pellux.desktop")), cases[std::size(cases) - 1].Installed);
}

TEST_F(AssociationTest, ADesktopsOwnListThatNamesAnotherHandlerGetsOurLineToo)
{
    dir.Write("system/applications/pellux.desktop", PackagedWithExec(ProgramFilePath() + " %f"));
    dir.Write("system/applications/org.gnome.FileRoller.desktop",
              "[Desktop Entry]\nType=Application\nName=Other\nExec=sh %f\nMimeType=application/zip;\n");
    const std::string gnome = "[Default Applications]\n"
                              "text/plain=org.gnome.TextEditor.desktop\n"
                              "application/zip=org.gnome.FileRoller.desktop;pellux.desktop;\n"
                              "\n"
                              "[Added Associations]\n"
                              "application/zip=org.gnome.FileRoller.desktop;\n";
    const std::string kde = "[Default Applications]\ntext/plain=kate.desktop\n";
    dir.Write("config/gnome-mimeapps.list", gnome);
    dir.Write("config/kde-mimeapps.list", kde);
    dir.Write("config/xfce-mimeapps.list", "[Default Applications]\napplication/zip=pellux.desktop\n");
    env.Set("XDG_CURRENT_DESKTOP", "GNOME");
    ASSERT_EQ(XdgDefault(), "org.gnome.FileRoller.desktop\n");

    env.Set("XDG_CURRENT_DESKTOP", "ubuntu:GNOME:KDE:XFCE");
    ui.Log.Answers.push_back(true);
    AssociateZipFiles(ProgramFilePath());
    EXPECT_EQ(ui.Log.Errors, Strings{});
    EXPECT_EQ(ReadFile(dir.File("config/gnome-mimeapps.list")),
              "[Default Applications]\n"
              "text/plain=org.gnome.TextEditor.desktop\n"
              "application/zip=pellux.desktop\n"
              "\n"
              "[Added Associations]\n"
              "application/zip=org.gnome.FileRoller.desktop;\n");
    // A list that names no handler for ZIP archives, or ours, is left alone; none is made.
    EXPECT_EQ(ReadFile(dir.File("config/kde-mimeapps.list")), kde);
    EXPECT_FALSE(fs::exists(dir.File("config/ubuntu-mimeapps.list")));
    EXPECT_EQ(ReadFile(MimeApps()), "[Default Applications]\napplication/zip=pellux.desktop\n");
    env.Set("XDG_CURRENT_DESKTOP", "GNOME");
    EXPECT_EQ(XdgDefault(), "pellux.desktop\n");
    env.Set("XDG_CURRENT_DESKTOP", "");
    EXPECT_EQ(XdgDefault(), "pellux.desktop\n");
}
