// Lateness of every message sent by the sequencer on the real clock against its exact
// time, over a song of SECONDS (default 60): p50, p99 and max.
//
//   realtime_dispatch [SECONDS]         through the capture device: when each message was
//                                       handed to the device
//   realtime_dispatch slow [SECONDS]    through a port that takes 50 ms over every message:
//                                       when the timer handed each one over while the
//                                       port lags, and how far the port lags
//   realtime_dispatch follow [SECONDS]  through the capture device, the song played by its
//                                       own tempo map at a ratio giving the same tempo
//   realtime_dispatch alsa [SECONDS]    through the first ALSA sequencer port, timed where
//                                       the port's messages come out (its input side, as
//                                       a Midi Through port offers); skipped without the
//                                       ALSA sequencer

#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "BenchSupport.h"
#include "midi_backend.h"
#include "platform/midi_out.h"
#include "platform/mm_timer.h"

using namespace testing_support;

namespace {

// Division 480 at 100 bpm (800 ticks a second): sixteenths and odd offsets, so that
// event times fall anywhere within a millisecond.
constexpr int kDivision = 480;
constexpr int kTempo = 100;
constexpr double kMicrosPerTick = 60e6 / (kTempo * kDivision);
constexpr auto kSlowPortDelay = std::chrono::milliseconds(50);
constexpr const char* kSlowPortName = "Slow port";

struct Song {
    std::string file;
    std::vector<std::uint64_t> ticks;  // of every note on
};

Song makeSong(const bench::Scratch& scratch, int seconds) {
    Song song;
    Track track;
    std::uint64_t at = 0;
    std::uint32_t seed = 7;
    const auto total = static_cast<std::uint64_t>(seconds * 1e6 / kMicrosPerTick);
    track.noteOn(0, 0, 60, 90);
    song.ticks.push_back(0);
    while (true) {
        seed = seed * 1103515245u + 12345u;
        const std::uint64_t step = 37 + (seed >> 8) % 200;
        if (at + step > total) {
            break;
        }
        at += step;
        track.noteOn(static_cast<std::uint32_t>(step), 0, 60 + static_cast<int>(at % 12), 90);
        song.ticks.push_back(at);
    }
    track.end();
    song.file = scratch.write("song.mid", smf(0, kDivision, {track}));
    return song;
}

// Plays the song to its end through the device the settings name, then stops it.
bool play(const Song& song, const bench::Scratch& scratch) {
    platform::MessageQueue window;
    if (!bench::startSong(song.file, window.handle(), scratch.ini, kTempo)) {
        std::fprintf(stderr, "could not start the song\n");
        return false;
    }
    int minutes = 0;
    int secs = 0;
    while (CallGetTime(window.handle(), &minutes, &secs) == 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    CallStopSong(window.handle());
    return true;
}

// Prints the lateness of the note ons at `micros` (any one clock) against the song.
bool report(const Song& song, const std::vector<double>& micros, int seconds) {
    if (micros.size() != song.ticks.size()) {
        std::fprintf(stderr, "expected %zu notes, got %zu\n", song.ticks.size(), micros.size());
        return false;
    }
    std::vector<double> lateness;
    for (std::size_t i = 0; i < micros.size(); ++i) {
        lateness.push_back((micros[i] - micros[0]) / 1000.0 -
                           static_cast<double>(song.ticks[i]) * kMicrosPerTick / 1000.0);
    }
    std::printf("messages: %zu over %d s\n", micros.size(), seconds);
    std::printf("lateness ms: p50 %.3f  p99 %.3f  max %.3f  min %.3f\n",
                bench::percentile(lateness, 0.5), bench::percentile(lateness, 0.99),
                bench::percentile(lateness, 1.0), bench::percentile(lateness, 0.0));
    return true;
}

bool isNoteOn(std::uint32_t message) {
    return (message & 0xF0) == 0x90;
}

int viaCapture(int seconds, bool followMap) {
    // The song has no tempo event: its map is 120 beats per minute, played at 6/5 of it.
    CallFollowTempoMapDLL(0, followMap ? 1 : 0, 120, kTempo);
    bench::Scratch scratch("Capture");
    const std::string capture = scratch.dir + "/capture.csv";
    setenv("CVK_MIDI_CAPTURE", capture.c_str(), 1);
    const Song song = makeSong(scratch, seconds);
    if (!play(song, scratch)) {
        return 1;
    }
    std::vector<double> ons;
    for (const auto& s : bench::readCapture(capture)) {
        if ((s.status & 0xF0) == 0x90) {
            ons.push_back(s.micros);
        }
    }
    return report(song, ons, seconds) ? 0 : 1;
}

int viaSlowPort(int seconds) {
    struct Taken {
        std::uint32_t message;
        std::uint64_t handedOver;
        std::uint64_t taken;
    };
    // Written by the port's sender thread only; read once the song has stopped, which
    // closes the port and ends that thread.
    auto taken = std::make_shared<std::vector<Taken>>();
    taken->reserve(1 << 16);
    platform::detail::setTestPort(
        kSlowPortName, [taken](std::uint32_t message, std::uint64_t handedOver) {
            std::this_thread::sleep_for(kSlowPortDelay);
            taken->push_back({message, handedOver, platform::clockMicros()});
        });
    bench::Scratch scratch(kSlowPortName);
    const Song song = makeSong(scratch, seconds);
    const bool played = play(song, scratch);
    platform::detail::setTestPort("", {});
    if (!played) {
        return 1;
    }
    std::vector<double> ons;
    std::vector<double> lag;
    for (const Taken& t : *taken) {
        // The notes only: the stop's silence and reset, queued all at once, would make
        // the port look slower than it plays.
        if (isNoteOn(t.message)) {
            ons.push_back(static_cast<double>(t.handedOver));
            lag.push_back(static_cast<double>(t.taken - t.handedOver) / 1000.0);
        }
    }
    std::printf("port taking %lld ms a message; the timer's hand-over:\n",
                static_cast<long long>(kSlowPortDelay.count()));
    if (!report(song, ons, seconds)) {
        return 1;
    }
    std::printf("port lag of the notes ms: p50 %.3f  p99 %.3f  max %.3f\n",
                bench::percentile(lag, 0.5), bench::percentile(lag, 0.99),
                bench::percentile(lag, 1.0));
    return 0;
}

int viaAlsaPort(int seconds) {
    if (::access("/dev/snd/seq", R_OK | W_OK) != 0) {
        std::printf("this machine has no ALSA sequencer (/dev/snd/seq): skipped\n");
        return 0;
    }
    unsetenv("CVK_MIDI_CAPTURE");
    if (platform::midiOutDeviceCount() < 2) {
        std::printf("the ALSA sequencer has no output port: skipped\n");
        return 0;
    }
    const std::string port = platform::midiOutDeviceName(1);

    // The port's output, as it comes out, stamped on arrival.
    struct Arrivals {
        std::mutex mutex;
        std::vector<double> ons;
    } arrivals;
    RtMidiIn input(RtMidi::LINUX_ALSA, "realtime_dispatch");
    unsigned int source = input.getPortCount();
    for (unsigned int i = 0; i < input.getPortCount(); ++i) {
        if (input.getPortName(i).rfind(port, 0) == 0) {
            source = i;
            break;
        }
    }
    if (source == input.getPortCount()) {
        std::printf("nothing comes out of \"%s\" to time (use a Midi Through port): skipped\n",
                    port.c_str());
        return 0;
    }
    input.setCallback(
        [](double, std::vector<unsigned char>* message, void* user) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            if (!message->empty() && ((*message)[0] & 0xF0) == 0x90) {
                auto* into = static_cast<Arrivals*>(user);
                std::lock_guard lock(into->mutex);
                into->ons.push_back(std::chrono::duration<double, std::micro>(now).count());
            }
        },
        &arrivals);
    input.openPort(source, "realtime_dispatch");

    bench::Scratch scratch(port);
    const Song song = makeSong(scratch, seconds);
    if (!play(song, scratch)) {
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last arrivals
    input.closePort();
    std::printf("port \"%s\", timed where its messages come out:\n", port.c_str());
    std::lock_guard lock(arrivals.mutex);
    return report(song, arrivals.ons, seconds) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = "capture";
    int arg = 1;
    if (argc > arg &&
        (std::strcmp(argv[arg], "slow") == 0 || std::strcmp(argv[arg], "alsa") == 0 ||
         std::strcmp(argv[arg], "follow") == 0)) {
        mode = argv[arg++];
    }
    const int seconds = argc > arg ? std::atoi(argv[arg]) : 60;
    platform::setClockMode(platform::ClockMode::Real);
    try {
        if (mode == "slow") {
            return viaSlowPort(seconds);
        }
        if (mode == "alsa") {
            return viaAlsaPort(seconds);
        }
        return viaCapture(seconds, mode == "follow");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
