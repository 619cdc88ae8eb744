#include "dialogs/WizSelfExtracting.h"

#include "dialogs/AppIcon.h"
#include "dialogs/Connect.h"
#include "dialogs/DialogLook.h"
#include "dialogs/DirBox.h"
#include "dialogs/ModalResult.h"
#include "platform/ProgramPath.h"
#include "util/KqStringUtil.h"
#include "util/Kq_FileSystem.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace pellux {

namespace {
QString Text(const std::string &s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string Bytes(const QString &s) { return s.toStdString(); }

bool IsFile(const std::string &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool IsDirectory(const std::string &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string Absolute(const std::string &path)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// One of the page's "..." buttons: small, with a bold 12-point label.
QPushButton *EllipsisButton(const char *name, QWidget *parent)
{
    auto *button = new QPushButton(QStringLiteral("..."), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(look::Font(12, true));
    button->setFixedSize(25, 21);
    return button;
}

QWidget *Page(const char *name, QLabel *&label, const char *labelName, const char *text, QLineEdit *&edit,
              const char *editName, QPushButton *&button, const char *buttonName)
{
    auto *page = new QWidget;
    page->setObjectName(QString::fromLatin1(name));
    label = new QLabel(QString::fromUtf8(text), page);
    label->setObjectName(QString::fromLatin1(labelName));
    label->setWordWrap(true);
    edit = new QLineEdit(page);
    edit->setObjectName(QString::fromLatin1(editName));
    button = EllipsisButton(buttonName, page);
    auto *grid = new QGridLayout(page);
    grid->setContentsMargins(16, 16, 16, 8);
    grid->setVerticalSpacing(12);
    grid->addWidget(label, 0, 0, 1, 2);
    grid->addWidget(edit, 1, 0);
    grid->addWidget(button, 1, 1);
    grid->setRowStretch(2, 1);
    return page;
}
} // namespace

void ExecuteWizSelfExtracting(const std::string &InputFile)
{
    auto wizard = std::make_unique<TFormWizSelfExtracting>();
    wizard->SetInputFile(InputFile);
    wizard->exec();
}

TFormWizSelfExtracting::TFormWizSelfExtracting() : QDialog(nullptr, Qt::Dialog | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormWizSelfExtracting"));
    setWindowTitle(QStringLiteral("Create self extracting archive"));
    setWindowIcon(AppIcon());
    setSizeGripEnabled(true);
    resize(452, 255);

    PageControl = new QStackedWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    TabStep1 =
        Page("TabStep1", Label2, "Label2", "Select a ZIP file from which to create a self-extracting .exe archive",
             EditInputFile, "EditInputFile", ButtonInputFile, "ButtonInputFile");
    TabStep2 = Page("TabStep2", Label1, "Label1", "Select a directory into which to place the self-extracting archive",
                    EditOutputDir, "EditOutputDir", ButtonOutputdir, "ButtonOutputdir");
    // Page 2 works only with the directory chosen through "...".
    EditOutputDir->setReadOnly(true);
    PageControl->addWidget(TabStep1);
    PageControl->addWidget(TabStep2);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::NoFrame);
    Panel1->setFixedHeight(41);
    auto button = [this](const char *name, const char *text) {
        auto *widget = new QPushButton(QString::fromUtf8(text), Panel1);
        widget->setObjectName(QString::fromLatin1(name));
        widget->setMinimumSize(75, 25);
        return widget;
    };
    ButtonCancel = button("ButtonCancel", "&Cancel");
    ButtonPrevious = button("ButtonPrevious", "<< &Previous");
    ButtonNext = button("ButtonNext", "&Next >>");
    auto *strip = new QHBoxLayout(Panel1);
    strip->setContentsMargins(8, 8, 8, 8);
    strip->addWidget(ButtonCancel);
    strip->addStretch(1);
    strip->addWidget(ButtonPrevious);
    strip->addWidget(ButtonNext);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PageControl, 1);
    layout->addWidget(Panel1);

    setTabOrder(ButtonNext, ButtonCancel);
    setTabOrder(ButtonCancel, ButtonPrevious);
    setTabOrder(ButtonPrevious, ButtonInputFile);
    setTabOrder(ButtonInputFile, EditInputFile);
    setTabOrder(EditInputFile, ButtonOutputdir);
    setTabOrder(ButtonOutputdir, EditOutputDir);
    look::NoDefaultButtons(this);

    ConnectGuarded(ButtonNext, &QPushButton::clicked, this, &TFormWizSelfExtracting::ButtonNextClick);
    ConnectGuarded(ButtonPrevious, &QPushButton::clicked, this, &TFormWizSelfExtracting::ButtonPreviousClick);
    ConnectGuarded(ButtonCancel, &QPushButton::clicked, this, &TFormWizSelfExtracting::ButtonCancelClick);
    ConnectGuarded(ButtonInputFile, &QPushButton::clicked, this, &TFormWizSelfExtracting::ButtonInputFileClick);
    ConnectGuarded(ButtonOutputdir, &QPushButton::clicked, this, &TFormWizSelfExtracting::ButtonOutputdirClick);

    FormCreate();
    ButtonNext->setFocus();
}

void TFormWizSelfExtracting::FormCreate() { ShowStep(1); }

void TFormWizSelfExtracting::ShowStep(std::uint8_t step)
{
    Step = step;
    PageControl->setCurrentWidget(step == 1 ? TabStep1 : TabStep2);
    ButtonNext->setText(step == 1 ? QStringLiteral("&Next >>") : QStringLiteral("&Finish"));
    ButtonPrevious->setVisible(step == 2);
}

void TFormWizSelfExtracting::SetInputFile(const std::string &F)
{
    InputFile = F;
    EditInputFile->setText(Text(F));
}

void TFormWizSelfExtracting::SetOutputDir(std::string D)
{
    if (!D.empty() && D.back() != '/')
        D += '/';
    OutputDir = D;
    EditOutputDir->setText(Text(D));
}

void TFormWizSelfExtracting::Refuse(const std::string &message)
{
    UI().Beep();
    UI().ShowMessage(message);
}

void TFormWizSelfExtracting::ButtonInputFileClick()
{
    OpenDialogZip = FileDialogRequest{};
    OpenDialogZip.Title = "Open ZIP archive";
    OpenDialogZip.Filters = {{"ZIP Files (*.ZIP)", "*.zip"}};
    OpenDialogZip.FileMustExist = true;
    OpenDialogZip.PathMustExist = true;
    OpenDialogZip.ShareAware = true;
    OpenDialogZip.ShowReadOnly = true;
    const auto chosen = UI().ChooseFiles(OpenDialogZip);
    if (!chosen.empty())
        EditInputFile->setText(Text(chosen.front()));
}

void TFormWizSelfExtracting::ButtonOutputdirClick()
{
    std::string D = OutputDir;
    if (ExecuteDirBox(D, "Put extracting archive into directory...", true) == mrOk)
        SetOutputDir(D);
}

void TFormWizSelfExtracting::ButtonNextClick()
{
    if (Step == 1) {
        SetInputFile(Trim(Bytes(EditInputFile->text())));
        if (InputFile.empty())
            return Refuse("First select an input file");
        if (LowerExtension(InputFile) != ".zip")
            return Refuse("Can only select zip files");
        if (!IsFile(InputFile))
            return Refuse("Inputfile does not exist");
        InputPath = Absolute(InputFile);
        if (OutputDir.empty())
            SetOutputDir(DirectoryPart(InputPath));
        ShowStep(2);
        return;
    }
    if (Trim(OutputDir).empty())
        return Refuse("First select an output directory");
    if (!IsDirectory(OutputDir))
        return Refuse("Directory does not exist");
    if (::access((TKq_FileSystem::GetProgramDir() + "zip2exe").c_str(), X_OK) != 0)
        return Refuse("zip2exe not found");
    RunZip2Exe();
    done(mrOk);
}

void TFormWizSelfExtracting::RunZip2Exe()
{
    std::string C = TKq_FileSystem::GetShortPath(TKq_FileSystem::GetProgramDir() + "zip2exe");
    C += " " + TKq_FileSystem::GetShortPath(InputPath);
    C += " " + TKq_FileSystem::GetShortPath(Absolute(OutputDir));
    // The mark lets the converter show its outcome in a window; other runs use stderr alone.
    TKq_FileSystem::RunCommandLine(C, {"PELLUX_ZIP2EXE_WINDOW=1"});
}

void TFormWizSelfExtracting::ButtonPreviousClick()
{
    if (Step == 2)
        ShowStep(1);
}

void TFormWizSelfExtracting::ButtonCancelClick() { done(mrCancel); }

void TFormWizSelfExtracting::reject() { done(mrCancel); }

void TFormWizSelfExtracting::keyPressEvent(QKeyEvent *event)
{
    // No cancel button: Escape leaves the wizard open.
    if (!look::SwallowEscape(event))
        QDialog::keyPressEvent(event);
}

} // namespace pellux
