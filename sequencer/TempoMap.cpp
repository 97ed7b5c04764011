// The song's tempo map (see TempoMap.h for the arithmetic and its rounding).
//
// Ranges: ticks are 32-bit and a tempo 24-bit, so a segment sum stays below 2^56; scaled
// by a term of at most 2^20 it stays below 2^76, and a time to seek to, times the largest
// denominator and division, below 2^99. All of it is computed in unsigned 128-bit integers;
// a time that would not fit 64 bits (centuries) saturates.

#include "TempoMap.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace pulsant {
namespace {

__extension__ typedef unsigned __int128 Wide;

constexpr std::uint64_t kMaxMicros = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t kLastTick = std::numeric_limits<std::uint32_t>::max();

std::uint64_t saturate(Wide value) {
    return value > Wide{kMaxMicros} ? kMaxMicros : static_cast<std::uint64_t>(value);
}

bool validTerms(std::uint32_t numerator, std::uint32_t denominator) {
    return numerator != 0 && denominator != 0 && numerator <= TempoMap::kMaxScaleTerm &&
           denominator <= TempoMap::kMaxScaleTerm;
}

}  // namespace

std::optional<TempoMap> TempoMap::build(std::span<const TempoEvent> events,
                                        std::uint16_t division) {
    if (division == 0 || division >= 0x8000) {
        return std::nullopt;
    }
    std::vector<TempoEvent> sorted;
    sorted.reserve(events.size());
    for (TempoEvent event : events) {
        event.microsPerQuarter &= 0xFFFFFF;
        if (event.microsPerQuarter != 0) {
            sorted.push_back(event);
        }
    }
    // Stable: a track's events at one tick keep their file order, so the later one wins.
    std::stable_sort(sorted.begin(), sorted.end(), [](const TempoEvent& a, const TempoEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
    });

    TempoMap map;
    map.m_division = division;
    map.m_segments.push_back({0, kDefaultMicrosPerQuarter, 0});
    for (const TempoEvent& event : sorted) {
        Segment& last = map.m_segments.back();
        if (event.tick == last.startTick) {
            last.microsPerQuarter = event.microsPerQuarter;  // later in track order wins
            continue;
        }
        // The segment before is final now: its tempo fixes where this one starts.
        const std::uint64_t sum =
            last.startSum + std::uint64_t{event.tick - last.startTick} * last.microsPerQuarter;
        map.m_segments.push_back({event.tick, event.microsPerQuarter, sum});
    }
    map.m_segments.shrink_to_fit();
    map.m_anchors.reserve(kMaxScaleChanges + 1);
    map.m_anchors.push_back({0, 1, 1, 0, 0});
    return map;
}

const TempoMap::Segment& TempoMap::segmentAt(std::uint32_t tick) const {
    const auto after = std::upper_bound(
        m_segments.begin(), m_segments.end(), tick,
        [](std::uint32_t t, const Segment& segment) { return t < segment.startTick; });
    return *(after - 1);  // the first segment starts at tick 0
}

const TempoMap::Anchor& TempoMap::anchorAt(std::uint32_t tick) const {
    const auto after = std::upper_bound(
        m_anchors.begin(), m_anchors.end(), tick,
        [](std::uint32_t t, const Anchor& anchor) { return t < anchor.tick; });
    return *(after - 1);  // the first anchor is at tick 0
}

std::uint64_t TempoMap::sumAt(std::uint32_t tick) const {
    const Segment& segment = segmentAt(tick);
    return segment.startSum + std::uint64_t{tick - segment.startTick} * segment.microsPerQuarter;
}

std::uint64_t TempoMap::timeFrom(const Anchor& anchor, std::uint64_t sum) const {
    const Wide scaled = Wide{sum - anchor.sum} * anchor.numerator;
    const Wide per = Wide{anchor.denominator} * m_division;
    return saturate(Wide{anchor.micros} + scaled / per);
}

std::uint64_t TempoMap::timeAt(std::uint32_t tick) const {
    return timeFrom(anchorAt(tick), sumAt(tick));
}

std::uint32_t TempoMap::tickAt(std::uint64_t micros) const {
    // The last change whose anchor is not after `micros`: later anchors are later in time.
    const auto next = std::upper_bound(
        m_anchors.begin(), m_anchors.end(), micros,
        [](std::uint64_t m, const Anchor& anchor) { return m < anchor.micros; });
    const Anchor& anchor = *(next - 1);
    const std::uint32_t regionEnd = next == m_anchors.end() ? kLastTick : next->tick - 1;

    // time(t) <= micros  <=>  (sum(t) - anchor.sum) × num < (micros - anchor.micros + 1) × den × div
    const Wide bound = (Wide{micros - anchor.micros} + 1) * anchor.denominator * m_division;
    const Wide reach = (bound - 1) / anchor.numerator;
    const Wide target = Wide{anchor.sum} + reach;

    const auto after = std::upper_bound(
        m_segments.begin(), m_segments.end(), target,
        [](Wide t, const Segment& segment) { return t < Wide{segment.startSum}; });
    const Segment& segment = *(after - 1);
    const Wide tick = Wide{segment.startTick} + (target - segment.startSum) / segment.microsPerQuarter;
    return tick > Wide{regionEnd} ? regionEnd : static_cast<std::uint32_t>(tick);
}

TempoAtTick TempoMap::tempoAt(std::uint32_t tick) const {
    const Segment& segment = segmentAt(tick);
    const Anchor& anchor = anchorAt(tick);
    const double playedMicros = static_cast<double>(segment.microsPerQuarter) *
                                anchor.numerator / anchor.denominator;
    return {segment.microsPerQuarter, 60'000'000.0 / playedMicros};
}

bool TempoMap::setScale(std::uint32_t numerator, std::uint32_t denominator,
                        std::uint32_t anchorTick) {
    if (!validTerms(numerator, denominator)) {
        return false;
    }
    // Changes at or after the new anchor are replaced by it.
    const auto from = std::lower_bound(
        m_anchors.begin(), m_anchors.end(), anchorTick,
        [](const Anchor& anchor, std::uint32_t t) { return anchor.tick < t; });
    // The first anchor (tick 0) plus kMaxScaleChanges fit the room reserved at building:
    // never reallocate, a reader may be reading the array.
    if (static_cast<std::size_t>(from - m_anchors.begin()) > kMaxScaleChanges) {
        return false;
    }
    const Anchor anchor{anchorTick, numerator, denominator, sumAt(anchorTick), timeAt(anchorTick)};
    m_anchors.erase(from, m_anchors.end());
    m_anchors.push_back(anchor);
    return true;
}

bool TempoMap::restartScale(std::uint32_t numerator, std::uint32_t denominator) {
    return setScale(numerator, denominator, 0);
}

TempoMap::Scale TempoMap::scaleForTempo(std::uint32_t writtenMicrosPerQuarter,
                                        std::uint32_t beatsPerMinute) {
    if (writtenMicrosPerQuarter == 0 || beatsPerMinute == 0) {
        return {};
    }
    std::uint64_t numerator = 60'000'000;
    std::uint64_t denominator = std::uint64_t{writtenMicrosPerQuarter & 0xFFFFFF} * beatsPerMinute;
    const std::uint64_t common = std::gcd(numerator, denominator);
    numerator /= common;
    denominator /= common;
    if (numerator <= kMaxScaleTerm && denominator <= kMaxScaleTerm) {
        return {static_cast<std::uint32_t>(numerator), static_cast<std::uint32_t>(denominator)};
    }
    // The last convergent of the continued fraction whose terms fit, or the semiconvergent
    // between it and the next when that one is nearer: the best fraction within the bound.
    std::uint64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
    std::uint64_t a = numerator, b = denominator;
    while (b != 0) {
        const std::uint64_t whole = a / b;
        const std::uint64_t p2 = whole * p1 + p0;
        const std::uint64_t q2 = whole * q1 + q0;
        if (p2 > kMaxScaleTerm || q2 > kMaxScaleTerm) {
            const std::uint64_t byP = p1 == 0 ? whole : (kMaxScaleTerm - p0) / p1;
            const std::uint64_t byQ = q1 == 0 ? whole : (kMaxScaleTerm - q0) / q1;
            const std::uint64_t k = std::min(byP, byQ);
            const std::uint64_t ps = k * p1 + p0;
            const std::uint64_t qs = k * q1 + q0;
            const auto distance = [&](std::uint64_t p, std::uint64_t q) -> long double {
                return std::abs(static_cast<long double>(numerator) / denominator -
                                static_cast<long double>(p) / q);
            };
            if (qs != 0 && ps != 0 && distance(ps, qs) < distance(p1, q1)) {
                p1 = ps;
                q1 = qs;
            }
            break;
        }
        p0 = p1;
        q0 = q1;
        p1 = p2;
        q1 = q2;
        const std::uint64_t rest = a % b;
        a = b;
        b = rest;
    }
    if (p1 == 0 || q1 == 0) {
        // Beyond what a bounded fraction can reach: the nearest extreme.
        return numerator > denominator ? Scale{kMaxScaleTerm, 1} : Scale{1, kMaxScaleTerm};
    }
    return {static_cast<std::uint32_t>(p1), static_cast<std::uint32_t>(q1)};
}

int TempoMap::shownTempoAt(std::uint32_t tick) const {
    return static_cast<int>(tempoAt(tick).beatsPerMinute + 0.5);
}

std::optional<TempoMap::Scale> TempoMap::scaleForStep(std::uint32_t tick, int steps) const {
    const std::int64_t wanted = std::int64_t{shownTempoAt(tick)} + steps;
    if (wanted < 1 || wanted > 0xFFFF) {
        return std::nullopt;
    }
    const Scale scale = scaleForTempoAt(tick, static_cast<std::uint32_t>(wanted));
    // numerator / denominator within [1/4, 4].
    if (std::uint64_t{scale.numerator} > 4ull * scale.denominator ||
        4ull * scale.numerator < std::uint64_t{scale.denominator}) {
        return std::nullopt;
    }
    return scale;
}

}  // namespace pulsant
