#pragma once

// The 64 per-track velocity offsets the sequencer adds to every note, built from the
// master volume and each track's mix.

#include <array>
#include <cstdint>

namespace cvkapp {

constexpr int kTrackCount = 64;

struct TTrackMix {
    bool Solo = false;
    bool Mute = false;
    std::int32_t VolumeOffset = 0;  // the track's slider, -32..31
};

using TrackMixTable = std::array<TTrackMix, kTrackCount>;
using VelocityTable = std::array<std::int16_t, kTrackCount>;

// The master volume 50..150 as a velocity offset: 1.28 per step, rounded to nearest
// (halves to even), -64 at 50, 0 at 100, 64 at 150.
int masterVelocityOffset(int masterVolume);

// With a solo in force only the soloed track sounds; otherwise muted tracks are silenced
// (-128) and every other track gets the master offset plus twice its own.
VelocityTable buildVolumeTable(int masterVolume, const TrackMixTable& mix);

// What a saved song has burnt in: the master offset plus twice each track's own, whatever
// the mute and solo buttons say.
VelocityTable savedVelocities(int masterVolume, const TrackMixTable& mix);

// The lit LEDs of a track's activity meter for the sequencer's activity count: an eighth
// of the count, rounded up to an even number, so LEDs light in pairs. The count is read as
// signed; a negative one lights nothing. The meter itself stops at 19.
int activityLevel(std::uint16_t count);

}  // namespace cvkapp
