#pragma once

#include <string>
#include <variant>

#include "pulsant/pulsant.h"

namespace cvktool {

// The sequencer's exported functions, bound by name at run time. A table handed out by
// loadSequencer() has every entry set, so no caller ever has to test one.
struct SequencerTable {
    pulsant::InitMIDIOutFn initMidiOut = nullptr;
    pulsant::CloseMIDIOutFn closeMidiOut = nullptr;
    pulsant::StartSongFn startSong = nullptr;
    pulsant::StopSongFn stopSong = nullptr;
    pulsant::PauseSongFn pauseSong = nullptr;
    pulsant::RewindFn rewind = nullptr;
    pulsant::FastForwardFn fastForward = nullptr;
    pulsant::RewindToRepeatFn rewindToRepeat = nullptr;
    pulsant::ChangeTempoFn changeTempo = nullptr;
    pulsant::GetTempoFn getTempo = nullptr;
    pulsant::SetTranspositionFn setTransposition = nullptr;
    pulsant::SetVolumeFn setVolume = nullptr;
    pulsant::ChangeInstrumentFn changeInstrument = nullptr;
    pulsant::GetTimeFn getTime = nullptr;
    pulsant::CheckActivityFn checkActivity = nullptr;
    pulsant::GetLyricCounterFn getLyricCounter = nullptr;
    pulsant::GetPreciseLyricCounterFn getPreciseLyricCounter = nullptr;
};

constexpr const char* kSequencerLibrary = "libpulsant.so";

// Loads the library from the program's own folder and binds all seventeen names. On
// failure: a message naming the library and what is wrong with it; the library is not
// kept loaded.
std::variant<SequencerTable, std::string> loadSequencer(
    const std::string& fileName = kSequencerLibrary);

}  // namespace cvktool
