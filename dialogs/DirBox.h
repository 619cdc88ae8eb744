#pragma once
// The directory chooser, the one place where the program asks for a directory.
// Callers use ExecuteDirBox, which builds a fresh chooser, runs it and destroys it.
#include "platform/ErrorReport.h"

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;

namespace pellux {

class TDirectoryListBox;
class TDriveComboBox;

// S unchanged when empty or already ending in '/', else S + "/". No trimming.
std::string EnsureBackslash(const std::string &S);

// Directory: in, the directory to start in ("" = the program's own directory); out,
// always, the chooser's directory: with a trailing '/' after "&OK", the directory last
// shown after a cancel. Caption: the title unless blank. Returns mrOk or mrCancel.
// Raises the input/output error when the start directory cannot be entered; Directory
// is then left alone.
int ExecuteDirBox(std::string &Directory, const std::string &Caption, bool AllowCreateDir);

class TFormDirBox : public QDialog {
    Q_OBJECT
public:
    TFormDirBox();
    ~TFormDirBox() override;

    std::string Directory;
    std::string Title;
    std::string Title3;
    bool AllowCreateDir = false;

    QLabel *LabelTitle3;
    TDirectoryListBox *DirList;
    QLabel *Label1;
    TDriveComboBox *DriveCombo;
    QPushButton *ButtonCreateDir;
    QPushButton *ButtonCancel;
    QPushButton *ButtonOK;

    void GoToDirectory(std::string Dir);

    void ButtonOKClick();
    void ButtonCancelClick();
    void ButtonCreateDirClick();

    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FitToFont();
    void FormShow();
    void FormHide();
    void DirListChange();
    void DirListExit();
    void HandleAppException(const std::exception &E);

    ErrorHandler SavedOnException;
    bool handlerSwapped_ = false;
};

} // namespace pellux
