// The user's mutes and volumes on a real sound server (scripts/pulse-server.sh): what the
// player's selection of its devices changes comes back when it lets them go, and a muted
// microphone is opened only while a take is recorded.

#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "TestServer.h"
#include "audio/mixer.h"
#include "audio/wave.h"
#include "faderlib/faderlib.h"
#include "platform/dialogs.h"
#include "platform/mm_timer.h"
#include "pulse_support.h"
#include "voice_support.h"
#include "voxcapt/voxcapt.h"

namespace {

using cvktest::run;

class UsersMutes : public testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SERVER();
        platform::setClockMode(platform::ClockMode::Real);
        audio::useRealMixer();
        audio::useRealWave();
        faderlib::resetForTest();
        voxcapt::resetForTest();
        SetCallbackWindow(0);
    }

    void TearDown() override {
        if (!testing_support::testServerGiven()) {
            return;
        }
        voxcapt::resetForTest();
        DeSelectInputDevice();
        DeSelectOutputDevice();
        faderlib::resetForTest();
        run("pactl set-sink-mute speakers 0; pactl set-source-mute mic 0; "
            "pactl set-sink-volume speakers 100%; pactl set-source-volume mic 100%");
    }

    static bool sinkMuted() {
        return run("pactl get-sink-mute speakers").find("yes") != std::string::npos;
    }
    static bool sourceMuted() {
        return run("pactl get-source-mute mic").find("yes") != std::string::npos;
    }

    platform::ScriptedMessageBoxes boxes;
};

// Guards the user's mutes and volumes: selecting the devices, in the player or by
// `cvktool mixer select-source`, leaves a muted microphone muted, and what it unmuted and
// raised to be heard comes back once the devices are let go.
TEST_F(UsersMutes, SelectingTheDevicesGivesBackTheUsersMutesAndVolumes) {
    for (const bool inProcess : {true, false}) {
        SCOPED_TRACE(inProcess ? "as the window selects" : "cvktool mixer select-source");
        run("pactl set-sink-mute speakers 1; pactl set-source-mute mic 1; "
            "pactl set-sink-volume speakers 5%; pactl set-source-volume mic 2%");
        if (inProcess) {
            ASSERT_EQ(SelectOutputDevice(0), 0);
            ASSERT_EQ(SelectInputDevice(0), 0);
            ASSERT_EQ(SelectInputSource(GetMicrophoneSourceIndex()), 0);
            EXPECT_FALSE(sinkMuted()) << "the output is audible while it is selected";
            EXPECT_TRUE(sourceMuted()) << "the microphone was opened by a mere selection";
            DeSelectInputDevice();
            DeSelectOutputDevice();
        } else {
            const std::string said = run(std::string(CVKTOOL_PATH) + " mixer select-source 0");
            ASSERT_NE(said.find("recording source 0"), std::string::npos) << said;
        }
        EXPECT_TRUE(sinkMuted());
        EXPECT_TRUE(sourceMuted());
        const std::string speakers = run("pactl get-sink-volume speakers");
        EXPECT_NE(speakers.find(" 5%"), std::string::npos) << speakers;
        const std::string microphone = run("pactl get-source-volume mic");
        EXPECT_NE(microphone.find(" 2%"), std::string::npos) << microphone;
    }
}

// Guards the microphone's privacy: a microphone the user muted is unmuted for a take and
// muted again once the take is finished.
TEST_F(UsersMutes, AMutedMicrophoneIsOpenOnlyWhileATakeIsRecorded) {
    run("pactl set-source-mute mic 1");
    ASSERT_EQ(SelectInputDevice(0), 0);
    ASSERT_EQ(SelectInputSource(GetMicrophoneSourceIndex()), 0);
    ASSERT_TRUE(sourceMuted());
    cvktest::VoiceHost host;
    testing_support::TempDir dir;
    const std::string take = dir.path("take.wav");
    ASSERT_EQ(AudioStartRecord(host.window.handle(), take.c_str(), cvktest::kVoiceRate, 1, 16, 4096,
                               0, 0),
              1);
    EXPECT_FALSE(sourceMuted()) << "the take records a muted microphone";
    host.pumpFor(0.3);
    AudioStopRecord();
    ASSERT_TRUE(host.pumpUntil([] { return !voxcapt::recordingView().active; }, 5.0))
        << "the take was never finished";
    EXPECT_TRUE(sourceMuted()) << "the microphone stays open after the take";
}

}  // namespace
