// The track panel's part of the window that the transport relies on: the volume table
// and the activity poll. The sixteen strips themselves join later.

#include <QLabel>

#include "Cantivo.h"
#include "DisplayText.h"

namespace cvkapp {

void TCantivo::SendVolumeTable() {
    VolumeTable = buildVolumeTable(MasterVolume, TrackMix);
    // Sent with or without a song: the sequencer keeps it for the next start.
    if (Sequencer.CallSetVolumeDLL != nullptr) {
        Sequencer.CallSetVolumeDLL(Handle(), VolumeTable.data());
    }
}

void TCantivo::UpdateTrackLevels() {
    // No strips are built yet, so there are no meters to drive.
}

void TCantivo::ResetSongState() {
    SongPlaying = false;
    TempoSetting = 120;
    KeySetting = 0;
    MasterVolume = 100;
    TrackMix.fill({});
    FirstVisibleTrack = 0;
    ShowTempo();
    ShowKey();
    ShowVolume();
}

}  // namespace cvkapp
