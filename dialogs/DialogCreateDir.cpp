#include "dialogs/DialogCreateDir.h"

#include "dialogs/Connect.h"
#include "dialogs/DialogLook.h"
#include "dialogs/ModalResult.h"
#include "platform/ErrorReport.h"
#include "platform/UserInteraction.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include <algorithm>

#include <sys/stat.h>

namespace pellux {

namespace {
// The key filter refuses typed characters; this keeps out what arrives by other roads
// (pasting with the mouse, input methods).
class NameValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        for (const char32_t c : input.toUcs4()) {
            if (!TFormCreateDirectory::IsAllowedNameCharacter(c))
                return Invalid;
        }
        return Acceptable;
    }
};
} // namespace

TFormCreateDirectory::TFormCreateDirectory(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), Directory("/")
{
    setObjectName(QStringLiteral("FormCreateDirectory"));
    Label1 = look::Place(new QLabel(QStringLiteral("Create new directory"), this), "Label1", 8, 8);
    Label1->setFont(look::Font(10, true));
    Label1->adjustSize();
    EditDirectory = look::Place(new QLineEdit(this), "EditDirectory", 8, 32, 369, 21);
    EditDirectory->setValidator(new NameValidator(EditDirectory));
    EditDirectory->setContextMenuPolicy(Qt::NoContextMenu);
    EditDirectory->setAcceptDrops(false);
    EditDirectory->installEventFilter(this);
    ButtonCancel = look::Place(new QPushButton(QStringLiteral("&Cancel"), this), "ButtonCancel", 216, 56, 75, 25);
    ButtonOK = look::Place(new QPushButton(QStringLiteral("&OK"), this), "ButtonOK", 302, 56, 75, 25);
    FitToFont();
    look::NoDefaultButtons(this);
    // The stored layout is only 40 high; showing the window makes room for the buttons.
    resize(387, 40);

    setTabOrder(EditDirectory, ButtonCancel);
    setTabOrder(ButtonCancel, ButtonOK);
    ConnectGuarded(ButtonOK, &QPushButton::clicked, this, &TFormCreateDirectory::ButtonOKClick);
    connect(ButtonCancel, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });
}

// The stored layout suits a small font. A larger one makes the name field taller, with
// the room around the text it has there, and the buttons wider, right edges kept.
void TFormCreateDirectory::FitToFont()
{
    constexpr int kStoredEditHeight = 21;
    constexpr int kStoredTextHeight = 14;
    const int editHeight = EditDirectory->fontMetrics().height() + kStoredEditHeight - kStoredTextHeight;
    const int editGrowth = std::max(0, editHeight - EditDirectory->height());
    EditDirectory->resize(EditDirectory->width(), EditDirectory->height() + editGrowth);
    const int buttonWidth = std::max({ButtonOK->width(), look::TextWidth(ButtonOK), look::TextWidth(ButtonCancel)});
    const int gap = ButtonOK->x() - (ButtonCancel->x() + ButtonCancel->width());
    const int right = ButtonOK->x() + ButtonOK->width();
    ButtonOK->setGeometry(right - buttonWidth, ButtonOK->y() + editGrowth, buttonWidth, ButtonOK->height());
    ButtonCancel->setGeometry(ButtonOK->x() - gap - buttonWidth, ButtonOK->y(), buttonWidth, ButtonCancel->height());
}

bool TFormCreateDirectory::IsAllowedNameCharacter(char32_t c)
{
    return c == 8 || c == ' ' || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == '@' || (c >= 'A' && c <= 'Z')
        || c == '_' || (c >= 'a' && c <= 'z') || c == '~';
}

void TFormCreateDirectory::ButtonOKClick()
{
    std::string path = Directory;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += EditDirectory->text().toStdString();
    // Only the last level is made: a missing parent is a failure, as is an empty name
    // (the parent itself exists already).
    if (::mkdir(path.c_str(), 0777) == 0) {
        Directory = path;
        done(mrOk);
        return;
    }
    UI().Beep();
    UI().ShowMessage("Unable to create \r" + path);
    done(mrCancel);
}

void TFormCreateDirectory::ButtonCancelClick() { done(mrCancel); }

void TFormCreateDirectory::reject() { done(mrCancel); }

bool TFormCreateDirectory::EditDirectoryKeyPress(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Guarded([this] { ButtonOKClick(); });
        return true;
    case Qt::Key_Escape:
        ButtonCancelClick();
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return false;
    default:
        break;
    }
    const QString text = event->text();
    // Keys that type nothing (arrows, Home, End) move the cursor and pass.
    if (text.isEmpty())
        return false;
    const auto characters = text.toUcs4();
    if (characters.size() == 1 && IsAllowedNameCharacter(characters.front()))
        return false;
    UI().Beep();
    return true;
}

bool TFormCreateDirectory::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == EditDirectory && event->type() == QEvent::KeyPress)
        return EditDirectoryKeyPress(static_cast<QKeyEvent *>(event));
    return QDialog::eventFilter(watched, event);
}

void TFormCreateDirectory::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    EditDirectory->setFocus();
    setWindowTitle(QString::fromStdString(Directory));
    setFixedSize(ButtonOK->x() + ButtonOK->width() + 10, ButtonOK->y() + ButtonOK->height() + 7);
    look::CentreOnScreen(this);
}

void TFormCreateDirectory::keyPressEvent(QKeyEvent *event)
{
    // Escape cancels only from the name field (see the key filter).
    if (!look::SwallowEscape(event))
        QDialog::keyPressEvent(event);
}

} // namespace pellux
