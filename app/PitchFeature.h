#pragma once

// The window's state for singing in tune (CantivoPitch.cpp): the pitch strip and its menu
// item, the loaded song's notes and melody track, and the analysis of the last take.
// Nothing here runs unless the user switched the strip on.

#include <string>

#include "PitchStrip.h"
#include "SongNotes.h"
#include "LiveTake.h"
#include "TakeAnalysis.h"

class QAction;

struct PitchFeature {
    lyrics::TPitchStrip* strip = nullptr;
    QAction* menuItem = nullptr;
    pitch::SongNotes notes;                     // of the loaded song; empty with none
    pitch::MelodyChoice choice;
    pitch::TakeAnalysis analysis;
    pitch::LiveTake live;  // the take being recorded, followed for the trail
    std::string pendingTake;  // a take to analyse once the wave library has put it in place
};
