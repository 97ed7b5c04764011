// The singers' queue: its rows, their saving, and an evening run on a virtual clock.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/SingerQueue.h"

namespace {

using library::SingerQueue;
using Action = SingerQueue::Action;

std::vector<std::string> singers(const SingerQueue& queue) {
    std::vector<std::string> out;
    for (const library::QueueEntry& entry : queue.entries()) {
        out.push_back(entry.singer);
    }
    return out;
}

SingerQueue threeSingers() {
    SingerQueue queue;
    queue.add({"Ann", "/songs/a.kar", "Alpha"});
    queue.add({"Ben", "/songs/b.kar", "Beta"});
    queue.add({"Cy", "/songs/c.kar", "Gamma"});
    return queue;
}

// Guards against a drag landing one row off, or a removal taking the wrong row.
TEST(SingerQueue, MoveAndRemove) {
    SingerQueue queue = threeSingers();
    EXPECT_TRUE(queue.move(0, 2));
    EXPECT_EQ(singers(queue), (std::vector<std::string>{"Ben", "Cy", "Ann"}));
    EXPECT_TRUE(queue.move(2, 0));
    EXPECT_EQ(singers(queue), (std::vector<std::string>{"Ann", "Ben", "Cy"}));
    EXPECT_FALSE(queue.move(3, 0));
    EXPECT_FALSE(queue.move(0, 3));
    EXPECT_TRUE(queue.remove(1));
    EXPECT_FALSE(queue.remove(2));
    EXPECT_EQ(singers(queue), (std::vector<std::string>{"Ann", "Cy"}));
}

// Guards against a singer's name with a tab splitting a saved row, or a damaged settings
// line bringing back half a row.
TEST(SingerQueue, SavedAndReadBack) {
    SingerQueue queue = threeSingers();
    queue.add({"Dee\tDee", "/songs/with\nbreak.kar", "Delta"});
    const SingerQueue back = SingerQueue::load(queue.save());
    ASSERT_EQ(back.entries().size(), 4u);
    EXPECT_EQ(back.entries()[3].singer, "Dee Dee");
    EXPECT_EQ(back.entries()[3].path, "/songs/with break.kar");
    EXPECT_EQ(back.entries()[3].title, "Delta");
    const SingerQueue damaged = SingerQueue::load("Ann\t/a.kar\tAlpha\nonly one field\nBen\t\tNo path\nX\t/x\ty\tz\nCy\t/c.kar\t");
    EXPECT_EQ(singers(damaged), (std::vector<std::string>{"Ann", "Cy"}));
}

// Guards against the next song playing before its countdown, twice, or while the queue
// is held by Stop or a recording.
TEST(SingerQueue, EveningOnTheVirtualClock) {
    SingerQueue queue = threeSingers();
    EXPECT_EQ(queue.songEnded(), Action::Open);
    ASSERT_TRUE(queue.countdown().has_value());
    EXPECT_EQ(queue.countdown()->next.singer, "Ann");
    EXPECT_EQ(queue.countdown()->secondsLeft, 10);
    EXPECT_EQ(singers(queue), (std::vector<std::string>{"Ben", "Cy"}));
    EXPECT_EQ(queue.advance(9001), Action::None);
    EXPECT_EQ(queue.countdown()->secondsLeft, 1);
    EXPECT_EQ(queue.advance(999), Action::Play);
    EXPECT_FALSE(queue.countdown().has_value());
    EXPECT_EQ(queue.advance(5000), Action::None);  // played once

    // Stop during the countdown holds it; starting again goes on where it was.
    EXPECT_EQ(queue.songEnded(), Action::Open);
    EXPECT_EQ(queue.advance(4000), Action::None);
    queue.hold();
    EXPECT_EQ(queue.advance(60000), Action::None);
    EXPECT_EQ(queue.countdown()->secondsLeft, 6);
    EXPECT_EQ(queue.resume(), Action::None);
    EXPECT_EQ(queue.advance(6000), Action::Play);

    // A recording holds the queue: the song's end opens nothing.
    queue.hold();
    EXPECT_EQ(queue.songEnded(), Action::None);
    EXPECT_EQ(singers(queue), std::vector<std::string>{"Cy"});
    EXPECT_EQ(queue.resume(), Action::Open);
    EXPECT_EQ(queue.opened()->singer, "Cy");
    queue.setCountdownSeconds(0);
    EXPECT_EQ(queue.songEnded(), Action::None);  // nothing left
    EXPECT_EQ(queue.resume(), Action::None);
}

// Guards against Next skipping two rows, or a countdown of 0 never playing.
TEST(SingerQueue, NextAndNoCountdown) {
    SingerQueue queue = threeSingers();
    queue.setCountdownSeconds(0);
    queue.hold();
    EXPECT_EQ(queue.nextPressed(), Action::Open);
    EXPECT_EQ(queue.opened()->singer, "Ann");
    EXPECT_EQ(queue.nextPressed(), Action::Open);
    EXPECT_EQ(queue.opened()->singer, "Ben");
    EXPECT_EQ(queue.advance(1), Action::Play);
    queue.setCountdownSeconds(-5);
    EXPECT_EQ(queue.countdownSeconds(), 0);
    queue.setCountdownSeconds(100000);
    EXPECT_EQ(queue.countdownSeconds(), 600);
}

}  // namespace
