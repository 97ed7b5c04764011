// The wizard's tests: the test sound looped through the wave library, the scale on the
// MIDI device, and the microphone's meter with its words.

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <filesystem>

#include "ACWUnit.h"
#include "SupportAddress.h"
#include "Vledrow.h"
#include "platform/dialogs.h"

namespace {

constexpr const char* kNoInputDevice =
    "Cannot open audio device .Make sure that it is not in use by another application";
constexpr const char* kMissingStepOne = " was not found. Please contact ";
constexpr const char* kMissingLater = " Does not exists. Please contect ";


}  // namespace

void TAudioConfigWelcomeForm::MasterVolumeConfigTestButtonClick() {
    if (masterTest) {
        stopPageTest(Page::MasterVolume);
        return;
    }
    if (!startTestSound(kMissingStepOne)) {
        return;
    }
    masterTest = true;
    showStop(MasterVolumeConfigTestButton);
    updateTimer();
}

void TAudioConfigWelcomeForm::WaveOutputConfigTestButtonClick() {
    if (waveTest) {
        stopPageTest(Page::WaveOutput);
        return;
    }
    if (!startTestSound(kMissingLater)) {
        return;
    }
    waveTest = true;
    showStop(WaveOutputConfigTestButton);
    updateTimer();
}

void TAudioConfigWelcomeForm::MidiOutputConfigTestButtonClick() {
    if (midiTest) {
        stopPageTest(Page::MidiOutput);
        return;
    }
    if (!startScale()) {
        return;
    }
    midiTest = true;
    showStop(MidiOutputConfigTestButton);
}

void TAudioConfigWelcomeForm::CombinedOutputConfigTestButtonClick() {
    if (combinedTest) {
        stopPageTest(Page::CombinedOutput);
        return;
    }
    if (!startScale()) {
        return;
    }
    if (!startTestSound(kMissingLater)) {
        stopScale();
        return;
    }
    combinedTest = true;
    showStop(CombinedOutputConfigTestButton);
    updateTimer();
}

void TAudioConfigWelcomeForm::VoiceRecordConfigTestButtonClick() {
    if (recordTest) {
        stopPageTest(Page::VoiceRecord);
        return;
    }
    if (!m_hooks.startMonitorTest || !m_hooks.startMonitorTest(4096, false)) {
        showBox(kNoInputDevice, "Error");
        return;
    }
    recordTest = true;
    m_levelCount = 0;
    m_levelNext = 0;
    m_verdict = InputVerdict::None;
    VoiceRecordLevelLabel->clear();
    showStop(VoiceRecordConfigTestButton);
    updateTimer();
}

void TAudioConfigWelcomeForm::showStop(QPushButton* test) {
    // The button keeps the focus, so that Space or Enter stops what Alt+T started.
    test->setText(kStop);
    test->setFocus(Qt::OtherFocusReason);
}

void TAudioConfigWelcomeForm::stopPageTest(Page page) {
    switch (page) {
        case Page::MasterVolume:
            if (masterTest) {
                stopTestSound();
                masterTest = false;
            }
            MasterVolumeConfigTestButton->setText(kTest);
            break;
        case Page::MidiOutput:
            if (midiTest) {
                stopScale();
                midiTest = false;
            }
            MidiOutputConfigTestButton->setText(kTest);
            break;
        case Page::VoiceRecord:
            if (recordTest) {
                VoiceRecordVLEDRow->SetLevel(0);
                if (m_hooks.stopMonitorTest) {
                    m_hooks.stopMonitorTest();
                }
                recordTest = false;
                m_verdict = InputVerdict::None;
                VoiceRecordLevelLabel->clear();
            }
            VoiceRecordConfigTestButton->setText(kTest);
            break;
        case Page::WaveOutput:
            if (waveTest) {
                stopTestSound();
                waveTest = false;
            }
            WaveOutputConfigTestButton->setText(kTest);
            break;
        case Page::CombinedOutput:
            if (combinedTest) {
                stopScale();
                stopTestSound();
                combinedTest = false;
            }
            CombinedOutputConfigTestButton->setText(kTest);
            break;
        case Page::Welcome:
        case Page::Complete:
            break;
    }
    updateTimer();
}

void TAudioConfigWelcomeForm::stopAllTests() {
    for (Page page : {Page::MasterVolume, Page::MidiOutput, Page::VoiceRecord, Page::WaveOutput,
                      Page::CombinedOutput}) {
        stopPageTest(page);
    }
}

void TAudioConfigWelcomeForm::updateTimer() {
    const bool wanted = masterTest || recordTest || waveTest || combinedTest;
    if (wanted && !ACWTimer->isActive()) {
        ACWTimer->start();
    } else if (!wanted) {
        ACWTimer->stop();
    }
}

bool TAudioConfigWelcomeForm::startTestSound(const char* missingText) {
    const std::string folder = m_hooks.programFolder ? m_hooks.programFolder() : std::string();
    const std::string path = folder + kTestSound;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        showBox(std::string("A required file : ") + path + missingText + cvk::kSupportAddress, "Error");
        return false;
    }
    m_missingText = missingText;
    testFinished = false;
    // The wave library says itself why a sound would not start.
    m_soundPlaying = m_hooks.playFile && m_hooks.playFile(path);
    return m_soundPlaying;
}

void TAudioConfigWelcomeForm::stopTestSound() {
    if (m_soundPlaying && m_hooks.stopPlaying) {
        m_hooks.stopPlaying();
    }
    m_soundPlaying = false;
    testFinished = true;
}

void TAudioConfigWelcomeForm::TestPlaybackFinished() {
    m_soundPlaying = false;
    testFinished = true;
}

void TAudioConfigWelcomeForm::ACWTimerTimer() {
    if (recordTest && m_hooks.recordLevels) {
        std::int32_t left = 0;
        std::int32_t right = 0;
        m_hooks.recordLevels(&left, &right);
        VoiceRecordVLEDRow->SetLevel(right * 3);
        noteLevel(right);
    }
    if ((masterTest || waveTest || combinedTest) && testFinished) {
        // The sound has ended: it starts again, so it loops until the test stops. One that
        // will not start again ends its test rather than leave a Stop button over silence.
        if (!startTestSound(m_missingText != nullptr ? m_missingText : kMissingLater)) {
            const Page page = masterTest ? Page::MasterVolume : waveTest ? Page::WaveOutput : Page::CombinedOutput;
            stopPageTest(page);
        }
    }
}

// ---- the microphone's words

TAudioConfigWelcomeForm::InputVerdict TAudioConfigWelcomeForm::VerdictFor(int highestLevel) {
    // Levels are peaks in sixteenths of full scale: 15 and up is within half a decibel of
    // the top, where a louder note clips; below 3 (about -15 dB) the voice is lost in noise
    // once the song plays over it.
    if (highestLevel >= 15) return InputVerdict::Clipping;
    if (highestLevel >= 3) return InputVerdict::Good;
    return InputVerdict::TooQuiet;
}

QString TAudioConfigWelcomeForm::VerdictText(InputVerdict verdict) {
    switch (verdict) {
        case InputVerdict::TooQuiet:
            return "Too quiet: move the slider up, or sing closer to the microphone.";
        case InputVerdict::Good:
            return "Good level: sing like this when you record.";
        case InputVerdict::Clipping:
            return "Too loud, your voice is clipping: move the slider down.";
        case InputVerdict::None:
            break;
    }
    return {};
}

void TAudioConfigWelcomeForm::noteLevel(int level) {
    m_levels[static_cast<std::size_t>(m_levelNext)] = level;
    m_levelNext = (m_levelNext + 1) % kLevelHistory;
    m_levelCount = std::min(m_levelCount + 1, kLevelHistory);
    const int highest = *std::max_element(m_levels.begin(), m_levels.begin() + m_levelCount);
    const InputVerdict verdict = VerdictFor(highest);
    if (verdict != m_verdict) {
        m_verdict = verdict;
        VoiceRecordLevelLabel->setText(VerdictText(verdict));
    }
}

// ---- the scale

bool TAudioConfigWelcomeForm::startScale() {
    const std::string wanted = m_hooks.settings.readString
                                   ? m_hooks.settings.readString(dialogs::kMidiDeviceSection,
                                                                 dialogs::kMidiDeviceKey)
                                   : std::string();
    const platform::MidiError error = platform::midiOutOpen(&m_midiOut, platform::midiOutDeviceNamed(wanted));
    if (error != platform::MidiError::Ok) {
        m_midiOut = 0;
        showBox(platform::midiOutErrorText(error), "Error");
        return false;
    }
    platform::midiOutShortMessage(m_midiOut, 0xC0);  // program 0 on channel 1
    m_scaleStep = 0;
    m_soundingStep = -1;
    MidiPlayTimer->start(kScaleStepMs);
    return true;
}

void TAudioConfigWelcomeForm::MidiPlayTimerTimer() {
    MidiPlayTimer->stop();
    if (m_midiOut == 0) {
        return;
    }
    if (m_soundingStep >= 0) {
        sendScaleStep(m_soundingStep, false);
    }
    if (m_scaleStep >= static_cast<int>(kScale.size())) {
        m_scaleStep = 0;
    }
    sendScaleStep(m_scaleStep, true);
    m_soundingStep = m_scaleStep;
    MidiPlayTimer->start(kScaleStepMs);
    ++m_scaleStep;
}

void TAudioConfigWelcomeForm::sendScaleStep(int step, bool on) {
    const auto note = static_cast<std::uint32_t>(kScale[static_cast<std::size_t>(step)]);
    const std::uint32_t velocity = on ? 127 : 0;
    platform::midiOutShortMessage(m_midiOut, (on ? 0x90u : 0x80u) | note << 8 | velocity << 16);
}

void TAudioConfigWelcomeForm::stopScale() {
    MidiPlayTimer->stop();
    if (m_midiOut != 0) {
        if (m_soundingStep >= 0) {
            sendScaleStep(m_soundingStep, false);
        }
        platform::midiOutReset(m_midiOut);
        platform::midiOutClose(m_midiOut);
    }
    m_midiOut = 0;
    m_soundingStep = -1;
    m_scaleStep = 0;
}

void TAudioConfigWelcomeForm::SetMidiDeviceButtonClick() {
    // The device dialog tries the new device once, which it cannot while the scale holds it.
    const bool wasRunning = midiTest;
    stopPageTest(Page::MidiOutput);
    if (m_hooks.selectMidiDevice) {
        m_hooks.selectMidiDevice();
    }
    if (wasRunning) {
        MidiOutputConfigTestButtonClick();
    }
}

