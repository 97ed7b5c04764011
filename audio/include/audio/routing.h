#pragma once

#include <string>

#include "audio/export.h"

// Where this process's sound goes and where its voice comes from, as the mixer set them:
// the gains of its own faders (applied inside the process, since desktop session managers
// restore per-application stream volumes over whatever a client sets) and the source the
// default wave input records. The mixer writes them; the streams and the synthesizer read
// them.
namespace audio {

// 0..1, 0 when muted. Real-time safe.
CVK_AUDIO_API float waveOutputGain() noexcept;
CVK_AUDIO_API float synthesizerGain() noexcept;
CVK_AUDIO_API void setWaveOutputGain(float gain) noexcept;
CVK_AUDIO_API void setSynthesizerGain(float gain) noexcept;

// The server's name of the source the default wave input records (empty: the server's
// default source). Any thread but a real-time one.
CVK_AUDIO_API std::string recordingSource();
CVK_AUDIO_API void setRecordingSource(const std::string& name);

// Full gains and the default source, as at the process's start: a new mixer starts from
// here.
CVK_AUDIO_API void resetRouting();

}  // namespace audio
