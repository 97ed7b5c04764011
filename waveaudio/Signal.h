#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/wave.h"

// The sample arithmetic shared by playback, recording and mixing: peak metering, the
// echo line and the mixing of two blocks.
namespace voxcapt {

struct Peaks {
    std::uint16_t left = 0;
    std::uint16_t right = 0;
};

// Peaks of `bytes` bytes of audio, whole frames only. Mono gives the same peak on both
// sides; 16-bit stereo looks at every second frame. Formats other than 8 or 16 bits in one
// or two channels leave `peaks` as they were.
void measurePeaks(const std::uint8_t* data, std::size_t bytes, unsigned channels, unsigned bits,
                  Peaks& peaks);

// A peak on the meters' 0..16 scale.
std::int32_t peakLevel(std::uint16_t peak, unsigned bits);

// A feed-forward echo: every sample is mixed with the dry sample of `delay` earlier at
// 70 %. The ring keeps dry input only, so the echo never repeats. It holds a whole second
// at the format it was made for, the longest delay there is, so no delay reaches outside it.
class EchoLine {
public:
    static constexpr std::uint32_t kLongestDelayMs = 1000;
    static constexpr double kGain = 0.70;

    // nullptr when the ring cannot be had.
    static std::unique_ptr<EchoLine> create(const audio::WaveFormat& format);

    std::uint32_t entries() const { return m_entries; }

    // Runs the echo over `bytes` bytes of audio in the format the line was made for, in
    // place, with a delay of `delayMs` (cut to a second).
    void apply(std::uint8_t* data, std::size_t bytes, const audio::WaveFormat& format,
               std::uint32_t delayMs);

private:
    EchoLine(std::unique_ptr<std::int32_t[]> ring, std::uint32_t entries, std::uint32_t channels)
        : m_ring(std::move(ring)), m_entries(entries), m_readIndex(channels) {}

    std::unique_ptr<std::int32_t[]> m_ring;
    std::uint32_t m_entries = 0;
    std::uint32_t m_readIndex = 0;
    std::uint32_t m_writeIndex = 0;
};

// Mixes `second` (len2 bytes) into `first` (len1 bytes) over max(len1, len2) bytes: first
// is padded with silence beyond len1, each sample becomes the clipped sum.
void mixBlocks(std::uint8_t* first, std::size_t len1, const std::uint8_t* second, std::size_t len2,
               unsigned channels, unsigned bits);

// Allocation that a test can make fail: buffers and the echo line go through it.
bool allocationAllowed();

}  // namespace voxcapt
