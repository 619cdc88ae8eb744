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
            names.emplace_back(entry.FileName());
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

// The steps of every operation add up to what the library announced, each a small
// part of it, so that a progress bar can follow the work inside one large file.
TEST_F(RealLibraryTest, ProgressStepsAddUpToTheAnnouncedBytes)
{
    std::string big(3 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 13);
    dir.Write("src/sub/big.bin", big);
    dir.Write("later/c.bin", big.substr(0, 1 << 20));
    std::uint64_t done = 0;
    std::int32_t largest = 0;
    engine.OnProgress = [&](TZipEngine &, ProgressType type, const std::string &, int32_t size) {
        if (type == ProgrStep) {
            done += static_cast<std::uint64_t>(size);
            largest = std::max(largest, size);
        }
    };
    auto run = [&](auto operation) {
        done = 0;
        largest = 0;
        (engine.*operation)();
        EXPECT_LE(largest, 256 << 10);
        EXPECT_TRUE(errors.empty());
    };
    const std::uint64_t sources = 5 + 100000 + big.size();

    engine.SetZipFilename(dir.File("t.zip"));
    engine.AddOptions = {AddDirNames, AddRecurseDirs};
    engine.FSpecArgs = {dir.File("src")};
    run(&TZipEngine::Add);
    EXPECT_EQ(engine.BytesToDo, sources);
    EXPECT_EQ(done, sources);

    // Into an existing archive the entries that stay are copied, their local headers
    // read on the way: a little more than their data.
    const auto archiveSize = fs::file_size(dir.File("t.zip"));
    engine.FSpecArgs = {dir.File("later")};
    run(&TZipEngine::Add);
    EXPECT_GT(engine.BytesToDo, (1u << 20) + archiveSize * 9 / 10);
    EXPECT_LE(engine.BytesToDo, (1u << 20) + archiveSize);
    EXPECT_GE(done, engine.BytesToDo);
    EXPECT_LE(done, engine.BytesToDo + 4096);

    engine.FSpecArgs = {"later/c.bin"};
    run(&TZipEngine::Delete);
    EXPECT_GT(engine.BytesToDo, archiveSize * 9 / 10);
    EXPECT_GE(done, engine.BytesToDo);
    EXPECT_LE(done, engine.BytesToDo + 4096);

    fs::create_directory(dir.File("out"));
    engine.ExtrBaseDir = dir.File("out");
    engine.ExtrOptions = {ExtrDirNames};
    run(&TZipEngine::Extract);
    EXPECT_EQ(engine.BytesToDo, sources);
    EXPECT_EQ(done, sources);
}

} // namespace
} // namespace pellux
