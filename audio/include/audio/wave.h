#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/export.h"
#include "platform/messages.h"

// What wave output and input devices share: the PCM format record, the buffer header
// with its flags, the notifications posted to a device's window, the error codes, and
// the switch between the sound server and the virtual devices of tests.
//
// A device is opened with a window. It posts, through platform/messages, an open
// notification at the open, one done (output) or data (input) notification per buffer
// it hands back, lParam the buffer's WaveHeader and wParam the device's handle, an error
// notification if its stream fails, and a close notification at the close. Nothing is
// ever called back: the window's own thread handles the notifications when it takes them
// from its queue.
namespace audio {

using WaveOutHandle = std::uint32_t;  // 0 = none
using WaveInHandle = std::uint32_t;   // 0 = none
// The device the user's sound server chose: its default sink or default source.
constexpr std::int32_t kWaveMapper = -1;

constexpr std::uint16_t kWaveFormatPcm = 1;

// The format record of a wave file's `fmt ` chunk, 18 bytes as stored in the file.
#pragma pack(push, 2)
struct WaveFormat {
    std::uint16_t formatTag = kWaveFormatPcm;
    std::uint16_t channels = 1;
    std::uint32_t samplesPerSec = 22050;
    std::uint32_t avgBytesPerSec = 44100;
    std::uint16_t blockAlign = 2;
    std::uint16_t bitsPerSample = 16;
    std::uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18);

// Buffer flags. The device sets and clears Done and InQueue; Prepared is the caller's.
constexpr std::uint32_t kWaveHeaderDone = 0x01;
constexpr std::uint32_t kWaveHeaderPrepared = 0x02;
constexpr std::uint32_t kWaveHeaderInQueue = 0x10;

// One buffer handed to a device. The caller owns it and must not touch its data while
// InQueue is set. dwFlags is atomic because the device's thread marks the buffer done
// while the caller's thread may be testing it; a caller that sees Done (or takes the
// buffer's notification) also sees the data and dwBytesRecorded the device wrote.
struct WaveHeader {
    char* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;   // bytes to play, or room to record into
    std::uint32_t dwBytesRecorded = 0;  // input: bytes the device stored
    std::uintptr_t dwUser = 0;          // the caller's own
    std::atomic<std::uint32_t> dwFlags{0};
};

// Notifications (wParam the device handle, lParam the WaveHeader for done and data).
constexpr std::uint32_t kWaveOutOpenMessage = 0x3BB;
constexpr std::uint32_t kWaveOutCloseMessage = 0x3BC;
constexpr std::uint32_t kWaveOutDoneMessage = 0x3BD;
constexpr std::uint32_t kWaveInOpenMessage = 0x3BE;
constexpr std::uint32_t kWaveInCloseMessage = 0x3BF;
constexpr std::uint32_t kWaveInDataMessage = 0x3C0;
// A device's stream failed (the sound server went away or restarted, its device was
// removed): posted once, wParam the device's handle, lParam the WaveError saying why
// (NoSoundServer: the server is gone; NoDriver: the device is). Then every buffer the
// device held comes back, each with its done or data notification, after this one, as
// after a reset (an input first stores what it had captured and not yet handed over); a
// paused output or a started input no longer plays or records. From then on the device
// takes no buffers (a write or an added buffer gets the error and is not queued), every
// other call answers with the error too, and unprepare and close work as usual, so the
// buffers can be freed and the device closed.
constexpr std::uint32_t kWaveOutErrorMessage = 0x3C1;
constexpr std::uint32_t kWaveInErrorMessage = 0x3C2;

enum class WaveError : std::uint32_t {
    Ok = 0,
    Error = 1,
    BadDeviceId = 2,
    InvalidHandle = 5,
    NoDriver = 6,
    NoMemory = 7,
    InvalidParameter = 11,
    BadFormat = 32,
    StillPlaying = 33,  // the buffer, or a buffer of the device, is still queued
    Unprepared = 34,
    NoSoundServer = 65,
};

// Whether a device can be opened with this format: PCM, 8 or 16 bits, 1 or 2 channels,
// 1..192000 frames a second, block align and byte rate consistent with them.
CVK_AUDIO_API bool waveFormatPlayable(const WaveFormat& format);

// Where a running recording stands (wave_in.h, waveInClock).
struct WaveInClock {
    std::uint64_t frames = 0;
    std::int64_t latencyMicros = 0;
    std::uint64_t atMicros = 0;
};

// Where a playback stands (wave_out.h, waveOutClock).
struct WaveOutClock {
    std::uint64_t heardMicros = 0;
    std::uint64_t atMicros = 0;
};

// The virtual devices of tests: one output ("Virtual Speakers") that keeps what it plays,
// one input ("Virtual Microphone") that delivers given bytes and then silence; both
// move audio at the format's rate on a 1 ms timer of platform/mm_timer, so on the manual
// clock a test decides exactly when each buffer comes back. The microphone never loses
// data: with no buffer queued it waits (counted as one overrun) and goes on where it
// stopped. CVK_VIRTUAL_WAVE=1 selects them at the first use, the microphone reading the
// data of the wave file CVK_WAVE_MICROPHONE names and the speakers writing each output
// to the wave file CVK_WAVE_SPEAKERS names (the last output to close wins); with
// CVK_WAVE_FAIL_MS each stream fails (NoSoundServer) once it has run that long.
struct VirtualWaveSetup {
    std::vector<std::uint8_t> microphone;  // raw PCM in the format the input is opened with
    std::string microphoneFile;            // or the data of this wave file
    std::string speakersFile;              // empty: outputs are kept in memory only
    bool formatRefused = false;            // every format query and open refuses the format
    bool outputOpenFails = false;
    bool inputOpenFails = false;
    std::uint32_t failAfterMs = 0;         // nonzero: each stream fails after running this long
};

CVK_AUDIO_API void useVirtualWave(const VirtualWaveSetup& setup);
// Makes the open virtual device with this handle fail as a stream the server dropped: its
// error notification with `why`, then its buffers back (see kWaveOutErrorMessage). False
// when no virtual device has that handle.
CVK_AUDIO_API bool failVirtualWaveDevice(std::uint32_t handle, WaveError why);
CVK_AUDIO_API void useRealWave();
// Everything each output device played, in the order the devices were opened since
// useVirtualWave.
CVK_AUDIO_API std::vector<std::vector<std::uint8_t>> virtualWaveOutputs();
// Fails the virtual devices as a sound server's streams fail: each open one at its next
// millisecond (NoSoundServer: the server went away; NoDriver: the device was removed),
// and every later query and open, until the next useVirtualWave.
CVK_AUDIO_API void failVirtualWave(WaveError error);

}  // namespace audio
