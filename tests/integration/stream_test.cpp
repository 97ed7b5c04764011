// The voice streams on the test server (scripts/pulse-server.sh) at their edges: waves
// shorter than the server's start level, and a take whose window thread stalls.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "TempDir.h"
#include "TestServer.h"
#include "WaveBuilder.h"
#include "platform/dialogs.h"
#include "voice_support.h"

namespace {

using cvktest::kVoiceRate;
using cvktest::PulseRecorder;

constexpr double kPi = 3.14159265358979323846;

class StreamOnServer : public testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SERVER();
        platform::setClockMode(platform::ClockMode::Real);
        audio::useRealWave();
        voxcapt::resetForTest();
    }
    void TearDown() override {
        voxcapt::resetForTest();
        host.pumpFor(0.05);
    }

    cvktest::VoiceHost host;
    platform::ScriptedMessageBoxes boxes;
    testing_support::TempDir dir;
};

struct ShortWave {
    const char* name;
    std::uint32_t bytes;  // of 16-bit mono at 22050 Hz
};

class ShortWaveOnServer : public StreamOnServer, public testing::WithParamInterface<ShortWave> {};

// Guards against a wave shorter than the stream's start level never starting (it was
// written while the device stood still), or a last buffer holding half a frame never
// reaching the server: no done notification, no close, the player waits forever.
TEST_P(ShortWaveOnServer, IsHeardWholeAndEveryBufferComesBack) {
    const ShortWave& c = GetParam();
    // Loud from its first frame to its last: 22050 / 8 Hz, so no sample of it is near zero
    // for long.
    std::vector<std::int16_t> samples((c.bytes + 1) / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(20000 * std::sin(2 * kPi * (static_cast<double>(i) + 0.5) / 8));
    }
    std::vector<std::uint8_t> data = testing_support::samples16(samples);
    data.resize(c.bytes);
    const std::string path =
        dir.write("short.wav", testing_support::waveFile(testing_support::pcmFormat(kVoiceRate, 1, 16), data));

    PulseRecorder speakers;
    std::string error;
    ASSERT_TRUE(speakers.start("speakers.monitor", 10.0, error)) << error;
    ASSERT_EQ(AudioPlayFile(host.window.handle(), path.c_str()), 1);
    ASSERT_TRUE(host.pumpUntil([&] { return host.closeMicros != 0; }, 8.0))
        << "the device never closed: the player still waits for a buffer";
    ASSERT_TRUE(speakers.waitForSound(host.closeMicros + 200'000, 3'000'000));
    speakers.stop();

    // The player's buffers are an eighth of a second in whole kilobytes: 5120 bytes here.
    const std::size_t buffers = (c.bytes + 5119) / 5120;
    EXPECT_EQ(std::count(host.messages.begin(), host.messages.end(), audio::kWaveOutDoneMessage),
              static_cast<std::ptrdiff_t>(buffers));
    EXPECT_EQ(host.messages.back(), audio::kWaveOutCloseMessage);
    const auto heard = cvktest::onsets(speakers, 0, 0.05f, PulseRecorder::kRate / 10);
    ASSERT_EQ(heard.size(), 1u) << "the wave was not heard, or not in one piece";
    std::size_t end = speakers.frames();
    while (end > heard[0] && std::fabs(speakers.sample(end - 1)) < 0.05f) {
        --end;
    }
    // A run dry on a busy machine may lengthen it; nothing may be missing.
    const double heardMs = static_cast<double>(end - heard[0]) * 1000 / PulseRecorder::kRate;
    const double waveMs = static_cast<double>(c.bytes / 2) * 1000 / kVoiceRate;
    EXPECT_GE(heardMs, waveMs - 2.0) << "the wave's end was cut off";
    EXPECT_TRUE(boxes.shown().empty());
}

INSTANTIATE_TEST_SUITE_P(Lengths, ShortWaveOnServer,
                         testing::Values(ShortWave{"OneFrame", 2}, ShortWave{"Bytes100", 100},
                                         ShortWave{"Bytes2200", 2200}, ShortWave{"OneBuffer", 5120},
                                         ShortWave{"OneBufferAndAByte", 5121}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
