// Whether indexing ever holds up the window's thread: the library window adds a folder of
// songs (its index run goes on a thread of its own) while a 1 ms timer on the window's
// thread records the longest gap between two of its ticks, and a search is typed every
// 100 ms, as a user typing while the library fills. Each run starts from a new database;
// the figures are the median and the worst over the runs.
//
// usage: QT_QPA_PLATFORM=offscreen library_window_gap FOLDER [runs]
//        (library_bench --keep FOLDER makes a folder of 10,000 songs)

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "LibraryWindow.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fputs("usage: library_window_gap FOLDER [runs]\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string database = std::filesystem::temp_directory_path() / "cvk-library-gap.sqlite";
    const char* const words[] = {"lo", "love", "moon", "an", "summer night", "caf", "zz"};
    std::vector<double> longest;
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::filesystem::remove(database + suffix);
        }
        cvkapp::LibraryWindow window({}, database);
        window.show();
        QElapsedTimer clock;
        clock.start();
        qint64 last = clock.nsecsElapsed();
        qint64 worst = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            worst = std::max(worst, now - last);
            last = now;
        });
        int typed = 0;
        qint64 longestSearch = 0;
        QTimer typist;
        typist.setInterval(100);
        QObject::connect(&typist, &QTimer::timeout, [&] {
            const qint64 before = clock.nsecsElapsed();
            window.searchBox()->setText(words[typed++ % (sizeof words / sizeof words[0])]);
            longestSearch = std::max(longestSearch, clock.nsecsElapsed() - before);
        });
        // The first show's refresh of an empty library ends at once; the folder comes next.
        window.addFolder(folder);
        ticker.start();
        typist.start();
        const qint64 started = clock.nsecsElapsed();
        while (window.indexing()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        ticker.stop();
        typist.stop();
        longest.push_back(static_cast<double>(worst) / 1e6);
        seconds.push_back(static_cast<double>(clock.nsecsElapsed() - started) / 1e9);
        std::printf("run %d: indexed in %.2f s, longest gap of the 1 ms timer %.2f ms, %d searches typed, "
                    "the longest (search and rows shown) %.2f ms\n",
                    run + 1, seconds.back(), longest.back(), typed, static_cast<double>(longestSearch) / 1e6);
    }
    std::vector<double> sorted = longest;
    std::sort(sorted.begin(), sorted.end());
    std::printf("longest gap: median %.2f ms, worst %.2f ms over %d runs\n", sorted[sorted.size() / 2],
                sorted.back(), runs);
    return 0;
}
