#pragma once
// The desktop's user-interaction service: Qt message boxes titled "Pellux" and
// the desktop's file dialogs.
#include "platform/UserInteraction.h"

namespace pellux {

class QtUserInteraction : public UserInteraction {
public:
    void ShowMessage(const std::string &text) override;
    bool Confirm(const std::string &text) override;
    void ShowError(const std::string &text) override;
    void Beep() override;
    std::vector<std::string> ChooseFiles(const FileDialogRequest &request) override;
};

} // namespace pellux
