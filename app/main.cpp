// Pellux: a ZIP archive manager. Creates the main window and runs the event loop.
#include "app/FMain.h"
#include "app/QtUserInteraction.h"
#include "dialogs/AppIcon.h"
#include "platform/HugePages.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

int main(int argc, char **argv)
{
    // Answered before Qt starts, so that they need no display. Any other argument is
    // an archive to open, as it always was.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs("usage: pellux [ARCHIVE]\n"
                       "Opens ARCHIVE (a ZIP archive or a self-extracting program) in the Pellux window;\n"
                       "without one, asks whether to open or create an archive.\n"
                       "  -h, --help     show this help and exit\n"
                       "      --version  show the version and exit\n",
                       stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("pellux " PELLUX_VERSION);
            return 0;
        }
    }
    // A listing of a million entries faults in its memory in a third of the time.
    pellux::RestartWithHugePageHeap(argv);
    // Without TZ, glibc re-reads /etc/localtime at every time conversion; archives with
    // many entries convert one time each.
    ::setenv("TZ", ":/etc/localtime", 0);
    QApplication app(argc, argv);
    // Dates and times in the listing use the C library's locale separators.
    std::setlocale(LC_ALL, "");
    QApplication::setApplicationName(QStringLiteral("Pellux"));
    QApplication::setWindowIcon(pellux::AppIcon());
    pellux::SetUserInteraction(std::make_unique<pellux::QtUserInteraction>());

    // Arguments are taken as raw bytes: archive names need not be valid text.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    pellux::TFormMainZip window(std::move(args));
    window.show();
    return QApplication::exec();
}
