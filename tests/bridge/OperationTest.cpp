// Add, Delete and Extract against stand-in libraries: every precondition message,
// every loading message and the state each leaves behind.
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "zip/ZipEngine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

namespace pellux {
namespace {

using test::ScopedScriptedInteraction;
using test::TempDir;
namespace fs = std::filesystem;

constexpr const char *kFatal = "Fatal DLL Error: abort exception";

class OperationTest : public ::testing::Test {
protected:
    ScopedScriptedInteraction ui;
    TempDir dir;
    TZipEngine engine;
    fs::path cwd = fs::current_path();
    std::vector<std::string> libraryMessages;
    int dirUpdates = 0;

    void SetUp() override
    {
        UseLibraries("record");
        engine.OnMessage = [this](TZipEngine &, int32_t, const std::string &text) { libraryMessages.push_back(text); };
        engine.OnDirUpdate = [this](TZipEngine &) { ++dirUpdates; };
    }
    void TearDown() override
    {
        TZipEngine::SetLibraryDirectory("");
        fs::current_path(cwd);
    }
    static void UseLibraries(const std::string &kind)
    {
        TZipEngine::SetLibraryDirectory(std::string(PELLUX_BIN_DIR) + "/testlibs/" + kind);
    }
    // The block as the recording library saw it.
    std::map<std::string, std::string> Seen() const
    {
        std::map<std::string, std::string> fields;
        for (const auto &text : libraryMessages) {
            const auto eq = text.find('=');
            if (eq != std::string::npos && text.compare(0, 9, "FileName=") != 0)
                fields[text.substr(0, eq)] = text.substr(eq + 1);
        }
        return fields;
    }
    std::vector<std::string> SeenNames() const
    {
        std::vector<std::string> names;
        for (const auto &text : libraryMessages)
            if (text.compare(0, 9, "FileName=") == 0)
                names.push_back(text.substr(9));
        return names;
    }
    static std::string Pointer(const void *p)
    {
        char text[64];
        std::snprintf(text, sizeof(text), "%p", p);
        return text;
    }
    // The archive name without reading anything.
    void Name(const std::string &name)
    {
        engine.Designing = true;
        engine.SetZipFilename(name);
        engine.Designing = false;
    }
};

struct PreconditionRow {
    const char *Case;
    bool Deleting;
    std::vector<std::string> Args;
    std::string Archive; // "@" becomes an existing file in the test directory
    const char *Message;
};

class PreconditionTest : public OperationTest, public ::testing::WithParamInterface<PreconditionRow> {};

TEST_P(PreconditionTest, ShowsItsMessageAndChangesNothing)
{
    const auto &row = GetParam();
    std::string archive = row.Archive;
    if (!archive.empty() && archive[0] == '@')
        archive = dir.Write(archive.substr(1), "x");
    Name(archive);
    engine.FSpecArgs = row.Args;
    engine.ProcessedCount = 5;
    row.Deleting ? engine.Delete() : engine.Add();
    EXPECT_EQ(ui.Log.Messages, std::vector<std::string>{row.Message});
    EXPECT_EQ(engine.FSpecArgs, row.Args);
    EXPECT_EQ(engine.ProcessedCount, 5);
    EXPECT_TRUE(libraryMessages.empty());
    EXPECT_FALSE(engine.CompressBusy);
    EXPECT_EQ(TZipEngine::ZipLibHandle(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PreconditionTest,
    ::testing::Values(PreconditionRow{"AddNoFiles", false, {}, "a.zip", "Error - no files to zip"},
                      PreconditionRow{"AddNoName", false, {"f"}, "", "Error - no zip file specified"},
                      PreconditionRow{"DeleteNoFiles", true, {}, "@a.zip", "Error - no files selected for deletion"},
                      PreconditionRow{
                          "DeleteMissingArchive", true, {"f"}, "/nonexistent/a.zip", "Error - no zip file specified"},
                      PreconditionRow{"AddExeUpper",
                                      false,
                                      {"f"},
                                      "setup.EXE",
                                      "Error - this pgm can NOT add files to a self-extracting archive"},
                      PreconditionRow{"AddExeMixed",
                                      false,
                                      {"f"},
                                      "setup.eXe",
                                      "Error - this pgm can NOT add files to a self-extracting archive"},
                      PreconditionRow{"DeleteExe",
                                      true,
                                      {"f"},
                                      "@s.Exe",
                                      "Error - this pgm can NOT delete files from a self-extracting archive"}),
    [](const auto &info) { return std::string(info.param.Case); });

TEST_F(OperationTest, ANameOfFourCharactersOrFewerIsNeverSelfExtracting)
{
    Name(dir.File("exe")); // a path, so longer than four; its tail is "/exe"
    engine.FSpecArgs = {"f"};
    engine.Add();
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_EQ(engine.ProcessedCount, 1);
}

TEST_F(OperationTest, ABusyOperationReturnsAtOnce)
{
    Name(dir.Write("a.zip", "x"));
    engine.FSpecArgs = {"f"};
    engine.CompressBusy = true;
    engine.Add();
    engine.Delete();
    EXPECT_EQ(engine.FSpecArgs, std::vector<std::string>{"f"});
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_TRUE(libraryMessages.empty());
    engine.ExtractBusy = true;
    engine.Extract();
    EXPECT_TRUE(libraryMessages.empty());
}

TEST_F(OperationTest, AMissingLibraryIsReportedOnEveryAttemptUntilItIsThere)
{
    UseLibraries("none");
    Name(dir.File("a.zip"));
    engine.ProcessedCount = 3;
    for (int attempt = 0; attempt < 2; ++attempt) {
        engine.FSpecArgs = {"f"};
        engine.Add();
        engine.Extract();
    }
    EXPECT_EQ(ui.Log.Messages,
              (std::vector<std::string>{"libpxzip.so not found", "libpxunz.so not found", "libpxzip.so not found",
                                        "libpxunz.so not found"}));
    EXPECT_EQ(engine.FSpecArgs, std::vector<std::string>{"f"});
    EXPECT_EQ(engine.ProcessedCount, 3);
    EXPECT_FALSE(engine.CompressBusy);
    EXPECT_FALSE(engine.ExtractBusy);

    UseLibraries("record");
    ui.Log.Clear();
    engine.Add();
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_EQ(engine.ProcessedCount, 1);
}

TEST_F(OperationTest, TraceReportsEachLoad)
{
    engine.Trace = true;
    Name(dir.File("a.zip"));
    engine.FSpecArgs = {"f"};
    engine.Add();
    engine.Extract();
    engine.FSpecArgs = {"f"};
    engine.Add();
    EXPECT_EQ(ui.Log.Messages, (std::vector<std::string>{"ZIP DLL Loaded", "UNZ DLL Loaded", "ZIP DLL Loaded"}));
    EXPECT_EQ(Seen()["VerboseFlag"], "-1");
}

TEST_F(OperationTest, AMissingExecEntryEndsAsALibraryFailure)
{
    for (const auto &[kind, expected] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"noexec",
              {"PxZipExec function not found in libpxzip.so", kFatal, "PxUnzExec function not found in libpxunz.so",
               kFatal}},
             {"noentries",
              {"PxZipExec function not found in libpxzip.so", "GetPxZipVersion function not found in libpxzip.so",
               kFatal, "PxUnzExec function not found in libpxunz.so",
               "GetPxUnzVersion function not found in libpxunz.so", kFatal}}}) {
        SCOPED_TRACE(kind);
        UseLibraries(kind);
        ui.Log.Clear();
        Name(dir.File("a.zip"));
        engine.ProcessedCount = 0;
        engine.FSpecArgs = {"f"};
        engine.Add();
        EXPECT_TRUE(engine.FSpecArgs.empty());
        engine.FSpecArgs = {"f"};
        engine.Extract();
        EXPECT_EQ(ui.Log.Messages, expected);
        EXPECT_TRUE(engine.FSpecArgs.empty());
        EXPECT_EQ(engine.ProcessedCount, 0);
        EXPECT_EQ(TZipEngine::ZipLibHandle(), nullptr);
        EXPECT_EQ(TZipEngine::UnzLibHandle(), nullptr);
        EXPECT_FALSE(engine.CompressBusy || engine.ExtractBusy || engine.Cancel);
    }
}

TEST_F(OperationTest, ALibraryThatThrowsIsReportedOnceAndTheComponentStaysReady)
{
    UseLibraries("throw");
    Name(dir.File("a.zip"));
    engine.FSpecArgs = {"f"};
    engine.ProcessedCount = 2;
    engine.Add();
    EXPECT_EQ(ui.Log.Messages, std::vector<std::string>{kFatal});
    EXPECT_EQ(engine.ProcessedCount, 2);
    EXPECT_TRUE(engine.FSpecArgs.empty());
    EXPECT_EQ(dirUpdates, 1); // the old count is above 0: the list is re-read
    EXPECT_FALSE(engine.CompressBusy);

    UseLibraries("record");
    engine.FSpecArgs = {"g", "h"};
    engine.Add();
    EXPECT_EQ(engine.ProcessedCount, 2);
    EXPECT_EQ(ui.Log.Messages.size(), 1u);
}

TEST_F(OperationTest, AddHandsTheLibraryTheBlockAndTheBuffers)
{
    Name(dir.File("new.zip"));
    engine.AddOptions = {AddDirNames, AddRecurseDirs, AddZipTime};
    engine.AddCompLevel = 4;
    const std::string longName(600, 'n'); // longer than the old 255-character buffers
    engine.FSpecArgs = {"/data/one", "two words", longName};
    engine.Add();
    auto seen = Seen();
    EXPECT_EQ(seen["CallerObject"], Pointer(&engine));
    EXPECT_EQ(seen["CallbackProc"], Pointer(reinterpret_cast<const void *>(&TZipEngine::LibCallback)));
    EXPECT_EQ(seen["ZipFileName"], dir.File("new.zip"));
    EXPECT_EQ(seen["ArgCount"], "3");
    EXPECT_EQ(seen["StripDirNamesFlag"], "0");
    EXPECT_EQ(seen["RecurseFlag"], "-1");
    EXPECT_EQ(seen["ZipTimeFlag"], "-1");
    EXPECT_EQ(seen["CompressionLevel"], "4");
    EXPECT_EQ(seen["DeleteEntriesFlag"], "0");
    EXPECT_EQ(seen["Switch20"], "-1");
    EXPECT_EQ(SeenNames(), (std::vector<std::string>{"/data/one", "two words", longName}));
    EXPECT_EQ(engine.ProcessedCount, 3);
    EXPECT_TRUE(engine.FSpecArgs.empty());
    EXPECT_EQ(dirUpdates, 1);
    EXPECT_EQ(TZipEngine::ZipLibHandle(), nullptr); // unloaded at the end
    EXPECT_EQ(engine.ZipExecParams.ZipFileNamePtr, nullptr);
    EXPECT_EQ(engine.ZipExecParams.FileNames[0], nullptr);
}

TEST_F(OperationTest, AResultOfZeroOrLessIsNotFollowedByARead)
{
    Name(dir.File("a.zip"));
    for (const char *result : {"return:0", "return:-4"}) {
        engine.FSpecArgs = {result};
        engine.Add();
        EXPECT_EQ(dirUpdates, 0);
    }
    EXPECT_EQ(engine.ProcessedCount, -4);
}

TEST_F(OperationTest, DeleteOverridesSevenFieldsAndKeepsTheRest)
{
    Name(dir.Write("a.zip", "x"));
    engine.AddOptions = {AddDirNames, AddRecurseDirs, AddMove,     AddFreshen,
                         AddUpdate,   AddZipTime,     AddForceDOS, AddHiddenFiles};
    engine.AddCompLevel = 3;
    engine.Trace = true;
    engine.FSpecArgs = {"dir/entry.txt"};
    engine.Delete();
    auto seen = Seen();
    EXPECT_EQ(seen["DeleteEntriesFlag"], "-1");
    for (const char *field : {"Switch20", "StripDirNamesFlag", "MoveFlag", "FreshenFlag", "UpdateFlag", "RecurseFlag"})
        EXPECT_EQ(seen[field], "0") << field;
    for (const char *field : {"HiddenFilesFlag", "ForceDosFlag", "ZipTimeFlag", "TraceFlag", "VerboseFlag"})
        EXPECT_EQ(seen[field], "-1") << field;
    EXPECT_EQ(seen["CompressionLevel"], "3");
    EXPECT_EQ(SeenNames(), std::vector<std::string>{"dir/entry.txt"});
}

TEST_F(OperationTest, MoreThan4097NamesAreSplitAndTheCountsAddUp)
{
    Name(dir.File("a.zip"));
    for (int i = 0; i < 5000; ++i)
        engine.FSpecArgs.push_back("file" + std::to_string(i));
    engine.Add();
    EXPECT_EQ(engine.ProcessedCount, 5000);
    std::vector<std::string> counts;
    for (const auto &text : libraryMessages)
        if (text.compare(0, 9, "ArgCount=") == 0)
            counts.push_back(text);
    EXPECT_EQ(counts, (std::vector<std::string>{"ArgCount=4097", "ArgCount=903"}));
    EXPECT_EQ(dirUpdates, 1);
}

TEST_F(OperationTest, ExtractSendsEverythingAndWorksFromTheExtractionDirectory)
{
    const auto target = dir.Path() / "target";
    fs::create_directory(target);
    fs::current_path(dir.Path());
    Name("archive.exe"); // relative, and self-extracting archives are accepted
    engine.ExtrBaseDir = target.string();
    engine.ExtrOptions = {ExtrDirNames};
    engine.Extract();
    auto seen = Seen();
    EXPECT_EQ(seen["ArgCount"], "0");
    EXPECT_EQ(seen["DirNamesFlag"], "-1");
    EXPECT_EQ(seen["cwd"], fs::canonical(target).string());
    EXPECT_EQ(seen["ZipFileName"], (fs::canonical(dir.Path()) / "archive.exe").string());
    EXPECT_EQ(fs::current_path(), fs::canonical(target)); // not set back
    EXPECT_EQ(dirUpdates, 0);
    EXPECT_TRUE(ui.Log.Messages.empty());
}

TEST_F(OperationTest, ExtractIntoAMissingDirectoryStaysWhereItIs)
{
    fs::current_path(dir.Path());
    Name(dir.File("a.zip"));
    engine.ExtrBaseDir = dir.File("missing");
    engine.FSpecArgs = {"one", "two"};
    engine.Extract();
    EXPECT_EQ(Seen()["cwd"], fs::canonical(dir.Path()).string());
    EXPECT_EQ(SeenNames(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(engine.ProcessedCount, 2);
    EXPECT_TRUE(engine.FSpecArgs.empty());
}

TEST_F(OperationTest, CancelFromAProgressHandlerStopsTheLibraryAndIsClearedAfterwards)
{
    Name(dir.File("a.zip"));
    std::vector<std::string> files;
    engine.OnProgress = [&](TZipEngine &sender, ProgressType type, const std::string &name, int32_t) {
        if (type == ProgrFile) {
            files.push_back(name);
            sender.Cancel = true;
        }
    };
    engine.Cancel = true; // a request made before the operation has no effect on it
    engine.FSpecArgs = {"plain", "file:a", "file:b"};
    engine.Add();
    EXPECT_EQ(files, std::vector<std::string>{"a"});
    EXPECT_EQ(engine.ProcessedCount, 1);
    EXPECT_FALSE(engine.Cancel);
}

TEST_F(OperationTest, AnErrorInAnEventHandlerEndsTheCallLikeALibraryFailure)
{
    Name(dir.File("a.zip"));
    engine.OnMessage = [](TZipEngine &, int32_t, const std::string &) { throw std::runtime_error("handler"); };
    engine.FSpecArgs = {"f"};
    engine.Add();
    EXPECT_EQ(ui.Log.Messages, std::vector<std::string>{kFatal});
    EXPECT_EQ(engine.ProcessedCount, 0);
    EXPECT_FALSE(engine.CompressBusy);
}

TEST_F(OperationTest, BusyFlagsGuardReentryButExtractMayRunDuringAdd)
{
    Name(dir.File("a.zip"));
    bool nestedDone = false;
    engine.OnMessage = [&](TZipEngine &sender, int32_t, const std::string &text) {
        libraryMessages.push_back(text);
        if (nestedDone || text.compare(0, 8, "ArgCount") != 0)
            return;
        nestedDone = true;
        EXPECT_TRUE(sender.CompressBusy);
        sender.FSpecArgs = {"nested"};
        sender.Add();     // returns at once
        sender.Extract(); // its own flag and library: runs
    };
    engine.FSpecArgs = {"f"};
    engine.Add();
    EXPECT_TRUE(nestedDone);
    EXPECT_TRUE(ui.Log.Messages.empty());
    std::vector<std::string> names = SeenNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "nested"), 1); // only Extract saw it
    EXPECT_FALSE(engine.CompressBusy || engine.ExtractBusy);
}

} // namespace
} // namespace pellux
