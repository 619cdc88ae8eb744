#include "dialogs/FStatus.h"

#include "dialogs/AppIcon.h"
#include "dialogs/DialogLook.h"

#include <QCoreApplication>
#include <QLabel>
#include <QShowEvent>
#include <QTimer>

namespace pellux {

namespace {
constexpr int kOuterWidth = 374;
constexpr int kOuterHeight = 108;

TFormStatus *FormStatus = nullptr;
} // namespace

TFormStatus::TFormStatus() : QWidget(nullptr, Qt::Window)
{
    setObjectName(QStringLiteral("FormStatus"));
    setWindowIcon(AppIcon());
    // The outer size is fixed by the frame; until the frame is known it is the client size.
    resize(kOuterWidth, kOuterHeight);
    move(200, 108); // a window's position counts its frame

    LabelStatus = look::Place(new QLabel(this), "LabelStatus", 16, 24, 337, 33);
    LabelStatus->setFont(look::Font(9));
    LabelStatus->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    LabelStatus->setWordWrap(true);
}

TFormStatus *TFormStatus::Current() { return FormStatus; }

void TFormStatus::SetStatusText(const std::string &Text) { LabelStatus->setText(QString::fromStdString(Text)); }

void TFormStatus::ShowStatus(const std::string &Caption, const std::string &Text)
{
    if (!FormStatus)
        FormStatus = new TFormStatus;
    FormStatus->setWindowTitle(QString::fromStdString(Caption));
    FormStatus->SetStatusText(Text);
    if (!FormStatus->isVisible())
        FormStatus->show();
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

void TFormStatus::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    AdjustOuterSize();
    // A window manager may add its frame only after the window appeared.
    if (!outerSizeSet_)
        QTimer::singleShot(200, this, &TFormStatus::AdjustOuterSize);
}

// Shrinks the client so that frame and client together keep the window's outer size.
void TFormStatus::AdjustOuterSize()
{
    if (outerSizeSet_ || !isVisible())
        return;
    const int extraWidth = frameGeometry().width() - geometry().width();
    const int extraHeight = frameGeometry().height() - geometry().height();
    if (extraWidth > 0 || extraHeight > 0) {
        resize(kOuterWidth - extraWidth, kOuterHeight - extraHeight);
        outerSizeSet_ = true;
    }
}

} // namespace pellux
