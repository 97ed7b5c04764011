#include <gtest/gtest.h>

#include <dlfcn.h>

#include "SequencerTable.h"

using namespace cvktool;

// Guards against: a library missing a name yielding a table with an empty entry to call.
TEST(SequencerTable, RefusesMissingLibraryOrName) {
    const auto missing = loadSequencer("libcvk-no-such-sequencer.so");
    ASSERT_TRUE(std::holds_alternative<std::string>(missing));
    EXPECT_NE(std::get<std::string>(missing).find("libcvk-no-such-sequencer.so"),
              std::string::npos);

    const auto partial = loadSequencer("libtools_partial_sequencer.so");
    ASSERT_TRUE(std::holds_alternative<std::string>(partial));
    EXPECT_EQ(std::get<std::string>(partial),
              "libtools_partial_sequencer.so does not export CallCloseMIDIOut");
}

// Guards against: one of the seventeen names bound to the wrong entry or left unbound.
TEST(SequencerTable, BindsEveryNameOfTheRealLibrary) {
    const auto loaded = loadSequencer();
    ASSERT_TRUE(std::holds_alternative<SequencerTable>(loaded)) << std::get<std::string>(loaded);
    const SequencerTable& table = std::get<SequencerTable>(loaded);
    void* library = ::dlopen(SEQUENCER_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    const std::pair<void*, const char*> entries[] = {
        {reinterpret_cast<void*>(table.initMidiOut), "CallInitMIDIOut"},
        {reinterpret_cast<void*>(table.closeMidiOut), "CallCloseMIDIOut"},
        {reinterpret_cast<void*>(table.startSong), "CallStartSong"},
        {reinterpret_cast<void*>(table.stopSong), "CallStopSong"},
        {reinterpret_cast<void*>(table.pauseSong), "CallPauseSong"},
        {reinterpret_cast<void*>(table.rewind), "CallRewind"},
        {reinterpret_cast<void*>(table.fastForward), "CallFastForward"},
        {reinterpret_cast<void*>(table.rewindToRepeat), "CallRewindToRepeat"},
        {reinterpret_cast<void*>(table.changeTempo), "CallChangeTempo"},
        {reinterpret_cast<void*>(table.getTempo), "CallGetTempo"},
        {reinterpret_cast<void*>(table.setTransposition), "CallSetTransposition"},
        {reinterpret_cast<void*>(table.setVolume), "CallSetVolumeDLL"},
        {reinterpret_cast<void*>(table.changeInstrument), "CallChangeInstrumentDLL"},
        {reinterpret_cast<void*>(table.getTime), "CallGetTime"},
        {reinterpret_cast<void*>(table.checkActivity), "CallCheckActivity"},
        {reinterpret_cast<void*>(table.getLyricCounter), "CallGetLyricCounterDLL"},
        {reinterpret_cast<void*>(table.getPreciseLyricCounter), "CallGetPreciseLyricCounterDLL"},
    };
    for (const auto& [entry, name] : entries) {
        EXPECT_EQ(entry, ::dlsym(library, name)) << name;
    }
    ::dlclose(library);
}
