#include "WaveFile.h"

#include <algorithm>
#include <cstring>

namespace voxcapt {
namespace {

constexpr std::uint64_t kRiffHeaderBytes = 12;
constexpr std::uint64_t kChunkHeaderBytes = 8;
// Above this many bytes a second the buffer arithmetic of playback leaves 32 bits; real
// formats stay far below (192 kHz, 8 channels of 32 bits is 6 MB a second).
constexpr std::uint64_t kMaxBytesPerSecond = 64ull * 1024 * 1024;

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

struct Chunk {
    std::uint64_t headerOffset = 0;
    std::uint64_t payloadOffset = 0;
    std::uint32_t size = 0;
};

// Walks the chunks from `from` up to `end` and stops at the first with this identifier.
// A chunk header that does not fit before `end` ends the walk.
bool findChunk(platform::FileReader& file, std::uint64_t from, std::uint64_t end, const char* id,
               Chunk& out) {
    std::uint64_t at = from;
    while (at + kChunkHeaderBytes <= end) {
        std::uint8_t header[kChunkHeaderBytes];
        if (!file.seek(at) || !file.read(header, sizeof header)) {
            return false;
        }
        const std::uint32_t size = littleEndian32(header + 4);
        if (std::memcmp(header, id, 4) == 0) {
            out = {at, at + kChunkHeaderBytes, size};
            return true;
        }
        // Chunks start on even offsets: an odd payload is followed by a pad byte.
        at += kChunkHeaderBytes + size + (size & 1u);
    }
    return false;
}

bool formatCarried(const audio::WaveFormat& format) {
    if (format.formatTag != audio::kWaveFormatPcm) {
        return false;
    }
    if (format.channels == 0 || format.samplesPerSec == 0 || format.blockAlign == 0) {
        return false;
    }
    return static_cast<std::uint64_t>(format.blockAlign) * format.samplesPerSec <= kMaxBytesPerSecond;
}

}  // namespace

WaveParseError parseWave(platform::FileReader& file, ParsedWave& out) {
    out = ParsedWave{};
    const std::uint64_t fileSize = file.size();
    std::uint8_t riff[kRiffHeaderBytes];
    if (!file.seek(0) || !file.read(riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        return WaveParseError::NotWave;
    }
    const std::uint64_t riffEnd =
        std::min<std::uint64_t>(kChunkHeaderBytes + littleEndian32(riff + 4), fileSize);

    Chunk format;
    if (!findChunk(file, kRiffHeaderBytes, riffEnd, "fmt ", format)) {
        return WaveParseError::NoFormatChunk;
    }
    const std::uint32_t formatBytes =
        std::min<std::uint32_t>(format.size, sizeof(audio::WaveFormat));
    std::uint8_t formatRecord[sizeof(audio::WaveFormat)] = {};
    if (format.payloadOffset + formatBytes > fileSize || !file.seek(format.payloadOffset) ||
        !file.read(formatRecord, formatBytes)) {
        return WaveParseError::FormatReadFailed;
    }
    std::memcpy(&out.format, formatRecord, sizeof formatRecord);
    out.formatOffset = format.payloadOffset;
    out.formatSize = format.size;
    if (!formatCarried(out.format)) {
        return WaveParseError::NotSupported;
    }

    // The data chunk is looked for behind the format, as a writer puts it.
    const std::uint64_t afterFormat = format.payloadOffset + format.size + (format.size & 1u);
    Chunk data;
    if (!findChunk(file, afterFormat, riffEnd, "data", data)) {
        return WaveParseError::NoDataChunk;
    }
    out.dataHeaderOffset = data.headerOffset;
    out.dataOffset = data.payloadOffset;
    const std::uint64_t held = fileSize - data.payloadOffset;
    if (data.size <= held) {
        out.dataSize = data.size;
    } else {
        out.dataSize = static_cast<std::uint32_t>(held - held % out.format.blockAlign);
    }
    file.seek(out.dataOffset);
    return WaveParseError::None;
}

std::string parseErrorText(WaveParseError error, const std::string& path) {
    switch (error) {
    case WaveParseError::None:
        return {};
    case WaveParseError::CannotOpen:
        return "Cannot Open File: " + path;
    case WaveParseError::NotWave:
        return "File: " + path + ", is not a WAVE file";
    case WaveParseError::NoFormatChunk:
        return "WAVE file: " + path + ", has no fmt chunk.";
    case WaveParseError::FormatReadFailed:
        return "Error reading fmt chunk from: " + path;
    case WaveParseError::NotSupported:
        return "Format of File: " + path + ", not supported.";
    case WaveParseError::NoDataChunk:
        return "WAVE file: " + path + ", has no data chunk.";
    }
    return {};
}

}  // namespace voxcapt
