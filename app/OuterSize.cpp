#include "app/OuterSize.h"

#include <QEvent>
#include <QMargins>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace pellux {

namespace {

// Watches the widget (for its native window and for moves) and its native window (a
// reparenting window manager frames the window before it is first exposed).
class OuterSizeFitter : public QObject {
public:
    OuterSizeFitter(QWidget *window, QSize outer) : QObject(window), window_(window), outer_(outer)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Expose:
        case QEvent::Move:
        case QEvent::WindowStateChange:
            if (watched == window_ && !watchingHandle_ && window_->windowHandle()) {
                window_->windowHandle()->installEventFilter(this);
                watchingHandle_ = true;
            }
            Fit();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void Fit()
    {
        if (fitted_ || !window_->windowHandle() || window_->isMaximized() || window_->isFullScreen())
            return;
        const QMargins frame = window_->windowHandle()->frameMargins();
        if (frame.isNull())
            return;
        fitted_ = true;
        window_->resize(outer_.width() - frame.left() - frame.right(), outer_.height() - frame.top() - frame.bottom());
    }

    QPointer<QWidget> window_;
    QSize outer_;
    bool watchingHandle_ = false;
    bool fitted_ = false;
};

} // namespace

void KeepOuterSizeOnceFramed(QWidget *window, QSize Outer)
{
    window->resize(Outer);
    new OuterSizeFitter(window, Outer);
}

} // namespace pellux
