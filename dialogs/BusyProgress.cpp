#include "dialogs/BusyProgress.h"

#include "dialogs/FStatus.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QWindow>

#include <algorithm>

namespace pellux {

namespace {
// Events are handled at most this often: often enough that the desktop never finds
// the program hanging, rarely enough to cost the work nothing.
constexpr qint64 kPumpIntervalMs = 20;
// Work shorter than this shows no bar: it would only flicker.
constexpr qint64 kRevealMs = 500;

bool IsInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::Gesture:
    case QEvent::NativeGesture:
        return true;
    default:
        return false;
    }
}

// The top-level widget an event's receiver belongs to: a widget's window, the widget
// of a native window, or that of the nearest widget among an object's parents.
QWidget *WindowOf(QObject *receiver)
{
    for (QObject *object = receiver; object; object = object->parent()) {
        if (object->isWidgetType())
            return static_cast<QWidget *>(object)->window();
        if (object->isWindowType()) {
            const auto widgets = QApplication::topLevelWidgets();
            const auto it = std::find_if(widgets.begin(), widgets.end(),
                                         [object](QWidget *w) { return w->windowHandle() == object; });
            return it == widgets.end() ? nullptr : *it;
        }
    }
    return nullptr;
}
} // namespace

TBusyProgress::TBusyProgress(TZipEngine &Engine)
    : engine_(Engine), previous_(Engine.OnProgress), status_(TFormStatus::Current())
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window != status_.data())
            blocked_.emplace_back(window);
    }
    if (status_) {
        status_->ShowProgress(false);
        connect(status_->ButtonCancel, &QPushButton::clicked, this, [this] {
            engine_.Cancel = true;
            status_->ButtonCancel->setEnabled(false); // the click was heard
        });
    }
    qApp->installEventFilter(this);
    engine_.OnProgress = [this](TZipEngine &Sender, ProgressType Type, const std::string &Filename, std::int32_t Size) {
        if (previous_)
            previous_(Sender, Type, Filename, Size);
        Progress(Type, Size);
    };
    started_.start();
    sincePump_.start();
}

TBusyProgress::~TBusyProgress()
{
    engine_.OnProgress = previous_;
    qApp->removeEventFilter(this);
    if (status_) {
        status_->ButtonCancel->disconnect(this);
        status_->ShowProgress(false);
    }
    if (revealed_)
        QGuiApplication::restoreOverrideCursor();
}

void TBusyProgress::Progress(ProgressType Type, std::int32_t Size)
{
    if (Type == ProgrStep && Size > 0)
        done_ += static_cast<std::uint64_t>(Size);
    if (sincePump_.elapsed() < kPumpIntervalMs)
        return;
    if (!revealed_ && started_.elapsed() >= kRevealMs)
        Reveal();
    if (revealed_ && status_)
        status_->SetProgress(done_, engine_.BytesToDo);
    // A click on Cancel lands here and sets the component's Cancel, which the
    // library hears in the answer to this very report.
    QCoreApplication::processEvents();
    sincePump_.restart();
}

void TBusyProgress::Reveal()
{
    revealed_ = true;
    // The hourglass says "wait"; now there is something to click.
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    if (status_)
        status_->ShowProgress(true);
}

bool TBusyProgress::Blocked(QObject *receiver, const QEvent *event) const
{
    QWidget *window = WindowOf(receiver);
    if (!window) // a shortcut of no window in particular belongs to the main window's actions
        return event->type() == QEvent::Shortcut;
    return std::any_of(blocked_.begin(), blocked_.end(), [window](const QPointer<QWidget> &w) { return w == window; });
}

bool TBusyProgress::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && event->spontaneous()) {
        // Neither the main window nor the status window with its Cancel goes away
        // while the work runs: the desktop's request is answered with a no.
        if (Blocked(watched, event) || (status_ && WindowOf(watched) == status_.data())) {
            event->ignore();
            return true;
        }
        return false;
    }
    return IsInput(event->type()) && Blocked(watched, event);
}

} // namespace pellux
