#include "Mixdown.h"

#include <ebur128.h>
#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <deque>

namespace render {
namespace {

constexpr int kBlock = 512;
constexpr int kTailBlockFrames = kRate / 10;
constexpr int kTailMaxFrames = 10 * kRate;
constexpr float kSilence = 3.2e-5f;         // -90 dBFS
constexpr float kCeiling = 0.891250938f;    // -1 dBFS
constexpr double kLimiterAttackSeconds = 0.005;
constexpr double kLimiterReleaseSeconds = 0.100;

std::uint64_t frameOf(std::uint64_t micros) {
    return (micros * kRate + 500'000) / 1'000'000;
}

void renderFrames(synth::OfflineSynth& synth, Samples& out, std::uint64_t frames) {
    while (frames > 0) {
        const int block = static_cast<int>(std::min<std::uint64_t>(frames, kBlock));
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(block) * kChannels);
        synth.render(out.data() + at, block);
        frames -= static_cast<std::uint64_t>(block);
    }
}

float peakOf(std::span<const float> samples) {
    float peak = 0;
    for (const float s : samples) {
        peak = std::max(peak, std::abs(s));
    }
    return peak;
}

// A look-ahead peak limiter: the gain glides down during the look-ahead before every peak
// that would pass the ceiling, so that the peak lands on it, and recovers after; what the
// glide leaves above the ceiling is clipped to it.
void limit(Samples& mix) {
    const std::size_t frames = mix.size() / kChannels;
    const auto lookAhead = static_cast<std::size_t>(kLimiterAttackSeconds * kRate);
    const double attack = 1.0 - std::exp(-5.0 / static_cast<double>(lookAhead));
    const double release = std::exp(-1.0 / (kLimiterReleaseSeconds * kRate));
    std::vector<float> needed(frames, 1.0f);
    for (std::size_t f = 0; f < frames; ++f) {
        const float peak = std::max(std::abs(mix[f * 2]), std::abs(mix[f * 2 + 1]));
        needed[f] = peak > kCeiling ? kCeiling / peak : 1.0f;
    }
    // The smallest gain needed from each frame to the end of its look-ahead (a sliding
    // minimum, from the end backwards).
    std::vector<float> ahead(frames, 1.0f);
    std::deque<std::size_t> window;
    for (std::size_t k = frames; k-- > 0;) {
        while (!window.empty() && needed[window.back()] >= needed[k]) {
            window.pop_back();
        }
        window.push_back(k);
        while (window.front() > k + lookAhead) {
            window.pop_front();
        }
        ahead[k] = needed[window.front()];
    }
    double gain = 1.0;
    for (std::size_t f = 0; f < frames; ++f) {
        const double target = ahead[f];
        gain = target < gain ? gain + (target - gain) * attack : target + (gain - target) * release;
        mix[f * 2] = std::clamp(static_cast<float>(mix[f * 2] * gain), -kCeiling, kCeiling);
        mix[f * 2 + 1] = std::clamp(static_cast<float>(mix[f * 2 + 1] * gain), -kCeiling, kCeiling);
    }
}

}  // namespace

std::optional<Samples> SynthesizeSong(synth::OfflineSynth& synth, std::span<const TimedMessage> messages,
                                      const Progress& progress) {
    Samples mix;
    const std::uint64_t lastFrame = messages.empty() ? 0 : frameOf(messages.back().micros);
    mix.reserve(static_cast<std::size_t>(lastFrame + kRate) * kChannels);
    std::uint64_t rendered = 0;
    std::uint64_t reported = 0;
    for (const TimedMessage& m : messages) {
        const std::uint64_t due = frameOf(m.micros);
        // A long silence is rendered a second at a time, each second a chance to stop.
        while (due > rendered) {
            const std::uint64_t step = std::min<std::uint64_t>(due - rendered, kRate);
            renderFrames(synth, mix, step);
            rendered += step;
            if (rendered - reported >= kRate) {
                reported = rendered;
                if (progress && !progress(static_cast<double>(rendered) / static_cast<double>(lastFrame))) {
                    return std::nullopt;
                }
            }
        }
        synth.apply(m.message);
    }
    // The release tail: until a tenth of a second passes in silence.
    for (int tail = 0; tail < kTailMaxFrames; tail += kTailBlockFrames) {
        const std::size_t at = mix.size();
        renderFrames(synth, mix, kTailBlockFrames);
        if (peakOf(std::span<const float>(mix).subspan(at)) < kSilence) {
            mix.resize(at);
            break;
        }
    }
    if (progress && !progress(1.0)) {
        return std::nullopt;
    }
    return mix;
}

std::variant<Samples, std::string> ReadVoice(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return "cannot read the voice " + path + ": " + sf_strerror(nullptr);
    }
    if (info.channels < 1 || info.channels > 8 || info.samplerate < 1000 || info.samplerate > 384000 ||
        info.frames < 0) {
        sf_close(file);
        return "the voice " + path + " has no usable sound";
    }
    std::vector<float> raw(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t got = sf_readf_float(file, raw.data(), info.frames);
    sf_close(file);
    raw.resize(static_cast<std::size_t>(std::max<sf_count_t>(got, 0)) * static_cast<std::size_t>(info.channels));
    // Stereo: a mono voice on both sides, more channels folded to their first two.
    const std::size_t frames = raw.size() / static_cast<std::size_t>(info.channels);
    Samples stereo(frames * kChannels);
    for (std::size_t f = 0; f < frames; ++f) {
        const float* in = raw.data() + f * static_cast<std::size_t>(info.channels);
        stereo[f * 2] = in[0];
        stereo[f * 2 + 1] = info.channels > 1 ? in[1] : in[0];
    }
    if (info.samplerate == kRate || frames == 0) {
        return stereo;
    }
    const double ratio = static_cast<double>(kRate) / info.samplerate;
    Samples resampled(static_cast<std::size_t>(std::ceil(static_cast<double>(frames) * ratio) + 16) * kChannels);
    SRC_DATA data{};
    data.data_in = stereo.data();
    data.input_frames = static_cast<long>(frames);
    data.data_out = resampled.data();
    data.output_frames = static_cast<long>(resampled.size() / kChannels);
    data.src_ratio = ratio;
    data.end_of_input = 1;
    const int error = src_simple(&data, SRC_SINC_BEST_QUALITY, kChannels);
    if (error != 0) {
        return "cannot resample the voice " + path + ": " + src_strerror(error);
    }
    resampled.resize(static_cast<std::size_t>(data.output_frames_gen) * kChannels);
    return resampled;
}

void MixVoice(Samples& mix, const Samples& voice, std::int64_t offsetFrames, float gain) {
    const std::int64_t voiceFrames = static_cast<std::int64_t>(voice.size() / kChannels);
    const std::int64_t skip = offsetFrames < 0 ? -offsetFrames : 0;
    if (skip >= voiceFrames) {
        return;
    }
    const std::int64_t start = offsetFrames < 0 ? 0 : offsetFrames;
    const std::int64_t end = start + (voiceFrames - skip);
    if (static_cast<std::size_t>(end) * kChannels > mix.size()) {
        mix.resize(static_cast<std::size_t>(end) * kChannels, 0.0f);
    }
    for (std::int64_t f = 0; f < voiceFrames - skip; ++f) {
        const auto to = static_cast<std::size_t>(start + f) * kChannels;
        const auto from = static_cast<std::size_t>(skip + f) * kChannels;
        mix[to] += voice[from] * gain;
        mix[to + 1] += voice[from + 1] * gain;
    }
}

std::optional<double> IntegratedLoudness(const Samples& mix) {
    ebur128_state* state = ebur128_init(kChannels, kRate, EBUR128_MODE_I);
    if (state == nullptr) {
        return std::nullopt;
    }
    ebur128_add_frames_float(state, mix.data(), mix.size() / kChannels);
    double loudness = 0;
    const int result = ebur128_loudness_global(state, &loudness);
    ebur128_destroy(&state);
    if (result != EBUR128_SUCCESS || !std::isfinite(loudness)) {
        return std::nullopt;
    }
    return loudness;
}

void SetLevel(Samples& mix, std::optional<double> targetLufs) {
    if (targetLufs) {
        if (const std::optional<double> loudness = IntegratedLoudness(mix)) {
            // The limiter takes a little loudness away with the peaks: measured again and
            // made up, a few times at most.
            std::optional<double> now = loudness;
            for (int round = 0; round < 4 && now && std::abs(*targetLufs - *now) > 0.05; ++round) {
                const auto gain = static_cast<float>(std::pow(10.0, (*targetLufs - *now) / 20.0));
                for (float& sample : mix) {
                    sample *= gain;
                }
                if (peakOf(mix) > kCeiling) {
                    limit(mix);
                }
                now = IntegratedLoudness(mix);
            }
            return;
        }
    }
    const float peak = peakOf(mix);
    if (peak > kCeiling) {
        const float gain = kCeiling / peak;
        for (float& s : mix) {
            s *= gain;
        }
    }
}

}  // namespace render
