#pragma once
// The wizard that turns a ZIP archive into a self-extracting program: page 1 asks for
// the archive, page 2 for the directory to put the program into; "&Finish" starts the
// converter zip2exe from the program's own directory and closes the wizard.
#include "platform/UserInteraction.h"

#include <QDialog>

#include <cstdint>
#include <string>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace pellux {

// Builds a fresh wizard with InputFile in its first field, runs it and destroys it.
void ExecuteWizSelfExtracting(const std::string &InputFile);

class TFormWizSelfExtracting : public QDialog {
    Q_OBJECT
public:
    TFormWizSelfExtracting();

    QFrame *Panel1;
    QPushButton *ButtonCancel;
    QPushButton *ButtonPrevious;
    QPushButton *ButtonNext;
    QStackedWidget *PageControl;
    QWidget *TabStep1;
    QLabel *Label2;
    QLineEdit *EditInputFile;
    QPushButton *ButtonInputFile;
    QWidget *TabStep2;
    QLabel *Label1;
    QLineEdit *EditOutputDir;
    QPushButton *ButtonOutputdir;
    // The file-open dialog behind "...", as ButtonInputFileClick prepares it.
    FileDialogRequest OpenDialogZip;

    void SetInputFile(const std::string &F);

    void FormCreate();
    void ButtonNextClick();
    void ButtonPreviousClick();
    void ButtonCancelClick();
    void ButtonInputFileClick();
    void ButtonOutputdirClick();

    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void SetOutputDir(std::string D);
    void RunZip2Exe();
    void ShowStep(std::uint8_t step);
    void Refuse(const std::string &message);

    std::uint8_t Step = 1;
    std::string InputFile;
    // InputFile made absolute when it was accepted: the directory chooser may change
    // the current directory before the converter starts.
    std::string InputPath;
    std::string OutputDir;
};

} // namespace pellux
