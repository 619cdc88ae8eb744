#pragma once
// The general error report. Every event handler runs inside Guarded(); an exception
// that escapes the handler ends that handler only and goes to the error handler in
// force. The default handler shows the text in the error box with the "." rule.
// No exception ever unwinds through the GUI toolkit's event loop.
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace pellux {

using ErrorHandler = std::function<void(const std::exception &)>;

// A "." is appended when the text's last character sorts after ".".
std::string WithFinalDot(const std::string &text);

// The default handler: UI().ShowError(WithFinalDot(e.what())).
void ShowErrorBox(const std::exception &error);

// Swaps the application's error handler (an empty handler restores the default);
// returns the previous one.
ErrorHandler SetErrorHandler(ErrorHandler handler);
void ReportError(const std::exception &error);

template <class F>
void Guarded(F &&work) noexcept
{
    try {
        work();
    } catch (const std::exception &error) {
        ReportError(error);
    } catch (...) {
        ReportError(std::runtime_error("Unknown error"));
    }
}

// Keeps an error handler in force for the lifetime of the guard, then restores the
// previous one, also when the scope is left by an exception.
class ScopedErrorHandler {
public:
    explicit ScopedErrorHandler(ErrorHandler handler) : previous_(SetErrorHandler(std::move(handler))) {}
    ~ScopedErrorHandler() { SetErrorHandler(std::move(previous_)); }
    ScopedErrorHandler(const ScopedErrorHandler &) = delete;
    ScopedErrorHandler &operator=(const ScopedErrorHandler &) = delete;

private:
    ErrorHandler previous_;
};

} // namespace pellux
