#pragma once

// The sequencer library, loaded by name from the program's folder and bound into a table
// of function pointers through which the window makes every sequencer call.

#include <string>

#include "pulsant/pulsant.h"

namespace cvkapp {

struct SequencerTable {
    pulsant::InitMIDIOutFn CallInitMIDIOut = nullptr;
    pulsant::StartSongFn CallStartSong = nullptr;
    pulsant::StopSongFn CallStopSong = nullptr;
    pulsant::PauseSongFn CallPauseSong = nullptr;
    pulsant::RewindFn CallRewind = nullptr;
    pulsant::FastForwardFn CallFastForward = nullptr;
    pulsant::GetTimeFn CallGetTime = nullptr;
    pulsant::ChangeTempoFn CallChangeTempo = nullptr;
    pulsant::GetTempoFn CallGetTempo = nullptr;
    pulsant::CloseMIDIOutFn CallCloseMIDIOut = nullptr;
    pulsant::CheckActivityFn CallCheckActivity = nullptr;
    pulsant::SetTranspositionFn CallSetTransposition = nullptr;
    pulsant::SetVolumeFn CallSetVolumeDLL = nullptr;
    pulsant::GetLyricCounterFn CallGetLyricCounterDLL = nullptr;
    pulsant::ChangeInstrumentFn CallChangeInstrumentDLL = nullptr;
    pulsant::RewindToRepeatFn CallRewindToRepeat = nullptr;

    // Every one of the sixteen entries is bound.
    bool complete() const;
};

// The library of this platform family: the bridge on the 9x family, the engine otherwise.
std::string sequencerLibraryName();

// Loads `fileName` from the program's folder and binds the sixteen names in table order.
// Entries the library does not export stay empty; with no library, all do. The library
// handle (nullptr when loading failed) is returned through `library`.
SequencerTable bindSequencer(const std::string& fileName, void*& library);

}  // namespace cvkapp
