#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PlayOptions.h"

using namespace cvktool;

namespace {

PlayCommandLine parse(const std::vector<std::string>& words) {
    const std::vector<std::string_view> args(words.begin(), words.end());
    return parsePlayOptions(args);
}

std::string listOf(int count, const std::string& item) {
    std::string list = item;
    for (int i = 1; i < count; ++i) {
        list += "," + item;
    }
    return list;
}

PlayOptions accepted(const std::vector<std::string>& words) {
    const PlayCommandLine result = parse(words);
    EXPECT_TRUE(std::holds_alternative<PlayOptions>(result)) << ::testing::PrintToString(words);
    return std::holds_alternative<PlayOptions>(result) ? std::get<PlayOptions>(result)
                                                       : PlayOptions();
}

}  // namespace

// Guards against: accepted values lost or misplaced, and unset tables not at their neutral values.
TEST(PlayOptions, AcceptsGoodCommandLines) {
    const PlayOptions plain = accepted({"song.kar"});
    EXPECT_EQ(plain.file, "song.kar");
    EXPECT_EQ(plain.tempo, 0);
    EXPECT_EQ(plain.volumes[63], 0);
    EXPECT_EQ(plain.instruments[0], 255);
    EXPECT_EQ(plain.instruments[63], 255);

    const PlayOptions low = accepted({"--tempo", "40", "--key", "-127", "--volumes", "-128,127,5",
                                      "--instruments", "0,255,127", "s"});
    EXPECT_EQ(low.tempo, 40);
    EXPECT_EQ(low.key, -127);
    EXPECT_EQ(std::vector<int>(low.volumes.begin(), low.volumes.begin() + 4),
              (std::vector<int>{-128, 127, 5, 0}));
    EXPECT_EQ(std::vector<int>(low.instruments.begin(), low.instruments.begin() + 4),
              (std::vector<int>{0, 255, 127, 255}));

    const PlayOptions high = accepted({"s", "--tempo=240", "--key=+5", "--device", "My Synth",
                                       "--settings", "a.ini", "--virtual-clock", "--no-split", "--follow-tempo"});
    EXPECT_EQ(high.file, "s");
    EXPECT_EQ(high.tempo, 240);
    EXPECT_EQ(high.key, 5);
    EXPECT_EQ(high.device, "My Synth");
    EXPECT_EQ(high.settings, "a.ini");
    EXPECT_TRUE(high.virtualClock && high.noSplit && high.followTempo);
    EXPECT_FALSE(plain.followTempo);

    EXPECT_EQ(accepted({"--volumes", listOf(64, "-3"), "s"}).volumes[63], -3);
    EXPECT_EQ(accepted({"--capture", "out.csv", "s"}).capture, "out.csv");
    EXPECT_EQ(accepted({"s", "--soundfont", "gm.sf3"}).soundFont, "gm.sf3");
    EXPECT_FALSE(plain.soundFont.has_value());
    EXPECT_EQ(accepted({"--", "--odd-name.kar"}).file, "--odd-name.kar");
}

// Guards against: out-of-range or malformed values reaching the sequencer instead of a usage error.
TEST(PlayOptions, RejectsBadCommandLines) {
    const std::vector<std::vector<std::string>> lines{
        {},
        {"a.kar", "b.kar"},
        {"--tempo", "39", "s"},
        {"--tempo", "241", "s"},
        {"--tempo", "1e2", "s"},
        {"--tempo", "", "s"},
        {"--tempo", "-0", "s"},
        {"s", "--tempo"},
        {"--key", "128", "s"},
        {"--key", "+-1", "s"},
        {"--key", "2x", "s"},
        {"--volumes", "1,,2", "s"},
        {"--volumes", "1,", "s"},
        {"--volumes", "128", "s"},
        {"--volumes", "-129", "s"},
        {"--volumes", listOf(65, "0"), "s"},
        {"--instruments", "128", "s"},
        {"--instruments", "254", "s"},
        {"--instruments", "-1", "s"},
        {"--instruments", listOf(65, "1"), "s"},
        {"--capture=", "s"},
        {"--soundfont=", "s"},
        {"s", "--soundfont"},
        {"--capture", "x.csv", "--device", "y", "s"},
        {"--bogus", "s"},
        {"--virtual-clock=1", "s"},
    };
    for (const auto& line : lines) {
        SCOPED_TRACE(::testing::PrintToString(line));
        EXPECT_TRUE(std::holds_alternative<UsageError>(parse(line)));
    }
}

// Guards against: wrong sign column, or octaves and semitones swapped, in the key display.
TEST(PlayDisplay, KeyShowsSignOctavesAndSemitones) {
    EXPECT_EQ(formatKey(2), "+00:02");
    EXPECT_EQ(formatKey(0), " 00:00");
    EXPECT_EQ(formatKey(-14), "-01:02");
    EXPECT_EQ(formatKey(12), "+01:00");
    EXPECT_EQ(formatKey(-127), "-10:07");
}

// Guards against: an off-by-one at bar and beat boundaries, and a division of 0 dividing by zero.
TEST(PlayDisplay, StatusLineSplitsPositionIntoBarBeatTick) {
    EXPECT_FALSE(splitPosition(1000, 0).has_value());
    const BarBeatTick lastOfBar = *splitPosition(1919, 480);
    EXPECT_EQ(lastOfBar.bar, 0u);
    EXPECT_EQ(lastOfBar.beat, 3u);
    EXPECT_EQ(lastOfBar.tick, 479u);
    EXPECT_EQ(splitPosition(1920, 480)->bar, 1u);
    EXPECT_EQ(splitPosition(1920, 480)->beat, 0u);

    EXPECT_EQ(formatStatus({1, 23, splitPosition(12 * 1920 + 3 * 480 + 240, 480), 100, 2, true}),
              "  01:23  012:03:240  tempo 100  key +00:02  [paused]");
    EXPECT_EQ(formatStatus({0, 5, std::nullopt, 120, 0, false}), "  00:05  tempo 120  key  00:00");
}
