// The status window's bar and Cancel button around real work of the real libraries:
// the event loop keeps answering, Cancel stops the work and leaves everything as it
// was, the other windows take no input meanwhile, and short work shows no bar.
#include "dialogs/BusyProgress.h"
#include "dialogs/FStatus.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

namespace pellux {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::ReadFile;

// Writes `size` bytes of one random 16 KiB block over and over: deflate finds real
// matches in it, quickly enough that 200 MB take a second or two at level 9.
void WriteRepeating(const std::string &path, std::size_t size)
{
    std::string block(16 << 10, '\0');
    std::mt19937 random(42);
    for (char &c : block)
        c = static_cast<char>(random());
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    for (std::size_t at = 0; at < size; at += block.size())
        out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - at)));
}

// Sixteen symbols drawn at random: deflate finds no long matches and must work for
// every byte, so an add of it lasts past the status window's delay on any machine.
void WriteLowEntropy(const std::string &path, std::size_t size)
{
    std::string bytes(size, '\0');
    std::mt19937 random(7);
    for (char &c : bytes)
        c = "0123456789abcdef"[random() % 16];
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
}

std::vector<std::string> Listing(const fs::path &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        names.push_back(fs::relative(entry.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

class BusyProgressTest : public ::testing::Test {
protected:
    test::ScopedScriptedInteraction ui;
    test::TempDir dir;
    TZipEngine engine;
    fs::path cwd = fs::current_path();
    // Stands in for the main window: it existed before the work began.
    QWidget mainWindow;
    QPushButton *mainButton = new QPushButton(QStringLiteral("Delete"), &mainWindow);
    int mainClicks = 0;

    void SetUp() override
    {
        TZipEngine::SetLibraryDirectory(PELLUX_BIN_DIR);
        QObject::connect(mainButton, &QPushButton::clicked, [this] { ++mainClicks; });
        mainWindow.show();
    }
    void TearDown() override
    {
        TZipEngine::SetLibraryDirectory("");
        fs::current_path(cwd);
    }
};

TEST_F(BusyProgressTest, ShortWorkShowsNoBarAndTheEarlierHandlerKeepsItsPlace)
{
    dir.Write("src/a.txt", std::string(300000, 'a'));
    int earlier = 0;
    engine.OnProgress = [&](TZipEngine &, ProgressType, const std::string &, std::int32_t) { ++earlier; };
    engine.SetZipFilename(dir.File("t.zip"));
    engine.FSpecArgs = {dir.File("src/a.txt")};
    {
        WithBusyProgress<ScopedStatus> busy(engine, "Pellux ", "Adding files");
        engine.Add();
        EXPECT_EQ(engine.ProcessedCount, 1);
        EXPECT_FALSE(busy.Progress.Revealed());
        EXPECT_FALSE(TFormStatus::Current()->ProgressBarStatus->isVisible());
        EXPECT_FALSE(TFormStatus::Current()->ButtonCancel->isVisible());
        EXPECT_EQ(busy.Progress.BytesDone(), 300000u);
    }
    EXPECT_GT(earlier, 0);
    const int before = earlier;
    engine.OnProgress(engine, ProgrStep, " ", 0);
    EXPECT_EQ(earlier, before + 1);
    EXPECT_EQ(TFormStatus::Current(), nullptr);
}

// Cancel pressed on the real button, once the bar shows, during each of the three
// operations. Every step is slowed a little so that the work outlasts the half
// second before the bar appears on any machine.
TEST_F(BusyProgressTest, CancelStopsAddDeleteAndExtractAndLeavesEverythingAsItWas)
{
    WriteRepeating(dir.File("src/big.bin"), 24 << 20);
    dir.Write("src/a.txt", "alpha");
    ASSERT_EQ(test::RunShell("cd " + test::Quote(dir.File("src")) + " && zip -q -0 ../t.zip big.bin a.txt"), 0);
    dir.Write("more/new.bin", ReadFile(dir.File("src/big.bin")));
    fs::create_directory(dir.File("out"));
    engine.SetZipFilename(dir.File("t.zip"));
    const std::string archive = ReadFile(dir.File("t.zip"));
    const auto files = Listing(dir.Path());
    // 8 ms a 128 KiB step, also where an extraction's writer thread hands on several at once.
    engine.OnProgress = [](TZipEngine &, ProgressType type, const std::string &, std::int32_t bytes) {
        const int steps = type == ProgrStep ? std::max(1, bytes / (128 << 10)) : 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(8 * steps));
    };

    struct Operation {
        const char *Text;
        std::vector<std::string> Args;
        void (TZipEngine::*Run)();
    };
    for (const Operation &op : {Operation{"Adding files", {dir.File("more/new.bin")}, &TZipEngine::Add},
                                Operation{"Deleting files", {"a.txt"}, &TZipEngine::Delete},
                                Operation{"Extracting files", {"big.bin"}, &TZipEngine::Extract}}) {
        SCOPED_TRACE(op.Text);
        engine.FSpecArgs = op.Args;
        engine.ExtrBaseDir = dir.File("out");
        WithBusyProgress<ScopedStatus> busy(engine, "Pellux ", op.Text);
        TFormStatus *status = TFormStatus::Current();
        Clock::time_point clicked{};
        QTimer presser;
        QObject::connect(&presser, &QTimer::timeout, [&] {
            QTest::mouseClick(mainButton, Qt::LeftButton); // must not get through
            if (clicked == Clock::time_point{} && status->ButtonCancel->isVisible()) {
                clicked = Clock::now();
                QTest::mouseClick(status->ButtonCancel, Qt::LeftButton);
            }
        });
        presser.start(5);
        (engine.*op.Run)();
        const auto stopped = Clock::now();
        presser.stop();

        ASSERT_NE(clicked, Clock::time_point{}) << "the bar never showed; " << engine.ProcessedCount << " files done, "
                                                << ui.Log.Messages.size() << " messages";
        std::printf("[ measured ] %s: cancelled %.0f ms after the click, %llu of %llu bytes done\n", op.Text,
                    std::chrono::duration<double, std::milli>(stopped - clicked).count(),
                    static_cast<unsigned long long>(busy.Progress.BytesDone()),
                    static_cast<unsigned long long>(engine.BytesToDo));
        EXPECT_EQ(engine.ProcessedCount, 0);
        EXPECT_LT(busy.Progress.BytesDone(), engine.BytesToDo);
        EXPECT_FALSE(engine.Cancel);
        EXPECT_EQ(mainClicks, 0);
        EXPECT_EQ(ReadFile(dir.File("t.zip")), archive);
        EXPECT_EQ(Listing(dir.Path()), files); // no temporary archive, no part of big.bin
        EXPECT_TRUE(ui.Log.Messages.empty());
    }
    QTest::mouseClick(mainButton, Qt::LeftButton); // the main window answers again
    EXPECT_EQ(mainClicks, 1);
}

// A 10 ms timer stands for the desktop's requests: it keeps getting its turns while
// the add runs. How long the longest wait lasts is measured in bench/busy.sh.
TEST_F(BusyProgressTest, TheEventLoopKeepsAnsweringThroughALongAdd)
{
    // Repeating data now deflates faster than the status window appears.
    constexpr std::size_t kSize = 48 << 20;
    WriteLowEntropy(dir.File("src/large.bin"), kSize);
    test::ScopedEnv env;
    env.Set("PELLUX_ZIP_WORKERS", "1");
    engine.SetZipFilename(dir.File("t.zip"));
    engine.FSpecArgs = {dir.File("src/large.bin")};
    int turns = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++turns; });
    {
        WithBusyProgress<ScopedStatus> busy(engine, "Pellux ", "Adding files");
        ticker.start(10);
        engine.Add();
        ticker.stop();
        EXPECT_EQ(engine.ProcessedCount, 1);
        EXPECT_TRUE(busy.Progress.Revealed());
        EXPECT_EQ(busy.Progress.BytesDone(), kSize);
        EXPECT_GE(TFormStatus::Current()->ProgressBarStatus->value(), 900);
    }
    // Nothing but the work's own progress reports gives the timer a turn.
    EXPECT_GE(turns, 5);
    EXPECT_EQ(test::RunShell("unzip -tqq " + test::Quote(dir.File("t.zip")) + " >/dev/null"), 0);
}

} // namespace
} // namespace pellux
