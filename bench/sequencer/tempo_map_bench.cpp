// What the tempo map costs per message: the time of each message of a song in play order,
// the tempo shown for it, and the tick a seek lands on. Maps of 1, 400 (a song with a
// long ritardando and tempo changes in two tracks) and 20,000 segments, with three changes
// of the user's ratio held (run with --benchmark_repetitions=5 for medians).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "TempoMap.h"

using pulsant::TempoEvent;
using pulsant::TempoMap;

namespace {

constexpr std::uint16_t kDivision = 480;
constexpr std::uint32_t kSongTicks = 4 * 60 * 2 * kDivision;  // four minutes at 120 bpm

TempoMap songWithSegments(std::int64_t segments) {
    std::vector<TempoEvent> events;
    const std::uint32_t step = kSongTicks / static_cast<std::uint32_t>(segments);
    for (std::int64_t i = 0; i < segments; ++i) {
        const auto index = static_cast<std::uint32_t>(i);
        events.push_back({index * step, static_cast<std::uint16_t>(i % 2), 400000 + index * 37 % 300000});
    }
    auto map = TempoMap::build(events, kDivision);
    map->setScale(105, 100, kSongTicks / 4);
    map->setScale(110, 100, kSongTicks / 2);
    map->setScale(97, 100, 3 * kSongTicks / 4);
    return std::move(*map);
}

// A message every 17 ticks, in play order.
std::vector<std::uint32_t> messageTicks() {
    std::vector<std::uint32_t> ticks;
    for (std::uint32_t tick = 0; tick < kSongTicks; tick += 17) {
        ticks.push_back(tick);
    }
    return ticks;
}

void TimePerMessage(benchmark::State& state) {
    const TempoMap map = songWithSegments(state.range(0));
    const std::vector<std::uint32_t> ticks = messageTicks();
    for (auto _ : state) {
        for (const std::uint32_t tick : ticks) {
            benchmark::DoNotOptimize(map.timeAt(tick));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ticks.size()));
}

void TempoPerMessage(benchmark::State& state) {
    const TempoMap map = songWithSegments(state.range(0));
    const std::vector<std::uint32_t> ticks = messageTicks();
    for (auto _ : state) {
        for (const std::uint32_t tick : ticks) {
            benchmark::DoNotOptimize(map.tempoAt(tick));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ticks.size()));
}

void SeekToTime(benchmark::State& state) {
    const TempoMap map = songWithSegments(state.range(0));
    const std::uint64_t end = map.timeAt(kSongTicks);
    std::vector<std::uint64_t> times;
    for (std::uint64_t i = 0; i < 4096; ++i) {
        times.push_back(end * ((i * 2654435761u) % 4096) / 4096);
    }
    for (auto _ : state) {
        for (const std::uint64_t micros : times) {
            benchmark::DoNotOptimize(map.tickAt(micros));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(times.size()));
}

}  // namespace

BENCHMARK(TimePerMessage)->Arg(1)->Arg(400)->Arg(20000);
BENCHMARK(TempoPerMessage)->Arg(1)->Arg(400)->Arg(20000);
BENCHMARK(SeekToTime)->Arg(1)->Arg(400)->Arg(20000);
BENCHMARK_MAIN();
