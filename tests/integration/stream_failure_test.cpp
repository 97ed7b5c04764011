// Voice streams whose server goes away or takes their device away, each on a server of the
// test's own (own_server.h).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "TestServer.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "own_server.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"

namespace {

using audio::WaveError;
using audio::WaveHeader;

struct Buffer {
    explicit Buffer(std::uint32_t bytes) : data(bytes) {
        header.lpData = data.data();
        header.dwBufferLength = bytes;
    }
    std::vector<char> data;
    WaveHeader header;
};

// One open device of either direction, as a player or a recorder drives it: every buffer
// queued at once, a recorder's added again as it comes back until told to stop.
class Stream {
public:
    Stream(bool input, platform::MessageQueue& window) : m_input(input), m_window(window) {}
    ~Stream() { close(); }

    WaveError open(std::int32_t device, int buffers, std::uint32_t bytes, const std::vector<std::int16_t>& fill = {}) {
        const WaveError opened = m_input
                                     ? audio::waveInOpen(&m_handle, device, audio::WaveFormat(), m_window.handle())
                                     : audio::waveOutOpen(&m_handle, device, audio::WaveFormat(), m_window.handle());
        if (opened != WaveError::Ok) {
            m_handle = 0;
            return opened;
        }
        for (int i = 0; i < buffers; ++i) {
            m_buffers.push_back(std::make_unique<Buffer>(bytes));
            for (std::size_t k = 0; k < bytes / 2 && !fill.empty(); ++k) {
                reinterpret_cast<std::int16_t*>(m_buffers.back()->data.data())[k] = fill[k % fill.size()];
            }
            prepare(m_buffers.back()->header);
            submit(m_buffers.back()->header);
        }
        return m_input ? audio::waveInStart(m_handle) : WaveError::Ok;
    }

    // Takes the window's messages for `seconds`, or until `done`.
    void pump(double seconds, const std::function<bool()>& done = [] { return false; }) {
        const std::uint64_t giveUp = platform::clockMicros() + static_cast<std::uint64_t>(seconds * 1e6);
        platform::Message m;
        while (!done() && platform::clockMicros() < giveUp) {
            if (!m_window.wait(m, 20)) {
                continue;
            }
            if (m.wParam != m_handle) {
                continue;
            }
            if (m.message == audio::kWaveOutDoneMessage || m.message == audio::kWaveInDataMessage) {
                --m_queued;
                auto* header = reinterpret_cast<WaveHeader*>(m.lParam);
                if (m_input) {
                    const auto* samples = reinterpret_cast<const std::int16_t*>(header->lpData);
                    recorded.insert(recorded.end(), samples, samples + header->dwBytesRecorded / 2);
                }
                if (m_input && m_recycle) {
                    submit(*header);
                }
                afterError += errors != 0 ? 1 : 0;
            } else if (m.message == audio::kWaveOutErrorMessage || m.message == audio::kWaveInErrorMessage) {
                ++errors;
                error = static_cast<WaveError>(m.lParam);
                queuedAtError = m_queued;
            }
        }
    }

    void stopRecycling() { m_recycle = false; }
    int queued() const { return m_queued; }
    audio::WaveOutHandle handle() const { return m_handle; }
    WaveError submitAgain() { return m_input ? audio::waveInAddBuffer(m_handle, &m_buffers[0]->header)
                                             : audio::waveOutWrite(m_handle, &m_buffers[0]->header); }
    WaveError run() { return m_input ? audio::waveInStart(m_handle) : audio::waveOutRestart(m_handle); }

    WaveError close() {
        if (m_handle == 0) {
            return WaveError::Ok;
        }
        m_input ? audio::waveInReset(m_handle) : audio::waveOutReset(m_handle);
        for (auto& buffer : m_buffers) {
            m_input ? audio::waveInUnprepareHeader(m_handle, &buffer->header)
                    : audio::waveOutUnprepareHeader(m_handle, &buffer->header);
        }
        const WaveError closed = m_input ? audio::waveInClose(m_handle) : audio::waveOutClose(m_handle);
        m_handle = 0;
        return closed;
    }

    int errors = 0;
    WaveError error = WaveError::Ok;
    int queuedAtError = -1;  // buffers not yet back when the error was taken
    int afterError = 0;      // buffers that came back after it
    std::vector<std::int16_t> recorded;

private:
    void prepare(WaveHeader& header) {
        m_input ? audio::waveInPrepareHeader(m_handle, &header) : audio::waveOutPrepareHeader(m_handle, &header);
    }
    void submit(WaveHeader& header) {
        if ((m_input ? audio::waveInAddBuffer(m_handle, &header) : audio::waveOutWrite(m_handle, &header)) ==
            WaveError::Ok) {
            ++m_queued;
        }
    }

    bool m_input;
    platform::MessageQueue& m_window;
    audio::WaveOutHandle m_handle = 0;
    std::vector<std::unique_ptr<Buffer>> m_buffers;
    int m_queued = 0;
    bool m_recycle = true;
};

// A loud 1 kHz tone at 22050 Hz, a whole number of periods long.
std::vector<std::int16_t> toneCycle() {
    std::vector<std::int16_t> samples(441);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(20000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / 22050));
    }
    return samples;
}

class StreamFailure : public testing::Test {
protected:
    void SetUp() override {
        if (!testing_support::testServerGiven() || std::getenv("CVK_SOURCE_DIR") == nullptr) {
            GTEST_SKIP() << "run under scripts/pulse-server.sh, from ctest";
        }
        platform::setClockMode(platform::ClockMode::Real);
        audio::useRealWave();
        ASSERT_TRUE(server.start()) << "no server of the test's own";
        scoped.emplace(server.address());
    }

    cvktest::OwnServer server;
    std::optional<cvktest::ScopedServer> scoped;  // goes before the server does
    platform::MessageQueue window;
};

struct KillCase {
    const char* name;
    bool input;
};

class ServerKilled : public StreamFailure, public testing::WithParamInterface<KillCase> {};

// Guards a stream whose server died: a take that silently stops growing while the
// recorder goes on, a player that waits forever for its buffers; one error, then every
// buffer must come back, and the device must refuse what follows yet close.
TEST_P(ServerKilled, OneErrorNamingTheServerThenEveryBufferComesBack) {
    const KillCase& c = GetParam();
    Stream stream(c.input, window);
    // A playback of 1.6 s, all of it queued; a recording through four 46 ms buffers.
    ASSERT_EQ(stream.open(audio::kWaveMapper, c.input ? 4 : 8, c.input ? 2048 : 8820, toneCycle()), WaveError::Ok);
    stream.pump(0.3);
    ASSERT_EQ(stream.errors, 0);
    stream.stopRecycling();
    server.kill();
    stream.pump(5.0, [&] { return stream.errors != 0; });
    stream.pump(0.3);
    EXPECT_EQ(stream.errors, 1);
    EXPECT_EQ(stream.error, WaveError::NoSoundServer);
    EXPECT_EQ(stream.queued(), 0) << "a buffer never came back";
    EXPECT_EQ(stream.afterError, stream.queuedAtError) << "a buffer came back before the error";
    EXPECT_EQ(stream.submitAgain(), WaveError::NoSoundServer);
    EXPECT_EQ(stream.run(), WaveError::NoSoundServer);
    EXPECT_EQ(stream.close(), WaveError::Ok);
}

INSTANTIATE_TEST_SUITE_P(Streams, ServerKilled,
                         testing::Values(KillCase{"Recording", true}, KillCase{"Playback", false}),
                         [](const auto& param) { return std::string(param.param.name); });

struct RemovalCase {
    const char* name;
    bool input;
};

class DeviceRemoved : public StreamFailure, public testing::WithParamInterface<RemovalCase> {
protected:
    // Unloads the module whose line in the server's list holds `arguments`.
    void unload(const std::string& arguments) {
        std::istringstream modules(server.pactl("list short modules"));
        std::string line;
        while (std::getline(modules, line)) {
            if (line.find(arguments) != std::string::npos) {
                server.pactl("unload-module " + line.substr(0, line.find_first_of(" \t")));
                return;
            }
        }
        ADD_FAILURE() << "no module with " << arguments;
    }
};

// Guards a stream the server moves when its device goes: a take that goes on recording the
// speakers (the program's own output) once the microphone is removed, a voice that moves
// to the speakers once its device is. The stream fails instead, as for a dead server,
// and nothing of the other device's sound gets into it.
TEST_P(DeviceRemoved, TheStreamFailsAndNothingElseIsRecordedOrPlayed) {
    const RemovalCase& c = GetParam();
    platform::MessageQueue otherWindow;
    cvktest::PulseRecorder speakers;
    Stream loud(false, otherWindow);
    Stream stream(c.input, window);
    if (c.input) {
        // The speakers play a tone while the microphone hears nothing.
        ASSERT_EQ(loud.open(audio::kWaveMapper, 8, 8820, toneCycle()), WaveError::Ok);
        ASSERT_EQ(stream.open(audio::kWaveMapper, 4, 2048), WaveError::Ok);
    } else {
        std::string error;
        ASSERT_TRUE(speakers.start("speakers.monitor", 4.0, error)) << error;
        std::int32_t microphone = -1;
        for (std::uint32_t i = 0; i < audio::waveOutDeviceCount(); ++i) {
            if (audio::waveOutDeviceName(i) == "Microphone") {
                microphone = static_cast<std::int32_t>(i);
            }
        }
        ASSERT_GE(microphone, 0);
        ASSERT_EQ(stream.open(microphone, 8, 8820, toneCycle()), WaveError::Ok);
    }
    stream.pump(0.3);
    ASSERT_EQ(stream.errors, 0);
    stream.stopRecycling();
    unload(c.input ? "source_name=mic" : "sink_name=microphone");
    stream.pump(5.0, [&] { return stream.errors != 0; });
    stream.pump(0.5);
    EXPECT_EQ(stream.errors, 1);
    EXPECT_EQ(stream.error, WaveError::NoDriver);
    EXPECT_EQ(stream.queued(), 0) << "a buffer never came back";
    EXPECT_EQ(stream.afterError, stream.queuedAtError) << "a buffer came back before the error";
    EXPECT_EQ(stream.submitAgain(), WaveError::NoDriver);
    EXPECT_EQ(stream.close(), WaveError::Ok);
    if (c.input) {
        ASSERT_FALSE(stream.recorded.empty());
        const auto loudest = std::max_element(stream.recorded.begin(), stream.recorded.end(),
                                              [](std::int16_t a, std::int16_t b) { return std::abs(a) < std::abs(b); });
        EXPECT_LT(std::abs(*loudest), 1000) << "the take recorded the speakers";
    } else {
        speakers.stop();
        EXPECT_LT(speakers.peak(0, speakers.frames()), 0.03f) << "the voice moved to the speakers";
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, DeviceRemoved,
                         testing::Values(RemovalCase{"Recording", true}, RemovalCase{"Playback", false}),
                         [](const auto& param) { return std::string(param.param.name); });

// Guards the message a user sees with no server running: an open that fails for want of a
// server says so, not that the format or the device is wrong.
TEST(StreamWithoutServer, OpenAndQuerySayThereIsNoServer) {
    audio::useRealWave();
    cvktest::ScopedServer nowhere("unix:/nonexistent/cantivo-test/native");
    audio::WaveOutHandle out = 0;
    audio::WaveInHandle in = 0;
    platform::MessageQueue window;
    EXPECT_EQ(audio::waveOutQuery(audio::kWaveMapper, audio::WaveFormat()), WaveError::NoSoundServer);
    EXPECT_EQ(audio::waveInQuery(audio::kWaveMapper, audio::WaveFormat()), WaveError::NoSoundServer);
    EXPECT_EQ(audio::waveOutOpen(&out, audio::kWaveMapper, audio::WaveFormat(), window.handle()),
              WaveError::NoSoundServer);
    EXPECT_EQ(audio::waveInOpen(&in, audio::kWaveMapper, audio::WaveFormat(), window.handle()),
              WaveError::NoSoundServer);
    EXPECT_EQ(audio::waveOutDeviceCount(), 0u);
}

}  // namespace
