#include "PitchTracker.h"

#include <aubio/aubio.h>
#include <samplerate.h>

#include <algorithm>
#include <cmath>

namespace pitch {

namespace {

// Where in the window the pitch found belongs. YIN compares the window's first half with
// itself one period later, so what it measures lies in the window's first half and a bit
// beyond: a quarter of a window from its start, not its middle (placing it in the middle
// put a vibrato's pitch 15 ms late, 9 cents off on a 30-cent vibrato).
constexpr int kFrameCentre = kWindowSamples / 4;

}  // namespace

struct PitchTracker::Engine {
    int rate = 0;
    int channels = 0;
    SRC_STATE* resampler = nullptr;  // null when the voice is at the analysis rate
    aubio_pitch_t* detector = nullptr;
    fvec_t* hop = nullptr;
    fvec_t* out = nullptr;
    std::vector<float> partFrame;  // interleaved samples short of a whole frame
    std::vector<float> mono;
    std::vector<float> resampled;
    std::vector<float> pending;  // analysis-rate samples short of a hop
    std::vector<float> window = std::vector<float>(kWindowSamples, 0.0f);  // as the detector sees it
    std::uint64_t hops = 0;
    std::vector<PitchFrame> frames;

    ~Engine() {
        if (resampler != nullptr) {
            src_delete(resampler);
        }
        if (detector != nullptr) {
            del_aubio_pitch(detector);
        }
        if (hop != nullptr) {
            del_fvec(hop);
        }
        if (out != nullptr) {
            del_fvec(out);
        }
    }
};

PitchTracker::PitchTracker(int sampleRate, int channels) {
    if (sampleRate < 1000 || sampleRate > 384000 || channels < 1 || channels > 8) {
        return;
    }
    auto engine = std::make_unique<Engine>();
    engine->rate = sampleRate;
    engine->channels = channels;
    if (sampleRate != kAnalysisRate) {
        int error = 0;
        engine->resampler = src_new(SRC_SINC_FASTEST, 1, &error);
        if (engine->resampler == nullptr) {
            return;
        }
    }
    char method[] = "yinfast";
    engine->detector = new_aubio_pitch(method, kWindowSamples, kHopSamples, kAnalysisRate);
    engine->hop = new_fvec(kHopSamples);
    engine->out = new_fvec(1);
    if (engine->detector == nullptr || engine->hop == nullptr || engine->out == nullptr) {
        return;
    }
    char unit[] = "midi";
    aubio_pitch_set_unit(engine->detector, unit);
    // The level test is ours (see analyse), over the middle of the window rather than the
    // whole of it, so that a note's end is not carried 30 ms into the silence after it.
    aubio_pitch_set_silence(engine->detector, -200.0f);
    m_engine = std::move(engine);
}

PitchTracker::~PitchTracker() = default;

bool PitchTracker::valid() const { return m_engine != nullptr; }

void PitchTracker::feed(std::span<const float> interleaved) {
    if (!m_engine) {
        return;
    }
    Engine& e = *m_engine;
    const std::size_t channels = static_cast<std::size_t>(e.channels);
    e.partFrame.insert(e.partFrame.end(), interleaved.begin(), interleaved.end());
    const std::size_t frameCount = e.partFrame.size() / channels;
    e.mono.resize(frameCount);
    for (std::size_t f = 0; f < frameCount; ++f) {
        float sum = 0.0f;
        for (std::size_t c = 0; c < channels; ++c) {
            sum += e.partFrame[f * channels + c];
        }
        e.mono[f] = sum / static_cast<float>(channels);
    }
    e.partFrame.erase(e.partFrame.begin(), e.partFrame.begin() + static_cast<std::ptrdiff_t>(frameCount * channels));
    analyse(e.mono, false);
}

void PitchTracker::feed16(std::span<const std::int16_t> interleaved) {
    std::vector<float> samples(interleaved.size());
    std::transform(interleaved.begin(), interleaved.end(), samples.begin(),
                   [](std::int16_t s) { return static_cast<float>(s) / 32768.0f; });
    feed(samples);
}

void PitchTracker::feed8(std::span<const std::uint8_t> interleaved) {
    std::vector<float> samples(interleaved.size());
    std::transform(interleaved.begin(), interleaved.end(), samples.begin(),
                   [](std::uint8_t s) { return (static_cast<float>(s) - 128.0f) / 128.0f; });
    feed(samples);
}

void PitchTracker::finish() {
    if (m_engine) {
        analyse({}, true);
    }
}

void PitchTracker::analyse(std::span<const float> mono, bool last) {
    Engine& e = *m_engine;
    if (e.resampler != nullptr) {
        const double ratio = static_cast<double>(kAnalysisRate) / e.rate;
        e.resampled.resize(static_cast<std::size_t>(static_cast<double>(mono.size()) * ratio) + 64);
        SRC_DATA data{};
        data.data_in = mono.data();
        data.input_frames = static_cast<long>(mono.size());
        data.src_ratio = ratio;
        data.end_of_input = last ? 1 : 0;
        std::size_t produced = 0;
        // The converter may hold samples back; drain it until it has taken everything.
        for (;;) {
            data.data_out = e.resampled.data() + produced;
            data.output_frames = static_cast<long>(e.resampled.size() - produced);
            if (src_process(e.resampler, &data) != 0) {
                break;
            }
            data.data_in += data.input_frames_used;
            data.input_frames -= data.input_frames_used;
            produced += static_cast<std::size_t>(data.output_frames_gen);
            const bool stalled = data.input_frames_used == 0 && data.output_frames_gen == 0;
            if (stalled || (data.input_frames == 0 && !last)) {
                break;
            }
            if (produced + 64 > e.resampled.size()) {
                e.resampled.resize(e.resampled.size() * 2);
            }
        }
        e.pending.insert(e.pending.end(), e.resampled.begin(), e.resampled.begin() + static_cast<std::ptrdiff_t>(produced));
    } else {
        e.pending.insert(e.pending.end(), mono.begin(), mono.end());
    }
    std::size_t used = 0;
    while (e.pending.size() - used >= static_cast<std::size_t>(kHopSamples)) {
        for (int i = 0; i < kHopSamples; ++i) {
            e.hop->data[i] = e.pending[used + static_cast<std::size_t>(i)];
        }
        e.window.erase(e.window.begin(), e.window.begin() + kHopSamples);
        e.window.insert(e.window.end(), e.pending.begin() + static_cast<std::ptrdiff_t>(used),
                        e.pending.begin() + static_cast<std::ptrdiff_t>(used + kHopSamples));
        used += kHopSamples;
        // The level where the frame is placed (see kFrameCentre): the hop around it.
        double energy = 0.0;
        for (int i = kFrameCentre - kHopSamples / 2; i < kFrameCentre + kHopSamples / 2; ++i) {
            energy += static_cast<double>(e.window[static_cast<std::size_t>(i)]) * e.window[static_cast<std::size_t>(i)];
        }
        aubio_pitch_do(e.detector, e.hop, e.out);
        const float confidence = aubio_pitch_get_confidence(e.detector);
        const double levelDb = 10.0 * std::log10(energy / kHopSamples + 1e-20);
        const float key = e.out->data[0];
        const float hz = 440.0f * std::pow(2.0f, (key - 69.0f) / 12.0f);
        const bool voiced = levelDb > kSilenceDb && confidence >= kMinConfidence && key > 0.0f &&
                            hz >= kLowestHz && hz <= kHighestHz;
        ++e.hops;
        const double windowStart = static_cast<double>(e.hops * kHopSamples) / kAnalysisRate -
                                   static_cast<double>(kWindowSamples) / kAnalysisRate;
        e.frames.push_back({windowStart + static_cast<double>(kFrameCentre) / kAnalysisRate, voiced ? key : 0.0f,
                            confidence});
    }
    e.pending.erase(e.pending.begin(), e.pending.begin() + static_cast<std::ptrdiff_t>(used));
}

std::vector<PitchFrame> PitchTracker::take() {
    if (!m_engine) {
        return {};
    }
    std::vector<PitchFrame> frames;
    frames.swap(m_engine->frames);
    return frames;
}

std::vector<PitchFrame> TrackPitch(std::span<const float> interleaved, int sampleRate, int channels) {
    PitchTracker tracker(sampleRate, channels);
    tracker.feed(interleaved);
    tracker.finish();
    return tracker.take();
}

}  // namespace pitch
