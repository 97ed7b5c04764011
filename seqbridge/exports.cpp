// The bridge's exports. Each passes its call on to the outside sequencer and returns its
// answer unchanged. The outside sequencer knows windows by 16-bit handles, so a window
// goes on as its low 16 bits; every other argument goes on as it came. Every export runs
// on the caller's thread, catches everything, and without the entry it needs answers as
// a sequencer with nothing to play would.

#include "connection.h"
#include "pulsbrdg/pulsbrdg.h"

using pulsbrdg::puls16;

extern "C" __attribute__((visibility("default"))) const PulsThunkData thk_ThunkData32 =
    kPulsThunkData;

namespace {

std::uint32_t window16(PulsantWindow window) {
    return window & 0xFFFF;
}

template <typename Result, typename... Params, typename... Args>
Result forwardOr(Result fallback, Result (*entry)(Params...), Args... args) noexcept {
    try {
        return entry != nullptr ? entry(args...) : fallback;
    } catch (...) {
        return fallback;
    }
}

template <typename... Params, typename... Args>
void forward(void (*entry)(Params...), Args... args) noexcept {
    try {
        if (entry != nullptr) {
            entry(args...);
        }
    } catch (...) {
    }
}

// CallGetLyricCounterDLL's answer when it has no position to give.
constexpr std::uint32_t kNoNewValue = 0xFFFFFFFF;

}  // namespace

// Probes the MIDI output named in the settings file. 1 when it can be opened, 0 when not.
int32_t CallInitMIDIOut(PulsantWindow window, const char* settingsPath) {
    return forwardOr(0, puls16().CallInitMIDIOut, window16(window), settingsPath);
}

// Starts the song in `fileName`. Low byte 1 when it started, with the division written.
int32_t CallStartSong(const char* fileName, PulsantWindow window, uint16_t* divisionOut,
                      int32_t key, const int16_t* volumes, const uint16_t* instruments,
                      int32_t tempo, const char* settingsPath) {
    return forwardOr(0, puls16().CallStartSong, fileName, window16(window), divisionOut, key,
                     volumes, instruments, tempo, settingsPath);
}

// Stops the song and closes the device; any state.
void CallStopSong(PulsantWindow window) {
    forward(puls16().CallStopSong, window16(window));
}

// Pauses a playing song, or resumes a paused one.
void CallPauseSong(PulsantWindow window) {
    forward(puls16().CallPauseSong, window16(window));
}

// Moves a tenth of the song back.
void CallRewind(PulsantWindow window) {
    forward(puls16().CallRewind, window16(window));
}

// Moves a tenth of the song forward; within the last tenth the song stops.
void CallFastForward(PulsantWindow window) {
    forward(puls16().CallFastForward, window16(window));
}

// Resets and closes the output device if one is held.
void CallCloseMIDIOut(PulsantWindow window) {
    forward(puls16().CallCloseMIDIOut, window16(window));
}

// The tempo being played, in beats per minute; 0 without a sequencer.
int32_t CallGetTempo(PulsantWindow window) {
    return forwardOr(0, puls16().CallGetTempo, window16(window));
}

// Sets the tempo in beats per minute.
void CallChangeTempo(PulsantWindow window, int32_t tempo) {
    forward(puls16().CallChangeTempo, window16(window), tempo);
}

// Transposes every channel but the drums by `semitones`.
void CallSetTransposition(PulsantWindow window, int32_t semitones) {
    forward(puls16().CallSetTransposition, window16(window), semitones);
}

// Sets the 64 per-track velocity offsets.
void CallSetVolumeDLL(PulsantWindow window, const int16_t* volumes) {
    forward(puls16().CallSetVolumeDLL, window16(window), volumes);
}

// Copies the 64 per-track activity levels into `levels`.
void CallCheckActivity(PulsantWindow window, uint16_t* levels) {
    forward(puls16().CallCheckActivity, window16(window), levels);
}

// The elapsed time. 1 with both written while a song plays; 0 when none plays or it ended.
int32_t CallGetTime(PulsantWindow window, int32_t* minutes, int32_t* seconds) {
    return forwardOr(0, puls16().CallGetTime, window16(window), minutes, seconds);
}

// The song position in ticks; 0xFFFFFFFF when there is no new value.
uint32_t CallGetLyricCounterDLL(PulsantWindow window) {
    return forwardOr(kNoNewValue, puls16().CallGetLyricCounterDLL, window16(window));
}

// Restarts the song at `position` ticks.
void CallRewindToRepeat(PulsantWindow window, uint32_t position) {
    forward(puls16().CallRewindToRepeat, window16(window), position);
}

// Hands the outside sequencer a patch set.
void CallSetPatchDLL(PulsantWindow window, const void* patch) {
    forward(puls16().CallSetPatchDLL, window16(window), patch);
}

// Gives track `slot` the instrument `program`, sent on `channel`. No window: all three
// arguments go on whole.
void CallChangeInstrumentDLL(int32_t slot, int32_t channel, int32_t program) {
    forward(puls16().CallChangeInstrumentDLL, slot, channel, program);
}

// Drops an instrument change the outside sequencer has not sent yet.
void CallClearInstrumentChangeBuffer() {
    forward(puls16().CallClearInstrumentChangeBuffer);
}
