// Mixing two takes: the first file's header and the sample-by-sample sum of both data
// chunks, streamed through two small blocks whatever the files' sizes.
#include <algorithm>
#include <cstring>

#include "Signal.h"
#include "WaveFile.h"
#include "platform/files.h"
#include "platform/guarded.h"
#include "voxcapt/voxcapt.h"

namespace voxcapt {
namespace {

constexpr std::size_t kBlockBytes = 2048;

bool sameFormat(const audio::WaveFormat& a, const audio::WaveFormat& b) {
    return a.formatTag == b.formatTag && a.channels == b.channels &&
           a.samplesPerSec == b.samplesPerSec && a.blockAlign == b.blockAlign &&
           a.bitsPerSample == b.bitsPerSample;
}

bool isVoiceFormat(const audio::WaveFormat& format) {
    return format.formatTag == audio::kWaveFormatPcm && format.channels == 1 &&
           format.bitsPerSample == 16 && format.blockAlign == 2;
}

struct Input {
    platform::FileReader file;
    ParsedWave parsed;
    std::uint64_t consumed = 0;

    bool open(const std::string& path) {
        return file.open(path) && parseWave(file, parsed) == WaveParseError::None;
    }
    bool active() const { return consumed < parsed.dataSize; }
    std::size_t read(std::uint8_t* block) {
        if (!active()) {
            return 0;
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlockBytes, parsed.dataSize - consumed));
        const std::size_t got = file.readUpTo(block, want);
        // A file that ends early (it changed under us) ends this input.
        consumed = got == want ? consumed + got : parsed.dataSize;
        return got;
    }
};

std::int32_t mixFiles(const std::string& firstPath, const std::string& secondPath,
                      const std::string& outputPath) {
    Input first;
    Input second;
    // Both must be the voice format, the same, and the first's header must fit one block.
    if (!first.open(firstPath) || !second.open(secondPath) || !isVoiceFormat(first.parsed.format) ||
        !sameFormat(first.parsed.format, second.parsed.format)) {
        return 0;
    }
    const std::uint64_t headerBytes = first.parsed.dataHeaderOffset - 12;
    if (headerBytes > kBlockBytes) {
        return 0;
    }
    // A RIFF size is 32 bits: a mix that cannot be one wave file is refused before a byte
    // of it is written, not after 4 GB.
    const std::uint64_t mixBytes = std::max(first.parsed.dataSize, second.parsed.dataSize);
    if (4 + headerBytes + 8 + mixBytes + (mixBytes & 1u) > 0xFFFFFFFFull) {
        return 0;
    }
    std::uint8_t block1[kBlockBytes];
    std::uint8_t block2[kBlockBytes];
    if (!first.file.seek(12) || !first.file.read(block1, headerBytes) ||
        !first.file.seek(first.parsed.dataOffset) || !second.file.seek(second.parsed.dataOffset)) {
        return 0;
    }

    // The output is made beside its name and takes its place only when complete: a failed
    // mix leaves whatever file had the name as it was.
    platform::ReplacementFile output(outputPath, platform::ReplacementFile::Start::Empty);
    platform::FileWriter writer;
    if (!output.valid() || !writer.open(output.path())) {
        return 0;
    }
    std::uint8_t head[12];
    std::memcpy(head, "RIFF\0\0\0\0WAVE", 12);
    std::uint8_t dataHead[8];
    std::memcpy(dataHead, "data\0\0\0\0", 8);
    if (!writer.write(head, sizeof head) || !writer.write(block1, headerBytes) ||
        !writer.write(dataHead, sizeof dataHead)) {
        return 0;
    }
    std::uint64_t dataBytes = 0;
    while (first.active() || second.active()) {
        const std::size_t len1 = first.read(block1);
        const std::size_t len2 = second.read(block2);
        mixBlocks(block1, len1, block2, len2, 1, 16);
        const std::size_t length = std::max(len1, len2);
        if (!writer.write(block1, length)) {
            return 0;
        }
        dataBytes += length;
    }
    if (dataBytes & 1u) {
        const std::uint8_t pad = 0;
        if (!writer.write(&pad, 1)) {
            return 0;
        }
    }
    std::uint8_t size[4];
    put32(size, static_cast<std::uint32_t>(4 + headerBytes + 8 + dataBytes + (dataBytes & 1u)));
    std::uint8_t dataSize[4];
    put32(dataSize, static_cast<std::uint32_t>(dataBytes));
    if (!writer.writeAt(4, size, 4) || !writer.writeAt(12 + headerBytes + 4, dataSize, 4) ||
        !writer.close()) {
        return 0;
    }
    return output.commit() ? 1 : 0;
}

}  // namespace
}  // namespace voxcapt

// Mixes two 16-bit mono takes of the same format into `output`, sample by sample with
// clipping, as long as the longer one, with the first one's header. Caller's thread.
// 1 on success; 0 when an input is not such a take, the formats differ, the first has more
// than 2048 bytes of chunks before its data, the mix would not fit in a wave file, or the
// output could not be written and flushed to disk (an existing output is then left as it
// was, and nothing of the mix remains).
int32_t AudioMixFiles(const char* first, const char* second, const char* output) {
    return platform::guarded(0, [&] {
        if (first == nullptr || second == nullptr || output == nullptr || *output == '\0') {
            return 0;
        }
        return voxcapt::mixFiles(first, second, output);
    });
}
