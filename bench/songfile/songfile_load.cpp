// Throughput of loading a song as the program does: split it into a temporary file, then
// scan the split file under both lyric rules. Songs of three sizes are generated: a
// typical karaoke file (~50 KB), 1 MB, and a 32 MB stress song.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "LyricScan.h"
#include "MidiSplit.h"
#include "SmfBuilder.h"

using namespace testing_support;

namespace {

// A format 0 karaoke song of roughly `bytes` bytes: notes on eight channels mixed in one
// track (so the split has work to do), a lyric text every quarter.
// Generated songs by size, removed at exit.
struct Songs {
    std::map<std::size_t, std::string> paths;
    ~Songs() {
        for (const auto& [size, path] : paths) {
            std::remove(path.c_str());
        }
    }
};

std::string makeSong(std::size_t bytes) {
    static Songs songs;
    auto& made = songs.paths;
    auto found = made.find(bytes);
    if (found != made.end()) {
        return found->second;
    }
    Track track;
    track.tempo(0, 500000).meta(0, 0x03, "Benchmark song");
    std::uint32_t tick = 0;
    int syllable = 0;
    while (track.body().size() < bytes) {
        for (int channel = 0; channel < 8; ++channel) {
            track.noteOn(channel == 0 ? 60 : 0, channel == 7 ? 9 : channel, 48 + (tick / 60 + channel) % 36, 90);
        }
        track.meta(0, 0x01, syllable % 8 == 0 ? "/Twin" : "kle ");
        track.meta(0, 0x05, "kle");
        for (int channel = 0; channel < 8; ++channel) {
            track.noteOff(channel == 0 ? 60 : 0, channel == 7 ? 9 : channel, 48 + (tick / 60 + channel) % 36);
        }
        tick += 120;
        ++syllable;
    }
    track.end();
    char pattern[] = "/tmp/cvkbench-song-XXXXXX";
    const int fd = mkstemp(pattern);
    close(fd);
    const ByteVector file = smf(0, 480, {track});
    std::ofstream(pattern, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    made.emplace(bytes, pattern);
    return pattern;
}

// As the program opens a song: a new temporary file, the split, both scans. The file is
// removed untimed, as the program removes it only when the song is closed (on a disk
// mounted with discard, the removal alone costs milliseconds).
void loadSong(benchmark::State& state) {
    const std::string song = makeSong(static_cast<std::size_t>(state.range(0)));
    std::size_t fileBytes = 0;
    {
        std::ifstream in(song, std::ios::binary | std::ios::ate);
        fileBytes = static_cast<std::size_t>(in.tellg());
    }
    for (auto _ : state) {
        char pattern[] = "/tmp/cvkbench-split-XXXXXX";
        close(mkstemp(pattern));
        const std::string split = pattern;
        const songfile::SplitResult result = songfile::SplitMidiFile(song, split);
        if (!result.message.empty()) {
            state.SkipWithError(result.message.c_str());
            break;
        }
        int tempo = 0;
        std::optional<std::uint64_t> offset;
        songfile::FreeLyricList(songfile::ExtractLyrics(split, ".KAR", tempo, offset));
        songfile::FreeLyricList(songfile::ExtractLyrics(split, ".MID", tempo, offset));
        benchmark::DoNotOptimize(offset);
        state.PauseTiming();
        std::remove(split.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileBytes));
    state.counters["song_kB"] = static_cast<double>(fileBytes) / 1024.0;
}

BENCHMARK(loadSong)->Arg(50 << 10)->Arg(1 << 20)->Arg(32 << 20)->Unit(benchmark::kMillisecond);

// The parts on their own, to see where the time goes.
void splitOnly(benchmark::State& state) {
    const std::string song = makeSong(static_cast<std::size_t>(state.range(0)));
    char pattern[] = "/tmp/cvkbench-split-XXXXXX";
    close(mkstemp(pattern));
    for (auto _ : state) {
        benchmark::DoNotOptimize(songfile::SplitMidiFile(song, pattern));
    }
    std::remove(pattern);
}

void scanOnly(benchmark::State& state) {
    const std::string song = makeSong(static_cast<std::size_t>(state.range(0)));
    char pattern[] = "/tmp/cvkbench-split-XXXXXX";
    close(mkstemp(pattern));
    songfile::SplitMidiFile(song, pattern);
    for (auto _ : state) {
        int tempo = 0;
        std::optional<std::uint64_t> offset;
        songfile::FreeLyricList(songfile::ExtractLyrics(pattern, ".KAR", tempo, offset));
    }
    std::remove(pattern);
}

BENCHMARK(splitOnly)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(scanOnly)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
