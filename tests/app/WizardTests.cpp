// The audio configuration wizard on the virtual mixer, the virtual wave devices, the
// capture MIDI device and the manual clock.

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>

#include "ACWUnit.h"
#include "CantivoHarness.h"
#include "HelpsForm.h"
#include "OffsetSlider.h"
#include "SetMidiDeviceUnit.h"
#include "Process.h"
#include "Recslidr.h"
#include "SupportAddress.h"
#include "Vledrow.h"
#include "Vslider.h"
#include "WaveBuilder.h"
#include "audio/wave.h"
#include "platform/midi_device.h"
#include "voxcapt/voxcapt.h"

using namespace testing_support;
using audio::ComponentType;
using audio::ControlType;
using audio::VirtualMixerLine;
using Page = TAudioConfigWelcomeForm::Page;
using Verdict = TAudioConfigWelcomeForm::InputVerdict;

namespace {

struct CardState {
    std::uint32_t wave = 40000;
    std::uint32_t masterMute = 0;
    std::uint32_t waveMute = 0;
    std::uint32_t micMute = 0;
};

audio::VirtualMixerSetup card(const CardState& state) {
    VirtualMixerLine speakers{ComponentType::DstSpeakers, "Speakers", "Speakers", 2,
                              {mixerVolume("master", 50000), mixerSwitch(ControlType::Mute, "master mute", state.masterMute)}, {}};
    speakers.sources = {
        {ComponentType::SrcWaveOut, "Wave", "Wave", 2, {mixerVolume("wave", state.wave), mixerSwitch(ControlType::Mute, "wave mute", state.waveMute)}, {}},
        {ComponentType::SrcSynthesizer, "Synth", "Synth", 2, {mixerVolume("synth", 30000)}, {}},
        {ComponentType::SrcMicrophone, "Mic", "Microphone", 1, {mixerVolume("mic", 20000), mixerSwitch(ControlType::Mute, "mic mute", state.micMute)}, {}}};
    VirtualMixerLine recording{ComponentType::DstWaveIn, "Recording", "Recording", 2, {mixerVolume("record", 30000)}, {}};
    recording.sources.push_back({ComponentType::SrcMicrophone, "Mic", "Mic", 1, {mixerVolume("source", 25000)}, {}});
    recording.controls.push_back({ControlType::Mux, "Select", "selector", 0, 1, {"Mic"}, {1}});
    audio::VirtualMixerSetup setup;
    setup.cards.push_back({{speakers, recording}, true});
    setup.outputs = {{"Sound Card", 0, false}};
    setup.inputs = {{"Sound Card", 0, false}};
    return setup;
}

// A tone of `seconds` at `amplitude`, 16-bit mono at 22050 Hz, as raw samples.
std::vector<std::uint8_t> tone(double seconds, int amplitude) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(22050 * seconds));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>((i / 25) % 2 == 0 ? amplitude : -amplitude);
    }
    return samples16(samples);
}

// What the built-in synthesizer was sent while a test stood in for it.
struct FakeSynth {
    static std::mutex mutex;
    static std::vector<Captured> sent;
    class Device : public platform::MidiOutDevice {
    public:
        void shortMessage(std::uint32_t message) noexcept override {
            std::lock_guard lock(mutex);
            sent.push_back({platform::clockMicros(), static_cast<int>(message & 0xFF),
                            static_cast<int>((message >> 8) & 0x7F), static_cast<int>((message >> 16) & 0x7F)});
        }
        void reset() override {}
    };
    static platform::MidiError open(std::unique_ptr<platform::MidiOutDevice>& out) {
        out = std::make_unique<Device>();
        return platform::MidiError::Ok;
    }
};
std::mutex FakeSynth::mutex;
std::vector<Captured> FakeSynth::sent;

class WizardTest : public CantivoTest {
protected:
    void SetUp() override {
        CantivoTest::SetUp();
        programFolder = path("program/");
        std::filesystem::create_directories(programFolder);
        // A fifth of a second: the loop comes round quickly on the manual clock.
        writeTestSound(tone(0.2, 8000));
        audio::useVirtualMixer(card({}));
        audio::VirtualWaveSetup wave;
        wave.microphone = tone(3, 12000);
        audio::useVirtualWave(wave);
        FakeSynth::sent.clear();
        platform::setBuiltInSynthesizer(&FakeSynth::open);
    }
    void TearDown() override {
        CantivoTest::TearDown();
        platform::setBuiltInSynthesizer(nullptr);
        audio::useRealWave();
    }

    void writeTestSound(const std::vector<std::uint8_t>& samples) {
        const auto bytes = waveFile(pcmFormat(22050, 1, 16), samples);
        std::ofstream out(programFolder + TAudioConfigWelcomeForm::kTestSound, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::string testSoundPath() const { return programFolder + TAudioConfigWelcomeForm::kTestSound; }

    TAudioConfigWelcomeForm& wizard() { return *window().AudioConfigWelcomeForm; }
    // The window, and the wizard shown on its welcome page (not modal, so the test drives it).
    void start() {
        open();
        wizard().PrepareToShow(&window());
        wizard().show();
    }
    void goTo(Page page) {
        using F = TAudioConfigWelcomeForm;
        static constexpr void (F::*kNext[])() = {
            &F::AudioConfigNextButtonClick, &F::MasterVolumeConfigNextButtonClick,
            &F::MidiOutputConfigNextButtonClick, &F::VoiceRecordConfigNextButtonClick,
            &F::WaveOutputConfigNextButtonClick, &F::CombinedOutputConfigNextButtonClick};
        while (wizard().CurrentPage() != page) {
            (wizard().*kNext[static_cast<int>(wizard().CurrentPage())])();
        }
    }
    // The clock moves on by ticks of the wizard's timer, the window taking its messages.
    void run(int ms) {
        for (int done = 0; done < ms; done += TAudioConfigWelcomeForm::kAcwInterval) {
            tick(TAudioConfigWelcomeForm::kAcwInterval);
            window().PumpMessages();
            wizard().ACWTimerTimer();
        }
    }
    // How many times a sound has been started on the wave output.
    std::size_t soundsStarted() const { return audio::virtualWaveOutputs().size(); }
};

// ---- the microphone's mute, on every way out

enum class Way { CancelOnWelcome, CancelOnStep3, Finish, CloseBox, Escape, WindowGoes };

struct MuteCase {
    const char* name;
    Way way;
    std::uint32_t micMute;
};

class WizardMuteTest : public WizardTest, public ::testing::WithParamInterface<MuteCase> {};

// Guards against a wizard that leaves the microphone on the speakers during its tests, or
// leaves it muted (or unmuted) afterwards on one of its ways out.
TEST_P(WizardMuteTest, TheMicrophoneIsOffTheSpeakersWhileOpenAndGivenBack) {
    const MuteCase c = GetParam();
    audio::useVirtualMixer([&] { CardState s; s.micMute = c.micMute; return card(s); }());
    start();
    EXPECT_EQ(mixerValue("mic mute"), 1u) << "while the wizard is open";
    switch (c.way) {
        case Way::CancelOnWelcome: wizard().AudioConfigCancelButtonClick(); break;
        case Way::CancelOnStep3:
            goTo(Page::VoiceRecord);
            wizard().VoiceRecordConfigTestButtonClick();
            wizard().VoiceRecordConfigCancelButtonClick();
            break;
        case Way::Finish:
            goTo(Page::Complete);
            wizard().ProcessingModeNoRadioButton->setChecked(true);
            wizard().ProcessingModeFinishButtonClick();
            break;
        case Way::CloseBox: wizard().close(); break;
        case Way::Escape: QTest::keyClick(&wizard(), Qt::Key_Escape); break;
        case Way::WindowGoes: destroyWindow(); break;
    }
    if (c.way != Way::WindowGoes) {
        EXPECT_FALSE(wizard().isVisible());
        for (int i = 0; i < 20; ++i) window().PumpMessages();
    }
    EXPECT_EQ(mixerValue("mic mute"), c.micMute) << "after the wizard";
    EXPECT_FALSE(voxcapt::recordingView().active) << "no record test left running";
}

INSTANTIATE_TEST_SUITE_P(
    Ways, WizardMuteTest,
    ::testing::Values(MuteCase{"CancelOnWelcome", Way::CancelOnWelcome, 0},
                      MuteCase{"CancelOnStep3WhileMetering", Way::CancelOnStep3, 0},
                      MuteCase{"Finish", Way::Finish, 0}, MuteCase{"CloseBox", Way::CloseBox, 0},
                      MuteCase{"Escape", Way::Escape, 0}, MuteCase{"WindowGoes", Way::WindowGoes, 0},
                      MuteCase{"AlreadyMutedStaysMuted", Way::CancelOnStep3, 1}),
    CaseName());

// ---- the output level for step 1, and the mutes the wizard lifts

struct LevelCase {
    const char* name;
    std::uint32_t wave;  // the voice's volume before the wizard
    bool raised;
    void (TAudioConfigWelcomeForm::*leave)();
};

class WizardLevelTest : public WizardTest, public ::testing::WithParamInterface<LevelCase> {};

// Guards against a quiet output left at the raised level, a loud one touched at all, or the
// user's exact volume coming back rounded through the 0..99 scale.
TEST_P(WizardLevelTest, AQuietOutputIsRaisedForStepOneAndGivenBackExactly) {
    const LevelCase c = GetParam();
    audio::useVirtualMixer([&] { CardState s; s.wave = c.wave; return card(s); }());
    start();
    wizard().AudioConfigNextButtonClick();
    const long raisedBoxes = boxCount(
        "In order to make sure you can hear the sound being played we have turned up your Wave "
        "Out volume.  This may result in the sound being louder than you expect.");
    EXPECT_EQ(raisedBoxes, c.raised ? 1 : 0);
    EXPECT_EQ(mixerValue("wave"), c.raised ? 79u * 65535 / 100 : c.wave) << "during step 1";
    (wizard().*c.leave)();
    EXPECT_EQ(mixerValue("wave"), c.wave) << "after step 1";
}

INSTANTIATE_TEST_SUITE_P(
    Levels, WizardLevelTest,
    ::testing::Values(
        LevelCase{"QuietThenNext", 20000, true, &TAudioConfigWelcomeForm::MasterVolumeConfigNextButtonClick},
        LevelCase{"QuietThenBack", 20000, true, &TAudioConfigWelcomeForm::MasterVolumeConfigBackButtonClick},
        LevelCase{"QuietThenCancel", 20000, true, &TAudioConfigWelcomeForm::MasterVolumeConfigCancelButtonClick},
        LevelCase{"JustBelow79ThenNext", 51000, true, &TAudioConfigWelcomeForm::MasterVolumeConfigNextButtonClick},
        LevelCase{"At79LeftAlone", 51200, false, &TAudioConfigWelcomeForm::MasterVolumeConfigNextButtonClick},
        LevelCase{"LoudLeftAlone", 60000, false, &TAudioConfigWelcomeForm::MasterVolumeConfigCancelButtonClick}),
    CaseName());

// Guards against a muted output that makes every test silent, and against the wave line
// left unmuted once the wizard is gone.
TEST_F(WizardTest, MutedLinesAreUnmutedForTheTestsAndOnlyTheWaveLineMutedAgain) {
    for (bool finish : {false, true}) {
        audio::useVirtualMixer([] { CardState s; s.wave = 60000; return card(s); }());
        start();
        // Muted after the window's start, which makes the output audible itself.
        audio::setVirtualMixerValues("master mute", {1, 1});
        audio::setVirtualMixerValues("wave mute", {1, 1});
        wizard().AudioConfigNextButtonClick();
        EXPECT_EQ(mixerValue("master mute"), 0u);
        EXPECT_EQ(mixerValue("wave mute"), 0u);
        EXPECT_FALSE(wizard().MasterMuteNoteLabel->isHidden());
        const std::string unmuted = "Your Wave Out volume control was muted. It has been unmuted for this test";
        EXPECT_EQ(boxCount(unmuted), finish ? 2 : 1);
        if (finish) {
            goTo(Page::Complete);
            wizard().ProcessingModeNoRadioButton->setChecked(true);
            wizard().ProcessingModeFinishButtonClick();
        } else {
            wizard().MasterVolumeConfigCancelButtonClick();
        }
        EXPECT_EQ(mixerValue("wave mute"), 1u) << (finish ? "Finish" : "Cancel");
        EXPECT_EQ(mixerValue("master mute"), 0u) << "the master stays audible";
        destroyWindow();
    }
}

// ---- sliders and pages

// Guards against a slider wired to the wrong control, or pages that move the user's levels
// just by being shown.
TEST_F(WizardTest, EachSliderMovesItsOwnControlAndShowingAPageMovesNone) {
    struct Case { Page page; TVSlider* TAudioConfigWelcomeForm::*slider; const char* tag; std::uint32_t before; };
    start();
    const Case cases[] = {
        {Page::MasterVolume, &TAudioConfigWelcomeForm::MasterVolumeConfigVSlider, "master", 50000},
        {Page::MidiOutput, &TAudioConfigWelcomeForm::MidiOutputConfigVSlider, "synth", 30000},
        {Page::VoiceRecord, &TAudioConfigWelcomeForm::VoiceRecordVSlider, "source", 25000},
        {Page::WaveOutput, &TAudioConfigWelcomeForm::WaveOutputConfigVSlider, "wave", 40000},
        {Page::CombinedOutput, &TAudioConfigWelcomeForm::CombinedMidiOutputconfigVSlider, "synth", 30000},
        {Page::CombinedOutput, &TAudioConfigWelcomeForm::CombinedOutputconfigVSlider, "wave", 40000},
    };
    for (const Case& c : cases) {
        goTo(c.page);
        TVSlider* slider = wizard().*c.slider;
        EXPECT_EQ(mixerValue(c.tag), c.before) << c.tag << ": showing the page wrote nothing";
        EXPECT_EQ(slider->CurrentPos(), std::lround(c.before * 63.0 / 65535)) << c.tag;
        slider->SetCurrentPos(21);
        EXPECT_EQ(mixerValue(c.tag), 21845u) << c.tag;
        slider->SetCurrentPos(63);
        EXPECT_EQ(mixerValue(c.tag), 65535u) << c.tag;
        audio::setVirtualMixerValues(c.tag, {c.before, c.before});
    }
}

// Guards against captions out of step with the pages, a Back that skips a page, and the
// record slider not taken from the window's voice slider on the way back from step 4.
TEST_F(WizardTest, CaptionsFollowThePagesBothWays) {
    start();
    const std::vector<std::string> forward = {
        "Audio Configuration Wizard", "Audio Configuration Wizard - Step 1 of 5",
        "Audio Configuration Wizard - Step 2 of 5", "Audio Configuration Wizard - Step 3 of 5",
        "Audio Configuration Wizard - Step 4 of 5", "Audio Configuration Wizard - Step 5 of 5",
        "Audio Configuration Wizard - Complete"};
    std::vector<std::string> seen{wizard().windowTitle().toStdString()};
    for (Page page : {Page::MasterVolume, Page::MidiOutput, Page::VoiceRecord, Page::WaveOutput,
                      Page::CombinedOutput, Page::Complete}) {
        goTo(page);
        seen.push_back(wizard().windowTitle().toStdString());
        int visible = 0;
        for (QWidget* panel : {wizard().AudioConfigPanel, wizard().MasterVolumeConfigPanel,
                               wizard().MidiOutputConfigPanel, wizard().VoiceRecordConfigPanel,
                               wizard().WaveOutputConfigPanel, wizard().CombinedOutputConfigPanel,
                               wizard().ProcessingModePanel}) {
            visible += panel->isVisible() ? 1 : 0;
        }
        EXPECT_EQ(visible, 1) << seen.back();
    }
    EXPECT_EQ(seen, forward);

    window().WaveOutSlider->SetCurrentPos(17);
    std::vector<std::string> back;
    wizard().ProcessingModeBackButtonClick();
    back.push_back(wizard().windowTitle().toStdString());
    wizard().CombinedOutputConfigBackButtonClick();
    back.push_back(wizard().windowTitle().toStdString());
    wizard().WaveOutputConfigBackButtonClick();
    back.push_back(wizard().windowTitle().toStdString());
    EXPECT_EQ(wizard().VoiceRecordVSlider->CurrentPos(), 17);
    wizard().VoiceRecordConfigBackButtonClick();
    wizard().MidiOutputConfigBackButtonClick();
    wizard().MasterVolumeConfigBackButtonClick();
    back.push_back(wizard().windowTitle().toStdString());
    EXPECT_EQ(back, (std::vector<std::string>{forward[5], forward[4], forward[3], forward[0]}));
}

// ---- the test sound

struct LoopCase {
    const char* name;
    Page page;
    void (TAudioConfigWelcomeForm::*test)();
    void (TAudioConfigWelcomeForm::*stop)();  // nullptr: the window closes the wizard
};

class WizardLoopTest : public WizardTest, public ::testing::WithParamInterface<LoopCase> {};

// Guards against a test sound that plays once, or one that goes on (or leaves a note of
// the scale sounding) after its page's Stop, Next, Back, Cancel or close.
TEST_P(WizardLoopTest, TheTestSoundLoopsUntilItsTestEnds) {
    const LoopCase c = GetParam();
    start();
    goTo(c.page);
    (wizard().*c.test)();
    run(1000);
    EXPECT_GE(soundsStarted(), 3u) << "a fifth of a second, looped for a second";
    const auto outputs = audio::virtualWaveOutputs();
    for (std::size_t i = 0; i + 1 < outputs.size(); ++i) {
        EXPECT_EQ(outputs[i].size(), tone(0.2, 8000).size()) << "pass " << i << " played the whole sound";
    }
    if (c.stop != nullptr) {
        (wizard().*c.stop)();
    } else {
        wizard().close();
    }
    const std::size_t started = soundsStarted();
    run(1000);
    EXPECT_EQ(soundsStarted(), started) << "nothing starts again";
    EXPECT_FALSE(voxcapt::playbackView().playing);
    EXPECT_FALSE(wizard().ACWTimer->isActive());
    std::map<int, int> sounding;
    for (const Captured& m : captured()) {
        if ((m.status & 0xF0) == 0x90 && m.data2 > 0) ++sounding[m.data1];
        if ((m.status & 0xF0) == 0x80) --sounding[m.data1];
    }
    for (const auto& [note, count] : sounding) EXPECT_EQ(count, 0) << "note " << note << " left sounding";
}

using F = TAudioConfigWelcomeForm;
INSTANTIATE_TEST_SUITE_P(
    Stops, WizardLoopTest,
    ::testing::Values(
        LoopCase{"MasterStop", Page::MasterVolume, &F::MasterVolumeConfigTestButtonClick, &F::MasterVolumeConfigTestButtonClick},
        LoopCase{"MasterNext", Page::MasterVolume, &F::MasterVolumeConfigTestButtonClick, &F::MasterVolumeConfigNextButtonClick},
        LoopCase{"MasterBack", Page::MasterVolume, &F::MasterVolumeConfigTestButtonClick, &F::MasterVolumeConfigBackButtonClick},
        LoopCase{"WaveCancel", Page::WaveOutput, &F::WaveOutputConfigTestButtonClick, &F::WaveOutputConfigCancelButtonClick},
        LoopCase{"WaveClose", Page::WaveOutput, &F::WaveOutputConfigTestButtonClick, nullptr},
        LoopCase{"CombinedNext", Page::CombinedOutput, &F::CombinedOutputConfigTestButtonClick, &F::CombinedOutputConfigNextButtonClick},
        LoopCase{"CombinedClose", Page::CombinedOutput, &F::CombinedOutputConfigTestButtonClick, nullptr}),
    CaseName());

// Guards against a missing test sound that fails silently, or leaves the scale of step 5
// playing on its own.
TEST_F(WizardTest, AMissingTestSoundIsReportedAndStartsNothing) {
    std::filesystem::remove(testSoundPath());
    const std::string address = cvk::kSupportAddress;
    struct Case { Page page; void (F::*test)(); bool F::*flag; std::string text; };
    const Case cases[] = {
        {Page::MasterVolume, &F::MasterVolumeConfigTestButtonClick, &F::masterTest,
         "A required file : " + testSoundPath() + " was not found. Please contact " + address},
        {Page::WaveOutput, &F::WaveOutputConfigTestButtonClick, &F::waveTest,
         "A required file : " + testSoundPath() + " Does not exists. Please contect " + address},
        {Page::CombinedOutput, &F::CombinedOutputConfigTestButtonClick, &F::combinedTest,
         "A required file : " + testSoundPath() + " Does not exists. Please contect " + address},
    };
    start();
    for (const Case& c : cases) {
        goTo(c.page);
        const long before = boxCount(c.text);
        (wizard().*c.test)();
        EXPECT_EQ(boxCount(c.text), before + 1) << c.text;
        EXPECT_FALSE(wizard().*c.flag);
        EXPECT_EQ(soundsStarted(), 0u);
        EXPECT_FALSE(wizard().MidiPlayTimer->isActive()) << "the scale stopped too";
    }
    // The scale of step 5 gave its device back: step 2's can open it.
    wizard().CombinedOutputConfigBackButtonClick();
    wizard().WaveOutputConfigBackButtonClick();
    wizard().VoiceRecordConfigBackButtonClick();
    wizard().MidiOutputConfigTestButtonClick();
    EXPECT_TRUE(wizard().midiTest);
    wizard().MidiOutputConfigTestButtonClick();
}

// ---- the scale

struct ScaleCase {
    const char* name;
    const char* device;  // [Selected midi device] Device name
    bool onCapture;      // else on the default device
};

class WizardScaleTest : public WizardTest, public ::testing::WithParamInterface<ScaleCase> {};

// Guards against a scale on the wrong device, off its half-second beat, with notes that
// never end, or that does not come round again after the top note.
TEST_P(WizardScaleTest, TheScaleRepeatsOnTheNamedDeviceUntilStopped) {
    const ScaleCase c = GetParam();
    setting("Selected midi device", "Device name", c.device);
    start();
    goTo(Page::MidiOutput);
    wizard().MidiOutputConfigTestButtonClick();
    for (int step = 0; step < 10; ++step) {
        platform::advanceManualClock(TAudioConfigWelcomeForm::kScaleStepMs);
        wizard().MidiPlayTimerTimer();
    }
    wizard().MidiOutputConfigTestButtonClick();
    const std::vector<Captured> sent = c.onCapture ? captured() : FakeSynth::sent;
    EXPECT_EQ((c.onCapture ? FakeSynth::sent : captured()).size(), 0u) << "nothing on the other device";
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front().status, 0xC0);
    const std::uint64_t startedAt = sent.front().micros;
    EXPECT_EQ(sent.front().data1, 0);
    std::vector<int> notes;
    std::map<int, int> sounding;
    for (std::size_t i = 1; i < sent.size(); ++i) {
        const Captured& m = sent[i];
        if (m.isNoteOn()) {
            EXPECT_EQ(m.data2, 127);
            EXPECT_EQ(m.micros - startedAt, (notes.size() + 1) * 500000u) << "note " << notes.size();
            notes.push_back(m.data1);
            ++sounding[m.data1];
        } else {
            EXPECT_EQ(m.status, 0x80);
            --sounding[m.data1];
        }
    }
    EXPECT_EQ(notes, (std::vector<int>{60, 62, 64, 65, 67, 69, 71, 72, 60, 62}));
    for (const auto& [note, count] : sounding) EXPECT_EQ(count, 0) << "note " << note;
}

INSTANTIATE_TEST_SUITE_P(Devices, WizardScaleTest,
                         ::testing::Values(ScaleCase{"Named", "Capture", true},
                                           ScaleCase{"UnknownNameGoesToTheDefault", "Nobody", false},
                                           ScaleCase{"EmptyNameGoesToTheDefault", "", false}),
                         CaseName());

// ---- the microphone

struct InputCase {
    const char* name;
    int amplitude;
    Verdict verdict;
};

class WizardInputTest : public WizardTest, public ::testing::WithParamInterface<InputCase> {};

// Guards against a meter that shows nothing, the left level for the right, and words under
// it that call a silent or clipping microphone good.
TEST_P(WizardInputTest, TheRecordTestMetersTheMicrophoneAndSaysWhatItHears) {
    const InputCase c = GetParam();
    audio::VirtualWaveSetup wave;
    wave.microphone = tone(3, c.amplitude);
    audio::useVirtualWave(wave);
    start();
    goTo(Page::VoiceRecord);
    wizard().VoiceRecordConfigTestButtonClick();
    ASSERT_TRUE(wizard().recordTest);
    run(1000);
    const int level = c.amplitude * 16 / 32767;
    EXPECT_EQ(wizard().VoiceRecordVLEDRow->Level(), TVLEDRow::clampLevel(level * 3));
    EXPECT_EQ(wizard().CurrentVerdict(), c.verdict);
    EXPECT_EQ(wizard().VoiceRecordLevelLabel->text(), TAudioConfigWelcomeForm::VerdictText(c.verdict));
    wizard().VoiceRecordConfigTestButtonClick();
    EXPECT_EQ(wizard().VoiceRecordVLEDRow->Level(), 0);
    for (int i = 0; i < 20 && voxcapt::recordingView().active; ++i) run(50);
    EXPECT_FALSE(voxcapt::recordingView().active);
}

INSTANTIATE_TEST_SUITE_P(Inputs, WizardInputTest,
                         ::testing::Values(InputCase{"Silence", 0, Verdict::TooQuiet},
                                           InputCase{"Faint", 4000, Verdict::TooQuiet},
                                           InputCase{"Good", 12000, Verdict::Good},
                                           InputCase{"Clipping", 32767, Verdict::Clipping}),
                         CaseName());

// Guards against words that forget a clipped note at once, or never forget it.
TEST_F(WizardTest, TheWordsJudgeTheLastTwoSeconds) {
    audio::VirtualWaveSetup wave;
    wave.microphone = tone(0.3, 32767);
    const auto quiet = tone(5, 1000);
    wave.microphone.insert(wave.microphone.end(), quiet.begin(), quiet.end());
    audio::useVirtualWave(wave);
    start();
    goTo(Page::VoiceRecord);
    wizard().VoiceRecordConfigTestButtonClick();
    run(1500);
    EXPECT_EQ(wizard().CurrentVerdict(), Verdict::Clipping) << "within two seconds of the peak";
    run(1500);
    EXPECT_EQ(wizard().CurrentVerdict(), Verdict::TooQuiet) << "the peak is older than two seconds";
    wizard().VoiceRecordConfigTestButtonClick();
}

// Guards against a record test that claims to run when the microphone cannot be opened.
TEST_F(WizardTest, ARecordTestThatCannotStartSaysSo) {
    audio::VirtualWaveSetup wave;
    wave.inputOpenFails = true;
    audio::useVirtualWave(wave);
    start();
    goTo(Page::VoiceRecord);
    wizard().VoiceRecordConfigTestButtonClick();
    EXPECT_EQ(boxCount("Cannot open audio device .Make sure that it is not in use by another application"), 1);
    EXPECT_FALSE(wizard().recordTest);
    EXPECT_EQ(wizard().VoiceRecordConfigTestButton->text(), TAudioConfigWelcomeForm::kTest);
}

// Guards against Finish forgetting the processing-mode choice the user asked for.
TEST_F(WizardTest, FinishWithYesOpensTheProcessingModeChoice) {
    start();
    goTo(Page::Complete);
    wizard().ProcessingModeYesRadioButton->setChecked(true);
    const auto shown = whileShown(window().ProcessForm, [] {});
    wizard().ProcessingModeFinishButtonClick();
    EXPECT_TRUE(*shown);
    EXPECT_FALSE(wizard().isVisible());
}

}  // namespace

namespace {

// Guards against a help button that names the wrong file (or the right one in the wrong
// letter case, which Linux does not forgive) and against a missing text shown as nothing.
TEST_F(WizardTest, EachHelpButtonShowsItsOwnTextFromTheProgramFolder) {
    struct Case { std::function<void(cvkapp::TCantivo&)> click; const char* file; };
    using W = cvkapp::TCantivo;
    const Case cases[] = {
        {[](W& w) { w.AudioConfigWelcomeForm->MasterVolumeConfigHelpButtonClick(); }, "MasterVolume.txt"},
        {[](W& w) { w.AudioConfigWelcomeForm->nClick(); }, "MIDIVolume.txt"},
        {[](W& w) { w.AudioConfigWelcomeForm->VoiceRecordConfigHelpButtonClick(); }, "VoiceRecord.txt"},
        {[](W& w) { w.AudioConfigWelcomeForm->WaveOutputConfigHelpButtonClick(); }, "WaveOut.txt"},
        {[](W& w) { w.AudioConfigWelcomeForm->CombinedOutputConfigHelpButtonClick(); }, "CombinedOutput.txt"},
        {[](W& w) { w.MidiOutDeviceSelectForm->HelpButtonClick(); }, "SelectMIDIDevice.txt"},
        {[](W& w) { w.OffsetForm->HelpButtonClick(); }, "OffsetHelp.txt"},
    };
    for (const Case& c : cases) {
        std::ofstream(programFolder + c.file) << "How " << c.file << " helps.\n";
    }
    open();
    for (const Case& c : cases) {
        c.click(window());
        ASSERT_NE(sharedHelpsForm(), nullptr) << c.file;
        EXPECT_EQ(sharedHelpsForm()->HelpMemo->toPlainText().toStdString(), std::string("How ") + c.file + " helps.\n");
        EXPECT_EQ(sharedHelpsForm()->windowTitle().toStdString(), std::string("Help - ") + c.file);
    }
    std::filesystem::remove(programFolder + "WaveOut.txt");
    window().AudioConfigWelcomeForm->WaveOutputConfigHelpButtonClick();
    EXPECT_TRUE(sharedHelpsForm()->HelpMemo->toPlainText().contains(
        QString::fromStdString(programFolder + "WaveOut.txt")))
        << "a missing text says where it was looked for";
}

}  // namespace
