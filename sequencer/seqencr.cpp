// The exported interface of the sequencer. Every function runs on the caller's thread,
// catches everything and returns its documented result.

#include <cstring>

#include "engine.h"
#include "platform/dialogs.h"
#include "platform/mm_timer.h"
#include "platform/profile.h"
#include "pulsant/instrument_buffer.h"
#include "pulsant/pulsant.h"

namespace pulsant {
namespace {

constexpr std::uint32_t kTimerPeriodMs = 1;

// Picks the output device named in the settings; the default device when the name is
// empty, matches nothing, or there is nothing to choose from.
void chooseDevice(const char* settingsPath) {
    Engine& e = engine();
    const std::string name =
        settingsPath != nullptr
            ? platform::profileGetString("Selected midi device", "Device name", "", settingsPath)
            : std::string();
    e.deviceId = name.empty() || platform::midiOutDeviceCount() <= 1 ? platform::kMidiMapper
                                                                    : platform::midiOutDeviceNamed(name);
}

// Opens the chosen device; on failure tells the user why and returns false.
bool openDevice() {
    Engine& e = engine();
    platform::MidiOutHandle handle = 0;
    const platform::MidiError error = platform::midiOutOpen(&handle, e.deviceId);
    if (error != platform::MidiError::Ok) {
        std::string text = platform::midiOutErrorText(error);
        if (text.size() > 249) {
            text.resize(249);
        }
        platform::showMessageBox(text, "Error", platform::MessageButtons::Ok,
                                 platform::MessageIcon::Error);
        return false;
    }
    e.midiOut = handle;
    return true;
}

void closeDevice() {
    // Forgotten once closed, so a closed device is never reset or closed twice.
    const platform::MidiOutHandle handle = engine().midiOut.exchange(0);
    if (handle > 0) {
        platform::midiOutReset(handle);
        platform::midiOutClose(handle);
    }
}

void applyTransposition(std::int8_t semitones) {
    Engine& e = engine();
    for (int channel = 0; channel < 16; ++channel) {
        if (channel != kDrumChannel) {
            e.transposeTable[channel] = semitones;
        }
    }
    if (e.playing.load()) {
        ControlSection section;
        e.transposing = true;
        SilenceOutput();
        e.transposing = false;
    }
    e.transposition = semitones;
}

void changeTempo(std::int32_t tempo) {
    Engine& e = engine();
    const std::int64_t perMinute = std::int64_t{e.fileDivision.load()} * tempo;
    e.ticksPerSecond = perMinute <= 0 ? 0u
                                      : static_cast<std::uint32_t>(RoundHalfEven(
                                            static_cast<std::uint64_t>(perMinute), 60));
    SetTempo(tempo);
}

void copyVolumes(const std::int16_t* volumes) {
    Engine& e = engine();
    for (int n = 0; n < kSlotCount; ++n) {
        e.velocityOffset[n] = volumes[n];
    }
}

void stopTimer() {
    Engine& e = engine();
    const std::uint32_t id = e.timerId.exchange(0);
    if (id != 0 && id != kTimerStarting) {
        platform::timerKill(id);
    }
    if (e.periodBegun) {
        platform::timerEndPeriod(kTimerPeriodMs);
        e.periodBegun = false;
    }
}

void stopSong() {
    Engine& e = engine();
    stopTimer();
    e.mapActive = false;
    e.songPosition = 0;
    e.nextDelta = 0;
    e.countdown = 0;
    e.gap = 0;
    e.playing = false;
    SilenceOutput();
    for (TrackSlot& slot : e.slots) {
        slot = TrackSlot{};
    }
    e.tempo = kDefaultTempo;
    closeDevice();
}

// Whether a song (or its device, or its timer) is still held: what CallStopSong releases.
bool songHeld() {
    const Engine& e = engine();
    if (e.playing.load() || e.timerId.load() != 0 || e.midiOut.load() != 0) {
        return true;
    }
    for (const TrackSlot& slot : e.slots) {
        if (slot.present) {
            return true;
        }
    }
    return false;
}

// Pauses or resumes, as the Pause button does.
void togglePause() {
    Engine& e = engine();
    if (!e.playing.load() || e.songEnded.load()) {
        return;
    }
    ControlSection section;
    if (e.paused.load()) {
        e.paused = false;
        return;
    }
    for (auto& level : e.activity) {
        level = 0;
    }
    SilenceOutput();
    e.paused = true;
}

// A seek leaves the changes of ratio behind: the whole song plays at the ratio in force.
void restartMapScale() {
    Engine& e = engine();
    if (e.mapActive.load()) {
        e.tempoMap->restartScale(e.playingScale.numerator, e.playingScale.denominator);
    }
}

// Plays the song again from the start, silently up to `position` when `seek` is set, with
// the wait in progress kept; without a song playing, only rewinds.
void restartAt(std::uint32_t position, bool seek) {
    Engine& e = engine();
    if (!e.playing.load() || e.songEnded.load()) {
        ControlSection section;
        RewindToStart();
        return;
    }
    togglePause();
    {
        ControlSection section;
        restartMapScale();
        RewindToStart();
        if (seek) {
            SeekForward(position);
        }
    }
    togglePause();
}

std::uint32_t tenthOfSong() { return static_cast<std::uint32_t>(RoundHalfEven(engine().songLength, 10)); }

std::uint32_t interpolatedPosition() {
    const Engine& e = engine();
    const std::uint32_t position = e.songPosition.load();
    const std::uint32_t gap = e.gap.load();
    const std::uint32_t countdown = e.countdown.load();
    const std::uint32_t delta = e.nextDelta.load();
    // Read without synchronisation: a reload between the reads may pair a new countdown
    // with an old gap. Such a pair counts as the start of the wait.
    if (gap == 0 || countdown > gap) {
        return position;
    }
    return position + static_cast<std::uint32_t>(
                          RoundHalfEven(std::uint64_t{delta} * (gap - countdown), gap));
}

// Plays the map at `scale` from the events dispatched last on, re-anchored at the tick
// where the song is now so that nothing already played moves, and reloads the wait in
// progress for what the next events' time has become. Caller's thread, in a section.
void rescaleMapNow(TempoMap::Scale scale) {
    Engine& e = engine();
    TempoMap& map = *e.tempoMap;
    const std::uint32_t at = DispatchedTick();
    const std::uint32_t gap = e.gap.load();
    const std::uint32_t countdown = e.countdown.load();
    const std::uint32_t waited = gap != 0 && countdown <= gap ? gap - countdown : 0;
    const std::uint64_t now = MapPeriod(map, at) + waited;
    const std::uint32_t delta = e.nextDelta.load();
    const std::uint64_t next = delta == kNoEvent ? at : std::uint64_t{at} + delta;
    const std::uint32_t nextTick = next > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(next);
    // The last tick already past, kept before the next events.
    std::uint32_t anchor = map.tickAt(now * 1000);
    anchor = anchor < at ? at : (anchor >= nextTick && nextTick > at ? nextTick - 1 : anchor);
    if (!map.setScale(scale.numerator, scale.denominator, anchor)) {
        // Every room for changes used: the whole song at the new ratio, timed from here.
        map.restartScale(scale.numerator, scale.denominator);
    }
    e.playingScale = scale;
    if (delta == kNoEvent || countdown == 0) {
        return;
    }
    const std::uint64_t from = MapPeriod(map, at) + waited;
    const std::uint64_t due = MapPeriod(map, nextTick);
    const std::uint64_t left = due > from ? due - from : 1;
    const auto wait = static_cast<std::uint32_t>(left > 0xFFFFFFFFu - waited ? 0xFFFFFFFFu - waited : left);
    e.countdown = wait;
    e.gap = waited + wait;
}

bool validScale(TempoMap::Scale scale) {
    return scale.numerator != 0 && scale.denominator != 0 && scale.numerator <= TempoMap::kMaxScaleTerm &&
           scale.denominator <= TempoMap::kMaxScaleTerm;
}

}  // namespace

std::uint16_t StartLoadedSong(std::int32_t key, const std::int16_t* volumes,
                              const std::uint16_t* instruments, std::int32_t tempo) {
    Engine& e = engine();
    e.tempo = static_cast<std::int32_t>(e.fileTempo);
    e.transposition = 0;
    const std::uint16_t division = e.fileDivision.load();
    e.ticksPerSecond = static_cast<std::uint32_t>(std::uint64_t{e.fileTempo} * division / 60);
    // What the caller's displays show is what plays.
    applyTransposition(static_cast<std::int8_t>(key & 0xFF));
    if (tempo != 0 && tempo != e.tempo.load()) {
        changeTempo(tempo);
    }
    for (int n = 0; n < kSlotCount; ++n) {
        TrackSlot& slot = e.slots[n];
        slot.active = slot.present;
        slot.position = 0;
        slot.pendingDelta = 0;
        slot.soundingNotes = {};
        e.velocityOffset[n] = 0;
        e.activity[n] = 0;
    }
    e.songPosition = 0;
    e.paused = false;
    e.playing = true;
    e.nextDelta = 0;
    e.elapsed = 0;

    // The track volumes and instruments apply from the first note, tick 0 included.
    if (volumes != nullptr) {
        copyVolumes(volumes);
    }
    if (instruments != nullptr) {
        for (int n = 0; n < kSlotCount; ++n) {
            ApplyProgramOverride(n, static_cast<std::uint8_t>(instruments[n] & 0xFF));
        }
    }
    e.songEnded = false;

    // With the mode on, the song's own tempo map times every wait (the tempo argument
    // has no say then: the ratio was given with the mode).
    e.tempoMap = TempoMap::build(e.tempoEvents, division);
    e.mapActive = e.followTempo.load() && e.tempoMap.has_value();
    if (e.mapActive.load()) {
        e.playingScale = e.followScale;
        e.tempoMap->restartScale(e.playingScale.numerator, e.playingScale.denominator);
    }

    ResetWaitClock();
    ScheduleAndReload();
    return division;
}

}  // namespace pulsant

using namespace pulsant;

// Probes the MIDI output named in the settings file: opens and closes it again.
// Caller's thread, no song playing. 1 when the device can be opened, 0 when not.
int32_t CallInitMIDIOut(PulsantWindow, const char* settingsPath) {
    try {
        Engine& e = engine();
        // The probe opens the device a song would be playing on, and clears the slots the
        // timer reads: a song still playing is stopped first.
        if (songHeld()) {
            stopSong();
        }
        chooseDevice(settingsPath);
        if (!openDevice()) {
            return 0;
        }
        for (TrackSlot& slot : e.slots) {
            slot = TrackSlot{};
        }
        for (int n = 0; n < 16; ++n) {
            e.velocityOffset[n] = 0;
        }
        applyTransposition(e.transposition.load());
        SetTempo(e.tempo.load());
        closeDevice();
        return 1;
    } catch (...) {
        return 0;
    }
}

// Resets and closes the output device if one is held. Caller's thread.
void CallCloseMIDIOut(PulsantWindow) {
    try {
        closeDevice();
    } catch (...) {
    }
}

// Opens the device, loads the song and starts playing it at `key` semitones and, unless
// `tempo` is 0, at `tempo` beats per minute. Caller's thread, no song playing.
// Low byte 1 when the song started (a file that could not be read plays as an empty
// song), 0 when the device could not be opened.
int32_t CallStartSong(const char* fileName, PulsantWindow window, uint16_t* divisionOut,
                      int32_t key, const int16_t* volumes, const uint16_t* instruments,
                      int32_t tempo, const char* settingsPath) {
    try {
        Engine& e = engine();
        // A song still playing gives back its timer, its tracks and its device first;
        // otherwise its device would stay claimed and the new open fail.
        if (songHeld()) {
            stopSong();
        }
        chooseDevice(settingsPath);
        e.callbackWindow = window;
        if (!openDevice()) {
            return 0;
        }
        LoadSong(fileName);
        // The device loads every instrument the song can select now, before the first
        // note: a load when the program change comes would stall the sound.
        platform::midiOutPreparePrograms(e.midiOut.load(), SongPrograms(instruments));

        const std::uint16_t division = StartLoadedSong(key, volumes, instruments, tempo);
        // The events at tick 0 went out just now: the song's time runs from here.
        const std::uint64_t songStart = platform::clockMicros();
        if (divisionOut != nullptr) {
            *divisionOut = division;
        }
        platform::timerBeginPeriod(kTimerPeriodMs);
        e.periodBegun = true;

        e.timerId = kTimerStarting;
        const std::uint32_t id =
            platform::timerStart(kTimerPeriodMs, &TimerRoutine, nullptr, songStart);
        if (id == 0) {
            // Without a clock the song cannot play: say so, and release what it holds.
            stopSong();
            return 0;
        }
        std::uint32_t expected = kTimerStarting;
        e.timerId.compare_exchange_strong(expected, id);
        return 1;
    } catch (...) {
        return 0;
    }
}

// Stops the song, silences the output, releases the song and closes the device.
// Caller's thread, any state.
void CallStopSong(PulsantWindow) {
    try {
        stopSong();
    } catch (...) {
    }
}

// Pauses a playing song, or resumes a paused one. Caller's thread.
void CallPauseSong(PulsantWindow) {
    try {
        togglePause();
    } catch (...) {
    }
}

// Moves a tenth of the song back (to the start within the first tenth). Caller's thread,
// song playing and not paused.
void CallRewind(PulsantWindow) {
    try {
        const std::uint32_t back = tenthOfSong();
        const std::uint32_t from = engine().songPosition.load();
        restartAt(back < from ? from - back : 0, back < from);
    } catch (...) {
    }
}

// Moves a tenth of the song forward; within the last tenth the song stops. Caller's
// thread, song playing and not paused.
void CallFastForward(PulsantWindow) {
    try {
        Engine& e = engine();
        if (!e.playing.load() || e.songEnded.load()) {
            return;
        }
        const std::uint32_t step = tenthOfSong();
        if (std::uint64_t{e.songPosition.load()} + step < e.songLength) {
            togglePause();
            {
                ControlSection section;
                restartMapScale();
                SeekForward(step);
            }
            togglePause();
        } else {
            stopSong();
        }
    } catch (...) {
    }
}

// Restarts the song at `position` ticks. Caller's thread.
void CallRewindToRepeat(PulsantWindow, uint32_t position) {
    try {
        restartAt(position, true);
    } catch (...) {
    }
}

// Sets the tempo in beats per minute (played within 40..240) from the next wait on.
// Caller's thread, any state.
void CallChangeTempo(PulsantWindow, int32_t tempo) {
    try {
        changeTempo(tempo);
    } catch (...) {
    }
}

// The tempo being played, in beats per minute. Caller's thread.
// On the tempo map: the tempo in effect where the song is, as it plays, rounded.
int32_t CallGetTempo(PulsantWindow) {
    Engine& e = engine();
    if (e.mapActive.load() && e.playing.load()) {
        const double bpm = e.tempoMap->tempoAt(e.songPosition.load()).beatsPerMinute;
        return static_cast<int32_t>(bpm + 0.5);
    }
    return e.tempo.load();
}

// Transposes every channel but the drums by `semitones` (low byte, signed); sounding
// notes are cut. Caller's thread, any state.
void CallSetTransposition(PulsantWindow, int32_t semitones) {
    try {
        applyTransposition(static_cast<std::int8_t>(semitones & 0xFF));
    } catch (...) {
    }
}

// Sets the 64 per-track velocity offsets, used from the next note on. Caller's thread.
void CallSetVolumeDLL(PulsantWindow, const int16_t* volumes) {
    try {
        if (volumes != nullptr) {
            copyVolumes(volumes);
        }
    } catch (...) {
    }
}

// Gives track `slot` the instrument `program` now and after every rewind; the program
// change is sent on `channel` at the next timer tick. Caller's thread, song playing.
void CallChangeInstrumentDLL(int32_t slot, int32_t channel, int32_t program) {
    try {
        Engine& e = engine();
        if (!e.playing.load()) {
            return;
        }
        ApplyProgramOverride(slot, static_cast<std::uint8_t>(program & 0xFF));
        e.pendingChannel = static_cast<std::uint8_t>(channel & 0xFF);
        e.pendingProgram = static_cast<std::uint8_t>(program & 0xFF);
        e.pendingProgramChange = true;
    } catch (...) {
    }
}

namespace pulsant {

void clearPendingInstrumentChange() {
    engine().pendingProgramChange = false;
}

}  // namespace pulsant

// The song's elapsed time at the current tempo (on the tempo map: its time on the map).
// Caller's thread, never blocks.
// 1 with the time written while a song plays (or is paused); 0 once it has ended or
// when none plays.
int32_t CallGetTime(PulsantWindow, int32_t* minutes, int32_t* seconds) {
    try {
        Engine& e = engine();
        if (!e.playing.load() || e.songEnded.load()) {
            return 0;
        }
        const std::uint32_t perSecond = e.ticksPerSecond.load();
        // Without a division the song has no time: it shows 0:00.
        std::uint32_t total =
            perSecond == 0 ? 0u
                           : static_cast<std::uint16_t>(RoundHalfEven(e.songPosition.load(), perSecond));
        if (e.mapActive.load()) {
            total = static_cast<std::uint32_t>(
                RoundHalfEven(e.tempoMap->timeAt(e.songPosition.load()), 1'000'000));
        }
        if (minutes != nullptr) {
            *minutes = static_cast<int32_t>(total / 60);
        }
        if (seconds != nullptr) {
            *seconds = static_cast<int32_t>(total % 60);
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

// Copies the 64 per-track note activity levels. Caller's thread, never blocks.
void CallCheckActivity(PulsantWindow, uint16_t* levels) {
    if (levels == nullptr) {
        return;
    }
    for (int n = 0; n < kSlotCount; ++n) {
        levels[n] = engine().activity[n].load();
    }
}

// The song position in ticks, interpolated within the wait in progress. Caller's
// thread, never blocks.
uint32_t CallGetLyricCounterDLL(PulsantWindow) { return interpolatedPosition(); }

// The same position, computed the same way.
uint32_t CallGetPreciseLyricCounterDLL(PulsantWindow) { return interpolatedPosition(); }

// Chooses whether the next song started follows its own tempo map, and the ratio it plays
// the map at (numerator / denominator scales every quarter note's length). While a song
// plays on its map, a new ratio takes effect at once, re-anchored where the song is.
// 1 when taken; 0 for a ratio whose terms are 0 or too large (nothing changes).
int32_t CallFollowTempoMapDLL(PulsantWindow, int32_t follow, uint32_t numerator, uint32_t denominator) {
    try {
        const TempoMap::Scale scale{numerator, denominator};
        if (!validScale(scale)) {
            return 0;
        }
        Engine& e = engine();
        e.followTempo = follow != 0;
        e.followScale = scale;
        if (e.mapActive.load() && e.playing.load() && follow != 0) {
            ControlSection section;
            rescaleMapNow(scale);
        }
        return 1;
    } catch (...) {
        return 0;
    }
}
