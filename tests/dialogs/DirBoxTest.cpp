#include "dialogs/DirBox.h"

#include "dialogs/DialogCreateDir.h"
#include "dialogs/DirectoryList.h"
#include "dialogs/DriveCombo.h"
#include "dialogs/ModalResult.h"
#include "platform/InOutError.h"
#include "platform/ProgramPath.h"
#include "platform/Volumes.h"
#include "tests/dialogs/ModalDriver.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <unistd.h>

using namespace pellux;
using test::Child;
using test::WhenModalShown;
namespace fs = std::filesystem;

namespace {

class DirBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedCwd_ = CurrentDirectory();
        root_ = fs::canonical(temp_.Path()).string();
        for (const char *dir : {"a/b", "a/c", "a/.hidden", "Existing"})
            fs::create_directories(fs::path(root_) / dir);
    }
    void TearDown() override { ASSERT_EQ(::chdir(savedCwd_.c_str()), 0); }

    std::string Path(const std::string &relative) const { return root_ + "/" + relative; }

    static void Click(QWidget *window, const char *button)
    {
        QTest::mouseClick(Child<QPushButton>(window, button), Qt::LeftButton);
    }

    static QListWidgetItem *Item(QWidget *window, const char *text)
    {
        auto *list = Child<TDirectoryListBox>(window, "DirList");
        const auto found = list->findItems(QString::fromLatin1(text), Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.back();
    }

    static QPoint Centre(QWidget *window, QListWidgetItem *item)
    {
        return Child<TDirectoryListBox>(window, "DirList")->visualItemRect(item).center();
    }

    static void ClickItem(QWidget *window, const char *text, bool twice = false)
    {
        QListWidgetItem *item = Item(window, text);
        ASSERT_NE(item, nullptr) << text;
        QWidget *viewport = Child<TDirectoryListBox>(window, "DirList")->viewport();
        if (twice)
            QTest::mouseDClick(viewport, Qt::LeftButton, {}, Centre(window, item));
        else
            QTest::mouseClick(viewport, Qt::LeftButton, {}, Centre(window, item));
    }

    test::ScopedScriptedInteraction ui_;
    test::TempDir temp_;
    std::string root_;
    std::string savedCwd_;
};

TEST(EnsureBackslash, AddsOneSlashOnlyWhereMissing)
{
    EXPECT_EQ(EnsureBackslash(""), "");
    EXPECT_EQ(EnsureBackslash("/"), "/");
    EXPECT_EQ(EnsureBackslash("/tmp"), "/tmp/");
    EXPECT_EQ(EnsureBackslash("/tmp/"), "/tmp/");
    EXPECT_EQ(EnsureBackslash("dir "), "dir /");
}

TEST_F(DirBoxTest, EmptyStartIsTheProgramDirectoryAndOkAddsTheSlash)
{
    std::string dir;
    WhenModalShown([](QWidget *box) { Click(box, "ButtonOK"); });
    EXPECT_EQ(ExecuteDirBox(dir, "", false), mrOk);
    const std::string programDir = DirectoryPart(ProgramFilePath());
    EXPECT_EQ(dir, programDir + "/");
    EXPECT_EQ(CurrentDirectory(), programDir);
}

TEST_F(DirBoxTest, RootComesBackWithOneSlash)
{
    std::string dir = "/";
    WhenModalShown([](QWidget *box) { Click(box, "ButtonOK"); });
    EXPECT_EQ(ExecuteDirBox(dir, "", false), mrOk);
    EXPECT_EQ(dir, "/");
}

TEST_F(DirBoxTest, ListShowsThePathDownAndTheVisibleSubdirectories)
{
    TFormDirBox box;
    box.GoToDirectory(Path("a/"));
    EXPECT_EQ(box.Directory, Path("a"));
    EXPECT_EQ(CurrentDirectory(), Path("a"));
    const QListWidget *list = box.DirList;
    ASSERT_GE(list->count(), 4);
    EXPECT_EQ(list->item(0)->text(), QString::fromStdString(VolumeRootOf(root_)));
    EXPECT_EQ(list->item(list->count() - 3)->text(), QStringLiteral("a"));
    EXPECT_EQ(list->item(list->count() - 2)->text(), QStringLiteral("b"));
    EXPECT_EQ(list->item(list->count() - 1)->text(), QStringLiteral("c"));
    EXPECT_EQ(list->currentRow(), list->count() - 3);
    EXPECT_EQ(box.DriveCombo->Drive(), VolumeRootOf(root_));
}

TEST_F(DirBoxTest, CancelAndCloseBoxAnswerTwoAndStillWriteBackTheDirectoryShown)
{
    std::string dir = Path("a");
    WhenModalShown([](QWidget *box) {
        ClickItem(box, "b", true);
        Click(box, "ButtonCancel");
    });
    EXPECT_EQ(ExecuteDirBox(dir, "", true), mrCancel);
    EXPECT_EQ(dir, Path("a/b"));

    WhenModalShown([](QWidget *box) {
        ClickItem(box, "a", true);
        box->close();
    });
    EXPECT_EQ(ExecuteDirBox(dir, "", true), mrCancel);
    EXPECT_EQ(dir, Path("a"));
}

TEST_F(DirBoxTest, SingleClickThenOkReturnsTheHighlightedDirectory)
{
    std::string dir = Path("a");
    WhenModalShown([](QWidget *box) {
        ClickItem(box, "c");
        Click(box, "ButtonOK");
    });
    EXPECT_EQ(ExecuteDirBox(dir, "", false), mrOk);
    EXPECT_EQ(dir, Path("a/c/"));
}

TEST_F(DirBoxTest, EnterInTheListOpensTheHighlightedDirectory)
{
    TFormDirBox box;
    box.GoToDirectory(Path("a"));
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    ASSERT_EQ(QApplication::focusWidget(), box.DirList);
    QTest::keyClick(box.DirList, Qt::Key_Down); // a -> b
    EXPECT_EQ(box.Directory, Path("a"));
    QTest::keyClick(box.DirList, Qt::Key_Return);
    EXPECT_EQ(box.Directory, Path("a/b"));
    EXPECT_TRUE(box.isVisible());
}

TEST_F(DirBoxTest, TabWalksListDriveCancelOkCreate)
{
    TFormDirBox box;
    box.GoToDirectory(Path("a"));
    box.AllowCreateDir = true;
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    const QWidget *expected[] = {box.DriveCombo, box.ButtonCancel, box.ButtonOK, box.ButtonCreateDir, box.DirList};
    for (const QWidget *next : expected) {
        QTest::keyClick(box.focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(box.focusWidget(), next);
    }
    // Leaving the list opened only the directory it already stood on.
    EXPECT_EQ(box.Directory, Path("a"));
}

TEST_F(DirBoxTest, TitleAndCreateButtonFollowTheCaller)
{
    struct Seen {
        QString title;
        bool createEnabled = false;
    } seen;
    auto look = [&seen](QWidget *box) {
        seen.title = box->windowTitle();
        seen.createEnabled = Child<QPushButton>(box, "ButtonCreateDir")->isEnabled();
        Click(box, "ButtonCancel");
    };
    std::string dir = root_;
    WhenModalShown(look);
    ExecuteDirBox(dir, "   ", false);
    EXPECT_EQ(seen.title, QStringLiteral("Directory selection"));
    EXPECT_FALSE(seen.createEnabled);

    WhenModalShown(look);
    ExecuteDirBox(dir, " Extract all file(s) to directory.. ", true);
    EXPECT_EQ(seen.title, QStringLiteral(" Extract all file(s) to directory.. "));
    EXPECT_TRUE(seen.createEnabled);
}

TEST_F(DirBoxTest, EnterInTheDriveSelectorLeavesTheChooserOpen)
{
    std::string dir = Path("a");
    bool openAfterEnter = false;
    WhenModalShown([&](QWidget *box) {
        auto *drives = Child<TDriveComboBox>(box, "DriveCombo");
        drives->setFocus();
        QTest::keyClick(drives, Qt::Key_Return);
        openAfterEnter = box->isVisible();
        if (openAfterEnter)
            Click(box, "ButtonOK");
    });
    EXPECT_EQ(ExecuteDirBox(dir, "", false), mrOk);
    EXPECT_TRUE(openAfterEnter);
    EXPECT_EQ(dir, Path("a/"));
}

TEST_F(DirBoxTest, NoButtonOfEitherWindowIsTheDefault)
{
    auto expectNoDefault = [](QDialog &window) {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        for (QPushButton *button : window.findChildren<QPushButton *>()) {
            // Focusing a button is what makes it the default in a plain dialog.
            for (const bool focused : {false, true}) {
                if (focused)
                    button->setFocus();
                EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString() << focused;
                EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
            }
        }
        window.hide();
    };
    TFormDirBox box;
    box.GoToDirectory(root_);
    box.AllowCreateDir = true;
    expectNoDefault(box);
    TFormCreateDirectory create;
    create.Directory = root_;
    expectNoDefault(create);
}

namespace {
// The desktop's font at another size while a test builds its windows.
class ScopedFontSize {
public:
    explicit ScopedFontSize(int points) : saved_(QApplication::font())
    {
        QFont font = saved_;
        font.setPointSize(points);
        QApplication::setFont(font);
    }
    ~ScopedFontSize() { QApplication::setFont(saved_); }

private:
    QFont saved_;
};

// The text is whole, with room for a button's frame when there is one.
void ExpectTextFits(const QWidget *widget, const QString &text, int margins)
{
    const QString shown = QString(text).remove(u'&');
    EXPECT_GE(widget->width(), widget->fontMetrics().horizontalAdvance(shown) + margins) << shown.toStdString();
    EXPECT_GE(widget->height(), widget->fontMetrics().height()) << shown.toStdString();
}
} // namespace

TEST_F(DirBoxTest, TextsFitAtALargerDesktopFont)
{
    const ScopedFontSize large(11);
    constexpr int kButtonMargins = 8;
    {
        TFormDirBox box;
        box.GoToDirectory(root_);
        box.show();
        ExpectTextFits(box.LabelTitle3, box.LabelTitle3->text(), 0);
        ExpectTextFits(box.Label1, box.Label1->text(), 0);
        for (const QPushButton *button : {box.ButtonCreateDir, box.ButtonCancel, box.ButtonOK}) {
            ExpectTextFits(button, button->text(), kButtonMargins);
            EXPECT_EQ(button->width(), box.ButtonOK->width());
        }
        EXPECT_LE(box.Label1->geometry().right(), box.DriveCombo->x());
        EXPECT_EQ(box.DriveCombo->geometry().right(), box.DirList->geometry().right());
        EXPECT_EQ(box.width(), box.ButtonOK->geometry().right() + 1 + 10);
    }
    TFormCreateDirectory create;
    create.show();
    ExpectTextFits(create.Label1, create.Label1->text(), 0);
    for (const QPushButton *button : {create.ButtonCancel, create.ButtonOK})
        ExpectTextFits(button, button->text(), kButtonMargins);
    EXPECT_GE(create.EditDirectory->height(), create.EditDirectory->fontMetrics().height() + 6);
    EXPECT_GT(create.ButtonOK->y(), create.EditDirectory->geometry().bottom());
    EXPECT_LT(create.ButtonCancel->geometry().right(), create.ButtonOK->x());
    EXPECT_EQ(create.height(), create.ButtonOK->geometry().bottom() + 1 + 7);
}

TEST_F(DirBoxTest, ClientSizeFollowsTheOkButton)
{
    TFormDirBox box;
    box.show();
    EXPECT_EQ(box.size(), QSize(389, 215));
}

TEST_F(DirBoxTest, StartDirectoryThatCannotBeEnteredRaisesAndLeavesTheVariable)
{
    std::string dir = Path("gone");
    try {
        ExecuteDirBox(dir, "", false);
        FAIL() << "no error raised";
    } catch (const EInOutError &error) {
        EXPECT_EQ(error.ErrorCode, ENOENT);
    }
    EXPECT_EQ(dir, Path("gone"));
}

TEST_F(DirBoxTest, CreatingNewMovesTheChooserIntoIt)
{
    std::string dir = Path("a");
    QString createTitle;
    std::string afterCreate;
    WhenModalShown([&](QWidget *box) {
        WhenModalShown([&](QWidget *create) {
            createTitle = create->windowTitle();
            auto *edit = Child<QLineEdit>(create, "EditDirectory");
            EXPECT_EQ(create->focusWidget(), edit); // the window's focus, whatever window is active
            QTest::keyClicks(edit, QStringLiteral("New"));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        Click(box, "ButtonCreateDir");
        afterCreate = Child<TDirectoryListBox>(box, "DirList")->Directory();
        Click(box, "ButtonOK");
    });
    EXPECT_EQ(ExecuteDirBox(dir, "", true), mrOk);
    EXPECT_EQ(createTitle, QString::fromStdString(Path("a")));
    EXPECT_TRUE(fs::is_directory(Path("a/New")));
    EXPECT_EQ(afterCreate, Path("a/New"));
    EXPECT_EQ(dir, Path("a/New/"));
    EXPECT_TRUE(ui_.Log.Messages.empty());
}

TEST_F(DirBoxTest, CreatingAnExistingOrEmptyNameFailsWithTheMessage)
{
    struct Case {
        QString name;
        std::string path;
    };
    for (const Case &c : {Case{QStringLiteral("Existing"), Path("Existing")}, Case{QString(), Path("")}}) {
        ui_.Log.Clear();
        std::string dir = root_;
        std::string afterCreate;
        WhenModalShown([&](QWidget *box) {
            WhenModalShown([&](QWidget *create) {
                auto *edit = Child<QLineEdit>(create, "EditDirectory");
                QTest::keyClicks(edit, c.name);
                Click(create, "ButtonOK");
            });
            Click(box, "ButtonCreateDir");
            afterCreate = Child<TDirectoryListBox>(box, "DirList")->Directory();
            Click(box, "ButtonCancel");
        });
        EXPECT_EQ(ExecuteDirBox(dir, "", true), mrCancel);
        ASSERT_EQ(ui_.Log.Messages.size(), 1u);
        EXPECT_EQ(ui_.Log.Messages[0], "Unable to create \r" + c.path);
        EXPECT_EQ(ui_.Log.Beeps, 1);
        EXPECT_EQ(afterCreate, root_);
        EXPECT_EQ(dir, root_);
    }
}

TEST_F(DirBoxTest, ChooserHandlesErrorsExactlyWhileShown)
{
    std::vector<std::string> before;
    ScopedErrorHandler outer([&](const std::exception &e) { before.push_back(e.what()); });
    {
        TFormDirBox box;
        box.GoToDirectory(root_);
        const std::string drive = box.DriveCombo->Drive();
        ReportError(std::runtime_error("hidden"));
        box.show();
        ReportError(std::runtime_error("Access denied"));
        ReportError(EInOutError(ENOMEDIUM, "no medium"));
        EXPECT_EQ(box.DriveCombo->Drive(), "/");
        EXPECT_EQ(box.DirList->Directory().front(), '/');
        box.hide();
        ReportError(std::runtime_error("after"));
        EXPECT_EQ(ui_.Log.Errors, (std::vector<std::string>{"Access denied.", "Drive:  " + drive + " not ready."}));
        box.show(); // destroyed while shown: the handler goes back all the same
    }
    ReportError(std::runtime_error("gone"));
    EXPECT_EQ(before, (std::vector<std::string>{"hidden", "after", "gone"}));
}

TEST_F(DirBoxTest, CreateWindowOpenKeepsTheChooserHandler)
{
    std::vector<std::string> outerErrors;
    ScopedErrorHandler outer([&](const std::exception &e) { outerErrors.push_back(e.what()); });
    std::string dir = root_;
    WhenModalShown([&](QWidget *box) {
        WhenModalShown([&](QWidget *create) {
            ReportError(std::runtime_error("inside"));
            Click(create, "ButtonCancel");
        });
        Click(box, "ButtonCreateDir");
        Click(box, "ButtonCancel");
    });
    EXPECT_EQ(ExecuteDirBox(dir, "", true), mrCancel);
    EXPECT_EQ(ui_.Log.Errors, std::vector<std::string>{"inside."});
    EXPECT_TRUE(outerErrors.empty());
    EXPECT_TRUE(ui_.Log.Messages.empty());
}

class CreateDirectoryWindowTest : public DirBoxTest {
protected:
    void SetUp() override
    {
        DirBoxTest::SetUp();
        window_.Directory = root_;
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    }
    void Type(const QString &text)
    {
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(window_.EditDirectory, &press);
        }
    }
    TFormCreateDirectory window_;
};

TEST_F(CreateDirectoryWindowTest, KeyFilterLetsOnlyNameCharactersThrough)
{
    Type(QStringLiteral("Ab-1.@_~ z"));
    EXPECT_EQ(window_.EditDirectory->text(), QStringLiteral("Ab-1.@_~ z"));
    EXPECT_EQ(ui_.Log.Beeps, 0);
    // Each refused character beeps and leaves the text alone: \ / : and an accented letter.
    Type(QStringLiteral("\\/:") + QString::fromUtf8("\xC3\xA9") + QStringLiteral("*"));
    EXPECT_EQ(window_.EditDirectory->text(), QStringLiteral("Ab-1.@_~ z"));
    EXPECT_EQ(ui_.Log.Beeps, 5);
    QTest::keyClick(window_.EditDirectory, Qt::Key_Backspace);
    EXPECT_EQ(window_.EditDirectory->text(), QStringLiteral("Ab-1.@_~ "));
    EXPECT_EQ(ui_.Log.Beeps, 5);
}

TEST_F(CreateDirectoryWindowTest, PastingCannotSmuggleASeparator)
{
    window_.EditDirectory->insert(QStringLiteral("../x"));
    EXPECT_EQ(window_.EditDirectory->text(), QString());
}

TEST_F(CreateDirectoryWindowTest, EnterCreatesAndEscapeCancels)
{
    EXPECT_EQ(window_.windowTitle(), QString::fromStdString(root_));
    EXPECT_EQ(window_.size(), QSize(387, 88));
    QTest::keyClicks(window_.EditDirectory, QStringLiteral("Made"));
    QTest::keyClick(window_.EditDirectory, Qt::Key_Return);
    EXPECT_EQ(window_.result(), mrOk);
    EXPECT_EQ(window_.Directory, Path("Made"));
    EXPECT_TRUE(fs::is_directory(Path("Made")));

    TFormCreateDirectory second;
    second.Directory = root_ + "/";
    second.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&second));
    QTest::keyClicks(second.EditDirectory, QStringLiteral("Never"));
    QTest::keyClick(second.EditDirectory, Qt::Key_Escape);
    EXPECT_EQ(second.result(), mrCancel);
    EXPECT_FALSE(second.isVisible());
    EXPECT_FALSE(fs::exists(Path("Never")));
}

} // namespace
