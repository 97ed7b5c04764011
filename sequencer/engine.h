#pragma once

// The sequencer's module-wide state: one song, one output device, one playing clock.
//
// Two threads meet here: the caller's thread (the exported functions) and the timer
// thread (TimerRoutine). Whatever the polling functions read, and whatever the caller
// may write while the routine runs, is atomic. Everything else - the slots' read
// positions, pending deltas and sounding notes, the scheduling state - is touched by the
// caller only inside a ControlSection, which keeps the routine out (see play.cpp).

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TempoMap.h"
#include "platform/messages.h"
#include "platform/midi_out.h"

namespace pulsant {

constexpr int kSlotCount = 64;
constexpr int kSoundingNotesMax = 50;
constexpr std::uint32_t kNoEvent = 0xFFFFFFFF;
constexpr int kDrumChannel = 9;
constexpr std::int32_t kMinTempo = 40;
constexpr std::int32_t kMaxTempo = 240;
constexpr std::int32_t kDefaultTempo = 120;
constexpr std::uint8_t kKeepProgram = 255;
// TimerId while CallStartSong waits for the identifier of the timer it is starting.
constexpr std::uint32_t kTimerStarting = 0xFFFFFFFF;

// A track's bytes. The routine reads them while an instrument override may rewrite a
// program byte from the caller's thread, so each byte is an atomic (plain loads on x86).
class TrackBytes {
public:
    TrackBytes() = default;
    explicit TrackBytes(const std::vector<std::uint8_t>& bytes);

    std::uint32_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::uint8_t operator[](std::size_t index) const {
        return m_bytes[index].load(std::memory_order_relaxed);
    }
    void set(std::size_t index, std::uint8_t value) {
        m_bytes[index].store(value, std::memory_order_relaxed);
    }

private:
    std::unique_ptr<std::atomic<std::uint8_t>[]> m_bytes;
    std::uint32_t m_size = 0;
};

struct SoundingNote {
    std::uint8_t status = 0;  // 0 = free entry
    std::uint8_t note = 0;
};

struct TrackSlot {
    // Filled by the loader while no timer runs; released by CallStopSong after the timer died.
    bool present = false;
    TrackBytes data;
    std::uint32_t length = 0;
    // Playing state: timer thread, or the caller inside a ControlSection.
    bool active = false;
    std::uint32_t position = 0;  // 0 = the track's first delta is still to be read
    std::uint32_t pendingDelta = 0;
    std::uint8_t runningStatus = 0;
    std::array<SoundingNote, kSoundingNotesMax> soundingNotes{};
};

struct Engine {
    // Device and window (caller's thread; the routine reads the window and the handle).
    std::atomic<platform::MidiOutHandle> midiOut{0};
    std::int32_t deviceId = platform::kMidiMapper;
    std::atomic<platform::WindowHandle> callbackWindow{0};
    std::atomic<std::uint32_t> timerId{0};
    bool periodBegun = false;

    // Play state: written by both threads, polled by the caller.
    std::atomic<bool> playing{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> transposing{false};
    std::atomic<bool> songEnded{true};
    bool seeking = false;  // inside SeekForward only

    // Clock. Tempo and the division may change while the routine runs; the positions are
    // polled without synchronisation.
    std::atomic<std::int32_t> tempo{kDefaultTempo};
    std::atomic<std::uint16_t> fileDivision{0};
    std::atomic<std::uint32_t> ticksPerSecond{1};
    std::uint32_t songLength = 0;
    std::atomic<std::uint32_t> songPosition{0};
    std::atomic<std::uint32_t> nextDelta{0};
    std::uint32_t elapsed = 0;
    std::atomic<std::uint32_t> countdown{0};
    std::atomic<std::uint32_t> gap{0};
    // Exact wait arithmetic: the part of a timer period carried from one wait to the
    // next, in units of 1/waitScale periods, where waitScale is the tempo times the
    // division (ticks per minute) it was computed with. Routine, or caller in a section.
    std::uint64_t waitRemainder = 0;
    std::uint64_t waitScale = 0;

    // Live settings (caller writes while the routine reads).
    std::atomic<std::int8_t> transposition{0};
    std::array<std::atomic<std::int8_t>, kSlotCount> transposeTable{};
    std::array<std::atomic<std::int16_t>, kSlotCount> velocityOffset{};
    std::array<std::atomic<std::uint16_t>, kSlotCount> activity{};
    std::int32_t decayCountdown = 10;  // routine only
    std::atomic<std::uint8_t> pendingChannel{0};
    std::atomic<std::uint8_t> pendingProgram{0};
    std::atomic<bool> pendingProgramChange{false};

    // Song loaded from the file (loader; no timer runs then).
    std::uint32_t fileTempo = kDefaultTempo;
    std::array<TrackSlot, kSlotCount> slots{};
    // Every track's Set Tempo events, gathered by the loader for the tempo map.
    std::vector<TempoEvent> tempoEvents;

    // Following the song's own tempo map (opt-in). The caller chooses the mode and the
    // ratio for the next start; a start whose song has a map plays by it (mapActive) and
    // keeps every wait, the time and the tempo display on the map. The map is written by
    // the caller only while no timer runs or inside a ControlSection; the routine reads it.
    std::atomic<bool> followTempo{false};
    TempoMap::Scale followScale{};
    std::optional<TempoMap> tempoMap;
    std::atomic<bool> mapActive{false};
    TempoMap::Scale playingScale{};  // the ratio the map plays at now (caller's thread)

    // A seek's messages, gathered on the caller's thread while it seeks and then sent as
    // the channel state they leave behind (SeekBurst.cpp). The counts are for benchmarks.
    std::vector<std::uint32_t> seekBurst;
    std::atomic<std::uint64_t> seekGathered{0};
    std::atomic<std::uint64_t> seekSent{0};

    // The routine marks a tick in progress; a ControlSection waits it out and keeps the
    // next ticks away until it ends.
    std::atomic<bool> inTick{false};
    std::atomic<std::int32_t> controlHolds{0};
};

Engine& engine();

// Restores the state of a freshly loaded library (tests only; no song may be playing).
void resetForTest();

// Keeps the timer routine out of the engine while the caller's thread rewrites the
// playing state. The routine never waits for it: a tick that finds a section open is
// skipped, as a tick is while paused.
class ControlSection {
public:
    ControlSection();
    ~ControlSection();
    ControlSection(const ControlSection&) = delete;
    ControlSection& operator=(const ControlSection&) = delete;
};

// --- Loader (PARSER.cpp) ---

// Where the loader reads the song from: a file, or memory for the fuzzer.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `count` bytes; returns how many were read.
    virtual std::size_t read(std::uint8_t* into, std::size_t count) = 0;
    // Bytes left to read.
    virtual std::uint64_t remaining() const = 0;
};

// Fills the slots from a Standard MIDI file. Returns the failure text, empty on success.
std::string LoadSong(const char* fileName);
std::string LoadSongFrom(ByteSource& source);
// Walks a loaded track once: its tick total; for slot 0 it also takes the song's tempo.
std::uint32_t ScanTrack(int slot);

// --- The song's programs (SongPrograms.cpp) ---

// Every program (channel, bank select and number) the loaded song selects, and the
// `instruments` the caller puts in place of each track's first one (255: none); each once.
std::vector<platform::MidiProgram> SongPrograms(const std::uint16_t* instruments);

// --- Interface (seqencr.cpp) ---

// Starts the loaded song from its beginning, at `key` and, unless it is 0, `tempo`, and
// plays what is due at tick 0; the timer is the caller's business. Returns the division.
std::uint16_t StartLoadedSong(std::int32_t key, const std::int16_t* volumes,
                              const std::uint16_t* instruments, std::int32_t tempo);

// --- Player (play.cpp) ---

void TimerRoutine(std::uint32_t timerId, void* user);
// The routine's work for one period, without the timer identifier check.
void RunTick();
void SetTempo(std::int32_t bpm);
void ScheduleStep();
std::uint32_t PlayDueEvents(int slot);
void SilenceOutput();
void SeekForward(std::uint32_t ticks);
void RewindToStart();
void ApplyProgramOverride(int slot, std::uint8_t program);
// Runs ScheduleStep until something is waited for and loads Countdown and Gap with the
// length of that wait; events that fall within the current period are played at once.
void ScheduleAndReload();
// Starts the exact wait arithmetic afresh (song start): waits round to the nearest period.
void ResetWaitClock();
// The period (1 ms) in which the events at `tick` fall on the tempo map: its time rounded
// to the nearest period.
std::uint64_t MapPeriod(const TempoMap& map, std::uint32_t tick);
// The tick of the events dispatched last (routine, or caller in a section).
std::uint32_t DispatchedTick();
void SendShortMessage(std::uint32_t message);

// --- Seeks (SeekBurst.cpp) ---

// Drops from a seek's messages those whose effect a later message replaces, keeping the
// order of the rest: what is left sets every channel as the whole burst would.
void CoalesceSeekBurst(std::vector<std::uint32_t>& messages);

// Rounds a / b to the nearest integer, halves to even.
std::uint64_t RoundHalfEven(std::uint64_t a, std::uint64_t b);

}  // namespace pulsant
