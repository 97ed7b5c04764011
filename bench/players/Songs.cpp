#include "Songs.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace players {

namespace {

using testing_support::Track;

constexpr int kDivision = 480;
constexpr int kSixteenth = kDivision / 4;
constexpr int kBar = kDivision * 4;
constexpr std::uint32_t kQuarterMicros = 500'000;  // 120 bpm: a bar every 2 s
constexpr int kDrums = 9;
constexpr int kLoud = 127;
constexpr int kPlain = 90;

// C, A minor, F, G: root and the two tones above it, one chord a bar.
struct Chord {
    int root;
    std::array<int, 3> tones;
};
constexpr std::array<Chord, 4> kProgression{{{48, {0, 4, 7}}, {45, {0, 3, 7}}, {41, {0, 4, 7}}, {43, {0, 4, 7}}}};

const Chord& chordAt(int tick) { return kProgression[static_cast<std::size_t>(tick / kBar) % kProgression.size()]; }

// Events of one channel in any order, written out sorted; at equal ticks an end of a
// note comes before a start, so a key struck again is not cut by its own note-off.
class Timeline {
public:
    explicit Timeline(int channel) : m_channel(channel) {}

    void program(int number) { add(0, 0xC0, number, 0); }
    void control(int tick, int controller, int value) { add(tick, 0xB0, controller, value); }
    void note(int tick, int length, int key, int velocity) {
        add(tick, 0x90, key, velocity);
        add(tick + length, 0x80, key, 0);
    }

    Track track() {
        std::stable_sort(m_events.begin(), m_events.end(), [](const Event& a, const Event& b) {
            return a.tick != b.tick ? a.tick < b.tick : rank(a.kind) < rank(b.kind);
        });
        Track out;
        int last = 0;
        for (const Event& e : m_events) {
            const auto delta = static_cast<std::uint32_t>(e.tick - last);
            last = e.tick;
            switch (e.kind) {
                case 0xC0:
                    out.program(delta, m_channel, e.first);
                    break;
                case 0xB0:
                    out.control(delta, m_channel, e.first, e.second);
                    break;
                case 0x80:
                    out.noteOff(delta, m_channel, e.first);
                    break;
                default:
                    out.noteOn(delta, m_channel, e.first, e.second);
                    break;
            }
        }
        return out.end();
    }

private:
    struct Event {
        int tick;
        int kind;
        int first;
        int second;
    };
    // Programs and controllers first, then note-offs, then note-ons.
    static int rank(int kind) { return kind == 0x90 ? 2 : (kind == 0x80 ? 1 : 0); }
    void add(int tick, int kind, int first, int second) { m_events.push_back({tick, kind, first, second}); }

    int m_channel;
    std::vector<Event> m_events;
};

int velocityAt(int tick) { return tick == 0 ? kLoud : kPlain; }

Song assemble(std::string name, std::vector<Timeline>& channels, int division, std::uint32_t quarterMicros) {
    std::vector<Track> tracks;
    tracks.push_back(Track().tempo(0, quarterMicros).end());
    for (Timeline& channel : channels) {
        tracks.push_back(channel.track());
    }
    return {std::move(name), testing_support::smf(1, division, tracks)};
}

// Kick on 1 and 3 (on every beat when `fourOnTheFloor`), snare on 2 and 4, closed hi-hat
// every `hatStep`, a crash to open.
Timeline drumPart(int length, int hatStep, bool fourOnTheFloor) {
    Timeline drums(kDrums);
    drums.note(0, 60, 49, kLoud);
    for (int tick = 0; tick < length; tick += hatStep) {
        drums.note(tick, 30, 42, velocityAt(tick));
    }
    for (int beat = 0; beat * kDivision < length; ++beat) {
        const int tick = beat * kDivision;
        if (beat % 2 == 0 || fourOnTheFloor) {
            drums.note(tick, 60, 36, velocityAt(tick));
        }
        if (beat % 2 == 1) {
            drums.note(tick, 60, 38, kPlain);
        }
    }
    return drums;
}

int ticksFor(int seconds) { return seconds * 1'000'000 / static_cast<int>(kQuarterMicros) * kDivision; }

}  // namespace

Song denseSong(int seconds) {
    const int length = ticksFor(seconds);
    constexpr std::array<int, 9> kPrograms{0, 4, 24, 32, 48, 56, 65, 73, 80};
    constexpr std::array<int, 9> kOctave{12, 12, 12, -12, 0, 12, 0, 24, 24};
    std::vector<Timeline> channels;
    for (int channel = 0; channel < 9; ++channel) {
        Timeline part(channel);
        part.program(kPrograms[static_cast<std::size_t>(channel)]);
        const bool chords = channel == 0 || channel == 1 || channel == 4;
        for (int step = 0; step * kSixteenth < length; ++step) {
            const int tick = step * kSixteenth;
            const Chord& chord = chordAt(tick);
            const int base = chord.root + kOctave[static_cast<std::size_t>(channel)];
            if (chords) {
                for (int tone : chord.tones) {
                    part.note(tick, kSixteenth - 10, base + tone, velocityAt(tick));
                }
            } else {
                const int tone = chord.tones[static_cast<std::size_t>((step + channel) % 3)];
                part.note(tick, kSixteenth - 10, base + tone, velocityAt(tick));
            }
        }
        channels.push_back(std::move(part));
    }
    channels.push_back(drumPart(length, kSixteenth, true));
    return assemble("dense", channels, kDivision, kQuarterMicros);
}

Song mediumSong(int seconds) {
    const int length = ticksFor(seconds);
    const int eighth = kDivision / 2;
    Timeline melody(0), bass(1), piano(2), strings(3), guitar(4);
    melody.program(73);
    bass.program(33);
    piano.program(0);
    strings.program(48);
    guitar.program(25);
    // Three quarters and two eighths a bar over the chord's tones and the steps between.
    constexpr std::array<int, 5> kLine{7, 4, 5, 7, 9};
    constexpr std::array<int, 5> kStarts{0, 1, 2, 3, 3};
    for (int bar = 0; bar * kBar < length; ++bar) {
        const int start = bar * kBar;
        const Chord& chord = chordAt(start);
        for (std::size_t i = 0; i < kLine.size(); ++i) {
            const int tick = start + kStarts[i] * kDivision + (i == 4 ? eighth : 0);
            const int duration = i >= 3 ? eighth : kDivision;
            melody.note(tick, duration - 20, chord.root + 24 + kLine[i] + (bar % 2) * 2, velocityAt(tick));
        }
        for (const int tone : chord.tones) {
            strings.note(start, kBar - 40, chord.root + 12 + tone, velocityAt(start));
        }
        for (int beat = 0; beat < 4; ++beat) {
            const int tick = start + beat * kDivision;
            for (const int tone : chord.tones) {
                piano.note(tick, kDivision - 80, chord.root + 12 + tone, velocityAt(tick));
                guitar.note(tick + eighth, eighth - 30, chord.root + tone, kPlain);
            }
            bass.note(tick, eighth - 20, chord.root - 12, velocityAt(tick));
            bass.note(tick + eighth, eighth - 20, chord.root - 12 + 7, kPlain);
        }
    }
    std::vector<Timeline> channels{melody, bass, piano, strings, guitar, drumPart(length, eighth, false)};
    return assemble("medium", channels, kDivision, kQuarterMicros);
}

Song sparseSong(int seconds) {
    const int length = ticksFor(seconds);
    // Twice round a sixteen-note tune, a quarter each, a half note to end each phrase.
    constexpr std::array<int, 16> kTune{60, 64, 67, 72, 71, 67, 69, 65, 64, 62, 60, 62, 64, 67, 65, 64};
    Timeline melody(0);
    melody.program(0);
    int tick = 0;
    for (int i = 0; tick < length; ++i) {
        const bool phraseEnd = i % 8 == 7;
        const int duration = phraseEnd ? 2 * kDivision : kDivision;
        melody.note(tick, duration - 40, kTune[static_cast<std::size_t>(i) % kTune.size()], velocityAt(tick));
        tick += duration;
    }
    std::vector<Timeline> channels{melody};
    return assemble("sparse", channels, kDivision, kQuarterMicros);
}

int clavesCount(int seconds, int intervalMs) { return (seconds * 1000 + intervalMs - 1) / intervalMs; }

Song clavesSong(int seconds, int intervalMs, int noteMs) {
    // 500 ticks a quarter at 500,000 us a quarter: one tick is one millisecond.
    Timeline claves(kDrums);
    claves.control(0, 7, 127);
    // No reverb or chorus: a tail ringing into the next note would hide its onset.
    claves.control(0, 91, 0);
    claves.control(0, 93, 0);
    for (int k = 0; k < clavesCount(seconds, intervalMs); ++k) {
        const int tick = k * intervalMs;
        claves.note(tick, noteMs, 75, kLoud);
        claves.control(tick + noteMs, 120, 0);  // all sound off: the next onset rises from silence
    }
    std::vector<Timeline> channels{claves};
    return assemble("claves", channels, 500, 500'000);
}

std::vector<Song> songsByName(const std::vector<std::string>& names, int seconds) {
    std::vector<Song> songs;
    for (const std::string& name : names) {
        if (name == "dense") {
            songs.push_back(denseSong(seconds));
        } else if (name == "medium") {
            songs.push_back(mediumSong(seconds));
        } else if (name == "sparse") {
            songs.push_back(sparseSong(seconds));
        }
    }
    return songs;
}

}  // namespace players
