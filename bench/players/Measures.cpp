#include "Measures.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "ChildProcess.h"

namespace players {

namespace {

// The sink is silent before the player starts: anything above -40 dBFS is its sound.
constexpr float kSoundThreshold = 0.01f;
// A click's onset: a fifth of the loudest click, high enough that what is left of the
// note before it never reaches it.
constexpr float kClickShare = 0.2f;
constexpr std::uint64_t kFirstSoundTimeout = 10'000'000;
// Long enough for the recorder's timing to settle before the player starts.
constexpr long kSettleMicros = 300'000;

std::string lastLine(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last.empty() ? "no output" : "last output: " + last;
}

// The player started at `startMicros` while its sink is being recorded.
struct Session {
    explicit Session(const RunSetup& runSetup) : setup(runSetup) {}

    const RunSetup& setup;
    cvktest::PulseRecorder recording;
    ChildProcess child;
    std::string logPath;
    std::uint64_t startMicros = 0;

    // Records `seconds` at most, from before the player starts.
    bool begin(const Player& player, const std::string& songPath, double seconds, std::string& failure) {
        if (!recording.start(setup.monitor.c_str(), seconds, failure)) {
            return false;
        }
        cvktest::pauseMicros(kSettleMicros);
        logPath = setup.logFolder + "/" + player.name + ".log";
        startMicros = platform::clockMicros();
        if (!child.start(player.commandFor(songPath), player.environment, logPath)) {
            failure = "cannot start " + player.name;
            return false;
        }
        return true;
    }

    // The frame of the first sound, waiting for it at most kFirstSoundTimeout.
    std::optional<std::size_t> firstSound(std::string& failure) {
        const std::size_t from = recording.frameAt(startMicros);
        const std::uint64_t giveUp = startMicros + kFirstSoundTimeout;
        while (platform::clockMicros() < giveUp) {
            if (const auto frame = recording.onset(from, recording.frames(), kSoundThreshold)) {
                return frame;
            }
            if (!child.running()) {
                failure = "ended without a sound at the sink (" + lastLine(logPath) + ")";
                return std::nullopt;
            }
            cvktest::pauseMicros(2000);
        }
        failure = "no sound at the sink within 10 s (" + lastLine(logPath) + ")";
        return std::nullopt;
    }
};

}  // namespace

std::optional<double> startToSound(const Player& player, const std::string& songPath, const RunSetup& setup,
                                   std::string& failure) {
    Session session(setup);
    if (!session.begin(player, songPath, 20.0, failure)) {
        return std::nullopt;
    }
    const std::optional<std::size_t> frame = session.firstSound(failure);
    if (!frame) {
        return std::nullopt;
    }
    return (static_cast<double>(session.recording.frameMicros(*frame)) - static_cast<double>(session.startMicros)) /
           1000.0;
}

std::optional<double> cpuWhilePlaying(const Player& player, const std::string& songPath, const RunSetup& setup,
                                      int leadSeconds, int windowSeconds, std::string& failure) {
    Session session(setup);
    if (!session.begin(player, songPath, leadSeconds + windowSeconds + 5.0, failure) ||
        !session.firstSound(failure)) {
        return std::nullopt;
    }
    const std::uint64_t windowStart = session.startMicros + static_cast<std::uint64_t>(leadSeconds) * 1'000'000;
    while (platform::clockMicros() < windowStart) {
        cvktest::pauseMicros(10'000);
    }
    const double cpuBefore = session.child.cpuSeconds();
    const std::uint64_t wallBefore = platform::clockMicros();
    std::this_thread::sleep_for(std::chrono::seconds(windowSeconds));
    const double cpuAfter = session.child.cpuSeconds();
    const std::uint64_t wallAfter = platform::clockMicros();
    if (!session.child.running()) {
        failure = "ended before the measuring window did";
        return std::nullopt;
    }
    return 100.0 * (cpuAfter - cpuBefore) / (static_cast<double>(wallAfter - wallBefore) / 1e6);
}

std::optional<Spread> clickSpread(const Player& player, const std::string& songPath, const RunSetup& setup,
                                  int intervalMs, std::size_t notes, int songSeconds, std::string& failure) {
    Session session(setup);
    if (!session.begin(player, songPath, songSeconds + 20.0, failure) || !session.firstSound(failure)) {
        return std::nullopt;
    }
    // The players leave at the song's end; one that stays is stopped well after it.
    const std::uint64_t giveUp = session.startMicros + (static_cast<std::uint64_t>(songSeconds) + 15) * 1'000'000;
    while (session.child.running() && platform::clockMicros() < giveUp) {
        cvktest::pauseMicros(20'000);
    }
    session.child.stop();
    session.recording.waitForSound(platform::clockMicros() + 300'000, 2'000'000);
    session.recording.stop();

    const std::size_t first = session.recording.frameAt(session.startMicros);
    const float threshold = kClickShare * session.recording.peak(first, session.recording.frames());
    std::vector<double> onsetMicros;
    for (const std::size_t frame : cvktest::onsets(session.recording, first, threshold, kQuietFrames)) {
        onsetMicros.push_back(static_cast<double>(session.recording.frameMicros(frame)));
    }
    return onsetSpread(onsetMicros, intervalMs * 1000.0, notes);
}

std::optional<Dropouts> dropoutsUnderLoad(const Player& player, const std::string& songPath, const RunSetup& setup,
                                          int seconds, int busyLoops, double shortestMs, std::string& failure) {
    // The loops run in process groups of their own, so stopping them stops the shells.
    std::vector<std::unique_ptr<ChildProcess>> loops;
    for (int i = 0; i < busyLoops; ++i) {
        loops.push_back(std::make_unique<ChildProcess>());
        if (!loops.back()->start({"sh", "-c", "while :; do :; done"}, {}, setup.logFolder + "/busy.log")) {
            failure = "cannot start a busy loop";
            return std::nullopt;
        }
    }
    Session session(setup);
    if (!session.begin(player, songPath, seconds + kFirstSoundTimeout / 1e6 + 5.0, failure)) {
        return std::nullopt;
    }
    const std::optional<std::size_t> first = session.firstSound(failure);
    if (!first) {
        return std::nullopt;
    }
    const std::uint64_t end = session.recording.frameMicros(*first) + static_cast<std::uint64_t>(seconds) * 1'000'000;
    while (session.child.running() && platform::clockMicros() < end) {
        cvktest::pauseMicros(20'000);
    }
    const bool ranThrough = session.child.running();
    session.child.stop();
    loops.clear();
    session.recording.stop();
    if (!ranThrough) {
        failure = "ended before " + std::to_string(seconds) + " s of music (" + lastLine(session.logPath) + ")";
        return std::nullopt;
    }

    const cvktest::PulseRecorder& recording = session.recording;
    std::size_t last = std::min(recording.frames(), recording.frameAt(end));
    while (last > *first && std::fabs(recording.sample(last - 1)) <= kSoundThreshold) {
        --last;
    }
    const auto shortest = static_cast<std::size_t>(shortestMs * cvktest::PulseRecorder::kRate / 1000.0);
    const double frameMs = 1000.0 / cvktest::PulseRecorder::kRate;
    Dropouts found;
    found.startMs =
        (static_cast<double>(recording.frameMicros(*first)) - static_cast<double>(session.startMicros)) / 1000.0;
    std::size_t run = 0;
    for (std::size_t i = *first; i <= last; ++i) {
        if (i < last && recording.sample(i) == 0.0f) {
            ++run;
            continue;
        }
        if (run > shortest) {
            found.spans.emplace_back(static_cast<double>(i - run - *first) * frameMs, static_cast<double>(run) * frameMs);
            found.silences += 1;
            found.laterSilences += found.spans.back().first >= 1000.0 ? 1 : 0;
            found.silentMs += static_cast<double>(run) * frameMs;
            found.longestMs = std::max(found.longestMs, static_cast<double>(run) * frameMs);
        }
        run = 0;
    }
    return found;
}

}  // namespace players
