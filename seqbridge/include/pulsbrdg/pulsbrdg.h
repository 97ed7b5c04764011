#pragma once

// The bridge's exported interface. It has the sequencer's names and argument lists
// (pulsant/pulsant.h, all but CallGetPreciseLyricCounterDLL) and passes every call on to
// the outside sequencer libpuls16.so, which exports the same names. Only the bridge and
// the outside sequencer have the two names below.

#include <stdint.h>

#include "pulsant/pulsant.h"

// What a side of the connection exports about itself (the bridge as thk_ThunkData32, the
// outside sequencer as thk_ThunkData16): the bridge connects only to a library built for
// the same interface.
struct PulsThunkData {
    char signature[8];
    uint32_t interfaceVersion;
};

inline constexpr PulsThunkData kPulsThunkData = {"PULSTHK", 1};

PULSANT_API void CallSetPatchDLL(PulsantWindow window, const void* patch);
PULSANT_API void CallClearInstrumentChangeBuffer();

namespace pulsbrdg {
using SetPatchFn = decltype(&CallSetPatchDLL);
using ClearInstrumentChangeBufferFn = decltype(&CallClearInstrumentChangeBuffer);
}  // namespace pulsbrdg
