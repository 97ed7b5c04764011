// cvktool render run as a user runs it: the files it writes read back with libsndfile and
// measured with libebur128, the voice found where it belongs, and every failure leaving
// no file behind and an old one as it was.

#include <gtest/gtest.h>

#include <ebur128.h>
#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "SmfBuilder.h"
#include "ToolTestSupport.h"

using namespace tooltest;
using testing_support::smf;
using testing_support::Track;

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Sound {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved
    std::size_t frames() const { return channels == 0 ? 0 : samples.size() / static_cast<std::size_t>(channels); }
};

Sound readSound(const std::string& path) {
    Sound sound;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return sound;
    }
    sound.rate = info.samplerate;
    sound.channels = info.channels;
    sound.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sound.samples.resize(static_cast<std::size_t>(sf_readf_float(file, sound.samples.data(), info.frames) * info.channels));
    sf_close(file);
    return sound;
}

float peakOf(const Sound& sound) {
    float peak = 0;
    for (const float s : sound.samples) {
        peak = std::max(peak, std::abs(s));
    }
    return peak;
}

// A mono 16-bit voice at 22,050 Hz: a click (a few loud samples, then silence)
// at each of `seconds`.
void writeClicks(const std::string& path, double length, const std::vector<double>& seconds) {
    constexpr int kRate = 22050;
    std::vector<short> samples(static_cast<std::size_t>(length * kRate), 0);
    for (const double at : seconds) {
        const auto first = static_cast<std::size_t>(at * kRate);
        for (std::size_t i = first; i < first + 4 && i < samples.size(); ++i) {
            samples[i] = 10000;  // well below full scale: no level fitting
        }
    }
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_writef_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

// Where the loud moments of a sound are, in seconds: the loudest sample of each run of
// samples above half the peak.
std::vector<double> clicksOf(const Sound& sound) {
    std::vector<double> at;
    const float threshold = peakOf(sound) / 2;
    std::size_t best = 0;
    float bestValue = 0;
    std::size_t lastLoud = 0;
    bool inClick = false;
    for (std::size_t f = 0; f < sound.frames(); ++f) {
        const float value = std::abs(sound.samples[f * static_cast<std::size_t>(sound.channels)]);
        if (value > threshold) {
            if (!inClick || f - lastLoud > 1000) {
                if (inClick) {
                    at.push_back(static_cast<double>(best) / sound.rate);
                }
                inClick = true;
                bestValue = 0;
            }
            if (value > bestValue) {
                bestValue = value;
                best = f;
            }
            lastLoud = f;
        }
    }
    if (inClick) {
        at.push_back(static_cast<double>(best) / sound.rate);
    }
    return at;
}

std::vector<std::string> render(const std::string& song, const std::string& out, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{CVKTOOL_PATH, "render", song, out};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

std::vector<std::string> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A performance whose song is silent for four seconds and whose voice is clicks.
std::string clickPerformance(const TempFolder& folder) {
    Track track;
    track.control(0, 0, 7, 100).control(4 * 96 * 2, 0, 7, 100).end();
    const auto bytes = smf(0, 96, {track});
    writeText(folder.file("silent.mid"), std::string(bytes.begin(), bytes.end()));
    writeClicks(folder.file("clicks.wav"), 3.0, {0.5, 1.5});
    const RunResult made = runProgram({CVKTOOL_PATH, "pfc", "make", folder.file("silent.mid"),
                                       folder.file("clicks.wav"), folder.file("clicks.pfc")});
    EXPECT_EQ(made.exitCode, 0) << made.err;
    return folder.file("clicks.pfc");
}

}  // namespace

// Guards against a format written as another, a file cut short or padded, a mono or
// resampled file, and silence: the bundled song in each format, read back.
TEST(RenderRun, EveryFormatReadsBackWithTheSongsLength) {
    TempFolder folder;
    std::size_t wavFrames = 0;
    for (const char* name : {"song.wav", "song.flac", "song.ogg"}) {
        SCOPED_TRACE(name);
        const RunResult run = runProgram(render(EXAMPLE_SONG, folder.file(name)));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const Sound sound = readSound(folder.file(name));
        EXPECT_EQ(sound.rate, 44100);
        EXPECT_EQ(sound.channels, 2);
        // The song's last message comes at 35.7 s; the tail rings out within a few seconds.
        EXPECT_GT(sound.frames(), 35 * 44100u);
        EXPECT_LT(sound.frames(), 45 * 44100u);
        EXPECT_GT(peakOf(sound), 0.05f);
        if (wavFrames == 0) {
            wavFrames = sound.frames();
        } else {
            EXPECT_EQ(sound.frames(), wavFrames);
        }
    }
    EXPECT_EQ(folderNames(folder.file("")), (std::vector<std::string>{"song.flac", "song.ogg", "song.wav"}));
}

// Guards against a voice placed without its offset, resampled by the wrong ratio, mixed at
// the wrong gain, or left in with --no-voice.
TEST(RenderRun, TheVoiceLandsAtItsOffsetWithItsGain) {
    TempFolder folder;
    const std::string performance = clickPerformance(folder);
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::vector<double> clicks;  // seconds
    };
    const Case cases[] = {
        {"as recorded", {}, {0.5, 1.5}},
        {"one second later", {"--voice-offset", "1"}, {1.5, 2.5}},
        {"one second earlier", {"--voice-offset=-1"}, {0.5}},
        {"no voice", {"--no-voice"}, {}},
    };
    float fullPeak = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult run = runProgram(render(performance, folder.file("out.wav"), c.options));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const Sound sound = readSound(folder.file("out.wav"));
        if (c.clicks.empty()) {
            EXPECT_LT(peakOf(sound), 1e-3f);
            continue;
        }
        const std::vector<double> found = clicksOf(sound);
        ASSERT_EQ(found.size(), c.clicks.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_NEAR(found[i], c.clicks[i], 0.001) << i;
        }
        fullPeak = std::max(fullPeak, peakOf(sound));
    }
    const RunResult quieter = runProgram(render(performance, folder.file("out.wav"), {"--voice-gain", "-6"}));
    ASSERT_EQ(quieter.exitCode, 0) << quieter.err;
    EXPECT_NEAR(peakOf(readSound(folder.file("out.wav"))) / fullPeak, 0.501, 0.03);
}

// Guards against a loudness target missed, or reached by clipping.
TEST(RenderRun, ALoudnessTargetIsMetWithoutClipping) {
    TempFolder folder;
    const RunResult run = runProgram(render(EXAMPLE_SONG, folder.file("loud.wav"), {"--loudness", "-14"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Sound sound = readSound(folder.file("loud.wav"));
    ebur128_state* state = ebur128_init(2, 44100, EBUR128_MODE_I);
    ASSERT_NE(state, nullptr);
    ebur128_add_frames_float(state, sound.samples.data(), sound.frames());
    double loudness = 0;
    ebur128_loudness_global(state, &loudness);
    ebur128_destroy(&state);
    EXPECT_NEAR(loudness, -14.0, 0.5);
    EXPECT_LE(peakOf(sound), 0.8913f + 1.0f / 32768);  // -1 dBFS and the 16-bit rounding
}

// Guards against a failed or cancelled render reported as success, leaving a part of a
// file, or spoiling the file it was to replace.
TEST(RenderRun, FailuresLeaveNoFileAndTheOldOneAsItWas) {
    TempFolder folder;
    writeText(folder.file("old.wav"), "the old file");
    writeText(folder.file("notasong.mid"), "MThd, but not really");
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        int exitCode;
    };
    const Case cases[] = {
        {"not a song", render(folder.file("notasong.mid"), folder.file("old.wav")), 1},
        {"missing song", render(folder.file("missing.mid"), folder.file("old.wav")), 1},
        {"no such folder", render(EXAMPLE_SONG, folder.file("nowhere/out.wav")), 1},
        {"unknown format", render(EXAMPLE_SONG, folder.file("old.mp3")), 2},
        {"bad gain", render(EXAMPLE_SONG, folder.file("old.wav"), {"--voice-gain", "loud"}), 2},
        {"no output", {CVKTOOL_PATH, "render", EXAMPLE_SONG}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult run = runProgram(c.argv);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_FALSE(run.err.empty());
        EXPECT_EQ(readText(folder.file("old.wav")), "the old file");
        EXPECT_EQ(folderNames(folder.file("")), (std::vector<std::string>{"notasong.mid", "old.wav"}));
    }
}

// Guards against a cancel (SIGTERM, as the window's Cancel sends) that leaves a partial
// file or reports success: an hour-long song stopped a moment into its render.
TEST(RenderRun, ACancelledRenderLeavesNothing) {
    TempFolder folder;
    Track track;
    for (int n = 0; n < 3600; ++n) {
        track.noteOn(n == 0 ? 0 : 96, 0, 60, 90).noteOff(96, 0, 60);
    }
    track.end();
    const auto bytes = smf(0, 96, {track});  // an hour at 120 bpm
    writeText(folder.file("hour.mid"), std::string(bytes.begin(), bytes.end()));
    writeText(folder.file("old.wav"), "the old file");
    const std::vector<std::string> argv = render(folder.file("hour.mid"), folder.file("old.wav"));
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, args[0], &actions, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        GTEST_SKIP() << "the hour was rendered within 1.5 s: nothing was left to cancel";
    }
    // Stopped with its message, or (on a machine so busy that the signal came before the
    // program was ready for it) ended by the signal before it wrote anything.
    EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 1) || (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM))
        << status;
    EXPECT_EQ(readText(folder.file("old.wav")), "the old file");
    EXPECT_EQ(folderNames(folder.file("")), (std::vector<std::string>{"hour.mid", "old.wav"}));
}
