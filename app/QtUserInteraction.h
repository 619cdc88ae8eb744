#pragma once
// The desktop's user-interaction service: Qt message boxes (titled "Pellux" unless told) and
// the desktop's file dialogs.
#include "platform/UserInteraction.h"

namespace pellux {

class QtUserInteraction : public UserInteraction {
public:
    void ShowMessage(const std::string &text) override;
    using UserInteraction::Confirm;
    bool Confirm(const std::string &text, const std::string &title) override;
    void ShowError(const std::string &text) override;
    void Beep() override;
    std::vector<std::string> ChooseFiles(const FileDialogRequest &request) override;
};

} // namespace pellux
