#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "audio/wave.h"

// The reader of wave files: finds the RIFF `WAVE` form, its `fmt ` chunk and the `data`
// chunk behind it. Every size is checked against the file, so a damaged or hostile file
// is refused or cut short, never read past.
namespace voxcapt {

enum class WaveParseError {
    None,
    CannotOpen,
    NotWave,
    NoFormatChunk,
    FormatReadFailed,
    NotSupported,
    NoDataChunk,
};

struct ParsedWave {
    audio::WaveFormat format{};
    std::uint64_t formatOffset = 0;
    std::uint32_t formatSize = 0;
    // Where the `data` chunk's header starts, and its payload.
    std::uint64_t dataHeaderOffset = 0;
    std::uint64_t dataOffset = 0;
    // The payload's size as far as the file holds it: a chunk that claims more (a take cut
    // off by a crash) is cut to whole frames of what is there.
    std::uint32_t dataSize = 0;
};

// Parses an open file from its start. The format is the first 18 bytes of `fmt ` (zeros
// beyond a shorter chunk); anything but PCM with a channel count, rate and block align
// that the arithmetic of playback can carry is NotSupported.
WaveParseError parseWave(platform::FileReader& file, ParsedWave& out);

// A RIFF size field: `value` little-endian at `at`.
inline void put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The message a failed parse shows, with the path in it.
std::string parseErrorText(WaveParseError error, const std::string& path);

}  // namespace voxcapt
