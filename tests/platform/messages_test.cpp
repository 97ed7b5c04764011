#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/messages.h"

namespace {

// Guards against messages lost, reordered or delivered to the wrong window, and against
// posts to a window that is gone.
TEST(Messages, PostedMessagesArriveInOrderAtTheirOwnWindow) {
    platform::MessageQueue first;
    platform::MessageQueue second;
    EXPECT_NE(first.handle(), second.handle());
    EXPECT_TRUE(platform::postMessage(first.handle(), 1034, 1, -2));
    EXPECT_TRUE(platform::postMessage(second.handle(), 1074, 3, 4));
    EXPECT_TRUE(platform::postMessage(first.handle(), 1035, 5, 6));
    platform::Message m;
    ASSERT_TRUE(first.peek(m));
    EXPECT_EQ(m.message, 1034u);
    EXPECT_EQ(m.wParam, 1u);
    EXPECT_EQ(m.lParam, -2);
    ASSERT_TRUE(first.peek(m));
    EXPECT_EQ(m.message, 1035u);
    EXPECT_FALSE(first.peek(m));
    ASSERT_TRUE(second.wait(m, 0));
    EXPECT_EQ(m.message, 1074u);

    platform::WindowHandle gone = 0;
    {
        platform::MessageQueue temporary;
        gone = temporary.handle();
    }
    EXPECT_FALSE(platform::postMessage(gone, 1, 0, 0));
    EXPECT_FALSE(platform::postMessage(0, 1, 0, 0));
}

// Guards against a flood (a finished song posts every millisecond) growing without bound.
TEST(Messages, AFullQueueRefusesMoreMessages) {
    platform::MessageQueue window;
    for (std::uint32_t i = 0; i < platform::MessageQueue::kCapacity; ++i) {
        ASSERT_TRUE(platform::postMessage(window.handle(), 1034, i, 0));
    }
    EXPECT_FALSE(platform::postMessage(window.handle(), 1034, 0, 0));
    platform::Message m;
    ASSERT_TRUE(window.peek(m));
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_TRUE(platform::postMessage(window.handle(), 1034, 0, 0));
}

// Guards against a waiting host missing a post from another thread, and against races
// between posting threads and a window being destroyed (run under ThreadSanitizer).
TEST(Messages, WaitWakesForPostsFromOtherThreads) {
    platform::MessageQueue window;
    std::atomic<bool> stop{false};
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < 200 && !stop.load(); ++i) {
                platform::postMessage(window.handle(), 2000 + static_cast<std::uint32_t>(t), static_cast<std::uintptr_t>(i), 0);
            }
        });
    }
    int received = 0;
    platform::Message m;
    while (received < 600 && window.wait(m, 2000)) {
        ++received;
    }
    stop = true;
    for (auto& poster : posters) {
        poster.join();
    }
    EXPECT_EQ(received, 600);
    EXPECT_FALSE(window.wait(m, 10));
}

}  // namespace
