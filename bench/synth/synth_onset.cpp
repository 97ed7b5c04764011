// How steadily the built-in synthesizer turns a message into sound.
//
// Sends a short note every 53 ms for 10 s from a real 1 ms platform timer, as the
// sequencer does, records the speakers' monitor, finds each note's onset and prints the
// spread of onset-minus-send offsets. A constant offset is latency (harmless); its spread
// is rhythm error the listener hears. Then does the same with messages applied at the
// start of the block being rendered (CVK_SYNTH_UNTIMED=1), for comparison.
//
// With `busy`, the process meanwhile plays a voice through a wave output at the echo
// monitor's 20 ms latency and reads the mixer's master volume every 20 ms, as the window
// does while recording: the synthesizer's spread must not grow, and the voice's underruns
// are printed.
//
//   source scripts/pulse-server.sh && pulse_start
//   build/.../bin/synth_onset [seconds] [busy]

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "TestServer.h"
#include "VoiceBeside.h"
#include "platform/midi_out.h"
#include "platform/mm_timer.h"
#include "pulse_support.h"
#include "synth/synthesizer.h"

namespace {

constexpr std::uint32_t kIntervalMs = 53;
// Each note is cut after this long (all sound off), so the next onset rises from the
// reverberation's tail, which stays below a twentieth of the attack's peak.
constexpr std::uint32_t kNoteMs = 30;
constexpr float kThreshold = 0.05f;
// Claves on the drum channel: a loud, sharp attack.
constexpr std::uint32_t kChannel = 9;
constexpr std::uint32_t kKey = 75;
// An onset is a rise above the threshold after this much silence.
constexpr std::size_t kQuietFrames = cvktest::PulseRecorder::kRate / 100;

struct Sender {
    platform::MidiOutHandle handle = 0;
    std::uint32_t totalMs = 0;
    std::uint32_t tick = 0;                // timer thread only
    std::vector<std::uint64_t> sentMicros;  // timer thread writes, published by `sent`
    std::atomic<std::size_t> sent{0};
    std::atomic<bool> done{false};
};

void onTick(std::uint32_t, void* user) {
    auto* sender = static_cast<Sender*>(user);
    const std::uint32_t tick = sender->tick++;
    if (tick >= sender->totalMs) {
        sender->done.store(true, std::memory_order_release);
        return;
    }
    const std::uint32_t phase = tick % kIntervalMs;
    if (phase == 0) {
        const std::size_t index = sender->sent.load(std::memory_order_relaxed);
        if (index < sender->sentMicros.size()) {
            // When the note is due: a wake-up made late by a busy machine is the
            // timer's lateness, which the synthesizer takes out.
            sender->sentMicros[index] = platform::timerDeadlineMicros();
            platform::midiOutShortMessage(sender->handle, 0x90 | kChannel | (kKey << 8) | (127u << 16));
            sender->sent.store(index + 1, std::memory_order_release);
        }
    } else if (phase == kNoteMs) {
        platform::midiOutShortMessage(sender->handle, 0x80 | kChannel | (kKey << 8));
        platform::midiOutShortMessage(sender->handle, 0xB0 | kChannel | (120u << 8));
    }
}

std::vector<std::size_t> findOnsets(const cvktest::PulseRecorder& recording, std::size_t first) {
    std::vector<std::size_t> onsets;
    std::size_t quiet = 0;
    for (std::size_t i = first; i < recording.frames(); ++i) {
        if (std::abs(recording.sample(i)) > kThreshold) {
            if (quiet >= kQuietFrames) {
                onsets.push_back(i);
            }
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return onsets;
}

// Says what the voice and the mixer went through beside the synthesizer.
void reportCompanions(bench::VoiceBeside& voice) {
    voice.stop();
    std::printf("  beside it: a voice at 20 ms latency, %llu underruns; %u mixer reads\n",
                static_cast<unsigned long long>(voice.underruns()), voice.mixerReads());
}

bool measure(const char* label, std::uint32_t seconds, bool busy) {
    cvktest::PulseRecorder recording;
    std::string error;
    if (!recording.start("speakers.monitor", seconds + 3.0, error)) {
        std::fprintf(stderr, "synth_onset: %s\n", error.c_str());
        return false;
    }
    Sender sender;
    sender.totalMs = seconds * 1000;
    sender.sentMicros.assign(sender.totalMs / kIntervalMs + 1, 0);
    const platform::MidiError opened = platform::midiOutOpen(&sender.handle, 0);
    if (opened != platform::MidiError::Ok) {
        std::fprintf(stderr, "synth_onset: %s\n", platform::midiOutErrorText(opened).c_str());
        return false;
    }
    platform::midiOutShortMessage(sender.handle, 0xB0 | kChannel | (7u << 8) | (127u << 16));
    std::optional<bench::VoiceBeside> companions;
    if (busy) {
        companions.emplace(true);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::size_t firstFrame = recording.frames();

    const std::uint32_t timer = platform::timerStart(1, onTick, &sender);
    if (timer == 0) {
        std::fprintf(stderr, "synth_onset: no timer\n");
        platform::midiOutClose(sender.handle);
        return false;
    }
    while (!sender.done.load(std::memory_order_acquire)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    platform::timerKill(timer);
    if (companions) {
        reportCompanions(*companions);
    }
    const std::size_t sent = sender.sent.load(std::memory_order_acquire);
    recording.waitForSound(platform::clockMicros() + 500'000, 3'000'000);
    platform::midiOutClose(sender.handle);
    recording.stop();

    const std::vector<std::size_t> onsets = findOnsets(recording, firstFrame);
    if (onsets.empty() || sent == 0) {
        std::printf("%s: %zu notes sent, no onset heard\n", label, sent);
        return false;
    }
    // The first onset can only belong to the first note (the delay is far below 10 s);
    // every other onset belongs to the note whose send time plus that delay is nearest.
    const double firstDelay =
        static_cast<double>(recording.frameMicros(onsets[0])) - static_cast<double>(sender.sentMicros[0]);
    std::vector<double> offsetsMs;
    std::vector<bool> matched(sent, false);
    for (std::size_t onset : onsets) {
        const double at = static_cast<double>(recording.frameMicros(onset));
        std::size_t best = 0;
        double bestDistance = 1e18;
        for (std::size_t k = 0; k < sent; ++k) {
            const double distance =
                std::abs(at - static_cast<double>(sender.sentMicros[k]) - firstDelay);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = k;
            }
        }
        if (bestDistance < kIntervalMs * 500.0 && !matched[best]) {
            matched[best] = true;
            offsetsMs.push_back((at - static_cast<double>(sender.sentMicros[best])) / 1000.0);

        }
    }
    const double low = bench::percentile(offsetsMs, 0.0);
    const double high = bench::percentile(offsetsMs, 1.0);
    const double median = bench::percentile(offsetsMs, 0.5);
    std::vector<double> deviations;
    for (double offset : offsetsMs) {
        deviations.push_back(std::abs(offset - median));
    }
    std::printf(
        "%s: %zu notes sent, %zu onsets heard, %zu matched\n"
        "  onset - send: min %.2f ms, p50 %.2f ms, max %.2f ms\n"
        "  spread (max - min) %.2f ms, p50 |offset - median| %.2f ms, p95 %.2f ms\n",
        label, sent, onsets.size(), offsetsMs.size(), low, median, high, high - low,
        bench::percentile(deviations, 0.5), bench::percentile(deviations, 0.95));
    return offsetsMs.size() == sent;
}

}  // namespace

int main(int argc, char** argv) {
    // A linker that leaves out unreferenced libraries would leave out the synthesizer.
    synth::install();
    const std::uint32_t seconds = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 10;
    const bool busy = argc > 2 && std::string(argv[2]) == "busy";
    if (!testing_support::benchServerGiven("synth_onset")) {
        return 77;
    }
    if (seconds == 0) {
        return 2;
    }
    unsetenv("CVK_SYNTH_UNTIMED");
    const bool timedOk = measure("time-stamped messages", seconds, busy);
    setenv("CVK_SYNTH_UNTIMED", "1", 1);
    const bool untimedOk = measure("applied at block start", seconds, busy);
    return timedOk && untimedOk ? 0 : 1;
}
