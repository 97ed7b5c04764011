// The voice commands' wait for the wave devices' notifications.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "VoiceWindow.h"
#include "audio/wave.h"

// Guards a wait that spins: the queue's descriptor, never reset, stayed readable after
// the first notification, and every wait returned at once (some 24,000 polls a second
// while a take or a playback idled). A notification posted later wakes the wait once.
TEST(VoiceWindow, AWaitSleepsUntilTheNextNotification) {
    cvktool::VoiceWindow window;
    ASSERT_TRUE(platform::postMessage(window.handle(), audio::kWaveInOpenMessage, 0, 0));
    window.pump(std::nullopt);
    std::thread device([&window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        platform::postMessage(window.handle(), audio::kWaveOutCloseMessage, 0, 0);
    });
    int wakes = 0;
    while (!window.outputClosed() && wakes < 1000) {
        window.pump(std::nullopt);
        ++wakes;
    }
    device.join();
    EXPECT_TRUE(window.outputClosed());
    EXPECT_LE(wakes, 3) << "an interrupted wait may wake early once or twice, never spin";
}
