#pragma once

// What an outside sequencer built from this engine adds to its exports.

namespace pulsant {

// Drops the program change CallChangeInstrumentDLL handed to the timer routine if the
// routine has not sent it yet. Caller's thread.
void clearPendingInstrumentChange();

}  // namespace pulsant
