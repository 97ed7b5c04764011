#pragma once

// The window's state for singing in tune (CantivoPitch.cpp): the pitch strip and its menu
// item, the loaded song's notes and melody track, and the analysis of the last take.
// Nothing here runs unless the user switched the strip on.

#include <QTimer>

#include <string>

#include "LiveVoice.h"
#include "PitchStrip.h"
#include "SongNotes.h"
#include "TakeAnalysis.h"
#include "voxcapt/voxcapt.h"

class QAction;

struct PitchFeature {
    PitchFeature() = default;
    PitchFeature(const PitchFeature&) = delete;
    PitchFeature& operator=(const PitchFeature&) = delete;
    // No capture may go on writing into the tap once it is gone.
    ~PitchFeature() {
        if (listening) {
            voxcapt::setCaptureTap(nullptr);
        }
    }

    lyrics::TPitchStrip* strip = nullptr;
    QAction* menuItem = nullptr;
    pitch::SongNotes notes;                     // of the loaded song; empty with none
    pitch::MelodyChoice choice;
    pitch::TakeAnalysis analysis;
    // The microphone as every capture hears it (a take or the monitor alone), read at the
    // strip's frame rate while one runs, for the trail.
    pitch::LiveVoice live;
    QTimer liveTimer;
    bool listening = false;  // the tap is given to the wave library
    std::string pendingTake;  // a take to analyse once the wave library has put it in place
};
