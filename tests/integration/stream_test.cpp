// The voice streams on the test server (scripts/pulse-server.sh) at their edges: waves
// shorter than the server's start level, and a take whose window thread stalls.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "TestServer.h"
#include "WaveBuilder.h"
#include "WaveFile.h"
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

// Noise under about 5 kHz (it passes the server's resampling at 22050 Hz unchanged in
// shape), from a fixed seed: a stretch of it matches the signal at one place only, so a
// frame lost or repeated anywhere shows as a shift of everything after it.
std::vector<std::int16_t> noise(double seconds) {
    std::vector<double> white(static_cast<std::size_t>(seconds * kVoiceRate) + 4);
    std::uint32_t state = 12345;
    for (double& v : white) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<double>(state >> 8) / (1u << 24) - 0.5;
    }
    std::vector<std::int16_t> samples(white.size() - 4);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double low = (white[i] + 4 * white[i + 1] + 6 * white[i + 2] + 4 * white[i + 3] + white[i + 4]) / 16;
        samples[i] = static_cast<std::int16_t>(std::clamp(low * 60000, -30000.0, 30000.0));
    }
    return samples;
}

// Normalized correlation of take[at, at + length) with reference[from, from + length).
double match(const std::vector<std::int16_t>& take, std::size_t at, const std::vector<std::int16_t>& reference,
             std::size_t from, std::size_t length) {
    double cross = 0;
    double takeEnergy = 0;
    double referenceEnergy = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const double a = take[at + i];
        const double b = reference[from + i];
        cross += a * b;
        takeEnergy += a * a;
        referenceEnergy += b * b;
    }
    return takeEnergy > 0 && referenceEnergy > 0 ? cross / std::sqrt(takeEnergy * referenceEnergy) : 0;
}

// The take's samples, read back with the library's own reader.
std::vector<std::int16_t> takeSamples(const std::string& path) {
    platform::FileReader file;
    voxcapt::ParsedWave parsed;
    if (!file.open(path) || voxcapt::parseWave(file, parsed) != voxcapt::WaveParseError::None) {
        return {};
    }
    std::vector<std::int16_t> samples(parsed.dataSize / 2);
    file.seek(parsed.dataOffset);
    file.read(samples.data(), samples.size() * 2);
    return samples;
}

// Where a stretch of the signal sits in the take, as an offset (take frame minus signal
// frame) within [lowest, highest]; nothing when it matches nowhere.
std::optional<std::ptrdiff_t> locate(const std::vector<std::int16_t>& take, const std::vector<std::int16_t>& sung,
                                     std::size_t from, std::size_t length, std::ptrdiff_t lowest,
                                     std::ptrdiff_t highest) {
    std::optional<std::ptrdiff_t> found;
    double best = 0.9;
    for (std::ptrdiff_t offset = std::max(lowest, -static_cast<std::ptrdiff_t>(from)); offset <= highest; ++offset) {
        const std::size_t at = from + static_cast<std::size_t>(offset);
        if (at + length > take.size()) {
            break;
        }
        if (const double m = match(take, at, sung, from, length); m > best) {
            best = m;
            found = offset;
        }
    }
    return found;
}

// Guards the singer's audio against a window thread that is late to hand buffers back (a
// busy machine): the capture device must keep what it records meanwhile and hand it over
// later, so the take holds every frame sung, in order, none twice. A busy machine may run
// the singer's own stream dry, which delays the rest of the signal in the microphone; a
// frame the take lost brings the rest of it early.
TEST_F(StreamOnServer, ATakeKeepsEveryFrameWhileTheWindowStalls) {
    constexpr double kSeconds = 6.0;
    const std::vector<std::int16_t> sung = noise(kSeconds);
    const auto microphone = cvktest::outputNamed("Microphone");
    ASSERT_TRUE(microphone.has_value());
    const std::string target = dir.path("take.wav");
    // All of the signal is queued at once: the singer never waits for this thread.
    cvktest::Feeder singer(sung, nullptr, 8192, static_cast<int>(sung.size() * 2 / 8192 + 1));
    ASSERT_EQ(AudioStartRecord(host.window.handle(), target.c_str(), kVoiceRate, 1, 16, 4096, 0, 0), 1);
    ASSERT_TRUE(singer.open(*microphone));
    for (int stall = 0; stall < 3; ++stall) {
        host.pumpFor(0.7, &singer);
        // Longer than the recorder's eight buffers of 93 ms last.
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    ASSERT_TRUE(host.pumpUntil([&] { return singer.finished(); }, 10.0, &singer));
    host.pumpFor(0.5, &singer);
    const std::uint64_t dry = singer.underruns();
    AudioStopRecord();
    ASSERT_TRUE(host.pumpUntil([] { return !voxcapt::recordingView().active; }, 5.0));
    singer.close();
    const std::vector<std::int16_t> take = takeSamples(target);
    EXPECT_TRUE(boxes.shown().empty());
    SCOPED_TRACE("the singer ran dry " + std::to_string(dry) + " times (once is its end)");

    constexpr std::size_t kWindow = 1024;
    const auto second = static_cast<std::ptrdiff_t>(kVoiceRate);
    // The singer starts within a second or two of the take.
    std::optional<std::ptrdiff_t> offset = locate(take, sung, 0, kWindow, 0, 2 * second);
    ASSERT_TRUE(offset.has_value()) << "the signal's start is not in the take";
    bool lastMatched = true;
    for (std::size_t from = kWindow; from + kWindow <= sung.size(); from += kWindow) {
        const double seconds = static_cast<double>(from) / kVoiceRate;
        if (*offset + static_cast<std::ptrdiff_t>(from + kWindow) <= static_cast<std::ptrdiff_t>(take.size()) &&
            match(take, from + static_cast<std::size_t>(*offset), sung, from, kWindow) > 0.9) {
            lastMatched = true;
            continue;
        }
        const auto moved = locate(take, sung, from, kWindow, *offset - second, *offset + second);
        if (!moved) {
            // A stretch in which the singer ran dry matches nowhere whole; the next one must.
            ASSERT_TRUE(lastMatched) << "frames of the signal lost or out of order around " << seconds << " s of it";
            lastMatched = false;
            continue;
        }
        ASSERT_GE(*moved, *offset) << static_cast<double>(*offset - *moved) / kVoiceRate
                                   << " s of the signal lost before " << seconds << " s of it";
        offset = moved;
        lastMatched = true;
    }
    EXPECT_TRUE(lastMatched) << "the signal's end is not in the take";
}

}  // namespace
