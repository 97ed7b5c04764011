// Playing a song by its own tempo map: every event in the period of its exact time, a
// change of ratio in mid-song, the time shown, and the mode switched off again.

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "SequencerHarness.h"

using namespace testing_support;

namespace {

struct Written {
    std::uint32_t tick;
    int track;
    std::uint32_t micros;
};

// An independent conversion: the tempo in effect at every tick (the last event at or
// before it, the higher track winning on one tick), summed tick by tick, divided once.
class Reference {
public:
    Reference(std::vector<Written> tempos, std::uint32_t division) : m_division(division) {
        std::stable_sort(tempos.begin(), tempos.end(), [](const Written& a, const Written& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
        });
        for (const Written& w : tempos) {
            m_at[w.tick] = w.micros;
        }
    }
    // Ticks × microseconds per quarter up to `tick`.
    std::uint64_t sum(std::uint32_t tick) const {
        std::uint64_t total = 0;
        std::uint32_t tempo = 500000;
        std::uint32_t from = 0;
        for (const auto& [at, micros] : m_at) {
            if (at >= tick) {
                break;
            }
            total += std::uint64_t{at - from} * tempo;
            from = at;
            tempo = micros;
        }
        return total + std::uint64_t{tick - from} * tempo;
    }
    std::uint64_t micros(std::uint32_t tick) const { return sum(tick) / m_division; }
    std::uint32_t division() const { return m_division; }

private:
    std::map<std::uint32_t, std::uint32_t> m_at;
    std::uint32_t m_division;
};

struct MapSong {
    ByteVector bytes;
    std::vector<std::uint32_t> noteTicks;
    Reference reference;
};

// Notes in the last track; tempo events spread over every track, shared ticks included.
MapSong randomMapSong(std::mt19937& rng, int tracks) {
    const std::uint32_t division = std::uniform_int_distribution<std::uint32_t>(24, 1920)(rng);
    std::uniform_int_distribution<std::uint32_t> tempo(30'000, 7'500'000);  // 2000 .. 8 bpm
    std::vector<Written> tempos;
    std::vector<Track> built(static_cast<std::size_t>(tracks));
    std::vector<std::uint32_t> written(static_cast<std::size_t>(tracks), 0);
    auto add = [&](int track, std::uint32_t tick, std::uint32_t micros) {
        built[static_cast<std::size_t>(track)].tempo(tick - written[static_cast<std::size_t>(track)], micros);
        written[static_cast<std::size_t>(track)] = tick;
        tempos.push_back({tick, track, micros});
    };
    // Keep the song short at slow tempos: about 16 quarters with a change every few.
    std::uint32_t tick = 0;
    while (tick < 16 * division) {
        const int track = std::uniform_int_distribution<int>(0, tracks - 1)(rng);
        add(track, tick, tempo(rng));
        if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) {
            add(std::uniform_int_distribution<int>(0, tracks - 1)(rng), tick, tempo(rng));  // same tick
        }
        tick += std::uniform_int_distribution<std::uint32_t>(1, 4 * division)(rng);
    }
    Track& notes = built.back();
    std::vector<std::uint32_t> noteTicks;
    std::uint32_t at = written.back();
    std::uint32_t note = written.back();
    while (note < 16 * division) {
        note += std::uniform_int_distribution<std::uint32_t>(1, division / 2 + 1)(rng);
        notes.noteOn(note - at, 0, 60, 100);
        at = note;
        noteTicks.push_back(note);
    }
    for (Track& track : built) {
        track.end();
    }
    return {smf(1, static_cast<int>(division), built), noteTicks, Reference(tempos, division)};
}

class FollowTempo : public SequencerTest {
protected:
    bool startFollowing(const ByteVector& song, std::uint32_t num = 1, std::uint32_t den = 1) {
        return CallFollowTempoMapDLL(window(), 1, num, den) == 1 && start(song);
    }
    static std::uint64_t period(std::uint64_t micros) { return (micros + 500) / 1000; }
};

// Guards against waits taken from one whole-number tempo, a rounded running sum, tempo
// events of only the first track, or the wrong event winning on a shared tick: every note
// of random maps sounds in the period of its exact time, however the map is written.
TEST_F(FollowTempo, EveryNoteOfRandomMapsFallsInThePeriodOfItsExactTime) {
    std::mt19937 rng(20261210);
    for (int song = 0; song < 20; ++song) {
        SCOPED_TRACE(song);
        pulsant::resetForTest();
        MapSong s = randomMapSong(rng, 1 + song % 4);
        ASSERT_TRUE(startFollowing(s.bytes));
        runToEnd(10'000'000);
        const auto ons = noteOns(stopAndRead());
        ASSERT_EQ(ons.size(), s.noteTicks.size());
        for (std::size_t i = 0; i < ons.size(); ++i) {
            ASSERT_EQ(ons[i].micros, period(s.reference.micros(s.noteTicks[i])) * 1000)
                << "note " << i << " at tick " << s.noteTicks[i];
        }
    }
}

// A change of ratio in mid-song: the next note after it lands where the scaled map puts
// it from the moment of the change (within the tick the song was in), every later
// interval follows the scaled map without drift, and a rewind plays the whole song at
// the new ratio.
TEST_F(FollowTempo, ARatioChangedInMidSongTakesEffectWhereTheSongIs) {
    const std::uint32_t division = 96;
    Track track;
    track.tempo(0, 400'000);
    std::vector<std::uint32_t> ticks;
    std::uint32_t tick = 0;
    for (int n = 0; n < 80; ++n) {
        const std::uint32_t step = 24 + static_cast<std::uint32_t>(n % 7) * 13;
        track.noteOn(step, 0, 60, 100);
        tick += step;
        ticks.push_back(tick);
        if (n == 40) {
            track.tempo(0, 700'000);  // a ritardando in the middle
        }
    }
    track.end();
    const Reference reference({{0, 0, 400'000}, {ticks[40], 0, 700'000}}, division);
    ASSERT_TRUE(startFollowing(smf(0, division, {track})));
    // Into the wait between notes 10 and 11.
    const std::uint64_t changeMs = period(reference.micros(ticks[10])) + 37;
    advance(static_cast<std::uint32_t>(changeMs));
    const std::uint32_t num = 3, den = 4;  // every quarter 3/4 as long: faster
    ASSERT_EQ(CallFollowTempoMapDLL(window(), 1, num, den), 1);
    runToEnd(1'000'000);
    const auto ons = noteOns(stopAndRead());
    ASSERT_EQ(ons.size(), ticks.size());

    // Before the change, as written.
    for (std::size_t i = 0; i <= 10; ++i) {
        EXPECT_EQ(ons[i].micros, period(reference.micros(ticks[i])) * 1000) << i;
    }
    // Note 11: the rest of the wait from the change, scaled. Its position within the tick
    // it was in is not kept: up to one tick's time (about 4 ms) early.
    const double nowSum = static_cast<double>(changeMs) * 1000.0 * division;
    const double expected11 =
        static_cast<double>(changeMs) * 1000.0 +
        (static_cast<double>(reference.sum(ticks[11])) - nowSum) * num / (den * static_cast<double>(division));
    EXPECT_NEAR(static_cast<double>(ons[11].micros), expected11, 400'000.0 / division + 1000.0);
    // Every later note: the scaled distance from note 11, to the period.
    for (std::size_t i = 12; i < ticks.size(); ++i) {
        const double scaled = static_cast<double>(reference.sum(ticks[i]) - reference.sum(ticks[11])) *
                              num / (den * static_cast<double>(division));
        EXPECT_NEAR(static_cast<double>(ons[i].micros - ons[11].micros), scaled, 1000.0) << i;
    }
}

// Guards against a rewind that leaves the ratio's change behind at the tick it was made:
// from the start again, every quarter plays at the ratio in force.
TEST_F(FollowTempo, ARewindPlaysTheWholeSongAtTheRatioInForce) {
    const std::uint32_t division = 96;
    Track track;
    track.tempo(0, 400'000);
    for (int n = 0; n < 40; ++n) {
        track.noteOn(division, 0, 60, 100);
    }
    track.end();
    ASSERT_TRUE(startFollowing(smf(0, division, {track})));
    advance(20 * 400 + 10);  // 20 quarters in
    ASSERT_EQ(CallFollowTempoMapDLL(window(), 1, 1, 2), 1);  // twice as fast
    advance(2 * 200);
    const std::uint64_t rewoundAt = 20 * 400'000 + 10'000 + 2 * 200'000;
    CallRewind(window());  // a tenth back: to quarters played as written before the change
    advance(6 * 200);
    std::vector<Captured> after;
    for (const Captured& on : noteOns(stopAndRead())) {
        if (on.micros > rewoundAt) {
            after.push_back(on);
        }
    }
    ASSERT_GE(after.size(), 5u);
    for (std::size_t i = 1; i < after.size(); ++i) {
        EXPECT_EQ(after[i].micros - after[i - 1].micros, 200'000u) << i;
    }
}

// Guards against a time shown at the one tempo of the first track (a ritardando song
// that plays twice as fast as its last tempo says) and against the mode outliving the
// song it was chosen for: switched off, the same song plays as it always did.
TEST_F(FollowTempo, TheTimeShownIsTheMapsAndTheModeSwitchesOff) {
    const std::uint32_t division = 120;
    Track track;
    track.tempo(0, 500'000);  // 120 bpm for 40 quarters (20 s) ...
    for (int n = 0; n < 40; ++n) {
        track.noteOn(division, 0, 60, 100);
    }
    track.tempo(0, 1'000'000);  // ... then 60: the one tempo the song plays at without the map
    track.noteOn(division, 0, 62, 100).end();
    const ByteVector song = smf(0, division, {track});

    ASSERT_TRUE(startFollowing(song));
    advance(10'000);
    std::int32_t minutes = -1, seconds = -1;
    ASSERT_EQ(CallGetTime(window(), &minutes, &seconds), 1);
    EXPECT_EQ(minutes * 60 + seconds, 10);
    EXPECT_EQ(CallGetTempo(window()), 120) << "the tempo in effect, not the last written";
    const std::uint32_t followedMs = runToEnd();
    EXPECT_NEAR(10'000.0 + followedMs, 21'000.0, 2.0);
    stopAndRead();

    // Off again: the song's one tempo (60), the capture as a fresh engine makes it.
    ASSERT_EQ(CallFollowTempoMapDLL(window(), 0, 1, 1), 1);
    ASSERT_TRUE(start(song));
    runToEnd();
    const auto off = stopAndRead();
    pulsant::resetForTest();
    ASSERT_TRUE(start(song));
    const std::uint32_t freshMs = runToEnd();
    const auto fresh = stopAndRead();
    ASSERT_EQ(off.size(), fresh.size());
    for (std::size_t i = 0; i < off.size(); ++i) {
        EXPECT_EQ(off[i].micros, fresh[i].micros) << i;
        EXPECT_EQ(off[i].status, fresh[i].status) << i;
    }
    EXPECT_NEAR(freshMs, 41'000.0, 2.0);
}

// The ratio that makes a section play at a chosen tempo: exact where the terms allow,
// the nearest bounded fraction where they do not, never a term out of bounds.
TEST(TempoScale, RatioForATempoAtASection) {
    using pulsant::TempoMap;
    struct Case {
        std::uint32_t written;
        std::uint32_t bpm;
    };
    for (const Case c : {Case{500'000, 121}, Case{500'000, 120}, Case{483'871, 100}, Case{1, 240},
                         Case{0xFFFFFF, 1}, Case{529'801, 113}, Case{7'500'000, 8}, Case{30'000, 2000}}) {
        SCOPED_TRACE(c.written);
        const TempoMap::Scale s = TempoMap::scaleForTempo(c.written, c.bpm);
        ASSERT_GE(s.numerator, 1u);
        ASSERT_GE(s.denominator, 1u);
        ASSERT_LE(s.numerator, TempoMap::kMaxScaleTerm);
        ASSERT_LE(s.denominator, TempoMap::kMaxScaleTerm);
        const double wanted = 60e6 / (static_cast<double>(c.written) * c.bpm);
        const double got = static_cast<double>(s.numerator) / s.denominator;
        // Out of reach only at the extremes (a ratio above the largest term).
        if (wanted < TempoMap::kMaxScaleTerm && wanted > 1.0 / TempoMap::kMaxScaleTerm) {
            EXPECT_NEAR(got / wanted, 1.0, 1e-6);
        }
    }
    EXPECT_EQ(TempoMap::scaleForTempo(500'000, 121), (TempoMap::Scale{120, 121}));
    EXPECT_EQ(TempoMap::scaleForTempo(0, 120), (TempoMap::Scale{1, 1}));
}

}  // namespace
