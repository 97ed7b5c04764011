#pragma once

// The sequencer's exported interface: one song, one MIDI output, module-wide state.
// Flat C functions with 32-bit arguments and results, loaded by name from libpulsant.so.
// The names and their signatures are listed once, in exports.h.

#include "pulsant/exports.h"

#define PULSANT_API extern "C" __attribute__((visibility("default")))

#define PULSANT_DECLARE(name, result, parameters) PULSANT_API result name parameters;
PULSANT_EXPORTS(PULSANT_DECLARE)
#undef PULSANT_DECLARE
