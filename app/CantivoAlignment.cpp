// A take lined up with its song: while it records, the window reads where the microphone's
// stream stands and how late the song is heard; once the wave library has put the take
// in place, the frames captured before the song's time zero was heard are dropped, so
// the voice plays on the beat from the song's start (and in an export) without the user
// moving it. The offset dialog works on top of it as before.

#include <cstdio>

#include "Cantivo.h"
#include "audio/wave_in.h"
#include "platform/profile.h"
#include "synth/synthesizer.h"
#include "voxcapt/voxcapt.h"

namespace cvkapp {

namespace {

constexpr std::uint32_t kTakeRate = 22050;  // the rate every take records at
// A reading every fourth tick of the 50 ms loop: each asks the server twice.
constexpr int kTicksPerReading = 4;

}  // namespace

void TCantivo::startTakeLineUp() {
    TakeHeadDropped = 0;
    m_takeAlignment = {};
    m_takeHead.reset();
    m_takeClockTicks = 0;
    // [Recording] LineUpTakes=0 keeps takes exactly as captured.
    if (SongPlaying && platform::profileGetInt("Recording", "LineUpTakes", 1, IniPath()) != 0) {
        m_takeAlignment.start(m_songStartMicros, kTakeRate);
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

}  // namespace cvkapp
