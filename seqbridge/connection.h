#pragma once

// The bridge's connection to the outside sequencer libpuls16.so: made when the bridge is
// loaded (its attach entry), held until the bridge is unloaded.

#include "pulsbrdg/pulsbrdg.h"

namespace pulsbrdg {

constexpr const char* kOutsideSequencer = "libpuls16.so";

// The outside sequencer's entries. One it does not export stays empty.
struct Puls16Entries : pulsant::Entries {
    PULSBRDG_EXPORTS(PULSANT_ENTRY)
};

// Loads the outside sequencer from the program's folder and binds its entries; a bridge
// already connected keeps its connection. Loading thread. False, after telling the user,
// when the outside sequencer is missing or was not built for this interface.
bool connectPuls16();

// The entries of the connection; all empty while not connected. Caller's thread.
const Puls16Entries& puls16();

}  // namespace pulsbrdg
