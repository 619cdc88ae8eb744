#include "app/QtUserInteraction.h"

#include <QApplication>
#include <QMessageBox>

namespace pellux {

namespace {
int ShowBox(QMessageBox::Icon icon, const std::string &text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, QString::fromUtf8(kAppTitle), QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                    buttons, QApplication::activeWindow());
    return box.exec();
}
} // namespace

void QtUserInteraction::ShowMessage(const std::string &text) { ShowBox(QMessageBox::NoIcon, text, QMessageBox::Ok); }

bool QtUserInteraction::Confirm(const std::string &text)
{
    return ShowBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtUserInteraction::ShowError(const std::string &text) { ShowBox(QMessageBox::Critical, text, QMessageBox::Ok); }

void QtUserInteraction::Beep() { QApplication::beep(); }

} // namespace pellux
