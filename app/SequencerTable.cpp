#include "SequencerTable.h"

#include "platform/system.h"

namespace cvkapp {

namespace {

template <typename Fn>
void bindName(void* library, Fn& slot, const char* name) {
    slot = reinterpret_cast<Fn>(platform::resolveName(library, name));
}

}  // namespace

bool SequencerTable::complete() const {
    return CallInitMIDIOut && CallStartSong && CallStopSong && CallPauseSong && CallRewind &&
           CallFastForward && CallGetTime && CallChangeTempo && CallGetTempo && CallCloseMIDIOut &&
           CallCheckActivity && CallSetTransposition && CallSetVolumeDLL &&
           CallGetLyricCounterDLL && CallChangeInstrumentDLL && CallRewindToRepeat;
}

std::string sequencerLibraryName() {
    return platform::platformId() == platform::PlatformId::Windows9x ? "libpulsbrdg.so"
                                                                     : "libpulsant.so";
}

SequencerTable bindSequencer(const std::string& fileName, void*& library) {
    SequencerTable table;
    library = platform::loadProgramLibrary(fileName);
    if (library == nullptr) {
        return table;
    }
    bindName(library, table.CallInitMIDIOut, "CallInitMIDIOut");
    bindName(library, table.CallStartSong, "CallStartSong");
    bindName(library, table.CallStopSong, "CallStopSong");
    bindName(library, table.CallPauseSong, "CallPauseSong");
    bindName(library, table.CallRewind, "CallRewind");
    bindName(library, table.CallFastForward, "CallFastForward");
    bindName(library, table.CallGetTime, "CallGetTime");
    bindName(library, table.CallChangeTempo, "CallChangeTempo");
    bindName(library, table.CallGetTempo, "CallGetTempo");
    bindName(library, table.CallCloseMIDIOut, "CallCloseMIDIOut");
    bindName(library, table.CallCheckActivity, "CallCheckActivity");
    bindName(library, table.CallSetTransposition, "CallSetTransposition");
    bindName(library, table.CallSetVolumeDLL, "CallSetVolumeDLL");
    bindName(library, table.CallGetLyricCounterDLL, "CallGetLyricCounterDLL");
    bindName(library, table.CallChangeInstrumentDLL, "CallChangeInstrumentDLL");
    bindName(library, table.CallRewindToRepeat, "CallRewindToRepeat");
    return table;
}

}  // namespace cvkapp
