#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include "SmfBuilder.h"
#include "SmfReader.h"
#include "ToolTestSupport.h"

using namespace tooltest;

namespace {

struct Captured {
    unsigned long long micros = 0;
    unsigned status = 0, data1 = 0, data2 = 0;
    bool isNoteOn() const { return (status & 0xF0) == 0x90 && data2 > 0; }
    bool isNoteEvent() const { return (status & 0xE0) == 0x80; }
};

// Lines of "time_us,status,data1,data2"; data bytes a message lacks are empty.
std::vector<Captured> readCapture(const std::string& path) {
    std::vector<Captured> messages;
    std::istringstream in(readText(path));
    std::string line;
    while (std::getline(in, line)) {
        Captured m;
        if (std::sscanf(line.c_str(), "%llu,%u,%u,%u", &m.micros, &m.status, &m.data1, &m.data2) >=
            2) {
            messages.push_back(m);
        }
    }
    return messages;
}

std::vector<std::string> playExample(const TempFolder& folder, std::vector<std::string> extra) {
    std::vector<std::string> argv{CVKTOOL_PATH, "play", EXAMPLE_SONG, "--capture",
                                  folder.file("x.csv")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

bool sequencerExported() {
    void* library = ::dlopen(SEQUENCER_PATH, RTLD_NOW | RTLD_LOCAL);
    const bool exported = library != nullptr && ::dlsym(library, "CallStartSong") != nullptr;
    if (library != nullptr) {
        ::dlclose(library);
    }
    return exported;
}

// The build puts the real sequencer beside the tests: a library without its names is a
// broken build, not a reason to skip.
#define REQUIRE_SEQUENCER()          \
    ASSERT_TRUE(sequencerExported()) \
        << SEQUENCER_PATH << " does not export the sequencer's functions"

constexpr double kMicrosPerTick = 600000.0 / 480;

}  // namespace

// Guards against: usage and unreadable-file failures reported with the wrong status or no message.
TEST(CvktoolRun, ReportsUsageAndReadErrors) {
    TempFolder folder;
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases{
        {{}, 2, "usage: cvktool"},
        {{"frobnicate"}, 2, "unknown command"},
        {{"play", "--tempo", "300", "x.kar"}, 2, "usage: cvktool play FILE"},
        {{"play", "/nonexistent/song.kar"},
         1,
         "cvktool: cannot read /nonexistent/song.kar: No such file or directory"},
        {{"play", folder.path().string()}, 1, "Is a directory"},
    };
    for (const auto& [args, exitCode, stderrHas] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        std::vector<std::string> argv{CVKTOOL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult run = runProgram(argv);
        EXPECT_EQ(run.exitCode, exitCode);
        EXPECT_NE(run.err.find(stderrHas), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    const RunResult help = runProgram({CVKTOOL_PATH, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("play FILE"), std::string::npos);
}

// Guards against: notes lost, reordered or played at the wrong time on the way from file to device.
TEST(CvktoolRun, PlaysExampleThroughCaptureOnVirtualClock) {
    REQUIRE_SEQUENCER();
    TempFolder folder;
    const RunResult run = runProgram(playExample(folder, {"--virtual-clock"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "ended\n");

    Smf song;
    ASSERT_EQ(readSmf(fileBytes(EXAMPLE_SONG), song), "");
    std::vector<std::uint32_t> noteTicks;
    std::uint32_t firstMelodyTick = UINT32_MAX;
    std::uint32_t songEnd = 0;
    for (const auto& track : song.tracks) {
        for (const SmfEvent& event : track) {
            if (event.isNoteOn()) {
                noteTicks.push_back(event.tick);
                if ((event.status & 0x0F) == 0) {
                    firstMelodyTick = std::min(firstMelodyTick, event.tick);
                }
            }
        }
        songEnd = std::max(songEnd, track.back().tick);
    }

    const std::vector<Captured> messages = readCapture(folder.file("x.csv"));
    std::vector<Captured> noteOns;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(noteOns),
                 [](const Captured& m) { return m.isNoteOn(); });
    ASSERT_EQ(noteOns.size(), noteTicks.size());
    EXPECT_TRUE(
        std::is_sorted(noteOns.begin(), noteOns.end(),
                       [](const Captured& a, const Captured& b) { return a.micros < b.micros; }));
    const auto firstMelody = std::find_if(noteOns.begin(), noteOns.end(),
                                          [](const Captured& m) { return (m.status & 0x0F) == 0; });
    ASSERT_NE(firstMelody, noteOns.end());
    // The sequencer's 1 ms clock lands exactly on this song's ticks; allow a couple of periods.
    EXPECT_NEAR(firstMelody->micros, firstMelodyTick * kMicrosPerTick, 2000);
    EXPECT_NEAR(noteOns.back().micros,
                *std::max_element(noteTicks.begin(), noteTicks.end()) * kMicrosPerTick, 2000);
    EXPECT_GE(messages.back().micros, songEnd * kMicrosPerTick - 2000);
}

// Guards against: key, tempo, volumes or instruments dropped on their way to the sequencer.
TEST(CvktoolRun, HandsSongOptionsToTheSequencer) {
    REQUIRE_SEQUENCER();
    TempFolder folder;
    const RunResult run = runProgram(
        playExample(folder, {"--virtual-clock", "--key", "3", "--tempo", "120", "--volumes",
                             "0,0,0,-10", "--instruments", "255,255,255,40"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<Captured> messages = readCapture(folder.file("x.csv"));
    const auto program = std::find_if(messages.begin(), messages.end(),
                                      [](const Captured& m) { return m.status == 0xC0; });
    const auto melody = std::find_if(messages.begin(), messages.end(), [](const Captured& m) {
        return m.isNoteOn() && m.status == 0x90;
    });
    ASSERT_NE(program, messages.end());
    ASSERT_NE(melody, messages.end());
    EXPECT_EQ(program->data1, 40u);
    EXPECT_EQ(melody->data1, 72u + 3);
    EXPECT_EQ(melody->data2, 92u - 10);
    EXPECT_NEAR(melody->micros, 1920 * 500000.0 / 480, 2000);  // one bar at 120 bpm
}

// Guards against: quitting without stopping the song, which leaves notes sounding on the device.
TEST(CvktoolRun, QuitKeyFromAPipeStopsAndSilences) {
    REQUIRE_SEQUENCER();
    TempFolder folder;
    writeText(folder.file("keys"), "q");
    const RunResult run = runProgram(playExample(folder, {}), folder.file("keys"), {}, 20);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "stopped\n");
    std::map<std::pair<unsigned, unsigned>, bool> sounding;
    for (const Captured& m : readCapture(folder.file("x.csv"))) {
        if (m.isNoteEvent()) {
            sounding[{m.status & 0x0F, m.data1}] = m.isNoteOn();
        }
    }
    ASSERT_FALSE(sounding.empty()) << "the song did not start";
    for (const auto& [note, on] : sounding) {
        EXPECT_FALSE(on) << "channel " << note.first << " note " << note.second;
    }
}

// Guards against: a command-line device choice written into the user's own settings file,
// or the temporary copy left behind.
TEST(CvktoolRun, DeviceChoiceGoesIntoATemporaryCopy) {
    REQUIRE_SEQUENCER();
    TempFolder folder;
    TempFolder temporaries;
    const std::string settings =
        "[Selected midi device]\nDevice name=Some Other Synth\n[Mine]\nx=1\n";
    writeText(folder.file("user.ini"), settings);
    const RunResult run =
        runProgram(playExample(folder, {"--settings", folder.file("user.ini"), "--virtual-clock"}),
                   "/dev/null", {"TMPDIR=" + temporaries.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readText(folder.file("user.ini")), settings);
    EXPECT_FALSE(readCapture(folder.file("x.csv")).empty()) << "the capture device was not chosen";
    EXPECT_TRUE(std::filesystem::is_empty(temporaries.path()));
}

// Guards against: a SoundFont choice (option or settings key) that is ignored, and one that
// cannot be read stopping the song instead of being passed over with a word to the user.
TEST(CvktoolRun, UnreadableSoundFontChoiceIsReportedAndPassedOver) {
    REQUIRE_SEQUENCER();
    TempFolder folder;
    const std::string missing = folder.file("gone.sf2");
    writeText(folder.file("user.ini"), "[Preferences]\nSoundFont=" + missing + "\n");
    for (const auto& extra : std::vector<std::vector<std::string>>{
             {"--soundfont", missing}, {"--settings", folder.file("user.ini")}}) {
        SCOPED_TRACE(extra.front());
        std::vector<std::string> options{"--virtual-clock"};
        options.insert(options.end(), extra.begin(), extra.end());
        const RunResult run = runProgram(playExample(folder, options));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find("cannot read SoundFont " + missing), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "ended\n");
    }
}

// Guards against: the song handed to the sequencer unsplit, so that per-track volumes and
// instruments hit a whole format 0 song instead of one channel of it.
TEST(CvktoolRun, PlaysTheSplitCopyWithOneChannelPerTrack) {
    REQUIRE_SEQUENCER();
    TempFolder folder;
    // Format 0, division 96: channel 0 and channel 1 notes in one track.
    const std::string track{'\x00', '\x90', 60, 100, '\x00', '\x91', 40, 100,
                            '\x60', '\x80', 60, 0,   '\x00', '\x81', 40, 0,
                            '\x00', '\xFF', '\x2F', '\x00'};
    std::string song = std::string("MThd") + std::string{0, 0, 0, 6, 0, 0, 0, 1, 0, 96} + "MTrk" +
                       std::string{0, 0, 0, static_cast<char>(track.size())} + track;
    writeText(folder.file("two.mid"), song);
    const RunResult run =
        runProgram({CVKTOOL_PATH, "play", folder.file("two.mid"), "--capture", folder.file("x.csv"),
                    "--virtual-clock", "--volumes", "0,-128"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::map<unsigned, unsigned> velocityOfChannel;
    for (const Captured& m : readCapture(folder.file("x.csv"))) {
        if ((m.status & 0xF0) == 0x90) {
            velocityOfChannel[m.status & 0x0F] = m.data2;
        }
    }
    EXPECT_EQ(velocityOfChannel[0], 100u);
    EXPECT_EQ(velocityOfChannel[1], 0u);

    const RunResult unsplit =
        runProgram({CVKTOOL_PATH, "play", folder.file("two.mid"), "--capture", folder.file("y.csv"),
                    "--virtual-clock", "--volumes", "0,-128", "--no-split"});
    ASSERT_EQ(unsplit.exitCode, 0) << unsplit.err;
    for (const Captured& m : readCapture(folder.file("y.csv"))) {
        if ((m.status & 0xF0) == 0x90) {
            EXPECT_EQ(m.data2, 100u);
        }
    }
}

// Guards against: a split failure played anyway or reported as success.
TEST(CvktoolRun, SplitCommandReportsAddedTracksAndFailures) {
    TempFolder folder;
    const RunResult ok = runProgram({CVKTOOL_PATH, "split", EXAMPLE_SONG, folder.file("out.mid")});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_NE(ok.out.find("added tracks: 0"), std::string::npos);
    writeText(folder.file("bad.mid"), "RIFF....WAVE");
    const RunResult bad = runProgram({CVKTOOL_PATH, "split", folder.file("bad.mid"), folder.file("o.mid")});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("Header does not contain a MThd in input file :"), std::string::npos) << bad.err;
    const RunResult play = runProgram({CVKTOOL_PATH, "play", folder.file("bad.mid"), "--capture",
                                       folder.file("x.csv"), "--virtual-clock"});
    EXPECT_EQ(play.exitCode, 1);
    EXPECT_EQ(runProgram({CVKTOOL_PATH, "split", "only-one"}).exitCode, 2);
}

// Guards against: lyrics shown out of step with the song, or lines lost between polls.
TEST(CvktoolRun, LyricsFollowTheSongLineByLine) {
    REQUIRE_SEQUENCER();
    TempFolder folder;
    // Format 1, division 96 at 600 bpm (a quarter every 100 ms): three .kar lines of two
    // syllables, a note under each, on the real clock.
    auto text = [](int delta, const std::string& words) {
        return std::string{static_cast<char>(delta), '\xFF', '\x01', static_cast<char>(words.size())} + words;
    };
    std::string words = std::string{0, '\xFF', '\x51', 3, 0x01, '\x86', '\xA0'} +
                        text(96, "/One ") + text(48, "two,") + text(48, "/Three ") + text(48, "four.") +
                        text(48, "/Five ") + text(48, "six") +
                        std::string{'\x83', '\x60', '\xFF', '\x2F', 0};  // half a second on
    auto chunk = [](const std::string& body) {
        return std::string("MTrk") + std::string{0, 0, 0, static_cast<char>(body.size())} + body;
    };
    const std::string empty{0, '\xFF', '\x2F', 0};
    const std::string song = std::string("MThd") + std::string{0, 0, 0, 6, 0, 1, 0, 3, 0, 96} +
                             chunk(words.substr(0, 7) + empty) + chunk(empty) + chunk(words.substr(7));
    writeText(folder.file("words.kar"), song);
    const RunResult run = runProgram({CVKTOOL_PATH, "play", folder.file("words.kar"), "--capture",
                                      folder.file("x.csv"), "--lyrics"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "One two,\nThree four.\nFive six\nended\n");
}

// Guards against the terminal showing a backing track's stray lyric events instead of the
// song's words from the moment the strays begin.
TEST(CvktoolRun, LyricsComeFromTheTrackWithMostOfThem) {
    REQUIRE_SEQUENCER();
    TempFolder folder;
    using testing_support::Track;
    // Division 96 at 600 bpm: a quarter every 100 ms, half a second of words.
    const auto lyric = [](Track& track, std::uint32_t delta, const std::string& text, int channel) {
        track.meta(delta, 5, text).noteOn(0, channel, 60, 100).noteOff(8, channel, 60);
    };
    Track words;
    lyric(words, 96, "One ", 0);
    lyric(words, 40, "two,", 0);
    lyric(words, 40, "Three ", 0);
    lyric(words, 40, "four.", 0);
    words.end(48);
    Track strays;
    lyric(strays, 120, "y ", 1);
    lyric(strays, 2, "y ", 1);
    lyric(strays, 2, "y ", 1);
    strays.end();
    const auto song = testing_support::smf(1, 96, {Track().tempo(0, 100000).end(), words, strays});
    writeText(folder.file("words.mid"), std::string(song.begin(), song.end()));
    const RunResult run = runProgram({CVKTOOL_PATH, "play", folder.file("words.mid"), "--capture",
                                      folder.file("x.csv"), "--lyrics"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "One two,\nThree four.\nended\n");
}

// Guards against --follow-tempo not reaching the sequencer, --tempo not setting the first
// section's tempo on the map, or the song's later tempo being lost: 120 then 60 beats per
// minute played at a ratio of 4/3 (90, then 45), against the one tempo without the flag.
TEST(CvktoolRun, FollowTempoPlaysTheSongsOwnTempoChanges) {
    REQUIRE_SEQUENCER();
    TempFolder folder;
    using testing_support::Track;
    Track conductor;
    conductor.tempo(0, 500000).tempo(8 * 96, 1000000).end();
    Track notes;
    for (int i = 0; i < 16; ++i) {
        notes.noteOn(i == 0 ? 0 : 96, 0, 60, 100);
    }
    notes.end();
    const testing_support::ByteVector bytes = testing_support::smf(1, 96, {conductor, notes});
    writeText(folder.file("rit.mid"), std::string(bytes.begin(), bytes.end()));
    struct Case {
        bool follow;
        double note8Ms;
        double note12Ms;
    };
    for (const Case c : {Case{true, 8 * 60e3 / 90, 8 * 60e3 / 90 + 4 * 60e3 / 45}, Case{false, 8 * 60e3 / 90, 12 * 60e3 / 90}}) {
        std::vector<std::string> argv{CVKTOOL_PATH, "play", folder.file("rit.mid"), "--capture", folder.file("x.csv"),
                                      "--virtual-clock", "--tempo", "90"};
        if (c.follow) {
            argv.push_back("--follow-tempo");
        }
        const RunResult run = runProgram(argv);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::vector<Captured> ons;
        for (const Captured& m : readCapture(folder.file("x.csv"))) {
            if (m.isNoteOn()) {
                ons.push_back(m);
            }
        }
        ASSERT_EQ(ons.size(), 16u) << c.follow;
        EXPECT_NEAR((ons[8].micros - ons[0].micros) / 1000.0, c.note8Ms, 1.0) << c.follow;
        EXPECT_NEAR((ons[12].micros - ons[0].micros) / 1000.0, c.note12Ms, 1.0) << c.follow;
    }
}
