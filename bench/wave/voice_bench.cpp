// The voice on the test server: how late the singer hears themself, how soon a voice file
// is heard, and what a monitored recording costs.
//
//   voice_bench [latency|start|cpu|all] [SECONDS]      (default all, 20 s a run)
//   voice_bench drift [SECONDS] [STALL_MS]             (default 20 s, 250 ms)
//   voice_bench song [SECONDS] [STALL_MS]              (default 60 s, 150 ms)
//   voice_bench hardware [SECONDS]                     (default 20 s)
//   voice_bench repeat BYTES [RUNS] [SECONDS]          (default 6 runs of 20 s)
//
// latency: clicks every 300 ms played into the "Microphone" sink while the library records
//   with its monitor on (echo off), at recording buffers of 4096, 1024, 256 and 64 bytes;
//   each click's onset on the microphone sink's monitor against its onset on the speakers'
//   monitor (both recorded in this process on one clock): median and p95, clicks lost,
//   underruns of the monitor output a minute and overruns of the input. Then, from the
//   smallest size that ran without loss upward, each is run for a whole minute until one
//   holds it (unless SECONDS already was a minute).
// start: AudioPlayFile of a 1 kHz tone to its first sound on the speakers' monitor, and
//   its last sound there to the close notification, over ten starts: median, lowest and
//   highest.
// cpu: the process's CPU time (getrusage) over SECONDS of a monitored recording into a
//   file with a 300 ms echo, at 4096 bytes and at the size the latency runs found (64
//   when they were not made), as a percentage of one core.
// drift: whether the monitor's delay comes back after a disturbance. A click a second into
//   the "Microphone" sink (all of it queued at once, so the singer never waits) while the
//   library records with its monitor at 4096, 1024 and 256 bytes, and the window thread
//   stalls for STALL_MS every 3 s from the fourth second to three seconds before the end
//   (0: never; the server's own underruns are then the only disturbance). Each click is
//   followed from the delay of the one before it; the median delay of the first three
//   clicks against the last three, and the monitor's underruns.
// song: the latency runs at 4096, 1024 and 256 bytes for SECONDS each, but as a singer
//   records over a song: the monitor with a 300 ms echo (clicks every 470 ms, so that an
//   echo never falls on a click), while a song plays through the built-in synthesizer on
//   the wave library's own connection to the server: four channels of eighths and drums
//   at 120 bpm, the melody changing program every 4 s. The song is played quietly (its
//   peak on the speakers is printed, and stays under the clicks' onset threshold)
//   but costs the synthesizer what a loud one would. Then the drift runs at the same
//   sizes over the song with the echo, the window thread stalled STALL_MS every 3 s
//   (20 s a run); a delay back within one buffer of where it was is what a stall may
//   leave. The synthesizer's own underruns are printed beside the monitor's.
// repeat: the latency run at one buffer size, RUNS times, each with a new recording: the
//   monitor's delay is set by where its first buffers fall against the server's clock, so
//   it differs between recordings and holds within one; the table gives each run and the
//   median over the runs of their p95 and underruns.
// hardware: the sound server's pass-through, as the window's hardware processing turns
//   it on through the mixer library (the microphone line unmuted on the speakers): clicks
//   every 300 ms into the "Microphone" sink, each click's onset on the microphone sink's
//   monitor against its onset on the speakers' monitor; no recording runs.
//
//   source scripts/pulse-server.sh && pulse_start
//   build/default/bin/voice_bench

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "RecordingSong.h"
#include "TempDir.h"
#include "TestServer.h"
#include "WaveBuilder.h"
#include "audio/mixer.h"
#include "audio/wave_in.h"
#include "faderlib/faderlib.h"
#include "platform/dialogs.h"
#include "synth/synthesizer.h"
#include "voice_support.h"

namespace {

using cvktest::kVoiceRate;
using cvktest::PulseRecorder;

constexpr std::int32_t kSizes[] = {4096, 1024, 256, 64};
constexpr double kClickSeconds = 0.3;
constexpr int kStarts = 10;

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double millis(std::uint64_t later, std::uint64_t earlier) {
    return (static_cast<double>(later) - static_cast<double>(earlier)) / 1000.0;
}

// Each click sung (its onset on the microphone sink's monitor) against its onset heard on
// the speakers' monitor, in ms, for clicks `spacing` seconds apart; returns the clicks sung.
// The first sound on the speakers is the first click's (the monitor plays nothing it was
// not given, and an echo comes after the click); every other click is matched to the
// onset nearest that latency after it, which cannot be another click's or an echo more
// than a third of the spacing away.
std::size_t clickDelays(const PulseRecorder& sung, std::size_t firstSung, const PulseRecorder& heard,
                        std::size_t firstHeard, double spacing, std::vector<double>& delaysMs) {
    constexpr std::size_t kQuiet = PulseRecorder::kRate / 20;
    const auto sungAt = cvktest::onsets(sung, firstSung, 0.1f, kQuiet);
    const auto heardAt = cvktest::onsets(heard, firstHeard, 0.1f, kQuiet);
    if (sungAt.empty() || heardAt.empty()) {
        return sungAt.size();
    }
    const double firstMs = millis(heard.frameMicros(heardAt.front()), sung.frameMicros(sungAt.front()));
    for (std::size_t onset : sungAt) {
        const std::uint64_t sungMicros = sung.frameMicros(onset);
        double best = 1e9;
        for (std::size_t candidate : heardAt) {
            const double latency = millis(heard.frameMicros(candidate), sungMicros);
            if (std::abs(latency - firstMs) < std::abs(best - firstMs)) {
                best = latency;
            }
        }
        if (std::abs(best - firstMs) < spacing * 1000 / 3) {
            delaysMs.push_back(best);
        }
    }
    return sungAt.size();
}

// SECONDS of the song to record over, every channel turned down (volume controller 8 of
// 127) so that the speakers carry the monitor's clicks far above it.
testing_support::ByteVector recordingSong(double seconds) {
    constexpr int kQuietVolume = 8;
    return bench::recordingSong(static_cast<int>(seconds * 4) + 8, kQuietVolume);
}

// The song above playing through the built-in synthesizer (MIDI device 0) for as long as
// this lives. Nothing takes the sequencer's notifications: they wait in a queue of their own.
class SongBeside {
public:
    explicit SongBeside(double seconds) : m_scratch("Built-in Synthesizer") {
        const std::string song = m_scratch.write("song.mid", recordingSong(seconds));
        if (CallInitMIDIOut(m_window.handle(), m_scratch.ini.c_str()) != 1) {
            failure = "the built-in synthesizer could not be opened";
            return;
        }
        m_open = true;
        if (!bench::startSong(song, m_window.handle(), m_scratch.ini, 120)) {
            failure = "the song did not start";
            return;
        }
        m_playing = true;
        m_underrunsBefore = synth::synthesizerUnderruns();
    }
    ~SongBeside() {
        if (m_playing) {
            CallStopSong(m_window.handle());
        }
        if (m_open) {
            CallCloseMIDIOut(m_window.handle());
        }
    }
    SongBeside(const SongBeside&) = delete;
    SongBeside& operator=(const SongBeside&) = delete;

    bool stillPlaying() {
        std::int32_t minutes = 0;
        std::int32_t secs = 0;
        return m_playing && CallGetTime(m_window.handle(), &minutes, &secs) == 1;
    }
    std::uint64_t underruns() const { return synth::synthesizerUnderruns() - m_underrunsBefore; }

    std::string failure;

private:
    bench::Scratch m_scratch;
    platform::MessageQueue m_window;
    bool m_open = false;
    bool m_playing = false;
    std::uint64_t m_underrunsBefore = 0;
};

// Clicks sung into the "Microphone" sink while its monitor and the speakers' are recorded
// on one clock: each click's delay from one to the other.
struct ClickSinging {
    ClickSinging(double seconds, double clickSpacing)
        : spacing(clickSpacing), singer(cvktest::clickTrack(seconds + 0.2, clickFrames(seconds, clickSpacing))) {}

    // Both recordings, for `listenSeconds` at the most.
    bool listen(double listenSeconds, std::string& error) {
        return sung.start("microphone.monitor", listenSeconds, error) &&
               heard.start("speakers.monitor", listenSeconds, error);
    }
    // Sings the clicks into `sink` while `host` takes its messages, then half a second
    // more; what went wrong, or nothing.
    std::string sing(cvktest::VoiceHost& host, std::int32_t sink, double seconds) {
        firstSung = sung.frames();
        firstHeard = heard.frames();
        std::string failure;
        if (!singer.open(sink)) {
            failure = "cannot play into the microphone sink";
        } else if (!host.pumpUntil([&] { return singer.finished(); }, seconds + 5, &singer)) {
            failure = "the clicks did not finish playing";
        }
        host.pumpFor(0.5, &singer);
        return failure;
    }
    void stop() {
        singer.close();
        sung.stop();
        heard.stop();
    }
    // The clicks sung; the delay of each one heard goes into `delaysMs`.
    std::size_t delays(std::vector<double>& delaysMs) const {
        return clickDelays(sung, firstSung, heard, firstHeard, spacing, delaysMs);
    }

    static std::vector<std::size_t> clickFrames(double seconds, double clickSpacing) {
        std::vector<std::size_t> at;
        for (double t = 0.1; t < seconds; t += clickSpacing) {
            at.push_back(static_cast<std::size_t>(t * kVoiceRate));
        }
        return at;
    }

    double spacing;
    cvktest::Feeder singer;
    PulseRecorder sung;
    PulseRecorder heard;
    std::size_t firstSung = 0;
    std::size_t firstHeard = 0;
};

struct LatencyRun {
    std::int32_t bufferBytes = 0;
    double seconds = 0;
    std::size_t clicks = 0;  // heard on the microphone sink
    std::vector<double> latencyMs;
    std::uint64_t underruns = 0;
    std::uint64_t overruns = 0;
    std::uint64_t songUnderruns = 0;  // the synthesizer's, when a song played
    double songPeak = 0;              // the song on the speakers before the first click
    std::string failure;

    bool clean() const { return failure.empty() && underruns == 0 && overruns == 0 && latencyMs.size() == clicks; }
};

// With `echoMs` the monitor repeats each click that much later; with `song` the song above
// plays through the built-in synthesizer from before the recording starts to its end.
LatencyRun measureLatency(std::int32_t bufferBytes, double seconds, double spacing = kClickSeconds,
                          int echoMs = 0, bool song = false) {
    LatencyRun run;
    run.bufferBytes = bufferBytes;
    run.seconds = seconds;
    const auto microphoneSink = cvktest::outputNamed("Microphone");
    if (!microphoneSink) {
        run.failure = "no \"Microphone\" sink";
        return run;
    }
    ClickSinging clicks(seconds, spacing);
    if (std::string error; !clicks.listen(seconds + 8, error)) {
        run.failure = error;
        return run;
    }
    std::unique_ptr<SongBeside> playing;
    if (song) {
        playing = std::make_unique<SongBeside>(seconds + 4);
        if (!playing->failure.empty()) {
            run.failure = playing->failure;
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // past the song's start
    }
    cvktest::VoiceHost host;
    voxcapt::resetForTest();
    AudioSetEchoDelay(echoMs);
    if (AudioStartRecord(host.window.handle(), "", kVoiceRate, 1, 16, bufferBytes, -1, 1) != 1) {
        run.failure = "the recording did not start";
        return run;
    }
    const voxcapt::RecordingView view = voxcapt::recordingView();
    host.pumpFor(0.5);
    const std::uint64_t underrunsBefore = audio::waveOutUnderruns(view.monitorDevice);
    const std::uint64_t overrunsBefore = audio::waveInOverruns(view.inputDevice);
    run.failure = clicks.sing(host, *microphoneSink, seconds);
    run.underruns = audio::waveOutUnderruns(view.monitorDevice) - underrunsBefore;
    run.overruns = audio::waveInOverruns(view.inputDevice) - overrunsBefore;
    if (playing) {
        run.songUnderruns = playing->underruns();
        if (!playing->stillPlaying()) {
            run.failure = "the song ended before the clicks";
        }
    }
    AudioStopRecord();
    AudioSetEchoDelay(0);
    host.pumpUntil([] { return !voxcapt::recordingView().active; }, 3);
    clicks.stop();
    playing.reset();
    if (song) {
        // Up to 10 ms before the first click's onset: its rise is not the song's.
        const PulseRecorder& heard = clicks.heard;
        const std::size_t from = clicks.firstHeard;
        const auto first = cvktest::onsets(heard, from, 0.1f, 1);
        const std::size_t end = first.empty() ? heard.frames() : first.front();
        run.songPeak = heard.peak(from, std::max(from, end - std::min<std::size_t>(end, PulseRecorder::kRate / 100)));
    }

    run.clicks = clicks.delays(run.latencyMs);
    return run;
}

// With `song`, the synthesizer's underruns and the song's peak on the speakers too.
void printLatency(const std::vector<LatencyRun>& runs, const char* title, bool song = false) {
    std::printf("\n%s\n", title);
    std::printf("%8s %6s %7s %9s %9s %9s %8s %12s %10s", "buffer", "secs", "clicks", "heard", "p50 ms", "p95 ms",
                "max ms", "underrun/min", "overruns");
    std::printf(song ? " %10s %9s\n" : "\n", "synth dry", "song pk");
    for (const LatencyRun& run : runs) {
        if (!run.failure.empty()) {
            std::printf("%8d  failed: %s\n", run.bufferBytes, run.failure.c_str());
            continue;
        }
        std::printf("%8d %6.0f %7zu %9zu %9.1f %9.1f %8.1f %12.1f %10llu", run.bufferBytes, run.seconds, run.clicks,
                    run.latencyMs.size(), bench::percentile(run.latencyMs, 0.5),
                    bench::percentile(run.latencyMs, 0.95), bench::percentile(run.latencyMs, 1.0),
                    static_cast<double>(run.underruns) * 60 / run.seconds,
                    static_cast<unsigned long long>(run.overruns));
        if (song) {
            std::printf(" %10llu %9.3f", static_cast<unsigned long long>(run.songUnderruns), run.songPeak);
        }
        std::printf("\n");
    }
}

struct DriftRun {
    std::int32_t bufferBytes = 0;
    std::vector<double> latencyMs;  // of each click followed, in order
    std::uint64_t underruns = 0;
    std::uint64_t songUnderruns = 0;
    std::string failure;
};

DriftRun measureDrift(std::int32_t bufferBytes, double seconds, double stallMs, int echoMs = 0,
                      bool song = false) {
    DriftRun run;
    run.bufferBytes = bufferBytes;
    const auto microphoneSink = cvktest::outputNamed("Microphone");
    if (!microphoneSink) {
        run.failure = "no \"Microphone\" sink";
        return run;
    }
    std::vector<std::size_t> at;
    for (double t = 0.5; t < seconds; t += 1.0) {
        at.push_back(static_cast<std::size_t>(t * kVoiceRate));
    }
    const std::vector<std::int16_t> clicks = cvktest::clickTrack(seconds + 0.2, at);
    // At most 60 buffers (the device queues 64), all written at the start.
    const auto singerBytes = static_cast<std::uint32_t>(std::max<std::size_t>(16384, (clicks.size() * 2 / 60 + 1) & ~std::size_t{1}));
    cvktest::Feeder singer(clicks, nullptr, singerBytes, static_cast<int>(clicks.size() * 2 / singerBytes + 1));
    PulseRecorder sung;
    PulseRecorder heard;
    std::string error;
    if (!sung.start("microphone.monitor", seconds + 8, error) || !heard.start("speakers.monitor", seconds + 8, error)) {
        run.failure = error;
        return run;
    }
    std::unique_ptr<SongBeside> playing;
    if (song) {
        playing = std::make_unique<SongBeside>(seconds + 4);
        if (!playing->failure.empty()) {
            run.failure = playing->failure;
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    cvktest::VoiceHost host;
    voxcapt::resetForTest();
    AudioSetEchoDelay(echoMs);
    if (AudioStartRecord(host.window.handle(), "", kVoiceRate, 1, 16, bufferBytes, -1, 1) != 1) {
        run.failure = "the recording did not start";
        return run;
    }
    const voxcapt::RecordingView view = voxcapt::recordingView();
    host.pumpFor(0.5);
    const std::uint64_t underrunsBefore = audio::waveOutUnderruns(view.monitorDevice);
    const std::size_t firstSung = sung.frames();
    const std::size_t firstHeard = heard.frames();
    if (!singer.open(*microphoneSink)) {
        run.failure = "cannot play into the microphone sink";
    } else {
        double clock = 0;
        for (double stallAt = 3.5; stallMs > 0 && stallAt + 3 < seconds; stallAt += 3) {
            host.pumpFor(stallAt - clock, &singer);
            std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(stallMs * 1000)));
            clock = stallAt + stallMs / 1000;
        }
        if (!host.pumpUntil([&] { return singer.finished(); }, seconds + 5, &singer)) {
            run.failure = "the clicks did not finish playing";
        }
    }
    host.pumpFor(1.0, &singer);
    run.underruns = audio::waveOutUnderruns(view.monitorDevice) - underrunsBefore;
    if (playing) {
        run.songUnderruns = playing->underruns();
    }
    AudioStopRecord();
    AudioSetEchoDelay(0);
    host.pumpUntil([] { return !voxcapt::recordingView().active; }, 3);
    singer.close();
    playing.reset();
    sung.stop();
    heard.stop();

    constexpr std::size_t kQuiet = PulseRecorder::kRate / 20;
    const auto sungAt = cvktest::onsets(sung, firstSung, 0.1f, kQuiet);
    const auto heardAt = cvktest::onsets(heard, firstHeard, 0.1f, kQuiet);
    if (sungAt.empty() || heardAt.empty()) {
        return run;
    }
    // With an echo, a click the monitor dropped must not be followed by its echo: a delay
    // may move by a stall's length between two clicks, not by the echo's.
    const double tolerance = echoMs > 0 ? echoMs * 0.75 : 450;
    // The first sound on the speakers is the last click sung before it (the monitor may
    // have dropped the clicks before: it is allowed to); each later click is the onset
    // nearest the delay of the one before, which clicks a second apart keep unambiguous
    // for a delay that moves by less than half a second between two of them.
    double expected = 0;
    for (std::size_t onset : sungAt) {
        if (sung.frameMicros(onset) <= heard.frameMicros(heardAt.front())) {
            expected = millis(heard.frameMicros(heardAt.front()), sung.frameMicros(onset));
        }
    }
    for (std::size_t onset : sungAt) {
        const std::uint64_t sungMicros = sung.frameMicros(onset);
        double best = 1e9;
        for (std::size_t candidate : heardAt) {
            const double latency = millis(heard.frameMicros(candidate), sungMicros);
            if (std::abs(latency - expected) < std::abs(best - expected)) {
                best = latency;
            }
        }
        if (std::abs(best - expected) < tolerance) {
            run.latencyMs.push_back(best);
            expected = best;
        }
    }
    return run;
}

void printDrift(const std::vector<DriftRun>& runs, double seconds, double stallMs, const char* over = "") {
    std::printf("\nMonitor delay before and after disturbances (%.0f s, a click a second, window thread stalled %.0f ms every 3 s%s)\n",
                seconds, stallMs, over);
    std::printf("%8s %8s %14s %14s %10s %10s %10s %10s\n", "buffer", "clicks", "first 3 ms", "last 3 ms", "grew ms",
                "buffer ms", "underruns", "synth dry");
    for (const DriftRun& run : runs) {
        if (!run.failure.empty()) {
            std::printf("%8d  failed: %s\n", run.bufferBytes, run.failure.c_str());
            continue;
        }
        if (run.latencyMs.size() < 6) {
            std::printf("%8d  only %zu clicks followed\n", run.bufferBytes, run.latencyMs.size());
            continue;
        }
        const std::vector<double> first(run.latencyMs.begin(), run.latencyMs.begin() + 3);
        const std::vector<double> last(run.latencyMs.end() - 3, run.latencyMs.end());
        const double before = bench::percentile(first, 0.5);
        const double after = bench::percentile(last, 0.5);
        std::printf("%8d %8zu %14.1f %14.1f %10.1f %10.1f %10llu %10llu\n", run.bufferBytes, run.latencyMs.size(),
                    before, after, after - before, run.bufferBytes / 2 * 1000.0 / kVoiceRate,
                    static_cast<unsigned long long>(run.underruns), static_cast<unsigned long long>(run.songUnderruns));
    }
}

// The server's pass-through as the window's hardware processing makes it: the mixer
// library's microphone line unmuted on the speakers loads a loopback from the recording
// source to them. Clicks into the "Microphone" sink against their onsets on the speakers.
LatencyRun measureHardware(double seconds) {
    LatencyRun run;
    run.seconds = seconds;
    const auto microphoneSink = cvktest::outputNamed("Microphone");
    if (!microphoneSink) {
        run.failure = "no \"Microphone\" sink";
        return run;
    }
    platform::MessageQueue mixerWindow;
    audio::useRealMixer();
    faderlib::resetForTest();
    SetCallbackWindow(mixerWindow.handle());
    if (SelectOutputDevice(0) != 0 || SelectInputDevice(0) != 0 || GetMicrophoneSourceIndex() < 0 ||
        SelectInputSource(GetMicrophoneSourceIndex()) != 0) {
        run.failure = "the mixer library found no speakers and microphone";
        return run;
    }
    const std::uint32_t full[2] = {65535, 65535};
    SetMicOutputVolSetting(1, full);
    if (SetMicOutMuteSetting(0) != 0) {
        run.failure = "the pass-through could not be turned on";
    } else {
        ClickSinging clicks(seconds, kClickSeconds);
        std::string error;
        if (!clicks.listen(seconds + 4, error)) {
            run.failure = error;
        } else {
            cvktest::VoiceHost host;
            host.pumpFor(0.5);  // the loopback fills its buffer
            run.failure = clicks.sing(host, *microphoneSink, seconds);
            run.underruns = clicks.singer.underrunsBeforeTheEnd();
            clicks.stop();
            run.clicks = clicks.delays(run.latencyMs);
        }
    }
    SetMicOutMuteSetting(1);
    DeSelectInputDevice();
    DeSelectOutputDevice();
    return run;
}

struct StartsAndEnds {
    std::vector<double> starts;  // AudioPlayFile to the tone's first sound, ms
    std::vector<double> closes;  // the tone's last sound to the close notification, ms
};

// The tone's first sound on the speakers after each AudioPlayFile, and its last sound
// against the close notification that ends the voice for the program.
StartsAndEnds measureStarts(std::string& failure) {
    testing_support::TempDir dir;
    std::vector<std::int16_t> samples(kVoiceRate);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(16000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / kVoiceRate));
    }
    const std::string path = dir.write(
        "tone.wav", testing_support::waveFile(testing_support::pcmFormat(kVoiceRate, 1, 16),
                                              testing_support::samples16(samples)));
    PulseRecorder heard;
    if (!heard.start("speakers.monitor", kStarts * 2.0 + 2, failure)) {
        return {};
    }
    StartsAndEnds measured;
    for (int i = 0; i < kStarts; ++i) {
        cvktest::VoiceHost host;
        voxcapt::resetForTest();
        host.pumpFor(0.3);
        const std::size_t first = heard.frames();
        const std::uint64_t called = platform::clockMicros();
        if (AudioPlayFile(host.window.handle(), path.c_str()) != 1) {
            failure = "AudioPlayFile failed";
            break;
        }
        host.pumpUntil([&] { return host.closeMicros != 0; }, 5);
        heard.waitForSound(platform::clockMicros() + 200'000, 2'000'000);
        const auto onsets = cvktest::onsets(heard, first, 0.05f, 1);
        if (onsets.empty()) {
            failure = "a start was never heard";
            break;
        }
        measured.starts.push_back(millis(heard.frameMicros(onsets.front()), called));
        std::size_t end = heard.frames();
        while (end > onsets.front() && std::fabs(heard.sample(end - 1)) < 0.05f) {
            --end;
        }
        measured.closes.push_back(millis(host.closeMicros, heard.frameMicros(end)));
    }
    heard.stop();
    return measured;
}

// Percent of one core the process spends on a monitored recording with the echo.
double measureCpu(std::int32_t bufferBytes, double seconds, std::uint64_t& underruns, std::string& failure) {
    testing_support::TempDir dir;
    cvktest::VoiceHost host;
    voxcapt::resetForTest();
    AudioSetEchoDelay(300);
    const std::string take = dir.path("take.wav");
    if (AudioStartRecord(host.window.handle(), take.c_str(), kVoiceRate, 1, 16, bufferBytes, -1, 1) != 1) {
        failure = "the recording did not start";
        return 0;
    }
    const voxcapt::RecordingView view = voxcapt::recordingView();
    host.pumpFor(1.0);  // past the connection's start-up
    const std::uint64_t before = audio::waveOutUnderruns(view.monitorDevice);
    const double cpuStart = cpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    host.pumpFor(seconds);
    const double cpu = cpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    underruns = audio::waveOutUnderruns(view.monitorDevice) - before;
    AudioStopRecord();
    host.pumpUntil([] { return !voxcapt::recordingView().active; }, 3);
    AudioSetEchoDelay(0);
    return 100.0 * cpu / wall;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "all";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20;
    if (mode != "all" && mode != "latency" && mode != "start" && mode != "cpu" && mode != "drift" &&
        mode != "song" && mode != "hardware" && mode != "repeat") {
        std::fprintf(stderr, "usage: voice_bench [latency|start|cpu|all] [SECONDS]\n"
                             "       voice_bench drift [SECONDS] [STALL_MS]\n"
                             "       voice_bench song [SECONDS] [STALL_MS]\n"
                             "       voice_bench hardware [SECONDS]\n"
                             "       voice_bench repeat BYTES [RUNS] [SECONDS]\n");
        return 2;
    }
    if (!testing_support::benchServerGiven("voice_bench")) {
        return 77;
    }
    platform::setClockMode(platform::ClockMode::Real);
    audio::useRealWave();
    // Boxes go nowhere: a failed start shows in the table.
    platform::setMessageBoxHandler([](const platform::MessageBoxRequest& box) {
        std::fprintf(stderr, "voice_bench: box \"%s\"\n", box.text.c_str());
        return platform::defaultAnswer(box.buttons);
    });

    if (mode == "song") {
        synth::install();
        const double songSeconds = argc > 2 ? seconds : 60;
        const double stallMs = argc > 3 ? std::atof(argv[3]) : 150;
        constexpr int kEchoMs = 300;
        constexpr double kSpacing = 0.47;
        std::vector<LatencyRun> runs;
        for (std::int32_t size : {4096, 1024, 256}) {
            runs.push_back(measureLatency(size, songSeconds, kSpacing, kEchoMs, true));
        }
        printLatency(runs,
                     "Monitor latency over a song through the built-in synthesizer (clicks every 470 ms, echo 300 ms)",
                     true);
        std::vector<DriftRun> drifts;
        for (std::int32_t size : {4096, 1024, 256}) {
            drifts.push_back(measureDrift(size, 20, stallMs, kEchoMs, true));
        }
        printDrift(drifts, 20, stallMs, ", over the song, echo 300 ms");
        return 0;
    }
    if (mode == "repeat") {
        const auto bytes = static_cast<std::int32_t>(argc > 2 ? std::atoi(argv[2]) : 256);
        const int count = argc > 3 ? std::atoi(argv[3]) : 6;
        const double runSeconds = argc > 4 ? std::atof(argv[4]) : 20;
        std::vector<LatencyRun> runs;
        std::vector<double> p95s;
        std::vector<double> underrunsPerMinute;
        for (int i = 0; i < count; ++i) {
            runs.push_back(measureLatency(bytes, runSeconds));
            if (runs.back().failure.empty() && !runs.back().latencyMs.empty()) {
                p95s.push_back(bench::percentile(runs.back().latencyMs, 0.95));
                underrunsPerMinute.push_back(static_cast<double>(runs.back().underruns) * 60 / runSeconds);
            }
        }
        printLatency(runs, "Monitor latency, one buffer size, a new recording each run (echo off)");
        std::printf("  over %zu runs: median p95 %.1f ms, worst p95 %.1f ms, median underruns %.1f/min, runs without underrun %zu\n",
                    p95s.size(), bench::percentile(p95s, 0.5), bench::percentile(p95s, 1.0),
                    bench::percentile(underrunsPerMinute, 0.5),
                    static_cast<std::size_t>(std::count(underrunsPerMinute.begin(), underrunsPerMinute.end(), 0.0)));
        return 0;
    }
    if (mode == "hardware") {
        const LatencyRun run = measureHardware(seconds);
        std::printf("\nPass-through delay, microphone sink to speakers (the mixer library's loopback, clicks every %.0f ms)\n",
                    kClickSeconds * 1000);
        if (!run.failure.empty()) {
            std::printf("  failed: %s\n", run.failure.c_str());
            return 1;
        }
        std::printf("  clicks %zu, heard %zu: p50 %.1f ms  p95 %.1f ms  min %.1f ms  max %.1f ms  (singer underruns %llu)\n",
                    run.clicks, run.latencyMs.size(), bench::percentile(run.latencyMs, 0.5),
                    bench::percentile(run.latencyMs, 0.95), bench::percentile(run.latencyMs, 0.0),
                    bench::percentile(run.latencyMs, 1.0), static_cast<unsigned long long>(run.underruns));
        return 0;
    }
    if (mode == "drift") {
        const double stallMs = argc > 3 ? std::atof(argv[3]) : 250;
        std::vector<DriftRun> runs;
        for (std::int32_t size : {4096, 1024, 256}) {
            runs.push_back(measureDrift(size, seconds, stallMs));
        }
        printDrift(runs, seconds, stallMs);
        return 0;
    }

    std::int32_t smallestClean = 0;
    if (mode == "all" || mode == "latency") {
        std::vector<LatencyRun> runs;
        for (std::int32_t size : kSizes) {
            runs.push_back(measureLatency(size, seconds));
            if (runs.back().clean()) {
                smallestClean = size;
            }
        }
        // From the smallest size that lost nothing upward, the first that holds a minute.
        if (smallestClean != 0 && seconds < 60) {
            for (auto size = std::rbegin(kSizes); size != std::rend(kSizes); ++size) {
                if (*size < smallestClean) {
                    continue;
                }
                runs.push_back(measureLatency(*size, 60));
                smallestClean = *size;
                if (runs.back().clean()) {
                    break;
                }
            }
        }
        char title[160];
        std::snprintf(title, sizeof title,
                      "Monitor latency, microphone sink to speakers (clicks every %.0f ms, echo off)",
                      kClickSeconds * 1000);
        printLatency(runs, title);
    }
    if (mode == "all" || mode == "start") {
        std::string failure;
        const StartsAndEnds measured = measureStarts(failure);
        const std::vector<double>& starts = measured.starts;
        std::printf("\nPlayback start, AudioPlayFile to the first sound on the speakers (%zu starts)\n",
                    starts.size());
        if (!failure.empty()) {
            std::printf("  failed: %s\n", failure.c_str());
        }
        std::printf("  p50 %.1f ms   min %.1f ms   max %.1f ms\n", bench::percentile(starts, 0.5),
                    bench::percentile(starts, 0.0), bench::percentile(starts, 1.0));
        // Negative: closed before the end was heard (the recording's clock errs early by
        // up to a block of the server's).
        const std::vector<double>& closes = measured.closes;
        std::printf("Playback end, the tone's last sound on the speakers to the close notification\n");
        std::printf("  p50 %.1f ms   min %.1f ms   max %.1f ms\n", bench::percentile(closes, 0.5),
                    bench::percentile(closes, 0.0), bench::percentile(closes, 1.0));
    }
    if (mode == "all" || mode == "cpu") {
        std::printf("\nCPU of a monitored recording into a file, echo 300 ms, over %.0f s\n", seconds);
        std::printf("%8s %10s %10s\n", "buffer", "% core", "underruns");
        std::vector<std::int32_t> sizes = {4096};
        const std::int32_t smallest = smallestClean != 0 ? smallestClean : 64;
        if (smallest != 4096) {
            sizes.push_back(smallest);
        }
        double big = 0;
        for (std::int32_t size : sizes) {
            std::string failure;
            std::uint64_t underruns = 0;
            const double percent = measureCpu(size, seconds, underruns, failure);
            if (!failure.empty()) {
                std::printf("%8d  failed: %s\n", size, failure.c_str());
                continue;
            }
            std::printf("%8d %10.2f %10llu\n", size, percent, static_cast<unsigned long long>(underruns));
            if (size == 4096) {
                big = percent;
            } else if (big > 0) {
                std::printf("  %d bytes cost %.1f times what 4096 bytes cost\n", size, percent / big);
            }
        }
    }
    return 0;
}
