// A stand-in sequencer library that exports only the first of the names.
#include "pulsant/pulsant.h"

int32_t CallInitMIDIOut(PulsantWindow, const char*) {
    return 1;
}
