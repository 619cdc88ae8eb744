#include "dialogs/FStatus.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <sys/types.h>

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
        // Bar and Cancel wait, hidden, below the label and inside the window.
        for (const QWidget *below :
             std::initializer_list<const QWidget *>{window->ProgressBarStatus, window->ButtonCancel}) {
            EXPECT_FALSE(below->isVisible());
            EXPECT_GE(below->y(), 24 + 33); // the label's bottom
            EXPECT_TRUE(window->rect().contains(below->geometry()));
        }
        EXPECT_EQ(window->ButtonCancel->text(), QStringLiteral("Cancel"));
    }
    EXPECT_EQ(TFormStatus::Current(), nullptr);
}

namespace {
// A window manager that is slow to frame a new window, as a busy desktop's is: the
// script names its process, which is held for a moment while the window appears.
class SlowWindowManager {
public:
    SlowWindowManager()
    {
        const char *pid = std::getenv("PELLUX_TEST_WM_PID");
        if (!pid || (pid_ = std::atoi(pid)) <= 0 || ::kill(pid_, SIGSTOP) != 0)
            return;
        resume_ = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            ::kill(pid_, SIGCONT);
        });
    }
    ~SlowWindowManager()
    {
        if (resume_.joinable())
            resume_.join();
    }
    SlowWindowManager(const SlowWindowManager &) = delete;
    SlowWindowManager &operator=(const SlowWindowManager &) = delete;

private:
    pid_t pid_ = 0;
    std::thread resume_;
};
} // namespace

// Runs under a window manager that frames windows (scripts/test.sh starts Xvfb and
// twm for it); skips anywhere else.
TEST(StatusWindow, FramedOuterSizeHoldsWhileTheCallerIsBusy)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server with a window manager";
    {
        QWidget probe;
        probe.move(0, 0); // placed, so that no window manager asks where to put it
        probe.show();
        if (!QTest::qWaitForWindowExposed(&probe) || probe.windowHandle()->frameMargins().isNull())
            GTEST_SKIP() << "no window manager frames windows";
    }
    // The second window starts from the frame the first one learnt.
    for (int round = 0; round < 2; ++round) {
        const SlowWindowManager slow;
        ScopedStatus status("Pellux", "Extracting files");
        const QWindow *window = TFormStatus::Current()->windowHandle();
        // The caller's long work: nothing handles the window's events meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // Learn what the X server made of the window, without running the window's timers.
        QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers);
        const QRect frame = window->frameGeometry();
        EXPECT_EQ(QString::asprintf("%d,%d %dx%d", frame.x(), frame.y(), frame.width(), frame.height()).toStdString(),
                  "200,108 374x108")
            << "round " << round;
    }
}
