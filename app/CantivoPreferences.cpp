// File > Preferences and the dialogs it reaches: lyric characters, the processing mode with
// its buffer test, the MIDI output device and the offset between song and voice.

#include "Cantivo.h"

namespace cvkapp {

void TCantivo::PreferencesClick() {}

void TCantivo::ReapplyVoiceOffset() {
    VoiceOffset = 0;
    const int wanted = OffsetSliderPosition;
    const int change = VoiceOffset - wanted;
    VoiceOffset = wanted;
    if (change != 0) {
        Audio.UpdateOffsetForPlayBack(change);
    }
}

bool TCantivo::StartMonitorTest(int, bool) {
    return false;
}

void TCantivo::StopMonitorTest() {}

}  // namespace cvkapp
