#include "app/QtUserInteraction.h"

#include <QApplication>
#include <QMessageBox>

namespace pellux {

namespace {
// Messages break lines with a carriage return ("Unable to create \r" + path); a
// message box breaks them only at a line feed.
QString BoxText(const std::string &text)
{
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

int ShowBox(QMessageBox::Icon icon, const std::string &text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, QString::fromUtf8(kAppTitle), BoxText(text), buttons, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText); // names in messages are never markup
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
