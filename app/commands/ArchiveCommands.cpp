#include "app/commands/ArchiveCommands.h"

#include "dialogs/ModalResult.h"
#include "util/KqStringUtil.h"

#include <algorithm>
#include <exception>
#include <filesystem>

namespace pellux {

namespace fs = std::filesystem;

namespace {

std::string AsciiLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

bool IsExistingFile(const std::string &name)
{
    std::error_code error;
    return fs::exists(name, error) && !fs::is_directory(name, error);
}

} // namespace

bool EndsInExe(const std::string &name)
{
    return AsciiLower(name.size() > 4 ? name.substr(name.size() - 4) : name) == ".exe";
}

std::string CompleteZipName(const std::string &name)
{
    return AsciiLower(name).find(".zip") != std::string::npos ? name : name + ".zip";
}

std::string ArchivePath(const std::string &name)
{
    if (name.empty() || name.front() == '/')
        return name;
    std::error_code error;
    const fs::path absolute = fs::absolute(name, error);
    return error ? name : absolute.string();
}

ArchiveCommands::ArchiveCommands(TZipEngine &Engine, CommandHost &Host) : engine_(Engine), host_(Host)
{
    OpenDialogFiles.Mode = FileDialogRequest::Kind::OpenMany;
    OpenDialogFiles.Title = "Add file(s) to ZIP archive";
    OpenDialogFiles.Filters = {{"All files (*)", "*"}};
    OpenDialogFiles.FileMustExist = true;
    OpenDialogFiles.PathMustExist = true;
}

void ArchiveCommands::OpenZipFile(const std::string &FileName)
{
    engine_.SetZipFilename(ArchivePath(FileName));
    host_.SetStatusText(FileName);
}

void ArchiveCommands::ShowNoArchiveMessage()
{
    UI().ShowMessage("There is currently now ZIP file opened: \r"
                     "First open a zip archive with menu/Archive/open\r"
                     "or create a new zip archive with menu/Archive/new");
}

void ArchiveCommands::ShowNoAddToExeMessage()
{
    UI().ShowMessage("Can not add files to a self-extracting (.exe) archive");
}

bool ArchiveCommands::MayAddToArchive() const
{
    if (engine_.ZipFilename().empty()) {
        ShowNoArchiveMessage();
        return false;
    }
    if (EndsInExe(engine_.ZipFilename())) {
        ShowNoAddToExeMessage();
        return false;
    }
    return true;
}

void ArchiveCommands::OpenArchive()
{
    OpenDialogZip.Mode = FileDialogRequest::Kind::Open;
    OpenDialogZip.Title = "Open ZIP archive";
    OpenDialogZip.Filters = {{"ZIP Files (*.ZIP)", "*.zip"}, {"Exe files (*.exe)", "*.exe"}};
    OpenDialogZip.PathMustExist = true;
    OpenDialogZip.FileMustExist = true;
    OpenDialogZip.ShareAware = true;
    OpenDialogZip.ShowReadOnly = true;
    const auto chosen = UI().ChooseFiles(OpenDialogZip);
    if (chosen.empty())
        return;
    OpenDialogZip.FileName = chosen.front();
    const auto busy = Busy("Loading ZIP file");
    OpenZipFile(chosen.front());
}

void ArchiveCommands::NewArchive()
{
    auto &dialog = SaveDialogNewZipArchive;
    dialog.Mode = FileDialogRequest::Kind::Save;
    dialog.Title = "Save new ZIP archive as...";
    dialog.Filters = {{"ZIP Files (*.ZIP)", "*.zip"}};
    dialog.ShowReadOnly = false;
    dialog.ShareAware = true;
    dialog.PathMustExist = false;
    dialog.FileMustExist = false;
    dialog.OverwritePrompt = false;
    const auto chosen = UI().ChooseFiles(dialog);
    if (chosen.empty())
        return;
    const std::string name = CompleteZipName(chosen.front());
    dialog.FileName = name;
    if (IsExistingFile(name)) {
        if (!UI().Confirm("Overwrite Existing File: " + name + "?"))
            return;
        std::error_code ignored; // a file that stays is read as the new archive
        fs::remove(name, ignored);
    }
    host_.SetStatusText(name);
    // No file yet: the component lists nothing, and the first add creates it.
    engine_.SetZipFilename(ArchivePath(name));
}

void ArchiveCommands::CloseArchive() { engine_.SetZipFilename(""); }

void ArchiveCommands::MakeSelfExtractingArchive() { host_.RunSelfExtractingWizard(engine_.ZipFilename()); }

void ArchiveCommands::Exit() { host_.CloseWindow(); }

void ArchiveCommands::About() { host_.ShowAboutBox(); }

void ArchiveCommands::AddFiles()
{
    if (!MayAddToArchive())
        return;
    const auto chosen = UI().ChooseFiles(OpenDialogFiles);
    if (chosen.empty())
        return;
    OpenDialogFiles.FileName = chosen.front();
    const auto busy = Busy("Adding files to zip archive");
    // Names left behind by an unconfirmed delete must not be added with the files.
    engine_.FSpecArgs = chosen;
    // AddOptions stay as the last add-directory left them.
    engine_.Add();
    host_.RefreshListing();
}

void ArchiveCommands::AddDirectory()
{
    if (!MayAddToArchive())
        return;
    std::string directory;
    if (host_.ChooseDirectory(directory, "Add directory to archive", false) != mrOk)
        return;
    const auto busy = Busy("Adding directory to ZIP archive");
    engine_.AddOptions = {AddDirNames, AddRecurseDirs};
    engine_.FSpecArgs = {directory};
    engine_.Add();
    host_.RefreshListing();
}

void ArchiveCommands::DeleteSelected()
{
    if (LowerExtension(engine_.ZipFilename()) == ".exe") {
        UI().ShowMessage("Error: can not delete files from a self-extracting archive.");
        return;
    }
    engine_.FSpecArgs = host_.SelectedEntryNames();
    if (engine_.FSpecArgs.empty()) {
        UI().Beep();
        UI().ShowMessage("no files selected to delete");
        return;
    }
    if (!UI().Confirm("Are you sure you want to delete the selected files?"))
        return;
    const auto busy = Busy("Removing files from ZIP archive");
    engine_.Delete();
    host_.RefreshListing();
}

void ArchiveCommands::ExtractFiles(bool All)
{
    const std::string caption = All ? "Extract all file(s) to directory.." : "Extract selected file(s) to directory..";
    if (host_.ChooseDirectory(ExtractDir, caption, true) != mrOk)
        return;
    engine_.FSpecArgs.clear();
    // With nothing selected the empty list asks for every entry, as for All.
    if (!All)
        engine_.FSpecArgs = host_.SelectedEntryNames();
    engine_.ExtrBaseDir = ExtractDir;
    engine_.Verbose = true;
    engine_.Trace = false;
    engine_.ExtrOptions = {ExtrDirNames};
    if (host_.OverwriteExisting())
        engine_.ExtrOptions.Include(ExtrOverWrite);
    try {
        const auto busy = Busy("Extracting files");
        engine_.Extract();
    } catch (const std::exception &error) {
        // The busy display has ended by now: the box is not covered by it.
        UI().ShowMessage(std::string("Error extracting: ") + error.what());
    }
    UI().ShowMessage(std::to_string(engine_.ProcessedCount) + " files were extracted");
}

} // namespace pellux
