#pragma once

// The finished mix written as a standard audio file with libsndfile: WAV (16-bit PCM),
// FLAC (16-bit) or Ogg Vorbis, chosen by the file name's extension. The file appears
// complete or not at all: it is written beside the target and takes its place only when
// every sample is in and on disk; a cancel, a failure or a signal that ends the program
// leaves no part of it and an old file of that name as it was.

#include <optional>
#include <string>

#include "Mixdown.h"

namespace render {

enum class AudioFormat { Wav, Flac, Ogg };

// By the extension, in any letter case: .wav, .flac, .ogg (.oga); nothing for any other.
std::optional<AudioFormat> FormatOfName(const std::string& path);

// Writes `mix` to `target`; empty on success, else what failed, naming the file.
std::string WriteAudioFile(const std::string& target, AudioFormat format, const Samples& mix,
                           const Progress& progress);

}  // namespace render
