#pragma once

// The sequencer library, loaded by name from the program's folder and bound into a table
// of function pointers through which the window makes every sequencer call.

#include <string>

#include "pulsant/binding.h"

namespace cvkapp {

struct SequencerTable : pulsant::Entries {
    // Every one of the sixteen entries the window calls is bound.
    bool complete() const { return pulsant::windowComplete(*this); }
};

// The library of this platform family: the bridge on the 9x family, the engine otherwise.
std::string sequencerLibraryName();

// Loads `fileName` from the program's folder and binds its names. Entries the library
// does not export stay empty; with no library, all do. The library handle (nullptr when
// loading failed) is returned through `library`.
SequencerTable bindSequencer(const std::string& fileName, void*& library);

}  // namespace cvkapp
