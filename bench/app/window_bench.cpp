// Measurements of the main window against a running sound server
// (source scripts/pulse-server.sh && pulse_start first):
//
//   window_bench start [runs]     time from starting cvk with a song to its window shown
//   window_bench cpu [seconds]    CPU of the window idle with a song loaded, then playing it
//   window_bench meters [seconds] [runs] [capture]
//                                 CPU of the window playing a 16-track song whose tracks all
//                                 sound all the time, so every meter of the mixer moves; with
//                                 "capture" into the capture device, not the synthesizer
//   window_bench lyrics [notes]   when a syllable turns red against when its note is heard
//   window_bench transport [runs] Play pressed to first sound, Stop pressed to silence
//   window_bench shot FILE [s]    a picture of the window after playing the bundled song s seconds
//   window_bench take [beats] [runs] [latency_ms]
//                                 where the clicks of a song land in a take recorded over it
//   window_bench reccpu [seconds] [buffer] [runs] [sixteen]
//                                 CPU of the window recording over a song, monitor and echo on
//   window_bench scorecpu [seconds] [runs] [shot.png]
//                                 the same recording with the pitch strip off, then on: what
//                                 the live trail and the strip cost (and a picture of the
//                                 window at the end of a run with the strip)
//
// start runs the real program as a child process; cpu, lyrics, transport, take and reccpu
// run the window in this process on the real clock with the built-in synthesizer playing
// into the server.
//
// take: a song of woodblock notes (program 115, a 32nd long) on every beat at 120 bpm,
// `beats` of them (default 40) after a bar's lead-in, played through the built-in
// synthesizer while the server carries the speakers into the microphone (a module-loopback
// from speakers.monitor to the "microphone" sink, latency_msec `latency_ms`, default 20): the
// singer sings exactly what the song plays. Rec is pressed in software processing with the
// monitor off (it would feed the loop back), the song plays to its end, which ends the
// take, and the performance is saved through the window's Save Performance, which reloads
// it and extracts its voice. In that voice, each click's onset against its note's time in
// the song, less the loopback's own delay (each click's onset on speakers.monitor against
// its onset on microphone.monitor, both recorded beside the take on one clock): median,
// spread (max - min) and p95 of |offset - median| per take, and the loopback's own
// median. What is left is what the recording path adds: the synthesizer's output delay,
// the recording's start against the song's and the input's latency. `runs` takes (default
// 3), each with a fresh window.
// reccpu: the window records over a song in software processing, the monitor on with a
// 300 ms echo, at a record buffer of `buffer` bytes (default 4096): the process's CPU
// (getrusage, every thread: window, sequencer, the synthesizer, the wave library) over
// `seconds` (default 30) from 2 s after Rec, in % of one core, and the monitor's underruns
// over that time; then the same song playing without a recording for comparison; median
// of `runs` (default 3). The song: melody, bass, pad and drums in eighths at 120 bpm, the
// melody changing program every 4 s; with "sixteen", the 16-track song meters plays.

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Cantivo.h"
#include "TakeRecovery.h"
#include "Lyricbox.h"
#include "PitchStrip.h"
#include "SmBmpBtn.h"
#include "RecordingSong.h"
#include "SmfBuilder.h"
#include "TestServer.h"
#include "Trkbar.h"
#include "Vledrow.h"
#include "WaveFile.h"
#include "audio/wave_out.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/mm_timer.h"
#include "platform/system.h"
#include "pulse_support.h"
#include "voxcapt/voxcapt.h"

namespace {

namespace fs = std::filesystem;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// A private settings folder and runtime folder, so nothing of the user's is touched and
// every start is a first instance.
std::string privateFolder(const char* what) {
    std::string pattern = (fs::temp_directory_path() / (std::string("cvkbench-") + what + "-XXXXXX")).string();
    return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A local loop: quitting the application's own loop would close every window.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// ---- start: fork cvk, wait for its "window shown" line on stderr
int startBench(int runs) {
    const std::string program = platform::programFolder() + "cvk";
    const std::string songPath = platform::programFolder() + "KAR/twinkle.kar";
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const std::string config = privateFolder("config");
        const std::string runtime = privateFolder("runtime");
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) return 1;
        const auto started = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(pipeFds[1], 2);
            ::close(pipeFds[0]);
            setenv("CVK_DEBUG", "1", 1);
            setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            if (std::getenv("DISPLAY") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(program.c_str(), program.c_str(), songPath.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        std::string seen;
        char buffer[512];
        double elapsedMs = -1;
        for (;;) {
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0) break;
            seen.append(buffer, static_cast<std::size_t>(n));
            if (seen.find("window shown, song loaded") != std::string::npos) {
                elapsedMs = std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now() - started).count();
                break;
            }
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ::close(pipeFds[0]);
        fs::remove_all(config);
        fs::remove_all(runtime);
        if (elapsedMs < 0) {
            std::fprintf(stderr, "window_bench: cvk never reported its window:\n%s\n", seen.c_str());
            return 1;
        }
        times.push_back(elapsedMs);
        std::printf("run %d: %.1f ms\n", run + 1, elapsedMs);
    }
    std::printf("start to window shown with a song loaded: median %.1f ms of %d runs (min %.1f, max %.1f)\n",
                median(times), runs, *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()));
    return 0;
}

// ---- the window in this process, on the built-in synthesizer
struct WindowUnderTest {
    std::string config = privateFolder("config");
    std::unique_ptr<cvkapp::TCantivo> window;

    // `savePerformanceAs`: the name the save dialog answers with (empty: the Qt dialog).
    explicit WindowUnderTest(const std::string& songPath, const std::string& settings = {},
                             const std::string& savePerformanceAs = {}) {
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        fs::create_directories(config + "/cantivo");
        std::ofstream(config + "/cantivo/CANTIVO.INI") << "[Configuration]\nRunConfigWizard=0\n" << settings;
        cvkapp::CantivoOptions options;
        options.commandLineFile = QString::fromStdString(songPath);
        if (!savePerformanceAs.empty()) {
            options.dialogs.saveFile = [savePerformanceAs](QWidget*, const cvkapp::FileDialogRequest&) {
                return cvkapp::FileDialogAnswer{QString::fromStdString(savePerformanceAs), 0};
            };
        }
        window = std::make_unique<cvkapp::TCantivo>(options);
        window->show();
        runFor(300);  // the first showing loads the song
    }
    // The song is loaded and the MIDI device opened; says which is not when either failed.
    bool ready() const {
        if (window->SongLoaded && !window->MidiInitFailed) {
            return true;
        }
        std::fprintf(stderr, "window_bench: song loaded %d, MIDI failed %d\n", window->SongLoaded,
                     window->MidiInitFailed);
        return false;
    }
    ~WindowUnderTest() {
        // A take the run left unsaved is the benchmark's own: it goes with its note, so
        // the next start of the player offers nothing.
        for (const std::string& take : {window->PendingWaveFile, window->RecordingFile}) {
            if (!take.empty()) {
                cvkapp::RemoveTakeNote(take);
                fs::remove(take);
            }
        }
        window.reset();
        fs::remove_all(config);
    }
};

int cpuBench(int seconds) {
    const std::string songPath = platform::programFolder() + "KAR/twinkle.kar";
    WindowUnderTest test(songPath);
    if (!test.ready()) {
        return 1;
    }
    double before = cpuSeconds();
    auto wallStart = std::chrono::steady_clock::now();
    runFor(seconds * 1000);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    std::printf("idle window, song loaded: %.2f %% of one core over %.1f s\n",
                100.0 * (cpuSeconds() - before) / wall, wall);

    // Playing: the song again and again for the whole time.
    QTimer replay;
    replay.setInterval(100);
    QObject::connect(&replay, &QTimer::timeout, [&] {
        if (!test.window->SongPlaying) test.window->PlayButtonClick();
    });
    test.window->PlayButtonClick();
    replay.start();
    before = cpuSeconds();
    wallStart = std::chrono::steady_clock::now();
    runFor(seconds * 1000);
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    replay.stop();
    std::printf("window playing through the built-in synthesizer: %.2f %% of one core over %.1f s\n",
                100.0 * (cpuSeconds() - before) / wall, wall);
    test.window->StopButtonClick();
    return 0;
}

// ---- meters: sixteen tracks on sixteen channels, each striking a chord of one to three
// notes every eighth at 120 bpm, a different phase per track, for two minutes: about as
// much activity as the meters lose in between, so they rise and fall all the time.
std::vector<std::uint8_t> sixteenTrackSong() {
    using testing_support::Track;
    constexpr std::uint32_t kDivision = 96;
    constexpr std::uint32_t kEighth = kDivision / 2;
    constexpr int kNotes = 480;  // 2 minutes of eighths
    std::vector<Track> tracks;
    for (int t = 0; t < 16; ++t) {
        Track track;
        // The tempo rides in the first track, so that the sixteen tracks fill the sixteen strips.
        if (t == 0) track.tempo(0, 500'000);
        const int channel = t;
        if (channel != 9) track.program(0, channel, (t * 8) % 128);
        const int key = channel == 9 ? 42 : 48 + t;
        const std::uint32_t lead = static_cast<std::uint32_t>(t) * 3;
        for (int n = 0; n < kNotes; ++n) {
            const int chord = 1 + (n + t) % 3;
            for (int k = 0; k < chord; ++k) {
                track.noteOn(k == 0 ? (n == 0 ? lead : kEighth - 12) : 0, channel, key + 4 * k, 70 + (n + t) % 40);
            }
            for (int k = 0; k < chord; ++k) track.noteOff(k == 0 ? 12 : 0, channel, key + 4 * k);
        }
        tracks.push_back(track.end());
    }
    return testing_support::smf(1, kDivision, tracks);
}

// Lit LEDs over every track meter of the window: the voice level meter is not one.
int litTrackLeds(cvkapp::TCantivo& window) {
    int lit = 0;
    for (const TVLEDRow* meter : window.findChildren<TVLEDRow*>()) {
        if (meter != window.RecLedLevel && meter->isVisible()) lit += meter->Level();
    }
    return lit;
}

// With `capture` the song goes to the capture device instead of the built-in
// synthesizer: what is left is the window's own cost, without the synthesizer's noise.
int metersBench(int seconds, int runs, bool capture) {
    const std::string folder = privateFolder("song");
    std::string settings;
    if (capture) {
        setenv("CVK_MIDI_CAPTURE", (folder + "/capture.csv").c_str(), 1);
        settings = "[Selected midi device]\nDevice name=Capture\n";
    }
    const std::string songPath = folder + "/sixteen.mid";
    const auto bytes = sixteenTrackSong();
    std::ofstream(songPath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    std::vector<double> loads;
    int result = 0;
    for (int run = 0; run < runs && result == 0; ++run) {
        WindowUnderTest test(songPath, settings);
        if (!test.ready()) {
            result = 1;
            break;
        }
        test.window->PlayButtonClick();
        runFor(1000);  // past the first notes and the synthesizer's start
        // Every 50 ms tick: how many meters show something, to tell that they really move.
        long samples = 0, litSum = 0, changes = 0;
        int lastLit = -1;
        QTimer sampler;
        sampler.setInterval(50);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const int lit = litTrackLeds(*test.window);
            ++samples;
            litSum += lit;
            changes += lit != lastLit ? 1 : 0;
            lastLit = lit;
        });
        sampler.start();
        const double before = cpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        runFor(seconds * 1000);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        const double load = 100.0 * (cpuSeconds() - before) / wall;
        sampler.stop();
        const bool playing = test.window->SongPlaying;
        test.window->StopButtonClick();
        loads.push_back(load);
        std::printf("run %d: %.2f %% of one core over %.1f s; lit track LEDs %.1f on average, changed on %ld of %ld "
                    "ticks%s\n",
                    run + 1, load, wall, samples > 0 ? static_cast<double>(litSum) / static_cast<double>(samples) : 0.0,
                    changes, samples, playing ? "" : " (the song ended early)");
    }
    fs::remove_all(folder);
    if (!loads.empty()) {
        std::printf("window playing 16 tracks: median %.2f %% of one core of %zu runs (min %.2f, max %.2f)\n",
                    median(loads), loads.size(), *std::min_element(loads.begin(), loads.end()),
                    *std::max_element(loads.begin(), loads.end()));
    }
    return result;
}

// ---- lyrics: one syllable on each claves note, a note every 610 ms. Not a multiple of the
// window's 50 ms timer, so the notes fall on every phase of it.
std::vector<std::uint8_t> clavesSong(int notes) {
    std::vector<std::uint8_t> words, drums;
    auto varLen = [](std::vector<std::uint8_t>& out, std::uint32_t v) {
        std::uint8_t bytes[5];
        int n = 0;
        bytes[n++] = v & 0x7F;
        while ((v >>= 7) != 0) bytes[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
        while (n > 0) out.push_back(bytes[--n]);
    };
    const std::uint32_t quarter = 96;
    // A quarter of 610 ms (610,000 us = 0x094F10).
    std::vector<std::uint8_t> conductor = {0x00, 0xFF, 0x51, 0x03, 0x09, 0x4F, 0x10, 0x00, 0xFF, 0x2F, 0x00};
    drums = {0x00, 0xB9, 0x07, 0x7F};
    for (int i = 0; i < notes; ++i) {
        const std::string syllable = "la" + std::to_string(i) + (i % 4 == 3 ? "/" : " ");
        varLen(words, quarter);
        words.insert(words.end(), {0xFF, 0x01});
        varLen(words, static_cast<std::uint32_t>(syllable.size()));
        words.insert(words.end(), syllable.begin(), syllable.end());
        varLen(drums, i == 0 ? quarter : quarter - 10);
        drums.insert(drums.end(), {0x99, 75, 127});
        varLen(drums, 10);
        drums.insert(drums.end(), {0x89, 75, 0});
    }
    for (auto* track : {&words, &drums}) track->insert(track->end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 3, 0, 96};
    for (auto* track : {&conductor, &drums, &words}) {  // karaoke words: third track
        const auto size = static_cast<std::uint32_t>(track->size());
        file.insert(file.end(), {'M', 'T', 'r', 'k', static_cast<std::uint8_t>(size >> 24),
                                 static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 8),
                                 static_cast<std::uint8_t>(size)});
        file.insert(file.end(), track->begin(), track->end());
    }
    return file;
}

int lyricsBench(int notes) {
    const std::string folder = privateFolder("song");
    const std::string songPath = folder + "/claves.kar";
    const auto bytes = clavesSong(notes);
    std::ofstream(songPath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    cvktest::PulseRecorder recording;
    std::string error;
    if (!recording.start("speakers.monitor", notes * 0.61 + 6.0, error)) {
        std::fprintf(stderr, "window_bench: %s\n", error.c_str());
        return 1;
    }
    int result = 1;
    {
        WindowUnderTest test(songPath);
        if (!test.ready()) {
            return 1;
        }
        if (test.window->SongLyrics == nullptr) {
            std::fprintf(stderr, "window_bench: the song's lyrics were not found\n");
            return 1;
        }
        std::vector<std::uint64_t> marked;  // when each syllable turned red
        int lastLine = -1, lastSyllable = -1;
        lyrics::TLyricBox* box = test.window->LyricBox1;
        QObject::connect(box, &lyrics::TLyricBox::positionChanged, [&] {
            if (box->syllable() >= 0 && (box->topLine() != lastLine || box->syllable() != lastSyllable)) {
                marked.push_back(platform::clockMicros());
            }
            lastLine = box->topLine();
            lastSyllable = box->syllable();
        });
        const std::size_t firstFrame = recording.frames();
        test.window->PlayButtonClick();
        QEventLoop loop;
        QTimer done;
        done.setInterval(50);
        QObject::connect(&done, &QTimer::timeout, [&] {
            if (!test.window->SongPlaying) loop.quit();
        });
        done.start();
        loop.exec();
        recording.waitForSound(platform::clockMicros() + 500'000, 3'000'000);
        recording.stop();

        // Onsets: a rise above a twentieth of full scale after 10 ms of quiet.
        std::vector<std::uint64_t> heard;
        std::size_t quiet = cvktest::PulseRecorder::kRate;
        for (std::size_t i = firstFrame; i < recording.frames(); ++i) {
            if (std::abs(recording.sample(i)) > 0.05f) {
                if (quiet >= cvktest::PulseRecorder::kRate / 100) heard.push_back(recording.frameMicros(i));
                quiet = 0;
            } else {
                ++quiet;
            }
        }
        std::printf("%d notes: %zu syllables marked, %zu onsets heard\n", notes, marked.size(), heard.size());
        const std::size_t pairs = std::min(marked.size(), heard.size());
        std::vector<double> offsets;
        for (std::size_t k = 0; k < pairs; ++k) {
            offsets.push_back((static_cast<double>(marked[k]) - static_cast<double>(heard[k])) / 1000.0);
        }
        if (!offsets.empty()) {
            std::vector<double> sorted = offsets;
            std::sort(sorted.begin(), sorted.end());
            std::vector<double> magnitudes;
            for (double o : offsets) magnitudes.push_back(std::abs(o));
            std::sort(magnitudes.begin(), magnitudes.end());
            std::printf("red syllable - sound at the sink: min %.1f ms, median %.1f ms, max %.1f ms; "
                        "|offset| p95 %.1f ms, max %.1f ms (goal: within 50 ms)\n",
                        sorted.front(), median(offsets), sorted.back(),
                        magnitudes[static_cast<std::size_t>(0.95 * static_cast<double>(magnitudes.size() - 1) + 0.5)],
                        magnitudes.back());
            result = pairs == static_cast<std::size_t>(notes) ? 0 : 1;
        }
    }
    fs::remove_all(folder);
    return result;
}

// ---- transport: Play pressed to the first sound at the sink, Stop pressed to the sink
// silent for good. The song sounds from its first tick (a piano chord) and holds an organ
// chord, which never decays by itself, so Stop always cuts a note at full level.
std::vector<std::uint8_t> heldChordSong() {
    using testing_support::Track;
    Track piano, organ;
    piano.program(0, 0, 0);
    organ.program(0, 1, 16);
    for (const int key : {60, 64, 67}) {
        piano.noteOn(0, 0, key, 127);
        organ.noteOn(0, 1, key, 127);
    }
    piano.noteOff(480, 0, 60).noteOff(0, 0, 64).noteOff(0, 0, 67).end();
    organ.noteOff(480 * 40, 1, 60).noteOff(0, 1, 64).noteOff(0, 1, 67).end();
    const Track conductor = Track().tempo(0, 500'000).end();  // 20 s at 120 bpm
    return testing_support::smf(1, 480, {conductor, piano, organ});
}

// The time after `fromMicros` at which the sink goes quiet below `threshold` for good.
double silentAfterMs(const cvktest::PulseRecorder& recording, std::uint64_t fromMicros, float threshold) {
    std::size_t quietFrom = recording.frameAt(fromMicros);
    for (std::size_t i = quietFrom; i < recording.frames(); ++i) {
        if (std::abs(recording.sample(i)) > threshold) quietFrom = i + 1;
    }
    // Quiet from the frame holding `fromMicros` on counts as no time at all.
    return std::max(0.0, (static_cast<double>(recording.frameMicros(quietFrom)) - static_cast<double>(fromMicros)) / 1000.0);
}

void printSummary(const char* what, const std::vector<double>& ms) {
    if (ms.empty()) {
        std::printf("%s: no run succeeded\n", what);
        return;
    }
    std::printf("%s: median %.1f ms of %zu runs (min %.1f, max %.1f)\n", what, median(ms), ms.size(),
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
}

int transportBench(int runs) {
    constexpr float kSound = 0.01f;     // -40 dBFS, as the players' benchmark
    constexpr float kSilence = 0.001f;  // -60 dBFS: nothing left to hear under music
    // The sink first: the synthesizer opens its stream on the default sink at each Play.
    cvktest::PrivateSink sink;
    std::string error;
    if (!sink.create(error)) {
        std::fprintf(stderr, "window_bench: %s\n", error.c_str());
        return 1;
    }
    const std::string folder = privateFolder("song");
    const std::string songPath = folder + "/held.mid";
    const auto bytes = heldChordSong();
    std::ofstream(songPath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    cvktest::PulseRecorder recording;
    if (!recording.start(sink.monitor().c_str(), runs * 5.0 + 5.0, error)) {
        std::fprintf(stderr, "window_bench: %s\n", error.c_str());
        return 1;
    }
    std::vector<double> toSound, toQuiet, toSilence;
    {
        // The window's creation probe has loaded the SoundFont by the time it is shown.
        WindowUnderTest test(songPath);
        if (!test.ready()) {
            fs::remove_all(folder);
            return 1;
        }
        runFor(500);
        for (int run = 0; run < runs; ++run) {
            const std::uint64_t playAt = platform::clockMicros();
            test.window->PlayButtonClick();
            runFor(2000);
            const auto onset = recording.onset(recording.frameAt(playAt), recording.frames(), kSound);
            const std::uint64_t stopAt = platform::clockMicros();
            test.window->StopButtonClick();
            runFor(1500);
            recording.waitForSound(platform::clockMicros(), 1'000'000);
            if (!onset) {
                std::printf("run %d: no sound at the sink within 2 s of Play\n", run + 1);
                continue;
            }
            const float before = recording.peak(recording.frameAt(stopAt - 100'000), recording.frameAt(stopAt));
            if (before <= kSound) {
                std::printf("run %d: nothing sounding when Stop was pressed (peak %.4f)\n", run + 1, before);
                continue;
            }
            toSound.push_back((static_cast<double>(recording.frameMicros(*onset)) - static_cast<double>(playAt)) / 1000.0);
            toQuiet.push_back(silentAfterMs(recording, stopAt, kSound));
            toSilence.push_back(silentAfterMs(recording, stopAt, kSilence));
            std::printf("run %d: Play to sound %.1f ms, Stop to below -40 dBFS %.1f ms, to below -60 dBFS %.1f ms\n",
                        run + 1, toSound.back(), toQuiet.back(), toSilence.back());
        }
    }
    recording.stop();
    fs::remove_all(folder);
    printSummary("Play pressed to first sound at the sink (above -40 dBFS)", toSound);
    printSummary("Stop pressed to the sink below -40 dBFS for good", toQuiet);
    printSummary("Stop pressed to the sink below -60 dBFS for good", toSilence);
    return toSound.size() == static_cast<std::size_t>(runs) ? 0 : 1;
}

// ---- take: where the clicks of a song land in a take recorded over it
constexpr std::uint32_t kTakeDivision = 96;
constexpr double kBeatMs = 500.0;  // 120 bpm

std::vector<std::uint8_t> woodblockSong(int beats) {
    using testing_support::Track;
    Track conductor;
    conductor.tempo(0, 500'000).end();
    Track clicks;
    clicks.program(0, 0, 115).control(0, 0, 7, 127);
    for (int beat = 0; beat < beats; ++beat) {
        // A bar's lead-in, then a note on every beat, a 32nd long.
        clicks.noteOn(beat == 0 ? 4 * kTakeDivision : kTakeDivision - kTakeDivision / 8, 0, 76, 127);
        clicks.noteOff(kTakeDivision / 8, 0, 76);
    }
    clicks.end(kTakeDivision * 2);
    return testing_support::smf(1, kTakeDivision, {conductor, clicks});
}

// The first channel of a 16-bit wave file (the project's own reader), and its rate;
// empty when unreadable.
std::vector<float> readWave(const std::string& path, int& rate) {
    platform::FileReader file;
    voxcapt::ParsedWave wave;
    if (!file.open(path) || voxcapt::parseWave(file, wave) != voxcapt::WaveParseError::None ||
        wave.format.bitsPerSample != 16 || wave.format.channels == 0 || !file.seek(wave.dataOffset)) {
        return {};
    }
    std::vector<std::int16_t> samples(wave.dataSize / 2);
    if (!file.read(samples.data(), samples.size() * 2)) return {};
    std::vector<float> mono;
    for (std::size_t i = 0; i < samples.size(); i += wave.format.channels) mono.push_back(samples[i] / 32768.0f);
    rate = static_cast<int>(wave.format.samplesPerSec);
    return mono;
}

// Onsets (frames) where the sound rises above `threshold` after `quiet` frames below it.
std::vector<std::size_t> onsetsIn(const std::vector<float>& samples, float threshold, std::size_t quiet) {
    std::vector<std::size_t> found;
    std::size_t below = quiet;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > threshold) {
            if (below >= quiet) found.push_back(i);
            below = 0;
        } else {
            ++below;
        }
    }
    return found;
}

struct Spread {
    double median = 0, min = 0, max = 0, p95 = 0;
};

Spread spreadOf(std::vector<double> values) {
    Spread out;
    if (values.empty()) return out;
    std::sort(values.begin(), values.end());
    out.median = median(values);
    out.min = values.front();
    out.max = values.back();
    std::vector<double> deviations;
    for (double v : values) deviations.push_back(std::abs(v - out.median));
    std::sort(deviations.begin(), deviations.end());
    out.p95 = deviations[static_cast<std::size_t>(0.95 * static_cast<double>(deviations.size() - 1) + 0.5)];
    return out;
}

// The server's loop from the speakers into the microphone, for as long as this lives.
struct SpeakersIntoMicrophone {
    std::string module;
    explicit SpeakersIntoMicrophone(int latencyMs) {
        module = cvktest::run("pactl load-module module-loopback source=speakers.monitor sink=microphone "
                              "latency_msec=" + std::to_string(latencyMs) +
                              " source_dont_move=true sink_dont_move=true");
        while (!module.empty() && (module.back() == '\n' || module.back() == ' ')) module.pop_back();
    }
    ~SpeakersIntoMicrophone() {
        if (!module.empty()) cvktest::run("pactl unload-module " + module);
    }
};

int takeBench(int beats, int runs, int loopMs) {
    const std::string folder = privateFolder("take");
    const std::string songPath = folder + "/woodblock.mid";
    const auto bytes = woodblockSong(beats);
    std::ofstream(songPath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    // Boxes go nowhere: a refusal shows as a missing take.
    platform::setMessageBoxHandler([](const platform::MessageBoxRequest& box) {
        std::fprintf(stderr, "window_bench: box \"%s\"\n", box.text.c_str());
        return platform::defaultAnswer(box.buttons);
    });
    // Software processing with the monitor off: the loop is the singer, the monitor would
    // feed it back.
    const std::string settings = "Configured=1\nSoftware=1\n[Monitor]\nStatus=0\n";
    std::vector<double> medians, spreads, loops;
    int result = 0;
    for (int run = 0; run < runs; ++run) {
        SpeakersIntoMicrophone loop(loopMs);
        if (loop.module.empty()) {
            std::fprintf(stderr, "window_bench: the loopback could not be loaded\n");
            result = 1;
            break;
        }
        const std::string performance = folder + "/take" + std::to_string(run) + ".pfc";
        const double songSeconds = (beats + 8) * kBeatMs / 1000.0;
        cvktest::PulseRecorder played, sung;
        std::string error;
        if (!played.start("speakers.monitor", songSeconds + 20, error) ||
            !sung.start("microphone.monitor", songSeconds + 20, error)) {
            std::fprintf(stderr, "window_bench: %s\n", error.c_str());
            result = 1;
            break;
        }
        std::vector<float> voice;
        int rate = 0;
        std::uint64_t recReturned = 0;  // Rec has started the recording and then the song
        {
            WindowUnderTest test(songPath, settings, performance);
            if (!test.ready()) {
                result = 1;
                break;
            }
            runFor(500);
            test.window->RecButtonClick();
            recReturned = platform::clockMicros();
            if (!test.window->Recording) {
                std::fprintf(stderr, "window_bench: the recording did not start\n");
                result = 1;
                break;
            }
            // The song's end ends the take.
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(songSeconds + 30);
            while ((test.window->Recording || test.window->Audio.AudioGetRecordResult(nullptr, 0) == -1) &&
                   std::chrono::steady_clock::now() < giveUp) {
                runFor(50);
            }
            if (test.window->Recording) test.window->StopButtonClick();
            runFor(300);
            if (test.window->PendingWaveFile.empty() || !test.window->SavePerformance()) {
                std::fprintf(stderr, "window_bench: the take was not saved\n");
                result = 1;
                break;
            }
            // Saving reloads the performance and takes its voice out of it.
            voice = readWave(test.window->PendingWaveFile, rate);
        }
        played.stop();
        sung.stop();
        if (voice.empty() || rate <= 0) {
            std::fprintf(stderr, "window_bench: the saved performance has no readable voice\n");
            result = 1;
            break;
        }

        // The loop's own delay: each click on the speakers against the same click in the
        // microphone, nearest within a third of a beat.
        constexpr std::size_t kQuietFrames = cvktest::PulseRecorder::kRate / 10;
        float loudest = played.peak(0, played.frames());
        const auto playedAt = cvktest::onsets(played, 0, loudest / 4, kQuietFrames);
        const auto sungAt = cvktest::onsets(sung, 0, sung.peak(0, sung.frames()) / 4, kQuietFrames);
        std::vector<double> loopDelays;
        for (std::size_t p : playedAt) {
            double best = 1e9;
            for (std::size_t q : sungAt) {
                const double d = (static_cast<double>(sung.frameMicros(q)) - static_cast<double>(played.frameMicros(p))) / 1000.0;
                if (std::abs(d) < std::abs(best)) best = d;
            }
            if (best > -5 && best < kBeatMs / 3) loopDelays.push_back(best);
        }
        const double loopMedian = median(loopDelays);
        // The song on the speakers against Rec's return and its notes' times: how late the
        // synthesizer sounds (a share of what the take's offset holds).
        std::vector<double> speakersLate;
        for (std::size_t p : playedAt) {
            const double atMs = (static_cast<double>(played.frameMicros(p)) - static_cast<double>(recReturned)) / 1000.0;
            const double beat = std::round(atMs / kBeatMs - 4);
            if (beat >= 0 && beat < beats) speakersLate.push_back(atMs - (4 + beat) * kBeatMs);
        }

        // The voice's clicks against their notes: beat k sounds at 4 + k beats.
        float voicePeak = 0;
        for (float v : voice) voicePeak = std::max(voicePeak, std::abs(v));
        const auto voiceAt = onsetsIn(voice, voicePeak / 4, static_cast<std::size_t>(rate / 10));
        std::vector<double> offsets;
        for (std::size_t onset : voiceAt) {
            const double atMs = static_cast<double>(onset) * 1000.0 / rate;
            const double beat = std::round(atMs / kBeatMs - 4);
            if (beat < 0 || beat >= beats) continue;
            const double offset = atMs - (4 + beat) * kBeatMs - loopMedian;
            if (std::abs(offset) < kBeatMs / 3) offsets.push_back(offset);
        }
        const Spread take = spreadOf(offsets);
        const Spread loopSpread = spreadOf(loopDelays);
        std::printf("take %d: %zu of %d clicks in the voice (%zu onsets, peak %.2f); voice - note - loop: median %.1f ms, "
                    "min %.1f, max %.1f, spread %.1f ms, p95 |dev| %.1f ms; loop %.1f ms (%zu clicks, spread %.1f ms); "
                    "speakers - (Rec returned + note time) median %.1f ms\n",
                    run + 1, offsets.size(), beats, voiceAt.size(), voicePeak, take.median, take.min, take.max,
                    take.max - take.min, take.p95, loopMedian, loopDelays.size(), loopSpread.max - loopSpread.min,
                    median(speakersLate));
        if (offsets.size() < static_cast<std::size_t>(beats) / 2) {
            result = 1;
            continue;
        }
        medians.push_back(take.median);
        spreads.push_back(take.max - take.min);
        loops.push_back(loopMedian);
    }
    fs::remove_all(folder);
    if (!medians.empty()) {
        std::printf("voice - note time - loopback: median of take medians %.1f ms (min %.1f, max %.1f) over %zu takes; "
                    "median spread within a take %.1f ms; loopback's own delay median %.1f ms\n",
                    median(medians), *std::min_element(medians.begin(), medians.end()),
                    *std::max_element(medians.begin(), medians.end()), medians.size(), median(spreads), median(loops));
    }
    return result;
}

// ---- reccpu: the window recording over a song with the monitor and a 300 ms echo

// Two minutes of the song to record over.
constexpr int kBandEighths = 480;

int recCpuBench(int seconds, int bufferBytes, int runs, bool sixteen) {
    const std::string folder = privateFolder("song");
    const std::string songPath = folder + "/song.mid";
    const auto bytes = sixteen ? sixteenTrackSong() : bench::recordingSong(kBandEighths);
    std::ofstream(songPath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    platform::setMessageBoxHandler([](const platform::MessageBoxRequest& box) {
        std::fprintf(stderr, "window_bench: box \"%s\"\n", box.text.c_str());
        return platform::defaultAnswer(box.buttons);
    });
    const std::string settings = "Configured=1\nSoftware=1\nBuffer Size (bytes) of each buffer=" +
                                 std::to_string(bufferBytes) + "\n[Monitor]\nStatus=1\n";
    std::vector<double> recording, playing;
    int result = 0;
    std::uint64_t underrunsBefore = 0;
    auto measure = [&](cvkapp::TCantivo& window) {
        runFor(2000);
        if (window.Recording) underrunsBefore = audio::waveOutUnderruns(voxcapt::recordingView().monitorDevice);
        const double before = cpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        runFor(seconds * 1000);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        const double load = 100.0 * (cpuSeconds() - before) / wall;
        return window.SongPlaying ? load : -1.0;
    };
    for (int run = 0; run < runs && result == 0; ++run) {
        {
            WindowUnderTest test(songPath, settings);
            if (!test.ready()) {
                result = 1;
                break;
            }
            test.window->DelayBar->SetCurrentPos(300);
            test.window->DelayBarChange();
            runFor(300);
            test.window->RecButtonClick();
            const bool started = test.window->Recording;
            const double load = started ? measure(*test.window) : -1;
            const std::uint64_t underruns =
                started ? audio::waveOutUnderruns(voxcapt::recordingView().monitorDevice) - underrunsBefore : 0;
            test.window->StopButtonClick();
            runFor(500);
            if (load < 0) {
                std::fprintf(stderr, "window_bench: the recording did not start or the song ended early\n");
                result = 1;
                break;
            }
            recording.push_back(load);
            std::printf("run %d: recording (monitor, echo 300 ms, %d-byte buffers) %.2f %% of one core over %d s, "
                        "monitor underruns %llu\n",
                        run + 1, bufferBytes, load, seconds, static_cast<unsigned long long>(underruns));
        }
        {
            WindowUnderTest test(songPath, settings);
            test.window->PlayButtonClick();
            const double load = measure(*test.window);
            test.window->StopButtonClick();
            if (load >= 0) {
                playing.push_back(load);
                std::printf("run %d: the song playing, no recording: %.2f %% of one core\n", run + 1, load);
            }
        }
    }
    fs::remove_all(folder);
    if (!recording.empty()) {
        std::printf("window recording over the %s song, monitor and 300 ms echo, %d-byte buffers: median %.2f %% of "
                    "one core of %zu runs (min %.2f, max %.2f); playing alone: median %.2f %%\n",
                    sixteen ? "16-track" : "four-part", bufferBytes, median(recording), recording.size(),
                    *std::min_element(recording.begin(), recording.end()),
                    *std::max_element(recording.begin(), recording.end()), median(playing));
    }
    return result;
}

// ---- scorecpu: the window recording over a song with the pitch strip off, then on
//
// A singer sings into the server's microphone throughout (paplay, a process of its own, a
// sine melody of 300 ms notes): the strip draws its trail from a real voice. The song is
// reccpu's, its melody on the strip. Each run records once with the strip off and once
// with it on, the window's CPU (getrusage, every thread) over `seconds` from 2 s after
// Rec; medians of `runs`. Run it under Xvfb (DISPLAY set) so that the strip is painted as
// on a desktop.

// A minute and a half of a voice singing scale notes, 16-bit mono at 22,050 Hz.
void writeSinger(const std::string& path) {
    constexpr int kRate = 22050;
    constexpr int kSeconds = 90;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(kRate) * kSeconds);
    const int keys[] = {60, 62, 64, 65, 67, 69, 71, 72};
    double phase = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::size_t note = i / (kRate * 3 / 10);
        phase += 440.0 * std::pow(2.0, (keys[note % std::size(keys)] - 69) / 12.0) / kRate;
        phase -= std::floor(phase);
        samples[i] = static_cast<std::int16_t>(0.3 * 32767.0 * std::sin(2.0 * M_PI * phase));
    }
    std::ofstream out(path, std::ios::binary);
    const auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(kRate);
    u32(kRate * 2);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(bytes));
}

int scoreCpuBench(int seconds, int runs, const char* shotFile) {
    const std::string folder = privateFolder("score");
    const std::string songPath = folder + "/song.mid";
    const auto bytes = bench::recordingSong(kBandEighths);
    std::ofstream(songPath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    const std::string singer = folder + "/singer.wav";
    writeSinger(singer);
    // Takes and their notes in a folder of the bench's own: a note another run left in the
    // shared temporary folder would stop each start with a question.
    fs::create_directories(folder + "/tmp");
    setenv("TMPDIR", (folder + "/tmp").c_str(), 1);
    platform::setMessageBoxHandler([](const platform::MessageBoxRequest& box) {
        std::fprintf(stderr, "window_bench: box \"%s\"\n", box.text.c_str());
        return platform::defaultAnswer(box.buttons);
    });
    std::vector<double> off, on;
    int result = 0;
    for (int run = 0; run < runs && result == 0; ++run) {
        for (const bool strip : {false, true}) {
            const pid_t sing = ::fork();
            if (sing == 0) {
                ::execlp("paplay", "paplay", "--device=microphone", singer.c_str(), static_cast<char*>(nullptr));
                ::_exit(127);
            }
            const std::string settings = std::string("Configured=1\nSoftware=1\n[Monitor]\nStatus=1\n[Pitch]\nStrip=") +
                                         (strip ? "1" : "0") + "\n";
            double load = -1.0;
            {
                WindowUnderTest test(songPath, settings);
                if (test.ready()) {
                    test.window->RecButtonClick();
                    if (test.window->Recording) {
                        runFor(2000);
                        const double before = cpuSeconds();
                        const auto wallStart = std::chrono::steady_clock::now();
                        runFor(seconds * 1000);
                        const double wall =
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
                        load = test.window->SongPlaying ? 100.0 * (cpuSeconds() - before) / wall : -1.0;
                        if (strip && shotFile != nullptr) {
                            test.window->grab().save(shotFile);
                        }
                        if (const auto* drawn = test.window->LyricPanel->findChild<lyrics::TPitchStrip*>(); strip) {
                            const auto& sung = drawn->sung();
                            std::printf("  trail: %ld of %zu frames of the last 2 s sung\n",
                                        std::count_if(sung.begin(), sung.end(),
                                                      [](const pitch::PitchFrame& f) { return f.pitch > 0.0f; }),
                                        sung.size());
                        }
                    }
                    test.window->StopButtonClick();
                    runFor(500);
                }
            }
            ::kill(sing, SIGTERM);
            ::waitpid(sing, nullptr, 0);
            if (load < 0) {
                std::fprintf(stderr, "window_bench: the recording did not start or the song ended early\n");
                result = 1;
                break;
            }
            (strip ? on : off).push_back(load);
            std::printf("run %d: recording, pitch strip %s: %.2f %% of one core over %d s\n", run + 1,
                        strip ? "on " : "off", load, seconds);
        }
    }
    fs::remove_all(folder);
    if (!on.empty() && !off.empty()) {
        std::printf("window recording over the four-part song with a singer: strip off median %.2f %%, strip on "
                    "median %.2f %% of one core (%zu runs); the strip and its live trail: %+.2f %% of one core\n",
                    median(off), median(on), on.size(), median(on) - median(off));
    }
    return result;
}

int shot(const char* file, int seconds) {
    WindowUnderTest test(platform::programFolder() + "KAR/twinkle.kar");
    test.window->PlayButtonClick();
    runFor(seconds * 1000);
    const bool saved = test.window->grab().save(file);
    test.window->StopButtonClick();
    return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!testing_support::benchServerGiven("window_bench")) {
        return 77;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    const int count = argc > 2 && mode != "shot" ? std::atoi(argv[2]) : 0;
    if (mode == "start") {
        return startBench(count > 0 ? count : 9);
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    if (mode == "cpu") {
        return cpuBench(count > 0 ? count : 20);
    }
    if (mode == "meters") {
        return metersBench(count > 0 ? count : 20, argc > 3 ? std::max(1, std::atoi(argv[3])) : 5,
                           argc > 4 && std::strcmp(argv[4], "capture") == 0);
    }
    if (mode == "shot" && argc > 2) {
        return shot(argv[2], argc > 3 ? std::atoi(argv[3]) : 8);
    }
    if (mode == "lyrics") {
        return lyricsBench(count > 0 ? count : 40);
    }
    if (mode == "transport") {
        return transportBench(count > 0 ? count : 5);
    }
    if (mode == "take") {
        return takeBench(count > 0 ? count : 40, argc > 3 ? std::max(1, std::atoi(argv[3])) : 3,
                         argc > 4 ? std::max(1, std::atoi(argv[4])) : 20);
    }
    if (mode == "scorecpu") {
        return scoreCpuBench(count > 0 ? count : 30, argc > 3 ? std::max(1, std::atoi(argv[3])) : 3,
                             argc > 4 ? argv[4] : nullptr);
    }
    if (mode == "reccpu") {
        return recCpuBench(count > 0 ? count : 30, argc > 3 ? std::max(16, std::atoi(argv[3])) : 4096,
                           argc > 4 ? std::max(1, std::atoi(argv[4])) : 3,
                           argc > 5 && std::strcmp(argv[5], "sixteen") == 0);
    }
    std::fprintf(stderr, "usage: window_bench start [runs] | cpu [seconds] | meters [seconds] [runs] [capture] | lyrics [notes] | "
                         "transport [runs] | shot FILE [seconds] | take [beats] [runs] [latency_ms] | "
                         "reccpu [seconds] [buffer] [runs] [sixteen] | scorecpu [seconds] [runs] [shot.png]\n");
    return 2;
}
