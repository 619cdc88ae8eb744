// The component with the real libraries, found beside the program as the window finds
// them: add, list, delete, extract, and cancel from an event handler.
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "zip/ZipEngine.h"

#include <gtest/gtest.h>

namespace pellux {
namespace {

using test::ReadFile;
using test::RunShell;
using test::TempDir;
namespace fs = std::filesystem;

class RealLibraryTest : public ::testing::Test {
protected:
    test::ScopedScriptedInteraction ui;
    TempDir dir;
    TZipEngine engine;
    fs::path cwd = fs::current_path();
    std::vector<std::string> errors;

    void SetUp() override
    {
        TZipEngine::SetLibraryDirectory("");
        engine.OnMessage = [this](TZipEngine &, int32_t code, const std::string &text) {
            if (code != 0)
                errors.push_back(text);
        };
        dir.Write("src/a.txt", "alpha");
        dir.Write("src/sub/b.txt", std::string(100000, 'b'));
    }
    void TearDown() override { fs::current_path(cwd); }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto &entry : engine.DirEntries())
            names.push_back(entry.FileName);
        return names;
    }
};

TEST_F(RealLibraryTest, AddListDeleteAndExtract)
{
    engine.SetZipFilename(dir.File("t.zip"));
    engine.AddOptions = {AddDirNames, AddRecurseDirs};
    engine.FSpecArgs = {dir.File("src")};
    engine.Add();
    EXPECT_EQ(engine.ProcessedCount, 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"src/", "src/a.txt", "src/sub/", "src/sub/b.txt"}));
    EXPECT_EQ(RunShell("unzip -tqq " + test::Quote(dir.File("t.zip")) + " >/dev/null"), 0);

    engine.FSpecArgs = {"src/a.txt"};
    engine.Delete();
    EXPECT_EQ(engine.ProcessedCount, 1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"src/", "src/sub/", "src/sub/b.txt"}));

    fs::create_directory(dir.File("out"));
    engine.ExtrBaseDir = dir.File("out");
    engine.ExtrOptions = {ExtrDirNames};
    engine.Extract();
    EXPECT_EQ(engine.ProcessedCount, 1);
    EXPECT_EQ(ReadFile(dir.File("out/src/sub/b.txt")), std::string(100000, 'b'));
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(ui.Log.Messages.empty());
}

TEST_F(RealLibraryTest, CancelFromOnProgressLeavesTheArchiveByteIdentical)
{
    engine.SetZipFilename(dir.File("t.zip"));
    engine.AddOptions = {AddDirNames, AddRecurseDirs};
    engine.FSpecArgs = {dir.File("src")};
    engine.Add();
    const std::string before = ReadFile(dir.File("t.zip"));

    dir.Write("more/c.txt", "c");
    engine.OnProgress = [](TZipEngine &sender, ProgressType type, const std::string &, int32_t) {
        if (type == ProgrFile)
            sender.Cancel = true;
    };
    engine.FSpecArgs = {dir.File("more")};
    engine.Add();
    EXPECT_EQ(engine.ProcessedCount, 0);
    EXPECT_EQ(ReadFile(dir.File("t.zip")), before);
    EXPECT_EQ(Names().size(), 4u);
    EXPECT_FALSE(engine.Cancel);
}

} // namespace
} // namespace pellux
