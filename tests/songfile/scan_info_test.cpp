#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "LyricScan.h"
#include "SmfBuilder.h"
#include "TempDir.h"

namespace {

using songfile::ExtractLyrics;
using songfile::FreeLyricList;
using songfile::trackInfo;
using songfile::TrackInfoTable;
using testing_support::smf;
using testing_support::TempDir;
using testing_support::Track;

// Scans for information only and returns the tempo.
int scanInfo(const std::string& path, const std::string& mode = ".PFC") {
    int tempo = -1;
    std::optional<std::uint64_t> offset;
    FreeLyricList(ExtractLyrics(path, mode, tempo, offset));
    return tempo;
}

struct ProgramCase {
    const char* name;
    Track track;
    std::uint8_t program;
    std::uint8_t channel;
    bool more;
};

void PrintTo(const ProgramCase& value, std::ostream* out) { *out << value.name; }

class ScanPrograms : public ::testing::TestWithParam<ProgramCase> {};

// Guards against counting running-status or malformed program changes, or missing a
// repeated program.
TEST_P(ScanPrograms, FirstProgramAndMore) {
    const ProgramCase& c = GetParam();
    TempDir dir;
    scanInfo(dir.write("a.mid", smf(1, 480, {Track().end(), c.track})));
    const trackInfo& info = TrackInfoTable[1];
    EXPECT_EQ(info.Program, c.program);
    EXPECT_EQ(info.FileProgram, c.program);
    EXPECT_EQ(info.Channel, c.channel);
    EXPECT_EQ(info.MorePrograms, c.more);
}

INSTANTIATE_TEST_SUITE_P(
    ScanCases, ScanPrograms,
    ::testing::Values(ProgramCase{"None", Track().noteOn(0, 3, 60, 90).end(), 0xFF, 0xFF, false},
                      ProgramCase{"SameTwice", Track().program(0, 3, 5).program(10, 3, 5).end(), 5, 3, true},
                      ProgramCase{"Different", Track().program(0, 2, 5).program(10, 2, 9).end(), 5, 2, true},
                      ProgramCase{"RunningStatusNotCounted", Track().program(0, 2, 7).event(10, {9}).end(), 7, 2, false},
                      ProgramCase{"HighProgramByteNotCounted", Track().event(0, {0xC1, 0x85}).program(0, 1, 6).end(), 6, 1,
                                  false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

struct TempoCase {
    const char* name;
    std::vector<Track> tracks;
    int tempo;
};

void PrintTo(const TempoCase& value, std::ostream* out) { *out << value.name; }

class ScanTempo : public ::testing::TestWithParam<TempoCase> {};

// Guards against tempo taken from other tracks, a zero tempo dividing, or a short
// tempo event read past its end.
TEST_P(ScanTempo, FromTrackZero) {
    TempDir dir;
    EXPECT_EQ(scanInfo(dir.write("a.mid", smf(1, 480, GetParam().tracks))), GetParam().tempo);
}

INSTANTIATE_TEST_SUITE_P(
    ScanCases, ScanTempo,
    ::testing::Values(TempoCase{"Default", {Track().end()}, 120},
                      TempoCase{"HalfSecond", {Track().tempo(0, 500000).end()}, 120},
                      TempoCase{"LaterReplaces", {Track().tempo(0, 500000).tempo(960, 600000).end()}, 100},
                      TempoCase{"OtherTrackIgnored", {Track().tempo(0, 600000).end(), Track().tempo(0, 400000).end()}, 100},
                      TempoCase{"ZeroIgnored", {Track().tempo(0, 600000).tempo(0, 0).end()}, 100},
                      TempoCase{"ShortEventIgnored", {Track().tempo(0, 600000).meta(0, 0x51, "\x07\xA1").end()}, 100}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Guards against copyright not inherited from track 0, names not capped at 255 bytes,
// an empty event wiping a name, or unused entries filled.
TEST(ScanNames, CopyrightInheritanceAndCaps) {
    TempDir dir;
    const std::string longName(300, 'n');
    const auto song = smf(1, 480, {Track().meta(0, 2, "(c) Zero").meta(0, 3, "First").meta(0, 3, "Second").end(),
                                   Track().meta(0, 2, "(c) One").meta(0, 3, longName).end(),
                                   Track().meta(0, 3, "Kept").meta(0, 3, "").end()});
    scanInfo(dir.write("a.mid", song));
    EXPECT_EQ(TrackInfoTable[0].TrackName, "Second");
    EXPECT_EQ(TrackInfoTable[1].Copyright, "(c) One");
    EXPECT_EQ(TrackInfoTable[1].TrackName, std::string(255, 'n'));
    EXPECT_EQ(TrackInfoTable[2].Copyright, "(c) Zero");
    EXPECT_EQ(TrackInfoTable[2].TrackName, "Kept");
    EXPECT_EQ(TrackInfoTable[3].Copyright, "");
}

struct InfoCase {
    const char* name;
    std::vector<std::string> texts;
    std::string info;
};

void PrintTo(const InfoCase& value, std::ostream* out) { *out << value.name; }

class ScanInfoText : public ::testing::TestWithParam<InfoCase> {};

// Guards against Info growing past its 252-byte budget or losing the separator.
TEST_P(ScanInfoText, JoinedWithinBudget) {
    TempDir dir;
    Track track;
    for (const std::string& text : GetParam().texts) {
        track.meta(0, 1, text);
    }
    scanInfo(dir.write("a.mid", smf(1, 480, {track.end()})), ".MID");
    EXPECT_EQ(TrackInfoTable[0].Info, GetParam().info);
}

INSTANTIATE_TEST_SUITE_P(
    ScanCases, ScanInfoText,
    ::testing::Values(InfoCase{"Joined", {"one", "", "two"}, "one\r\n\ttwo"},
                      InfoCase{"JustBelowBudget", {std::string(251, 'a')}, std::string(251, 'a')},
                      InfoCase{"FullPieceDropped", {std::string(252, 'a')}, ""},
                      InfoCase{"LongPieceDropped", {std::string(400, 'a')}, ""},
                      InfoCase{"SecondFits", {std::string(100, 'a'), std::string(151, 'b')},
                               std::string(100, 'a') + "\r\n\t" + std::string(151, 'b')},
                      InfoCase{"SecondTooLong", {std::string(100, 'a'), std::string(152, 'b'), "c"},
                               std::string(100, 'a') + "\r\n\tc"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Guards against karaoke text events ending up in Info (they are lyrics or ignored).
TEST(ScanNames, KarTextsAreNotInfo) {
    TempDir dir;
    const auto song = smf(1, 480, {Track().meta(0, 1, "zero").end(), Track().end(), Track().meta(0, 1, "x").end()});
    const std::string path = dir.write("a.kar", song);
    scanInfo(path, ".KAR");
    EXPECT_EQ(TrackInfoTable[0].Info, "");
    scanInfo(path, ".MID");
    EXPECT_EQ(TrackInfoTable[0].Info, "zero");
    EXPECT_EQ(TrackInfoTable[2].Info, "x");
}

// Guards against writing past the 64-entry table when a count's low byte says more.
TEST(ScanNames, TracksBeyondTableStillGiveLyrics) {
    TempDir dir;
    std::vector<Track> tracks(70, Track().end());
    tracks[63] = Track().meta(0, 3, "last entry").end();
    tracks[69] = Track().meta(0, 3, "beyond").meta(5, 5, "la").end();
    int tempo = 0;
    std::optional<std::uint64_t> offset;
    songfile::TlyricList* first = ExtractLyrics(dir.write("a.mid", smf(1, 480, tracks)), ".MID", tempo, offset);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Text, "la");
    FreeLyricList(first);
    EXPECT_EQ(TrackInfoTable[63].TrackName, "last entry");
}

// Guards against names of the previous song surviving a scan of the next one.
TEST(ScanNames, EachScanStartsAfresh) {
    TempDir dir;
    scanInfo(dir.write("a.mid", smf(1, 480, {Track().meta(0, 3, "Old").program(0, 0, 4).end()})));
    ASSERT_EQ(TrackInfoTable[0].TrackName, "Old");
    scanInfo(dir.write("b.mid", smf(1, 480, {Track().end()})));
    EXPECT_EQ(TrackInfoTable[0].TrackName, "");
    EXPECT_EQ(TrackInfoTable[0].Program, 0xFF);
}

}  // namespace
