#pragma once
// Asks for the name of one new subdirectory of Directory and creates it. Only blanks,
// '-', '.', digits, '@', letters, '_' and '~' can be typed, so the name is always a
// single path component.
#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pellux {

class TFormCreateDirectory : public QDialog {
    Q_OBJECT
public:
    explicit TFormCreateDirectory(QWidget *parent = nullptr);

    // In: the parent directory. After a successful creation: the new directory's path.
    std::string Directory;

    QLabel *Label1;
    QLineEdit *EditDirectory;
    QPushButton *ButtonCancel;
    QPushButton *ButtonOK;

    static bool IsAllowedNameCharacter(char32_t c);

    void ButtonOKClick();
    void ButtonCancelClick();

    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FitToFont();
    bool EditDirectoryKeyPress(QKeyEvent *event);
};

} // namespace pellux
