#include "dialogs/FStartup.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace pellux;

namespace {
struct Flags {
    bool New, Open, Exit, Ignore;
    bool operator==(const Flags &) const = default;
};

Flags Read(const TFormStartup &form) { return {form.ChoseNew, form.ChoseOpen, form.ChoseExit, form.ChoseIgnore}; }

void ShowActive(TFormStartup &form)
{
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.isAncestorOf(QApplication::focusWidget()); }, 2000));
}
} // namespace

TEST(StartupChooser, EachButtonSetsOnlyItsOwnFlagAndCloses)
{
    struct Case {
        QPushButton *TFormStartup::*button;
        void (TFormStartup::*handler)();
        Flags expected;
    };
    const Case cases[] = {
        {&TFormStartup::ButtonNew, &TFormStartup::ButtonNewClick, {true, false, false, false}},
        {&TFormStartup::ButtonOpen, &TFormStartup::ButtonOpenClick, {false, true, false, false}},
        {&TFormStartup::ButtonExit, &TFormStartup::ButtonExitClick, {false, false, true, false}},
        {&TFormStartup::ButtonClose, &TFormStartup::ButtonCloseClick, {false, false, false, true}},
    };
    for (const auto &c : cases) {
        // Clicked, and called by its name as the main window's code may.
        for (const bool byName : {false, true}) {
            TFormStartup form;
            ShowActive(form);
            // A stale choice from before is cleared by the click.
            form.ChoseIgnore = form.ChoseNew = true;
            if (byName)
                (form.*c.handler)();
            else
                QTest::mouseClick(form.*c.button, Qt::LeftButton);
            EXPECT_TRUE(Read(form) == c.expected) << (form.*c.button)->objectName().toStdString() << byName;
            EXPECT_FALSE(form.isVisible());
        }
    }
}

TEST(StartupChooser, CloseBoxChoosesIgnore)
{
    TFormStartup form;
    ShowActive(form);
    EXPECT_TRUE(form.close());
    EXPECT_TRUE((Read(form) == Flags{false, false, false, true}));
}

TEST(StartupChooser, ActivationClearsAnEarlierChoice)
{
    TFormStartup form;
    form.ChoseExit = true;
    ShowActive(form);
    EXPECT_TRUE((Read(form) == Flags{false, false, false, false}));
}

TEST(StartupChooser, EnterAtOnceChoosesNewWhileEscapeAndAltEDoNothing)
{
    TFormStartup form;
    ShowActive(form);
    EXPECT_EQ(form.focusWidget(), form.ButtonNew);
    QTest::keyClick(form.focusWidget(), Qt::Key_Escape);
    QTest::keyClick(form.focusWidget(), Qt::Key_E, Qt::AltModifier); // the label's access letter
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.focusWidget(), form.ButtonNew);
    EXPECT_TRUE((Read(form) == Flags{false, false, false, false}));
    QTest::keyClick(form.focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE((Read(form) == Flags{true, false, false, false}));
}

TEST(StartupChooser, TabWalksTheFourButtonsInOrder)
{
    TFormStartup form;
    ShowActive(form);
    const QWidget *expected[] = {form.ButtonOpen, form.ButtonClose, form.ButtonExit, form.ButtonNew};
    for (const QWidget *next : expected) {
        QTest::keyClick(form.focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(form.focusWidget(), next);
    }
}

TEST(StartupChooser, FixedClientAreaAndCaption)
{
    TFormStartup form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Starting Pellux "));
    EXPECT_EQ(form.size(), QSize(506, 252));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.Label5->text(), QStringLiteral("&Exit this program"));
    EXPECT_TRUE(form.Label1->font().bold());
}
