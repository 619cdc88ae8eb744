#include "dialogs/About.h"

#include "dialogs/AppIcon.h"
#include "dialogs/DialogLook.h"
#include "dialogs/Glyphs.h"
#include "dialogs/ModalResult.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <memory>

namespace pellux {

using look::Font;
using look::Place;

TFAbout::TFAbout(QWidget *parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("FAbout"));
    setWindowTitle(QStringLiteral("About"));
    setWindowIcon(AppIcon());
    setFixedSize(312, 357);
    look::SetBackground(this, QColor(0, 0, 255));

    // Created first, so it lies beneath the red panel and the button.
    Panel2 = Place(new QFrame(this), "Panel2", 8, 8, 297, 342);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel2->setLineWidth(2);

    Panel1 = Place(new QFrame(this), "Panel1", 16, 19, 281, 284);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(2);
    look::SetBackground(Panel1, QColor(255, 0, 0));

    auto label = [&](const char *name, const char *text, int left, int top, const QFont &font) {
        auto *widget = new QLabel(QString::fromUtf8(text), Panel1);
        widget->setFont(font);
        look::SetTextColour(widget, Qt::white);
        return Place(widget, name, left, top);
    };
    const QFont textFont = Font(10, true);

    ProgramIcon = Place(new QLabel(Panel1), "ProgramIcon", 16, 24, 32, 32);
    ProgramIcon->setPixmap(glyphs::AppPixmap(32));
    ProgramIcon->setToolTip(QStringLiteral("Hi there!"));
    ProductName = label("ProductName", "Pellux", 84, 21, Font(24, true, true));
    Version = label("Version", "Version 1.0", 15, 92, textFont);
    Label2 = label("Label2", "for Linux", 15, 108, textFont);
    Label3 = label("Label3", "Written by the Pellux developers", 16, 141, textFont);
    Label4 = label("Label4", "Pellux Project", 16, 163, textFont);
    Label5 = label("Label5", "Free software, 2026", 16, 179, textFont);
    Label6 = label("Label6", "https://pellux.example.org", 16, 213, textFont);
    Label7 = label("Label7", "hello@pellux.example.org", 16, 229, textFont);

    OKButton = Place(new QPushButton(QStringLiteral("OK"), this), "OKButton", 219, 312, 77, 27);
    OKButton->setIcon(glyphs::OkTick());
    OKButton->setFont(Font(8, true));
    look::SetTextColour(OKButton, Qt::black);
    OKButton->setDefault(true);
    OKButton->setFocus();
    connect(OKButton, &QPushButton::clicked, this, &TFAbout::OKButtonClick);
}

void TFAbout::OKButtonClick() { done(mrOk); }

void TFAbout::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    look::CentreOnScreen(this);
    OKButton->setFocus();
}

void TFAbout::keyPressEvent(QKeyEvent *event)
{
    // OK is the only way out: there is no cancel button to answer Escape.
    if (!look::SwallowEscape(event))
        QDialog::keyPressEvent(event);
}

void ShowAbout()
{
    auto box = std::make_unique<TFAbout>();
    box->exec();
}

} // namespace pellux
