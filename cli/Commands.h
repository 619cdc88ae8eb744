#pragma once
#include <string>
#include <vector>

namespace pellux::cli {

// One run of a command: work runs under the general error report, which writes the
// text as the window's error box would show it and remembers that an error came.
class Session {
public:
    Session();
    ~Session();
    template <class F>
    void Run(F &&work);
    bool ErrorReported() const { return errorReported_; }
    int ExitCode() const { return errorReported_ ? 1 : 0; }
    // -q / --quiet: nothing is printed but errors (no summary, no warnings, no progress).
    bool Quiet() const { return quiet_; }
    void SetQuiet(bool quiet) { quiet_ = quiet; }

private:
    void Report(const std::exception &error);
    bool errorReported_ = false;
    bool quiet_ = false;
};

// Prints what was wrong (the argument named), then the usage, on stderr; returns 2.
// Without a reason given, the one recorded by SetUsageProblem, if any.
int UsageError(const std::string &why = {});
// Records why the arguments are wrong for the next UsageError; returns false.
bool SetUsageProblem(std::string why);
// "--password-file FILE" or "--password-file=FILE" at args[i]; steps i past its value.
bool PasswordFileOption(const std::vector<std::string> &args, std::size_t &i, std::string &file);
// "--name-encoding NAME" or "--name-encoding=NAME" at args[i]; steps i past its value.
bool NameEncodingOption(const std::vector<std::string> &args, std::size_t &i, std::string &name);
// False, with the message, when iconv does not know the encoding named.
bool KnownNameEncoding(const std::string &name);
int RunList(const std::vector<std::string> &args, Session &session);
int RunAdd(const std::vector<std::string> &args, Session &session);
int RunDelete(const std::vector<std::string> &args, Session &session);
int RunExtract(const std::vector<std::string> &args, Session &session);
int RunTest(const std::vector<std::string> &args, Session &session);

} // namespace pellux::cli

#include "platform/ErrorReport.h"

template <class F>
void pellux::cli::Session::Run(F &&work)
{
    pellux::Guarded(std::forward<F>(work));
}
