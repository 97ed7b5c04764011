#pragma once

#include <span>
#include <string_view>

namespace cvktool {

// `cvktool record OUT.wav [--seconds N] [--buffer BYTES] [--no-monitor] [--echo MS]
// [--device K] [--virtual-clock]`: records the microphone at 22050 Hz, 16-bit mono into OUT,
// with the singer hearing themselves (and the echo) through the speakers unless
// --no-monitor; until N seconds (decimals allowed) have passed, Ctrl-C, or the library
// stops the take (a full disk, a failed write or stream: status 1). --device K records
// from the mixer's recording source K (see `cvktool mixer list`). OUT is checked, and
// locked against a second recorder, before anything is recorded.
int runRecord(std::span<const std::string_view> args);

// `cvktool playwave FILE [--offset UNITS] [--echo MS] [--virtual-clock]`: plays a wave file
// to its end (Ctrl-C stops; a failed stream ends it with status 1) with the alignment
// offset the player uses: UNITS > 0 skips that many seconds of the voice, UNITS < 0
// starts it that much later.
// Keys: Space pauses, Left/Right seek 5 s, q quits.
int runPlayWave(std::span<const std::string_view> args);

// `cvktool mix A.wav B.wav OUT.wav`: mixes two 16-bit mono takes into OUT (MixTakes.cpp),
// saying why when the library refuses; a stop signal removes the half-made output.
int runMix(std::span<const std::string_view> args);

// All three: 0 on success, 1 when the audio or the files failed, 2 on a usage error.

}  // namespace cvktool
