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
constexpr const char *kUsage =
    "usage: pellux-cli list ARCHIVE [--password-file FILE]\n"
    "       pellux-cli add ARCHIVE [--dir-names] [--recurse] [--move] [--freshen] [--update]\n"
    "                      [--zip-time] [--force-dos] [--hidden] [--symlinks] [--level N]\n"
    "                      [--encrypt] [--password-file FILE] PATH...\n"
    "       pellux-cli delete ARCHIVE NAME...\n"
    "       pellux-cli extract ARCHIVE [-d DIR] [--junk-paths] [--overwrite] [--freshen]\n"
    "                          [--update] [--password-file FILE] [NAME...]\n"
    "       pellux-cli test ARCHIVE [--password-file FILE] [NAME...]\n"
    "every command also takes --name-encoding NAME: the code page (an iconv name, e.g.\n"
    "CP866) of names stored without the UTF-8 flag; default: from the language\n";

constexpr const char *kHelp = "\n"
                              "commands:\n"
                              "  list      one line per entry: name, date, time, size, ratio, packed, path\n"
                              "  add       add files (and trees, with --recurse), creating the archive\n"
                              "  delete    delete the entries with the stored names given\n"
                              "  extract   extract the entries named, or all, recreating their stored paths\n"
                              "  test      read and check the entries named, or all, writing nothing\n"
                              "options:\n"
                              "  --dir-names           store each file with its directory path\n"
                              "  --recurse             descend into directories\n"
                              "  --move                delete the files once they are in the archive\n"
                              "  --freshen             only replace what is there, and only with newer files\n"
                              "  --update              add what is new and replace what is older\n"
                              "  --zip-time            give the archive the time of its newest entry\n"
                              "  --force-dos           store names in the MS-DOS 8.3 form, upper case\n"
                              "  --hidden              include hidden files\n"
                              "  --symlinks            store symbolic links as links instead of what they point to\n"
                              "  --level N             compression level, 0 (store) to 9 (best, the default)\n"
                              "  --encrypt             encrypt the files added with AES-256\n"
                              "  --password-file FILE  the password: FILE's first line (else asked on the tty)\n"
                              "  -d DIR                extract into DIR, created when missing\n"
                              "  --junk-paths          extract every file into the target directory itself\n"
                              "  --overwrite           replace existing files when extracting\n"
                              "  --name-encoding NAME  the code page of names stored without the UTF-8 flag\n"
                              "  -h, --help            show this help and exit\n"
                              "  --version             show the version and exit\n"
                              "exit status: 0 success, 1 an error or a damaged archive, 2 wrong usage\n";
} // namespace

int UsageError()
{
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
