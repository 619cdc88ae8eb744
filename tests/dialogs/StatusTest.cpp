#include "dialogs/FStatus.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>

#include <gtest/gtest.h>

using namespace pellux;

namespace {
int StatusWindows()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += qobject_cast<TFormStatus *>(widget) != nullptr;
    return count;
}
} // namespace

TEST(StatusWindow, HideWithoutShowDoesNothing)
{
    ASSERT_EQ(TFormStatus::Current(), nullptr);
    TFormStatus::HideStatus();
    EXPECT_EQ(TFormStatus::Current(), nullptr);
    EXPECT_EQ(StatusWindows(), 0);
}

TEST(StatusWindow, SecondShowReplacesTheTextsOfTheOneWindow)
{
    TFormStatus::ShowStatus("Pellux - a.zip", "Loading archive");
    QPointer<TFormStatus> first = TFormStatus::Current();
    TFormStatus::ShowStatus("Pellux - b.zip", "Extracting files");
    EXPECT_EQ(TFormStatus::Current(), first.data());
    EXPECT_EQ(StatusWindows(), 1);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Pellux - b.zip"));
    EXPECT_EQ(first->LabelStatus->text(), QStringLiteral("Extracting files"));

    TFormStatus::HideStatus();
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(TFormStatus::Current(), nullptr);
}

TEST(StatusWindow, CloseBoxOnlyHidesUntilHideStatus)
{
    TFormStatus::ShowStatus("Pellux", "Adding files");
    QPointer<TFormStatus> window = TFormStatus::Current();
    ASSERT_TRUE(window);
    window->close();
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(window);

    TFormStatus::ShowStatus("Pellux", "Deleting files");
    EXPECT_EQ(TFormStatus::Current(), window.data());
    EXPECT_TRUE(window->isVisible());

    TFormStatus::HideStatus();
    EXPECT_TRUE(window.isNull());
}

TEST(StatusWindow, PlacedAndSizedAsTheLongWorkWindow)
{
    {
        ScopedStatus status("Pellux", std::string(300, 'w') + " end");
        const TFormStatus *window = TFormStatus::Current();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->pos(), QPoint(200, 108));
        // A long text wraps inside the fixed label instead of growing it.
        EXPECT_EQ(window->LabelStatus->geometry(), QRect(16, 24, 337, 33));
        EXPECT_TRUE(window->LabelStatus->wordWrap());
    }
    EXPECT_EQ(TFormStatus::Current(), nullptr);
}
