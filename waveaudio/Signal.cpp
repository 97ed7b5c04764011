#include "Signal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace voxcapt {
namespace {

std::int16_t sample16(const std::uint8_t* at) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | at[1] << 8));
}

void store16(std::uint8_t* at, std::int32_t value) {
    const auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
    at[0] = static_cast<std::uint8_t>(bits & 0xFF);
    at[1] = static_cast<std::uint8_t>(bits >> 8);
}

std::uint16_t magnitude(std::int32_t value) {
    return static_cast<std::uint16_t>(value < 0 ? -value : value);
}

}  // namespace

void measurePeaks(const std::uint8_t* data, std::size_t bytes, unsigned channels, unsigned bits,
                  Peaks& peaks) {
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16)) {
        return;
    }
    peaks = {};
    const std::size_t frame = channels * bits / 8;
    // 16-bit stereo is the heaviest case; every second frame is enough for a meter.
    const std::size_t step = channels == 2 && bits == 16 ? 2 * frame : frame;
    for (std::size_t at = 0; at + frame <= bytes; at += step) {
        std::uint16_t left = 0;
        std::uint16_t right = 0;
        if (bits == 8) {
            left = magnitude(data[at] - 128);
            right = channels == 2 ? magnitude(data[at + 1] - 128) : left;
        } else {
            left = magnitude(sample16(data + at));
            right = channels == 2 ? magnitude(sample16(data + at + 2)) : left;
        }
        peaks.left = std::max(peaks.left, left);
        peaks.right = std::max(peaks.right, right);
    }
}

std::int32_t peakLevel(std::uint16_t peak, unsigned bits) {
    const std::int32_t fullScale = bits == 8 ? 128 : 32767;
    return std::min<std::int32_t>(16, peak * 16 / fullScale);
}

std::unique_ptr<EchoLine> EchoLine::create(const audio::WaveFormat& format) {
    if (!allocationAllowed() || format.channels == 0) {
        return nullptr;
    }
    // A second at this format, and one frame of slack for a length that is not a whole
    // number of frames.
    const std::uint64_t entries =
        static_cast<std::uint64_t>(format.channels) * format.samplesPerSec * kLongestDelayMs / 1000 +
        format.channels;
    if (entries > 64ull * 1024 * 1024) {
        return nullptr;
    }
    std::unique_ptr<std::int32_t[]> ring(new (std::nothrow) std::int32_t[entries]());
    if (!ring) {
        return nullptr;
    }
    return std::unique_ptr<EchoLine>(
        new EchoLine(std::move(ring), static_cast<std::uint32_t>(entries), format.channels));
}

void EchoLine::apply(std::uint8_t* data, std::size_t bytes, const audio::WaveFormat& format,
                     std::uint32_t delayMs) {
    const std::uint32_t channels = std::min<std::uint32_t>(format.channels, 2);
    const std::uint32_t blockAlign = format.blockAlign;
    if (channels == 0 || blockAlign == 0) {
        return;
    }
    const std::uint32_t delay = std::min(delayMs, kLongestDelayMs);
    const auto length = static_cast<std::uint32_t>(static_cast<std::uint64_t>(format.channels) *
                                                    delay * format.samplesPerSec / 1000);
    const bool eightBit = blockAlign / format.channels == 1;
    const std::uint32_t width = eightBit ? 1 : 2;
    // Too short to hold a frame behind the one being written, or a format other than the
    // ring's: nothing sensible to mix.
    if (length < 2 * format.channels || length > m_entries - format.channels ||
        blockAlign < channels * width) {
        return;
    }
    for (std::size_t at = 0; at + blockAlign <= bytes; at += blockAlign) {
        // A delay shortened since the last buffer may leave an index beyond the new length.
        if (m_readIndex >= length) {
            m_readIndex = 0;
        }
        if (m_writeIndex >= length) {
            m_writeIndex = 0;
        }
        for (std::uint32_t c = 0; c < channels; ++c) {
            std::uint8_t* sample = data + at + c * width;
            const std::int32_t dry = eightBit ? sample[0] - 128 : sample16(sample);
            const double mixed = dry + kGain * m_ring[m_readIndex + c];
            m_ring[m_writeIndex + c] = dry;
            const std::int32_t limit = eightBit ? 127 : 32767;
            const auto wet = static_cast<std::int32_t>(std::clamp<double>(mixed, -limit, limit));
            if (eightBit) {
                sample[0] = static_cast<std::uint8_t>(wet + 128);
            } else {
                store16(sample, wet);
            }
        }
        m_readIndex += format.channels;
        m_writeIndex += format.channels;
        if (m_readIndex >= length) {
            m_readIndex = 0;
        }
        if (m_writeIndex >= length) {
            m_writeIndex = 0;
        }
    }
}

void mixBlocks(std::uint8_t* first, std::size_t len1, const std::uint8_t* second, std::size_t len2,
               unsigned channels, unsigned bits) {
    const std::size_t frame = channels * bits / 8;
    const std::size_t total = std::max(len1, len2);
    if (frame == 0 || (bits != 8 && bits != 16)) {
        return;
    }
    if (total > len1) {
        std::memset(first + len1, bits == 8 ? 128 : 0, total - len1);
    }
    const unsigned mixedChannels = std::min(channels, 2u);
    for (std::size_t at = 0; at + frame <= len2; at += frame) {
        for (unsigned c = 0; c < mixedChannels; ++c) {
            if (bits == 16) {
                std::uint8_t* a = first + at + 2 * c;
                const std::int32_t sum = sample16(a) + sample16(second + at + 2 * c);
                store16(a, std::clamp(sum, -32768, 32767));
            } else {
                std::uint8_t& a = first[at + c];
                const std::int32_t sum = (a - 128) + (second[at + c] - 128);
                a = static_cast<std::uint8_t>(std::clamp(sum, -128, 127) + 128);
            }
        }
    }
}

}  // namespace voxcapt
