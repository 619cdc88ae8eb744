#include "dialogs/FStatus.h"

#include "dialogs/AppIcon.h"
#include "dialogs/DialogLook.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMargins>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QWindow>

#include <algorithm>

namespace pellux {

namespace {
constexpr int kOuterWidth = 374;
constexpr int kOuterHeight = 108;
// How long ShowStatus waits at most for the window manager to frame a new window.
constexpr int kFrameWaitMs = 400;
// The bar's range: fine enough for any archive, small enough for an int.
constexpr int kProgressSteps = 1000;

TFormStatus *FormStatus = nullptr;
// The window manager's frame as last seen, so that the next window starts right.
QMargins KnownFrame;
} // namespace

TFormStatus::TFormStatus() : QWidget(nullptr, Qt::Window)
{
    setObjectName(QStringLiteral("FormStatus"));
    setWindowIcon(AppIcon());
    resize(kOuterWidth - KnownFrame.left() - KnownFrame.right(), kOuterHeight - KnownFrame.top() - KnownFrame.bottom());
    move(200, 108); // a window's position counts its frame

    LabelStatus = look::Place(new QLabel(this), "LabelStatus", 16, 24, 337, 33);
    LabelStatus->setFont(look::Font(9));
    LabelStatus->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    LabelStatus->setWordWrap(true);

    ProgressBarStatus = look::Place(new QProgressBar(this), "ProgressBarStatus", 16, 62, 248, 16);
    ProgressBarStatus->setTextVisible(false);
    ProgressBarStatus->setRange(0, kProgressSteps);
    ProgressBarStatus->hide();
    ButtonCancel = look::Place(new QPushButton(QStringLiteral("Cancel"), this), "ButtonCancel", 272, 60, 81, 20);
    ButtonCancel->setAutoDefault(false);
    ButtonCancel->hide();
    PlaceProgress();
}

TFormStatus *TFormStatus::Current() { return FormStatus; }

void TFormStatus::SetStatusText(const std::string &Text) { LabelStatus->setText(QString::fromStdString(Text)); }

void TFormStatus::ShowProgress(bool Visible)
{
    ProgressBarStatus->setVisible(Visible);
    ButtonCancel->setVisible(Visible);
    ButtonCancel->setEnabled(true);
}

void TFormStatus::SetProgress(std::uint64_t Done, std::uint64_t Total)
{
    if (Total == 0) {
        ProgressBarStatus->setRange(0, 0);
        return;
    }
    ProgressBarStatus->setRange(0, kProgressSteps);
    const std::uint64_t part =
        Done >= Total ? kProgressSteps : static_cast<std::uint64_t>(double(Done) / double(Total) * kProgressSteps);
    ProgressBarStatus->setValue(static_cast<int>(part));
}

void TFormStatus::ShowStatus(const std::string &Caption, const std::string &Text)
{
    if (!FormStatus)
        FormStatus = new TFormStatus;
    FormStatus->setWindowTitle(QString::fromStdString(Caption));
    FormStatus->SetStatusText(Text);
    if (!FormStatus->isVisible()) {
        FormStatus->show();
        FormStatus->WaitForFrame();
    }
    // Paint the window and its texts before the caller's long work starts.
    QCoreApplication::processEvents();
}

void TFormStatus::HideStatus()
{
    if (!FormStatus)
        return;
    TFormStatus *window = FormStatus;
    FormStatus = nullptr;
    window->close();
    delete window;
    // Let what the window covered be repainted.
    QCoreApplication::processEvents();
}

// The caller goes into its long work right after ShowStatus, when nothing answers the
// window manager any more: the frame must be known and the size fitted before that.
void TFormStatus::WaitForFrame()
{
    QWindow *window = windowHandle();
    if (!window || QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    // A reparenting window manager frames the window before it lets it be exposed.
    QElapsedTimer waited;
    waited.start();
    while (!window->isExposed() && waited.elapsed() < kFrameWaitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    FitOuterSize();
}

void TFormStatus::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FitOuterSize();
}

void TFormStatus::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    PlaceProgress();
}

// Bar and button sit below the label. A window manager's tall title bar leaves less
// client area than the outer size suggests: then they move up into the label's
// second line, which the short status texts leave empty, rather than out of sight.
void TFormStatus::PlaceProgress()
{
    const int buttonTop = std::min(60, height() - ButtonCancel->height() - 3);
    ButtonCancel->move(ButtonCancel->x(), buttonTop);
    ProgressBarStatus->move(ProgressBarStatus->x(),
                            buttonTop + (ButtonCancel->height() - ProgressBarStatus->height()) / 2);
}

// Sizes the client so that frame and client together keep the window's outer size.
void TFormStatus::FitOuterSize()
{
    const QWindow *window = windowHandle();
    if (!window)
        return;
    const QMargins frame = window->frameMargins();
    if (frame.isNull())
        return;
    KnownFrame = frame;
    resize(kOuterWidth - frame.left() - frame.right(), kOuterHeight - frame.top() - frame.bottom());
}

} // namespace pellux
