#pragma once

// The pitch of a voice, every 10 ms, with aubio's YIN-FFT detector: a voice's samples go
// in, in pieces of any size, at any rate and channel count; frames come out with the sung
// pitch, or none where the frame is not sung.
//
// Everything is analysed at one rate (16 kHz, resampled with libsamplerate): the detector's
// window and hop then mean the same time whatever the recording's rate, and a voice has
// nothing above 8 kHz that tells its pitch. The window is 64 ms, two periods of the lowest
// sung note the detector accepts (about 60 Hz, a bass's low B).
//
// Unvoiced frames (silence, breath, hiss, most consonants) are rejected twice: by level
// (quieter than kSilenceDb below full scale) and by the detector's own confidence, which is
// high for a periodic sound and low for noise. A frame's time is that of the samples the
// detector's pitch belongs to: a quarter of a window from the window's start.
//
// Not for the real-time thread: feeding allocates and resamples. The analysis of a take
// runs on a worker thread.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace pitch {

struct PitchFrame {
    double seconds = 0.0;  // from the first sample fed; see the header comment
    float pitch = 0.0f;    // MIDI key number (69 = 440 Hz) with fractions; 0: not sung
    float confidence = 0.0f;
};

constexpr int kAnalysisRate = 16000;
constexpr int kHopSamples = 160;      // 10 ms
constexpr int kWindowSamples = 1024;  // 64 ms
constexpr float kSilenceDb = -50.0f;
constexpr float kMinConfidence = 0.8f;
constexpr float kLowestHz = 60.0f;
constexpr float kHighestHz = 1500.0f;

class PitchTracker {
public:
    // `sampleRate` 1000..384000 and `channels` 1..8: anything else makes a tracker whose
    // valid() is false and which yields nothing.
    PitchTracker(int sampleRate, int channels);
    ~PitchTracker();
    PitchTracker(const PitchTracker&) = delete;
    PitchTracker& operator=(const PitchTracker&) = delete;

    bool valid() const;

    // Interleaved samples in -1..1; a trailing part frame is kept for the next call.
    void feed(std::span<const float> interleaved);
    // Interleaved 16-bit or 8-bit (unsigned, as wave files keep it) samples.
    void feed16(std::span<const std::int16_t> interleaved);
    void feed8(std::span<const std::uint8_t> interleaved);
    // Pushes what the resampler holds through: call once after the last samples.
    void finish();

    // The frames found so far, oldest first; take() hands them over and forgets them.
    std::vector<PitchFrame> take();

private:
    struct Engine;
    void analyse(std::span<const float> mono, bool last);
    std::unique_ptr<Engine> m_engine;
};

// Any thread. The frames of a whole voice in one buffer.
std::vector<PitchFrame> TrackPitch(std::span<const float> interleaved, int sampleRate, int channels);

}  // namespace pitch
