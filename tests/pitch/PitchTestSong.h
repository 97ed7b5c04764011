#pragma once

// A test song with a known melody, and voices synthesised from that melody. The song has
// everything that could be mistaken for its melody: an accompaniment in chords above it
// with an onset every eighth note, a monophonic drum part on high keys, a bass line, and
// (when asked for) the words as karaoke text events in a track of their own.

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "SmfBuilder.h"

namespace pitch_test {

constexpr int kDivision = 480;
constexpr std::uint32_t kMicrosPerQuarter = 500000;  // 120 beats per minute
constexpr double kSecondsPerTick = kMicrosPerQuarter / 1e6 / kDivision;

struct SongNote {
    std::uint32_t tick;
    std::uint32_t length;  // ticks
    int key;
};

// Eighths, quarters and halves between A3 and E5: a tune a singer could sing.
inline std::vector<SongNote> melody() {
    const int keys[] = {60, 62, 64, 65, 67, 67, 69, 65, 72, 71, 69, 67, 64, 65, 62, 60,
                        57, 60, 64, 67, 69, 72, 76, 74, 72, 69, 67, 64, 62, 60};
    const std::uint32_t lengths[] = {480, 240, 240, 480, 960, 480, 240, 240, 960, 480,
                                     240, 240, 480, 480, 480, 960, 480, 240, 240, 480,
                                     480, 240, 240, 960, 480, 480, 240, 240, 480, 960};
    std::vector<SongNote> notes;
    std::uint32_t tick = 960;  // a bar of introduction
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        // Sung legato but released a sixteenth early, as a melody part is written.
        notes.push_back({tick, lengths[i] - 60, keys[i]});
        tick += lengths[i];
    }
    return notes;
}

inline std::uint32_t songEndTick() {
    const SongNote last = melody().back();
    return last.tick + last.length + 960;
}

// `words`: the melody's syllables as karaoke text events in the third track.
// `wordsEarly`: ticks each word sits before its note, as editors often place them.
inline std::vector<std::uint8_t> songBytes(bool words, std::uint32_t wordsEarly = 12) {
    using testing_support::Track;
    std::vector<Track> tracks;
    Track conductor;
    conductor.meta(0, 0x03, "Test tune").tempo(0, kMicrosPerQuarter).end(songEndTick());
    tracks.push_back(conductor);

    // Chords C-E-G an octave above the melody, restruck every eighth.
    Track chords;
    chords.program(0, 0, 0);
    std::uint32_t at = 0;
    for (std::uint32_t tick = 0; tick + 240 <= songEndTick(); tick += 240) {
        chords.noteOn(tick - at, 0, 84, 60).noteOn(0, 0, 88, 60).noteOn(0, 0, 91, 60);
        chords.noteOff(200, 0, 84).noteOff(0, 0, 88).noteOff(0, 0, 91);
        at = tick + 200;
    }
    tracks.push_back(chords.end());

    if (words) {
        Track lyrics;
        lyrics.meta(0, 0x03, "Words").meta(0, 0x01, "@KMIDI KARAOKE FILE");
        std::uint32_t last = 0;
        int syllable = 0;
        for (const SongNote& note : melody()) {
            const std::uint32_t tick = note.tick - wordsEarly;
            lyrics.meta(tick - last, 0x01, (syllable % 6 == 0 ? "/la" : "la") + std::to_string(syllable));
            last = tick;
            ++syllable;
        }
        tracks.push_back(lyrics.end());
    }

    Track sung;
    sung.meta(0, 0x03, "Melody").program(0, 1, 73);
    std::uint32_t last = 0;
    for (const SongNote& note : melody()) {
        sung.noteOn(note.tick - last, 1, note.key, 100).noteOff(note.length, 1, note.key);
        last = note.tick + note.length;
    }
    tracks.push_back(sung.end());

    // Drums: a triangle (key 81) every quarter, one note at a time.
    Track drums;
    last = 0;
    for (std::uint32_t tick = 0; tick + 480 <= songEndTick(); tick += 480) {
        drums.noteOn(tick - last, 9, 81, 90).noteOff(100, 9, 81);
        last = tick + 100;
    }
    tracks.push_back(drums.end());

    Track bass;
    bass.program(0, 2, 33);
    last = 0;
    for (std::uint32_t tick = 0; tick + 960 <= songEndTick(); tick += 960) {
        bass.noteOn(tick - last, 2, 36 + static_cast<int>((tick / 960) % 5), 90).noteOff(900, 2, 36 + static_cast<int>((tick / 960) % 5));
        last = tick + 900;
    }
    tracks.push_back(bass.end());
    return testing_support::smf(1, kDivision, tracks);
}

// The track chunk of the melody in songBytes (after the split, which keeps one-channel
// tracks where they are).
inline int melodyTrack(bool words) { return words ? 3 : 2; }

struct VoiceShape {
    double offsetSemitones = 0.0;  // every note sung this far from it
    double vibratoCents = 0.0;     // depth either way, at 5.5 Hz
    bool sawtooth = false;
};

inline double hertz(double key) { return 440.0 * std::pow(2.0, (key - 69.0) / 12.0); }

// The melody sung at `rate`, `channels` channels alike, starting with the song: each note
// for exactly its written time, silence between.
inline std::vector<float> singMelody(const VoiceShape& shape, int rate, int channels = 1) {
    const double seconds = songEndTick() * kSecondsPerTick;
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> samples(frames * static_cast<std::size_t>(channels), 0.0f);
    double phase = 0.0;
    for (const SongNote& note : melody()) {
        const auto first = static_cast<std::size_t>(note.tick * kSecondsPerTick * rate);
        const auto last = static_cast<std::size_t>((note.tick + note.length) * kSecondsPerTick * rate);
        for (std::size_t f = first; f < last && f < frames; ++f) {
            const double t = static_cast<double>(f) / rate;
            const double cents = shape.vibratoCents * std::sin(2.0 * M_PI * 5.5 * t);
            phase += hertz(note.key + shape.offsetSemitones + cents / 100.0) / rate;
            phase -= std::floor(phase);
            const double value = shape.sawtooth ? 2.0 * phase - 1.0 : std::sin(2.0 * M_PI * phase);
            for (int c = 0; c < channels; ++c) {
                samples[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                    static_cast<float>(0.3 * value);
            }
        }
    }
    return samples;
}

// White noise as loud as the voice, for the length of the song.
inline std::vector<float> noise(int rate) {
    std::mt19937 random(23);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    std::vector<float> samples(static_cast<std::size_t>(songEndTick() * kSecondsPerTick * rate));
    for (float& sample : samples) {
        sample = uniform(random);
    }
    return samples;
}

}  // namespace pitch_test
