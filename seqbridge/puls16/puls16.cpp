// The outside sequencer the bridge connects to, made of the engine core whole: the
// engine's exports (seqencr.cpp), the two names only this side has, and the thunk data by
// which the bridge recognises it. puls16.map says which names leave the library.

#include "pulsant/instrument_buffer.h"
#include "pulsbrdg/pulsbrdg.h"

extern "C" __attribute__((visibility("default"))) const PulsThunkData thk_ThunkData16 =
    kPulsThunkData;

// Accepts a patch set and keeps none: this sequencer takes its instruments only from
// CallStartSong and CallChangeInstrumentDLL. Caller's thread.
void CallSetPatchDLL(PulsantWindow, const void*) {}

// Drops the program change CallChangeInstrumentDLL handed to the timer routine if the
// routine has not sent it yet; the track keeps its instrument for its own later program
// changes. Caller's thread.
void CallClearInstrumentChangeBuffer() {
    pulsant::clearPendingInstrumentChange();
}
