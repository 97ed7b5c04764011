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
              "libtools_partial_sequencer.so does not export CallStartSong");
}

// Guards against: one of the names bound to the wrong entry or left unbound.
TEST(SequencerTable, BindsEveryNameOfTheRealLibrary) {
    const auto loaded = loadSequencer();
    ASSERT_TRUE(std::holds_alternative<SequencerTable>(loaded)) << std::get<std::string>(loaded);
    const SequencerTable& table = std::get<SequencerTable>(loaded);
    void* library = ::dlopen(SEQUENCER_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
#define ENTRY(name, result, parameters) {reinterpret_cast<void*>(table.name), #name},
    const std::pair<void*, const char*> entries[] = {PULSANT_EXPORTS(ENTRY)};
#undef ENTRY
    for (const auto& [entry, name] : entries) {
        EXPECT_EQ(entry, ::dlsym(library, name)) << name;
    }
    ::dlclose(library);
}
