// The window in the 9x family (CVK_PLATFORM=9x): it loads the bridge, which connects to
// the outside sequencer beside it.

#include <dlfcn.h>

#include <filesystem>
#include <optional>

#include "CantivoHarness.h"
#include "platform/system.h"

using namespace testing_support;

namespace {

constexpr const char* kBridge = "libpulsbrdg.so";

// Whether the process holds the library at `path`.
bool loaded(const std::string& path) {
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library != nullptr) {
        ::dlclose(library);
    }
    return library != nullptr;
}

class SequencerBridgeTest : public CantivoTest {
protected:
    void SetUp() override {
        CantivoTest::SetUp();
        m_folder = platform::programFolder();
        if (!std::filesystem::exists(m_folder + kBridge)) {
            GTEST_SKIP() << kBridge << " is not built beside the tests";
        }
        setenv("CVK_PLATFORM", "9x", 1);
    }
    void TearDown() override {
        CantivoTest::TearDown();
        platform::setProgramFolderOverride(std::nullopt);
        unsetenv("CVK_PLATFORM");
    }

    std::string m_folder;
};

// Guards against the 9x family playing through the engine library instead of the bridge,
// and against a song lost between the bridge and the outside sequencer.
TEST_F(SequencerBridgeTest, ASongPlaysThroughTheBridge) {
    open();
    EXPECT_FALSE(window().MidiInitFailed);
    EXPECT_TRUE(loaded(m_folder + "libpuls16.so"));
    EXPECT_FALSE(loaded(m_folder + "libpulsant.so"));

    openSong(song("song.kar", karaokeSong({"One", "two", "three", "four"})));
    ASSERT_TRUE(window().SongLoaded);
    window().PlayButtonClick();
    ASSERT_TRUE(window().SongPlaying);
    EXPECT_EQ(window().SongDivision, 96);
    for (int i = 0; i < 60 && window().SongPlaying; ++i) {
        tick();
    }
    EXPECT_FALSE(window().SongPlaying) << "the song's end was not seen";
    std::vector<int> played;
    for (const Captured& c : captured()) {
        if (c.isNoteOn()) {
            played.push_back(c.data1);
        }
    }
    EXPECT_EQ(played, (std::vector<int>{60, 61, 62, 63}));
    EXPECT_TRUE(boxTexts().empty());
}

// Guards against a bridge that loads without the outside sequencer: the user must be told,
// and the window must treat the MIDI output as unusable instead of calling into nothing.
TEST_F(SequencerBridgeTest, WithoutTheOutsideSequencerTheBridgeDoesNotLoad) {
    const std::string folder = path("program/");
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink(m_folder + kBridge, folder + kBridge);
    platform::setProgramFolderOverride(folder);

    open();
    EXPECT_TRUE(window().MidiInitFailed);
    EXPECT_EQ(window().SequencerLibrary, nullptr);
    ASSERT_EQ(boxes.shown().size(), 2u) << ::testing::PrintToString(boxTexts());
    const platform::MessageBoxRequest& failed = boxes.shown()[0];
    EXPECT_EQ(failed.text, "Failed ThunkConnect32");
    EXPECT_EQ(failed.title, "Error ");
    EXPECT_EQ(failed.buttons, platform::MessageButtons::Ok);
    EXPECT_EQ(failed.owner, 0u);
    EXPECT_EQ(boxes.shown()[1].text, "Cannot Initialize the MIDI Driver");
}

}  // namespace
