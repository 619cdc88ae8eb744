#pragma once
// The work behind the main window's menu and tool buttons, without a widget: each
// command checks its guards, asks through the user-interaction service or the host,
// fills the archive component's names and options and runs one operation.
#include "platform/UserInteraction.h"
#include "zip/ZipEngine.h"

#include <memory>
#include <string>
#include <vector>

namespace pellux {

// Held for the length of long work; what the user sees meanwhile (hourglass, status
// window) ends when it is destroyed, also when the work raises.
class BusyGuard {
public:
    virtual ~BusyGuard() = default;
};

// What the commands need of the window that runs them.
class CommandHost {
public:
    virtual ~CommandHost() = default;
    // The directory chooser: as ExecuteDirBox, Directory in and out; mrOk or mrCancel.
    virtual int ChooseDirectory(std::string &Directory, const std::string &Caption, bool AllowCreateDir) = 0;
    virtual void RunSelfExtractingWizard(const std::string &InputFile) = 0;
    virtual void ShowAboutBox() = 0;
    // The exact stored names of the selected rows, in list order.
    virtual std::vector<std::string> SelectedEntryNames() const = 0;
    // "Overwrite existing files" is ticked.
    virtual bool OverwriteExisting() const = 0;
    // Starts the busy display with a status text for the work Engine is about to do;
    // a display that follows the work hooks Engine's events here.
    virtual std::unique_ptr<BusyGuard> BeginBusy(TZipEngine &Engine, const std::string &Text) = 0;
    // Rebuilds the listing from the component's entries.
    virtual void RefreshListing() = 0;
    virtual void SetStatusText(const std::string &Text) = 0;
    virtual void CloseWindow() = 0;
};

// The last four characters (all of a shorter name), lower-cased, are ".exe".
bool EndsInExe(const std::string &name);
// A new archive's name: kept when ".zip" occurs anywhere in it (any case), else with
// ".zip" appended.
std::string CompleteZipName(const std::string &name);
// The name the component gets: relative names are made absolute against the current
// directory, which extraction and the directory chooser change later.
std::string ArchivePath(const std::string &name);

class ArchiveCommands {
public:
    ArchiveCommands(TZipEngine &Engine, CommandHost &Host);

    // Opens an archive by name; the status bar shows the name as given.
    void OpenZipFile(const std::string &FileName);

    void OpenArchive();
    void NewArchive();
    void CloseArchive();
    void MakeSelfExtractingArchive();
    void Exit();
    void AddFiles();
    void AddDirectory();
    void DeleteSelected();
    void ExtractFiles(bool All);
    void About();

    static void ShowNoArchiveMessage();
    static void ShowNoAddToExeMessage();

    // Where the next extract's chooser starts; the chooser's last directory, also
    // after a cancel.
    std::string ExtractDir;
    // The three file dialogs live as long as the window, so each offers its last name.
    FileDialogRequest OpenDialogZip;
    FileDialogRequest OpenDialogFiles;
    FileDialogRequest SaveDialogNewZipArchive;

private:
    // The two guards of the adding commands; false after showing the refusal.
    bool MayAddToArchive() const;
    std::unique_ptr<BusyGuard> Busy(const std::string &Text) { return host_.BeginBusy(engine_, Text); }

    TZipEngine &engine_;
    CommandHost &host_;
};

} // namespace pellux
