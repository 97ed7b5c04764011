// mktestsound: writes the audio configuration wizard's test sound, a short arpeggio of
// soft bell-like tones (C major, rising and falling) ending in half a second of silence,
// so that when the wizard loops it the listener hears where one pass ends.
//
// Every sample is computed here, so the file is the same on every build: 22050 Hz,
// 16-bit mono PCM, the format the voice library plays takes in, with its loudest sample
// at -6 dBFS (loud enough to set a level by, with room so nothing clips after the gains).
//
// Usage: mktestsound OUT.wav

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kPi = 3.14159265358979323846;
constexpr double kPeakDbfs = -6.0;

struct Note {
    int key;         // MIDI note number
    double start;    // seconds
    double length;   // seconds until the tone is faded out completely
};

// C5 E5 G5 C6 G5 E5 C5, each ringing on under the next; the last one held.
constexpr double kStep = 0.38;
constexpr std::array<Note, 7> kNotes{{
    {72, 0 * kStep, 0.9},
    {76, 1 * kStep, 0.9},
    {79, 2 * kStep, 0.9},
    {84, 3 * kStep, 1.0},
    {79, 4 * kStep, 0.9},
    {76, 5 * kStep, 0.9},
    {72, 6 * kStep, 1.2},
}};
constexpr double kSilence = 0.5;

// Fundamental, octave and twelfth: a little brighter than a bare sine, so the tone is
// still heard on small laptop speakers that hardly carry the fundamental.
constexpr std::array<double, 3> kHarmonics{1.0, 0.28, 0.08};
constexpr double kAttack = 0.02;  // seconds; a raised-cosine rise, no click
constexpr double kDecay = 0.30;   // seconds per 1/e of the exponential decay
constexpr double kRelease = 0.08; // the last stretch of a note fades to exactly zero

double frequency(int key) { return 440.0 * std::pow(2.0, (key - 69) / 12.0); }

double envelope(double t, double length) {
    if (t < 0.0 || t >= length) {
        return 0.0;
    }
    double level = std::exp(-t / kDecay);
    if (t < kAttack) {
        level *= 0.5 - 0.5 * std::cos(kPi * t / kAttack);
    }
    const double untilEnd = length - t;
    if (untilEnd < kRelease) {
        level *= 0.5 - 0.5 * std::cos(kPi * untilEnd / kRelease);
    }
    return level;
}

std::vector<double> render() {
    double end = 0.0;
    for (const Note& note : kNotes) {
        end = std::max(end, note.start + note.length);
    }
    const auto frames = static_cast<std::size_t>(std::lround((end + kSilence) * kRate));
    std::vector<double> mix(frames, 0.0);
    for (const Note& note : kNotes) {
        const double f = frequency(note.key);
        const auto first = static_cast<std::size_t>(std::lround(note.start * kRate));
        const auto count = static_cast<std::size_t>(std::lround(note.length * kRate));
        for (std::size_t i = 0; i < count && first + i < frames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            double tone = 0.0;
            for (std::size_t h = 0; h < kHarmonics.size(); ++h) {
                tone += kHarmonics[h] * std::sin(2.0 * kPi * f * static_cast<double>(h + 1) * t);
            }
            mix[first + i] += envelope(t, note.length) * tone;
        }
    }
    return mix;
}

std::vector<short> quantize(const std::vector<double>& mix) {
    double peak = 0.0;
    for (double x : mix) {
        peak = std::max(peak, std::fabs(x));
    }
    const double gain = peak > 0.0 ? std::pow(10.0, kPeakDbfs / 20.0) / peak : 0.0;
    std::vector<short> samples(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        samples[i] = static_cast<short>(std::lrint(mix[i] * gain * 32767.0));
    }
    return samples;
}

// Written beside the target and renamed over it, so a failed run leaves the old file.
bool write(const std::string& path, const std::vector<short>& samples) {
    const std::string temporary = path + ".part";
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(temporary.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "mktestsound: %s: %s\n", temporary.c_str(), sf_strerror(nullptr));
        return false;
    }
    const auto count = static_cast<sf_count_t>(samples.size());
    const bool written = sf_write_short(file, samples.data(), count) == count;
    const bool closed = sf_close(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "mktestsound: cannot write %s\n", temporary.c_str());
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::perror(("mktestsound: " + path).c_str());
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mktestsound OUT.wav\n");
        return 2;
    }
    return write(argv[1], quantize(render())) ? 0 : 1;
}
