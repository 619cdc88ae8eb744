// Pellux: a ZIP archive manager. Creates the main window and runs the event loop.
#include "app/FMain.h"
#include "app/QtUserInteraction.h"
#include "dialogs/AppIcon.h"

#include <QApplication>

#include <clocale>
#include <cstdlib>
#include <memory>

int main(int argc, char **argv)
{
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
