#pragma once

// The song played into the offline synthesizer at its messages' times, the voice placed
// over it, and the level of the whole: the samples of the finished mix.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "SongSchedule.h"
#include "synth/offline.h"

namespace render {

constexpr int kRate = synth::OfflineSynth::kSampleRate;
constexpr int kChannels = synth::OfflineSynth::kChannels;

// Interleaved stereo float frames at kRate.
using Samples = std::vector<float>;

// How far along a stage is, 0..1; false from it stops the work (cancelled).
using Progress = std::function<bool(double done)>;

// Plays `messages` into `synth`, each at the frame its time falls in, then lets the
// synthesizer ring out: the mix ends at the last message plus the release tail (the first
// tenth of a second in which nothing sounds above -90 dBFS, at most ten seconds). Nothing
// when cancelled.
std::optional<Samples> SynthesizeSong(synth::OfflineSynth& synth, std::span<const TimedMessage> messages,
                                      const Progress& progress);

// A wave file (any format libsndfile reads: PCM, float, any rate, mono or stereo) as
// stereo frames at kRate, resampled with libsamplerate; or why it cannot be read.
std::variant<Samples, std::string> ReadVoice(const std::string& path);

// Adds `voice`, multiplied by `gain`, to `mix` from `offsetFrames` on (a negative offset
// drops the voice's head); the mix grows to hold a voice longer than the song.
void MixVoice(Samples& mix, const Samples& voice, std::int64_t offsetFrames, float gain);

// The integrated loudness (EBU R 128, LUFS) of the mix; nothing for a silent one.
std::optional<double> IntegratedLoudness(const Samples& mix);

// Brings the mix to `targetLufs` when given, and in any case keeps every sample within
// -1 dBFS: a mix that would pass it is turned down as a whole, or, when a loudness was
// asked for, passed through a look-ahead limiter so that it keeps that loudness.
void SetLevel(Samples& mix, std::optional<double> targetLufs);

}  // namespace render
