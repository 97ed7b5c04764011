// Following the song's own tempo changes (File > Preferences): the tempo display shows the
// tempo in effect where the song is, and the tempo steps scale the whole map by one ratio.
// With the choice off, or with a sequencer that cannot follow a map, the tempo is the
// song's one tempo as always.

#include "Cantivo.h"
#include "Prefrenc.h"
#include "SongTempoMap.h"
#include "platform/profile.h"

namespace cvkapp {

bool TCantivo::FollowsTempoMap() const {
    if (!SongTempoMap || Sequencer.CallFollowTempoMapDLL == nullptr) {
        return false;
    }
    if (SongPlaying) {
        return FollowingTempo;
    }
    return platform::profileGetInt(TPreference::kFollowTempoSection, TPreference::kFollowTempoKey, 0, IniPath()) != 0;
}

void TCantivo::LoadSongTempoMap() {
    SongTempoMap = songfile::ReadTempoMap(SplitFileName);
    TempoScale = {};
}

void TCantivo::StartFollowingTempo() {
    FollowingTempo = false;
    if (Sequencer.CallFollowTempoMapDLL == nullptr) {
        return;
    }
    const bool follow = FollowsTempoMap();
    FollowingTempo = Sequencer.CallFollowTempoMapDLL(Handle(), follow ? 1 : 0, TempoScale.numerator,
                                                     TempoScale.denominator) == 1 &&
                     follow;
}

std::uint32_t TCantivo::mapTick() const {
    const std::uint32_t tick = SongPlaying ? Sequencer.CallGetLyricCounterDLL(Handle()) : 0;
    return tick == 0xFFFFFFFFu ? 0 : tick;
}

int TCantivo::MapTempoShown() const {
    return SongTempoMap ? SongTempoMap->shownTempoAt(mapTick()) : TempoSetting;
}

songfile::TempoScaling TCantivo::savedTempoScaling() const {
    if (!FollowsTempoMap()) {
        return {};
    }
    return {TempoScale.numerator, TempoScale.denominator};
}

void TCantivo::StepMapTempo(int direction) {
    const std::optional<pulsant::TempoMap::Scale> scale = SongTempoMap->scaleForStep(mapTick(), direction);
    if (!scale) {
        return;
    }
    TempoScale = *scale;
    SongTempoMap->restartScale(scale->numerator, scale->denominator);
    if (SongPlaying && FollowingTempo) {
        Sequencer.CallFollowTempoMapDLL(Handle(), 1, scale->numerator, scale->denominator);
    }
}

}  // namespace cvkapp
