// File > Preferences and the dialogs behind it, driven through the window: each dialog is
// answered from inside its own modal loop, as a user would.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <functional>
#include <memory>
#include <optional>

#include "CantivoHarness.h"
#include "Config.h"
#include "Lyricbox.h"
#include "OffsetSlider.h"
#include "Prefrenc.h"
#include "Process.h"
#include "SetMidiDeviceUnit.h"

using namespace testing_support;
using cvkapp::TCantivo;

namespace {

enum class Close { Ok, Cancel, Escape };

void closeWith(QDialog* dialog, QPushButton* ok, QPushButton* cancel, Close how) {
    switch (how) {
        case Close::Ok:
            ok->click();
            break;
        case Close::Cancel:
            cancel->click();
            break;
        case Close::Escape:
            dialog->reject();  // Esc and the close box
            break;
    }
}

// A card whose speakers carry the microphone, with or without its mute.
audio::VirtualMixerSetup microphoneCard(bool microphoneOnOutput, bool withMute) {
    using audio::ComponentType;
    using audio::ControlType;
    audio::VirtualMixerLine speakers{ComponentType::DstSpeakers, "Speakers", "Speakers", 2,
                                     {{ControlType::Volume, "Volume", "master", 0, 65535, {}, {}}},
                                     {}};
    if (microphoneOnOutput) {
        audio::VirtualMixerLine mic{ComponentType::SrcMicrophone, "Mic", "Microphone", 1,
                                    {{ControlType::Volume, "Volume", "mic", 0, 65535, {}, {}}},
                                    {}};
        if (withMute) {
            mic.controls.push_back({ControlType::Mute, "Mute", "mic mute", 0, 1, {}, {1}});
        }
        speakers.sources.push_back(mic);
    }
    audio::VirtualMixerLine recording{ComponentType::DstWaveIn, "Recording", "Recording", 2, {}, {}};
    recording.sources.push_back({ComponentType::SrcMicrophone, "Mic", "Mic", 1,
                                 {{ControlType::Volume, "Volume", "record mic", 0, 65535, {}, {}}},
                                 {}});
    audio::VirtualMixerSetup setup;
    setup.cards.push_back({{speakers, recording}, true});
    setup.outputs = {{"Sound Card", 0, false}};
    setup.inputs = {{"Sound Card", 0, false}};
    return setup;
}

class PreferencesTest : public CantivoTest {
protected:
    TCantivo& openWatched() {
        TCantivo& w = open();
        w.Audio.UpdateOffsetForPlayBack = [this](std::int32_t units) {
            handed.push_back(units);
            return 1;
        };
        w.Audio.AudioStartRecord = [this](std::uint32_t, const char* target, std::int32_t rate,
                                          std::int32_t channels, std::int32_t bits,
                                          std::int32_t buffer, std::int32_t monitor,
                                          std::int32_t failWithoutMonitor) {
            starts.push_back({target, rate, channels, bits, buffer, monitor, failWithoutMonitor});
            return startSucceeds ? 1 : 0;
        };
        w.Audio.AudioStopRecord = [this] {
            ++stops;
            return 1;
        };
        w.Audio.AudioSuppressWave = [](std::int32_t flag) { return flag; };
        return w;
    }

    // File > Preferences with `act` run while it is open.
    void preferences(const std::function<void(TPreference&)>& act) {
        TPreference& dialog = *window().Preference;
        auto shown = whileShown(&dialog, [&] { act(dialog); });
        window().Preferences1->trigger();
        ASSERT_TRUE(*shown);
    }
    // Presses `button` of an open dialog, which opens `child`; `act` runs in the child.
    static void through(QPushButton* button, QDialog* child, const std::function<void()>& act) {
        auto shown = whileShown(child, act);
        button->click();
        EXPECT_TRUE(*shown) << "the dialog behind the button did not open";
    }

    struct Start {
        std::string target;
        std::int32_t rate, channels, bits, buffer, monitor, failWithoutMonitor;
    };
    std::vector<std::int32_t> handed;
    std::vector<Start> starts;
    int stops = 0;
    bool startSucceeds = true;
};

// Guards Cancel (or Esc) keeping a character setting the check box already applied, and
// OK losing it.
TEST_F(PreferencesTest, CancelRestoresTheCharacterSettingAndOkKeepsIt) {
    struct Case {
        bool before;
        Close how;
        bool after;
    };
    for (const Case c : {Case{false, Close::Ok, true}, Case{false, Close::Cancel, false},
                         Case{true, Close::Cancel, true}, Case{false, Close::Escape, false}}) {
        setting("Enable non english charecters", "Enabled", c.before ? "1" : "0");
        openWatched();
        bool appliedAtOnce = false;
        preferences([&](TPreference& p) {
            EXPECT_EQ(p.CharacterCheckBox->isChecked(), c.before);
            p.CharacterCheckBox->click();
            appliedAtOnce = window().LyricBox1->nonEnglishCharacters() == !c.before;
            closeWith(&p, p.OKButton, p.CancelButton, c.how);
        });
        EXPECT_TRUE(appliedAtOnce);
        EXPECT_EQ(window().NonEnglishCharacters, c.after) << static_cast<int>(c.how);
        EXPECT_EQ(window().LyricBox1->nonEnglishCharacters(), c.after);
        destroyWindow();
    }
}

// Guards the offset's hand-over: Play hands the whole offset, a move during playback the
// difference, Cancel nothing back, and the next Play the position Cancel restored.
TEST_F(PreferencesTest, TheOffsetIsHandedAsTheSliderMoves) {
    struct Case {
        const char* name;
        int stored;
        bool playFirst;
        std::vector<int> moves;  // by the user, with the offset dialog open
        Close how;
        std::vector<std::int32_t> whileOpen;
        std::vector<std::int32_t> atNextPlay;
        int savedAtClose;
    };
    const Case cases[] = {
        {"PlayThenMoveTo1", 3, true, {1}, Close::Ok, {-3, 2}, {-1}, 1},
        {"MoveTo4ThenCancel", 0, true, {4}, Close::Cancel, {-4}, {}, 0},
        {"MovesAddUp", 0, true, {2, -3}, Close::Ok, {-2, 5}, {3}, -3},
        {"EscapeRestores", 2, false, {5}, Close::Escape, {-5}, {-2}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setting("Configuration", "Slider Position", std::to_string(c.stored));
        openWatched();
        handed.clear();
        if (c.playFirst) window().ReapplyVoiceOffset();
        preferences([&](TPreference& p) {
            through(p.OffsetButton, window().OffsetForm, [&] {
                TOffsetForm& form = *window().OffsetForm;
                for (int position : c.moves) form.PlaybackDistanceSlider->setValue(position);
                closeWith(&form, form.OKButton, form.CancelButton, c.how);
            });
            p.OKButton->click();
        });
        EXPECT_EQ(handed, c.whileOpen);
        handed.clear();
        window().ReapplyVoiceOffset();
        EXPECT_EQ(handed, c.atNextPlay);
        ASSERT_TRUE(window().FormClose());
        EXPECT_EQ(intSetting("Configuration", "Slider Position"), c.savedAtClose);
        destroyWindow();
    }
}

// Guards a stored offset outside the slider's range reaching the voice, or staying in the
// file.
TEST_F(PreferencesTest, AStoredOffsetOutOfRangeBecomesZeroAndIsWrittenBack) {
    struct Case {
        const char* stored;
        int position;
    };
    for (const Case c : {Case{"25", 0}, Case{"-11", 0}, Case{"-10", -10}, Case{"x", 0}}) {
        setting("Configuration", "Slider Position", c.stored);
        openWatched();
        EXPECT_EQ(window().OffsetForm->Position(), c.position) << c.stored;
        EXPECT_EQ(intSetting("Configuration", "Slider Position"), c.position) << c.stored;
        EXPECT_EQ(window().VoiceOffset, 0);
        destroyWindow();
    }
}

// Guards the buffer test: rounded down to a multiple of 4 and at least 16 for the test, no
// minimum for what OK stores, nothing stored by Cancel, and a running test stopped however
// the dialog closes.
TEST_F(PreferencesTest, TheBufferTestAndWhatItStores) {
    struct Case {
        int slider;
        Close how;
        int testBuffer;
        int stored;
    };
    for (const Case c : {Case{5, Close::Ok, 16, 4}, Case{4097, Close::Ok, 4096, 4096},
                         Case{3, Close::Ok, 16, 0}, Case{1001, Close::Cancel, 1000, 2048},
                         Case{1001, Close::Escape, 1000, 2048}}) {
        SCOPED_TRACE(c.slider);
        setting("Configuration", "Buffer Size (bytes) of each buffer", "2048");
        openWatched();
        starts.clear();
        stops = 0;
        bool locked = false;
        preferences([&](TPreference& p) {
            through(p.ProcessButton, window().ProcessForm, [&] {
                TProcessForm& mode = *window().ProcessForm;
                through(mode.ConfigureButton, window().ConfigSoftwareForm, [&] {
                    TConfigSoftwareForm& test = *window().ConfigSoftwareForm;
                    EXPECT_EQ(test.CVKSlider->value(), 2048);
                    test.CVKSlider->setValue(c.slider);
                    test.TestStopButton->click();
                    locked = test.testRunning && !test.OKButton->isEnabled() &&
                             !test.CVKSlider->isEnabled() &&
                             test.TestStopButton->text() == "Stop and Adjust";
                    // OK and Cancel wait for "Stop and Adjust"; the close box ends the test.
                    if (c.how != Close::Escape) test.TestStopButton->click();
                    closeWith(&test, test.OKButton, test.CancelButton, c.how);
                    EXPECT_FALSE(test.testRunning);
                    EXPECT_EQ(test.TestStopButton->text(), "Test Now!");
                });
                mode.OKButton->click();
            });
            p.OKButton->click();
        });
        EXPECT_TRUE(locked);
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0].target, "");
        EXPECT_EQ(starts[0].buffer, c.testBuffer);
        EXPECT_EQ(starts[0].monitor, -1);
        EXPECT_EQ(stops, 1) << "the test was left running or stopped twice";
        EXPECT_EQ(window().RecordBufferSize, c.stored);
        EXPECT_EQ(intSetting("Configuration", "Configured"), 1);
        destroyWindow();
    }
}

// Guards a failed monitor test being taken for a running one: the user is told, and the
// dialog stays as it was.
TEST_F(PreferencesTest, AMonitorTestThatCannotStartIsReported) {
    openWatched();
    startSucceeds = false;
    TConfigSoftwareForm& test = *window().ConfigSoftwareForm;
    auto shown = whileShown(&test, [&] {
        test.TestStopButton->click();
        EXPECT_FALSE(test.testRunning);
        EXPECT_EQ(test.TestStopButton->text(), "Test Now!");
        EXPECT_TRUE(test.OKButton->isEnabled());
        test.CancelButton->click();
    });
    test.exec();
    ASSERT_TRUE(*shown);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              "Cannot open audio device .Make sure that it is not in use by another application");
    EXPECT_EQ(boxes.shown()[0].title, "Error");
    EXPECT_EQ(stops, 0);
}

// Guards the monitor test playing the voice twice: the card's own path from microphone to
// speakers is shut while the program plays the voice back.
TEST_F(PreferencesTest, TheMonitorTestShutsTheCardsOwnPath) {
    audio::useVirtualMixer(microphoneCard(true, true));
    audio::setVirtualMixerValues("mic mute", {0});
    openWatched();
    ASSERT_TRUE(window().StartMonitorTest(256, true));
    EXPECT_EQ(audio::virtualMixerValues("mic mute"), std::vector<std::uint32_t>{1});
    window().StopMonitorTest();
    EXPECT_EQ(stops, 1);
}

// Guards the device choice: the default stored as an empty name, a name that has gone
// shown as the default while the file keeps it, and letter case counting.
TEST_F(PreferencesTest, TheMidiDeviceChoice) {
    struct Case {
        const char* name;
        const char* stored;
        const char* shown;  // in Preferences and selected in the list
        bool pressDefault;
        Close how;
        const char* storedAfter;
    };
    const Case cases[] = {
        {"DefaultStoresEmpty", "Capture", "Capture", true, Close::Ok, ""},
        {"GoneKeptOnCancel", "Gone Synth", "Default MIDI Device", false, Close::Cancel, "Gone Synth"},
        {"CaseCounts", "capture", "Default MIDI Device", false, Close::Cancel, "capture"},
        {"GoneReplacedOnOk", "Gone Synth", "Default MIDI Device", false, Close::Ok, ""},
        {"KeptOnOk", "Capture", "Capture", false, Close::Ok, "Capture"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openWatched();
        setting("Selected midi device", "Device name", c.stored);
        std::string afterwards;
        preferences([&](TPreference& p) {
            EXPECT_EQ(p.MidiDeviceDisplayBox->text().toStdString(), c.shown);
            through(p.MidiDeviceSelectButton, window().MidiOutDeviceSelectForm, [&] {
                TMidiOutDeviceSelectForm& form = *window().MidiOutDeviceSelectForm;
                EXPECT_EQ(form.MidiOutDeviceBox->itemText(0), "Default MIDI Device");
                EXPECT_GT(form.MidiOutDeviceBox->count(), 1) << "no devices listed";
                EXPECT_EQ(form.MidiOutDeviceBox->currentText().toStdString(), c.shown);
                if (c.pressDefault) form.DefaultButton->click();
                closeWith(&form, form.OKButton, form.CancelButton, c.how);
            });
            afterwards = p.MidiDeviceDisplayBox->text().toStdString();
            p.OKButton->click();
        });
        EXPECT_EQ(stringSetting("Selected midi device", "Device name"), c.storedAfter);
        EXPECT_EQ(afterwards, *c.storedAfter ? c.storedAfter : "Default MIDI Device");
        destroyWindow();
    }
}

// Guards the hardware choice being offered on a card that cannot pass the microphone
// through: without the microphone on the output, or without its mute.
TEST_F(PreferencesTest, HardwarePassThroughNeedsTheMicrophoneAndItsMute) {
    struct Case {
        const char* name;
        bool microphoneOnOutput;
        bool withMute;
        bool software;
        bool hardwareOffered;
        bool supportedText;
    };
    const Case cases[] = {
        {"MuteHardwareMode", true, true, false, true, true},
        {"NoMuteHardwareMode", true, false, false, false, false},
        {"NoMicrophone", false, false, true, false, false},
        {"MuteSoftwareMode", true, true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        audio::useVirtualMixer(microphoneCard(c.microphoneOnOutput, c.withMute));
        setting("Configuration", "Software", c.software ? "1" : "0");
        openWatched();
        TProcessForm& mode = *window().ProcessForm;
        auto shown = whileShown(&mode, [&] {
            EXPECT_EQ(mode.HardRadioButton->isEnabled(), c.hardwareOffered);
            EXPECT_EQ(mode.SoftRadioButton->isChecked(), c.software);
            EXPECT_EQ(mode.ConfigureButton->isEnabled(), c.software);
            EXPECT_EQ(mode.H1Label->text() == TProcessForm::kNotSupported, !c.supportedText);
            mode.CancelButton->click();
        });
        mode.exec();
        EXPECT_TRUE(*shown);
        destroyWindow();
        audio::useVirtualMixer({});
    }
}

// Guards the processing mode: OK takes the checked choice, Cancel leaves it, and
// Preferences shows the mode in force afterwards.
TEST_F(PreferencesTest, TheProcessingModeChoice) {
    struct Case {
        bool hardware;
        Close how;
        bool softwareAfter;
    };
    audio::useVirtualMixer(microphoneCard(true, true));
    for (const Case c : {Case{true, Close::Ok, false}, Case{true, Close::Cancel, true},
                         Case{false, Close::Ok, true}}) {
        openWatched();
        std::string modeShown;
        preferences([&](TPreference& p) {
            through(p.ProcessButton, window().ProcessForm, [&] {
                TProcessForm& mode = *window().ProcessForm;
                (c.hardware ? mode.HardRadioButton : mode.SoftRadioButton)->click();
                EXPECT_EQ(mode.ConfigureButton->isEnabled(), !c.hardware);
                closeWith(&mode, mode.OKButton, mode.CancelButton, c.how);
            });
            modeShown = p.ModeDisplayBox->text().toStdString();
            p.OKButton->click();
        });
        EXPECT_EQ(window().SoftwareProcessing, c.softwareAfter);
        EXPECT_EQ(modeShown, c.softwareAfter ? "Software Processing" : "Hardware Pass-Through");
        ASSERT_TRUE(window().FormClose());
        EXPECT_EQ(intSetting("Configuration", "Software"), c.softwareAfter ? 1 : 0);
        destroyWindow();
        setting("Configuration", "Software", "1");
    }
}

// Guards the mode and device being changed under a playing song.
TEST_F(PreferencesTest, ModeAndDeviceAreLockedWhileASongPlays) {
    openWatched();
    openSong(song("song.mid", noteSong(8)));
    window().PlayButtonClick();
    ASSERT_TRUE(window().SongPlaying);
    preferences([&](TPreference& p) {
        EXPECT_FALSE(p.ProcessButton->isEnabled());
        EXPECT_FALSE(p.MidiDeviceSelectButton->isEnabled());
        EXPECT_TRUE(p.OffsetButton->isEnabled());
        p.CancelButton->click();
    });
    window().StopButtonClick();
    preferences([&](TPreference& p) {
        EXPECT_TRUE(p.ProcessButton->isEnabled());
        EXPECT_TRUE(p.MidiDeviceSelectButton->isEnabled());
        p.CancelButton->click();
    });
}

}  // namespace
