#pragma once
// Stands in for the person at the screen: records every text shown and answers
// confirmations and file dialogs from queues (No, or cancel, when a queue is empty).
#include "platform/UserInteraction.h"

#include <deque>
#include <string>
#include <vector>

namespace pellux::test {

struct ScriptedLog {
    std::vector<std::string> Messages;
    std::vector<std::string> Warnings; // an archive reader's, one line each
    std::vector<std::string> Errors;
    std::vector<std::string> Confirmations;
    std::vector<std::string> ConfirmationTitles;
    int Beeps = 0;
    std::deque<bool> Answers;
    std::vector<FileDialogRequest> FileDialogs;
    // The paths each file dialog returns in turn; cancelled when the queue is empty.
    std::deque<std::vector<std::string>> Chosen;
    void Clear() { *this = ScriptedLog{}; }
};

class ScriptedInteraction : public UserInteraction {
public:
    explicit ScriptedInteraction(ScriptedLog &log) : log_(log) {}
    void ShowMessage(const std::string &text) override { log_.Messages.push_back(text); }
    void ShowWarnings(const std::vector<std::string> &lines) override
    {
        log_.Warnings.insert(log_.Warnings.end(), lines.begin(), lines.end());
    }
    using UserInteraction::Confirm;
    bool Confirm(const std::string &text, const std::string &title) override
    {
        log_.Confirmations.push_back(text);
        log_.ConfirmationTitles.push_back(title);
        if (log_.Answers.empty())
            return false;
        const bool answer = log_.Answers.front();
        log_.Answers.pop_front();
        return answer;
    }
    void ShowError(const std::string &text) override { log_.Errors.push_back(text); }
    void Beep() override { ++log_.Beeps; }
    std::vector<std::string> ChooseFiles(const FileDialogRequest &request) override
    {
        log_.FileDialogs.push_back(request);
        if (log_.Chosen.empty())
            return {};
        auto chosen = std::move(log_.Chosen.front());
        log_.Chosen.pop_front();
        return chosen;
    }

private:
    ScriptedLog &log_;
};

// Installs a scripted service for the lifetime of a test and restores the previous one.
class ScopedScriptedInteraction {
public:
    ScopedScriptedInteraction() : previous_(SetUserInteraction(std::make_unique<ScriptedInteraction>(Log))) {}
    ~ScopedScriptedInteraction() { SetUserInteraction(std::move(previous_)); }
    ScriptedLog Log;

private:
    std::unique_ptr<UserInteraction> previous_;
};

} // namespace pellux::test
