#include <algorithm>

#include "SequencerHarness.h"

using namespace testing_support;

namespace {

using Dispatch = SequencerTest;

std::vector<Captured> channelMessages(const std::vector<Captured>& all, std::uint64_t until) {
    std::vector<Captured> out;
    for (const Captured& c : before(all, until)) {
        out.push_back(c);
    }
    return out;
}

// Guards against slots served out of order, a wait between same-tick events, running
// status losing its shape, and events after End-of-Track being played.
TEST_F(Dispatch, PlaysSlotsInOrderAndTrackEventsInFileOrder) {
    Track first;
    first.noteOn(0, 0, 60, 100).event(0, {62, 101}).noteOn(10, 0, 64, 102).event(0, {64, 0}).end(0);
    first.noteOn(5, 0, 70, 100);  // after End-of-Track: never played
    Track second;
    second.control(0, 1, 7, 90).program(0, 1, 5).event(0, {6}).noteOn(10, 1, 40, 80).end(5);
    ASSERT_TRUE(start(smf(1, 10, {first, second}), 0, 60));  // 10 ticks a second
    runToEnd();
    const auto all = stopAndRead();
    const auto sent = channelMessages(all, 2'000'000);
    ASSERT_GE(sent.size(), 8u);
    const std::vector<std::array<int, 4>> expected = {
        {0, 0x90, 60, 100}, {0, 0x90, 62, 101}, {0, 0xB1, 7, 90},    {0, 0xC1, 5, -1},
        {0, 0xC1, 6, -1},   {1000, 0x90, 64, 102}, {1000, 0x90, 64, 0}, {1000, 0x91, 40, 80},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[i].micros, static_cast<std::uint64_t>(expected[i][0]) * 1000);
        EXPECT_EQ(sent[i].status, expected[i][1]);
        EXPECT_EQ(sent[i].data1, expected[i][2]);
        EXPECT_EQ(sent[i].data2, expected[i][3]);
    }
    EXPECT_TRUE(std::none_of(all.begin(), all.end(), [](const Captured& c) { return c.data1 == 70; }));
}

// Guards against transposing the drum channel, and against notes leaving 0..127 instead
// of folding by octaves.
TEST_F(Dispatch, TranspositionFoldsByOctavesAndSparesTheDrums) {
    Track track;
    track.noteOn(0, 1, 125, 100).noteOn(0, 9, 36, 100).noteOn(0, 2, 60, 100).end(10);
    ASSERT_TRUE(start(smf(0, 96, {track}), 5));
    CallSetTransposition(window(), -5);  // cuts what sounds; later notes go down
    CallRewind(window());
    advance(60);  // the wait in progress ends, tick 0 plays again
    const auto ons = noteOns(stopAndRead());
    ASSERT_GE(ons.size(), 6u);
    EXPECT_EQ(ons[0].data1, 118);  // 125 + 5 = 130, folded down an octave
    EXPECT_EQ(ons[1].data1, 36);   // channel 10 untouched
    EXPECT_EQ(ons[2].data1, 65);
    EXPECT_EQ(ons[3].data1, 120);  // 125 - 5
    EXPECT_EQ(ons[4].data1, 36);
    EXPECT_EQ(ons[5].data1, 55);
}

// Guards against a low note transposed below 0 being sent as garbage.
TEST_F(Dispatch, NegativeTranspositionFoldsUp) {
    Track track;
    track.noteOn(0, 0, 3, 100).end(10);
    ASSERT_TRUE(start(smf(0, 96, {track}), -5));
    const auto ons = noteOns(stopAndRead());
    ASSERT_FALSE(ons.empty());
    EXPECT_EQ(ons[0].data1, 10);
}

struct VelocityCase {
    int written;
    int offset;
    int sent;
};

class Velocity : public SequencerTest, public ::testing::WithParamInterface<VelocityCase> {};

// Guards against offsets that overflow the velocity range, the 1 -> 0 rule, and
// offsets applied to notes already written as note-offs.
TEST_P(Velocity, OffsetIsAddedAndClamped) {
    const VelocityCase c = GetParam();
    m_volumes[0] = static_cast<std::int16_t>(c.offset);
    Track track;
    track.noteOn(0, 0, 60, c.written).noteOff(1, 0, 60, c.written).end(1);
    ASSERT_TRUE(start(smf(0, 96, {track})));
    runToEnd();
    const auto all = stopAndRead();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[0].data2, c.sent);
    EXPECT_EQ(all[1].status, 0x80);
    EXPECT_EQ(all[1].data2, c.sent);
}

INSTANTIATE_TEST_SUITE_P(Table, Velocity,
                         ::testing::Values(VelocityCase{100, 0, 100}, VelocityCase{100, 20, 120},
                                           VelocityCase{100, 50, 127}, VelocityCase{30, -29, 0},
                                           VelocityCase{30, -28, 2}, VelocityCase{100, -128, 0},
                                           VelocityCase{127, 127, 127}, VelocityCase{0, 50, 0}));

// Guards against a volume change that waits for a restart, and against volumes given at
// the start missing the notes at tick 0.
TEST_F(Dispatch, VolumesApplyFromTickZeroAndFromTheNextNote) {
    m_volumes[1] = -128;  // a muted track
    Track loud;
    loud.noteOn(0, 0, 60, 100).noteOn(96, 0, 61, 100).end(1);
    Track muted;
    muted.noteOn(0, 1, 50, 100).end(1);
    ASSERT_TRUE(start(smf(1, 96, {loud, muted}), 0, 60));
    std::array<std::int16_t, 64> louder{};
    louder[0] = 10;
    CallSetVolumeDLL(window(), louder.data());
    runToEnd();
    const auto ons = noteOns(stopAndRead());
    ASSERT_EQ(ons.size(), 3u);
    EXPECT_EQ(ons[0].data2, 100);
    EXPECT_EQ(ons[1].data2, 0);
    EXPECT_EQ(ons[2].data2, 110);
}

// Guards against an override lost on rewind, applied to a later program change, or applied
// at all when the entry says to keep the song's programs.
TEST_F(Dispatch, InstrumentOverrideChangesTheFirstProgramChangeAndSurvivesRewind) {
    m_instruments[0] = 40;
    Track overridden;
    overridden.program(0, 0, 1).noteOn(0, 0, 60, 90).program(50, 0, 2).end(50);
    Track kept;
    kept.program(0, 1, 7).end(100);
    ASSERT_TRUE(start(smf(1, 96, {overridden, kept}), 0, 60));
    advance(600);  // past tick 50
    CallRewind(window());
    const auto all = stopAndRead();
    std::vector<std::pair<int, int>> programs;
    for (const Captured& c : all) {
        if ((c.status & 0xF0) == 0xC0) {
            programs.emplace_back(c.status, c.data1);
        }
    }
    const std::vector<std::pair<int, int>> expected = {{0xC0, 40}, {0xC1, 7}, {0xC0, 2}, {0xC0, 40}, {0xC1, 7}};
    EXPECT_EQ(programs, expected);
}

// Guards against an instrument change sent from the caller's thread or lost between ticks.
TEST_F(Dispatch, InstrumentChangeIsSentAtTheNextTick) {
    Track track;
    track.program(0, 3, 1).noteOn(0, 3, 60, 90).end(1000);
    ASSERT_TRUE(start(smf(0, 96, {track})));
    advance(5);
    CallChangeInstrumentDLL(0, 3, 33);
    advance(1);
    const auto all = stopAndRead();
    const auto change = std::find_if(all.begin(), all.end(),
                                     [](const Captured& c) { return c.status == 0xC3 && c.data1 == 33; });
    ASSERT_NE(change, all.end());
    EXPECT_EQ(change->micros, 6000u);
}

// Guards against meta events, long texts and system exclusive reaching the device or
// derailing the read position.
TEST_F(Dispatch, MetaAndSystemExclusiveAreSkippedWhole) {
    Track track;
    track.meta(0, 0x01, std::string(200, 'x'))
        .event(0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .noteOn(0, 0, 60, 100)
        .meta(1, 0x05, "la")
        .noteOn(0, 0, 62, 100)
        .end(1);
    ASSERT_TRUE(start(smf(0, 96, {track})));
    runToEnd();
    const auto all = stopAndRead();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[0].status, 0x90);
    EXPECT_EQ(all[0].data1, 60);
    EXPECT_EQ(all[1].data1, 62);
    EXPECT_TRUE(std::none_of(all.begin(), all.end(), [](const Captured& c) { return c.status >= 0xF0; }));
}

// Guards against malformed data bytes being sent, and against reading past a track that
// ends in the middle of an event.
TEST_F(Dispatch, MalformedAndCutOffEventsAreDropped) {
    Track track;
    track.event(0, {0x90, 0x85, 0x40}).noteOn(0, 0, 61, 100).event(0, {0x92, 0x30});  // cut off
    ASSERT_TRUE(start(smf(0, 96, {track})));
    runToEnd(10);
    EXPECT_TRUE(engineOf().songEnded.load());
    const auto ons = noteOns(stopAndRead());
    ASSERT_EQ(ons.size(), 1u);
    EXPECT_EQ(ons[0].data1, 61);
}

// Guards against a stuck note when the table of sounding notes is full: the 51st and later
// notes are not in the table, but All Notes Off still reaches every channel.
TEST_F(Dispatch, PauseSilencesEveryChannelEvenBeyondTheNoteTable) {
    Track track;
    for (int i = 0; i < 60; ++i) {
        track.noteOn(0, 0, 30 + i, 100);
    }
    track.end(1000);
    ASSERT_TRUE(start(smf(0, 96, {track})));
    advance(3);
    CallPauseSong(window());
    advance(1);
    const auto all = stopAndRead();
    int noteOffs = 0;
    int allNotesOff = 0;
    int sustainOff = 0;
    for (const Captured& c : before(all, 3001)) {
        noteOffs += (c.status & 0xF0) == 0x80 ? 1 : 0;
        allNotesOff += ((c.status & 0xF0) == 0xB0 && c.data1 == 123) ? 1 : 0;
        sustainOff += ((c.status & 0xF0) == 0xB0 && c.data1 == 64 && c.data2 == 0) ? 1 : 0;
    }
    EXPECT_EQ(noteOffs, 50);
    EXPECT_EQ(allNotesOff, 16);
    EXPECT_EQ(sustainOff, 16);
}

}  // namespace
