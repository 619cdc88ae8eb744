// The main window's commands on a scripted host, with the real archive component and
// the real compression libraries from the program's directory.
#include "app/commands/ArchiveCommands.h"
#include "tests/app/PyZip.h"
#include "tests/app/ScriptedHost.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "tests/support/ZipBytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <stdexcept>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class CommandsTest : public ::testing::Test {
protected:
    ScopedScriptedInteraction ui;
    TempDir dir;
    TZipEngine engine;
    ScriptedHost host;
    ArchiveCommands commands{engine, host};
    fs::path cwd = fs::current_path();

    void SetUp() override { TZipEngine::SetLibraryDirectory(""); }
    void TearDown() override
    {
        fs::current_path(cwd);
        TZipEngine::SetLibraryDirectory("");
    }

    std::string MakeZip(const std::string &name, const Strings &entries)
    {
        return test::MakeZip(dir.File(name), entries);
    }
    Strings Names() const
    {
        Strings names;
        for (const auto &entry : engine.DirEntries())
            names.emplace_back(entry.FileName());
        return names;
    }
    // The stored names as unzip sees them.
    static Strings UnzipNames(const std::string &archive)
    {
        std::string out;
        EXPECT_EQ(RunShell("unzip -Z1 " + Quote(archive), &out), 0);
        Strings names;
        for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
            names.push_back(out.substr(start, end - start));
        return names;
    }
    static const char *NoArchiveText()
    {
        return "There is currently now ZIP file opened: \rFirst open a zip archive with menu/Archive/open\r"
               "or create a new zip archive with menu/Archive/new";
    }
};

TEST_F(CommandsTest, GuardsRefuseWithTheirTexts)
{
    commands.AddFiles();
    commands.AddDirectory();
    commands.DeleteSelected(); // no archive: the empty listing has no selection
    engine.SetZipFilename(dir.File("Setup.EXE"));
    host.Selected = {"a.txt"};
    commands.AddFiles();
    commands.AddDirectory();
    commands.DeleteSelected();
    EXPECT_EQ(ui.Log.Messages,
              (Strings{NoArchiveText(), NoArchiveText(), "no files selected to delete",
                       "Can not add files to a self-extracting (.exe) archive",
                       "Can not add files to a self-extracting (.exe) archive",
                       "Error: can not delete files from a self-extracting archive."}));
    EXPECT_EQ(ui.Log.Beeps, 1);
    EXPECT_TRUE(ui.Log.FileDialogs.empty());
    EXPECT_TRUE(host.DirRequests.empty());
    EXPECT_TRUE(host.Events.empty());
    EXPECT_TRUE(ui.Log.Confirmations.empty());
}

TEST_F(CommandsTest, CancelledDialogsChangeNothing)
{
    const std::string path = MakeZip("a.zip", {"a.txt"});
    commands.OpenZipFile(path);
    host.Events.clear();
    commands.OpenArchive();
    commands.NewArchive();
    commands.AddFiles();
    commands.AddDirectory();
    commands.ExtractFiles(true);
    EXPECT_EQ(ui.Log.FileDialogs.size(), 3u);
    EXPECT_EQ(host.DirRequests.size(), 2u);
    EXPECT_TRUE(host.Events.empty());
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_EQ(engine.ZipFilename(), path);
}

TEST_F(CommandsTest, OpenShowsTheBusyWrapperAndOffersTheLastFileAgain)
{
    const std::string path = MakeZip("a.zip", {"a.txt", "b.txt"});
    ui.Log.Chosen.push_back({path});
    commands.OpenArchive();
    EXPECT_EQ(host.Events, (Strings{"busy:Loading ZIP file", "status:" + path, "idle"}));
    EXPECT_EQ(Names(), (Strings{"a.txt", "b.txt"}));
    const FileDialogRequest &first = ui.Log.FileDialogs.at(0);
    EXPECT_EQ(first.Mode, FileDialogRequest::Kind::Open);
    EXPECT_EQ(first.Title, "Open ZIP archive");
    EXPECT_EQ(first.Filters,
              (std::vector<std::pair<std::string, std::string>>{{"ZIP Files (*.ZIP)", "*.zip"},
                                                                {"Exe files (*.exe)", "*.exe"}}));
    EXPECT_TRUE(first.PathMustExist && first.FileMustExist && first.ShareAware && first.ShowReadOnly);
    EXPECT_EQ(first.FileName, "");

    commands.OpenArchive(); // cancelled
    EXPECT_EQ(ui.Log.FileDialogs.at(1).FileName, path);

    // A damaged archive: the wrapper ends before the error reaches the error report.
    ZipBytes bytes;
    bytes.U32(0x04034B50)
        .U16(10)
        .U16(0)
        .U16(0)
        .U32(0)
        .U32(0)
        .U32(9000)
        .U32(9000) // sizes reach past the end of the file
        .U16(7)
        .U16(0)
        .Raw("cut.txt");
    const std::string damaged = dir.Write("damaged.zip", bytes.Str());
    ui.Log.Chosen.push_back({damaged});
    host.Events.clear();
    EXPECT_THROW(commands.OpenArchive(), std::exception);
    EXPECT_EQ(host.Events, (Strings{"busy:Loading ZIP file", "idle"}));
}

TEST_F(CommandsTest, NewArchiveNameIsCompletedWithZipUnlessItHoldsZipAnywhere)
{
    const std::pair<const char *, const char *> cases[] = {
        {"Backup", "Backup.zip"},
        {"Backup.ZIP", "Backup.ZIP"},
        {"my.zipfiles/data", "my.zipfiles/data"},
    };
    for (const auto &[chosen, expected] : cases) {
        ui.Log.Chosen.push_back({dir.File(chosen)});
        host.Events.clear();
        commands.NewArchive();
        EXPECT_EQ(engine.ZipFilename(), dir.File(expected)) << chosen;
        EXPECT_EQ(host.Events, Strings{"status:" + dir.File(expected)}) << chosen;
        EXPECT_EQ(engine.EntryCount(), 0);
        EXPECT_FALSE(fs::exists(dir.File(expected))) << "created only by the first add";
    }
    commands.NewArchive(); // offers the completed name of the last run
    const FileDialogRequest &last = ui.Log.FileDialogs.back();
    EXPECT_EQ(last.FileName, dir.File("my.zipfiles/data"));
    EXPECT_EQ(ui.Log.FileDialogs.at(1).FileName, dir.File("Backup.zip"));
    EXPECT_EQ(last.Mode, FileDialogRequest::Kind::Save);
    EXPECT_EQ(last.Title, "Save new ZIP archive as...");
    EXPECT_EQ(last.Filters, (std::vector<std::pair<std::string, std::string>>{{"ZIP Files (*.ZIP)", "*.zip"}}));
    EXPECT_TRUE(last.ShareAware);
    EXPECT_FALSE(last.ShowReadOnly || last.PathMustExist || last.FileMustExist || last.OverwritePrompt);
    EXPECT_TRUE(ui.Log.Confirmations.empty());
}

TEST_F(CommandsTest, NewArchiveOntoAnExistingFileAsksFirst)
{
    const std::string previous = MakeZip("previous.zip", {"p.txt"});
    const std::string old = MakeZip("old.zip", {"o.txt"});
    commands.OpenZipFile(previous);

    ui.Log.Chosen.push_back({dir.File("old")});
    ui.Log.Answers.push_back(false);
    commands.NewArchive();
    EXPECT_EQ(ui.Log.Confirmations, Strings{"Overwrite Existing File: " + old + "?"});
    EXPECT_EQ(engine.ZipFilename(), previous);
    EXPECT_EQ(Names(), Strings{"p.txt"});
    EXPECT_TRUE(fs::exists(old));

    ui.Log.Chosen.push_back({old});
    ui.Log.Answers.push_back(true);
    host.Events.clear();
    commands.NewArchive();
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(engine.ZipFilename(), old);
    EXPECT_EQ(engine.EntryCount(), 0);
    EXPECT_EQ(host.Events, Strings{"status:" + old});
}

TEST_F(CommandsTest, CloseKeepsTheStatusTextAndThenAddFindsNoArchive)
{
    commands.OpenZipFile(MakeZip("a.zip", {"a.txt"}));
    host.Events.clear();
    commands.CloseArchive();
    EXPECT_EQ(engine.ZipFilename(), "");
    EXPECT_EQ(engine.EntryCount(), 0);
    EXPECT_TRUE(host.Events.empty()); // the status bar keeps its text
    commands.AddFiles();
    EXPECT_EQ(ui.Log.Messages, Strings{NoArchiveText()});
    EXPECT_TRUE(ui.Log.FileDialogs.empty());
}

TEST_F(CommandsTest, AddDirectoryThenAddFilesKeepsTheDirectoryOptions)
{
    dir.Write("src/a.txt", "alpha");
    dir.Write("src/sub/b.txt", "beta");
    const std::string loose = dir.Write("loose.txt", "loose");
    ui.Log.Chosen.push_back({dir.File("new")});
    commands.NewArchive();

    host.DirAnswers.push_back({mrOk, dir.File("src/")});
    host.Events.clear();
    commands.AddDirectory();
    ASSERT_EQ(host.DirRequests.size(), 1u);
    EXPECT_EQ(host.DirRequests[0].Start, "");
    EXPECT_EQ(host.DirRequests[0].Caption, "Add directory to archive");
    EXPECT_FALSE(host.DirRequests[0].AllowCreateDir);
    EXPECT_EQ(engine.AddOptions, (AddOpts{AddDirNames, AddRecurseDirs}));
    EXPECT_EQ(Names(), (Strings{"src/", "src/a.txt", "src/sub/", "src/sub/b.txt"}));
    EXPECT_EQ(host.Events, (Strings{"busy:Adding directory to ZIP archive", "refresh", "idle"}));

    ui.Log.Chosen.push_back({loose});
    host.Events.clear();
    commands.AddFiles();
    EXPECT_EQ(engine.AddOptions, (AddOpts{AddDirNames, AddRecurseDirs}));
    EXPECT_EQ(engine.ZipExecParams.RecurseFlag, PX_TRUE);
    EXPECT_EQ(engine.ZipExecParams.StripDirNamesFlag, PX_FALSE);
    EXPECT_EQ(host.Events, (Strings{"busy:Adding files to zip archive", "refresh", "idle"}));
    EXPECT_EQ(UnzipNames(dir.File("new.zip")),
              (Strings{"src/", "src/a.txt", "src/sub/", "src/sub/b.txt", "loose.txt"}));
    const FileDialogRequest &files = ui.Log.FileDialogs.back();
    EXPECT_EQ(files.Mode, FileDialogRequest::Kind::OpenMany);
    EXPECT_TRUE(files.FileMustExist);
    EXPECT_TRUE(ui.Log.Messages.empty());
}

TEST_F(CommandsTest, DeletePassesTheExactStoredNamesAndAsksFirst)
{
    const std::string path = MakeZip("case.zip", {"Docs/Sub/A.txt", "docs/sub/A.txt", "b.txt"});
    commands.OpenZipFile(path);
    host.Selected = {"Docs/Sub/A.txt", "b.txt"};
    host.Events.clear();
    commands.DeleteSelected(); // not confirmed
    EXPECT_EQ(ui.Log.Confirmations, Strings{"Are you sure you want to delete the selected files?"});
    EXPECT_EQ(engine.FSpecArgs, host.Selected);
    EXPECT_TRUE(host.Events.empty());

    // The names left behind are not added with the next files: b.txt on disk would
    // replace the stored one.
    dir.Write("b.txt", "on disk");
    fs::current_path(dir.Path());
    ui.Log.Chosen.push_back({dir.Write("new.txt", "n")});
    commands.AddFiles();
    EXPECT_EQ(UnzipNames(path), (Strings{"Docs/Sub/A.txt", "docs/sub/A.txt", "b.txt", "new.txt"}));
    std::string stored;
    RunShell("unzip -p " + Quote(path) + " b.txt", &stored);
    EXPECT_EQ(stored, "b.txt data");

    ui.Log.Answers.push_back(true);
    host.Events.clear();
    commands.DeleteSelected();
    EXPECT_EQ(host.Events, (Strings{"busy:Removing files from ZIP archive", "refresh", "idle"}));
    EXPECT_EQ(UnzipNames(path), (Strings{"docs/sub/A.txt", "new.txt"}));
    EXPECT_EQ(Names(), (Strings{"docs/sub/A.txt", "new.txt"}));
    EXPECT_TRUE(ui.Log.Messages.empty());
}

TEST_F(CommandsTest, ExtractAllSelectedAndNothingSelected)
{
    const std::string path = MakeZip("case.zip", {"Docs/Sub/A.txt", "docs/sub/A.txt", "b.txt"});
    commands.OpenZipFile(path);
    for (const char *out : {"all", "none", "one"})
        fs::create_directory(dir.File(out));

    host.DirAnswers.push_back({mrOk, dir.File("all/")});
    host.Events.clear();
    commands.ExtractFiles(true);
    EXPECT_EQ(host.DirRequests.at(0).Caption, "Extract all file(s) to directory..");
    EXPECT_EQ(host.DirRequests.at(0).Start, "");
    EXPECT_TRUE(host.DirRequests.at(0).AllowCreateDir);
    EXPECT_EQ(host.Events, (Strings{"busy:Extracting files", "idle"}));
    EXPECT_EQ(ReadFile(dir.File("all/Docs/Sub/A.txt")), "Docs/Sub/A.txt data");
    EXPECT_EQ(ReadFile(dir.File("all/docs/sub/A.txt")), "docs/sub/A.txt data");
    EXPECT_TRUE(engine.Verbose);
    EXPECT_FALSE(engine.Trace);
    EXPECT_EQ(engine.ExtrOptions, ExtrOpts{ExtrDirNames});

    // Nothing selected: everything, exactly as for all; the chooser starts where it ended.
    host.DirAnswers.push_back({mrOk, dir.File("none/")});
    commands.ExtractFiles(false);
    EXPECT_EQ(host.DirRequests.at(1).Caption, "Extract selected file(s) to directory..");
    EXPECT_EQ(host.DirRequests.at(1).Start, dir.File("all/"));
    EXPECT_TRUE(fs::exists(dir.File("none/b.txt")) && fs::exists(dir.File("none/Docs/Sub/A.txt")));

    host.Selected = {"Docs/Sub/A.txt"};
    host.DirAnswers.push_back({mrOk, dir.File("one/")});
    commands.ExtractFiles(false);
    EXPECT_TRUE(fs::exists(dir.File("one/Docs/Sub/A.txt")));
    EXPECT_FALSE(fs::exists(dir.File("one/docs")));
    EXPECT_FALSE(fs::exists(dir.File("one/b.txt")));
    EXPECT_EQ(ui.Log.Messages, (Strings{"3 files were extracted", "3 files were extracted", "1 files were extracted"}));
}

TEST_F(CommandsTest, OverwriteBoxDecidesWhetherExistingFilesAreReplaced)
{
    commands.OpenZipFile(MakeZip("a.zip", {"a.txt"}));
    const std::string target = dir.Write("out/a.txt", "changed");
    for (const bool overwrite : {false, true}) {
        host.Overwrite = overwrite;
        host.DirAnswers.push_back({mrOk, dir.File("out/")});
        commands.ExtractFiles(true);
        EXPECT_EQ(engine.ExtrOptions.Contains(ExtrOverWrite), overwrite);
        EXPECT_EQ(engine.UnzExecParams.OverwriteFlag, overwrite ? PX_TRUE : PX_FALSE);
        EXPECT_EQ(ReadFile(target), overwrite ? "a.txt data" : "changed");
    }
}

TEST_F(CommandsTest, CancelledChooserStillMovesTheNextStart)
{
    commands.OpenZipFile(MakeZip("a.zip", {"a.txt"}));
    host.Events.clear();
    host.DirAnswers.push_back({mrCancel, dir.File("elsewhere/")});
    commands.ExtractFiles(true);
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_TRUE(host.Events.empty());
    commands.ExtractFiles(false);
    EXPECT_EQ(host.DirRequests.at(1).Start, dir.File("elsewhere/"));
    EXPECT_EQ(commands.ExtractDir, dir.File("elsewhere/"));
}

TEST_F(CommandsTest, SelfExtractingProgramIsListedAndExtractedButNotChanged)
{
    dir.Write("src/readme.txt", "read me");
    ASSERT_EQ(RunShell("cd " + Quote(dir.File("src"))
                       + " && zip -q ../payload.zip readme.txt && cat /bin/true ../payload.zip >"
                         " ../setup.exe && zip -qA ../setup.exe"),
              0);
    commands.OpenZipFile(dir.File("setup.exe"));
    EXPECT_EQ(Names(), Strings{"readme.txt"});
    host.DirAnswers.push_back({mrOk, dir.File("out/")});
    fs::create_directory(dir.File("out"));
    commands.ExtractFiles(true);
    EXPECT_EQ(ReadFile(dir.File("out/readme.txt")), "read me");
    commands.AddFiles();
    EXPECT_EQ(ui.Log.Messages,
              (Strings{"1 files were extracted", "Can not add files to a self-extracting (.exe) archive"}));
}

// Shows texts like the scripted service and raises once when a given text is shown.
class RaisingInteraction : public ScriptedInteraction {
public:
    RaisingInteraction(ScriptedLog &log, std::string trigger, const ScriptedHost &host)
        : ScriptedInteraction(log), trigger_(std::move(trigger)), host_(host)
    {
    }
    std::vector<std::pair<std::string, bool>> Shown; // each text and whether the work was busy
    void ShowMessage(const std::string &text) override
    {
        Shown.emplace_back(text, host_.Busy);
        ScriptedInteraction::ShowMessage(text);
        if (text == trigger_) {
            trigger_.clear();
            throw std::runtime_error("Disk gone");
        }
    }

private:
    std::string trigger_;
    const ScriptedHost &host_;
};

TEST_F(CommandsTest, ErrorsOfTheOperationsEndTheBusyDisplayFirst)
{
    dir.Write("nolibs/.keep", "");
    TZipEngine::SetLibraryDirectory(dir.File("nolibs"));
    commands.OpenZipFile(MakeZip("a.zip", {"a.txt"}));

    auto raising = std::make_unique<RaisingInteraction>(ui.Log, "libpxunz.so not found", host);
    RaisingInteraction &extractUi = *raising;
    auto previous = SetUserInteraction(std::move(raising));
    host.DirAnswers.push_back({mrOk, dir.File("nolibs/")});
    commands.ExtractFiles(true);
    EXPECT_EQ(extractUi.Shown,
              (std::vector<std::pair<std::string, bool>>{{"libpxunz.so not found", true},
                                                         {"Error extracting: Disk gone", false},
                                                         {"0 files were extracted", false}}));

    // Add: the error goes on to the general report, and the listing is not rebuilt.
    SetUserInteraction(std::make_unique<RaisingInteraction>(ui.Log, "libpxzip.so not found", host));
    ui.Log.Chosen.push_back({dir.Write("b.txt", "b")});
    host.Events.clear();
    EXPECT_THROW(commands.AddFiles(), std::runtime_error);
    EXPECT_EQ(host.Events, (Strings{"busy:Adding files to zip archive", "idle"}));
    SetUserInteraction(std::move(previous));
}

TEST_F(CommandsTest, ArchiveNamedRelativelyIsFoundAfterTheCurrentDirectoryMoved)
{
    MakeZip("rel.zip", {"a.txt", "b.txt"});
    fs::create_directory(dir.File("out"));
    fs::current_path(dir.Path());
    commands.OpenZipFile("rel.zip");
    EXPECT_EQ(host.Events, Strings{"status:rel.zip"}); // shown as given
    EXPECT_EQ(engine.ZipFilename(), dir.File("rel.zip"));

    host.DirAnswers.push_back({mrOk, dir.File("out/")});
    commands.ExtractFiles(true); // makes out/ the current directory
    ASSERT_EQ(fs::current_path(), fs::path(dir.File("out")));
    ui.Log.Chosen.push_back({dir.Write("c.txt", "c")});
    commands.AddFiles();
    host.Selected = {"a.txt"};
    ui.Log.Answers.push_back(true);
    commands.DeleteSelected();
    EXPECT_EQ(UnzipNames(dir.File("rel.zip")), (Strings{"b.txt", "c.txt"}));
    EXPECT_EQ(Names(), (Strings{"b.txt", "c.txt"}));
    EXPECT_FALSE(fs::exists(dir.File("out/rel.zip")));
    EXPECT_EQ(ui.Log.Messages, Strings{"2 files were extracted"});

    ui.Log.Chosen.push_back({"fresh"});
    commands.NewArchive();
    EXPECT_EQ(engine.ZipFilename(), dir.File("out/fresh.zip"));
    EXPECT_EQ(host.Events.back(), "status:fresh.zip");
}

} // namespace
} // namespace pellux::test
