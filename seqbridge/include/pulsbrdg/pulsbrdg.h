#pragma once

// The bridge's exported interface. It has the sequencer's window names and argument lists
// (pulsant/exports.h) and passes every call on to the outside sequencer libpuls16.so,
// which exports the same names. Only the bridge and the outside sequencer have the two
// names below.

#include <stdint.h>

#include "pulsant/binding.h"

// What a side of the connection exports about itself (the bridge as thk_ThunkData32, the
// outside sequencer as thk_ThunkData16): the bridge connects only to a library built for
// the same interface.
struct PulsThunkData {
    char signature[8];
    uint32_t interfaceVersion;
};

inline constexpr PulsThunkData kPulsThunkData = {"PULSTHK", 1};

#define PULSBRDG_EXPORTS(X)                                                    \
    X(CallSetPatchDLL, void, (PulsantWindow window, const void* patch))        \
    X(CallClearInstrumentChangeBuffer, void, ())

#define PULSBRDG_DECLARE(name, result, parameters) PULSANT_API result name parameters;
PULSBRDG_EXPORTS(PULSBRDG_DECLARE)
#undef PULSBRDG_DECLARE
