// The player: a 1 ms timer routine that counts down the wait to the next event and
// plays what is due straight from the slots' track bytes.

#include <thread>

#include "engine.h"
#include "smf/EventMeasure.h"
#include "platform/messages.h"
#include "platform/midi_out.h"
#include "platform/mm_timer.h"

namespace pulsant {
namespace {

constexpr std::uint32_t kMillisPerMinute = 60'000;
constexpr std::int16_t kActivityStep = 16;
constexpr std::int32_t kDecayPeriods = 10;
constexpr std::uint32_t kRealSkipMax = kDecayPeriods - 1;

// Scratch for the event being dispatched (routine, or caller in a section).
struct CurrentEvent {
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};
CurrentEvent current;

// Reads a delta time at the slot's position; false (and the position at the end of the
// data) when it is cut off.
bool readDelta(TrackSlot& slot, std::uint32_t& value) {
    return smf::readVarLen(slot.data, slot.length, slot.position, value);
}

void transposeCurrent() {
    const std::int8_t t = engine().transposeTable[current.status & 0x0F].load();
    if (t == 0) {
        return;
    }
    int note = current.data1 + t;
    while (note < 0) {
        note += 12;
    }
    while (note > 127) {
        note -= 12;
    }
    current.data1 = static_cast<std::uint8_t>(note);
}

void addSounding(TrackSlot& slot, std::uint8_t status, std::uint8_t note) {
    for (SoundingNote& entry : slot.soundingNotes) {
        if (entry.status == 0) {
            entry = SoundingNote{status, note};
            return;
        }
    }
}

void removeSounding(TrackSlot& slot, std::uint8_t status, std::uint8_t note) {
    for (SoundingNote& entry : slot.soundingNotes) {
        if (entry.status != 0 && entry.note == note && (entry.status & 0x0F) == (status & 0x0F)) {
            entry = SoundingNote{};
            return;
        }
    }
}

// Keeps the table of sounding notes in step with a note message. `velocity` decides
// between on and off.
void trackSounding(TrackSlot& slot, std::uint8_t velocity) {
    const std::uint8_t kind = current.status & 0xF0;
    if (kind == 0x90 && velocity != 0) {
        addSounding(slot, current.status, current.data1);
    } else if (kind == 0x80 || kind == 0x90) {
        removeSounding(slot, current.status, current.data1);
    }
}

// Sends a channel message (or song position / song select) of `size` bytes held in
// `current`, adjusting and counting note velocities on the way.
void SendEvent(int slotIndex, std::uint32_t size) {
    Engine& e = engine();
    if ((size >= 2 && (current.data1 & 0x80) != 0) || (size >= 3 && (current.data2 & 0x80) != 0)) {
        return;  // a status byte where a data byte belongs: the event is dropped
    }
    if (current.status >= 0x80 && current.status <= 0x9F) {
        if (current.data2 != 0) {
            const int v = current.data2 + e.velocityOffset[slotIndex].load();
            current.data2 = static_cast<std::uint8_t>(v <= 1 ? 0 : (v > 127 ? 127 : v));
        }
        if (e.seeking) {
            current.data2 = 0;
        }
        if (current.status >= 0x90) {
            e.activity[slotIndex].fetch_add(kActivityStep);
        }
    }
    if (size == 2) {
        SendShortMessage(current.status | (std::uint32_t{current.data1} << 8));
    } else if (size == 3) {
        SendShortMessage(current.status | (std::uint32_t{current.data1} << 8) |
                         (std::uint32_t{current.data2} << 16));
    }
}

// Plays one complete event as measured at the slot's position; the caller moves past it.
// Meta events, system exclusive, timing and undefined system bytes are never sent; song
// position and song select are.
void playEvent(int slotIndex, const smf::MidiEvent& event) {
    TrackSlot& slot = engine().slots[slotIndex];
    const std::size_t at = event.dataOffset;
    if (event.kind == smf::EventKind::System) {
        if (event.status == 0xF2 || event.status == 0xF3) {
            current = CurrentEvent{event.status, slot.data[at],
                                   event.status == 0xF2 ? slot.data[at + 1] : std::uint8_t{0}};
            SendEvent(slotIndex, event.status == 0xF2 ? 3 : 2);
        }
        return;
    }
    // A data byte before any status byte in the track has nothing to be sent with.
    if (event.kind != smf::EventKind::Channel || event.status == 0) {
        return;
    }
    const std::size_t dataBytes = smf::channelDataBytes(event.status);
    current = CurrentEvent{event.status, slot.data[at],
                           dataBytes == 2 ? slot.data[at + 1] : std::uint8_t{0}};
    const std::uint8_t kind = event.status & 0xF0;
    if (kind == 0x80 || kind == 0x90) {
        transposeCurrent();
    }
    // With its own status byte a note counts as sounding by the velocity written in the
    // song; under running status, by the velocity sent.
    if (event.hasStatusByte) {
        trackSounding(slot, current.data2);
        SendEvent(slotIndex, static_cast<std::uint32_t>(dataBytes + 1));
    } else {
        SendEvent(slotIndex, static_cast<std::uint32_t>(dataBytes + 1));
        trackSounding(slot, current.data2);
    }
}

// Lets `periods` timer periods pass for the activity levels, which fall by one every
// kDecayPeriods periods (a level above 127 first drops to 127; a raised level stays >= 1).
void passPeriods(std::uint32_t periods) {
    Engine& e = engine();
    std::uint32_t decays = 0;
    const auto untilDecay = static_cast<std::uint32_t>(e.decayCountdown);
    if (periods < untilDecay) {
        e.decayCountdown -= static_cast<std::int32_t>(periods);
    } else {
        const std::uint32_t after = periods - untilDecay;
        decays = 1 + after / kDecayPeriods;
        e.decayCountdown = kDecayPeriods - static_cast<std::int32_t>(after % kDecayPeriods);
    }
    if (decays == 0) {
        return;
    }
    for (auto& level : e.activity) {
        const std::uint16_t v = level.load();
        if (v > 1) {
            const std::uint32_t capped = v > 127 ? 127u : v;
            level.store(static_cast<std::uint16_t>(capped > decays + 1 ? capped - decays : 1));
        }
    }
}

std::uint64_t ticksPerMinute() {
    const Engine& e = engine();
    const std::int64_t tempo = e.tempo.load();
    const std::uint64_t scale =
        tempo > 0 ? static_cast<std::uint64_t>(tempo) * e.fileDivision.load() : 0;
    // A song without a division still moves, one tick a second.
    return scale != 0 ? scale : 60;
}

// On the tempo map: the periods between the events just dispatched and those `delta`
// ticks later. Each event falls in the period of its own exact time, so nothing carries.
std::uint64_t mapWaitPeriods(std::uint32_t delta) {
    const TempoMap& map = *engine().tempoMap;
    const std::uint32_t at = DispatchedTick();
    const std::uint64_t next = std::uint64_t{at} + delta;
    const std::uint32_t nextTick = next > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(next);
    return MapPeriod(map, nextTick) - MapPeriod(map, at);
}

// The number of whole periods until an event `delta` ticks ahead, carrying the part of
// a period left over into the next wait so that no error builds up over the song.
std::uint64_t waitPeriods(std::uint32_t delta) {
    Engine& e = engine();
    if (e.mapActive.load()) {
        return mapWaitPeriods(delta);
    }
    const std::uint64_t scale = ticksPerMinute();
    if (e.waitScale != scale) {
        // A tempo change since the last wait: the carried fraction keeps its time.
        e.waitRemainder = e.waitScale == 0
                              ? scale / 2
                              : static_cast<std::uint64_t>(static_cast<long double>(e.waitRemainder) *
                                                           scale / e.waitScale);
        e.waitScale = scale;
    }
    const std::uint64_t total = std::uint64_t{delta} * kMillisPerMinute + e.waitRemainder;
    e.waitRemainder = total % scale;
    return total / scale;
}

}  // namespace

Engine& engine() {
    static Engine instance;
    return instance;
}

ControlSection::ControlSection() {
    Engine& e = engine();
    e.controlHolds.fetch_add(1);
    while (e.inTick.load()) {
        std::this_thread::yield();
    }
}

ControlSection::~ControlSection() { engine().controlHolds.fetch_sub(1); }

void resetForTest() {
    Engine& e = engine();
    e.midiOut = 0;
    e.deviceId = platform::kMidiMapper;
    e.callbackWindow = 0;
    e.timerId = 0;
    e.periodBegun = false;
    e.playing = false;
    e.paused = false;
    e.transposing = false;
    e.songEnded = true;
    e.seeking = false;
    e.tempo = kDefaultTempo;
    e.fileDivision = 0;
    e.ticksPerSecond = 1;
    e.songLength = 0;
    e.songPosition = 0;
    e.nextDelta = 0;
    e.elapsed = 0;
    e.countdown = 0;
    e.gap = 0;
    e.waitRemainder = 0;
    e.waitScale = 0;
    e.transposition = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        e.transposeTable[i] = 0;
        e.velocityOffset[i] = 0;
        e.activity[i] = 0;
        e.slots[i] = TrackSlot{};
    }
    e.decayCountdown = kDecayPeriods;
    e.pendingChannel = 0;
    e.pendingProgram = 0;
    e.pendingProgramChange = false;
    e.fileTempo = kDefaultTempo;
    e.tempoEvents.clear();
    e.followTempo = false;
    e.followScale = {};
    e.tempoMap.reset();
    e.mapActive = false;
    e.playingScale = {};
    e.seekBurst.clear();
    e.seekGathered = 0;
    e.seekSent = 0;
    e.inTick = false;
    e.controlHolds = 0;
    current = CurrentEvent{};
}

std::uint64_t RoundHalfEven(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t q = a / b;
    const std::uint64_t r = a % b;
    if (r * 2 > b || (r * 2 == b && (q & 1) != 0)) {
        return q + 1;
    }
    return q;
}

void SendShortMessage(std::uint32_t message) {
    Engine& e = engine();
    if (e.seeking) {
        e.seekBurst.push_back(message);  // caller's thread: seeks never run on the timer
        return;
    }
    platform::midiOutShortMessage(e.midiOut.load(), message);
}

void SetTempo(std::int32_t bpm) {
    // The waits are computed from the tempo itself (waitPeriods), exactly.
    engine().tempo = bpm < kMinTempo ? kMinTempo : (bpm > kMaxTempo ? kMaxTempo : bpm);
}

std::uint64_t MapPeriod(const TempoMap& map, std::uint32_t tick) {
    return (map.timeAt(tick) + 500) / 1000;
}

std::uint32_t DispatchedTick() {
    const Engine& e = engine();
    return e.songPosition.load() + e.elapsed;
}

void ResetWaitClock() {
    Engine& e = engine();
    e.waitScale = ticksPerMinute();
    e.waitRemainder = e.waitScale / 2;  // waits round to the nearest period
}

void TimerRoutine(std::uint32_t timerId, void*) {
    Engine& e = engine();
    std::uint32_t expected = e.timerId.load();
    if (expected == kTimerStarting) {
        // The first tick may come before CallStartSong has stored the identifier.
        e.timerId.compare_exchange_strong(expected, timerId);
        expected = e.timerId.load();
    }
    if (expected != timerId) {
        return;
    }
    e.inTick.store(true);
    if (e.controlHolds.load() == 0) {
        RunTick();
    }
    e.inTick.store(false);
}

void RunTick() {
    Engine& e = engine();
    if (e.songEnded.load()) {
        platform::postMessage(e.callbackWindow.load(), platform::kSongEndedMessage, 0, 0);
        return;
    }
    if (e.pendingProgramChange.exchange(false)) {
        SendShortMessage((0xC0u | e.pendingChannel.load()) |
                         (std::uint32_t{e.pendingProgram.load()} << 8));
    }
    if (!e.playing.load() || e.paused.load() || e.transposing.load()) {
        return;
    }
    passPeriods(1);
    const std::uint32_t left = e.countdown.load();
    if (left > 1) {
        e.countdown.store(left - 1);
        // The periods until the next event would only count down: the timer passes them
        // by. On the virtual clock at once, so a long silence costs nothing to simulate;
        // on the real clock up to kRealSkipMax of them, so the levels and the position
        // the window polls stay fresh while the thread wakes a tenth as often.
        if (left > 2) {
            const std::uint32_t wanted = left - 2;
            const bool virtualClock = platform::clockMode() == platform::ClockMode::Virtual;
            const std::uint32_t skipped = platform::timerSkipPeriods(
                virtualClock ? wanted : (wanted < kRealSkipMax ? wanted : kRealSkipMax));
            if (skipped != 0) {
                passPeriods(skipped);
                e.countdown.store(left - 1 - skipped);
            }
        }
        return;
    }
    e.countdown.store(0);
    ScheduleAndReload();
}

void ScheduleAndReload() {
    Engine& e = engine();
    for (;;) {
        do {
            ScheduleStep();
        } while (e.nextDelta.load() == 0);
        const std::uint32_t delta = e.nextDelta.load();
        if (delta == kNoEvent) {
            e.countdown = 1;
            e.gap = 1;
            return;
        }
        const std::uint64_t periods = waitPeriods(delta);
        if (periods != 0) {
            const auto wait = static_cast<std::uint32_t>(periods > 0xFFFFFFFFu ? 0xFFFFFFFFu : periods);
            e.gap = wait;
            e.countdown = wait;
            return;
        }
        // The next events fall within this period: they are due now.
    }
}

void ScheduleStep() {
    Engine& e = engine();
    e.songPosition = e.songPosition.load() + e.elapsed;
    e.elapsed = e.nextDelta.load();
    std::uint32_t next = kNoEvent;
    bool anyActive = false;
    for (int n = 0; n < kSlotCount; ++n) {
        TrackSlot& slot = e.slots[n];
        if (!slot.active) {
            continue;
        }
        anyActive = true;
        std::uint32_t d = slot.pendingDelta;
        if (slot.position == 0) {
            if (!readDelta(slot, d)) {
                slot.position = 0;
                slot.pendingDelta = 0;
                slot.active = false;
                continue;
            }
        }
        if (d != 0) {
            slot.pendingDelta = d - e.elapsed;
            if (slot.pendingDelta <= next) {
                next = slot.pendingDelta;
            }
            continue;
        }
        const std::uint32_t following = PlayDueEvents(n);
        if (slot.position >= slot.length) {
            slot.position = 0;
            slot.pendingDelta = 0;
            slot.active = false;
        } else {
            slot.pendingDelta = following;
            if (following <= next) {
                next = following;
            }
        }
    }
    e.nextDelta = next;
    if (!anyActive) {
        e.songEnded = true;
    }
}

std::uint32_t PlayDueEvents(int slotIndex) {
    TrackSlot& slot = engine().slots[slotIndex];
    for (;;) {
        if (slot.position >= slot.length) {
            return 0;
        }
        const smf::MidiEvent event =
            smf::measureEvent(slot.data, slot.length, slot.position, slot.runningStatus);
        if (!event.complete) {
            // An event cut off by the end of the track is not played; the track ends there.
            slot.position = slot.length;
            return 0;
        }
        if (event.isEndOfTrack()) {
            slot.position += static_cast<std::uint32_t>(event.length);
            slot.active = false;
            return 0;
        }
        playEvent(slotIndex, event);
        slot.position += static_cast<std::uint32_t>(event.length);
        if (slot.position >= slot.length) {
            return 0;
        }
        std::uint32_t delta = 0;
        if (!readDelta(slot, delta)) {
            return 0;
        }
        if (delta != 0) {
            return delta;
        }
    }
}

void SilenceOutput() {
    Engine& e = engine();
    for (std::uint32_t channel = 0; channel < 16; ++channel) {
        SendShortMessage((0xB0 | channel) | (64u << 8));
        // All Notes Off as well: notes beyond the table of sounding notes must not hang.
        SendShortMessage((0xB0 | channel) | (123u << 8));
    }
    for (TrackSlot& slot : e.slots) {
        for (SoundingNote& entry : slot.soundingNotes) {
            if (entry.status != 0) {
                SendShortMessage((0x80u | (entry.status & 0x0F)) | (std::uint32_t{entry.note} << 8));
                entry = SoundingNote{};
            }
        }
    }
}

void SeekForward(std::uint32_t ticks) {
    Engine& e = engine();
    SilenceOutput();
    e.seekBurst.clear();
    e.seeking = true;
    struct EndSeek {
        Engine& e;
        ~EndSeek() { e.seeking = false; }
    } endSeek{e};
    std::uint64_t sum = 0;
    while (sum < ticks && !e.songEnded.load()) {
        ScheduleStep();
        const std::uint32_t delta = e.nextDelta.load();
        if (delta != kNoEvent) {
            sum += delta;
        }
    }
    e.seeking = false;
    e.seekGathered.fetch_add(e.seekBurst.size());
    CoalesceSeekBurst(e.seekBurst);
    e.seekSent.fetch_add(e.seekBurst.size());
    for (const std::uint32_t message : e.seekBurst) {
        SendShortMessage(message);
    }
    e.seekBurst.clear();
    for (auto& level : e.activity) {
        level = 0;
    }
}

void RewindToStart() {
    Engine& e = engine();
    for (TrackSlot& slot : e.slots) {
        slot.position = 0;
        slot.pendingDelta = 0;
        slot.active = slot.present;
    }
    e.songPosition = 0;
    e.nextDelta = 0;
    e.elapsed = 0;
}

void ApplyProgramOverride(int slotIndex, std::uint8_t program) {
    if (program == kKeepProgram || slotIndex < 0 || slotIndex >= kSlotCount) {
        return;
    }
    TrackSlot& slot = engine().slots[slotIndex];
    const std::size_t end = slot.length;
    std::size_t pos = 0;
    std::uint8_t runningStatus = 0;
    while (pos < end) {
        std::uint32_t delta = 0;
        if (!smf::readVarLen(slot.data, end, pos, delta) || pos >= end) {
            return;
        }
        const smf::MidiEvent event = smf::measureEvent(slot.data, end, pos, runningStatus);
        // Only a program change with its own status byte is rewritten; one under running
        // status stays as the song has it.
        if (event.hasStatusByte && event.kind == smf::EventKind::Channel &&
            (event.status & 0xF0) == 0xC0) {
            if (event.complete) {
                slot.data.set(event.dataOffset, program);
            }
            return;
        }
        if (!event.complete || event.isEndOfTrack()) {
            return;
        }
        pos += event.length;
    }
}

}  // namespace pulsant
