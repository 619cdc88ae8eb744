#pragma once
// Asks for a password: the one that opens an encrypted entry, or, typed twice, the one
// that entries added from now on are encrypted with. The typed text leaves the fields
// as soon as it is read; the answer is held only in a Secret.
#include "util/Secret.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pellux {

// Entry: the entry's name as the library gave it; Again: the passwords given so far do
// not open it. True with Password set after "&OK", false after a cancel.
bool ExecutePassword(const std::string &Entry, bool Again, Secret &Password);
// The password for adding, asked twice. True with Password set after "&OK".
bool ExecuteNewPassword(Secret &Password);

class TFormPassword : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Open, New };
    explicit TFormPassword(Mode mode, QWidget *parent = nullptr);
    ~TFormPassword() override;

    // Open mode: names the entry in the label, and says the last password failed.
    void SetEntry(const std::string &Entry, bool Again);

    // After "&OK": what was typed. The fields are empty by then.
    Secret Password;

    QLabel *LabelAgain; // open mode, shown only when asked again
    QLabel *LabelPassword;
    QLineEdit *EditPassword;
    QLabel *LabelConfirm;   // new mode only
    QLineEdit *EditConfirm; // new mode only
    QCheckBox *CheckShowPassword;
    QPushButton *ButtonCancel;
    QPushButton *ButtonOK;

    void ButtonOKClick();
    void ButtonCancelClick();
    void CheckShowPasswordClick();

    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Arrange();
    void WipeFields();

    Mode mode_;
};

} // namespace pellux
