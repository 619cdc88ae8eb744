#pragma once
// Drives a window that its code shows modally: the action runs inside the modal loop,
// once the window is up and active.
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

namespace pellux::test {

// Runs `act` with the active modal window as soon as the next modal loop has shown it.
inline void WhenModalShown(std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act = std::move(act)] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        (void)QTest::qWaitForWindowActive(modal);
        // Focus events reach the controls only once the focus has arrived in the window.
        (void)QTest::qWaitFor([modal] { return modal->isAncestorOf(QApplication::focusWidget()); }, 2000);
        act(modal);
    });
    timer->start();
}

template <class W>
W *Child(QWidget *window, const char *name)
{
    return window->findChild<W *>(QString::fromLatin1(name));
}

} // namespace pellux::test
