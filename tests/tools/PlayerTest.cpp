#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PlayCommand.h"
#include "Terminal.h"

using namespace cvktool;

namespace {

std::vector<Key> decode(std::string_view bytes) {
    KeyDecoder decoder;
    std::vector<Key> keys;
    for (char byte : bytes) {
        if (auto key = decoder.feed(static_cast<unsigned char>(byte))) {
            keys.push_back(*key);
        }
    }
    return keys;
}

// A sequencer that records what it is asked to do.
std::vector<std::string> g_calls;
std::int32_t g_playing = 1;
std::uint32_t g_counter = 0;

SequencerTable fakeSequencer() {
    g_calls.clear();
    g_playing = 1;
    g_counter = 0;
    SequencerTable table;
    table.CallPauseSong = [](PulsantWindow) { g_calls.push_back("pause"); };
    table.CallRewind = [](PulsantWindow) { g_calls.push_back("rewind"); };
    table.CallFastForward = [](PulsantWindow) { g_calls.push_back("forward"); };
    table.CallChangeTempo = [](PulsantWindow, int32_t t) {
        g_calls.push_back("tempo " + std::to_string(t));
    };
    table.CallSetTransposition = [](PulsantWindow, int32_t k) {
        g_calls.push_back("key " + std::to_string(k));
    };
    table.CallGetTime = [](PulsantWindow, int32_t* m, int32_t* s) {
        *m = 1;
        *s = 23;
        return g_playing;
    };
    table.CallGetLyricCounterDLL = [](PulsantWindow) { return g_counter; };
    return table;
}

using Calls = std::vector<std::string>;

}  // namespace

// Guards against: the tail of an escape sequence read as keys, or arrows lost when split over
// reads.
TEST(KeyDecoder, DecodesArrowsAndSwallowsUnknownSequences) {
    EXPECT_EQ(decode("\x1b[A\x1b[B\x1b[C\x1b[D"),
              (std::vector{Key::Up, Key::Down, Key::Right, Key::Left}));
    EXPECT_EQ(decode("\x1bOC\x1b[1;5D"), (std::vector{Key::Right, Key::Left}));
    EXPECT_EQ(decode("\x1b[2~\x1b[15~q"), (std::vector{Key::Quit}));
    EXPECT_EQ(decode("\x1bq"), (std::vector{Key::Quit}));
    EXPECT_EQ(decode(" +=-Q\x03x\r"), (std::vector{Key::Space, Key::TempoUp, Key::TempoUp,
                                                   Key::TempoDown, Key::Quit, Key::Quit}));
    KeyDecoder split;
    EXPECT_FALSE(split.feed(0x1b));
    EXPECT_FALSE(split.feed('['));
    EXPECT_EQ(split.feed('A'), Key::Up);
}

// Guards against: seeking while paused (the sequencer would resume behind the user's back).
TEST(PlaySession, SeeksOnlyWhilePlaying) {
    const SequencerTable sequencer = fakeSequencer();
    PlaySession session(sequencer, 7, 480, 100, 0);
    session.handleKey(Key::Space);
    session.handleKey(Key::Left);
    session.handleKey(Key::Right);
    ASSERT_TRUE(session.poll());
    EXPECT_NE(session.statusLine().find("[paused]"), std::string::npos);
    session.handleKey(Key::Space);
    session.handleKey(Key::Right);
    session.handleKey(Key::Left);
    EXPECT_EQ(g_calls, (Calls{"pause", "pause", "forward", "rewind"}));
    EXPECT_EQ(session.handleKey(Key::Quit), PlaySession::Outcome::Quit);
    EXPECT_EQ(g_calls.size(), 4u);
}

// Guards against: tempo or key stepping past their limits, or resending an unchanged value.
TEST(PlaySession, TempoAndKeyStopAtTheirLimits) {
    const SequencerTable sequencer = fakeSequencer();
    PlaySession high(sequencer, 7, 480, 239, 126);
    for (Key key : {Key::TempoUp, Key::TempoUp, Key::Up, Key::Up, Key::TempoDown}) {
        high.handleKey(key);
    }
    PlaySession low(sequencer, 7, 480, 40, -127);
    for (Key key : {Key::TempoDown, Key::Down, Key::Up}) {
        low.handleKey(key);
    }
    EXPECT_EQ(g_calls, (Calls{"tempo 240", "key 127", "tempo 239", "key -126"}));
    ASSERT_TRUE(high.poll());
    EXPECT_NE(high.statusLine().find("tempo 239  key +10:07"), std::string::npos);
}

// Guards against: the "no new value" position (all ones) shown as a position, and a missed end.
TEST(PlaySession, PollKeepsLastPositionAndReportsTheEnd) {
    const SequencerTable sequencer = fakeSequencer();
    PlaySession session(sequencer, 7, 480, 100, 0);
    g_counter = 12 * 1920 + 3 * 480 + 240;
    ASSERT_TRUE(session.poll());
    g_counter = 0xFFFFFFFF;
    ASSERT_TRUE(session.poll());
    EXPECT_EQ(session.statusLine(), "  01:23  012:03:240  tempo 100  key  00:00");
    g_playing = 0;
    EXPECT_FALSE(session.poll());
}
