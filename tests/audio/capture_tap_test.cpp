// The tap that hands what a wave input captures from its audio thread to one reader: in
// order, lost only when the reader falls seconds behind and then marked where it was lost,
// and from the device whether or not the window has queued buffers.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "audio/capture_tap.h"
#include "audio/wave_in.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"

namespace {

using audio::CaptureTap;

std::uint8_t byteAt(std::size_t index) { return static_cast<std::uint8_t>(index * 7 + index / 251); }

// What the reader took: the bytes, silence where some were lost (0xEE, to be seen).
std::size_t readInto(CaptureTap& tap, std::vector<std::uint8_t>& out, std::size_t* lost = nullptr) {
    return tap.read([&](const std::uint8_t* bytes, std::size_t size, bool wasLost) {
        if (wasLost) {
            out.insert(out.end(), size, 0xEE);
            if (lost != nullptr) {
                *lost += size;
            }
        } else {
            out.insert(out.end(), bytes, bytes + size);
        }
    });
}

struct PieceCase {
    const char* name;
    std::size_t piece;  // bytes the device delivers at once
};

class CaptureTapPieces : public testing::TestWithParam<PieceCase> {};

// Guards against audio torn, reordered or repeated between the audio thread and the reader
// at the piece sizes devices deliver: 10 ms of 22 kHz mono, one chunk
// exactly, several chunks at once; the reader reads while the device writes.
TEST_P(CaptureTapPieces, TheReaderGetsEveryByteInOrder) {
    auto tap = std::make_unique<CaptureTap>();
    tap->restart(audio::WaveFormat{});
    constexpr std::size_t kTotal = 300'000;  // fewer chunks than the ring holds: nothing may be lost
    std::vector<std::uint8_t> sent(kTotal);
    for (std::size_t i = 0; i < kTotal; ++i) {
        sent[i] = byteAt(i);
    }
    std::atomic<bool> done{false};
    std::thread device([&] {
        for (std::size_t at = 0; at < kTotal; at += GetParam().piece) {
            tap->write(sent.data() + at, std::min(GetParam().piece, kTotal - at));
            tap->flush();
        }
        done.store(true, std::memory_order_release);
    });
    std::vector<std::uint8_t> got;
    while (!done.load(std::memory_order_acquire)) {
        readInto(*tap, got);
        std::this_thread::yield();
    }
    device.join();
    readInto(*tap, got);
    EXPECT_EQ(got, sent);
}

INSTANTIATE_TEST_SUITE_P(Pieces, CaptureTapPieces,
                         testing::Values(PieceCase{"TenMilliseconds", 441},
                                         PieceCase{"OneChunk", CaptureTap::kChunkBytes},
                                         PieceCase{"SeveralChunks", 3 * CaptureTap::kChunkBytes + 5}),
                         [](const auto& row) { return std::string(row.param.name); });

// Guards against a reader that falls behind losing its time: what found the ring full is
// counted and handed over as a gap just where it was, so the stream read is as long as
// the stream captured; and against a new capture reading what an earlier one left.
TEST(CaptureTap, LostAudioIsAGapWhereItWasAndARestartForgetsTheOldCapture) {
    auto tap = std::make_unique<CaptureTap>();
    tap->restart(audio::WaveFormat{});
    const std::size_t full = CaptureTap::kChunks * CaptureTap::kChunkBytes;
    std::vector<std::uint8_t> kept(full, 0x11);
    tap->write(kept.data(), kept.size());
    const std::vector<std::uint8_t> dropped(5000, 0x22);
    tap->write(dropped.data(), dropped.size());
    tap->flush();

    std::vector<std::uint8_t> got;
    std::size_t lost = 0;
    EXPECT_EQ(readInto(*tap, got, &lost), full);
    EXPECT_EQ(lost, 0u);
    const std::vector<std::uint8_t> after(10, 0x33);
    tap->write(after.data(), after.size());
    tap->flush();
    got.clear();
    EXPECT_EQ(readInto(*tap, got, &lost), 5010u);
    EXPECT_EQ(lost, 5000u);
    std::vector<std::uint8_t> expected(5010, 0xEE);
    std::fill(expected.begin() + 5000, expected.end(), 0x33);
    EXPECT_EQ(got, expected);

    tap->write(after.data(), after.size());
    tap->flush();
    const std::uint64_t captures = tap->captures();
    tap->restart(audio::WaveFormat{});
    EXPECT_EQ(tap->captures(), captures + 1);
    got.clear();
    EXPECT_EQ(readInto(*tap, got), 0u);
}

// Guards against the live voice waiting on the window: the test microphone writes what it
// hears into its tap as it hears it, with no buffer queued, in 10 ms pieces; and against a
// detached tap still being written.
TEST(CaptureTap, TheMicrophoneWritesAsItHearsUntilDetached) {
    platform::setClockMode(platform::ClockMode::Manual);
    audio::VirtualWaveSetup setup;
    setup.microphone.resize(8000);
    std::iota(setup.microphone.begin(), setup.microphone.end(), std::uint8_t{7});
    audio::useVirtualWave(setup);
    platform::MessageQueue window;
    audio::WaveFormat format;  // 22,050 Hz 16-bit mono
    audio::WaveInHandle in = 0;
    ASSERT_EQ(audio::waveInOpen(&in, audio::kWaveMapper, format, window.handle()), audio::WaveError::Ok);
    auto tap = std::make_unique<CaptureTap>();
    tap->restart(format);
    ASSERT_EQ(audio::waveInSetTap(in, tap.get()), audio::WaveError::Ok);
    ASSERT_EQ(audio::waveInStart(in), audio::WaveError::Ok);

    platform::advanceManualClock(9);
    std::vector<std::uint8_t> got;
    EXPECT_EQ(readInto(*tap, got), 0u) << "nothing before the first 10 ms are whole";
    platform::advanceManualClock(91);
    EXPECT_EQ(readInto(*tap, got), 4410u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), setup.microphone.begin()));

    ASSERT_EQ(audio::waveInSetTap(in, nullptr), audio::WaveError::Ok);
    platform::advanceManualClock(100);
    EXPECT_EQ(readInto(*tap, got), 0u);
    audio::waveInReset(in);
    audio::waveInClose(in);
    audio::useRealWave();
}

}  // namespace
