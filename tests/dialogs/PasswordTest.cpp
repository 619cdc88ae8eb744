#include "dialogs/FPassword.h"

#include "tests/dialogs/ModalDriver.h"
#include "tests/support/ScriptedInteraction.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace pellux;
using test::Child;
using test::WhenModalShown;

namespace {

void Type(QWidget *window, const char *field, const QString &text)
{
    QTest::keyClicks(Child<QLineEdit>(window, field), text);
}

void Click(QWidget *window, const char *name)
{
    QTest::mouseClick(Child<QAbstractButton>(window, name), Qt::LeftButton);
}

void ShowActive(QWidget &form)
{
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
}

} // namespace

TEST(PasswordDialog, OkReturnsTheTypedPasswordAndLeavesTheFieldEmpty)
{
    Secret password;
    QString label, title;
    QLineEdit::EchoMode masked{}, shown{}, maskedAgain{};
    bool fieldEmptied = false;
    WhenModalShown([&](QWidget *form) {
        title = form->windowTitle();
        label = Child<QLabel>(form, "LabelPassword")->text();
        EXPECT_FALSE(Child<QLabel>(form, "LabelAgain")->isVisible());
        auto *edit = Child<QLineEdit>(form, "EditPassword");
        EXPECT_EQ(form->focusWidget(), edit);
        Type(form, "EditPassword", QStringLiteral("s3cr&t "));
        edit->insert(QStringLiteral("\u00e9")); // as an input method delivers it
        masked = edit->echoMode();
        Click(form, "CheckShowPassword");
        shown = edit->echoMode();
        Click(form, "CheckShowPassword");
        maskedAgain = edit->echoMode();
        Click(form, "ButtonOK");
        fieldEmptied = edit->text().isEmpty();
    });
    EXPECT_TRUE(ExecutePassword("docs/a.txt", false, password));
    EXPECT_EQ(password.Text(), "s3cr&t \xc3\xa9");
    EXPECT_EQ(title, QStringLiteral("Password"));
    EXPECT_EQ(label, QStringLiteral("Password for docs/a.txt:"));
    EXPECT_EQ(masked, QLineEdit::Password);
    EXPECT_EQ(shown, QLineEdit::Normal);
    EXPECT_EQ(maskedAgain, QLineEdit::Password);
    EXPECT_TRUE(fieldEmptied);
}

TEST(PasswordDialog, CancelEscapeAndTheCloseBoxReturnFalseAndKeepNothing)
{
    for (const char *how : {"ButtonCancel", "Escape", "close"}) {
        Secret password;
        bool fieldEmptied = false;
        WhenModalShown([&](QWidget *form) {
            auto *edit = Child<QLineEdit>(form, "EditPassword");
            Type(form, "EditPassword", QStringLiteral("typed"));
            if (how == std::string("ButtonCancel"))
                Click(form, how);
            else if (how == std::string("Escape"))
                QTest::keyClick(edit, Qt::Key_Escape);
            else
                form->close();
            fieldEmptied = edit->text().isEmpty();
        });
        EXPECT_FALSE(ExecutePassword("a.txt", false, password)) << how;
        EXPECT_TRUE(password.Empty()) << how;
        EXPECT_TRUE(fieldEmptied) << how;
    }
}

TEST(PasswordDialog, AskedAgainSaysSoAndNamesTheEntryEscaped)
{
    TFormPassword form(TFormPassword::Mode::Open);
    form.SetEntry("bad\x01<b>name</b>\xe2\x80\xaetxt", true);
    ShowActive(form);
    const QString name = QStringLiteral("bad\\x01<b>name</b>\\u202Etxt");
    EXPECT_TRUE(form.LabelAgain->isVisible());
    EXPECT_EQ(form.LabelAgain->text(), QStringLiteral("The password does not open %1.").arg(name));
    EXPECT_EQ(form.LabelPassword->text(), QStringLiteral("Password for %1:").arg(name));
    EXPECT_EQ(form.LabelPassword->textFormat(), Qt::PlainText);
    EXPECT_FALSE(form.EditConfirm->isVisible());
    // Enter in the field answers as "&OK" does; an empty field is refused.
    test::ScopedScriptedInteraction ui;
    QTest::keyClick(form.EditPassword, Qt::Key_Return);
    EXPECT_EQ(ui.Log.Messages, std::vector<std::string>{"The password must not be empty."});
    EXPECT_TRUE(form.isVisible());
    QTest::keyClicks(form.EditPassword, QStringLiteral("pw"));
    QTest::keyClick(form.EditPassword, Qt::Key_Return);
    EXPECT_EQ(form.result(), 1);
    EXPECT_EQ(form.Password.Text(), "pw");
}

TEST(PasswordDialog, NewPasswordIsRefusedWhenEmptyOrMismatchedAndTakenWhenBothAgree)
{
    test::ScopedScriptedInteraction ui;
    TFormPassword form(TFormPassword::Mode::New);
    ShowActive(form);
    EXPECT_EQ(form.LabelPassword->text(), QStringLiteral("Password:"));
    EXPECT_EQ(form.LabelConfirm->text(), QStringLiteral("Confirm:"));
    EXPECT_EQ(form.EditConfirm->echoMode(), QLineEdit::Password);
    Click(&form, "CheckShowPassword");
    EXPECT_EQ(form.EditConfirm->echoMode(), QLineEdit::Normal);
    Click(&form, "CheckShowPassword");

    struct Case {
        const char *password, *confirm, *message;
    };
    const Case refused[] = {
        {"", "", "The password must not be empty."},
        {"", "abc", "The password must not be empty."},
        {"abc", "abd", "The passwords do not match."},
        {"abc", "", "The passwords do not match."},
    };
    for (const Case &c : refused) {
        ui.Log.Clear();
        Type(&form, "EditPassword", QString::fromLatin1(c.password));
        Type(&form, "EditConfirm", QString::fromLatin1(c.confirm));
        Click(&form, "ButtonOK");
        EXPECT_EQ(ui.Log.Messages, std::vector<std::string>{c.message}) << c.password << "/" << c.confirm;
        EXPECT_TRUE(form.isVisible());
        EXPECT_TRUE(form.Password.Empty());
        EXPECT_TRUE(form.EditPassword->text().isEmpty() && form.EditConfirm->text().isEmpty());
        EXPECT_EQ(form.focusWidget(), form.EditPassword);
    }
    ui.Log.Clear();
    Type(&form, "EditPassword", QStringLiteral("abc"));
    Type(&form, "EditConfirm", QStringLiteral("abc"));
    QTest::keyClick(form.EditConfirm, Qt::Key_Return);
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), 1);
    EXPECT_EQ(form.Password.Text(), "abc");
    EXPECT_TRUE(form.EditPassword->text().isEmpty() && form.EditConfirm->text().isEmpty());
}
