#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/system.h"
#include "split_support.h"

namespace {

using songfile::lastSplitError;
using songfile::SplitMidiFile;
using split_support::splitBytes;
using testing_support::Bytes;
using testing_support::ByteVector;
using testing_support::concat;
using testing_support::smf;
using testing_support::smfHeader;
using testing_support::TempDir;
using testing_support::Track;

const ByteVector kSysEx = {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

ByteVector chunk(const std::string& type, const ByteVector& body) {
    return Bytes().text(type).u32(static_cast<std::uint32_t>(body.size())).raw(body).bytes();
}

Track rawTrack(const ByteVector& body) {
    return Track().rawBytes(body);
}

// Guards against end-of-track placed anywhere but after each part's last event, against
// deltas copied from the source instead of measured per part, and against running-status
// events gaining a status byte.
TEST(SplitRoundTrip, FormatZeroSplitsByChannelInOrderOfFirstUse) {
    TempDir dir;
    Track source;
    source.meta(0, 0x03, "Song")
        .program(0, 0, 5)
        .noteOn(10, 9, 0x24, 0x64)
        .event(0, {0x24, 0x00})  // running status: channel 10
        .noteOn(5, 0, 0x3C, 0x40)
        .rawBytes(concat({{0x05}, kSysEx}))
        .noteOn(20, 1, 0x40, 0x50)
        .noteOn(0, 9, 0x26, 0x64)
        .noteOff(100, 0, 0x3C)
        .rawBytes({0x80, 0x05, 0x81, 0x40, 0x00})  // delta 5 in a needlessly long form
        .end(200);
    const auto run = splitBytes(dir, smf(0, 480, {source}));

    Track channel1;
    channel1.meta(0, 0x03, "Song")
        .program(0, 0, 5)
        .noteOn(15, 0, 0x3C, 0x40)
        .rawBytes(concat({{0x05}, kSysEx}))
        .noteOff(120, 0, 0x3C)
        .end(205)
        .end(0);
    Track channel10;
    channel10.noteOn(10, 9, 0x24, 0x64).event(0, {0x24, 0x00}).noteOn(30, 9, 0x26, 0x64).end(0);
    Track channel2;
    channel2.noteOn(40, 1, 0x40, 0x50).noteOff(105, 1, 0x40, 0x00).end(0);
    EXPECT_EQ(run.result.message, "");
    EXPECT_EQ(run.result.addedTracks, 2);
    EXPECT_EQ(run.output, smf(1, 480, {channel1, channel10, channel2}));
}

// Guards against touching tracks that need no split: added end-of-track, a changed
// division (SMPTE form included), or a track without channel events being bound or dropped.
TEST(SplitRoundTrip, SingleChannelTracksComeBackByteForByte) {
    TempDir dir;
    Track conductor;
    conductor.meta(0, 0x03, "Title")
        .tempo(0, 500000)
        .event(0, {0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08})
        .rawBytes(concat({{0x00}, kSysEx}))
        .end(1920);
    Track piano;
    piano.program(0, 0, 0)
        .noteOn(0, 0, 60, 100)
        .event(0, {64, 100})
        .noteOff(480, 0, 60)
        .event(0, {64, 0x40})
        .end();
    Track drums;
    drums.noteOn(0, 9, 36, 100).event(240, {36, 0}).end();
    Track lyricsWithoutEnd;
    lyricsWithoutEnd.meta(0, 0x05, "Twin").meta(240, 0x05, "kle");
    const ByteVector song = smf(1, 0xE728, {conductor, piano, drums, lyricsWithoutEnd});

    const auto run = splitBytes(dir, song);
    EXPECT_EQ(run.result.message, "");
    EXPECT_EQ(run.result.addedTracks, 0);
    EXPECT_EQ(run.output, song);
}

// Guards against a channel part of one source track being reused by another that has
// the same channel.
TEST(SplitRoundTrip, SourceTracksKeepTheirOwnPartsOfASharedChannel) {
    TempDir dir;
    Track first;
    first.noteOn(0, 0, 60, 100).noteOn(10, 1, 62, 100).noteOff(10, 0, 60).end(5);
    Track second;
    second.noteOn(0, 1, 64, 100).noteOn(20, 0, 65, 100).end();
    const auto run = splitBytes(dir, smf(1, 96, {first, second}));

    Track firstChannel1;
    firstChannel1.noteOn(0, 0, 60, 100).noteOff(20, 0, 60).end(5).end(0);
    Track firstChannel2;
    firstChannel2.noteOn(10, 1, 62, 100).end(0);
    Track secondChannel2;
    secondChannel2.noteOn(0, 1, 64, 100).end(20).end(0);
    Track secondChannel1;
    secondChannel1.noteOn(20, 0, 65, 100).end(0);
    EXPECT_EQ(run.result.message, "");
    EXPECT_EQ(run.result.addedTracks, 2);
    EXPECT_EQ(run.output, smf(1, 96, {firstChannel1, firstChannel2, secondChannel2, secondChannel1}));
}

Track channels(int count) {
    Track track;
    for (int channel = 0; channel < count; ++channel) {
        track.noteOn(0, channel, 60, 1);
    }
    return track.end();
}

// Guards against an off-by-one at the 64-entry table, for first entries and split-off ones.
TEST(SplitLimits, SixtyFourTracksAtMost) {
    const std::string limit = "Crossing maximum TrackLimit of 64 ";
    struct Case {
        const char* name;
        std::vector<Track> tracks;
        std::string message;
        int addedTracks;
    };
    const std::vector<Track> sixtyFour(4, channels(16));
    std::vector<Track> sixtyThreePlusSplit(63, channels(1));
    sixtyThreePlusSplit.push_back(channels(2));
    std::vector<Track> sixtyFivePlain(65, channels(1));
    std::vector<Track> sixtyFourPlusOne = sixtyFour;
    sixtyFourPlusOne.push_back(channels(1));
    const Case cases[] = {
        {"64 entries from 4 tracks", sixtyFour, "", 60},
        {"64 single-channel tracks", std::vector<Track>(64, channels(1)), "", 0},
        {"65th is a source track's first entry", sixtyFourPlusOne, limit, 0},
        {"65th is split off", sixtyThreePlusSplit, limit, 0},
        {"65 single-channel tracks", sixtyFivePlain, limit, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto run = splitBytes(dir, smf(1, 96, c.tracks));
        EXPECT_EQ(run.result.message, c.message);
        EXPECT_EQ(run.result.addedTracks, c.addedTracks);
    }
}

// A track of exactly `length` bytes using `channelCount` channels, padded with a text event.
Track trackOfLength(std::size_t length, int channelCount) {
    Track track;
    for (int channel = 0; channel < channelCount; ++channel) {
        track.noteOn(0, channel, 60, 1);
    }
    const std::size_t padding = length - track.body().size() - 4 - 6;  // end; delta, FF 01, 3-byte length
    return track.meta(0, 0x01, std::string(padding, 'x')).end();
}

class PlatformOverride {
public:
    explicit PlatformOverride(platform::PlatformId id) { platform::setPlatformIdOverride(id); }
    ~PlatformOverride() { platform::setPlatformIdOverride(std::nullopt); }
    PlatformOverride(const PlatformOverride&) = delete;
    PlatformOverride& operator=(const PlatformOverride&) = delete;
};

// Guards against the 9x size check firing on NT, on split files, at exactly 65,520 bytes,
// or naming the wrong track.
TEST(SplitLimits, NinetyFiveFamilyRefusesLargeUnsplitTracks) {
    const std::string tail =
        " of this file is larger then supported size by this program under 9x. This limitation does not exists in NT/2k and XP";
    struct Case {
        const char* name;
        platform::PlatformId platformId;
        std::vector<Track> tracks;
        std::string message;
    };
    const Track big = trackOfLength(70000, 1);
    ASSERT_EQ(big.body().size(), 70000u);
    ASSERT_EQ(trackOfLength(65520, 1).body().size(), 65520u);
    const Case cases[] = {
        {"9x, second track too large", platform::PlatformId::Windows9x, {channels(1), big}, "Track No. 1" + tail},
        {"NT has no limit", platform::PlatformId::NT, {channels(1), big}, ""},
        {"9x, the split file is not checked", platform::PlatformId::Windows9x,
         {channels(1), trackOfLength(70000, 2)}, ""},
        {"9x, 65,520 bytes fit", platform::PlatformId::Windows9x, {trackOfLength(65520, 1)}, ""},
        {"9x, 65,521 bytes do not", platform::PlatformId::Windows9x, {trackOfLength(65521, 1)}, "Track No. 0" + tail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const PlatformOverride platformId(c.platformId);
        const auto run = splitBytes(dir, smf(1, 96, c.tracks));
        EXPECT_EQ(run.result.message, c.message);
    }
}

// Guards against a stale text from an earlier failure being shown for a failure that has
// no text of its own, and against such a failure overwriting that text.
TEST(SplitFailure, FailuresWithoutTextShowTheGenericMessage) {
    TempDir dir;
    const auto zeroTracks = splitBytes(dir, smfHeader(1, 0, 96));
    const std::string zeroTracksText = "Zero tracks found in input file :" + zeroTracks.sourcePath;
    ASSERT_EQ(zeroTracks.result.message, zeroTracksText);

    const std::string target = dir.write("target.mid", {});
    const std::string missing = dir.path("missing.mid");
    EXPECT_EQ(SplitMidiFile(missing, target).message, "Error Reading from " + missing);
    EXPECT_EQ(SplitMidiFile(dir.path(""), target).message, "Error Reading from " + dir.path(""));
    EXPECT_EQ(lastSplitError(), zeroTracksText);

    const std::string song = dir.write("song.mid", smf(0, 96, {channels(1)}));
    const std::string unwritable = dir.path("no-such-folder/split.mid");
    const auto result = SplitMidiFile(song, unwritable);
    EXPECT_EQ(result.message, "Error Writing to " + unwritable);
    EXPECT_EQ(result.addedTracks, 0);
    EXPECT_EQ(lastSplitError(), zeroTracksText);
}

struct WriterFault {
    rlim_t bytesAllowed;
    const char* text;
};

void PrintTo(const WriterFault& fault, std::ostream* out) {
    *out << fault.bytesAllowed << " bytes allowed";
}

class SplitWriterTest : public testing::TestWithParam<WriterFault> {};

// Guards against a write failure that goes unnoticed or is reported under the wrong step.
// The file-size limit makes write() fail at an exact offset, even for root.
TEST_P(SplitWriterTest, StopsAtTheFailingStep) {
    TempDir dir;
    const std::string source = dir.write("song.mid", smf(1, 96, {channels(1), channels(1)}));
    const std::string target = dir.path("split.mid");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = GetParam().bytesAllowed;
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) {
        GTEST_SKIP() << "cannot lower the file-size limit here";
    }
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    const auto result = SplitMidiFile(source, target);
    std::signal(SIGXFSZ, previousHandler);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);

    EXPECT_EQ(result.message, "Error Writing to " + target);
    EXPECT_EQ(lastSplitError(), GetParam().text);
}

// Offsets in the output: header words at 0, 4, 8, 10, 12; first chunk at 14 with its
// 8 bytes of data at 22; second chunk at 30.
INSTANTIATE_TEST_SUITE_P(SplitWriter, SplitWriterTest,
                         testing::Values(WriterFault{0, "Error in writing MThd"},
                                         WriterFault{2, "Error in writing MThd"},
                                         WriterFault{4, "Error in writing length of header"},
                                         WriterFault{8, "Error in writing format"},
                                         WriterFault{10, "Error in writing no of tracks"},
                                         WriterFault{12, "Error in writing Ticks per quater note"},
                                         WriterFault{14, "Error in writing MTrk"},
                                         WriterFault{18, "Error in writing length of track"},
                                         WriterFault{25, "Error in writing the tracks data"},
                                         WriterFault{30, "Error in writing MTrk"},
                                         WriterFault{34, "Error in writing length of track"}));

struct BadInput {
    std::string name;
    ByteVector file;
    std::string message;      // empty: accepted, and the output must be `output`
    bool namesFile = false;   // the source path follows the text
    ByteVector output;
};

void PrintTo(const BadInput& input, std::ostream* out) {
    *out << input.name;
}

ByteVector header(int format, int tracks) {
    return smfHeader(format, tracks, 96);
}

// A format 1 file with one track chunk around `body`.
ByteVector oneTrack(const ByteVector& body) {
    return concat({header(1, 1), chunk("MTrk", body)});
}

ByteVector splitOf(const std::vector<ByteVector>& bodies) {
    std::vector<Track> tracks;
    for (const ByteVector& body : bodies) {
        tracks.push_back(rawTrack(body));
    }
    return smf(1, 96, tracks);
}

std::vector<BadInput> badInputs() {
    const std::string headerRead = "Error in reading header from input file :";
    const std::string noMThd = "Header does not contain a MThd in input file :";
    const std::string shortHeader = "Length of header less than minimum permissible length in input file :";
    const std::string trackHeaderRead = "Error in reading track header Bytes input file :";
    const std::string noMTrk = "Track header does not contain MTrk in input file :";
    const std::string trackData = "Error in reading track data from input file :";
    const ByteVector note = {0x00, 0x90, 0x3C, 0x40};
    const ByteVector end = {0x00, 0xFF, 0x2F, 0x00};
    const ByteVector noteOnly = splitOf({note});
    const ByteVector goodTrack = chunk("MTrk", concat({note, end}));
    return {
        {"EmptyFile", {}, headerRead, true, {}},
        {"HeaderIdCutOff", Bytes().text("MTh").bytes(), headerRead, true, {}},
        {"LowerCaseHeaderId", concat({Bytes().text("mthd").u32(6).u16(0).u16(1).u16(96).bytes(), goodTrack}), noMThd, true, {}},
        {"HeaderLengthCutOff", Bytes().text("MThd").u16(0).bytes(), shortHeader, true, {}},
        {"HeaderLengthFive", Bytes().text("MThd").u32(5).u16(0).u16(1).u16(96).bytes(), shortHeader, true, {}},
        {"FormatCutOff", Bytes().text("MThd").u32(6).u8(0).bytes(), "Error in reading format Bytes input file :", true, {}},
        {"FormatTwo", concat({header(2, 1), goodTrack}), "Error in format. Only 0 and 1 supported ", false, {}},
        {"FormatLowByteTwo", concat({header(0x0102, 1), goodTrack}), "Error in format. Only 0 and 1 supported ", false, {}},
        {"TrackCountCutOff", Bytes().text("MThd").u32(6).u16(1).u8(0).bytes(), "Unable to read number of tracks from input file :", true, {}},
        {"ZeroTracks", concat({header(1, 0), goodTrack}), "Zero tracks found in input file :", true, {}},
        {"FormatZeroWithTwoTracks", concat({header(0, 2), goodTrack, goodTrack}), "Format and tracks do not match in input file :", true, {}},
        {"DivisionCutOff", Bytes().text("MThd").u32(6).u16(0).u16(1).u8(0).bytes(), "Error Reading from ", true, {}},
        {"NoTrackChunk", header(0, 1), trackHeaderRead, true, {}},
        {"TrackIdCutOff", concat({header(0, 1), Bytes().text("MTr").bytes()}), trackHeaderRead, true, {}},
        {"SecondTrackMissing", concat({header(1, 2), goodTrack}), trackHeaderRead, true, {}},
        {"UnknownChunkFirst", concat({header(1, 1), chunk("XFIH", {1, 2, 3, 4}), goodTrack}), noMTrk, true, {}},
        {"LongHeaderNotSkipped", concat({Bytes().text("MThd").u32(8).u16(1).u16(1).u16(96).u16(0).bytes(), goodTrack}), noMTrk, true, {}},
        {"TrackLengthAllOnes", concat({header(0, 1), Bytes().text("MTrk").u32(0xFFFFFFFF).bytes(), note}), "Track data more than permissible limit (128K)", false, {}},
        {"TrackLengthCutOff", concat({header(0, 1), Bytes().text("MTrk").u16(0).bytes()}), trackData, true, {}},
        {"TrackLengthOnePastEnd", concat({header(0, 1), Bytes().text("MTrk").u32(9).bytes(), note, end}), trackData, true, {}},
        {"TrackLengthHuge", concat({header(0, 1), Bytes().text("MTrk").u32(0x7FFFFFF0).bytes(), note, end}), trackData, true, {}},
        // A cut-off event ends the track's walk; what came before it is kept.
        {"DeltaCutOff", oneTrack(concat({note, {0x81}})), "", false, noteOnly},
        {"DeltaWithoutEvent", oneTrack(concat({note, {0x05}})), "", false, noteOnly},
        {"MetaTypeCutOff", oneTrack(concat({note, {0x00, 0xFF}})), "", false, noteOnly},
        {"MetaLengthCutOff", oneTrack(concat({note, {0x00, 0xFF, 0x01, 0x81}})), "", false, noteOnly},
        {"MetaDataPastChunk", oneTrack(concat({note, {0x00, 0xFF, 0x01, 0x05, 'a', 'b'}})), "", false, noteOnly},
        {"SysExEndsOutsideChunk", concat({oneTrack(concat({note, {0x00, 0xF0, 0x7E, 0x7F}})), {0x09, 0x01, 0xF7}}), "", false, noteOnly},
        {"NoteOnCutOff", oneTrack(concat({note, {0x00, 0x90, 0x3C}})), "", false, noteOnly},
        {"CutEventAfterSplit", oneTrack({0x00, 0x90, 0x3C, 0x40, 0x00, 0x91, 0x3C, 0x40, 0x00, 0x92, 0x3C}), "", false,
         splitOf({concat({note, end}), {0x00, 0x91, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}})},
        // Data before any status is a two-byte event on the first channel.
        {"RunningStatusWithoutStatus", oneTrack({0x00, 0x3C, 0x40, 0x00, 0x91, 0x3C, 0x40}), "", false,
         splitOf({{0x00, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}, {0x00, 0x91, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}})},
        // Data under an undefined status has no channel: it is not split off.
        {"DataUnderUndefinedStatus", oneTrack(concat({note, {0x00, 0xF4, 0x01, 0x02, 0x00, 0x3C, 0x40}})), "", false,
         oneTrack(concat({note, {0x00, 0xF4, 0x01, 0x02, 0x00, 0x3C, 0x40}}))},
        {"FormatHighByteIgnored", concat({header(0x0100, 1), goodTrack}), "", false, concat({header(1, 1), goodTrack})},
        {"WaveChunkAfterTracks", concat({header(0, 1), goodTrack, chunk("Rvpf", {'R', 'I', 'F', 'F'})}), "", false,
         concat({header(1, 1), goodTrack})},
        {"EmptyTrackChunk", oneTrack({}), "", false, oneTrack({})},
    };
}

class SplitBadInputTest : public testing::TestWithParam<BadInput> {};

// Guards against a malformed file crashing, reading past its chunk, or failing with
// anything but its own text.
TEST_P(SplitBadInputTest, GetsItsExactMessage) {
    const BadInput& input = GetParam();
    TempDir dir;
    const auto run = splitBytes(dir, input.file);
    const std::string expected = input.message.empty() ? "" : input.message + (input.namesFile ? run.sourcePath : "");
    EXPECT_EQ(run.result.message, expected);
    if (input.message.empty()) {
        EXPECT_EQ(run.output, input.output);
    }
}

INSTANTIATE_TEST_SUITE_P(SplitInputs, SplitBadInputTest, testing::ValuesIn(badInputs()),
                         [](const testing::TestParamInfo<BadInput>& row) { return row.param.name; });

}  // namespace
