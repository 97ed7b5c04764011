// The ring that keeps captured audio while no buffer is queued, drained into the buffer
// queue as buffers are added.

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "capture_backlog.h"
#include "platform/messages.h"

namespace {

using audio::detail::CaptureBacklog;
using audio::detail::WaveQueue;

struct Buffer {
    explicit Buffer(std::uint32_t bytes) : data(bytes, 0xEE) {
        header.lpData = reinterpret_cast<char*>(data.data());
        header.dwBufferLength = bytes;
        header.dwFlags = audio::kWaveHeaderPrepared;
    }
    std::vector<std::uint8_t> data;
    audio::WaveHeader header;
};

std::vector<std::uint8_t> counting(std::uint8_t first, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// Guards captured audio lost, reordered or torn while it waits: bytes that wrap round the
// ring's end come out in order into buffers added later, a frame is never split by a
// full ring, and only what finds neither a buffer nor room is lost.
TEST(CaptureBacklog, WaitingAudioFillsLaterBuffersInOrderAndOnlyOverflowIsLost) {
    platform::MessageQueue window;
    WaveQueue queue(window.handle(), 3, audio::kWaveInDataMessage);
    CaptureBacklog backlog(10, 2);  // five frames of 16-bit mono

    EXPECT_EQ(backlog.store(counting(0, 6).data(), 6), 6u);
    backlog.drainInto(queue);  // no buffer yet
    EXPECT_EQ(backlog.size(), 6u);
    EXPECT_EQ(backlog.store(counting(6, 5).data(), 5), 4u) << "room for two whole frames";

    Buffer first(4);
    queue.push(&first.header);
    backlog.drainInto(queue);
    EXPECT_EQ(first.data, counting(0, 4));
    EXPECT_EQ(first.header.dwFlags.load(), audio::kWaveHeaderPrepared | audio::kWaveHeaderDone);

    // The ring's start was used up first: these wrap round its end.
    EXPECT_EQ(backlog.store(counting(20, 4).data(), 4), 4u);
    Buffer second(8);
    queue.push(&second.header);
    backlog.drainInto(queue);
    EXPECT_EQ(second.data, (std::vector<std::uint8_t>{4, 5, 6, 7, 8, 9, 20, 21}));
    EXPECT_EQ(backlog.store(nullptr, 4), 4u);  // a hole: silence

    Buffer third(6);
    queue.push(&third.header);
    backlog.drainInto(queue);
    EXPECT_EQ(third.data, (std::vector<std::uint8_t>{22, 23, 0, 0, 0, 0}));
    EXPECT_TRUE(backlog.empty());

    std::vector<const audio::WaveHeader*> back;
    platform::Message m;
    while (window.peek(m)) {
        back.push_back(reinterpret_cast<const audio::WaveHeader*>(m.lParam));
    }
    EXPECT_EQ(back, (std::vector<const audio::WaveHeader*>{&first.header, &second.header, &third.header}));
}

}  // namespace
