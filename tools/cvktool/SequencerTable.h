#pragma once

#include <string>
#include <variant>

#include "pulsant/binding.h"

namespace cvktool {

// The sequencer's exported functions, bound by name at run time. A table handed out by
// loadSequencer() has every entry set, so no caller ever has to test one.
using SequencerTable = pulsant::Entries;

constexpr const char* kSequencerLibrary = "libpulsant.so";

// Loads the library from the program's own folder and binds all its names. On failure: a
// message naming the library and what is wrong with it; the library is not kept loaded.
std::variant<SequencerTable, std::string> loadSequencer(
    const std::string& fileName = kSequencerLibrary);

}  // namespace cvktool
