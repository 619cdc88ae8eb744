#pragma once
// The startup chooser: four actions offered once after the main window appears when
// the program was started without an argument. The main window places it, runs it
// modally, reads the four flags and carries the choice out.
#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace pellux {

class TFormStartup : public QDialog {
    Q_OBJECT
public:
    explicit TFormStartup(QWidget *parent = nullptr);

    // After the window has closed exactly one of them is true.
    bool ChoseNew = false;
    bool ChoseOpen = false;
    bool ChoseExit = false;
    bool ChoseIgnore = false;

    void ClearChoice();
    // Each clears the choice, sets its own flag and closes the window.
    void ButtonNewClick();
    void ButtonOpenClick();
    void ButtonCloseClick();
    void ButtonExitClick();

    QFrame *Panel1;
    QLabel *Label3;
    QPushButton *ButtonNew;
    QLabel *Label1;
    QPushButton *ButtonOpen;
    QLabel *Label2;
    QPushButton *ButtonClose;
    QLabel *Label4;
    QPushButton *ButtonExit;
    QLabel *Label5;

    void done(int result) override;

protected:
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Choose(bool TFormStartup::*field);
    void FormActivate();
    void FormClose();
};

} // namespace pellux
