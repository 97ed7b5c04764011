#pragma once

// A song's tempo map: where every tick of the song falls in time, following each Set Tempo
// event as written, to the microsecond, however long the song.
//
// Exactness. Time is kept as an exact rational until the very last step: the map stores,
// for the start of each tempo segment, the accumulated sum of ticks × microseconds per
// quarter (the time times the division, an integer), so a segment's start carries every
// remainder of the segments before it. The time of tick t is
//     floor((segmentSum + (t − segmentStartTick) × microsPerQuarter) / division)
// in 128-bit arithmetic: rounded down to the whole microsecond once, never summed from
// rounded parts, so nothing drifts over hours. Because every segment's tempo is at least
// one microsecond per quarter, the exact time grows strictly with the tick and its floor
// never decreases: the map is monotone (two ticks may share a microsecond when a quarter
// is shorter than the division).
//
// Scaling. The user's tempo setting scales every segment by one ratio (numerator over
// denominator: 110/100 plays each quarter 10 % longer). A change of ratio takes effect at
// a tick, its anchor: the time of the anchor tick stays what it was, ticks before it keep
// their times, and from the anchor on the time is the anchor's time plus the floor of the
// exact scaled time from the anchor. So the only rounding a change adds is the fraction of
// a microsecond below the anchor's time, once per change, never accumulated while playing.
//
// Threads. Building and rescaling allocate (building) or write (rescaling) and belong to
// the caller's thread while no reader runs. Every query (timeAt, tickAt, tempoAt and the
// small getters) is const, allocates nothing, takes no lock and runs in logarithmic time
// over the segments and the changes of ratio: it may run on the timer thread.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pulsant {

// One Set Tempo event of a track: its absolute tick and its 24-bit value.
struct TempoEvent {
    std::uint32_t tick = 0;
    std::uint16_t track = 0;  // the track chunk's index in the file
    std::uint32_t microsPerQuarter = 0;
};

// The tempo in effect at a tick, for the tempo display.
struct TempoAtTick {
    std::uint32_t writtenMicrosPerQuarter = 0;  // as the song writes it
    double beatsPerMinute = 0.0;                // as it plays, with the scale applied
};

class TempoMap {
public:
    // The tempo of a song until its first Set Tempo event (120 beats per minute).
    static constexpr std::uint32_t kDefaultMicrosPerQuarter = 500000;
    // Changes of ratio a map holds between two restarts (see setScale).
    static constexpr std::size_t kMaxScaleChanges = 1024;
    // Bounds of a ratio's numerator and denominator.
    static constexpr std::uint32_t kMaxScaleTerm = 1u << 20;

    // The map of `events`, the Set Tempo events of every track, given in any track order
    // but each track's own events in file order. Where several fall on one tick the last in
    // track order wins (the higher track; within a track the later event), as a player
    // reading the tracks in order would leave it. Events of 0 microseconds per quarter are
    // ignored; values above 24 bits are cut to 24 as the file field is. Before the first
    // event the song plays at 500,000 microseconds per quarter.
    //
    // `division` is the header's division word: ticks per quarter note. A division of 0,
    // or one with its top bit set (SMPTE frames and ticks per frame, where the tempo means
    // nothing), gives no map: the loader refuses such files too.
    static std::optional<TempoMap> build(std::span<const TempoEvent> events,
                                         std::uint16_t division);

    // Exact time of a tick from the start of the song, in microseconds (rounded down).
    std::uint64_t timeAt(std::uint32_t tick) const;
    // The largest tick whose time is at or before `micros` (for seeks). Tick 0 for a time
    // before every tick's, which cannot happen as tick 0 is at time 0.
    std::uint32_t tickAt(std::uint64_t micros) const;
    // The tempo in effect at a tick: the last Set Tempo event at or before it.
    TempoAtTick tempoAt(std::uint32_t tick) const;

    // Scales every segment's microseconds per quarter by numerator / denominator from
    // `anchorTick` on; see the header comment. A change at or before earlier changes'
    // anchors replaces them. False, changing nothing, when a term is 0 or above
    // kMaxScaleTerm, or when kMaxScaleChanges changes are held (restartScale empties them).
    bool setScale(std::uint32_t numerator, std::uint32_t denominator, std::uint32_t anchorTick);
    // Forgets every change and scales the whole song from tick 0 (song start, rewind).
    bool restartScale(std::uint32_t numerator, std::uint32_t denominator);

    // The ratio under which a section written at `writtenMicrosPerQuarter` plays at
    // `beatsPerMinute`: 60,000,000 / (written × bpm), reduced, or where its terms would pass
    // kMaxScaleTerm the nearest fraction whose terms do not (off by less than one part in a
    // million). {1, 1} for a zero argument.
    struct Scale {
        std::uint32_t numerator = 1;
        std::uint32_t denominator = 1;
        friend bool operator==(const Scale&, const Scale&) = default;
    };
    static Scale scaleForTempo(std::uint32_t writtenMicrosPerQuarter, std::uint32_t beatsPerMinute);

    // The ratio under which the section at `tick` plays at `beatsPerMinute` (with --tempo,
    // the song's first section; with a step, the section where the song is).
    Scale scaleForTempoAt(std::uint32_t tick, std::uint32_t beatsPerMinute) const {
        return scaleForTempo(tempoAt(tick).writtenMicrosPerQuarter, beatsPerMinute);
    }

    // The tempo display at a tick: the tempo in effect as it plays, rounded.
    int shownTempoAt(std::uint32_t tick) const;
    // The user's tempo step at a tick: the ratio under which the tempo shown there moves by
    // `steps` beats per minute. Nothing when that would go below 1 beat per minute or take
    // the song beyond a quarter or four times its written speed.
    std::optional<Scale> scaleForStep(std::uint32_t tick, int steps) const;

    // Moved, never copied: a copy would not keep the reserved room for changes of ratio.
    TempoMap(TempoMap&&) = default;
    TempoMap& operator=(TempoMap&&) = default;
    TempoMap(const TempoMap&) = delete;
    TempoMap& operator=(const TempoMap&) = delete;

    std::uint16_t division() const { return m_division; }
    std::size_t segmentCount() const { return m_segments.size(); }

private:
    TempoMap() = default;

    struct Segment {
        std::uint32_t startTick;
        std::uint32_t microsPerQuarter;
        std::uint64_t startSum;  // ticks × microseconds per quarter before the segment
    };
    // From `tick` on: time = micros + floor((sum(t) − sum) × numerator / (denominator × division)).
    struct Anchor {
        std::uint32_t tick;
        std::uint32_t numerator;
        std::uint32_t denominator;
        std::uint64_t sum;     // unscaled sum at the anchor tick
        std::uint64_t micros;  // time at the anchor tick
    };

    const Segment& segmentAt(std::uint32_t tick) const;
    const Anchor& anchorAt(std::uint32_t tick) const;
    std::uint64_t sumAt(std::uint32_t tick) const;
    std::uint64_t timeFrom(const Anchor& anchor, std::uint64_t sum) const;

    std::uint16_t m_division = 0;
    std::vector<Segment> m_segments;  // by start tick; the first starts at tick 0
    std::vector<Anchor> m_anchors;    // by tick; the first at tick 0; capacity reserved
};

}  // namespace pulsant
