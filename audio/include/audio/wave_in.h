#pragma once

#include <cstdint>
#include <string>

#include "audio/export.h"
#include "audio/capture_tap.h"
#include "audio/wave.h"

// Wave input devices by index: the sound server's sources, the default source first;
// device kWaveMapper (-1) is the default source. Each open device is one stream of its own.
//
// An open device records nothing until it is started. Recorded audio fills the queued
// buffers in the order they were added; a buffer comes back (Done, dwBytesRecorded set,
// its data notification posted) once it is full. Audio that finds no buffer queued waits
// in the device (at least 5 s of it) and fills the next buffers added, so a window that
// is late to hand buffers back loses nothing. Every call is made from the window's
// thread.
namespace audio {

CVK_AUDIO_API std::uint32_t waveInDeviceCount();
CVK_AUDIO_API std::string waveInDeviceName(std::uint32_t deviceId);

// Asks whether the device could record this format, opening nothing.
CVK_AUDIO_API WaveError waveInQuery(std::int32_t deviceId, const WaveFormat& format);
CVK_AUDIO_API WaveError waveInOpen(WaveInHandle* handle, std::int32_t deviceId,
                                      const WaveFormat& format, platform::WindowHandle window);
CVK_AUDIO_API WaveError waveInPrepareHeader(WaveInHandle handle, WaveHeader* header);
CVK_AUDIO_API WaveError waveInUnprepareHeader(WaveInHandle handle, WaveHeader* header);
// Queues an empty buffer: dwBytesRecorded = 0, Done cleared, InQueue set.
CVK_AUDIO_API WaveError waveInAddBuffer(WaveInHandle handle, WaveHeader* header);
CVK_AUDIO_API WaveError waveInStart(WaveInHandle handle);
// Stops recording; the buffer being filled comes back with what it holds, if anything.
CVK_AUDIO_API WaveError waveInStop(WaveInHandle handle);
// Stops recording and returns every queued buffer, filled with what waited as far as they
// hold it, the partly filled one with its bytes; what they cannot hold is dropped.
CVK_AUDIO_API WaveError waveInReset(WaveInHandle handle);
CVK_AUDIO_API WaveError waveInClose(WaveInHandle handle);
// Times recorded audio found no buffer queued since the device was opened (counted once
// until the next buffer is added), whether it then waited or was lost.
CVK_AUDIO_API std::uint64_t waveInOverruns(WaveInHandle handle);
// Everything the device captures from now on is also written to `tap`, on the device's
// audio thread as it arrives (capture_tap.h); nullptr detaches. Once this returns the
// device no longer touches a tap it replaced, and the caller may free it. A tap is
// attached to one device at a time; it must outlive the attachment.
CVK_AUDIO_API WaveError waveInSetTap(WaveInHandle handle, CaptureTap* tap);

// Where a running recording stands: `frames` captured and handed over since it started
// (the frames its buffers received and those waiting for one, holes counted as the
// silence they become), and the capture's latency as the server reports it (a sound
// made now is handed over `latencyMicros` later), both as of `atMicros` on
// platform::clockMicros(). The server is asked for fresh timing first: up to one round
// trip on the caller's thread. False when the device cannot tell (not started, failed,
// no timing yet).
CVK_AUDIO_API bool waveInClock(WaveInHandle handle, WaveInClock& out);

}  // namespace audio
