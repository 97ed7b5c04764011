#pragma once

#include <cstdint>
#include <string>

#include "audio/export.h"
#include "audio/wave.h"

// Wave output devices by index: the sound server's sinks, the default sink first; device
// kWaveMapper (-1) is the default sink. Each open device is one stream of its own.
//
// A buffer is done once the device has played all of its bytes (on the sound server: as
// far as the server's requests for more tell, to within a fraction of the latency); its
// done notification follows. Buffers play in the order they were written, so a caller
// that closes at the last done cuts nothing off. Every call is made from the window's
// thread.
namespace audio {

// How far ahead of the speaker a stream keeps the server fed: voice playback wants the
// long end (no underruns under load), a live monitor the short one. A live output's audio
// is no later for a longer target (it only has what was captured), but the server takes
// it all: at a target below the monitor's lead (three buffers; 17 ms at 256 bytes) the
// server stops asking while audio still waits with us, and a late wakeup of its sink, which
// then plays ahead by the time it lost, empties the server's share while ours waits.
constexpr std::uint32_t kWaveOutLatencyMs = 100;
constexpr std::uint32_t kWaveOutMonitorLatencyMs = 30;

CVK_AUDIO_API std::uint32_t waveOutDeviceCount();
// The device's name as the user knows it; empty for a bad index.
CVK_AUDIO_API std::string waveOutDeviceName(std::uint32_t deviceId);

// Asks whether the device could play this format, opening nothing.
CVK_AUDIO_API WaveError waveOutQuery(std::int32_t deviceId, const WaveFormat& format);
// Opens a device for this format; its notifications go to `window`. latencyMs is clamped
// to 30..100.
//
// liveLeadBytes other than 0 opens a live output (a monitor), whose audio is worth hearing
// only at once: when a write leaves more than liveLeadBytes and that buffer waiting to be
// played, the oldest waiting audio is dropped (what the server holds first) until
// liveLeadBytes are left; and on the sound server, for a moment after the output starts
// (and starts again after running dry), whatever would leave more than the lead and half a
// buffer waiting, counting what the server still holds. Buffers dropped come back done,
// in order. A stall of the writer or of the device thus never adds to the delay for the
// rest of the stream.
CVK_AUDIO_API WaveError waveOutOpen(WaveOutHandle* handle, std::int32_t deviceId,
                                       const WaveFormat& format, platform::WindowHandle window,
                                       std::uint32_t latencyMs = kWaveOutLatencyMs,
                                       std::uint32_t liveLeadBytes = 0);
CVK_AUDIO_API WaveError waveOutPrepareHeader(WaveOutHandle handle, WaveHeader* header);
// StillPlaying while the buffer is queued.
CVK_AUDIO_API WaveError waveOutUnprepareHeader(WaveOutHandle handle, WaveHeader* header);
// Queues dwBufferLength bytes of the buffer: clears Done, sets InQueue.
CVK_AUDIO_API WaveError waveOutWrite(WaveOutHandle handle, WaveHeader* header);
// Pausing stops the sound at once and keeps the queue; buffers written meanwhile wait.
CVK_AUDIO_API WaveError waveOutPause(WaveOutHandle handle);
CVK_AUDIO_API WaveError waveOutRestart(WaveOutHandle handle);
// Drops what the device holds, returns every queued buffer (Done, in queue order, each
// with its notification) and leaves the device running, not paused.
CVK_AUDIO_API WaveError waveOutReset(WaveOutHandle handle);
// StillPlaying while buffers are queued; otherwise closes and posts the close notification.
CVK_AUDIO_API WaveError waveOutClose(WaveOutHandle handle);
// Times the device ran dry while running since it was opened (0 for a bad handle).
CVK_AUDIO_API std::uint64_t waveOutUnderruns(WaveOutHandle handle);
// Where a playback stands: `heardMicros` of the stream's audio had reached the speakers
// at `atMicros` on platform::clockMicros(), as the server reports it once asked for fresh
// timing (up to one round trip on the caller's thread). False when the device cannot tell.
CVK_AUDIO_API bool waveOutClock(WaveOutHandle handle, WaveOutClock& out);

}  // namespace audio
