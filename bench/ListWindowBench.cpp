// Times the main window on one archive: from OpenZipFile to every row shown, then one
// sort (by Size, or the column given) through the header's click signal. Prints figures in milliseconds and
// the peak resident memory, after the opening and at the end.
#include "app/FMain.h"
#include "app/ListingModel.h"
#include "platform/HugePages.h"

#include <QApplication>
#include <QHeaderView>
#include <QTimer>
#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>

namespace {

double PeakMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// This thread's CPU time: on a shared machine it moves less than the wall time.
double CpuMillis()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
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
    // As the program itself starts (GLIBC_TUNABLES=glibc.malloc.hugetlb=0 for without).
    pellux::RestartWithHugePageHeap(argv);
    QApplication app(argc, argv);
    pellux::TFormMainZip window({});
    window.show();
    window.TimerShowStartupForm->stop(); // no startup chooser: the archive is opened below
    Settle(window);

    auto start = std::chrono::steady_clock::now();
    double cpu = CpuMillis();
    window.OpenZipFile(argv[1]);
    Settle(window);
    const double open = Millis(start);
    const double openCpu = CpuMillis() - cpu;
    const int rows = window.Listing().rowCount();
    const double openPeak = PeakMb();

    start = std::chrono::steady_clock::now();
    cpu = CpuMillis();
    const int column = argc == 3 ? std::atoi(argv[2]) : pellux::ColSize;
    Q_EMIT window.ListViewFiles->header()->sectionClicked(column);
    Settle(window);
    const double sort = Millis(start);
    const double sortCpu = CpuMillis() - cpu;

    std::printf("rows %d\nopen_and_show_ms %.1f\nopen_cpu_ms %.1f\npeak_rss_after_open_mb %.1f\n"
                "sort_by_column_%d_ms %.1f\nsort_cpu_ms %.1f\npeak_rss_mb %.1f\n",
                rows, open, openCpu, openPeak, column, sort, sortCpu, PeakMb());
    return 0;
}
