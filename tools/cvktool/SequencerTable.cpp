#include "SequencerTable.h"

#include "platform/system.h"

namespace cvktool {

namespace {

class Binder {
public:
    explicit Binder(void* library) : m_library(library) {}

    template <typename Fn>
    void bind(Fn& slot, const char* name) {
        void* address = platform::resolveName(m_library, name);
        if (address == nullptr) {
            if (m_missing.empty()) {
                m_missing = name;
            }
            return;
        }
        slot = reinterpret_cast<Fn>(address);
    }

    const std::string& firstMissing() const { return m_missing; }

private:
    void* m_library;
    std::string m_missing;
};

}  // namespace

std::variant<SequencerTable, std::string> loadSequencer(const std::string& fileName) {
    void* library = platform::loadProgramLibrary(fileName);
    if (library == nullptr) {
        return "cannot load " + fileName + " from " + platform::programFolder() + ": " +
               platform::libraryError();
    }

    SequencerTable table;
    Binder binder(library);
    binder.bind(table.initMidiOut, "CallInitMIDIOut");
    binder.bind(table.closeMidiOut, "CallCloseMIDIOut");
    binder.bind(table.startSong, "CallStartSong");
    binder.bind(table.stopSong, "CallStopSong");
    binder.bind(table.pauseSong, "CallPauseSong");
    binder.bind(table.rewind, "CallRewind");
    binder.bind(table.fastForward, "CallFastForward");
    binder.bind(table.rewindToRepeat, "CallRewindToRepeat");
    binder.bind(table.changeTempo, "CallChangeTempo");
    binder.bind(table.getTempo, "CallGetTempo");
    binder.bind(table.setTransposition, "CallSetTransposition");
    binder.bind(table.setVolume, "CallSetVolumeDLL");
    binder.bind(table.changeInstrument, "CallChangeInstrumentDLL");
    binder.bind(table.getTime, "CallGetTime");
    binder.bind(table.checkActivity, "CallCheckActivity");
    binder.bind(table.getLyricCounter, "CallGetLyricCounterDLL");
    binder.bind(table.getPreciseLyricCounter, "CallGetPreciseLyricCounterDLL");

    if (!binder.firstMissing().empty()) {
        // A half-bound table would crash at the first empty entry; refuse it whole.
        platform::freeLibrary(library);
        return fileName + " does not export " + binder.firstMissing();
    }
    return table;
}

}  // namespace cvktool
