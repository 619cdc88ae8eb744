// Times the main window on one archive: from OpenZipFile to every row shown, then one
// sort (by Size, or the column given) through the header's click signal. Prints figures in milliseconds and
// the peak resident memory, after the opening and at the end.
#include "app/FMain.h"
#include "app/ListingModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QTimer>
#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double PeakMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double Millis(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

// Lets the window lay out and paint what changed.
void Settle(pellux::TFormMainZip &window)
{
    QCoreApplication::processEvents();
    window.ListViewFiles->viewport()->repaint();
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: pellux-bench-window ARCHIVE [COLUMN]\n");
        return 2;
    }
    QApplication app(argc, argv);
    pellux::TFormMainZip window({});
    window.show();
    window.TimerShowStartupForm->stop(); // no startup chooser: the archive is opened below
    Settle(window);

    auto start = std::chrono::steady_clock::now();
    window.OpenZipFile(argv[1]);
    Settle(window);
    const double open = Millis(start);
    const int rows = window.Listing().rowCount();
    const double openPeak = PeakMb();

    start = std::chrono::steady_clock::now();
    const int column = argc == 3 ? std::atoi(argv[2]) : pellux::ColSize;
    Q_EMIT window.ListViewFiles->header()->sectionClicked(column);
    Settle(window);
    const double sort = Millis(start);

    std::printf(
        "rows %d\nopen_and_show_ms %.1f\npeak_rss_after_open_mb %.1f\nsort_by_column_%d_ms %.1f\npeak_rss_mb %.1f\n",
        rows, open, openPeak, column, sort, PeakMb());
    return 0;
}
