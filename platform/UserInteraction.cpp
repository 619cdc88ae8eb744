#include "platform/UserInteraction.h"

#include <cstdio>

namespace pellux {

namespace {
std::unique_ptr<UserInteraction> &Installed()
{
    static std::unique_ptr<UserInteraction> service;
    return service;
}

void WriteLine(const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
} // namespace

void UserInteraction::ShowWarnings(const std::vector<std::string> &lines)
{
    std::string text;
    for (const auto &line : lines)
        text += (text.empty() ? "" : "\n") + line;
    ShowMessage(text);
}

void StderrInteraction::ShowMessage(const std::string &text) { WriteLine(text); }

void StderrInteraction::ShowWarnings(const std::vector<std::string> &lines)
{
    for (const auto &line : lines)
        WriteLine("warning: " + line);
}

bool StderrInteraction::Confirm(const std::string &text, const std::string & /*title*/)
{
    WriteLine(text);
    return false;
}

void StderrInteraction::ShowError(const std::string &text) { WriteLine(text); }

UserInteraction &UI()
{
    static StderrInteraction fallback;
    auto &service = Installed();
    return service ? *service : static_cast<UserInteraction &>(fallback);
}

std::unique_ptr<UserInteraction> SetUserInteraction(std::unique_ptr<UserInteraction> service)
{
    auto previous = std::move(Installed());
    Installed() = std::move(service);
    return previous;
}

} // namespace pellux
