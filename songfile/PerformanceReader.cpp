#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "LyricScan.h"
#include "MidiBytes.h"
#include "MidiSplit.h"
#include "Performance.h"
#include "WaveFile.h"
#include "platform/files.h"

// Every size in a performance file is the file's word only: the chunk's size is checked
// against what the file holds, and the voice must parse as a wave file on its own before
// anyone is handed it.
namespace songfile {
namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Removes a temporary file on every way out unless it was kept.
class ScratchFile {
public:
    explicit ScratchFile(std::string path) : m_path(std::move(path)) {}
    ~ScratchFile() {
        if (!m_path.empty()) {
            platform::removeFile(m_path);
        }
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    const std::string& path() const { return m_path; }
    std::string keep() { return std::exchange(m_path, std::string()); }

private:
    std::string m_path;
};

VoiceReadResult extractVoice(const std::string& performance, std::uint64_t waveOffset,
                             const std::string& folder, const std::string& prefix) {
    VoiceReadResult result;
    platform::FileReader in;
    if (!in.open(performance)) {
        result.outcome = VoiceReadOutcome::CannotOpen;
        result.message = "Cannot read " + performance;
        return result;
    }
    std::uint8_t header[kVoiceChunkHeaderBytes];
    if (waveOffset == 0 || !in.seek(waveOffset) || !in.read(header, sizeof header) ||
        std::memcmp(header, kVoiceChunkId, 4) != 0) {
        result.outcome = VoiceReadOutcome::NoChunk;
        result.message = performance + " holds no voice recording";
        return result;
    }
    result.declaredBytes = littleEndian32(header + 4);
    result.heldBytes = std::min<std::uint64_t>(result.declaredBytes, in.remaining());

    ScratchFile voice(platform::createTempFile(folder, prefix));
    platform::FileWriter out;
    if (voice.path().empty() || !out.open(voice.path())) {
        result.outcome = VoiceReadOutcome::CannotWrite;
        result.message = "Cannot create a temporary file in " + folder;
        return result;
    }
    std::vector<std::uint8_t> block(kCopyBlock);
    for (std::uint64_t left = result.heldBytes; left > 0;) {
        const std::size_t want = left < block.size() ? static_cast<std::size_t>(left) : block.size();
        const std::size_t got = in.readUpTo(block.data(), want);
        if (got == 0) {
            break;  // the file shrank under us: keep what came
        }
        if (!out.write(block.data(), got)) {
            result.outcome = VoiceReadOutcome::CannotWrite;
            result.message = "Cannot write the voice of " + performance + " into " + folder;
            return result;
        }
        left -= got;
    }
    if (!out.close()) {
        result.outcome = VoiceReadOutcome::CannotWrite;
        result.message = "Cannot write the voice of " + performance + " into " + folder;
        return result;
    }

    platform::FileReader wave;
    voxcapt::ParsedWave parsed;
    if (!wave.open(voice.path()) || voxcapt::parseWave(wave, parsed) != voxcapt::WaveParseError::None) {
        result.outcome = VoiceReadOutcome::NotWave;
        result.message = "The voice recording in " + performance + " is damaged and cannot be played";
        return result;
    }
    result.format = parsed.format;
    result.dataBytes = parsed.dataSize;
    result.outcome = result.heldBytes < result.declaredBytes ? VoiceReadOutcome::CutShort : VoiceReadOutcome::Voice;
    result.voiceFile = voice.keep();
    return result;
}

}  // namespace

VoiceReadResult ExtractPerformanceVoice(const std::string& performance, std::uint64_t waveOffset,
                                        const std::string& folder, const std::string& prefix) {
    try {
        return extractVoice(performance, waveOffset, folder, prefix);
    } catch (...) {
        VoiceReadResult result;
        result.outcome = VoiceReadOutcome::CannotWrite;
        result.message = "Not enough memory to read the voice of " + performance;
        return result;
    }
}

std::optional<std::uint64_t> MeasureSongPart(const std::string& path) {
    platform::FileReader in;
    std::uint8_t header[14];
    if (!in.open(path) || !in.read(header, sizeof header) || std::memcmp(header, "MThd", 4) != 0) {
        return std::nullopt;
    }
    const std::uint64_t headerEnd = 8ull + readBigEndian32(header + 4);
    const std::uint16_t tracks = readBigEndian16(header + 10);
    if (readBigEndian32(header + 4) < 6 || !in.seek(headerEnd)) {
        return std::nullopt;
    }
    std::uint64_t at = headerEnd;
    for (std::uint16_t track = 0; track < tracks; ++track) {
        std::uint8_t chunk[8];
        if (!in.seek(at) || !in.read(chunk, sizeof chunk) || std::memcmp(chunk, "MTrk", 4) != 0) {
            return std::nullopt;
        }
        const std::uint64_t length = readBigEndian32(chunk + 4);
        if (length > in.remaining()) {
            return std::nullopt;
        }
        at += 8 + length;
    }
    return at;
}

double PerformanceInfo::seconds() const {
    const std::uint64_t perSecond = std::uint64_t{voice.format.blockAlign} * voice.format.samplesPerSec;
    return perSecond == 0 ? 0.0 : static_cast<double>(voice.dataBytes) / static_cast<double>(perSecond);
}

PerformanceInfo ProbePerformance(const std::string& path) {
    PerformanceInfo info;
    try {
        platform::FileReader file;
        if (!file.open(path)) {
            info.message = sourceReadError(path).empty() ? "Cannot read " + path : sourceReadError(path);
            return info;
        }
        info.fileBytes = file.size();
        file.close();
        info.songBytes = MeasureSongPart(path);

        // The offset the player finds: the split file's length up to its last track.
        ScratchFile split(platform::createTempFile(platform::tempFolder(), "CV"));
        if (split.path().empty()) {
            info.message = "Cannot create a temporary file in " + platform::tempFolder();
            return info;
        }
        const SplitResult splitResult = SplitMidiFile(path, split.path());
        if (!splitResult.message.empty()) {
            info.message = splitResult.message;
            return info;
        }
        int tempo = 0;
        std::optional<std::uint64_t> offset;
        FreeLyricList(ExtractLyrics(split.path(), "", tempo, offset));
        info.waveOffset = offset.value_or(0);

        info.voice = ExtractPerformanceVoice(path, info.waveOffset, platform::tempFolder(), "CV");
        if (!info.voice.voiceFile.empty()) {
            platform::removeFile(info.voice.voiceFile);
            info.voice.voiceFile.clear();
        }
    } catch (...) {
        info.message = "Not enough memory to examine " + path;
    }
    return info;
}

}  // namespace songfile
