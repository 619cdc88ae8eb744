// pellux-cli: a terminal front end over the archive component. It drives TZipEngine
// exactly as the main window does; message-box texts go to stderr, one per line.
#include "cli/Commands.h"

#include "platform/ErrorReport.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <stdlib.h>

namespace pellux::cli {

Session::Session()
{
    SetErrorHandler([this](const std::exception &error) { Report(error); });
}

Session::~Session() { SetErrorHandler({}); }

void Session::Report(const std::exception &error)
{
    errorReported_ = true;
    ShowErrorBox(error);
}

int UsageError()
{
    std::fputs("usage: pellux-cli list ARCHIVE [--password-file FILE]\n"
               "       pellux-cli add ARCHIVE [--dir-names] [--recurse] [--move] [--freshen] [--update]\n"
               "                      [--zip-time] [--force-dos] [--hidden] [--level N]\n"
               "                      [--encrypt] [--password-file FILE] PATH...\n"
               "       pellux-cli delete ARCHIVE NAME...\n"
               "       pellux-cli extract ARCHIVE [-d DIR] [--junk-paths] [--overwrite] [--freshen]\n"
               "                          [--update] [--password-file FILE] [NAME...]\n"
               "       pellux-cli test ARCHIVE [--password-file FILE] [NAME...]\n"
               "every command also takes --name-encoding NAME: the code page (an iconv name, e.g.\n"
               "CP866) of names stored without the UTF-8 flag; default: from the language\n",
               stderr);
    return 2;
}

} // namespace pellux::cli

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "");
    // While TZ is unset glibc checks /etc/localtime again on every mktime(), and the
    // compression libraries convert the time of every entry: naming the same file once
    // saves a system call per entry.
    ::setenv("TZ", ":/etc/localtime", 0);
    using namespace pellux::cli;
    if (argc < 2)
        return UsageError();
    const std::vector<std::string> args(argv + 2, argv + argc);
    Session session;
    if (std::strcmp(argv[1], "list") == 0)
        return RunList(args, session);
    if (std::strcmp(argv[1], "add") == 0)
        return RunAdd(args, session);
    if (std::strcmp(argv[1], "delete") == 0)
        return RunDelete(args, session);
    if (std::strcmp(argv[1], "extract") == 0)
        return RunExtract(args, session);
    if (std::strcmp(argv[1], "test") == 0)
        return RunTest(args, session);
    return UsageError();
}
