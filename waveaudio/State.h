#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "Signal.h"
#include "TakeFile.h"
#include "platform/files.h"
#include "audio/capture_tap.h"
#include "audio/wave.h"

// The library's module state: one playback stream, one recording with its monitor, and
// what they share (the echo line, the pending alignment offset). Everything here is owned
// by the caller's window thread; the devices only touch the buffers they were given,
// through the buffer flags.
namespace voxcapt::detail {

constexpr int kMaxBuffers = 8;

// One buffer handed to a device: its header and its data block.
struct Buffer {
    audio::WaveHeader header;
    std::unique_ptr<char[]> data;
};
using BufferSlots = std::array<std::unique_ptr<Buffer>, kMaxBuffers>;

// Fills slots with zeroed buffers of `bytes` each until one cannot be had; the count made.
int allocateBuffers(BufferSlots& slots, std::uint32_t bytes);
// Unprepares (with a device) and frees every buffer; empty slots are passed over.
void freeBuffers(BufferSlots& slots, std::uint32_t device,
                 audio::WaveError (*unprepare)(std::uint32_t, audio::WaveHeader*));
// The slot that holds this header, or -1: a notification about a buffer that is gone.
int slotOf(const BufferSlots& slots, const audio::WaveHeader* header);

// CVK_DEBUG is set: the streams' underruns and overruns are reported on stderr when they
// end, for tests and benchmarks that run the library in another process.
bool debugging();

struct Playback {
    platform::FileReader file;
    audio::WaveFormat format{};
    std::uint64_t dataOffset = 0;
    std::uint32_t dataSize = 0;
    std::uint64_t position = 0;  // bytes of the data consumed (read or skipped)
    std::uint32_t bufferSize = 0;
    BufferSlots buffers;
    int allocated = 0;
    int queued = 0;
    audio::WaveOutHandle device = 0;
    bool playing = false;
    bool paused = false;
    Peaks peaks;
    int levelIndex = 1;
    // As the device counted them while two buffers or more were still to play.
    std::uint64_t underrunsBeforeTheEnd = 0;
};

struct Recording {
    audio::WaveFormat format{};
    std::uint32_t bufferBytes = 0;
    BufferSlots buffers;
    int inputCount = 0;
    audio::WaveInHandle device = 0;
    platform::WindowHandle window = 0;
    std::string target;
    TakeFile file;
    bool active = false;     // started and not yet finished
    bool recording = false;  // capturing and writing
    bool cutShort = false;   // the library stopped capturing (full disk, failed write or stream)
    bool noFile = false;
    std::uint32_t returned = 0;
    // Room for the take in kilobytes, counting the take so far as free; measured at the
    // start and again as the take grows.
    std::uint64_t freeKb = UINT64_MAX;
    Peaks peaks;
};

struct Monitor {
    bool requested = true;
    bool unavailable = false;
    bool voiceAudible = true;
    audio::WaveOutHandle device = 0;
    BufferSlots buffers;
    int count = 0;
    int index = 0;
    int preRoll = 0;
    bool activeMarker = false;  // a recording started after the last playback start
};

struct State {
    Playback play;
    Recording rec;
    Monitor monitor;
    bool silence = false;         // playback buffers are zeroed before they are written
    bool recordSilence = false;   // captured buffers are zeroed before they reach the file
    std::int32_t pendingOffset = 0;  // bytes; consumed by the next playback refill
    int offsetMode = 0;              // 0 none, 1 skip forward, 2 move back or insert silence
    // Bytes of silence the next refill plays before the voice goes on where it was, or
    // (below zero) bytes of voice it skips: the window lining the voice up with the song.
    std::int64_t pendingShift = 0;
    std::int64_t pendingShiftMicros = 0;  // asked for, in bytes at the next refill
    std::unique_ptr<EchoLine> echo;  // owned by whichever stream made it last
    std::uint32_t echoDelayMs = 10;
    std::uint32_t playbackEchoDelayMs = 0;
    // How the last recording ended (AudioGetRecordResult) and where its take is.
    std::int32_t takeResult = -1;
    std::string takePath;
    audio::CaptureTap* tap = nullptr;  // the window's, attached to every capture (setCaptureTap)
};

State& state();
void resetState();

// The boxes the library shows: "ERROR!" without an owner, or the program's title owned by
// the window.
void errorBox(const std::string& text);
void ownedBox(platform::WindowHandle window, const std::string& text);

// A failure met while a notification is handled is told once that notification has been
// dealt with: a box's own event loop takes the next notifications from the queue, and
// each must find the failure already acted upon, not fail again and stack another box.
// deferErrorBox keeps the text ("ERROR!" box; the same text waiting twice is shown once);
// showDeferredBoxes, called by every notification export on its way out, shows what
// waits. Called from inside a box, it leaves the showing to the call that shows it, so
// boxes follow one another instead of piling up.
void deferErrorBox(const std::string& text);
void showDeferredBoxes();
void forgetDeferredBoxes();

// What a start says when there is no sound server to play or record through.
extern const char* const kNoSoundServerText;
// What happened to a stream that failed, in a few words, from the error it reported.
std::string streamFailureText(audio::WaveError error);

// Closes everything a stream holds; used by the stop calls and by resetForTest.
void finishPlayback();
void closeRecordingNow();
// The reactions to a device whose stream failed (its error notification).
void recordingStreamFailed(audio::WaveInHandle device, audio::WaveError error);
void monitorStreamFailed(audio::WaveOutHandle device, audio::WaveError error);
// At the process's exit: a take still running is finished with what reached the disk and
// put in its place. Devices are not touched (the sound library may be gone already).
// True when a device may still hold buffers of the state, which must then outlive the exit.
bool keepTakeAtExit(State& s);

}  // namespace voxcapt::detail
