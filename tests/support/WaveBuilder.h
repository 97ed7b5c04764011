#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/wave.h"

namespace testing_support {

inline audio::WaveFormat pcmFormat(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
    audio::WaveFormat format;
    format.channels = channels;
    format.samplesPerSec = rate;
    format.bitsPerSample = bits;
    format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    format.avgBytesPerSec = rate * format.blockAlign;
    return format;
}

inline void appendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

inline void appendChunk(std::vector<std::uint8_t>& out, const char* id,
                        const std::vector<std::uint8_t>& payload) {
    out.insert(out.end(), id, id + 4);
    appendU32(out, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    if (payload.size() & 1u) {
        out.push_back(0);
    }
}

// A RIFF wave file: `fmt ` (the 18-byte record plus `fmtExtra` more bytes), then `data`,
// then whatever chunks `after` holds already encoded.
inline std::vector<std::uint8_t> waveFile(const audio::WaveFormat& format,
                                          const std::vector<std::uint8_t>& data,
                                          std::size_t fmtExtra = 0,
                                          const std::vector<std::uint8_t>& after = {}) {
    std::vector<std::uint8_t> fmt(sizeof format + fmtExtra, 0);
    std::memcpy(fmt.data(), &format, sizeof format);
    std::vector<std::uint8_t> body{'W', 'A', 'V', 'E'};
    appendChunk(body, "fmt ", fmt);
    appendChunk(body, "data", data);
    body.insert(body.end(), after.begin(), after.end());
    std::vector<std::uint8_t> file{'R', 'I', 'F', 'F'};
    appendU32(file, static_cast<std::uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

inline std::vector<std::uint8_t> samples16(const std::vector<std::int16_t>& values) {
    std::vector<std::uint8_t> out;
    for (std::int16_t v : values) {
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    }
    return out;
}

inline std::int16_t sampleAt(const std::vector<std::uint8_t>& bytes, std::size_t index) {
    return static_cast<std::int16_t>(bytes[2 * index] | bytes[2 * index + 1] << 8);
}

// Distinct, never-silent 16-bit samples: a shift or a lost stretch shows.
inline std::vector<std::uint8_t> rampData(std::size_t bytes) {
    std::vector<std::uint8_t> out(bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        out[i] = static_cast<std::uint8_t>((i * 7 + i / 251) | 1);
    }
    return out;
}

}  // namespace testing_support
