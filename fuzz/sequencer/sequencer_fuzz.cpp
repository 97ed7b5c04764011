// Loads arbitrary bytes as a song and plays it to the end (or a million ticks), with a
// rewind, a seek, a transposition and an instrument override on the way; every other
// input by its own tempo map, its ratio changed in mid-song.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>

#include "engine.h"
#include "pulsant/pulsant.h"

namespace {

class MemorySource final : public pulsant::ByteSource {
public:
    MemorySource(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::size_t read(std::uint8_t* into, std::size_t count) override {
        const std::size_t n = count < m_size - m_position ? count : m_size - m_position;
        if (n != 0) {
            std::memcpy(into, m_data + m_position, n);
        }
        m_position += n;
        return n;
    }
    std::uint64_t remaining() const override { return m_size - m_position; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

constexpr int kMaxTicks = 1'000'000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pulsant::resetForTest();
    MemorySource source(data, size);
    pulsant::LoadSongFrom(source);
    std::int16_t volumes[64] = {};
    std::uint16_t instruments[64];
    for (auto& program : instruments) {
        program = 255;
    }
    volumes[1] = -128;
    instruments[0] = 5;
    CallFollowTempoMapDLL(0, static_cast<std::int32_t>(size % 2), 1 + size % 5, 1 + size % 3);
    pulsant::StartLoadedSong(size % 7 == 0 ? -3 : 2, volumes, instruments, size % 3 == 0 ? 0 : 97);
    pulsant::Engine& e = pulsant::engine();
    for (int tick = 0; tick < kMaxTicks && !e.songEnded.load(); ++tick) {
        if (tick == 3000) {
            pulsant::RewindToStart();
            pulsant::SeekForward(e.songLength / 3);
            pulsant::SilenceOutput();
        }
        if (tick == 5000) {
            pulsant::ApplyProgramOverride(2, 40);
            pulsant::SetTempo(240);
            CallFollowTempoMapDLL(0, 1, 2, 3);
        }
        pulsant::RunTick();
        // Long waits are counted down at once: the ticks in between only decay the
        // meters, and a million of them per input would starve the fuzzer.
        const std::uint32_t left = e.countdown.load();
        if (left > 2 && tick < kMaxTicks - 1) {
            const std::uint32_t skip = std::min<std::uint32_t>(left - 2, static_cast<std::uint32_t>(kMaxTicks - 1 - tick));
            e.countdown.store(left - skip);
            tick += static_cast<int>(skip);
        }
    }
    pulsant::SilenceOutput();
    pulsant::resetForTest();
    return 0;
}
