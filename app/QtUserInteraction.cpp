#include "app/QtUserInteraction.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
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

int ShowBox(QMessageBox::Icon icon, const std::string &text, QMessageBox::StandardButtons buttons,
            const std::string &title = kAppTitle)
{
    QMessageBox box(icon, QString::fromStdString(title), BoxText(text), buttons, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText); // names in messages are never markup
    return box.exec();
}
QString FromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Qt reads a filter's patterns from its last parentheses: a name that already shows its
// pattern ("ZIP Files (*.ZIP)") stands alone, others get theirs appended. Patterns match
// regardless of case, as the names are meant.
QString QtFilters(const FileDialogRequest &request)
{
    QStringList filters;
    for (const auto &[name, pattern] : request.Filters) {
        const QString shown = FromUtf8(name);
        const QString patterns = QLatin1Char('(') + FromUtf8(pattern) + QLatin1Char(')');
        filters << (shown.endsWith(patterns, Qt::CaseInsensitive) ? shown : shown + QLatin1Char(' ') + patterns);
    }
    return filters.join(QStringLiteral(";;"));
}
} // namespace

std::vector<std::string> QtUserInteraction::ChooseFiles(const FileDialogRequest &request)
{
    QString start = FromUtf8(request.InitialDir);
    if (!request.FileName.empty())
        start = start.isEmpty() ? FromUtf8(request.FileName) : QDir(start).filePath(FromUtf8(request.FileName));
    QFileDialog::Options options;
    if (request.Mode == FileDialogRequest::Kind::Save && !request.OverwritePrompt)
        options |= QFileDialog::DontConfirmOverwrite;
    QWidget *parent = QApplication::activeWindow();
    const QString title = FromUtf8(request.Title);
    const QString filters = QtFilters(request);
    QStringList chosen;
    switch (request.Mode) {
    case FileDialogRequest::Kind::Open:
        chosen << QFileDialog::getOpenFileName(parent, title, start, filters, nullptr, options);
        break;
    case FileDialogRequest::Kind::OpenMany:
        chosen = QFileDialog::getOpenFileNames(parent, title, start, filters, nullptr, options);
        break;
    case FileDialogRequest::Kind::Save:
        chosen << QFileDialog::getSaveFileName(parent, title, start, filters, nullptr, options);
        break;
    }
    std::vector<std::string> paths;
    for (const QString &path : chosen) {
        if (!path.isEmpty())
            paths.push_back(path.toStdString());
    }
    return paths;
}

void QtUserInteraction::ShowMessage(const std::string &text) { ShowBox(QMessageBox::NoIcon, text, QMessageBox::Ok); }

bool QtUserInteraction::Confirm(const std::string &text, const std::string &title)
{
    return ShowBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, title) == QMessageBox::Yes;
}

void QtUserInteraction::ShowError(const std::string &text) { ShowBox(QMessageBox::Critical, text, QMessageBox::Ok); }

void QtUserInteraction::Beep() { QApplication::beep(); }

} // namespace pellux
