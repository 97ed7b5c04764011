// The song library at the size of a karaoke evening's collection: a folder of 10,000 songs
// (generated karaoke songs of about 12 KB under varied titles, artists and words, and
// copies of the example song under other names) is indexed from nothing, refreshed with
// nothing changed, and searched 200 times with words of every field, prefixes and words
// found nowhere. Each run starts from a new database; the figures are the medians over the
// runs.
//
// usage: library_bench [--songs N] [--runs N] [--keep FOLDER]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "SmfBuilder.h"
#include "TempDir.h"
#include "library/Library.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing_support::Track;

namespace {

const char* const kWords[] = {
    "love", "heart", "night", "river", "moon", "dance", "fire", "rain", "summer", "blue", "road", "home",
    "dream", "star", "light", "golden", "wild", "sweet", "lonely", "forever", "tonight", "ocean", "city",
    "angel", "shadow", "morning", "winter", "garden", "silver", "thunder", "caf\xC3\xA9", "ni\xC3\xB1o",
    "\xC3\xA9t\xC3\xA9", "m\xC3\xBCller", "coraz\xC3\xB3n", "l\xC3\xA0", "fen\xC3\xAAtre", "s\xC3\xB8r",
};
constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];

const char* const kNames[] = {"Anna", "Bruno", "Clara", "Diego", "Elena", "Felix", "Greta", "Hugo",
                              "Ines", "Jonas", "Karla", "Luca", "Maja", "Nils", "Olga", "Pablo"};

std::vector<std::uint8_t> generatedSong(std::mt19937& random, const std::string& title, const std::string& artist) {
    std::uniform_int_distribution<std::size_t> word(0, kWordCount - 1);
    Track tempo;
    tempo.meta(0, 3, title).tempo(0, 400000 + static_cast<std::uint32_t>(random() % 300000)).end(0);
    Track notes;
    notes.program(0, 0, 4);
    for (int i = 0; i < 600; ++i) {
        notes.noteOn(i == 0 ? 0 : 60, i % 4, 48 + static_cast<int>(random() % 36), 90).noteOff(60, i % 4, 60);
    }
    notes.end(0);
    Track text;
    text.meta(0, 1, "@KMIDI KARAOKE FILE").meta(0, 1, "@T" + title).meta(0, 1, "@T" + artist);
    for (int i = 0; i < 160; ++i) {
        text.meta(240, 1, std::string(i % 8 == 0 ? "/" : "") + kWords[word(random)] + " ");
    }
    text.end(0);
    return testing_support::smf(1, 480, {tempo, notes, text});
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

void makeFolder(const std::string& folder, std::size_t count) {
    std::mt19937 random(42);
    const std::vector<std::uint8_t> example = testing_support::fileBytes(EXAMPLE_SONG);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string sub = folder + "/" + kNames[i % 16] + "/" + std::to_string(i / 500);
        fs::create_directories(sub);
        const std::string title = std::string(kWords[random() % kWordCount]) + " " + kWords[random() % kWordCount] +
                                  " " + std::to_string(i);
        const std::string artist = std::string(kNames[random() % 16]) + " " + kNames[random() % 16];
        const bool copy = i % 10 == 0 && !example.empty();
        const std::vector<std::uint8_t> bytes = copy ? example : generatedSong(random, title, artist);
        writeFile(sub + "/" + artist + " - " + title + (copy ? ".kar" : ".mid"), bytes);
    }
}

double seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t songs = 10000;
    int runs = 3;
    std::string keep;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--songs") {
            songs = static_cast<std::size_t>(std::atol(argv[i + 1]));
        } else if (name == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (name == "--keep") {
            keep = argv[i + 1];
        }
    }
    testing_support::TempDir scratch;
    const std::string folder = keep.empty() ? scratch.path("songs") : keep;
    if (!fs::exists(folder)) {
        const auto start = Clock::now();
        makeFolder(folder, songs);
        std::printf("made %zu songs in %.1f s\n", songs, seconds(Clock::now() - start));
    }

    std::vector<double> firstIndex;
    std::vector<double> refresh;
    std::vector<double> searchP95;
    std::vector<double> searchMedian;
    std::mt19937 random(7);
    for (int run = 0; run < runs; ++run) {
        // With --keep the database of the last run stays beside the folder, for a look inside.
        const std::string database = keep.empty() ? scratch.path("library-" + std::to_string(run) + ".sqlite")
                                                  : keep + ".sqlite";
        fs::remove(database);
        fs::remove(database + "-wal");
        fs::remove(database + "-shm");
        library::Library library(database);
        if (!library.isOpen()) {
            std::fprintf(stderr, "%s\n", library.lastError().c_str());
            return 1;
        }
        library::IndexReport report;
        auto start = Clock::now();
        if (!library.addFolders({folder}, report)) {
            std::fprintf(stderr, "%s\n", library.lastError().c_str());
            return 1;
        }
        firstIndex.push_back(seconds(Clock::now() - start));
        const std::size_t added = report.added;

        start = Clock::now();
        library.refresh(report);
        refresh.push_back(seconds(Clock::now() - start));
        if (report.added + report.updated != 0 || report.unchanged != added) {
            std::fprintf(stderr, "refresh read files again: %zu added, %zu updated\n", report.added, report.updated);
            return 1;
        }

        std::vector<double> times;
        std::vector<double> byKind[5];
        for (int i = 0; i < 200; ++i) {
            std::string words;
            switch (i % 5) {
            case 0: words = kWords[random() % kWordCount]; break;                                   // any field
            case 1: words = std::string(kWords[random() % kWordCount]).substr(0, 2); break;         // short prefix
            case 2: words = std::string(kNames[random() % 16]) + " " + kWords[random() % kWordCount]; break;
            case 3: words = "zzyzx" + std::to_string(i); break;                                      // nowhere
            default: words = std::string(kWords[random() % kWordCount]) + " " + kWords[random() % kWordCount]; break;
            }
            start = Clock::now();
            const std::vector<library::Song> found = library.search(words, 500);
            times.push_back(seconds(Clock::now() - start) * 1000.0);
            byKind[i % 5].push_back(times.back());
        }
        std::printf("search medians (ms): one word %.2f, two letters %.2f, name and word %.2f, nowhere %.2f, "
                    "two words %.2f\n",
                    median(byKind[0]), median(byKind[1]), median(byKind[2]), median(byKind[3]), median(byKind[4]));
        std::sort(times.begin(), times.end());
        searchP95.push_back(times[times.size() * 95 / 100]);
        searchMedian.push_back(median(times));
        std::printf("run %d: %zu songs, first index %.2f s, refresh %.3f s, search median %.2f ms, p95 %.2f ms\n",
                    run + 1, added, firstIndex.back(), refresh.back(), searchMedian.back(), searchP95.back());
    }
    std::printf("median of %d runs: first index %.2f s, refresh unchanged %.3f s, search median %.2f ms, p95 %.2f ms\n",
                runs, median(firstIndex), median(refresh), median(searchMedian), median(searchP95));
    return 0;
}
