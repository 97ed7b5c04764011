// The singer's pitch as the detector reads it, against the pitch that was synthesised:
// the median error in cents and the share of octave errors over the sung frames, for a
// sine, a sawtooth with vibrato, and a speech-like voice from a formant synthesiser (a
// glottal source with vibrato, jitter and breath through the formants of three vowels).
// Each voice sings 60 random notes from a bass's G2 to a soprano's C6. Beside the accuracy,
// the cost of the analysis per second of voice (median of five runs) as the share of one
// core.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "PitchTracker.h"

namespace {

constexpr int kRate = 22050;  // the window's recording rate
constexpr double kNoteSeconds = 0.5;
constexpr int kNotes = 60;

struct Voice {
    std::vector<float> samples;
    std::vector<double> truth;  // key number at every sample; 0 in the gaps
};

struct Formant {
    double hz;
    double bandwidth;
};

// A two-pole resonator (the classic formant filter of speech synthesis).
class Resonator {
public:
    Resonator(Formant f) {
        const double r = std::exp(-M_PI * f.bandwidth / kRate);
        m_b1 = 2.0 * r * std::cos(2.0 * M_PI * f.hz / kRate);
        m_b2 = -r * r;
        m_gain = 1.0 - m_b1 - m_b2;
    }
    double operator()(double x) {
        const double y = m_gain * x + m_b1 * m_y1 + m_b2 * m_y2;
        m_y2 = m_y1;
        m_y1 = y;
        return y;
    }

private:
    double m_b1 = 0.0, m_b2 = 0.0, m_gain = 1.0, m_y1 = 0.0, m_y2 = 0.0;
};

enum class Kind { Sine, SawtoothVibrato, Formant };

Voice sing(Kind kind, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> keys(43, 84);  // G2 .. C6
    std::normal_distribution<double> jitter(0.0, 0.004);
    std::normal_distribution<double> breath(0.0, 1.0);
    // /a/, /i/, /u/ of an adult voice.
    const Formant vowels[3][3] = {{{730, 90}, {1090, 110}, {2440, 170}},
                                  {{270, 60}, {2290, 100}, {3010, 170}},
                                  {{300, 60}, {870, 90}, {2240, 170}}};
    Voice voice;
    double phase = 0.0;
    const auto noteSamples = static_cast<std::size_t>(kNoteSeconds * kRate);
    const std::size_t gap = noteSamples / 5;
    for (int n = 0; n < kNotes; ++n) {
        const int key = keys(random);
        const Formant* vowel = vowels[n % 3];
        Resonator f1(vowel[0]), f2(vowel[1]), f3(vowel[2]);
        double periodJitter = 0.0;
        for (std::size_t i = 0; i < noteSamples; ++i) {
            const double t = static_cast<double>(voice.samples.size()) / kRate;
            double cents = kind == Kind::SawtoothVibrato || kind == Kind::Formant ? 30.0 * std::sin(2 * M_PI * 5.5 * t) : 0.0;
            const double pitch = key + cents / 100.0;
            const double hz = 440.0 * std::pow(2.0, (pitch - 69.0) / 12.0) * (1.0 + periodJitter);
            const double before = phase;
            phase += hz / kRate;
            double value = 0.0;
            switch (kind) {
            case Kind::Sine:
                value = std::sin(2 * M_PI * phase);
                break;
            case Kind::SawtoothVibrato:
                value = 2.0 * (phase - std::floor(phase)) - 1.0;
                break;
            case Kind::Formant: {
                // A band-limited glottal source (harmonics falling 12 dB an octave, as the
                // glottal flow's do), a new jitter each period, breath throughout. Pulses
                // placed on whole samples instead would make periods alternate between two
                // lengths, a pattern twice the period long that no voice has.
                if (std::floor(phase) != std::floor(before)) {
                    periodJitter = jitter(random);
                }
                double source = 0.0;
                for (int k = 1; k * hz < 0.45 * kRate; ++k) {
                    source += std::sin(2 * M_PI * k * phase) / (k * k);
                }
                source += 0.05 * breath(random);
                value = 4.0 * f3(f2(f1(source)));
                break;
            }
            }
            voice.samples.push_back(static_cast<float>(0.3 * value));
            voice.truth.push_back(pitch);
        }
        voice.samples.insert(voice.samples.end(), gap, 0.0f);
        voice.truth.insert(voice.truth.end(), gap, 0.0);
    }
    // Loudness like a recorded voice: the loudest sample at -6 dBFS.
    float peak = 0.0f;
    for (float s : voice.samples) {
        peak = std::max(peak, std::abs(s));
    }
    for (float& s : voice.samples) {
        s *= 0.5f / peak;
    }
    return voice;
}

struct Accuracy {
    double medianCents = 0.0;
    double octaveShare = 0.0;
    double sungShare = 0.0;  // of frames well inside notes, read as sung
};

Accuracy judge(const Voice& voice, const std::vector<pitch::PitchFrame>& frames) {
    std::vector<double> cents;
    std::size_t inside = 0;
    std::size_t octaves = 0;
    std::size_t sung = 0;
    const auto edge = static_cast<std::size_t>(0.04 * kRate);  // the window's reach
    for (const pitch::PitchFrame& frame : frames) {
        const auto at = static_cast<std::size_t>(frame.seconds * kRate);
        if (frame.seconds < 0 || at + edge >= voice.truth.size() || at < edge) {
            continue;
        }
        const double truth = voice.truth[at];
        if (truth == 0.0 || voice.truth[at - edge] == 0.0 || voice.truth[at + edge] == 0.0) {
            continue;
        }
        ++inside;
        if (frame.pitch <= 0.0f) {
            continue;
        }
        ++sung;
        const double error = frame.pitch - truth;
        if (std::abs(error) >= 6.0) {
            ++octaves;
        } else {
            cents.push_back(std::abs(error) * 100.0);
        }
    }
    Accuracy result;
    if (!cents.empty()) {
        std::nth_element(cents.begin(), cents.begin() + static_cast<std::ptrdiff_t>(cents.size() / 2), cents.end());
        result.medianCents = cents[cents.size() / 2];
    }
    result.octaveShare = sung == 0 ? 0.0 : static_cast<double>(octaves) / static_cast<double>(sung);
    result.sungShare = inside == 0 ? 0.0 : static_cast<double>(sung) / static_cast<double>(inside);
    return result;
}

}  // namespace

int main() {
    std::printf("%-22s %14s %14s %12s %14s\n", "voice", "median cents", "octave errors", "read sung",
                "CPU of a core");
    const std::pair<const char*, Kind> voices[] = {{"sine", Kind::Sine},
                                                   {"sawtooth + vibrato", Kind::SawtoothVibrato},
                                                   {"formant (speech-like)", Kind::Formant}};
    for (const auto& [name, kind] : voices) {
        const Voice voice = sing(kind, 23);
        std::vector<double> costs;
        std::vector<pitch::PitchFrame> frames;
        for (int run = 0; run < 5; ++run) {
            const auto start = std::chrono::steady_clock::now();
            frames = pitch::TrackPitch(voice.samples, kRate, 1);
            const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
            costs.push_back(spent.count() / (static_cast<double>(voice.samples.size()) / kRate));
        }
        std::sort(costs.begin(), costs.end());
        const Accuracy accuracy = judge(voice, frames);
        std::printf("%-22s %14.1f %13.2f%% %11.1f%% %13.2f%%\n", name, accuracy.medianCents,
                    100.0 * accuracy.octaveShare, 100.0 * accuracy.sungShare, 100.0 * costs[2]);
    }
    return 0;
}
