// The commands as the main window runs them: tool buttons against menu items, the
// startup chooser, the busy display, the header, and the listing after real changes.
#include "app/MainWindowHost.h"
#include "dialogs/FStatus.h"
#include "tests/app/PyZip.h"
#include "tests/app/WindowFixture.h"
#include "tests/dialogs/ModalDriver.h"

#include <QAction>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <stdexcept>

using namespace pellux;
using namespace pellux::test;

namespace {

// Closes every modal window that comes up while it lives and notes its title.
class ModalCloser {
public:
    explicit ModalCloser(std::string &log)
    {
        QObject::connect(&timer_, &QTimer::timeout, [&log] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal && modal->isVisible()) {
                log += "modal:" + modal->windowTitle().toStdString() + "\n";
                modal->close();
            }
        });
        timer_.start(10);
    }

private:
    QTimer timer_;
};

std::string Trace(const ScriptedLog &log)
{
    std::string trace;
    for (const auto &text : log.Messages)
        trace += "message:" + text + "\n";
    for (const auto &text : log.Confirmations)
        trace += "confirm:" + text + "\n";
    for (const auto &request : log.FileDialogs)
        trace += "dialog:" + request.Title + "\n";
    return trace + "beeps:" + std::to_string(log.Beeps) + "\n";
}

void SelectRow(TFormMainZip &w, int row)
{
    w.ListViewFiles->selectionModel()->select(w.Listing().index(row, 0),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

} // namespace

TEST_F(WindowTest, EachToolButtonDoesWhatItsMenuItemDoes)
{
    const std::pair<const char *, const char *> pairs[] = {
        {"ButtonNew", "NewArchive1"},
        {"ButtonOpen", "Open1"},
        {"ButtonAddFile", "Addfilestoarchive1"},
        {"ButtonAddDirectory", "Adddirectorytoarchive1"},
        {"ButtonRemoveFile", "Deletefilesfromarchive1"},
        {"BitBtn1", "Extractselectedfiles1"},
        {"BitBtn2", "Extract1"},
    };
    const std::string archive = MakeZip(dir.File("a.zip"), {"a.txt"});
    const std::string sfx = dir.Write("setup.exe", ReadFile(archive));
    for (const auto &[button, item] : pairs) {
        for (const std::string &opened : {std::string(), archive, sfx}) {
            auto run = [&, button = button, item = item](bool viaButton) {
                ui.Log.Clear();
                auto w = Start(opened.empty() ? std::vector<std::string>{} : std::vector<std::string>{opened});
                if (!opened.empty())
                    SelectRow(*w, 0);
                std::string trace;
                {
                    ModalCloser closer(trace);
                    if (viaButton)
                        w->findChild<QToolButton *>(QString::fromLatin1(button))->click();
                    else
                        w->findChild<QAction *>(QString::fromLatin1(item))->trigger();
                }
                return trace + Trace(ui.Log) + "archive:" + w->ZipEngine().ZipFilename();
            };
            const std::string byMenu = run(false);
            EXPECT_EQ(run(true), byMenu) << button << " with " << opened;
            EXPECT_NE(byMenu.find(":", byMenu.find("beeps:0") == 0 ? 7 : 0), byMenu.find("archive:"))
                << item << ": the command showed nothing";
        }
    }
}

TEST_F(WindowTest, StartupChooserOpensBesideTheShownWindowAndItsAnswerIsCarriedOut)
{
    QApplication::setQuitOnLastWindowClosed(false);
    const std::pair<const char *, const char *> answers[] = {
        {"ButtonClose", ""},
        {"ButtonExit", "closed"},
        {"ButtonNew", "Save new ZIP archive as..."},
        {"ButtonOpen", "Open ZIP archive"},
    };
    for (const auto &[button, outcome] : answers) {
        ui.Log.Clear();
        auto w = Start();
        w->move(120, 90);
        QCoreApplication::processEvents();
        EXPECT_FALSE(w->TimerShowStartupForm->isActive()) << "armed only when the window is shown";
        QString title;
        QPoint where;
        WhenModalShown([&, button = button](QWidget *chooser) {
            title = chooser->windowTitle();
            where = chooser->pos();
            Child<QPushButton>(chooser, button)->click();
        });
        w->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !title.isEmpty() && !QApplication::activeModalWidget(); }, 5000))
            << button;
        EXPECT_EQ(title, QStringLiteral("Starting Pellux "));
        EXPECT_EQ(where, w->frameGeometry().topLeft() + QPoint(20, 50));
        EXPECT_FALSE(w->TimerShowStartupForm->isActive());
        std::string result = w->isVisible() ? "" : "closed";
        for (const auto &request : ui.Log.FileDialogs)
            result += request.Title;
        EXPECT_EQ(result, outcome) << button;
        EXPECT_EQ(w->ZipEngine().ZipFilename(), ""); // the dialogs were cancelled
        for (QWidget *window : QApplication::topLevelWidgets())
            EXPECT_NE(window->objectName(), QStringLiteral("FormStartup")) << "the chooser is destroyed";
    }
    QApplication::setQuitOnLastWindowClosed(true);
}

TEST_F(WindowTest, AnyArgumentKeepsTheStartupChooserAway)
{
    for (const char *argument : {"notes.txt", "missing.zip"}) {
        std::string modals;
        ModalCloser closer(modals);
        auto w = Start({dir.File(argument)});
        w->show();
        QTest::qWait(350);
        EXPECT_EQ(modals, "") << argument;
        EXPECT_TRUE(w->TimerShowStartupForm->isActive()) << "stays armed and does nothing";
    }
}

TEST(WindowBusyGuard, HourglassAndStatusWindowEndAlsoWhenTheWorkRaises)
{
    try {
        WindowBusyGuard busy("Adding files to zip archive");
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        TFormStatus *status = TFormStatus::Current();
        ASSERT_NE(status, nullptr);
        EXPECT_TRUE(status->isVisible());
        EXPECT_EQ(status->windowTitle(), QStringLiteral("Pellux "));
        EXPECT_EQ(status->LabelStatus->text(), QStringLiteral("Adding files to zip archive"));
        throw std::runtime_error("Disk gone");
    } catch (const std::runtime_error &) {
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(TFormStatus::Current(), nullptr);
}

TEST_F(WindowTest, HeaderKeepsItsOrderAndARebuildDropsTheSortArrow)
{
    auto w = Start({MakeZip(dir.File("a.zip"), {"b.txt", "a.txt"})});
    QHeaderView *header = w->ListViewFiles->header();
    EXPECT_FALSE(header->sectionsMovable());
    w->ListViewFilesColumnClick(ColFilename);
    EXPECT_TRUE(header->isSortIndicatorShown());
    w->FillFileList();
    EXPECT_FALSE(header->isSortIndicatorShown());
    EXPECT_EQ(Column(*w, ColFilename), (std::vector<std::string>{"b.txt", "a.txt"}));
    EXPECT_EQ(w->SortColumn(), ColFilename); // remembered for the next click
}

TEST_F(WindowTest, ListingAfterAddAndDeleteEqualsTheCliListing)
{
    auto listing = [&](TFormMainZip &w) {
        std::string text;
        for (int row = 0; row < w.Listing().rowCount(); ++row)
            for (int column = 0; column < kListColumnCount; ++column)
                text += w.GetColumnText(row, column) + (column + 1 < kListColumnCount ? "\t" : "\n");
        return text;
    };
    auto cli = [&](const std::string &archive) {
        std::string out;
        EXPECT_EQ(RunShell("LC_ALL=C " + Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli") + " list " + Quote(archive),
                           &out),
                  0);
        return out;
    };
    TZipEngine::SetLibraryDirectory("");
    const std::string archive = MakeZip(dir.File("case.zip"), {"Docs/Sub/A.txt", "docs/sub/A.txt"});
    auto w = Start({archive});
    ui.Log.Chosen.push_back({dir.Write("in/Big.TXT", std::string(5000, 'b')), dir.Write("in/c.txt", "c")});
    w->Addfilestoarchive1Click();
    ASSERT_EQ(w->Listing().rowCount(), 4);
    EXPECT_EQ(listing(*w), cli(archive));

    SelectRow(*w, 0); // Docs/Sub/A.txt: its own stored name, not the lower-cased one
    SelectRow(*w, 2);
    ui.Log.Answers.push_back(true);
    w->Deletefilesfromarchive1Click();
    EXPECT_EQ(listing(*w), cli(archive));
    ASSERT_EQ(w->Listing().rowCount(), 2);
    EXPECT_EQ(w->GetEntryName(0), "docs/sub/A.txt");
    EXPECT_EQ(w->GetEntryName(1), "c.txt");
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_TRUE(ui.Log.Errors.empty());
}

// Needs a window manager: run on Xvfb with twm (QT_QPA_PLATFORM=xcb).
TEST_F(WindowTest, FramedWindowKeepsItsOuterSize)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        GTEST_SKIP() << "no window manager on the offscreen platform";
    auto w = Start({"no-chooser.txt"});
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    if (!QTest::qWaitFor([&] { return !w->windowHandle()->frameMargins().isNull(); }, 1000))
        GTEST_SKIP() << "the window got no frame";
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->frameGeometry().size() == QSize(544, 375); }, 2000))
        << w->frameGeometry().width() << "x" << w->frameGeometry().height();
}
