#include "dialogs/WizSelfExtracting.h"

#include "dialogs/DirBox.h"
#include "dialogs/ModalResult.h"
#include "tests/dialogs/ModalDriver.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

using namespace pellux;
using test::Child;
using test::WhenModalShown;
namespace fs = std::filesystem;

namespace {

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedCwd_ = fs::current_path();
        dir_ = fs::canonical(temp_.Path()).string();
        fs::create_directories(dir_ + "/in");
        fs::create_directories(dir_ + "/other");
        zip_ = dir_ + "/in/A.ZIP";
        ASSERT_EQ(test::RunPython("import zipfile\nwith zipfile.ZipFile('" + zip_
                                  + "', 'w') as z: z.writestr('hello.txt', 'hi\\n')"),
                  0);
    }
    void TearDown() override { fs::current_path(savedCwd_); }

    // Types Text into the input field and presses "&Next >>" or "&Finish".
    void Next(const std::string &text = {})
    {
        if (!text.empty() || wizard_.PageControl->currentWidget() == wizard_.TabStep1)
            wizard_.EditInputFile->setText(QString::fromStdString(text));
        wizard_.ButtonNext->click();
    }
    bool OnPage(int page) const
    {
        return wizard_.PageControl->currentWidget() == (page == 1 ? wizard_.TabStep1 : wizard_.TabStep2)
            && wizard_.ButtonPrevious->isHidden() == (page == 1)
            && wizard_.ButtonNext->text() == (page == 1 ? QStringLiteral("&Next >>") : QStringLiteral("&Finish"));
    }
    std::string OutputField() const { return wizard_.EditOutputDir->text().toStdString(); }

    test::ScopedScriptedInteraction ui_;
    test::TempDir temp_;
    fs::path savedCwd_;
    std::string dir_;
    std::string zip_;
    TFormWizSelfExtracting wizard_;
};

} // namespace

TEST_F(WizardTest, EachRefusalOfPageOneBeepsAndKeepsThePage)
{
    fs::create_directories(dir_ + "/folder.zip");
    const std::vector<std::pair<std::string, std::string>> cases{
        {" \t ", "First select an input file"},
        {dir_ + "/in/A.txt", "Can only select zip files"}, // before the existence test
        {dir_ + "/in/A", "Can only select zip files"},
        {dir_ + "/in.zip/A", "Can only select zip files"}, // the dot of a directory is no extension
        {dir_ + "/in/missing.zip", "Inputfile does not exist"},
        {dir_ + "/folder.zip", "Inputfile does not exist"},
    };
    for (const auto &[input, message] : cases) {
        ui_.Log.Clear();
        Next(input);
        EXPECT_EQ(ui_.Log.Messages, std::vector<std::string>{message}) << input;
        EXPECT_EQ(ui_.Log.Beeps, 1) << input;
        EXPECT_TRUE(OnPage(1)) << input;
        EXPECT_EQ(wizard_.EditInputFile->text().toStdString(), input == " \t " ? "" : input);
    }
}

TEST_F(WizardTest, TrimmedInputIsWrittenBackAndGivesItsDirectory)
{
    Next("  " + zip_ + " \t");
    EXPECT_TRUE(ui_.Log.Messages.empty());
    EXPECT_EQ(wizard_.EditInputFile->text().toStdString(), zip_);
    EXPECT_TRUE(OnPage(2));
    EXPECT_EQ(OutputField(), dir_ + "/in/");
    EXPECT_TRUE(wizard_.EditOutputDir->isReadOnly());

    // A relative name is taken from the current directory when it is accepted.
    wizard_.ButtonPreviousClick();
    EXPECT_TRUE(OnPage(1));
    fs::current_path(dir_ + "/in");
    TFormWizSelfExtracting fresh;
    fresh.SetInputFile("A.ZIP");
    fresh.ButtonNextClick();
    EXPECT_EQ(fresh.EditOutputDir->text().toStdString(), dir_ + "/in/");
}

TEST_F(WizardTest, AnArchiveInTheRootGivesTheRootItself)
{
    const std::string inRoot = "/pellux-wizard-test-" + std::to_string(::getpid()) + ".zip";
    if (!std::ofstream(inRoot))
        GTEST_SKIP() << "cannot write into /";
    Next(inRoot);
    fs::remove(inRoot);
    EXPECT_TRUE(OnPage(2));
    EXPECT_EQ(OutputField(), "/");
}

TEST_F(WizardTest, GoingBackKeepsTheChosenOutputDirectory)
{
    Next(zip_);
    WhenModalShown([this](QWidget *modal) {
        static_cast<TFormDirBox *>(modal)->GoToDirectory(dir_ + "/other");
        Child<QPushButton>(modal, "ButtonOK")->click();
    });
    wizard_.ButtonOutputdir->click();
    EXPECT_EQ(OutputField(), dir_ + "/other/");

    WhenModalShown([](QWidget *modal) { Child<QPushButton>(modal, "ButtonCancel")->click(); });
    wizard_.ButtonOutputdir->click();
    EXPECT_EQ(OutputField(), dir_ + "/other/");

    wizard_.ButtonPrevious->click();
    const std::string second = dir_ + "/second.zip";
    fs::copy_file(zip_, second);
    Next(second);
    EXPECT_TRUE(OnPage(2));
    EXPECT_EQ(OutputField(), dir_ + "/other/");

    // A directory that has gone meanwhile is refused on "&Finish".
    fs::remove_all(dir_ + "/other");
    ui_.Log.Clear();
    Next();
    EXPECT_EQ(ui_.Log.Messages, std::vector<std::string>{"Directory does not exist"});
    EXPECT_EQ(ui_.Log.Beeps, 1);
    EXPECT_TRUE(OnPage(2));
}

TEST_F(WizardTest, InputDialogFillsTheFieldOnly)
{
    ui_.Log.Chosen.push_back({zip_});
    wizard_.ButtonInputFile->click();
    ASSERT_EQ(ui_.Log.FileDialogs.size(), 1u);
    const FileDialogRequest &asked = ui_.Log.FileDialogs.front();
    EXPECT_EQ(asked.Title, "Open ZIP archive");
    EXPECT_EQ(asked.Filters, (decltype(asked.Filters){{"ZIP Files (*.ZIP)", "*.zip"}}));
    EXPECT_TRUE(asked.FileMustExist && asked.PathMustExist && asked.ShareAware && asked.ShowReadOnly);
    EXPECT_TRUE(asked.InitialDir.empty() && asked.FileName.empty());
    EXPECT_EQ(wizard_.EditInputFile->text().toStdString(), zip_);

    wizard_.ButtonInputFile->click(); // cancelled: the field stays
    EXPECT_EQ(wizard_.EditInputFile->text().toStdString(), zip_);
}

TEST_F(WizardTest, FinishStartsTheConverterAndCloses)
{
    wizard_.show();
    Next(zip_);
    Next();
    EXPECT_EQ(ui_.Log.Messages, std::vector<std::string>{});
    EXPECT_EQ(wizard_.result(), mrOk);
    EXPECT_FALSE(wizard_.isVisible());
    const fs::path made = dir_ + "/in/A.exe";
    for (int i = 0; i < 1000 && !fs::exists(made); ++i)
        ::usleep(10000);
    ASSERT_TRUE(fs::exists(made));
    EXPECT_EQ(fs::status(made).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
}

// The NUL-separated items of /proc/PID/FILE.
std::vector<std::string> ProcItems(pid_t pid, const char *file)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file, std::ios::binary);
    std::vector<std::string> items;
    for (std::string item; std::getline(in, item, '\0');)
        items.push_back(item);
    return items;
}

// A running child of ours started as zip2exe; 0 when there is none.
pid_t ConverterChild()
{
    for (const auto &entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...
        const auto close = line.rfind(')');
        if (close == std::string::npos || line.substr(0, close).find("(zip2exe") == std::string::npos)
            continue;
        if (std::stol(line.substr(close + 4)) == ::getpid())
            return static_cast<pid_t>(std::stol(name));
    }
    return 0;
}

TEST_F(WizardTest, TheConverterAloneIsMarkedToShowAWindow)
{
    // The converter's stderr is a full pipe: it waits on its report, and can be looked at.
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    const std::string chunk(4096, 'x');
    while (::write(pipeFds[1], chunk.data(), chunk.size()) > 0) {}
    while (::write(pipeFds[1], "x", 1) > 0) {}
    ::fcntl(pipeFds[1], F_SETFL, 0);
    Next(zip_);
    const int savedErr = ::dup(STDERR_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    Next();
    ::dup2(savedErr, STDERR_FILENO);
    ::close(savedErr);
    ::close(pipeFds[1]);

    const pid_t child = ConverterChild();
    std::vector<std::string> args, environment;
    if (child != 0) {
        args = ProcItems(child, "cmdline");
        environment = ProcItems(child, "environ");
    }
    std::string drained, part(65536, '\0');
    for (ssize_t n; (n = ::read(pipeFds[0], part.data(), part.size())) > 0;)
        drained.append(part, 0, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);

    ASSERT_NE(child, 0);
    EXPECT_EQ(args, (std::vector<std::string>{PELLUX_BIN_DIR "/zip2exe", zip_, dir_ + "/in/"}));
    EXPECT_EQ(std::count(environment.begin(), environment.end(), "PELLUX_ZIP2EXE_WINDOW=1"), 1);
    EXPECT_EQ(std::getenv("PELLUX_ZIP2EXE_WINDOW"), nullptr);
    EXPECT_NE(drained.find("zip2exe: wrote " + dir_ + "/in/A.exe"), std::string::npos);
}

TEST_F(WizardTest, ACommandLineOverTheLimitIsReportedAndTheWizardStays)
{
    std::string deep = dir_;
    while (deep.size() < 260)
        deep += "/" + std::string(40, 'd');
    fs::create_directories(deep);
    fs::copy_file(zip_, deep + "/a.zip");
    wizard_.show();
    Next(deep + "/a.zip");
    Next();
    ASSERT_EQ(ui_.Log.Errors.size(), 1u);
    EXPECT_EQ(ui_.Log.Errors.front().rfind("CommandLine too long\r", 0), 0u);
    EXPECT_TRUE(wizard_.isVisible());
    EXPECT_TRUE(OnPage(2));
    EXPECT_FALSE(fs::exists(deep + "/a.exe"));
}

TEST_F(WizardTest, ExecutePrefillsAndCancelOrEscapeMakeNothing)
{
    WhenModalShown([](QWidget *modal) {
        EXPECT_EQ(Child<QLineEdit>(modal, "EditInputFile")->text(), QStringLiteral("/tmp/open.exe"));
        QTest::keyClick(modal, Qt::Key_Escape); // no cancel button answers it
        EXPECT_TRUE(modal->isVisible());
        for (auto *button : modal->findChildren<QPushButton *>())
            EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->objectName().toStdString();
        Child<QPushButton>(modal, "ButtonCancel")->click();
    });
    ExecuteWizSelfExtracting("/tmp/open.exe");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
