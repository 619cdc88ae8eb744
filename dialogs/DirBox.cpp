#include "dialogs/DirBox.h"

#include "dialogs/AppIcon.h"
#include "dialogs/Connect.h"
#include "dialogs/DialogCreateDir.h"
#include "dialogs/DialogLook.h"
#include "dialogs/DirectoryList.h"
#include "dialogs/DriveCombo.h"
#include "dialogs/ModalResult.h"
#include "platform/Exceptions.h"
#include "platform/InOutError.h"
#include "platform/ProgramPath.h"
#include "platform/Volumes.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace pellux {

using look::Place;

std::string EnsureBackslash(const std::string &S)
{
    if (S.empty() || S.back() == '/')
        return S;
    return S + '/';
}

namespace {
bool IsBlank(const std::string &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}
} // namespace

int ExecuteDirBox(std::string &Directory, const std::string &Caption, bool AllowCreateDir)
{
    auto box = std::make_unique<TFormDirBox>();
    box->GoToDirectory(Directory);
    box->AllowCreateDir = AllowCreateDir;
    if (!IsBlank(Caption))
        box->Title = Caption;
    const int result = box->exec() == mrOk ? mrOk : mrCancel;
    Directory = box->Directory;
    return result;
}

TFormDirBox::TFormDirBox() : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("FormDirBox"));
    setWindowIcon(AppIcon());

    LabelTitle3 = Place(new QLabel(this), "LabelTitle3", 8, 8, 289, 16);
    DirList = Place(new TDirectoryListBox(this), "DirList", 8, 26, 289, 151);
    Label1 = Place(new QLabel(QStringLiteral("Drive:"), this), "Label1", 8, 188, 36, 16);
    DriveCombo = Place(new TDriveComboBox(this), "DriveCombo", 48, 184, 249, 24);
    ButtonCreateDir = Place(new QPushButton(QStringLiteral("Create &Dir"), this), "ButtonCreateDir", 304, 26, 75, 25);
    ButtonCancel = Place(new QPushButton(QStringLiteral("&Cancel"), this), "ButtonCancel", 304, 58, 75, 25);
    ButtonOK = Place(new QPushButton(QStringLiteral("&OK"), this), "ButtonOK", 304, 183, 75, 25);
    DriveCombo->SetDirList(DirList);
    FitToFont();
    look::NoDefaultButtons(this);

    setTabOrder(DirList, DriveCombo);
    setTabOrder(DriveCombo, ButtonCancel);
    setTabOrder(ButtonCancel, ButtonOK);
    setTabOrder(ButtonOK, ButtonCreateDir);

    connect(DirList, &TDirectoryListBox::Changed, this, [this] { DirListChange(); });
    ConnectGuarded(DirList, &TDirectoryListBox::Exited, this, &TFormDirBox::DirListExit);
    ConnectGuarded(ButtonOK, &QPushButton::clicked, this, &TFormDirBox::ButtonOKClick);
    connect(ButtonCancel, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });
    ConnectGuarded(ButtonCreateDir, &QPushButton::clicked, this, &TFormDirBox::ButtonCreateDirClick);

    // FormCreate
    GoToDirectory({});
    Title = "Directory selection";
    Title3 = "Double-click a directory to expand it";
    AllowCreateDir = false;
}

// The stored layout suits a small font. A larger one widens "Drive:" at the cost of the
// drive selector beside it, and the button column, whose buttons stay one width.
void TFormDirBox::FitToFont()
{
    const int labelGrowth = look::FitText(Label1);
    DriveCombo->setGeometry(DriveCombo->geometry().adjusted(labelGrowth, 0, 0, 0));
    int buttonWidth = ButtonOK->width();
    for (const QPushButton *button : {ButtonCreateDir, ButtonCancel, ButtonOK})
        buttonWidth = std::max(buttonWidth, look::TextWidth(button));
    for (QPushButton *button : {ButtonCreateDir, ButtonCancel, ButtonOK})
        button->resize(buttonWidth, button->height());
}

TFormDirBox::~TFormDirBox()
{
    // Destroyed while still shown: the handler must not outlive the window.
    FormHide();
}

void TFormDirBox::GoToDirectory(std::string Dir)
{
    if (Dir.empty())
        Dir = EnsureBackslash(DirectoryPart(ProgramFilePath()));
    Directory = Dir;
    DriveCombo->SetDrive(VolumeRootOf(Dir));
    DirList->SetDirectory(Dir);
}

void TFormDirBox::FormShow()
{
    setWindowTitle(QString::fromStdString(Title));
    LabelTitle3->setText(QString::fromStdString(Title3));
    // A long line may reach over the button column, which starts below it.
    look::FitText(LabelTitle3);
    if (!handlerSwapped_) {
        SavedOnException = SetErrorHandler([this](const std::exception &E) { HandleAppException(E); });
        handlerSwapped_ = true;
    }
    ButtonCreateDir->setEnabled(AllowCreateDir);
    setFixedSize(ButtonOK->x() + ButtonOK->width() + 10, ButtonOK->y() + ButtonOK->height() + 7);
    DirList->setFocus();
}

void TFormDirBox::FormHide()
{
    if (!handlerSwapped_)
        return;
    SetErrorHandler(std::move(SavedOnException));
    SavedOnException = nullptr;
    handlerSwapped_ = false;
}

void TFormDirBox::DirListChange() { Directory = DirList->Directory(); }

// A directory only highlighted with one click counts once the list loses the focus,
// i.e. as soon as the user clicks one of the buttons.
void TFormDirBox::DirListExit() { DirList->OpenCurrent(); }

void TFormDirBox::ButtonOKClick()
{
    Directory = EnsureBackslash(DirList->Directory());
    done(mrOk);
}

void TFormDirBox::ButtonCancelClick() { done(mrCancel); }

void TFormDirBox::reject() { done(mrCancel); }

void TFormDirBox::ButtonCreateDirClick()
{
    auto create = std::make_unique<TFormCreateDirectory>(this);
    create->Directory = Directory;
    if (create->exec() == mrOk) {
        GoToDirectory(create->Directory);
        DirList->SetDirectory(create->Directory);
        DirList->update();
    }
}

void TFormDirBox::HandleAppException(const std::exception &E)
{
    const auto *io = dynamic_cast<const EInOutError *>(&E);
    if (!io || io->ErrorCode != ENOMEDIUM) {
        ShowErrorBox(E);
        return;
    }
    const Exception notReady("Drive:  " + DriveCombo->Drive() + " not ready.");
    std::string fallbackError;
    try {
        DriveCombo->SetDrive(kFallbackDrive);
    } catch (const std::exception &error) {
        fallbackError = error.what();
    }
    // Both controls repaint before the message covers them.
    QCoreApplication::processEvents();
    ShowErrorBox(notReady);
    if (!fallbackError.empty())
        ShowErrorBox(Exception(fallbackError));
}

void TFormDirBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    FormShow();
    look::CentreOnScreen(this);
}

void TFormDirBox::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        FormHide();
}

void TFormDirBox::keyPressEvent(QKeyEvent *event)
{
    // No button answers Escape; Enter acts only through the focused control.
    if (!look::SwallowEscape(event))
        QDialog::keyPressEvent(event);
}

} // namespace pellux
