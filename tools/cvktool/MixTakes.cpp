// `cvktool mix`: the wave library's mix of two takes, with the reason when it refuses.

#include <csignal>
#include <cstdio>
#include <string>

#include "VoiceCommands.h"
#include "WaveFile.h"
#include "platform/files.h"
#include "voxcapt/voxcapt.h"

namespace cvktool {
namespace {

constexpr const char* kMixUsage = "usage: cvktool mix A.wav B.wav OUT.wav\n";
// What the mix carries of the first take's chunks before its data.
constexpr std::uint64_t kMaxHeaderBytes = 2048;

// Ctrl-C or a termination in the middle of a long mix: the half-made output the library
// writes beside OUT goes, then the program ends as the signal would have ended it.
extern "C" void onMixSignal(int signal) {
    platform::removeUncommittedReplacements();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

bool isVoiceFormat(const audio::WaveFormat& format) {
    return format.formatTag == audio::kWaveFormatPcm && format.channels == 1 &&
           format.bitsPerSample == 16 && format.blockAlign == 2;
}

// Why the library refused to mix, found by looking at what it was given in the order it
// looks: the inputs, their formats, the first one's chunks, the size of the result, and
// last the output.
std::string whyNotMixed(const std::string& first, const std::string& second, const std::string& output) {
    voxcapt::ParsedWave parsed[2];
    const std::string* inputs[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        const std::string& path = *inputs[i];
        const platform::FileAttributes attributes = platform::fileAttributes(path);
        if (!attributes.exists) {
            return path + " does not exist";
        }
        if (attributes.directory) {
            return path + " is a folder";
        }
        platform::FileReader reader;
        voxcapt::WaveParseError error = voxcapt::WaveParseError::CannotOpen;
        if (reader.open(path)) {
            error = voxcapt::parseWave(reader, parsed[i]);
        }
        if (error != voxcapt::WaveParseError::None) {
            return voxcapt::parseErrorText(error, path);
        }
    }
    const audio::WaveFormat& a = parsed[0].format;
    const audio::WaveFormat& b = parsed[1].format;
    if (!isVoiceFormat(a) || !isVoiceFormat(b)) {
        return "both takes must be 16-bit mono wave files";
    }
    if (a.samplesPerSec != b.samplesPerSec) {
        return first + " and " + second + " have different rates (" + std::to_string(a.samplesPerSec) +
               " and " + std::to_string(b.samplesPerSec) + " Hz)";
    }
    const std::uint64_t headerBytes = parsed[0].dataHeaderOffset - 12;
    if (headerBytes > kMaxHeaderBytes) {
        return first + " has " + std::to_string(headerBytes) +
               " bytes of chunks before its audio; a mix carries at most " +
               std::to_string(kMaxHeaderBytes);
    }
    const std::uint64_t mixBytes = std::max(parsed[0].dataSize, parsed[1].dataSize);
    if (4 + headerBytes + 8 + mixBytes + (mixBytes & 1u) > 0xFFFFFFFFull) {
        return "the mix of " + first + " and " + second +
               " would be larger than a wave file can hold (4 GiB)";
    }
    const platform::FileAttributes out = platform::fileAttributes(output);
    if (out.directory) {
        return "cannot write the mix to " + output + ": it is a folder";
    }
    if (out.readOnly) {
        return "cannot write the mix to " + output + ": it is read-only";
    }
    return "cannot write the mix to " + output;
}

}  // namespace

int runMix(std::span<const std::string_view> args) {
    if (args.size() != 3) {
        std::fputs(kMixUsage, stderr);
        return 2;
    }
    const std::string first(args[0]);
    const std::string second(args[1]);
    const std::string output(args[2]);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, onMixSignal);
    }
    if (AudioMixFiles(first.c_str(), second.c_str(), output.c_str()) == 0) {
        std::fprintf(stderr, "cvktool: %s\n", whyNotMixed(first, second, output).c_str());
        return 1;
    }
    return 0;
}

}  // namespace cvktool
