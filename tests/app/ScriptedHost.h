#pragma once
// Stands in for the main window under the commands: answers the directory chooser
// from a queue and records what the commands asked of the window, in order.
#include "app/commands/ArchiveCommands.h"
#include "dialogs/ModalResult.h"

#include <deque>
#include <string>
#include <vector>

namespace pellux::test {

class ScriptedHost : public CommandHost {
public:
    struct DirAnswer {
        int Result;
        std::string Directory; // where the chooser ends, written back also on a cancel
    };
    struct DirRequest {
        std::string Start, Caption;
        bool AllowCreateDir;
    };

    std::deque<DirAnswer> DirAnswers; // cancelled where the user started when empty
    std::vector<DirRequest> DirRequests;
    std::vector<std::string> Selected;
    bool Overwrite = false;
    bool Busy = false;
    // "busy:<text>", "idle", "refresh", "status:<text>", "wizard:<file>", "about", "close"
    std::vector<std::string> Events;

    int ChooseDirectory(std::string &Directory, const std::string &Caption, bool AllowCreateDir) override
    {
        DirRequests.push_back({Directory, Caption, AllowCreateDir});
        if (DirAnswers.empty())
            return mrCancel;
        const DirAnswer answer = DirAnswers.front();
        DirAnswers.pop_front();
        Directory = answer.Directory;
        return answer.Result;
    }
    void RunSelfExtractingWizard(const std::string &InputFile) override { Events.push_back("wizard:" + InputFile); }
    void ShowAboutBox() override { Events.push_back("about"); }
    std::vector<std::string> SelectedEntryNames() const override { return Selected; }
    bool OverwriteExisting() const override { return Overwrite; }
    std::unique_ptr<BusyGuard> BeginBusy(TZipEngine &, const std::string &Text) override
    {
        Events.push_back("busy:" + Text);
        return std::make_unique<Guard>(*this);
    }
    void RefreshListing() override { Events.push_back(Busy ? "refresh" : "refresh outside busy"); }
    void SetStatusText(const std::string &Text) override { Events.push_back("status:" + Text); }
    void CloseWindow() override { Events.push_back("close"); }

private:
    struct Guard : BusyGuard {
        explicit Guard(ScriptedHost &host) : host_(host) { host_.Busy = true; }
        ~Guard() override
        {
            host_.Busy = false;
            host_.Events.push_back("idle");
        }
        ScriptedHost &host_;
    };
};

} // namespace pellux::test
