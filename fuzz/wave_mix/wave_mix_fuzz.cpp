// Arbitrary bytes as two takes to mix: the first two bytes (little-endian) give the first
// file's length, the rest of the input is the second file. Nothing may crash or read out
// of bounds; a failed mix leaves the output file as it was; a successful one is a wave file
// with the first take's chunks before its data, as long as the longer take, holding the
// clipped sum of both sample by sample.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../FuzzFiles.h"
#include "WaveFile.h"
#include "voxcapt/voxcapt.h"

namespace {

const std::uint8_t kOldOutput[] = "The mix the user made yesterday.";

bool parse(const std::string& path, voxcapt::ParsedWave& parsed) {
    platform::FileReader file;
    return file.open(path) && voxcapt::parseWave(file, parsed) == voxcapt::WaveParseError::None;
}

// Sample `index` of `size` bytes of 16-bit audio, the bytes beyond the end read as zeros.
std::int32_t paddedSample(const std::uint8_t* bytes, std::size_t size, std::size_t index) {
    const std::uint8_t low = 2 * index < size ? bytes[2 * index] : 0;
    const std::uint8_t high = 2 * index + 1 < size ? bytes[2 * index + 1] : 0;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | high << 8));
}

// Sample `index` when it lies whole within `size` bytes, otherwise nothing to add.
std::int32_t wholeSample(const std::uint8_t* bytes, std::size_t size, std::size_t index) {
    return 2 * index + 2 <= size ? paddedSample(bytes, size, index) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t firstSize = std::min<std::size_t>(data[0] | data[1] << 8, size - 2);
    const std::uint8_t* firstBytes = data + 2;
    const std::uint8_t* secondBytes = firstBytes + firstSize;
    const std::size_t secondSize = size - 2 - firstSize;
    const std::string first = fuzzing::scratchFile("first.wav");
    const std::string second = fuzzing::scratchFile("second.wav");
    const std::string output = fuzzing::scratchFile("mix.wav");
    fuzzing::storeBytes(first, firstBytes, firstSize);
    fuzzing::storeBytes(second, secondBytes, secondSize);
    fuzzing::storeBytes(output, kOldOutput, sizeof kOldOutput);

    if (AudioMixFiles(first.c_str(), second.c_str(), output.c_str()) != 1) {
        if (fuzzing::loadBytes(output) != std::vector<std::uint8_t>(kOldOutput, kOldOutput + sizeof kOldOutput)) {
            std::abort();  // a failed mix changed the output
        }
        return 0;
    }
    voxcapt::ParsedWave a;
    voxcapt::ParsedWave b;
    voxcapt::ParsedWave mixed;
    if (!parse(first, a) || !parse(second, b) || !parse(output, mixed)) {
        std::abort();  // a mix of files that are no takes, or a mix that is none
    }
    const std::vector<std::uint8_t> written = fuzzing::loadBytes(output);
    if (mixed.dataHeaderOffset != a.dataHeaderOffset ||
        !std::equal(firstBytes + 12, firstBytes + a.dataHeaderOffset, written.begin() + 12)) {
        std::abort();  // the first take's chunks were not copied as they stand
    }
    if (mixed.dataSize != std::max(a.dataSize, b.dataSize)) {
        std::abort();  // the mix is not as long as the longer take
    }
    const std::uint8_t* one = firstBytes + a.dataOffset;
    const std::uint8_t* two = secondBytes + b.dataOffset;
    const std::uint8_t* out = written.data() + mixed.dataOffset;
    for (std::size_t i = 0; 2 * i + 2 <= mixed.dataSize; ++i) {
        // The first take is padded with silence byte by byte; only whole samples of the
        // second are added to it.
        const std::int32_t sum = paddedSample(one, a.dataSize, i) + wholeSample(two, b.dataSize, i);
        if (wholeSample(out, mixed.dataSize, i) != std::clamp(sum, -32768, 32767)) {
            std::abort();  // a sample that is not the clipped sum of the two
        }
    }
    return 0;
}
