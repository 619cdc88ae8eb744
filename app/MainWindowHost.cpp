#include "app/MainWindowHost.h"

#include "app/FMain.h"
#include "dialogs/About.h"
#include "dialogs/BusyProgress.h"
#include "dialogs/DirBox.h"
#include "dialogs/FStatus.h"
#include "dialogs/WizSelfExtracting.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QTreeView>

#include <algorithm>

namespace pellux {

WindowBusyGuard::WindowBusyGuard(const std::string &Text)
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        TFormStatus::ShowStatus("Pellux ", Text);
    } catch (...) {
        QGuiApplication::restoreOverrideCursor();
        throw;
    }
}

WindowBusyGuard::~WindowBusyGuard()
{
    QGuiApplication::restoreOverrideCursor();
    TFormStatus::HideStatus();
}

int MainWindowHost::ChooseDirectory(std::string &Directory, const std::string &Caption, bool AllowCreateDir)
{
    return ExecuteDirBox(Directory, Caption, AllowCreateDir);
}

void MainWindowHost::RunSelfExtractingWizard(const std::string &InputFile) { ExecuteWizSelfExtracting(InputFile); }

void MainWindowHost::ShowAboutBox() { ShowAbout(); }

std::vector<std::string> MainWindowHost::SelectedEntryNames() const
{
    QModelIndexList rows = window_.ListViewFiles->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(rows.size()));
    for (const QModelIndex &row : rows)
        names.push_back(window_.GetEntryName(row.row()));
    return names;
}

bool MainWindowHost::OverwriteExisting() const { return window_.CheckOverwrite->isChecked(); }

std::unique_ptr<BusyGuard> MainWindowHost::BeginBusy(TZipEngine &Engine, const std::string &Text)
{
    return std::make_unique<WithBusyProgress<WindowBusyGuard>>(Engine, Text);
}

void MainWindowHost::RefreshListing() { window_.FillFileList(); }

void MainWindowHost::SetStatusText(const std::string &Text) { window_.SetStatusText(Text); }

void MainWindowHost::CloseWindow() { window_.close(); }

} // namespace pellux
