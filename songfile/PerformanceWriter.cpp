#include <cstring>
#include <vector>

#include "Performance.h"
#include "SongWriter.h"
#include "platform/files.h"

// The song writer puts the song into the new file first (it replaces that file as a whole
// itself); the chunk is then appended behind it and the new file renamed over the target.
namespace songfile {
namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;

PerformanceWriteResult failure(PerformanceWriteStep step, std::string message) {
    PerformanceWriteResult result;
    result.failedStep = step;
    result.message = std::move(message);
    return result;
}

PerformanceWriteResult writePerformance(const PerformanceSong& song, const std::string& voice,
                                        const std::string& target) {
    platform::FileReader wave;
    if (voice.empty() || !wave.open(voice)) {
        return failure(PerformanceWriteStep::OpenVoice, "Cannot open recorded wave file " + voice);
    }
    if (wave.size() > 0xFFFFFFFFull) {
        return failure(PerformanceWriteStep::VoiceTooBig,
                       "The recorded wave file " + voice + " is too big for a performance file");
    }
    const auto voiceBytes = static_cast<std::uint32_t>(wave.size());

    platform::ReplacementFile replacement(target, platform::ReplacementFile::Start::Empty);
    if (!replacement.valid()) {
        return failure(PerformanceWriteStep::PrepareTarget,
                       "Cannot write " + target + ": no new file can be made beside it");
    }
    if (!WriteEditedSong(song.splitFile, song.tempo, song.instruments, replacement.path(), song.key,
                         song.velocities, true, song.scale)) {
        return failure(PerformanceWriteStep::WriteSong,
                       "Cannot write the song of " + target + " from " + song.splitFile);
    }

    platform::FileWriter out;
    const std::optional<std::uint64_t> songBytes =
        out.open(replacement.path()) ? out.seekToEnd() : std::nullopt;
    if (!songBytes) {
        return failure(PerformanceWriteStep::WriteSong,
                       "Cannot write the song of " + target + " from " + song.splitFile);
    }
    const std::string chunkFailure = "Cannot write the voice into " + target + " (is the disk full?)";
    std::uint8_t header[kVoiceChunkHeaderBytes];
    std::memcpy(header, kVoiceChunkId, 4);
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<std::uint8_t>(voiceBytes >> (8 * i));
    }
    if (!out.write(header, sizeof header)) {
        return failure(PerformanceWriteStep::WriteVoice, chunkFailure);
    }
    std::vector<std::uint8_t> block(kCopyBlock);
    for (std::uint32_t left = voiceBytes; left > 0;) {
        const std::size_t count = left < block.size() ? left : block.size();
        if (!wave.read(block.data(), count)) {
            // The take changed under us; what was measured is what must be written.
            return failure(PerformanceWriteStep::OpenVoice,
                           "Cannot read the recorded wave file " + voice + " to its end");
        }
        if (!out.write(block.data(), count)) {
            return failure(PerformanceWriteStep::WriteVoice, chunkFailure);
        }
        left -= static_cast<std::uint32_t>(count);
    }
    if ((voiceBytes & 1u) != 0) {
        const std::uint8_t pad = 0;
        if (!out.write(&pad, 1)) {
            return failure(PerformanceWriteStep::WriteVoice, chunkFailure);
        }
    }
    if (!out.close()) {
        return failure(PerformanceWriteStep::Finish, "Cannot write " + target + ": the disk did not take it");
    }
    if (!replacement.commit()) {
        return failure(PerformanceWriteStep::Rename,
                       "Cannot put the new " + target + " in the old one's place");
    }
    PerformanceWriteResult result;
    result.songBytes = *songBytes;
    result.voiceBytes = voiceBytes;
    return result;
}

}  // namespace

PerformanceWriteResult WritePerformance(const PerformanceSong& song, const std::string& voice,
                                        const std::string& target) {
    if (target.empty() || song.instruments == nullptr || song.velocities == nullptr || song.tempo == 0) {
        return failure(PerformanceWriteStep::PrepareTarget, "Cannot write a performance without a name and a song");
    }
    try {
        return writePerformance(song, voice, target);
    } catch (...) {
        return failure(PerformanceWriteStep::WriteVoice, "Cannot write " + target + ": out of memory");
    }
}

}  // namespace songfile
