#include <poll.h>

#include "CantivoHarness.h"
#include "audio/wave.h"
#include "platform/atoms.h"
#include "platform/messages.h"

using namespace testing_support;

namespace {

class MessageTest : public CantivoTest {};

bool readable(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0;
}

// Guards against a drained queue whose descriptor stays readable, waking the window
// without end (a busy loop after every song's end message).
TEST_F(MessageTest, PostedMessagesAreTakenAndTheQueueGoesQuiet) {
    open();
    const std::string path = song("posted.kar", karaokeSong({"a", "b"}));
    ASSERT_TRUE(platform::postMessage(window().Handle(), platform::kSongEndedMessage, 0, 0));
    const std::uint16_t atom = platform::addAtom(path);
    ASSERT_NE(atom, 0);
    ASSERT_TRUE(platform::postMessage(window().Handle(), platform::kOpenFileMessage, atom, 0));
    for (int i = 0; i < 20 && !window().SongLoaded; ++i) {
        QApplication::processEvents();
    }
    EXPECT_TRUE(window().SongLoaded);
    EXPECT_EQ(window().SongFileName, path);
    EXPECT_TRUE(platform::takeAtom(atom).empty()) << "the window must take the atom";
    EXPECT_FALSE(readable(window().MessageNotifyFd()));
}

// Guards against a hand-over of a file that is gone by the time it arrives.
TEST_F(MessageTest, AnOpenRequestForAMissingFileLoadsNothing) {
    open();
    const std::uint16_t atom = platform::addAtom(path("gone.kar"));
    ASSERT_TRUE(platform::postMessage(window().Handle(), platform::kOpenFileMessage, atom, 0));
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
    EXPECT_FALSE(window().SongLoaded);
    EXPECT_EQ(tempFiles(), 0u);
}

// Guards against a closed window that calls into the unloaded sequencer or opens a
// song handed over while it closed.
TEST_F(MessageTest, AClosedWindowStartsAndOpensNothing) {
    open();
    openSong(song("song.kar", karaokeSong({"a", "b"})));
    ASSERT_TRUE(window().FormClose());
    const std::uint16_t atom = platform::addAtom(song("late.kar", karaokeSong({"c"})));
    ASSERT_TRUE(platform::postMessage(window().Handle(), platform::kOpenFileMessage, atom, 0));
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
    EXPECT_FALSE(window().SongLoaded);
    EXPECT_TRUE(platform::takeAtom(atom).empty());
    window().PlayButtonClick();
    window().VolSpinUpClick();
    tick();
    EXPECT_EQ(boxTexts().back(), "Cannot Initialize the MIDI Driver");
    EXPECT_EQ(tempFiles(), 0u);
}

}  // namespace

// Guards the wave devices' notifications: each goes back to the half of the wave library
// that owns it, with its parameters, or the voice stalls after its first buffers (or a
// failed stream goes unnoticed).
TEST_F(MessageTest, WaveNotificationsReachTheWaveLibrary) {
    open();
    std::vector<std::tuple<char, std::uint32_t, std::uintptr_t, std::intptr_t>> calls;
    window().Audio.ProcessWavePlayMsg = [&](std::uint32_t m, std::uintptr_t w, std::intptr_t l) {
        calls.emplace_back('P', m, w, l);
        return 0;
    };
    window().Audio.ProcessWaveRecMsg = [&](std::uint32_t m, std::uintptr_t w, std::intptr_t l) {
        calls.emplace_back('R', m, w, l);
        return 0;
    };
    const auto owner = [](std::uint32_t m) {
        return m <= audio::kWaveOutDoneMessage || m == audio::kWaveOutErrorMessage ? 'P' : 'R';
    };
    for (std::uint32_t m = audio::kWaveOutOpenMessage; m <= audio::kWaveInErrorMessage; ++m) {
        ASSERT_TRUE(platform::postMessage(window().Handle(), m, 7, 1000 + m));
    }
    for (int i = 0; i < 5 && calls.size() < 8; ++i) {
        QApplication::processEvents();
    }
    decltype(calls) expected;
    for (std::uint32_t m = audio::kWaveOutOpenMessage; m <= audio::kWaveInErrorMessage; ++m) {
        expected.emplace_back(owner(m), m, 7, 1000 + m);
    }
    EXPECT_EQ(calls, expected);
}
