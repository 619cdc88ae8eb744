#include "platform/ErrorReport.h"

#include "platform/UserInteraction.h"

namespace pellux {

namespace {
ErrorHandler &Current()
{
    static ErrorHandler handler;
    return handler;
}
} // namespace

std::string WithFinalDot(const std::string &text)
{
    // Compared as an unsigned byte, so any UTF-8 tail (>= 0x80) counts as after ".".
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        return text + '.';
    return text;
}

void ShowErrorBox(const std::exception &error) { UI().ShowError(WithFinalDot(error.what())); }

ErrorHandler SetErrorHandler(ErrorHandler handler)
{
    ErrorHandler previous = std::move(Current());
    Current() = std::move(handler);
    return previous;
}

void ReportError(const std::exception &error)
{
    // A handler that fails itself must not take the program down with it.
    try {
        if (Current())
            Current()(error);
        else
            ShowErrorBox(error);
    } catch (...) {
    }
}

} // namespace pellux
