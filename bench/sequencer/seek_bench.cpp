// Fast forward through the densest song we could make: sixteen channels, each changing a
// controller at every tick (960 a second) and bending, with a note every beat, for three
// minutes. Each seek is a tenth of the song. Prints per seek the messages it met, the
// messages it sent, the messages the device lost, and how long the call took.
//
//   seek_bench [DEVICE]     "Built-in Synthesizer" (default; needs the sound server) or "Capture"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "TestServer.h"
#include "engine.h"
#include "platform/midi_out.h"
#include "platform/mm_timer.h"
#include "synth/synthesizer.h"

using namespace testing_support;

namespace {

constexpr int kDivision = 480;  // at 120 bpm: 960 ticks a second
constexpr int kSeconds = 180;

ByteVector densestSong() {
    std::vector<Track> tracks;
    for (int channel = 0; channel < 16; ++channel) {
        Track track;
        track.program(0, channel, channel * 7);
        for (int tick = 0; tick < kSeconds * 2 * kDivision; ++tick) {
            const int step = tick + channel;
            if (tick % kDivision == 0) {
                track.noteOn(tick == 0 ? 0 : 1, channel, 48 + step % 24, 80)
                    .control(0, channel, 7, step % 128);
            } else if (tick % 4 == 0) {
                track.event(1, {0xE0u | channel, static_cast<std::uint32_t>(step % 128), 64});
            } else {
                track.control(1, channel, 1 + step % 3 * 10, step % 128);
            }
        }
        tracks.push_back(track.end());
    }
    return smf(1, kDivision, tracks);
}

}  // namespace

int main(int argc, char** argv) {
    synth::install();
    const std::string device = argc > 1 ? argv[1] : "Built-in Synthesizer";
    if (device != "Capture" && !testing_support::benchServerGiven("seek_bench")) {
        return 77;
    }
    bench::Scratch scratch(device);
    if (device == "Capture") {
        ::setenv("CVK_MIDI_CAPTURE", (scratch.dir + "/capture.csv").c_str(), 1);
    }
    platform::setClockMode(platform::ClockMode::Real);
    platform::MessageQueue window;
    const std::string song = scratch.write("densest.mid", densestSong());
    if (CallInitMIDIOut(window.handle(), scratch.ini.c_str()) != 1 ||
        !bench::startSong(song, window.handle(), scratch.ini, 0)) {
        std::fprintf(stderr, "seek_bench: cannot start the song on %s\n", device.c_str());
        return 1;
    }
    pulsant::Engine& e = pulsant::engine();
    std::printf("song: 16 channels, %d s, %u ticks, through %s\n", kSeconds, e.songLength,
                device.c_str());
    std::vector<double> millis;
    for (int seek = 1; seek <= 9; ++seek) {
        const std::uint64_t metBefore = e.seekGathered.load();
        const std::uint64_t sentBefore = e.seekSent.load();
        const auto begin = std::chrono::steady_clock::now();
        CallFastForward(window.handle());
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                .count();
        millis.push_back(ms);
        std::printf(
            "seek %d to tick %u: met %llu messages, sent %llu, lost %llu, %.1f ms\n", seek,
            e.songPosition.load(),
            static_cast<unsigned long long>(e.seekGathered.load() - metBefore),
            static_cast<unsigned long long>(e.seekSent.load() - sentBefore),
            static_cast<unsigned long long>(platform::midiOutDroppedCount(e.midiOut.load())), ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    std::printf("seek time: median %.1f ms, max %.1f ms\n", bench::percentile(millis, 0.5),
                bench::percentile(millis, 1.0));
    CallStopSong(window.handle());
    return 0;
}
