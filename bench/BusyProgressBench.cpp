// How long the desktop waits on a long add: a 10 ms timer stands for its requests, and
// the longest gap between two of its turns is the longest the program leaves it
// unanswered. Adds MB megabytes (48 unless given) of low-entropy data at level 9 on one
// worker, in the status window as the program shows it, and prints the figures.
#include "dialogs/BusyProgress.h"
#include "dialogs/FStatus.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    using Clock = std::chrono::steady_clock;
    namespace fs = std::filesystem;
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 48;
    if (argc > 2 || megabytes == 0) {
        std::fprintf(stderr, "usage: pellux-bench-busy [MB]\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("PELLUX_ZIP_WORKERS", "1", 1);
    QApplication app(argc, argv);

    std::string work = (fs::temp_directory_path() / "pellux-bench-busy-XXXXXX").string();
    if (!::mkdtemp(work.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    // Sixteen symbols at random: deflate finds no long matches and works for every byte.
    const std::string source = work + "/large.bin";
    {
        std::string bytes(megabytes << 20, '\0');
        std::mt19937 random(7);
        for (char &c : bytes)
            c = "0123456789abcdef"[random() % 16];
        std::ofstream(source, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    pellux::TZipEngine engine;
    engine.SetZipFilename(work + "/t.zip");
    engine.FSpecArgs = {source};
    std::vector<Clock::time_point> turns;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { turns.push_back(Clock::now()); });
    {
        pellux::WithBusyProgress<pellux::ScopedStatus> busy(engine, "Pellux ", "Adding files");
        ticker.start(10);
        turns.push_back(Clock::now());
        engine.Add();
        turns.push_back(Clock::now());
        ticker.stop();
    }
    std::chrono::duration<double, std::milli> longest{0};
    for (std::size_t i = 1; i < turns.size(); ++i)
        longest = std::max<std::chrono::duration<double, std::milli>>(longest, turns[i] - turns[i - 1]);
    std::printf("%zu MB add: %.2f s, %d files, %zu event-loop turns, longest gap %.1f ms\n", megabytes,
                std::chrono::duration<double>(turns.back() - turns.front()).count(), engine.ProcessedCount,
                turns.size() - 2, longest.count());
    fs::remove_all(work);
    return engine.ProcessedCount == 1 ? 0 : 1;
}
