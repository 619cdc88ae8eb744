#pragma once
// The one door through which Pellux talks to the person at the screen: plain messages,
// Yes/No confirmations, error boxes and the beep. The desktop build installs a
// message-box implementation; tests install a scripted one; the command-line tool
// writes the texts to stderr. Every text is UTF-8; every box is titled "Pellux" unless
// its caller names another title.
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pellux {

// What a file dialog is asked to do. The options are recorded as the window asked for
// them; where the desktop's dialog has no counterpart (share-aware, the read-only
// check box) an implementation leaves them out.
struct FileDialogRequest {
    enum class Kind { Open, OpenMany, Save };
    Kind Mode = Kind::Open;
    std::string Title;
    // Each entry: the name the dialog shows and its pattern ("ZIP Files (*.ZIP)", "*.zip").
    std::vector<std::pair<std::string, std::string>> Filters;
    std::string InitialDir;
    std::string FileName;
    bool FileMustExist = false;
    bool PathMustExist = false;
    bool ShareAware = false;
    bool ShowReadOnly = false;
    bool OverwritePrompt = false;
};

inline constexpr const char *kAppTitle = "Pellux";

class UserInteraction {
public:
    virtual ~UserInteraction() = default;
    // A plain message box: text and OK.
    virtual void ShowMessage(const std::string &text) = 0;
    // What an archive's reader found wrong with it, one line each: one message box.
    virtual void ShowWarnings(const std::vector<std::string> &lines);
    // A question box with Yes and No; true only for Yes.
    bool Confirm(const std::string &text) { return Confirm(text, kAppTitle); }
    virtual bool Confirm(const std::string &text, const std::string &title) = 0;
    // The error box of the general error report (error icon, OK).
    virtual void ShowError(const std::string &text) = 0;
    virtual void Beep() = 0;
    // Runs a file dialog: the chosen paths, none when the user cancelled.
    virtual std::vector<std::string> ChooseFiles(const FileDialogRequest &request) = 0;
};

// Writes every text to stderr, one per line; answers No to every question and cancels
// every file dialog.
class StderrInteraction : public UserInteraction {
public:
    void ShowMessage(const std::string &text) override;
    // One line per warning, each beginning with "warning: ".
    void ShowWarnings(const std::vector<std::string> &lines) override;
    using UserInteraction::Confirm;
    bool Confirm(const std::string &text, const std::string &title) override;
    void ShowError(const std::string &text) override;
    void Beep() override {}
    std::vector<std::string> ChooseFiles(const FileDialogRequest &) override { return {}; }
};

// The service in force. Until one is installed, a StderrInteraction answers.
UserInteraction &UI();
// Installs a service and returns the previous one (nullptr for the built-in default).
std::unique_ptr<UserInteraction> SetUserInteraction(std::unique_ptr<UserInteraction> service);

} // namespace pellux
