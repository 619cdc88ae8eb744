#pragma once
// The desktop's user-interaction service: Qt message boxes titled "Pellux".
#include "platform/UserInteraction.h"

namespace pellux {

class QtUserInteraction : public UserInteraction {
public:
    void ShowMessage(const std::string &text) override;
    bool Confirm(const std::string &text) override;
    void ShowError(const std::string &text) override;
    void Beep() override;
};

} // namespace pellux
