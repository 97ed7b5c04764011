#include "SongCommands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using cvktool::jsonBytes;
using cvktool::LyricsOptions;
using cvktool::parseLyricsOptions;
using cvktool::parseWriteOptions;
using cvktool::songMode;
using cvktool::UsageError;
using cvktool::WriteOptions;

// Guards against JSON that loses bytes of an 8-bit lyric or is not valid JSON.
TEST(SongCommandsJson, BytesBecomeLatin1CodePoints) {
    EXPECT_EQ(jsonBytes(""), "\"\"");
    EXPECT_EQ(jsonBytes("Twin"), "\"Twin\"");
    EXPECT_EQ(jsonBytes("a\"b\\c/"), "\"a\\\"b\\\\c/\"");
    EXPECT_EQ(jsonBytes(std::string("\0\x01\x1F\n\r\t\x7F", 7)), "\"\\u0000\\u0001\\u001f\\n\\r\\t\x7F\"");
    EXPECT_EQ(jsonBytes("\xE9\x80\xFF"), "\"\xC3\xA9\xC2\x80\xC3\xBF\"");
}

// Guards against control bytes breaking a terminal line or a backslash reading as an escape.
TEST(SongCommandsText, PrintableBytes) {
    EXPECT_EQ(cvktool::printableBytes(std::string("a\\b\n\0\x7F\xE9", 7)), "a\\\\b\\x0a\\x00\\x7f\xE9");
}

// Guards against a mode that differs from the one song loading picks for the same name.
TEST(SongCommandsMode, FromExtension) {
    EXPECT_EQ(songMode("song.kar"), ".KAR");
    EXPECT_EQ(songMode("/a/b/Song.Mid"), ".MID");
    EXPECT_EQ(songMode("x.midi"), ".MID");
    EXPECT_EQ(songMode("perf.pfc"), ".PFC");
    EXPECT_EQ(songMode("noext"), "");
    EXPECT_EQ(songMode("dir.d/noext"), "");
}

// Guards against options parsed wrongly in either spelling, or a missing FILE accepted.
TEST(SongCommandsParse, Lyrics) {
    const auto line = parseLyricsOptions({"--json", "song.kar", "--mode=.mid"});
    ASSERT_TRUE(std::holds_alternative<LyricsOptions>(line));
    const LyricsOptions& options = std::get<LyricsOptions>(line);
    EXPECT_EQ(options.file, "song.kar");
    EXPECT_EQ(options.mode, ".mid");
    EXPECT_TRUE(options.json);
    EXPECT_TRUE(std::holds_alternative<cvktool::HelpRequested>(parseLyricsOptions({"--help"})));
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {}, {"a", "b"}, {"a", "--mode"}, {"a", "--json=1"}, {"a", "--bogus"}}) {
        EXPECT_TRUE(std::holds_alternative<UsageError>(parseLyricsOptions(bad))) << bad.size();
    }
}

// Guards against settings reaching the writer wrong: defaults, partial tables, ranges.
TEST(SongCommandsParse, Write) {
    const auto line = parseWriteOptions({"in.mid", "out.mid", "--tempo", "90", "--key=-3", "--volumes", "10,-20",
                                         "--instruments=40,255,0"});
    ASSERT_TRUE(std::holds_alternative<WriteOptions>(line));
    const WriteOptions& options = std::get<WriteOptions>(line);
    EXPECT_EQ(options.source, "in.mid");
    EXPECT_EQ(options.target, "out.mid");
    EXPECT_EQ(options.tempo, 90u);
    EXPECT_EQ(options.key, -3);
    EXPECT_EQ(options.volumes[0], 10);
    EXPECT_EQ(options.volumes[1], -20);
    EXPECT_EQ(options.volumes[2], 0);
    EXPECT_EQ(options.instruments[0], 40);
    EXPECT_EQ(options.instruments[2], 0);
    EXPECT_EQ(options.instruments[3], 255);
    const auto defaults = std::get<WriteOptions>(parseWriteOptions({"a", "b"}));
    EXPECT_FALSE(defaults.tempo.has_value());
    const std::string sixtyFive = [] {
        std::string list = "0";
        for (int i = 1; i < 65; ++i) {
            list += ",0";
        }
        return list;
    }();
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"a"}, {"a", "b", "c"}, {"a", "b", "--tempo", "0"}, {"a", "b", "--tempo", "fast"},
             {"a", "b", "--key", "128"}, {"a", "b", "--instruments", "200"}, {"a", "b", "--instruments", "1,,2"},
             {"a", "b", "--volumes", "40000"}, {"a", "b", "--volumes", sixtyFive}}) {
        EXPECT_TRUE(std::holds_alternative<UsageError>(parseWriteOptions(bad))) << bad.back();
    }
}

}  // namespace
