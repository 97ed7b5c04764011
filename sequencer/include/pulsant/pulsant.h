#pragma once

// The sequencer's exported interface: one song, one MIDI output, module-wide state.
// Flat C functions with 32-bit arguments and results, loaded by name from libpulsant.so.

#include <stdint.h>

#include "platform/messages.h"

#define PULSANT_API extern "C" __attribute__((visibility("default")))

using PulsantWindow = platform::WindowHandle;

PULSANT_API int32_t CallInitMIDIOut(PulsantWindow window, const char* settingsPath);
PULSANT_API void CallCloseMIDIOut(PulsantWindow window);
PULSANT_API int32_t CallStartSong(const char* fileName, PulsantWindow window, uint16_t* divisionOut,
                                  int32_t key, const int16_t* volumes, const uint16_t* instruments,
                                  int32_t tempo, const char* settingsPath);
PULSANT_API void CallStopSong(PulsantWindow window);
PULSANT_API void CallPauseSong(PulsantWindow window);
PULSANT_API void CallRewind(PulsantWindow window);
PULSANT_API void CallFastForward(PulsantWindow window);
PULSANT_API void CallRewindToRepeat(PulsantWindow window, uint32_t position);
PULSANT_API void CallChangeTempo(PulsantWindow window, int32_t tempo);
PULSANT_API int32_t CallGetTempo(PulsantWindow window);
PULSANT_API void CallSetTransposition(PulsantWindow window, int32_t semitones);
PULSANT_API void CallSetVolumeDLL(PulsantWindow window, const int16_t* volumes);
PULSANT_API void CallChangeInstrumentDLL(int32_t slot, int32_t channel, int32_t program);
PULSANT_API int32_t CallGetTime(PulsantWindow window, int32_t* minutes, int32_t* seconds);
PULSANT_API void CallCheckActivity(PulsantWindow window, uint16_t* levels);
PULSANT_API uint32_t CallGetLyricCounterDLL(PulsantWindow window);
PULSANT_API uint32_t CallGetPreciseLyricCounterDLL(PulsantWindow window);

// Pointer types for callers that bind the names at run time.
namespace pulsant {
using InitMIDIOutFn = decltype(&CallInitMIDIOut);
using CloseMIDIOutFn = decltype(&CallCloseMIDIOut);
using StartSongFn = decltype(&CallStartSong);
using StopSongFn = decltype(&CallStopSong);
using PauseSongFn = decltype(&CallPauseSong);
using RewindFn = decltype(&CallRewind);
using FastForwardFn = decltype(&CallFastForward);
using RewindToRepeatFn = decltype(&CallRewindToRepeat);
using ChangeTempoFn = decltype(&CallChangeTempo);
using GetTempoFn = decltype(&CallGetTempo);
using SetTranspositionFn = decltype(&CallSetTransposition);
using SetVolumeFn = decltype(&CallSetVolumeDLL);
using ChangeInstrumentFn = decltype(&CallChangeInstrumentDLL);
using GetTimeFn = decltype(&CallGetTime);
using CheckActivityFn = decltype(&CallCheckActivity);
using GetLyricCounterFn = decltype(&CallGetLyricCounterDLL);
using GetPreciseLyricCounterFn = decltype(&CallGetPreciseLyricCounterDLL);
}  // namespace pulsant
