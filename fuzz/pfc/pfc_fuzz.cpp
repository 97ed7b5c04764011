// Arbitrary bytes as a performance file: the voice chunk is looked for where the song's
// own chunks end, and the whole file is probed as the command line does. Nothing may
// crash or read out of bounds; the chunk's size is never believed past the end of the
// file; a voice is handed over only when its bytes are exactly the chunk's and parse as a
// wave file; nothing is left in the temporary folder.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "../FuzzFiles.h"
#include "Performance.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::scratchFile("voice.pfc");
    const std::string folder = fuzzing::scratchFile("out");
    std::filesystem::create_directories(folder);
    fuzzing::storeBytes(path, data, size);

    const std::optional<std::uint64_t> song = songfile::MeasureSongPart(path);
    if (song && *song > size) {
        std::abort();  // the song part reaches past the file
    }
    const std::uint64_t offset = song.value_or(0);
    const songfile::VoiceReadResult read = songfile::ExtractPerformanceVoice(path, offset, folder, "CV");
    if (read.heldBytes > read.declaredBytes || (read.heldBytes > 0 && offset + 8 + read.heldBytes > size)) {
        std::abort();  // more was taken than the chunk or the file holds
    }
    if (read.hasVoice() != !read.voiceFile.empty()) {
        std::abort();  // a voice reported without a file, or a file without a voice
    }
    if (read.hasVoice()) {
        const std::vector<std::uint8_t> voice = fuzzing::loadBytes(read.voiceFile);
        if (voice.size() != read.heldBytes ||
            (!voice.empty() && std::memcmp(voice.data(), data + offset + 8, voice.size()) != 0)) {
            std::abort();  // the voice is not the chunk's bytes
        }
        std::filesystem::remove(read.voiceFile);
    }
    if (!std::filesystem::is_empty(folder)) {
        std::abort();  // a rejected voice was left behind
    }
    const songfile::PerformanceInfo info = songfile::ProbePerformance(path);
    if (!info.voice.voiceFile.empty()) {
        std::abort();  // the probe kept a file
    }
    return 0;
}
