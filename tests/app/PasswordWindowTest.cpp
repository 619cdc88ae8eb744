// The window's side of encrypted archives: the password dialog behind the engine's
// request, the Options item that encrypts added files, and the padlock in the listing.
#include "app/Glyphs.h"
#include "dialogs/DirBox.h"
#include "tests/app/PyZip.h"
#include "tests/app/WindowFixture.h"
#include "tests/dialogs/ModalDriver.h"

#include <QGuiApplication>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

using namespace pellux;
using namespace pellux::test;

namespace {

// Answers the next password dialog: types into each named field, then clicks a button.
void AnswerPasswordDialog(std::vector<std::pair<const char *, QString>> typed, const char *button)
{
    WhenModalShown([typed = std::move(typed), button](QWidget *form) {
        for (const auto &[field, text] : typed)
            QTest::keyClicks(Child<QLineEdit>(form, field), text);
        Child<QPushButton>(form, button)->click();
    });
}

// Writes secret.txt encrypted with the traditional cipher by zip -P, then plain.txt.
std::string MixedZip(const TempDir &dir)
{
    dir.Write("secret.txt", "secret data\n");
    dir.Write("plain.txt", "plain data, somewhat longer\n");
    const std::string archive = dir.File("mixed.zip");
    EXPECT_EQ(RunShell("cd " + Quote(dir.Path().string())
                       + " && zip -q -P pw mixed.zip secret.txt && zip -q mixed.zip "
                         "plain.txt"),
              0);
    return archive;
}

} // namespace

TEST_F(WindowTest, EncryptAddedFilesComesAfterTheOptionsItemAndTurnsEncryptionOnAndOff)
{
    auto w = Start({MakeZip(dir.File("a.zip"), {"a.txt"})});
    const QString status = w->StatusText();
    const auto items = w->findChild<QMenu *>(QStringLiteral("Options1"))->actions();
    ASSERT_GE(items.size(), 2);
    EXPECT_EQ(items.front()->objectName(), QStringLiteral("MenuOptions"));
    EXPECT_TRUE(items.indexOf(w->MenuEncryptAdded) > 0);
    EXPECT_EQ(w->MenuEncryptAdded->text(), QString::fromUtf8("&Encrypt added files\u2026"));
    EXPECT_TRUE(w->MenuEncryptAdded->isCheckable());

    auto state = [&] {
        return std::to_string(w->ZipEngine().EncryptsAdded()) + std::to_string(w->MenuEncryptAdded->isChecked())
            + w->EncryptionStatusText().toStdString();
    };
    // Cancelled: still off.
    AnswerPasswordDialog({{"EditPassword", QStringLiteral("pw")}}, "ButtonCancel");
    w->MenuEncryptAdded->trigger();
    EXPECT_EQ(state(), "00");

    AnswerPasswordDialog({{"EditPassword", QStringLiteral("pw")}, {"EditConfirm", QStringLiteral("pw")}}, "ButtonOK");
    w->MenuEncryptAdded->trigger();
    EXPECT_EQ(state(), "11Added files are encrypted (AES-256)");
    EXPECT_EQ(w->StatusText(), status); // the archive's name stays
    // Another archive keeps the setting; choosing the item again ends it without asking.
    w->OpenZipFile(MakeZip(dir.File("b.zip"), {"b.txt"}));
    EXPECT_EQ(state(), "11Added files are encrypted (AES-256)");
    w->MenuEncryptAdded->trigger();
    EXPECT_EQ(state(), "00");
    EXPECT_EQ(w->StatusText(), QString::fromStdString(dir.File("b.zip")));
}

TEST_F(WindowTest, TheEnginesPasswordRequestShowsTheDialog)
{
    auto w = Start();
    TZipEngine &engine = w->ZipEngine();
    QString label;
    Secret password;
    // Asked inside the work, under its hourglass: the pointer is an arrow meanwhile.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    Qt::CursorShape shape = Qt::WaitCursor;
    WhenModalShown([&](QWidget *form) {
        shape = QGuiApplication::overrideCursor()->shape();
        label = Child<QLabel>(form, "LabelPassword")->text();
        QTest::keyClicks(Child<QLineEdit>(form, "EditPassword"), QStringLiteral("right one"));
        Child<QPushButton>(form, "ButtonOK")->click();
    });
    EXPECT_TRUE(engine.OnPassword(engine, "dir/a\x1b.txt", false, password));
    EXPECT_EQ(shape, Qt::ArrowCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QGuiApplication::restoreOverrideCursor();
    EXPECT_EQ(password.Text(), "right one");
    EXPECT_EQ(label, QStringLiteral("Password for dir/a\\x1B.txt:"));
}

TEST_F(WindowTest, EncryptedRowsHaveAPadlockAndTheirTextsUnchanged)
{
    auto w = Start({MixedZip(dir)});
    ListingModel &model = w->Listing();
    ASSERT_EQ(model.rowCount(), 2);
    auto icon = [&](int row) { return model.data(model.index(row, ColFilename), Qt::DecorationRole).value<QIcon>(); };
    auto texts = [&](int row) {
        std::vector<std::string> shown;
        for (int column = 0; column < kListColumnCount; ++column)
            shown.push_back(model.data(model.index(row, column), Qt::DisplayRole).toString().toStdString());
        return shown;
    };
    const QIcon locked = toolglyphs::Locked();
    EXPECT_TRUE(model.Encrypted(0));
    EXPECT_FALSE(model.Encrypted(1));
    // Both icons are as large as a padlock; only the encrypted row's shows one.
    EXPECT_EQ(icon(0).pixmap(14).toImage(), locked.pixmap(14).toImage());
    EXPECT_NE(icon(1).pixmap(14).toImage(), locked.pixmap(14).toImage());
    EXPECT_EQ(icon(1).actualSize(QSize(14, 14)), QSize(14, 14));
    for (int column = 1; column < kListColumnCount; ++column)
        EXPECT_TRUE(model.data(model.index(0, column), Qt::DecorationRole).isNull()) << column;
    EXPECT_EQ(texts(0)[ColFilename], "secret.txt");
    EXPECT_EQ(texts(0)[ColSize], "12");
    EXPECT_EQ(texts(0)[ColPath], "");
    EXPECT_EQ(texts(1)[ColFilename], "plain.txt");
    EXPECT_EQ(texts(1)[ColSize], "28");
    // The padlock goes with its row through a sort, and is gone with a plain archive.
    const auto secretRow = texts(0);
    w->ListViewFilesColumnClick(ColFilename);
    EXPECT_EQ(texts(1), secretRow);
    EXPECT_TRUE(model.Encrypted(1));
    EXPECT_EQ(icon(1).pixmap(14).toImage(), locked.pixmap(14).toImage());
    w->OpenZipFile(MakeZip(dir.File("plain.zip"), {"a.txt"}));
    EXPECT_TRUE(model.data(model.index(0, ColFilename), Qt::DecorationRole).isNull());
}

TEST_F(WindowTest, FilesAddedWhileEncryptionIsOnAreAesEncryptedAndShowThePadlock)
{
    TZipEngine::SetLibraryDirectory("");
    const std::string archive = MakeZip(dir.File("add.zip"), {"old.txt"});
    auto w = Start({archive});
    AnswerPasswordDialog({{"EditPassword", QStringLiteral("add pw")}, {"EditConfirm", QStringLiteral("add pw")}},
                         "ButtonOK");
    w->MenuEncryptAdded->trigger();
    ui.Log.Chosen.push_back({dir.Write("in/new.txt", "new data\n")});
    w->Addfilestoarchive1Click();
    EXPECT_TRUE(ui.Log.Messages.empty()) << ui.Log.Messages.front();
    ASSERT_EQ(w->Listing().rowCount(), 2);
    EXPECT_FALSE(w->Listing().Encrypted(0));
    EXPECT_TRUE(w->Listing().Encrypted(1));
    std::string out;
    EXPECT_EQ(RunShell("7z l -slt -p'add pw' " + Quote(archive), &out), 0) << out;
    EXPECT_NE(out.find("Method = AES-256"), std::string::npos) << out;
    EXPECT_EQ(RunShell("7z t -p'add pw' " + Quote(archive) + " 2>&1", &out), 0) << out;
    EXPECT_NE(RunShell("7z t -pwrong " + Quote(archive) + " >/dev/null 2>&1"), 0);
}

// Extract all through the window: the directory chooser answered with `out`, then each
// password dialog in turn.
class ExtractWithPasswords : public WindowTest {
protected:
    struct Answer {
        const char *password; // typed before the button
        const char *button;
    };
    std::string Extract(TFormMainZip &w, const std::string &out, std::vector<Answer> answers)
    {
        std::string shown;
        WhenModalShown([&, answers](QWidget *chooser) {
            static_cast<TFormDirBox *>(chooser)->GoToDirectory(out);
            Chain(answers, 0, shown);
            Child<QPushButton>(chooser, "ButtonOK")->click();
        });
        w.Extract1Click();
        EXPECT_FALSE(QApplication::activeModalWidget()) << "a dialog was left unanswered";
        return shown;
    }

private:
    void Chain(std::vector<Answer> answers, std::size_t next, std::string &shown)
    {
        if (next == answers.size())
            return;
        WhenModalShown([this, answers, next, &shown](QWidget *form) {
            auto *again = Child<QLabel>(form, "LabelAgain");
            shown += (again->isVisible() ? again->text() + u'|' : QString()).toStdString()
                + Child<QLabel>(form, "LabelPassword")->text().toStdString() + "\n";
            Chain(answers, next + 1, shown);
            QTest::keyClicks(Child<QLineEdit>(form, "EditPassword"), QString::fromLatin1(answers[next].password));
            Child<QPushButton>(form, answers[next].button)->click();
        });
    }
};

TEST_F(ExtractWithPasswords, RightWrongThenRightAndCancelledAnswers)
{
    TZipEngine::SetLibraryDirectory("");
    const std::string zipcrypto = MixedZip(dir);
    dir.Write("aes/inner.txt", "aes data\n");
    const std::string aes = dir.File("aes.zip");
    ASSERT_EQ(
        RunShell("cd " + Quote(dir.File("aes")) + " && 7z a -tzip -ppw -mem=AES256 ../aes.zip inner.txt >/dev/null"),
        0);
    struct Case {
        const char *name;
        std::string archive;
        std::vector<Answer> answers;
        std::string shown;                                        // the dialogs' texts, one line each
        std::string message;                                      // the window's last message
        std::vector<std::pair<const char *, const char *>> files; // extracted, with their contents
        std::vector<const char *> absent;
    };
    const Case cases[] = {
        {"right",
         zipcrypto,
         {{"pw", "ButtonOK"}},
         "Password for secret.txt:\n",
         "2 files were extracted",
         {{"secret.txt", "secret data\n"}, {"plain.txt", "plain data, somewhat longer\n"}},
         {}},
        {"wrong, then right",
         aes,
         {{"px", "ButtonOK"}, {"pw", "ButtonOK"}},
         "Password for inner.txt:\nThe password does not open inner.txt.|Password for inner.txt:\n",
         "1 files were extracted",
         {{"inner.txt", "aes data\n"}},
         {}},
        {"cancelled",
         zipcrypto,
         {{"pw", "ButtonCancel"}},
         "Password for secret.txt:\n",
         "1 files were extracted",
         {{"plain.txt", "plain data, somewhat longer\n"}},
         {"secret.txt"}},
    };
    int n = 0;
    for (const Case &c : cases) {
        ui.Log.Clear();
        const std::string out = dir.File("out" + std::to_string(n++));
        std::filesystem::create_directories(out);
        auto w = Start({c.archive});
        EXPECT_EQ(Extract(*w, out, c.answers), c.shown) << c.name;
        ASSERT_FALSE(ui.Log.Messages.empty()) << c.name;
        EXPECT_EQ(ui.Log.Messages.back(), c.message) << c.name;
        for (const auto &[file, content] : c.files)
            EXPECT_EQ(ReadFile(out + "/" + file), content) << c.name << ": " << file;
        for (const char *file : c.absent)
            EXPECT_FALSE(std::filesystem::exists(out + "/" + file)) << c.name << ": " << file;
        // Nothing left half-written, under any name.
        std::size_t count = 0;
        for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(out))
            ++count;
        EXPECT_EQ(count, c.files.size()) << c.name;
    }
}
