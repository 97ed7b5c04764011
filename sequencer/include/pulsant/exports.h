#pragma once

// Every name the sequencer exports, with its result and parameter list, in one place: the
// declarations (pulsant.h), the table the callers bind at run time (binding.h) and the
// bridge, which passes each call on, all expand these lists.
//
//   X(name, result, (parameters))

#include <stdint.h>

#include "platform/messages.h"

using PulsantWindow = platform::WindowHandle;

// The sixteen names the window binds and calls.
#define PULSANT_WINDOW_EXPORTS(X)                                                               \
    X(CallInitMIDIOut, int32_t, (PulsantWindow window, const char* settingsPath))                \
    X(CallStartSong, int32_t,                                                                    \
      (const char* fileName, PulsantWindow window, uint16_t* divisionOut, int32_t key,           \
       const int16_t* volumes, const uint16_t* instruments, int32_t tempo,                       \
       const char* settingsPath))                                                                \
    X(CallStopSong, void, (PulsantWindow window))                                                \
    X(CallPauseSong, void, (PulsantWindow window))                                               \
    X(CallRewind, void, (PulsantWindow window))                                                  \
    X(CallFastForward, void, (PulsantWindow window))                                             \
    X(CallGetTime, int32_t, (PulsantWindow window, int32_t* minutes, int32_t* seconds))          \
    X(CallChangeTempo, void, (PulsantWindow window, int32_t tempo))                              \
    X(CallGetTempo, int32_t, (PulsantWindow window))                                             \
    X(CallCloseMIDIOut, void, (PulsantWindow window))                                            \
    X(CallCheckActivity, void, (PulsantWindow window, uint16_t* levels))                         \
    X(CallSetTransposition, void, (PulsantWindow window, int32_t semitones))                     \
    X(CallSetVolumeDLL, void, (PulsantWindow window, const int16_t* volumes))                    \
    X(CallGetLyricCounterDLL, uint32_t, (PulsantWindow window))                                  \
    X(CallChangeInstrumentDLL, void, (int32_t slot, int32_t channel, int32_t program))           \
    X(CallRewindToRepeat, void, (PulsantWindow window, uint32_t position))

// Names only this engine has (the bridge's outside sequencer lacks them).
#define PULSANT_ENGINE_EXPORTS(X)                                                               \
    X(CallGetPreciseLyricCounterDLL, uint32_t, (PulsantWindow window))                           \
    X(CallFollowTempoMapDLL, int32_t,                                                            \
      (PulsantWindow window, int32_t follow, uint32_t numerator, uint32_t denominator))

#define PULSANT_EXPORTS(X) PULSANT_WINDOW_EXPORTS(X) PULSANT_ENGINE_EXPORTS(X)
