// A take while the window thread or the monitor is held up, on the virtual devices and the
// manual clock: what the take keeps, and how late the singer hears themself afterwards.

#include "VoiceHarness.h"
#include "audio/wave_out.h"

namespace {

constexpr std::int32_t kBuffer = 1024;     // 512 frames, 23 ms
constexpr std::size_t kCount = 30000;      // the microphone counts frames modulo this

// Each frame of the microphone is its own number: what the monitor plays says when it was
// sung.
std::vector<std::uint8_t> countingVoice(std::size_t frames) {
    std::vector<std::int16_t> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<std::int16_t>(i % kCount);
    }
    return testing_support::samples16(samples);
}

enum class Stall { WindowThread, MonitorDevice };

struct StallCase {
    const char* name;
    Stall stall;
};

class MonitorDelay : public VoiceTest, public testing::WithParamInterface<StallCase> {
protected:
    // Frames between the microphone's last frame and the frame the monitor played last,
    // `ms` after the recording started.
    std::size_t delay(int ms) {
        const std::vector<std::uint8_t> heard = lastOutput();
        if (heard.size() < 2) {
            return SIZE_MAX;
        }
        const std::size_t sung = static_cast<std::size_t>(ms) * 22050 / 1000;
        const auto played = static_cast<std::size_t>(testing_support::sampleAt(heard, heard.size() / 2 - 1));
        return (sung - 1 + kCount - played) % kCount;
    }
};

// Guards the singer's monitor against a delay that only grows: after the window thread or
// the monitor's device was held up, the audio that waited to be heard is late, and the
// oldest of it must be dropped until the delay is what the monitor's pre-roll makes it.
TEST_P(MonitorDelay, ReturnsToThePreRollAfterAStall) {
    const StallCase& c = GetParam();
    audio::VirtualWaveSetup setup;
    setup.microphone = countingVoice(22050 * 4);
    useDevices(setup);
    AudioSetEchoDelay(0);
    ASSERT_EQ(AudioStartRecord(window.handle(), "", 22050, 1, 16, kBuffer, -1, 1), 1);
    run(1000);
    const std::size_t before = delay(1000);
    ASSERT_LT(before, 5u * kBuffer / 2) << "the monitor is not playing the microphone";

    if (c.stall == Stall::WindowThread) {
        platform::advanceManualClock(400);  // nothing handed back meanwhile
    } else {
        const audio::WaveOutHandle monitor = voxcapt::recordingView().monitorDevice;
        audio::waveOutPause(monitor);
        run(400);
        audio::waveOutRestart(monitor);
    }
    run(600);
    const std::size_t after = delay(2000);
    // Within a buffer of where it was: neither later (the stall kept) nor earlier (the
    // pre-roll lost, and with it the margin against running dry).
    EXPECT_NEAR(static_cast<double>(after), static_cast<double>(before), kBuffer / 2)
        << "frames between the microphone and the monitor";
    AudioStopRecord();
    recordToEnd();
}

// Guards the take against a window thread that is late to hand buffers back: everything
// the microphone delivered meanwhile is in the take, in order, none of it twice.
TEST_F(VoiceTest, ATakeKeepsEveryByteWhileTheWindowStalls) {
    const std::vector<std::uint8_t> voice = testing_support::rampData(22050 * 2 * 6);
    audio::VirtualWaveSetup setup;
    setup.microphone = voice;
    useDevices(setup);
    const std::string target = dir.path("take.wav");
    ASSERT_EQ(AudioStartRecord(window.handle(), target.c_str(), 22050, 1, 16, 4096, 0, 0), 1);
    for (int stall = 0; stall < 3; ++stall) {
        run(700);
        platform::advanceManualClock(1000);  // longer than the eight buffers last
    }
    run(700);
    AudioStopRecord();
    recordToEnd();
    const std::vector<std::uint8_t> file = readFile(target);
    ASSERT_GE(file.size(), 46u);
    const std::vector<std::uint8_t> take(file.begin() + 46, file.end());
    EXPECT_GE(take.size(), 2u * 22050 * 5) << "audio of the stalls is missing";
    EXPECT_EQ(take, std::vector<std::uint8_t>(voice.begin(), voice.begin() + static_cast<std::ptrdiff_t>(take.size())));
}

INSTANTIATE_TEST_SUITE_P(Stalls, MonitorDelay,
                         testing::Values(StallCase{"WindowThread", Stall::WindowThread},
                                         StallCase{"MonitorDevice", Stall::MonitorDevice}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
