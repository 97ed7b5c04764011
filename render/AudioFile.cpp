#include "AudioFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/files.h"

namespace render {
namespace {

constexpr sf_count_t kChunkFrames = 16384;
constexpr double kOggQuality = 0.6;  // libsndfile's 0..1 Vorbis quality

int sndfileFormat(AudioFormat format) {
    switch (format) {
        case AudioFormat::Wav:
            return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        case AudioFormat::Flac:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case AudioFormat::Ogg:
            return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    }
    return 0;
}

}  // namespace

std::optional<AudioFormat> FormatOfName(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".wav") {
        return AudioFormat::Wav;
    }
    if (extension == ".flac") {
        return AudioFormat::Flac;
    }
    if (extension == ".ogg" || extension == ".oga") {
        return AudioFormat::Ogg;
    }
    return std::nullopt;
}

std::string WriteAudioFile(const std::string& target, AudioFormat format, const Samples& mix,
                           const Progress& progress) {
    platform::ReplacementFile replacement(target, platform::ReplacementFile::Start::Empty);
    if (!replacement.valid()) {
        return "cannot write " + target + ": no new file can be made beside it";
    }
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = kChannels;
    info.format = sndfileFormat(format);
    SNDFILE* file = sf_open(replacement.path().c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return "cannot write " + target + ": " + sf_strerror(nullptr);
    }
    if (format == AudioFormat::Ogg) {
        double quality = kOggQuality;
        sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    }
    // The mix is kept within -1 dBFS; the conversion to integers must not wrap.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const auto frames = static_cast<sf_count_t>(mix.size() / kChannels);
    for (sf_count_t at = 0; at < frames; at += kChunkFrames) {
        const sf_count_t count = std::min(kChunkFrames, frames - at);
        if (sf_writef_float(file, mix.data() + at * kChannels, count) != count) {
            const std::string why = sf_strerror(file);
            sf_close(file);
            return "cannot write " + target + ": " + why;
        }
        if (progress && !progress(static_cast<double>(at + count) / static_cast<double>(frames))) {
            sf_close(file);
            return "cancelled";
        }
    }
    sf_write_sync(file);
    if (sf_close(file) != 0) {
        return "cannot write " + target + ": the file could not be finished";
    }
    if (!replacement.commit()) {
        return "cannot write " + target + ": the finished file could not take its place";
    }
    return {};
}

}  // namespace render
