#pragma once
// The about box: borderless, always on top, centred on the screen each time it opens.
#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace pellux {

class TFAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFAbout(QWidget *parent = nullptr);

    QFrame *Panel2;
    QFrame *Panel1;
    QLabel *ProgramIcon;
    QLabel *ProductName;
    QLabel *Version;
    QLabel *Label2;
    QLabel *Label3; // who created the program
    QLabel *Label4; // the maker
    QLabel *Label5; // country and year
    QLabel *Label6; // web address
    QLabel *Label7; // e-mail address
    QPushButton *OKButton;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void OKButtonClick();
};

// Shows the about box modally and destroys it.
void ShowAbout();

} // namespace pellux
