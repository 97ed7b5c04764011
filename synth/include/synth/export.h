#pragma once

// Symbols of the built-in synthesizer's library, which is shared so that one process has
// one synthesizer engine and one SoundFont choice.
#define CVK_SYNTH_API __attribute__((visibility("default")))
