// Where a song's last message falls when the song plays by its own tempo map: every song
// given is played to its end on the virtual clock into the capture device; the map's
// exact time of the tick given with it is printed beside the time the song's last message
// was sent. tempo_map_end.py gives the tick of each song's last message and compares both
// with a computation of its own.
//
//   tempo_map_end SONG TICK [SONG TICK]...   a line a song: "FILE<TAB>MAP_US<TAB>SENT_US"

#include <cstdio>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "SongTempoMap.h"
#include "engine.h"
#include "platform/mm_timer.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: tempo_map_end SONG TICK [SONG TICK]...\n");
        return 2;
    }
    platform::setClockMode(platform::ClockMode::Virtual);
    bench::Scratch scratch("Capture");
    const std::string capture = scratch.dir + "/capture.csv";
    setenv("CVK_MIDI_CAPTURE", capture.c_str(), 1);
    platform::MessageQueue window;
    int failures = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string song = argv[i];
        const auto tick = static_cast<std::uint32_t>(std::stoul(argv[i + 1]));
        const std::optional<pulsant::TempoMap> map = songfile::ReadTempoMap(song);
        CallFollowTempoMapDLL(window.handle(), 1, 1, 1);
        if (!map || !bench::startSong(song, window.handle(), scratch.ini, 0)) {
            std::fprintf(stderr, "%s: cannot be played by its tempo map\n", song.c_str());
            ++failures;
            continue;
        }
        pulsant::Engine& e = pulsant::engine();
        while (!e.songEnded.load()) {
            std::this_thread::yield();
        }
        CallStopSong(window.handle());
        // The stop's silence comes after the song: sustain off and all notes off on every
        // channel from channel 0 on, then the sounding notes' offs. The song's own messages
        // are those before it.
        const std::vector<bench::Sent> sent = bench::readCapture(capture);
        std::size_t songEnd = sent.size();
        for (std::size_t at = 0; at + 1 < sent.size(); ++at) {
            if (sent[at].status == 0xB0 && sent[at].data1 == 64 && sent[at + 1].status == 0xB0 &&
                sent[at + 1].data1 == 123) {
                songEnd = at;
            }
        }
        double lastSent = 0;
        for (std::size_t at = 0; at < songEnd; ++at) {
            lastSent = sent[at].micros > lastSent ? sent[at].micros : lastSent;
        }
        std::printf("%s\t%llu\t%.0f\n", song.c_str(), static_cast<unsigned long long>(map->timeAt(tick)),
                    lastSent);
    }
    return failures == 0 ? 0 : 1;
}
