// The tempo map against a reference that plays the song tick by tick: at every tick it
// applies the Set Tempo events due then, track by track in file order, and adds that
// tick's length (microseconds per quarter, over the division) to an exact rational time.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "TempoMap.h"

using pulsant::TempoEvent;
using pulsant::TempoMap;

namespace {

using Tracks = std::vector<std::vector<TempoEvent>>;  // per track, in file order

// Per tick 0..ticks: the tempo in effect and the exact time as a numerator over the
// division (the sum of the tempos of the ticks before).
struct Reference {
    std::uint32_t division = 0;
    std::vector<std::uint32_t> tempo;
    std::vector<std::uint64_t> numerator;

    std::uint64_t time(std::uint32_t tick) const { return numerator[tick] / division; }
};

Reference playTickByTick(const Tracks& tracks, std::uint32_t division, std::uint32_t ticks) {
    Reference ref;
    ref.division = division;
    std::vector<std::size_t> next(tracks.size(), 0);
    std::uint32_t current = 500000;
    std::uint64_t numerator = 0;
    for (std::uint32_t tick = 0; tick <= ticks; ++tick) {
        for (std::size_t track = 0; track < tracks.size(); ++track) {
            for (; next[track] < tracks[track].size() && tracks[track][next[track]].tick == tick;
                 ++next[track]) {
                if (tracks[track][next[track]].microsPerQuarter != 0) {
                    current = tracks[track][next[track]].microsPerQuarter;
                }
            }
        }
        ref.tempo.push_back(current);
        ref.numerator.push_back(numerator);
        numerator += current;
    }
    return ref;
}

// The events as one list, tracks in the order given by `reversed` (the map may not rely
// on the order tracks are handed over).
std::vector<TempoEvent> flatten(const Tracks& tracks, bool reversed) {
    std::vector<TempoEvent> all;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const auto& track = tracks[reversed ? tracks.size() - 1 - i : i];
        all.insert(all.end(), track.begin(), track.end());
    }
    return all;
}

struct RandomSong {
    Tracks tracks;
    std::uint16_t division = 0;
    std::uint32_t ticks = 0;
};

// Up to four tracks of tempo events (8 to 2000 beats per minute, odd values), often on
// shared ticks and on tick 0, now and then a zero tempo that must be ignored.
RandomSong randomSong(std::mt19937& rng, int index) {
    RandomSong song;
    song.division = index == 0 ? 24 : index == 1 ? 1920
                                     : static_cast<std::uint16_t>(24 + rng() % (1920 - 24 + 1));
    song.ticks = song.division * (2 + rng() % 10) + rng() % song.division;
    std::uniform_real_distribution<double> logBpm(std::log(8.0), std::log(2000.0));
    std::vector<std::uint32_t> sharedTicks{0, static_cast<std::uint32_t>(rng() % song.ticks),
                                           static_cast<std::uint32_t>(rng() % song.ticks)};
    const std::size_t trackCount = 1 + rng() % 4;
    song.tracks.resize(trackCount);
    for (auto& track : song.tracks) {
        const std::size_t count = rng() % 7;
        for (std::size_t i = 0; i < count; ++i) {
            TempoEvent event;
            event.track = static_cast<std::uint16_t>(&track - song.tracks.data());
            event.tick = rng() % 3 == 0 ? sharedTicks[rng() % sharedTicks.size()]
                                        : static_cast<std::uint32_t>(rng() % song.ticks);
            event.microsPerQuarter =
                rng() % 16 == 0 ? 0
                                : static_cast<std::uint32_t>(60e6 / std::exp(logBpm(rng))) | 1u;
            track.push_back(event);
        }
        std::stable_sort(track.begin(), track.end(),
                         [](const TempoEvent& a, const TempoEvent& b) { return a.tick < b.tick; });
    }
    return song;
}

// Seeks: the tick found for a time is the last tick at or before it, wherever the reference
// can tell (the map's last tempo runs on past the reference's end).
void expectSeeksLand(const TempoMap& map, const std::vector<std::uint64_t>& times) {
    for (std::size_t t = 0; t < times.size(); t += 1 + t % 7) {
        for (const std::uint64_t x : {times[t], times[t] + 1, times[t] == 0 ? 0 : times[t] - 1}) {
            const auto after = std::upper_bound(times.begin(), times.end(), x);
            if (after == times.end()) {
                continue;
            }
            ASSERT_EQ(map.tickAt(x), static_cast<std::uint32_t>(after - times.begin() - 1))
                << "seek to " << x << " us";
        }
    }
}

// Guards against a time rounded per segment or summed from rounded parts, a wrong winner
// among events on one tick, a tempo outside track 0 ignored, or a seek one tick off.
TEST(TempoMap, EveryTickOfRandomMapsIsExactToTheMicrosecond) {
    std::mt19937 rng(20261210);
    for (int index = 0; index < 150; ++index) {
        const RandomSong song = randomSong(rng, index);
        const Reference ref = playTickByTick(song.tracks, song.division, song.ticks);
        const auto map = TempoMap::build(flatten(song.tracks, index % 2 == 1), song.division);
        ASSERT_TRUE(map.has_value());
        std::vector<std::uint64_t> times;
        for (std::uint32_t tick = 0; tick <= song.ticks; ++tick) {
            times.push_back(map->timeAt(tick));
            ASSERT_EQ(times.back(), ref.time(tick)) << "song " << index << " tick " << tick;
            ASSERT_EQ(map->tempoAt(tick).writtenMicrosPerQuarter, ref.tempo[tick]);
        }
        ASSERT_TRUE(std::is_sorted(times.begin(), times.end()));
        expectSeeksLand(*map, times);
    }
}

// Guards against a change of speed that makes the song jump at the change, rewrites the
// time already played, or scales the rest of the song from the wrong place: after each
// change the next ticks land where the scaled tempos, counted from the change, put them.
TEST(TempoMap, ChangingTheRatioMidSongContinuesFromTheAnchorTick) {
    std::mt19937 rng(7);
    for (int index = 0; index < 60; ++index) {
        const RandomSong song = randomSong(rng, index);
        const Reference ref = playTickByTick(song.tracks, song.division, song.ticks);
        auto map = TempoMap::build(flatten(song.tracks, false), song.division);
        ASSERT_TRUE(map.has_value());
        std::vector<std::uint64_t> expected(ref.numerator.size());
        for (std::uint32_t tick = 0; tick <= song.ticks; ++tick) {
            expected[tick] = ref.time(tick);
        }
        for (int change = 0; change < 4; ++change) {
            // Percentages, and odd ratios; anchors both after and before earlier ones.
            const std::uint32_t numerator = change % 2 == 0 ? 25 + rng() % 376 : 1 + rng() % 997;
            const std::uint32_t denominator = change % 2 == 0 ? 100 : 1 + rng() % 991;
            const std::uint32_t anchor = static_cast<std::uint32_t>(rng() % song.ticks);
            ASSERT_TRUE(map->setScale(numerator, denominator, anchor));
            std::uint64_t scaled = 0;  // exact scaled time from the anchor, times den × div
            for (std::uint32_t tick = anchor + 1; tick <= song.ticks; ++tick) {
                scaled += std::uint64_t{ref.tempo[tick - 1]} * numerator;
                expected[tick] = expected[anchor] + scaled / (std::uint64_t{denominator} * song.division);
            }
            for (std::uint32_t tick = 0; tick <= song.ticks; ++tick) {
                ASSERT_EQ(map->timeAt(tick), expected[tick])
                    << "song " << index << " change " << change << " at " << anchor << ", tick " << tick;
            }
            const double bpm = 60e6 * denominator / (static_cast<double>(ref.tempo[anchor]) * numerator);
            EXPECT_NEAR(map->tempoAt(anchor).beatsPerMinute, bpm, bpm * 1e-12);
            expectSeeksLand(*map, expected);
        }
    }
}

struct RuleCase {
    const char* rule;
    std::vector<TempoEvent> events;  // as handed over
    std::uint32_t tick;
    std::uint64_t micros;            // time of `tick`, worked out by hand
    std::uint32_t tempo;             // written tempo at `tick`
};

// Guards against the rules for tempo events of real files: a tempo kept only by a later
// track, several on one tick, and values the map must not act on.
TEST(TempoMap, TempoEventsOfEveryTrackAndOnOneTick) {
    const std::vector<RuleCase> cases = {
        {"no event: 120 bpm", {}, 960, 1000000, 500000},
        {"only in track 3", {{480, 3, 250000}}, 960, 750000, 250000},
        {"track 1 beats track 0 on one tick, handed over first",
         {{0, 1, 600000}, {0, 0, 400000}}, 480, 600000, 600000},
        {"later event of one track on one tick", {{0, 0, 400000}, {0, 0, 300000}}, 480, 300000,
         300000},
        {"a zero tempo is ignored", {{0, 0, 400000}, {240, 0, 0}}, 480, 400000, 400000},
        {"before the first event: 500000", {{480, 1, 1000000}}, 480, 500000, 1000000},
        {"odd lengths keep their remainders", {{0, 0, 333333}, {7, 2, 777777}, {11, 0, 1}}, 480,
         (7ull * 333333 + 4 * 777777 + 469) / 480, 1},
    };
    for (const RuleCase& c : cases) {
        const auto map = TempoMap::build(c.events, 480);
        ASSERT_TRUE(map.has_value()) << c.rule;
        EXPECT_EQ(map->timeAt(c.tick), c.micros) << c.rule;
        EXPECT_EQ(map->tempoAt(c.tick).writtenMicrosPerQuarter, c.tempo) << c.rule;
    }
    // Divisions the map cannot honour: none, and SMPTE frames (25 fps, 40 ticks a frame).
    for (const std::uint16_t division : {0, 0x8000, 0xE728}) {
        EXPECT_FALSE(TempoMap::build({}, division).has_value()) << division;
    }
}

// Guards against drift over a long song: three hours of a tempo that changes every 353
// ticks (never a whole microsecond per segment); any rounding of a segment would add up.
TEST(TempoMap, ThreeHourSongHasNoDrift) {
    constexpr std::uint16_t kDivision = 480;
    constexpr std::uint32_t kStep = 353;
    Tracks tracks(2);
    std::uint64_t exact = 0;  // the song's length times the division
    std::uint32_t tick = 0;
    for (std::uint32_t i = 0; exact < 3ull * 3600 * 1000000 * kDivision; ++i, tick += kStep) {
        const std::uint32_t micros = 480001 + (i * 7919) % 100000;  // 113 to 125 bpm
        tracks[i % 2].push_back({tick, static_cast<std::uint16_t>(i % 2), micros});
        exact += std::uint64_t{kStep} * micros;
    }
    const auto map = TempoMap::build(flatten(tracks, false), kDivision);
    ASSERT_TRUE(map.has_value());
    EXPECT_EQ(map->timeAt(tick), exact / kDivision);
    // Tick by tick, each adding the tempo of the step it is in (ten million ticks).
    std::uint64_t numerator = 0;
    for (std::uint32_t t = 0; t <= tick; ++t) {
        ASSERT_EQ(map->timeAt(t), numerator / kDivision) << "tick " << t;
        numerator += 480001 + ((t / kStep) * 7919) % 100000;
    }
    EXPECT_EQ(map->tickAt(exact / kDivision), tick);
}

// Guards against a change of ratio that would grow the anchors' array (and so reallocate
// under a reader) or accept a ratio whose terms overflow the arithmetic.
TEST(TempoMap, RatioChangesAreBoundedAndValidated) {
    auto map = TempoMap::build({}, 96);
    ASSERT_TRUE(map.has_value());
    EXPECT_FALSE(map->setScale(0, 100, 10));
    EXPECT_FALSE(map->setScale(100, 0, 10));
    EXPECT_FALSE(map->setScale(TempoMap::kMaxScaleTerm + 1, 100, 10));
    for (std::uint32_t i = 1; i <= TempoMap::kMaxScaleChanges; ++i) {
        ASSERT_TRUE(map->setScale(100 + i % 2, 100, i)) << i;
    }
    const std::uint64_t before = map->timeAt(5000);
    EXPECT_FALSE(map->setScale(50, 100, TempoMap::kMaxScaleChanges + 1));
    EXPECT_EQ(map->timeAt(5000), before);
    // A change before the earlier ones replaces them, so it always has room.
    EXPECT_TRUE(map->setScale(50, 100, 1));
    EXPECT_TRUE(map->setScale(50, 100, 2));
    EXPECT_TRUE(map->restartScale(200, 100));
    EXPECT_EQ(map->timeAt(96), 1000000u);
}

}  // namespace
