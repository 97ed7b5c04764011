#include "SequencerHarness.h"

using namespace testing_support;

namespace {

struct BadFile {
    const char* name;
    ByteVector bytes;
    const char* failure;
    int slotsLoaded;
};

ByteVector header(std::uint32_t length, int format, int count, int division) {
    Bytes b;
    b.text("MThd").u32(length).u16(format).u16(count).u16(division);
    return b.bytes();
}

ByteVector oneNote() {
    Track t;
    t.noteOn(0, 0, 60, 100).noteOff(96, 0, 60).end();
    return trackChunk(t);
}

std::vector<BadFile> badFiles() {
    const ByteVector track = oneNote();
    ByteVector truncatedTrack = track;
    truncatedTrack.resize(track.size() - 3);
    Bytes hugeLength;
    hugeLength.text("MTrk").u32(0xFFFFFFFF).raw({0x00, 0x90});
    ByteVector cutInDivision = header(6, 0, 1, 96);
    cutInDivision.pop_back();
    Bytes eightByteHeader;
    eightByteHeader.text("MThd").u32(8).u16(1).u16(1).u16(96).u16(0);
    return {
        {"Empty", {}, "Wrong number of bytes read", 0},
        {"NotMThd", concat({Bytes().text("RIFF").bytes(), header(6, 0, 1, 96)}), "Not of MThd type", 0},
        {"LowerCaseMagic", concat({Bytes().text("mthd").u32(6).bytes()}), "Not of MThd type", 0},
        {"CutInLength", Bytes().text("MThd").u16(0).bytes(), "Wrong number of bytes read", 0},
        {"ShortHeaderLength", header(5, 0, 1, 96), "Wrong number of bytes read", 0},
        {"HugeHeaderLength", header(65521, 0, 1, 96), "Wrong number of bytes read", 0},
        {"CutInDivision", cutInDivision, "Wrong number of bytes read", 0},
        {"Format0TwoTracks", concat({header(6, 0, 2, 96), track, track}), "Wrong number of bytes read", 0},
        {"CountHighByte", concat({header(6, 1, 0x201, 96), track}), "Wrong number of bytes read", 0},
        {"ZeroTracks", header(6, 1, 0, 96), "Number of Tracks is Zero", 0},
        {"Count256", header(6, 1, 256, 96), "Number of Tracks is Zero", 0},
        {"Smpte", concat({header(6, 1, 1, 0xE728), track}), "Wrong ticks per quater", 0},
        {"UnknownChunk", concat({header(6, 1, 2, 96), track, Bytes().text("XFIH").u32(0).bytes()}),
         "Track not MTrk", 1},
        {"LongHeader", concat({eightByteHeader.bytes(), track}), "Track not MTrk", 0},
        {"ThirdTrackTruncated", concat({header(6, 1, 3, 96), track, track, truncatedTrack}),
         "Wrong number of bytes read", 2},
        {"LengthPastTheEnd", concat({header(6, 1, 2, 96), track, hugeLength.bytes()}),
         "Wrong number of bytes read", 1},
        {"FewerChunksThanDeclared", concat({header(6, 1, 3, 96), track}), "", 1},
        {"CutInChunkLength", concat({header(6, 1, 2, 96), track, Bytes().text("MTrk").u16(0).bytes()}),
         "Wrong number of bytes read", 1},
    };
}

class LoaderFailure : public ::testing::TestWithParam<BadFile> {
protected:
    void SetUp() override { pulsant::resetForTest(); }
};

// Guards against a malformed file read past its end, a wrong failure text, or losing the
// tracks that were read before the fault.
TEST_P(LoaderFailure, GivesItsTextAndKeepsTheTracksBefore) {
    const BadFile& bad = GetParam();
    TempDir dir;
    const std::string path = dir.write("bad.mid", bad.bytes);
    EXPECT_EQ(pulsant::LoadSong(path.c_str()), bad.failure);
    int loaded = 0;
    for (const auto& slot : pulsant::engine().slots) {
        loaded += slot.present ? 1 : 0;
    }
    EXPECT_EQ(loaded, bad.slotsLoaded);
}

INSTANTIATE_TEST_SUITE_P(Table, LoaderFailure, ::testing::ValuesIn(badFiles()),
                         [](const auto& param) { return std::string(param.param.name); });

class Loader : public ::testing::Test {
protected:
    void SetUp() override { pulsant::resetForTest(); }
    std::string load(const ByteVector& bytes) { return pulsant::LoadSong(m_dir.write("song.mid", bytes).c_str()); }
    TempDir m_dir;
};

// Guards against a missing file being reported as anything but unopenable.
TEST_F(Loader, MissingFileCannotBeOpened) {
    EXPECT_EQ(pulsant::LoadSong(m_dir.path("none.mid").c_str()), "Unable To Open File");
    EXPECT_EQ(pulsant::LoadSong(nullptr), "Unable To Open File");
}

// Guards against taking the tempo from the wrong track or the first instead of the last
// Set Tempo, and against a zero tempo dividing by zero.
TEST_F(Loader, TempoIsTheLastSetTempoOfTheFirstTrack) {
    Track conductor;
    conductor.tempo(0, 500000).tempo(10, 400000).end();
    Track other;
    other.tempo(0, 300000).end();
    ASSERT_EQ(load(smf(1, 96, {conductor, other})), "");
    EXPECT_EQ(pulsant::engine().fileTempo, 150u);

    Track plain;
    plain.end();
    ASSERT_EQ(load(smf(1, 96, {plain, other})), "");
    EXPECT_EQ(pulsant::engine().fileTempo, 120u);

    Track zero;
    zero.tempo(0, 600000).tempo(0, 0).end();
    ASSERT_EQ(load(smf(1, 96, {zero})), "");
    EXPECT_EQ(pulsant::engine().fileTempo, 100u);
}

// Guards against a song length taken from the wrong track, or mismeasured running-status
// events (a note on is two data bytes, a program change one).
TEST_F(Loader, SongLengthIsTheLongestTrackMeasuredEventByEvent) {
    Track short_;
    short_.noteOn(100, 0, 60, 1).end();
    Track runningStatus;
    runningStatus.program(0, 1, 5).event(1000, {6}).noteOn(1000, 1, 60, 90).event(1000, {61, 90}).end(2000);
    ASSERT_EQ(load(smf(1, 96, {short_, runningStatus})), "");
    EXPECT_EQ(pulsant::engine().songLength, 5000u);
    EXPECT_EQ(pulsant::ScanTrack(0), 100u);
}

// Guards against a file with more tracks than slots being refused or overrunning them.
TEST_F(Loader, MoreThanSixtyFourTracksLoadsTheFirstSixtyFour) {
    std::vector<Track> tracks(70);
    for (int i = 0; i < 70; ++i) {
        tracks[i].noteOn(static_cast<std::uint32_t>(i), 0, 60, 100).end();
    }
    ASSERT_EQ(load(smf(1, 96, tracks)), "");
    int loaded = 0;
    for (const auto& slot : pulsant::engine().slots) {
        loaded += slot.present ? 1 : 0;
    }
    EXPECT_EQ(loaded, 64);
    EXPECT_EQ(pulsant::engine().songLength, 63u);
}

// Guards against the scan reading past a track cut off inside an event or a delta.
TEST_F(Loader, ScanStopsAtCutOffEvents) {
    Track cut;
    cut.noteOn(10, 0, 60, 100).meta(5, 0x01, "abc");
    ByteVector body = cut.body();
    body.push_back(0x83);  // a delta cut off after its first byte
    Track raw;
    raw.rawBytes(body);
    ASSERT_EQ(load(smf(0, 96, {raw})), "");
    EXPECT_EQ(pulsant::engine().songLength, 15u);
}

}  // namespace
