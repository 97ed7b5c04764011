// The mixer library on the virtual mixer: every card shape the selection rules care about.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TempDir.h"
#include "audio/mixer.h"
#include "faderlib/faderlib.h"
#include "platform/dialogs.h"
#include "platform/messages.h"

namespace {

using audio::ComponentType;
using audio::ControlType;
using audio::VirtualMixerControl;
using audio::VirtualMixerLine;
using audio::VirtualMixerSetup;

VirtualMixerControl volume(const std::string& tag, std::uint32_t value = 40000) {
    return {ControlType::Volume, "Volume", tag, 0, 65535, {}, {value, value}};
}
VirtualMixerControl control(ControlType type, const std::string& tag, std::uint32_t value = 0) {
    return {type, "Switch", tag, 0, 1, {}, {value, value}};
}

enum class Selector { Mux, Mixer, None };

// A card: speakers (master, wave, synthesizers, microphone) and a recording destination
// whose sources are "Line In", "Mic" and "Stereo Mix", picked by the given selector.
VirtualMixerSetup card(Selector selector) {
    VirtualMixerLine speakers{ComponentType::DstSpeakers,
                              "Speakers",
                              "Speakers",
                              2,
                              {volume("master"), control(ControlType::Mute, "master mute")},
                              {}};
    speakers.sources = {
        {ComponentType::SrcWaveOut,
         "Wave",
         "Wave",
         2,
         {volume("wave"), control(ControlType::Mute, "wave mute")},
         {}},
        {ComponentType::SrcSynthesizer,
         "Synth",
         "Synth A",
         2,
         {volume("synth a"), control(ControlType::Mute, "synth a mute")},
         {}},
        {ComponentType::SrcSynthesizer,
         "Synth",
         "Synth B",
         2,
         {volume("synth b"), control(ControlType::Mute, "synth b mute")},
         {}},
        {ComponentType::SrcMicrophone,
         "Mic",
         "Microphone",
         1,
         {volume("mic"), control(ControlType::Mute, "mic mute", 1),
          control(ControlType::OnOff, "mic select")},
         {}},
    };
    VirtualMixerLine recording{ComponentType::DstWaveIn,
                               "Recording",
                               "Recording",
                               2,
                               {volume("record"), control(ControlType::Mute, "record mute", 1)},
                               {}};
    const std::vector<std::string> names = {"Line In", "Mic", "Stereo Mix"};
    for (const std::string& name : names) {
        recording.sources.push_back(
            {ComponentType::SrcLine,
             name,
             name,
             2,
             {volume(name + " volume", 0), control(ControlType::Mute, name + " mute", 1)},
             {}});
    }
    if (selector != Selector::None) {
        VirtualMixerControl select{
            selector == Selector::Mux ? ControlType::Mux : ControlType::Mixer,
            "Select",
            "selector",
            0,
            1,
            names,
            {1, 0, 0}};
        recording.controls.push_back(select);
    }
    VirtualMixerSetup setup;
    setup.cards.push_back({{speakers, recording}, true});
    setup.outputs = {{"  Sound Card  ", 0, false}};
    setup.inputs = {{"Sound Card", 0, false}};
    return setup;
}

std::vector<std::uint32_t> values(const std::string& tag) {
    return audio::virtualMixerValues(tag);
}

class FaderlibTest : public testing::Test {
protected:
    void SetUp() override {
        // An empty settings folder: no MIDI device is named.
        setenv("XDG_CONFIG_HOME", m_dir.path("config").c_str(), 1);
        faderlib::resetForTest();
    }
    void TearDown() override {
        faderlib::resetForTest();
        audio::useRealMixer();
        unsetenv("XDG_CONFIG_HOME");
    }

    void select(const VirtualMixerSetup& setup) {
        audio::useVirtualMixer(setup);
        ASSERT_EQ(SelectOutputDevice(0), 0);
        ASSERT_EQ(SelectInputDevice(0), 0);
    }

    testing_support::TempDir m_dir;
};

// Guards the level scale: it divides by the maximum and rounds up by one, and back.
TEST_F(FaderlibTest, LevelsConvertBothWays) {
    select(card(Selector::Mux));
    struct Case {
        std::uint32_t value;
        std::int32_t level;
        std::uint32_t written;
    };
    for (const Case& c : {Case{65535, 99, 65535}, Case{32767, 50, 32767}, Case{0, 0, 0}}) {
        audio::setVirtualMixerValues("wave", {c.value, c.value});
        EXPECT_EQ(GetCurrentOutputLevel(), c.level) << c.value;
        ASSERT_EQ(SetCurrentOutputLevel(c.level), 0);
        EXPECT_EQ(values("wave")[0], c.written) << c.level;
        EXPECT_EQ(values("wave")[1], c.written) << "a one-channel write sets every channel";
    }
}

// Guards the audible minimum: raised below a tenth, left alone above it.
TEST_F(FaderlibTest, UnmuteOutputRaisesQuietVolumesToATenth) {
    for (const auto& [before, after] : {std::pair{1000u, 6553u}, std::pair{7000u, 7000u}}) {
        audio::useVirtualMixer(card(Selector::Mux));
        ASSERT_EQ(SelectOutputDevice(0), 0);
        audio::setVirtualMixerValues("wave", {before, before});
        audio::setVirtualMixerValues("master", {before, before});
        audio::setVirtualMixerValues("master mute", {1, 1});
        EXPECT_EQ(UnmuteOutput(), 0);
        EXPECT_EQ(values("wave")[0], after);
        EXPECT_EQ(values("master")[0], after);
        EXPECT_EQ(values("master mute")[0], 0u);
    }
}

// Guards the caller's fallback: a two-channel read of a mono line fails, one channel works.
TEST_F(FaderlibTest, TwoChannelReadOfAMonoLineFailsAndOneChannelWorks) {
    select(card(Selector::Mux));
    audio::setVirtualMixerValues("mic", {1234});
    std::uint32_t read[2] = {7, 7};
    EXPECT_EQ(GetMicOutputVolSetting(2, read), -1);
    EXPECT_EQ(GetMicOutputVolSetting(1, read), 0);
    EXPECT_EQ(read[0], 1234u);
    EXPECT_EQ(read[1], 0u);
}

// Guards counting, naming and selecting sources for each kind of selector.
TEST_F(FaderlibTest, SelectingASourceForEachSelectorKind) {
    for (Selector kind : {Selector::Mux, Selector::Mixer, Selector::None}) {
        SCOPED_TRACE(static_cast<int>(kind));
        faderlib::resetForTest();
        select(card(kind));
        ASSERT_EQ(GetNumberOfInputSources(), 3);
        char name[64];
        ASSERT_EQ(GetInputSourceDescription(2, name), 0);
        EXPECT_STREQ(name, "Stereo Mix");
        EXPECT_EQ(GetInputSourceDescription(3, name), -2);
        EXPECT_EQ(GetMicrophoneSourceIndex(), 1);
        EXPECT_EQ(GetOutputMixSourceIndex(), 2);

        ASSERT_EQ(SelectInputSource(1), 0);
        if (kind == Selector::None) {
            // Without a selector the chosen line is the only one left unmuted.
            EXPECT_EQ(values("Line In mute")[0], 1u);
            EXPECT_EQ(values("Mic mute")[0], 0u);
            EXPECT_EQ(values("Stereo Mix mute")[0], 1u);
        } else {
            EXPECT_EQ(values("selector"), (std::vector<std::uint32_t>{0, 1, 0}));
        }
        EXPECT_EQ(IsCurrentInputSourceSelected(1), 1);
        EXPECT_EQ(IsCurrentInputSourceSelected(0), 0);
        // The chosen source is audible and its volume is the input level's; it is unmuted
        // only while the microphone is held (a recording, a level test), then muted again.
        EXPECT_EQ(GetCurrentInputLevel(), 9);
        EXPECT_EQ(values("record mute")[0], 1u);
        audio::mixerHoldMicrophone();
        EXPECT_EQ(values("record mute")[0], 0u);
        EXPECT_EQ(values("Mic mute")[0], 0u);
        audio::mixerReleaseMicrophone();
        EXPECT_EQ(values("record mute")[0], 1u);
        EXPECT_EQ(values("Mic mute")[0], kind == Selector::None ? 0u : 1u);
        int32_t wave = 0, record = 0, selector = 0, source = 0;
        GetVolumeIDs(&wave, &record, &selector, &source);
        EXPECT_EQ(static_cast<std::uint32_t>(source),
                  audio::virtualMixerControlId("Mic volume"));
        EXPECT_EQ(
            static_cast<std::uint32_t>(selector),
            kind == Selector::None ? 0xFFFFFFFFu : audio::virtualMixerControlId("selector"));
    }
}

// Guards the user's settings: what selecting the devices changed (the speakers unmuted,
// quiet volumes raised) is given back when they are let go, and what the user changed
// since is left as the user left it.
TEST_F(FaderlibTest, DeselectingGivesBackWhatSelectingChanged) {
    audio::useVirtualMixer(card(Selector::Mux));
    audio::setVirtualMixerValues("master", {1000, 2000});
    audio::setVirtualMixerValues("master mute", {1, 1});
    audio::setVirtualMixerValues("wave", {500, 500});
    audio::setVirtualMixerValues("record", {0, 0});
    ASSERT_EQ(SelectOutputDevice(0), 0);
    ASSERT_EQ(SelectInputDevice(0), 0);
    ASSERT_EQ(SelectInputSource(1), 0);
    ASSERT_EQ(values("master mute")[0], 0u);
    ASSERT_GT(values("Mic volume")[0], 0u);
    const std::uint32_t users[2] = {3000, 3000};
    ASSERT_EQ(SetCurrentOutputVolSetting(2, users), 0);

    DeSelectInputDevice();
    DeSelectOutputDevice();
    const std::pair<const char*, std::vector<std::uint32_t>> expected[] = {
        {"master", {1000, 2000}}, {"master mute", {1, 1}}, {"wave", {3000, 3000}},
        {"Mic volume", {0, 0}},   {"record", {0, 0}},      {"record mute", {1, 1}},
        {"Mic mute", {1, 1}}};
    for (const auto& [tag, after] : expected) {
        EXPECT_EQ(values(tag), after) << tag;
    }
}

// Guards the program's fallback when no source is a microphone: it selects nothing.
TEST_F(FaderlibTest, NoMicrophoneSourceIsMinusTwo) {
    VirtualMixerSetup setup = card(Selector::Mux);
    auto& mux = setup.cards[0].destinations[1].controls.back();
    mux.items = {"Line In", "CD", "Stereo Mix"};
    setup.cards[0].destinations[1].sources[1].name = "CD";
    select(setup);
    EXPECT_EQ(GetMicrophoneSourceIndex(), -2);
}

// Guards device descriptions: trimmed, and blank ones still named.
TEST_F(FaderlibTest, OutputDescriptionsAreTrimmedAndNeverBlank) {
    VirtualMixerSetup setup = card(Selector::Mux);
    setup.outputs.push_back({"   ", 0, false});
    setup.outputs.push_back({"Gone", 0, true});
    audio::useVirtualMixer(setup);
    char name[64];
    EXPECT_EQ(GetOutputDeviceDescription(0, name), 0);
    EXPECT_STREQ(name, "Sound Card");
    EXPECT_EQ(GetOutputDeviceDescription(1, name), 0);
    EXPECT_STREQ(name, "Unknown Device");
    EXPECT_EQ(GetOutputDeviceDescription(2, name), -1);
    EXPECT_STREQ(name, "");
}

// Guards the microphone-line rule: only the first microphone line of the speakers counts.
TEST_F(FaderlibTest, OnlyTheFirstMicrophoneLineCounts) {
    for (const auto& [first, expected] : {std::pair{"Line", 0}, std::pair{"Front Mike", 1}}) {
        VirtualMixerSetup setup = card(Selector::Mux);
        auto& sources = setup.cards[0].destinations[0].sources;
        sources.insert(sources.begin(), {ComponentType::SrcMicrophone, first, first, 1, {}, {}});
        audio::useVirtualMixer(setup);
        ASSERT_EQ(SelectOutputDevice(0), 0);
        EXPECT_EQ(IsMicSourceAvailableOnMixerDest(), expected) << first;
    }
}

// Guards missing controls: reported, never a crash or a write to another control.
TEST_F(FaderlibTest, MissingControlsAreReported) {
    VirtualMixerSetup setup = card(Selector::Mux);
    auto& mic = setup.cards[0].destinations[0].sources[3].controls;
    mic.erase(mic.begin() + 1, mic.end());  // no mute, no on/off switch
    auto& wave = setup.cards[0].destinations[0].sources[0].controls;
    wave.pop_back();  // no wave mute
    select(setup);
    EXPECT_EQ(GetMicOutMuteSetting(), -1);
    EXPECT_EQ(SetMicOutSelectSetting(1), -1);
    EXPECT_EQ(UnmuteOutput(), -2);
    EXPECT_EQ(GetWaveOutMuteSetting(), -1);
}

// Guards every family before any device is selected: nothing is addressed.
TEST_F(FaderlibTest, NothingSelectedIsMinusOne) {
    audio::useVirtualMixer(card(Selector::Mux));
    std::uint32_t read[2] = {};
    EXPECT_EQ(GetCurrentOutputVolSetting(2, read), -1);
    EXPECT_EQ(SetCurrentInputVolSetting(1, read), -1);
    EXPECT_EQ(GetCurrentOutputLevel(), -1);
    EXPECT_EQ(SetCurrentInputLevel(50), -1);
    EXPECT_EQ(GetNumberOfInputSources(), -1);
    EXPECT_EQ(GetMicrophoneSourceIndex(), -1);
    EXPECT_EQ(SelectInputSource(0), -1);
    EXPECT_EQ(IsCurrentInputSourceSelected(0), 0);
    EXPECT_EQ(UnmuteOutput(), -1);
    EXPECT_EQ(SelectOutputDevice(2), -1);
    EXPECT_EQ(SelectInputDevice(1), -1);
}

// Guards selection on cards it cannot use: refused, not half-selected as a success.
TEST_F(FaderlibTest, UnusableCardsAreRefused) {
    struct Case {
        const char* name;
        void (*spoil)(VirtualMixerSetup&);
        int32_t output;
        int32_t input;
    };
    const Case cases[] = {
        {"no speakers volume",
         [](VirtualMixerSetup& s) {
             s.cards[0].destinations[0].controls.erase(s.cards[0].destinations[0].controls.begin());
         },
         -1, -1},
        {"does not open", [](VirtualMixerSetup& s) { s.cards[0].opens = false; }, -1, -1},
        {"no mixer", [](VirtualMixerSetup& s) { s.outputs[0].card = s.inputs[0].card = -1; }, -1,
         -1},
        {"no recording volume",
         [](VirtualMixerSetup& s) {
             s.cards[0].destinations[1].controls.erase(s.cards[0].destinations[1].controls.begin());
         },
         0, 0},
    };
    for (const Case& c : cases) {
        faderlib::resetForTest();
        VirtualMixerSetup setup = card(Selector::Mux);
        c.spoil(setup);
        audio::useVirtualMixer(setup);
        EXPECT_EQ(SelectOutputDevice(0), c.output) << c.name;
        EXPECT_EQ(SelectInputDevice(0), c.input) << c.name;
    }
}

// Guards the settings file: the MIDI device named in the user's settings picks its own
// line, whatever the current folder holds.
TEST_F(FaderlibTest, MidiDeviceNameComesFromTheUsersSettings) {
    std::filesystem::create_directories(m_dir.path("config/cantivo"));
    m_dir.writeText("config/cantivo/CANTIVO.INI", "[Selected midi device]\nDevice name=Synth B\n");
    m_dir.writeText("CANTIVO.INI", "[Selected midi device]\nDevice name=Synth A\n");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.path(""));
    select(card(Selector::Mux));
    std::filesystem::current_path(previous);
    EXPECT_EQ(faderlib::settingsPath(), m_dir.path("config/cantivo/CANTIVO.INI"));

    const std::uint32_t set[2] = {111, 222};
    ASSERT_EQ(SetCurrentMidiOutputVolSetting(2, set), 0);
    EXPECT_EQ(values("synth b"), (std::vector<std::uint32_t>{111, 222}));
    ASSERT_EQ(SetMidiOutMuteSetting(5), 0);
    EXPECT_EQ(values("synth b mute")[0], 1u);
}

// Guards the selector query's message boxes: a control that cannot be queried is told.
TEST_F(FaderlibTest, MixMuxSettingReportsAnUnreadableControl) {
    select(card(Selector::Mux));
    const std::uint32_t mux = audio::virtualMixerControlId("selector");
    platform::ScriptedMessageBoxes boxes;
    EXPECT_EQ(GetMixMuxSetting(0, mux, 0), 1);
    EXPECT_EQ(GetMixMuxSetting(0, mux, 3), -1);
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(GetMixMuxSetting(0, 9999, 0), -1);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, "Cannot Get Mixer Information");
    EXPECT_EQ(boxes.shown()[0].title, "");
}

// Guards notifications: a changed control reaches the window with its identifier.
TEST_F(FaderlibTest, ChangesAreNotifiedToTheCallbackWindow) {
    platform::MessageQueue window;
    SetCallbackWindow(window.handle());
    select(card(Selector::Mux));
    platform::Message drained;
    while (window.peek(drained)) {
    }
    ASSERT_EQ(SetCurrentOutputLevel(10), 0);
    platform::Message posted;
    ASSERT_TRUE(window.peek(posted));
    EXPECT_EQ(posted.message, audio::kMixerControlChangeMessage);
    int32_t wave = 0;
    GetVolumeIDs(&wave, nullptr, nullptr, nullptr);
    EXPECT_EQ(posted.lParam, wave);
    while (window.peek(drained)) {  // the input side has the same card open
    }
    // A deselected mixer notifies nobody.
    DeSelectOutputDevice();
    DeSelectInputDevice();
    ASSERT_EQ(SetCurrentOutputLevel(20), 0);
    EXPECT_FALSE(window.peek(posted));
    SetCallbackWindow(0);
}

}  // namespace
