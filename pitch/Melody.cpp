#include "Melody.h"

#include <algorithm>
#include <optional>

namespace pitch {

namespace {

bool isDrums(const std::vector<Note>& notes) {
    return !notes.empty() && notes.front().channel == kDrumChannel;
}

// Onsets count as coinciding with a syllable this close: a sixteenth note either way,
// which absorbs syllables placed slightly early, as karaoke editors often do.
std::uint32_t nearTicks(std::uint16_t division) { return std::max<std::uint32_t>(1, division / 4u); }

bool hasNear(const std::vector<std::uint32_t>& sorted, std::uint32_t tick, std::uint32_t near) {
    const std::uint32_t low = tick > near ? tick - near : 0;
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), low);
    return it != sorted.end() && *it <= tick + near;
}

// Harmonic mean of the two shares of coinciding onsets; 0 when either is 0.
double lyricFit(const std::vector<Note>& notes, const std::vector<std::uint32_t>& syllables,
                std::uint32_t near) {
    std::vector<std::uint32_t> onsets;
    for (const Note& note : notes) {
        if (onsets.empty() || onsets.back() != note.startTick) {
            onsets.push_back(note.startTick);
        }
    }
    std::size_t syllablesHit = 0;
    for (std::uint32_t tick : syllables) {
        syllablesHit += hasNear(onsets, tick, near) ? 1 : 0;
    }
    const std::uint32_t first = syllables.front() > near ? syllables.front() - near : 0;
    const std::uint32_t last = syllables.back() + near;
    std::size_t onsetsInSpan = 0;
    std::size_t onsetsHit = 0;
    for (std::uint32_t onset : onsets) {
        if (onset >= first && onset <= last) {
            ++onsetsInSpan;
            onsetsHit += hasNear(syllables, onset, near) ? 1 : 0;
        }
    }
    if (syllablesHit == 0 || onsetsHit == 0) {
        return 0.0;
    }
    const double recall = static_cast<double>(syllablesHit) / static_cast<double>(syllables.size());
    const double precision = static_cast<double>(onsetsHit) / static_cast<double>(onsetsInSpan);
    return 2.0 * recall * precision / (recall + precision);
}

// Share of notes that start after every earlier note of the track has ended.
double monophonicShare(const std::vector<Note>& notes) {
    std::size_t alone = 0;
    std::uint32_t soundingUntil = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const bool overlaps = i > 0 && (notes[i].startTick < soundingUntil ||
                                        notes[i].startTick == notes[i - 1].startTick);
        alone += overlaps ? 0 : 1;
        soundingUntil = std::max(soundingUntil, notes[i].endTick);
    }
    return notes.empty() ? 0.0 : static_cast<double>(alone) / static_cast<double>(notes.size());
}

double meanKey(const std::vector<Note>& notes) {
    double sum = 0.0;
    for (const Note& note : notes) {
        sum += note.key;
    }
    return sum / static_cast<double>(notes.size());
}

// A track that plays one note at a time now and then plays a chord; one that is mostly
// chords is an accompaniment.
constexpr double kMonophonic = 0.9;

}  // namespace

MelodyChoice ChooseMelodyTrack(const SongNotes& song, std::span<const std::uint32_t> syllableTicks) {
    MelodyChoice choice;
    std::vector<std::uint32_t> syllables(syllableTicks.begin(), syllableTicks.end());
    std::sort(syllables.begin(), syllables.end());
    if (!syllables.empty()) {
        double best = 0.0;
        for (std::size_t t = 0; t < song.tracks.size(); ++t) {
            const std::vector<Note>& notes = song.tracks[t];
            if (notes.empty() || isDrums(notes)) {
                continue;
            }
            const double fit = lyricFit(notes, syllables, nearTicks(song.division));
            if (fit > best) {
                best = fit;
                choice = {static_cast<int>(t), MelodyRule::Lyrics};
            }
        }
        if (choice.track >= 0) {
            return choice;
        }
    }
    // No words, or no track plays with them: the highest line of single notes.
    std::optional<double> bestKey;
    double bestShare = 0.0;
    int mostMonophonic = -1;
    for (std::size_t t = 0; t < song.tracks.size(); ++t) {
        const std::vector<Note>& notes = song.tracks[t];
        if (notes.empty() || isDrums(notes)) {
            continue;
        }
        const double share = monophonicShare(notes);
        if (share > bestShare) {
            bestShare = share;
            mostMonophonic = static_cast<int>(t);
        }
        const double key = meanKey(notes);
        if (share >= kMonophonic && (!bestKey || key > *bestKey)) {
            bestKey = key;
            choice = {static_cast<int>(t), MelodyRule::HighestMonophonic};
        }
    }
    if (choice.track < 0 && mostMonophonic >= 0) {
        choice = {mostMonophonic, MelodyRule::HighestMonophonic};
    }
    return choice;
}

double SecondsAtTempo(std::uint32_t tick, std::uint16_t division, std::uint32_t beatsPerMinute) {
    return static_cast<double>(tick) * 60.0 / (static_cast<double>(std::max(1u, beatsPerMinute)) * std::max<std::uint16_t>(1, division));
}

std::vector<MelodyNote> MelodyNotes(const SongNotes& song, int track, const PlaySettings& settings) {
    std::vector<MelodyNote> melody;
    if (track < 0 || static_cast<std::size_t>(track) >= song.tracks.size() || song.division == 0) {
        return melody;
    }
    std::optional<pulsant::TempoMap> map = pulsant::TempoMap::build(song.tempos, song.division);
    if (!map || !map->restartScale(std::max(1u, settings.tempoNumerator), std::max(1u, settings.tempoDenominator))) {
        return melody;
    }
    const auto seconds = [&](std::uint32_t tick) {
        return settings.beatsPerMinute > 0 ? SecondsAtTempo(tick, song.division, settings.beatsPerMinute)
                                           : static_cast<double>(map->timeAt(tick)) / 1e6;
    };
    const std::vector<Note>& notes = song.tracks[static_cast<std::size_t>(track)];
    for (std::size_t i = 0; i < notes.size(); ++i) {
        // Of notes starting together, the highest: sorted by start, look ahead.
        const Note* top = &notes[i];
        while (i + 1 < notes.size() && notes[i + 1].startTick == top->startTick) {
            ++i;
            if (notes[i].key > top->key) {
                top = &notes[i];
            }
        }
        std::uint32_t endTick = top->endTick;
        if (i + 1 < notes.size()) {
            endTick = std::min(endTick, notes[i + 1].startTick);
        }
        if (endTick <= top->startTick) {
            continue;
        }
        melody.push_back({seconds(top->startTick), seconds(endTick), static_cast<double>(top->key) + settings.key});
    }
    return melody;
}

}  // namespace pitch
