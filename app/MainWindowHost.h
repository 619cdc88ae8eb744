#pragma once
// The main window's side of the commands: the real dialogs, its selection, its check
// box, its status bar, and the hourglass with the status window around long work.
#include "app/commands/ArchiveCommands.h"

namespace pellux {

class TFormMainZip;

// The hourglass and the status window ("Pellux " and a text) from construction to
// destruction. The one place where long work is shown.
class WindowBusyGuard : public BusyGuard {
public:
    explicit WindowBusyGuard(const std::string &Text);
    ~WindowBusyGuard() override;
    WindowBusyGuard(const WindowBusyGuard &) = delete;
    WindowBusyGuard &operator=(const WindowBusyGuard &) = delete;
};

class MainWindowHost : public CommandHost {
public:
    explicit MainWindowHost(TFormMainZip &Window) : window_(Window) {}

    int ChooseDirectory(std::string &Directory, const std::string &Caption, bool AllowCreateDir) override;
    void RunSelfExtractingWizard(const std::string &InputFile) override;
    void ShowAboutBox() override;
    std::vector<std::string> SelectedEntryNames() const override;
    bool OverwriteExisting() const override;
    std::unique_ptr<BusyGuard> BeginBusy(TZipEngine &Engine, const std::string &Text) override;
    void RefreshListing() override;
    void SetStatusText(const std::string &Text) override;
    void CloseWindow() override;

private:
    TFormMainZip &window_;
};

} // namespace pellux
