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

namespace {
constexpr const char *kUsage = "usage: pellux-cli list ARCHIVE [--long | --json] [--password-file FILE]\n"
                               "       pellux-cli add ARCHIVE [--dir-names] [--recurse] [--move] [--freshen]\n"
                               "                  [--update] [--zip-time] [--force-dos] [--hidden] [--symlinks]\n"
                               "                  [--level N] [--encrypt] [--password-file FILE] PATH...\n"
                               "       pellux-cli delete ARCHIVE NAME...\n"
                               "       pellux-cli extract ARCHIVE [-d DIR] [--junk-paths] [--overwrite]\n"
                               "                  [--freshen] [--update] [--password-file FILE] [NAME...]\n"
                               "       pellux-cli test ARCHIVE [--password-file FILE] [NAME...]\n"
                               "every command also takes -q and --name-encoding NAME: the code page (an iconv\n"
                               "name, e.g. CP866) of names stored without the UTF-8 flag (default: the\n"
                               "language's)\n";

constexpr const char *kHelp = "\n"
                              "commands:\n"
                              "  list      one line per entry: name, date, time, size, ratio, packed, path\n"
                              "  add       add files (and trees, with --recurse), creating the archive\n"
                              "  delete    delete the entries with the stored names given\n"
                              "  extract   extract the entries named, or all, recreating their stored paths\n"
                              "  test      read and check the entries named, or all, writing nothing\n"
                              "NAME: a stored name, a shell pattern ('docs/*.txt'; * stops at /, ** does not)\n"
                              "or a directory ('docs/') standing for everything under it; quote patterns\n"
                              "options:\n"
                              "  --long                list: method, sizes, CRC-32, encryption, mode, time\n"
                              "  --json                list: one JSON object with every entry and the warnings\n"
                              "  --dir-names           store each file with its directory path\n"
                              "  --recurse             descend into directories\n"
                              "  --move                delete the files once they are in the archive\n"
                              "  --freshen             only replace what is there, and only with newer files\n"
                              "  --update              add what is new and replace what is older\n"
                              "  --zip-time            give the archive the time of its newest entry\n"
                              "  --force-dos           store names in the MS-DOS 8.3 form, upper case\n"
                              "  --hidden              include hidden files\n"
                              "  --symlinks            store symbolic links as links, not what they point to\n"
                              "  --level N             compression level, 0 (store) to 9 (best, the default)\n"
                              "  --encrypt             encrypt the files added with AES-256\n"
                              "  --password-file FILE  the password: FILE's first line (else asked on the tty)\n"
                              "  -d DIR                extract into DIR, created when missing\n"
                              "  --junk-paths          extract every file into the target directory itself\n"
                              "  --overwrite           replace existing files when extracting\n"
                              "  --name-encoding NAME  the code page of names stored without the UTF-8 flag\n"
                              "  -q, --quiet           print nothing but errors: no summary, warning, progress\n"
                              "  -h, --help            show this help and exit\n"
                              "  --version             show the version and exit\n"
                              "a progress line is shown on a terminal; Ctrl+C stops the work, changing nothing\n"
                              "exit status: 0 success (warnings too), 1 an error or a damaged archive,\n"
                              "2 wrong usage, 130 stopped by Ctrl+C\n";
} // namespace

namespace {
std::string &UsageProblem()
{
    static std::string problem;
    return problem;
}
} // namespace

bool SetUsageProblem(std::string why)
{
    UsageProblem() = std::move(why);
    return false;
}

int UsageError(const std::string &why)
{
    const std::string &problem = why.empty() ? UsageProblem() : why;
    if (!problem.empty())
        std::fprintf(stderr, "pellux-cli: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
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
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("pellux-cli " PELLUX_VERSION);
            return 0;
        }
    }
    // -q may stand before or after the command word; after "--" it is a name.
    std::vector<std::string> words;
    bool quiet = false;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        optionsDone = optionsDone || std::strcmp(argv[i], "--") == 0;
        if (!optionsDone && (std::strcmp(argv[i], "-q") == 0 || std::strcmp(argv[i], "--quiet") == 0))
            quiet = true;
        else
            words.emplace_back(argv[i]);
    }
    if (words.empty())
        return UsageError();
    const std::string command = words.front();
    const std::vector<std::string> args(words.begin() + 1, words.end());
    Session session;
    session.SetQuiet(quiet);
    if (command == "list")
        return RunList(args, session);
    if (command == "add")
        return RunAdd(args, session);
    if (command == "delete")
        return RunDelete(args, session);
    if (command == "extract")
        return RunExtract(args, session);
    if (command == "test")
        return RunTest(args, session);
    return UsageError("unknown command " + command);
}
