#include "dialogs/FStartup.h"

#include "dialogs/AppIcon.h"
#include "dialogs/DialogLook.h"
#include "dialogs/Glyphs.h"
#include "platform/ErrorReport.h"

#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace pellux {

using look::Font;
using look::Place;

TFormStartup::TFormStartup(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormStartup"));
    setWindowTitle(QStringLiteral("Starting Pellux "));
    setWindowIcon(AppIcon());
    setFixedSize(506, 252);

    Panel1 = Place(new QFrame(this), "Panel1", 0, 0, 506, 252);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(1);

    const QFont labelFont = Font(10, true);
    auto label = [&](const char *name, const char *text, int left, int top) {
        auto *widget = new QLabel(QString::fromUtf8(text), Panel1);
        widget->setFont(labelFont);
        return Place(widget, name, left, top);
    };
    auto button = [&](const char *name, int top) {
        auto *widget = new QPushButton(Panel1);
        widget->setFont(labelFont);
        widget->setAutoDefault(true);
        return Place(widget, name, 56, top, 25, 25);
    };

    Label3 = label("Label3", "To start working with Pellux, please\r\nchoose one of the following actions:", 48, 16);
    ButtonNew = button("ButtonNew", 64);
    ButtonNew->setIcon(glyphs::NewArchive());
    ButtonNew->setIconSize(QSize(16, 16));
    Label1 = label("Label1", "Create a new ZIP archive", 96, 69);
    ButtonOpen = button("ButtonOpen", 104);
    ButtonOpen->setIcon(glyphs::OpenArchive());
    ButtonOpen->setIconSize(QSize(16, 16));
    Label2 = label("Label2", "Open an existing ZIP archive", 96, 109);
    ButtonClose = button("ButtonClose", 144);
    ButtonClose->setText(QStringLiteral("X"));
    look::SetTextColour(ButtonClose, Qt::gray);
    Label4 = label("Label4", "Ignore this screen", 96, 149);
    ButtonExit = button("ButtonExit", 184);
    ButtonExit->setText(QStringLiteral("X"));
    look::SetTextColour(ButtonExit, Qt::red);
    Label5 = label("Label5", "&Exit this program", 96, 189);
    // The access letter is only drawn: a buddy that takes no focus makes it lead nowhere.
    Label5->setBuddy(Label5);

    setTabOrder(ButtonNew, ButtonOpen);
    setTabOrder(ButtonOpen, ButtonClose);
    setTabOrder(ButtonClose, ButtonExit);
    ButtonNew->setFocus();

    connect(ButtonNew, &QPushButton::clicked, this, &TFormStartup::ButtonNewClick);
    connect(ButtonOpen, &QPushButton::clicked, this, &TFormStartup::ButtonOpenClick);
    connect(ButtonClose, &QPushButton::clicked, this, &TFormStartup::ButtonCloseClick);
    connect(ButtonExit, &QPushButton::clicked, this, &TFormStartup::ButtonExitClick);
}

void TFormStartup::ClearChoice() { ChoseNew = ChoseOpen = ChoseExit = ChoseIgnore = false; }

void TFormStartup::ButtonNewClick() { Choose(&TFormStartup::ChoseNew); }
void TFormStartup::ButtonOpenClick() { Choose(&TFormStartup::ChoseOpen); }
void TFormStartup::ButtonCloseClick() { Choose(&TFormStartup::ChoseIgnore); }
void TFormStartup::ButtonExitClick() { Choose(&TFormStartup::ChoseExit); }

void TFormStartup::Choose(bool TFormStartup::*field)
{
    Guarded([&] {
        ClearChoice();
        this->*field = true;
        close();
    });
}

void TFormStartup::FormActivate() { ClearChoice(); }

void TFormStartup::FormClose()
{
    if (!ChoseNew && !ChoseOpen && !ChoseExit && !ChoseIgnore)
        ChoseIgnore = true;
}

// Every way of closing (a button, the close box, the system's close keystroke) ends here.
void TFormStartup::done(int result)
{
    FormClose();
    QDialog::done(result);
}

void TFormStartup::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
    QDialog::changeEvent(event);
}

void TFormStartup::keyPressEvent(QKeyEvent *event)
{
    // No cancel button: Escape does nothing here.
    if (!look::SwallowEscape(event))
        QDialog::keyPressEvent(event);
}

} // namespace pellux
