// "&Associate  .zip  files with  Pellux" offscreen, against the desktop's files in a
// temporary HOME: what a No and a Yes write, what the desktop then starts, and the
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

class AssociationTest : public WindowTest {
protected:
    AssociationTest()
    {
        env.Set("HOME", dir.File("home"));
        env.Set("XDG_CONFIG_HOME", dir.File("config"));
        env.Set("XDG_DATA_HOME", dir.File("data"));
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
        EXPECT_NE(entry.find("\nMimeType=application/zip;\n"), std::string::npos);
        EXPECT_EQ(entry.rfind("[Desktop Entry]\nType=Application\nName=Pellux\nIcon=pellux\n", 0), 0u);

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
