// The wave devices on their virtual backend, moved by the manual clock (or the virtual
// one), with their notifications taken from the window's queue as the window would.

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "WaveBuilder.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"
#include "wave_device.h"

namespace {

using audio::WaveError;
using audio::WaveFormat;
using audio::WaveHeader;

WaveFormat pcm(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
    return testing_support::pcmFormat(rate, channels, bits);
}

// A buffer with its own data, filled with a running byte count so order shows.
struct Buffer {
    explicit Buffer(std::uint32_t bytes, std::uint8_t first = 0) : data(bytes) {
        std::iota(data.begin(), data.end(), first);
        header.lpData = reinterpret_cast<char*>(data.data());
        header.dwBufferLength = bytes;
    }
    std::vector<std::uint8_t> data;
    WaveHeader header;
};

std::vector<platform::Message> take(platform::MessageQueue& window) {
    std::vector<platform::Message> messages;
    platform::Message m;
    while (window.peek(m)) {
        messages.push_back(m);
    }
    return messages;
}

const WaveHeader* headerOf(const platform::Message& m) {
    return reinterpret_cast<const WaveHeader*>(m.lParam);
}

class WaveDevices : public testing::Test {
protected:
    void SetUp() override {
        platform::setClockMode(platform::ClockMode::Manual);
        audio::VirtualWaveSetup setup;
        setup.microphone.resize(8000);
        std::iota(setup.microphone.begin(), setup.microphone.end(), std::uint8_t{7});
        audio::useVirtualWave(setup);
    }
    void TearDown() override { platform::setClockMode(platform::ClockMode::Manual); }

    platform::MessageQueue window;
};

struct OutputCase {
    const char* name;
    WaveFormat format;
    std::vector<std::uint32_t> lengths;  // written in this order
};

class WaveOutOrder : public WaveDevices, public testing::WithParamInterface<OutputCase> {};

// Guards against buffers coming back early, late, out of order, or with bytes lost or
// repeated between them (an empty buffer included), whatever the frame size.
TEST_P(WaveOutOrder, EachBufferComesBackOnceItsLastByteIsPlayed) {
    const OutputCase& c = GetParam();
    audio::WaveOutHandle out = 0;
    ASSERT_EQ(audio::waveOutOpen(&out, audio::kWaveMapper, c.format, window.handle()), WaveError::Ok);
    std::vector<std::unique_ptr<Buffer>> buffers;
    std::vector<std::uint8_t> expected;
    std::vector<std::uint64_t> dueAtByte;
    for (std::uint32_t length : c.lengths) {
        buffers.push_back(std::make_unique<Buffer>(length, static_cast<std::uint8_t>(expected.size())));
        expected.insert(expected.end(), buffers.back()->data.begin(), buffers.back()->data.end());
        dueAtByte.push_back(expected.size());
        ASSERT_EQ(audio::waveOutPrepareHeader(out, &buffers.back()->header), WaveError::Ok);
        ASSERT_EQ(audio::waveOutWrite(out, &buffers.back()->header), WaveError::Ok);
    }
    auto messages = take(window);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, audio::kWaveOutOpenMessage);

    std::size_t next = 0;
    for (std::uint64_t ms = 1; next < buffers.size() && ms < 10'000; ++ms) {
        platform::advanceManualClock(1);
        const std::uint64_t played = ms * c.format.samplesPerSec / 1000 * c.format.blockAlign;
        for (const platform::Message& m : take(window)) {
            ASSERT_EQ(m.message, audio::kWaveOutDoneMessage);
            ASSERT_LT(next, buffers.size());
            EXPECT_EQ(headerOf(m), &buffers[next]->header) << "buffer " << next;
            EXPECT_EQ(m.wParam, out);
            // Back within the millisecond that played its last byte, not before.
            EXPECT_GE(played, dueAtByte[next]);
            EXPECT_LT(played, dueAtByte[next] + c.format.avgBytesPerSec / 1000 + c.format.blockAlign);
            EXPECT_EQ(headerOf(m)->dwFlags.load(), audio::kWaveHeaderPrepared | audio::kWaveHeaderDone);
            ++next;
        }
    }
    EXPECT_EQ(next, buffers.size());
    EXPECT_EQ(audio::waveOutClose(out), WaveError::Ok);
    ASSERT_FALSE(audio::virtualWaveOutputs().empty());
    EXPECT_EQ(audio::virtualWaveOutputs().back(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WaveOutOrder,
    testing::Values(OutputCase{"Mono16", pcm(22050, 1, 16), {5120, 0, 300, 2}},
                    OutputCase{"Stereo16", pcm(44100, 2, 16), {4, 1764, 3000}},
                    OutputCase{"Mono8", pcm(8000, 1, 8), {7, 8, 9, 1000}}),
    [](const auto& param) { return param.param.name; });

// Guards against a reset that keeps a buffer (the player would wait for it forever),
// returns them out of order, or leaves the device paused or still playing old audio.
TEST_F(WaveDevices, ResetReturnsEveryQueuedBufferDoneAndInOrder) {
    audio::WaveOutHandle out = 0;
    ASSERT_EQ(audio::waveOutOpen(&out, 0, pcm(22050, 1, 16), window.handle()), WaveError::Ok);
    Buffer a(441), b(4410), c(4410);
    for (Buffer* buffer : {&a, &b, &c}) {
        audio::waveOutPrepareHeader(out, &buffer->header);
        ASSERT_EQ(audio::waveOutWrite(out, &buffer->header), WaveError::Ok);
    }
    EXPECT_EQ(audio::waveOutClose(out), WaveError::StillPlaying);
    EXPECT_EQ(audio::waveOutUnprepareHeader(out, &b.header), WaveError::StillPlaying);
    platform::advanceManualClock(20);  // a played, b partly
    ASSERT_EQ(audio::waveOutPause(out), WaveError::Ok);
    take(window);
    ASSERT_EQ(audio::waveOutReset(out), WaveError::Ok);
    const auto returned = take(window);
    ASSERT_EQ(returned.size(), 2u);
    EXPECT_EQ(headerOf(returned[0]), &b.header);
    EXPECT_EQ(headerOf(returned[1]), &c.header);
    for (Buffer* buffer : {&a, &b, &c}) {
        EXPECT_EQ(buffer->header.dwFlags.load(), audio::kWaveHeaderPrepared | audio::kWaveHeaderDone);
    }
    // Running again after the reset: a new buffer plays without a restart.
    Buffer d(44);
    audio::waveOutPrepareHeader(out, &d.header);
    audio::waveOutWrite(out, &d.header);
    platform::advanceManualClock(2);
    ASSERT_EQ(take(window).size(), 1u);
    ASSERT_EQ(audio::waveOutClose(out), WaveError::Ok);
    const auto messages = take(window);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, audio::kWaveOutCloseMessage);
    EXPECT_EQ(audio::waveOutWrite(out, &d.header), WaveError::InvalidHandle);
}

// Guards against a paused device that keeps playing, loses its place, or counts the
// pause as an underrun; and against a buffer written while paused jumping the queue.
TEST_F(WaveDevices, PauseHoldsThePlaceAndRestartGoesOn) {
    audio::WaveOutHandle out = 0;
    ASSERT_EQ(audio::waveOutOpen(&out, 0, pcm(22050, 1, 16), window.handle()), WaveError::Ok);
    Buffer a(882), b(882);
    audio::waveOutPrepareHeader(out, &a.header);
    audio::waveOutPrepareHeader(out, &b.header);
    audio::waveOutWrite(out, &a.header);
    platform::advanceManualClock(5);
    audio::waveOutPause(out);
    audio::waveOutWrite(out, &b.header);
    platform::advanceManualClock(500);
    EXPECT_EQ(take(window).size(), 1u);  // the open only
    EXPECT_EQ(audio::waveOutRestart(out), WaveError::Ok);
    platform::advanceManualClock(15);
    auto done = take(window);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(headerOf(done[0]), &a.header);
    platform::advanceManualClock(20);
    done = take(window);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(headerOf(done[0]), &b.header);
    EXPECT_EQ(audio::waveOutUnderruns(out), 0u);
    platform::advanceManualClock(1);
    EXPECT_EQ(audio::waveOutUnderruns(out), 1u);  // running dry is one underrun, not one a millisecond
    platform::advanceManualClock(10);
    EXPECT_EQ(audio::waveOutUnderruns(out), 1u);
    audio::waveOutClose(out);
    std::vector<std::uint8_t> expected(a.data);
    expected.insert(expected.end(), b.data.begin(), b.data.end());
    EXPECT_EQ(audio::virtualWaveOutputs().back(), expected);
}

// Guards against recorded bytes lost or doubled across buffers, a stop or reset that
// drops the partly filled buffer's bytes, and a microphone that loses audio while no
// buffer is queued.
TEST_F(WaveDevices, InputFillsBuffersInOrderAndHandsBackThePartialOneAtReset) {
    const WaveFormat format = pcm(22050, 1, 16);
    audio::WaveInHandle in = 0;
    ASSERT_EQ(audio::waveInOpen(&in, audio::kWaveMapper, format, window.handle()), WaveError::Ok);
    Buffer a(1000), b(1000), c(2000), d(2000);
    for (Buffer* buffer : {&a, &b}) {
        audio::waveInPrepareHeader(in, &buffer->header);
        ASSERT_EQ(audio::waveInAddBuffer(in, &buffer->header), WaveError::Ok);
    }
    platform::advanceManualClock(100);  // not started: nothing recorded
    EXPECT_EQ(take(window).size(), 1u);
    ASSERT_EQ(audio::waveInStart(in), WaveError::Ok);
    platform::advanceManualClock(100);  // 4410 bytes due, 2000 room
    auto filled = take(window);
    ASSERT_EQ(filled.size(), 2u);
    EXPECT_EQ(filled[0].message, audio::kWaveInDataMessage);
    EXPECT_EQ(headerOf(filled[0]), &a.header);
    EXPECT_EQ(a.header.dwBytesRecorded, 1000u);
    EXPECT_EQ(audio::waveInOverruns(in), 1u);
    for (Buffer* buffer : {&c, &d}) {
        audio::waveInPrepareHeader(in, &buffer->header);
        audio::waveInAddBuffer(in, &buffer->header);
    }
    platform::advanceManualClock(1);  // the waiting audio fills c at once, d in part
    EXPECT_EQ(take(window).size(), 1u);
    ASSERT_EQ(audio::waveInReset(in), WaveError::Ok);
    filled = take(window);
    ASSERT_EQ(filled.size(), 1u);
    EXPECT_EQ(headerOf(filled[0]), &d.header);
    EXPECT_EQ(d.header.dwBytesRecorded, 4410u + 44u - 4000u);
    EXPECT_EQ(d.header.dwFlags.load(), audio::kWaveHeaderPrepared | audio::kWaveHeaderDone);

    std::vector<std::uint8_t> recorded;
    for (Buffer* buffer : {&a, &b, &c, &d}) {
        recorded.insert(recorded.end(), buffer->data.begin(),
                        buffer->data.begin() + buffer->header.dwBytesRecorded);
    }
    std::vector<std::uint8_t> voice(recorded.size());
    std::iota(voice.begin(), voice.end(), std::uint8_t{7});
    EXPECT_EQ(recorded, voice);
    ASSERT_EQ(audio::waveInClose(in), WaveError::Ok);
    filled = take(window);
    ASSERT_EQ(filled.size(), 1u);
    EXPECT_EQ(filled[0].message, audio::kWaveInCloseMessage);
}

// Guards against a stop that keeps the partly filled buffer (a take would lose its end)
// or hands back buffers that hold nothing.
TEST_F(WaveDevices, StopHandsBackOnlyThePartlyFilledBuffer) {
    audio::WaveInHandle in = 0;
    ASSERT_EQ(audio::waveInOpen(&in, 0, pcm(8000, 1, 8), window.handle()), WaveError::Ok);
    Buffer a(100), b(100);
    for (Buffer* buffer : {&a, &b}) {
        audio::waveInPrepareHeader(in, &buffer->header);
        audio::waveInAddBuffer(in, &buffer->header);
    }
    audio::waveInStart(in);
    platform::advanceManualClock(5);
    take(window);
    ASSERT_EQ(audio::waveInStop(in), WaveError::Ok);
    auto back = take(window);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(a.header.dwBytesRecorded, 40u);
    EXPECT_EQ(audio::waveInStop(in), WaveError::Ok);
    EXPECT_TRUE(take(window).empty());  // b is empty and stays queued
    EXPECT_EQ(audio::waveInClose(in), WaveError::StillPlaying);
    audio::waveInReset(in);
    EXPECT_EQ(take(window).size(), 1u);
    EXPECT_EQ(b.header.dwBytesRecorded, 0u);
    EXPECT_EQ(audio::waveInClose(in), WaveError::Ok);
}

// Guards against a buffer used without its preparation, or queued twice.
TEST_F(WaveDevices, BuffersMustBePreparedAndQueuedOnce) {
    audio::WaveOutHandle out = 0;
    ASSERT_EQ(audio::waveOutOpen(&out, 0, pcm(22050, 1, 16), window.handle()), WaveError::Ok);
    Buffer a(100);
    EXPECT_EQ(audio::waveOutWrite(out, &a.header), WaveError::Unprepared);
    audio::waveOutPrepareHeader(out, &a.header);
    EXPECT_EQ(audio::waveOutWrite(out, &a.header), WaveError::Ok);
    EXPECT_EQ(audio::waveOutWrite(out, &a.header), WaveError::StillPlaying);
    audio::waveOutReset(out);
    EXPECT_EQ(audio::waveOutUnprepareHeader(out, &a.header), WaveError::Ok);
    EXPECT_EQ(a.header.dwFlags.load(), audio::kWaveHeaderDone);
    EXPECT_EQ(audio::waveOutClose(out), WaveError::Ok);
    EXPECT_EQ(audio::waveOutClose(out), WaveError::InvalidHandle);
}

// Guards against formats the arithmetic cannot stream being accepted.
TEST_F(WaveDevices, FormatQueryRefusesWhatCannotBeStreamed) {
    struct Case {
        WaveFormat format;
        bool playable;
    };
    WaveFormat adpcm = pcm(22050, 1, 16);
    adpcm.formatTag = 2;
    WaveFormat badAlign = pcm(22050, 2, 16);
    badAlign.blockAlign = 2;
    WaveFormat badRate = pcm(22050, 1, 16);
    badRate.avgBytesPerSec = 44000;
    const Case cases[] = {{pcm(22050, 1, 16), true}, {pcm(48000, 2, 8), true},
                          {adpcm, false},            {pcm(44100, 1, 24), false},
                          {pcm(44100, 3, 16), false}, {pcm(0, 1, 16), false},
                          {badAlign, false},         {badRate, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(audio::waveOutQuery(audio::kWaveMapper, c.format) == WaveError::Ok, c.playable)
            << c.format.formatTag << " " << c.format.channels << "x" << c.format.bitsPerSample;
        EXPECT_EQ(audio::waveInQuery(audio::kWaveMapper, c.format) == WaveError::Ok, c.playable);
    }
    EXPECT_EQ(audio::waveOutQuery(1, pcm(22050, 1, 16)), WaveError::BadDeviceId);
}

// Guards against the speakers' wave file losing or mangling what was played, leaving a
// previous file half-replaced, or the microphone reading its file's header as audio.
TEST_F(WaveDevices, SpeakersFileRecordsBackThroughTheMicrophone) {
    testing_support::TempDir folder;
    audio::VirtualWaveSetup setup;
    setup.speakersFile = folder.writeText("take.wav", "an older take");
    audio::useVirtualWave(setup);
    const WaveFormat format = pcm(11025, 2, 16);
    audio::WaveOutHandle out = 0;
    ASSERT_EQ(audio::waveOutOpen(&out, 0, format, window.handle()), WaveError::Ok);
    Buffer played(1001 * 4, 5);
    audio::waveOutPrepareHeader(out, &played.header);
    audio::waveOutWrite(out, &played.header);
    platform::advanceManualClock(200);
    ASSERT_EQ(audio::waveOutClose(out), WaveError::Ok);

    setup = {};
    setup.microphoneFile = folder.path("take.wav");
    audio::useVirtualWave(setup);
    audio::WaveInHandle in = 0;
    ASSERT_EQ(audio::waveInOpen(&in, 0, format, window.handle()), WaveError::Ok);
    Buffer recorded(1001 * 4 + 8, 0);
    audio::waveInPrepareHeader(in, &recorded.header);
    audio::waveInAddBuffer(in, &recorded.header);
    audio::waveInStart(in);
    platform::advanceManualClock(200);
    ASSERT_EQ(recorded.header.dwBytesRecorded, recorded.data.size());
    const std::vector<std::uint8_t> voice(recorded.data.begin(), recorded.data.end() - 8);
    EXPECT_EQ(voice, played.data);
    EXPECT_EQ(std::vector<std::uint8_t>(recorded.data.end() - 8, recorded.data.end()),
              std::vector<std::uint8_t>(8, 0));  // then silence
    EXPECT_EQ(audio::waveInClose(in), WaveError::Ok);
}

// Guards against a sound-server stream reporting buffers done while they are still in
// the server's buffer (a player closing at the last done would cut them off), or
// releasing them out of order.
TEST_F(WaveDevices, DeferredQueueFinishesBuffersOnlyOncePlayed) {
    audio::detail::WaveQueue queue(window.handle(), 9, audio::kWaveOutDoneMessage, true);
    Buffer a(100), b(50), c(100);
    for (Buffer* buffer : {&a, &b, &c}) {
        buffer->header.dwFlags = audio::kWaveHeaderPrepared;
        ASSERT_TRUE(queue.push(&buffer->header));
    }
    std::vector<std::uint8_t> server(300);
    EXPECT_EQ(queue.take(server.data(), 120), 120u);
    EXPECT_EQ(queue.take(server.data() + 120, 180), 130u);
    EXPECT_FALSE(queue.untaken());
    EXPECT_TRUE(take(window).empty());
    queue.release(149);  // a played, b one byte short
    auto done = take(window);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(headerOf(done[0]), &a.header);
    EXPECT_EQ(b.header.dwFlags.load(), audio::kWaveHeaderPrepared | audio::kWaveHeaderInQueue);
    queue.finishAll();
    done = take(window);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(headerOf(done[0]), &b.header);
    EXPECT_EQ(headerOf(done[1]), &c.header);
    EXPECT_TRUE(queue.empty());
}

// Guards a live output that drops audio: buffers coming back out of order, the server's
// oldest audio kept while newer is dropped, a frame split, or more dropped than the lead
// asks (the monitor would fall silent).
TEST_F(WaveDevices, LiveQueueDropsTheOldestDownToItsLead) {
    audio::detail::WaveQueue queue(window.handle(), 9, audio::kWaveOutDoneMessage, true);
    Buffer a(100), b(100, 100), c(100, 200), d(100, 44);
    for (Buffer* buffer : {&a, &b, &c, &d}) {
        buffer->header.dwFlags = audio::kWaveHeaderPrepared;
        ASSERT_TRUE(queue.push(&buffer->header));
    }
    std::vector<std::uint8_t> server(400);
    ASSERT_EQ(queue.take(server.data(), 150), 150u);  // a whole, half of b
    queue.dropOldest(119, 2);
    EXPECT_EQ(queue.untakenBytes(), 118u);
    auto done = take(window);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(headerOf(done[0]), &a.header);
    EXPECT_EQ(headerOf(done[1]), &b.header);
    ASSERT_EQ(queue.take(server.data(), 400), 118u);
    std::vector<std::uint8_t> expected(c.data.end() - 18, c.data.end());
    expected.insert(expected.end(), d.data.begin(), d.data.end());
    EXPECT_EQ(std::vector<std::uint8_t>(server.begin(), server.begin() + 118), expected);
    queue.release(queue.takenBytes());
    done = take(window);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(headerOf(done[0]), &c.header);
    EXPECT_EQ(headerOf(done[1]), &d.header);
}

// Guards against a device thread that touches a buffer after handing it back, or a
// notification that arrives before the buffer shows Done (run under ThreadSanitizer):
// on the virtual clock the device runs on its own thread while this one refills.
TEST_F(WaveDevices, VirtualClockRunPlaysEveryByteInOrder) {
    platform::setClockMode(platform::ClockMode::Virtual);
    audio::WaveOutHandle out = 0;
    ASSERT_EQ(audio::waveOutOpen(&out, 0, pcm(22050, 1, 16), window.handle()), WaveError::Ok);
    constexpr int kRefills = 200;
    std::vector<std::unique_ptr<Buffer>> buffers;
    std::vector<std::uint8_t> expected;
    int written = 0;
    auto write = [&](Buffer& buffer) {
        std::iota(buffer.data.begin(), buffer.data.end(), static_cast<std::uint8_t>(written * 3));
        expected.insert(expected.end(), buffer.data.begin(), buffer.data.end());
        ++written;
        ASSERT_EQ(audio::waveOutWrite(out, &buffer.header), WaveError::Ok);
    };
    for (int i = 0; i < 3; ++i) {
        buffers.push_back(std::make_unique<Buffer>(512));
        audio::waveOutPrepareHeader(out, &buffers.back()->header);
        write(*buffers.back());
    }
    int done = 0;
    platform::Message m;
    while (done < written && window.wait(m, 5000)) {
        if (m.message != audio::kWaveOutDoneMessage) {
            continue;
        }
        ++done;
        auto* header = reinterpret_cast<WaveHeader*>(m.lParam);
        ASSERT_NE(header->dwFlags.load() & audio::kWaveHeaderDone, 0u);
        if (written < kRefills) {
            for (auto& buffer : buffers) {
                if (&buffer->header == header) {
                    write(*buffer);
                }
            }
        }
    }
    EXPECT_EQ(done, kRefills);
    ASSERT_EQ(audio::waveOutClose(out), WaveError::Ok);
    EXPECT_EQ(audio::virtualWaveOutputs().back(), expected);
}

}  // namespace

namespace {

struct FailureCase {
    const char* name;
    bool input;
    WaveError error;
};

class WaveFailure : public WaveDevices, public testing::WithParamInterface<FailureCase> {};

// Guards a failed stream: a buffer kept (the player or the take waits for it forever), an
// error posted after the buffers (their handler would queue them again) or more than once, or a device that goes on taking
// buffers, starting or stopping as if nothing happened; it must still close.
TEST_P(WaveFailure, OneErrorThenEveryBufferComesBackAndOnlyCloseWorks) {
    const FailureCase& c = GetParam();
    const WaveFormat format = pcm(22050, 1, 16);
    std::uint32_t device = 0;
    if (c.input) {
        ASSERT_EQ(audio::waveInOpen(&device, audio::kWaveMapper, format, window.handle()), WaveError::Ok);
    } else {
        ASSERT_EQ(audio::waveOutOpen(&device, audio::kWaveMapper, format, window.handle()), WaveError::Ok);
    }
    auto prepare = c.input ? audio::waveInPrepareHeader : audio::waveOutPrepareHeader;
    auto submit = c.input ? audio::waveInAddBuffer : audio::waveOutWrite;
    auto run = c.input ? audio::waveInStart : audio::waveOutRestart;
    auto halt = c.input ? audio::waveInStop : audio::waveOutPause;
    auto reset = c.input ? audio::waveInReset : audio::waveOutReset;
    Buffer first(441), second(4410), third(4410), late(100);
    for (Buffer* buffer : {&first, &second, &third}) {
        ASSERT_EQ(prepare(device, &buffer->header), WaveError::Ok);
        ASSERT_EQ(submit(device, &buffer->header), WaveError::Ok);
    }
    ASSERT_EQ(run(device), WaveError::Ok);
    platform::advanceManualClock(20);  // the first back, the second under way
    take(window);

    audio::failVirtualWave(c.error);
    platform::advanceManualClock(1);
    const auto messages = take(window);
    const std::uint32_t backMessage = c.input ? audio::kWaveInDataMessage : audio::kWaveOutDoneMessage;
    const std::uint32_t errorMessage = c.input ? audio::kWaveInErrorMessage : audio::kWaveOutErrorMessage;
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].message, errorMessage);
    EXPECT_EQ(messages[0].wParam, device);
    EXPECT_EQ(static_cast<WaveError>(messages[0].lParam), c.error);
    EXPECT_EQ(messages[1].message, backMessage);
    EXPECT_EQ(headerOf(messages[1]), &second.header);
    EXPECT_EQ(messages[2].message, backMessage);
    EXPECT_EQ(headerOf(messages[2]), &third.header);
    for (Buffer* buffer : {&first, &second, &third}) {
        EXPECT_EQ(buffer->header.dwFlags.load(), audio::kWaveHeaderPrepared | audio::kWaveHeaderDone);
    }
    platform::advanceManualClock(100);
    EXPECT_TRUE(take(window).empty()) << "the error came again";

    EXPECT_EQ(prepare(device, &late.header), c.error);
    EXPECT_EQ(submit(device, &second.header), c.error);
    EXPECT_EQ(second.header.dwFlags.load(), audio::kWaveHeaderPrepared | audio::kWaveHeaderDone);
    EXPECT_EQ(run(device), c.error);
    EXPECT_EQ(halt(device), c.error);
    EXPECT_EQ(reset(device), c.error);
    std::uint32_t another = 0;
    EXPECT_EQ(c.input ? audio::waveInOpen(&another, audio::kWaveMapper, format, window.handle())
                      : audio::waveOutOpen(&another, audio::kWaveMapper, format, window.handle()),
              c.error);
    for (Buffer* buffer : {&first, &second, &third}) {
        EXPECT_EQ((c.input ? audio::waveInUnprepareHeader : audio::waveOutUnprepareHeader)(device, &buffer->header),
                  WaveError::Ok);
    }
    EXPECT_EQ(c.input ? audio::waveInClose(device) : audio::waveOutClose(device), WaveError::Ok);
    const auto closed = take(window);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].message, c.input ? audio::kWaveInCloseMessage : audio::kWaveOutCloseMessage);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, WaveFailure,
    testing::Values(FailureCase{"PlaybackWithoutServer", false, WaveError::NoSoundServer},
                    FailureCase{"PlaybackDeviceRemoved", false, WaveError::NoDriver},
                    FailureCase{"RecordingWithoutServer", true, WaveError::NoSoundServer},
                    FailureCase{"RecordingDeviceRemoved", true, WaveError::NoDriver}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
