#include "dialogs/FPassword.h"

#include "dialogs/AppIcon.h"
#include "dialogs/Connect.h"
#include "dialogs/DialogLook.h"
#include "dialogs/ModalResult.h"
#include "platform/UserInteraction.h"
#include "util/ZipRecords.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>
#include <memory>
#include <string.h>

namespace pellux {

using look::Place;

namespace {

constexpr int kMargin = 8;
constexpr int kFieldWidth = 321;

// The answer dialog runs inside the work, under its hourglass: the pointer is a pointer
// again while it is up.
class ArrowCursor {
public:
    ArrowCursor() { QGuiApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~ArrowCursor() { QGuiApplication::restoreOverrideCursor(); }
    ArrowCursor(const ArrowCursor &) = delete;
    ArrowCursor &operator=(const ArrowCursor &) = delete;
};

bool Run(TFormPassword &form, Secret &Password)
{
    const ArrowCursor cursor;
    if (form.exec() != mrOk)
        return false;
    Password = form.Password;
    form.Password.Wipe();
    return true;
}

// The text as UTF-8 in a Secret, then zeroed where the control keeps it. A field's
// text is one buffer shared with the copies handed out, so zeroing it through our copy
// leaves no typed character behind once the field is cleared (a literal set by a
// program is not writable and holds nothing typed).
void TakeText(QLineEdit *edit, Secret *into)
{
    QString text = edit->text();
    if (into) {
        QByteArray utf8 = text.toUtf8();
        into->Assign(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
        ::explicit_bzero(utf8.data(), static_cast<std::size_t>(utf8.size()));
    }
    if (!text.isEmpty() && text.data_ptr().isMutable())
        ::explicit_bzero(const_cast<QChar *>(text.constData()), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    edit->clear();
}

QString Shown(const std::string &Entry) { return QString::fromStdString(VisibleText(Entry)); }

} // namespace

bool ExecutePassword(const std::string &Entry, bool Again, Secret &Password)
{
    auto form = std::make_unique<TFormPassword>(TFormPassword::Mode::Open);
    form->SetEntry(Entry, Again);
    return Run(*form, Password);
}

bool ExecuteNewPassword(Secret &Password)
{
    auto form = std::make_unique<TFormPassword>(TFormPassword::Mode::New);
    return Run(*form, Password);
}

TFormPassword::TFormPassword(Mode mode, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), mode_(mode)
{
    setObjectName(QStringLiteral("FormPassword"));
    setWindowTitle(QStringLiteral("Password"));
    setWindowIcon(AppIcon());

    auto label = [this](const char *name, const QString &text) {
        auto *widget = new QLabel(text, this);
        widget->setObjectName(QString::fromLatin1(name));
        widget->setTextFormat(Qt::PlainText); // archive names are never markup
        return widget;
    };
    auto field = [this](const char *name) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setEchoMode(QLineEdit::Password);
        edit->setContextMenuPolicy(Qt::NoContextMenu);
        edit->setAcceptDrops(false);
        ConnectGuarded(edit, &QLineEdit::returnPressed, this, &TFormPassword::ButtonOKClick);
        return edit;
    };
    LabelAgain = label("LabelAgain", {});
    LabelAgain->hide();
    LabelPassword = label("LabelPassword", QStringLiteral("Password:"));
    EditPassword = field("EditPassword");
    LabelConfirm = label("LabelConfirm", QStringLiteral("Confirm:"));
    EditConfirm = field("EditConfirm");
    if (mode_ == Mode::Open) {
        LabelConfirm->hide();
        EditConfirm->hide();
    }
    CheckShowPassword = new QCheckBox(QStringLiteral("&Show password"), this);
    CheckShowPassword->setObjectName(QStringLiteral("CheckShowPassword"));
    ButtonCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    ButtonOK = new QPushButton(QStringLiteral("&OK"), this);
    ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    look::NoDefaultButtons(this);

    setTabOrder(EditPassword, EditConfirm);
    setTabOrder(EditConfirm, CheckShowPassword);
    setTabOrder(CheckShowPassword, ButtonCancel);
    setTabOrder(ButtonCancel, ButtonOK);
    ConnectGuarded(CheckShowPassword, &QCheckBox::toggled, this, &TFormPassword::CheckShowPasswordClick);
    ConnectGuarded(ButtonOK, &QPushButton::clicked, this, &TFormPassword::ButtonOKClick);
    connect(ButtonCancel, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });
    Arrange();
}

TFormPassword::~TFormPassword() { WipeFields(); }

void TFormPassword::SetEntry(const std::string &Entry, bool Again)
{
    // A long name keeps its beginning and end; the tooltip holds it whole.
    const QString name = Shown(Entry);
    const QString prefix = QStringLiteral("Password for ");
    const QFontMetrics metrics = LabelPassword->fontMetrics();
    const int room = kFieldWidth - metrics.horizontalAdvance(prefix + u':');
    LabelPassword->setText(prefix + metrics.elidedText(name, Qt::ElideMiddle, room) + u':');
    LabelPassword->setToolTip(name);
    LabelAgain->setText(QStringLiteral("The password does not open %1.")
                            .arg(LabelAgain->fontMetrics().elidedText(name, Qt::ElideMiddle, room)));
    LabelAgain->setVisible(Again);
    Arrange();
}

// The controls one below the other, each as tall as the desktop's font makes it.
void TFormPassword::Arrange()
{
    int y = kMargin;
    auto stack = [&](QWidget *widget, int gapAfter) {
        if (widget->isHidden())
            return;
        // A check box is as wide as its text: a click beside it does nothing.
        const int width = widget == CheckShowPassword ? widget->sizeHint().width() : kFieldWidth;
        widget->setGeometry(kMargin, y, width, widget->sizeHint().height());
        y += widget->height() + gapAfter;
    };
    stack(LabelAgain, 6);
    stack(LabelPassword, 2);
    stack(EditPassword, 6);
    stack(LabelConfirm, 2);
    stack(EditConfirm, 6);
    stack(CheckShowPassword, 8);
    const int buttonWidth = std::max({75, look::TextWidth(ButtonOK), look::TextWidth(ButtonCancel)});
    const int buttonHeight = std::max(25, ButtonOK->sizeHint().height());
    const int right = kMargin + kFieldWidth;
    ButtonOK->setGeometry(right - buttonWidth, y, buttonWidth, buttonHeight);
    ButtonCancel->setGeometry(ButtonOK->x() - 11 - buttonWidth, y, buttonWidth, buttonHeight);
    setFixedSize(right + kMargin, y + buttonHeight + kMargin);
}

void TFormPassword::CheckShowPasswordClick()
{
    const auto echo = CheckShowPassword->isChecked() ? QLineEdit::Normal : QLineEdit::Password;
    EditPassword->setEchoMode(echo);
    EditConfirm->setEchoMode(echo);
}

void TFormPassword::ButtonOKClick()
{
    const char *refusal = nullptr;
    if (EditPassword->text().isEmpty())
        refusal = "The password must not be empty.";
    else if (mode_ == Mode::New && EditPassword->text() != EditConfirm->text())
        refusal = "The passwords do not match.";
    if (refusal) {
        // Typing again starts from empty fields; nothing typed stays behind.
        WipeFields();
        EditPassword->setFocus();
        UI().ShowMessage(refusal);
        return;
    }
    TakeText(EditPassword, &Password);
    WipeFields();
    done(mrOk);
}

void TFormPassword::ButtonCancelClick() { reject(); }

void TFormPassword::reject()
{
    WipeFields();
    done(mrCancel);
}

void TFormPassword::WipeFields()
{
    TakeText(EditPassword, nullptr);
    TakeText(EditConfirm, nullptr);
}

void TFormPassword::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    EditPassword->setFocus();
    look::CentreOnScreen(this);
}

} // namespace pellux
