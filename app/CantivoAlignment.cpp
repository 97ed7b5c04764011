// A take lined up with its song: while it records, the window reads where the microphone's
// stream stands and how late the song is heard; once the wave library has put the take
// in place, the frames captured before the song's time zero was heard are dropped, so
// the voice plays on the beat from the song's start (and in an export) without the user
// moving it. When a performance plays from its start, the voice is moved to be heard with
// the song, whose stream has another latency. The offset dialog works on top of both.

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Cantivo.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "platform/mm_timer.h"
#include "platform/profile.h"
#include "synth/synthesizer.h"
#include "voxcapt/voxcapt.h"

namespace cvkapp {

namespace {

// A reading every fourth tick of the 50 ms loop: each asks the server twice.
constexpr int kTicksPerReading = 4;
// The voice's stream tells where it is once its first audio has been heard for a while.
constexpr std::uint64_t kVoiceHeardMicros = 30'000;
// Smaller differences are left alone (moving the voice while it plays is a short gap or
// skip in it); larger ones are not a latency.
constexpr std::int64_t kLeastShiftMs = 5;
constexpr std::int64_t kLargestShiftMs = 1000;

bool lineUpOn(const std::string& ini) {
    return platform::profileGetInt("Recording", "LineUpTakes", 1, ini) != 0;
}

}  // namespace

void TCantivo::startTakeLineUp(std::uint32_t rate) {
    TakeHeadDropped = 0;
    m_heardLateSeconds = 0.0;
    m_takeAlignment = {};
    m_takeHead.reset();
    m_takeClockTicks = 0;
    // [Recording] LineUpTakes=0 keeps takes exactly as captured.
    if (SongPlaying && lineUpOn(IniPath())) {
        m_takeAlignment.start(m_songStartMicros, rate);
    }
}

void TCantivo::readTakeClocks() {
    if (++m_takeClockTicks % kTicksPerReading != 0) {
        return;
    }
    render::AlignmentReading reading;
    if (!audio::waveInClock(voxcapt::recordingView().inputDevice, reading.capture)) {
        return;
    }
    // Another MIDI device than the built-in synthesizer: its sound does not pass the
    // server, and its delay is its own.
    std::int64_t delay = 0;
    if (synth::synthesizerOutputDelay(delay)) {
        reading.outputDelayMicros = delay;
    }
    m_takeAlignment.add(reading);
    m_heardLateSeconds =
        static_cast<double>(std::max<std::int64_t>(reading.capture.latencyMicros + reading.outputDelayMicros, 0)) / 1e6;
}

void TCantivo::endTakeLineUp() {
    m_takeHead = m_takeAlignment.headFrames();
    m_takeAlignment = {};
}

void TCantivo::lineUpFinishedTake() {
    if (!m_takeHead || voxcapt::recordingView().active) {
        return;
    }
    const std::uint64_t head = *m_takeHead;
    m_takeHead.reset();
    TakeHeadDropped = 0;
    char where[4096] = {};
    const std::int32_t result = Audio.AudioGetRecordResult(where, sizeof where);
    // Only a take in its place: one kept elsewhere after a failure is left as it is.
    if ((result != 1 && result != 2) || RecordingFile.empty() || RecordingFile != where || head == 0) {
        return;
    }
    std::string error;
    if (render::DropTakeHead(RecordingFile, head, error)) {
        TakeHeadDropped = head;
    } else {
        // The take plays as captured, a little late: nothing of it is lost.
        std::fprintf(stderr, "cvk: the take was kept as captured: %s\n", error.c_str());
    }
}

bool TCantivo::voiceLinedUp() const { return lineUpOn(IniPath()); }

// The song's time zero is heard when it was due plus the synthesizer's delay; a new
// stream's first audio, the sink's latency after it is handed over. The voice starts with
// the silence (or skips the voice) that makes its first frame heard then.
void TCantivo::startVoiceOnTheSong() {
    std::int64_t delay = 0;
    std::int64_t sink = 0;
    if (!synth::synthesizerOutputDelay(delay, &sink)) {
        // Another MIDI device: how late its song and this voice are heard is not known.
        startVoice();
        return;
    }
    const std::int64_t waitMicros = static_cast<std::int64_t>(m_songStartMicros) + delay -
                                    static_cast<std::int64_t>(platform::clockMicros()) - sink;
    const std::int64_t waitMs = std::clamp<std::int64_t>(waitMicros / 1000, -kLargestShiftMs, kLargestShiftMs);
    Audio.AudioShiftPlayback(static_cast<std::int32_t>(waitMs));
    m_voiceWaitMicros = waitMs * 1000;
    startVoice();
    m_voiceLineUpPending = VoicePlaying;
}

// What is left: the song's time zero is heard when it was due plus the synthesizer's
// delay; the voice's first frame when its stream had played `heardMicros` at `atMicros`.
// More than a few milliseconds apart, the voice moves by the difference, in the silence
// or the skip of one refill (about a second in, where a take still holds the song's
// introduction).
void TCantivo::lineUpVoice() {
    audio::WaveOutClock voice;
    if (!audio::waveOutClock(voxcapt::playbackView().device, voice) || voice.heardMicros < kVoiceHeardMicros) {
        return;  // the next tick asks again
    }
    m_voiceLineUpPending = false;
    std::int64_t delay = 0;
    if (!synth::synthesizerOutputDelay(delay)) {
        return;
    }
    const std::int64_t songHeard = static_cast<std::int64_t>(m_songStartMicros) + delay;
    const std::int64_t voiceHeard = static_cast<std::int64_t>(voice.atMicros - voice.heardMicros) + m_voiceWaitMicros;
    const std::int64_t earlyMs = (songHeard - voiceHeard) / 1000;
    if (std::abs(earlyMs) >= kLeastShiftMs && std::abs(earlyMs) <= kLargestShiftMs) {
        Audio.AudioShiftPlayback(static_cast<std::int32_t>(earlyMs));
    }
}

}  // namespace cvkapp
