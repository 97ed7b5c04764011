#pragma once

// The audio configuration wizard: five pages that set the sound levels by ear (master,
// MIDI, microphone, voice, and song against voice), each with a Test that plays the test
// sound, plays a scale or meters the microphone while the slider moves the real level.
// Nothing is stored in the settings file: the sliders write the mixer directly. The
// microphone stays off the speakers while the wizard is open, and every level the wizard
// changes on its own is given back on every way out.

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "DeviceSettings.h"
#include "platform/midi_out.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;
class TVLEDRow;
class TVSlider;

class TAudioConfigWelcomeForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 520;
    static constexpr int kClientHeight = 340;
    // Right of the main window's left edge, at its top.
    static constexpr int kLeftOffset = 130;
    static constexpr const char* kTestSound = "audio level test.wav";
    static constexpr const char* kTest = "&Test";
    static constexpr const char* kStop = "&Stop";
    static constexpr int kAcwInterval = 50;
    static constexpr int kScaleStepMs = 500;
    // The test scale, one key a step: C major from middle C, struck at full velocity.
    static constexpr std::array<int, 8> kScale = {60, 62, 64, 65, 67, 69, 71, 72};
    // The output level step 1 raises a quieter one to, so that the test can be heard.
    static constexpr int kAudibleOutputLevel = 79;
    // Peaks the microphone's words are judged on: the last two seconds of 50 ms ticks.
    static constexpr int kLevelHistory = 2000 / kAcwInterval;

    enum class Page { Welcome, MasterVolume, MidiOutput, VoiceRecord, WaveOutput, CombinedOutput, Complete };
    // What the microphone's peaks of the last two seconds say, in words under the meter.
    enum class InputVerdict { None, TooQuiet, Good, Clipping };

    struct Hooks {
        dialogs::SettingsFile settings;
        // The folder of the test sound and the help texts, ending in '/'.
        std::function<std::string()> programFolder;
        // The wave library's playback with the main window as its notification window:
        // true when the sound started.
        std::function<bool(const std::string& path)> playFile;
        std::function<void()> stopPlaying;
        // A recording without a file and without monitor; true when it runs.
        std::function<bool(int bufferBytes, bool monitor)> startMonitorTest;
        std::function<void()> stopMonitorTest;
        // The recording's levels, 0..16 each.
        std::function<void(std::int32_t* left, std::int32_t* right)> recordLevels;
        // The main window's voice slider.
        std::function<int()> voiceSliderPosition;
        // The MIDI device dialog, modal.
        std::function<void()> selectMidiDevice;
        // The preferences' "Change Processing Mode..." action.
        std::function<void()> configureProcessingMode;
        // Shows a help text file of the program's folder.
        std::function<void(const std::string& path)> help;
    };

    explicit TAudioConfigWelcomeForm(QWidget* parent = nullptr);
    ~TAudioConfigWelcomeForm() override;

    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    // The owner of the wizard's message boxes.
    void SetOwner(std::uint32_t owner) { m_owner = owner; }

    // The welcome page, its caption, and the place beside `mainWindow`, before it is shown.
    void PrepareToShow(const QWidget* mainWindow);

    // The main window's voice output has closed: a looping test sound starts again.
    void TestPlaybackFinished();

    Page CurrentPage() const { return m_page; }
    InputVerdict CurrentVerdict() const { return m_verdict; }
    // The words shown for a verdict.
    static QString VerdictText(InputVerdict verdict);
    // The verdict on the highest recording level (0..16) of the last two seconds.
    static InputVerdict VerdictFor(int highestLevel);

    // Handlers, by page.
    void FormCreate();
    void FormShow();
    void FormClose();
    void AudioConfigNextButtonClick();
    void AudioConfigCancelButtonClick();
    void MasterVolumeConfigNextButtonClick();
    void MasterVolumeConfigBackButtonClick();
    void MasterVolumeConfigCancelButtonClick();
    void MasterVolumeConfigTestButtonClick();
    void MasterVolumeConfigHelpButtonClick();
    void MasterVolumeConfigVSliderChange();
    void MidiOutputConfigNextButtonClick();
    void MidiOutputConfigBackButtonClick();
    void MidiOutputConfigCancelButtonClick();
    void MidiOutputConfigTestButtonClick();
    void nClick();
    void MidiOutputConfigVSliderChange();
    void SetMidiDeviceButtonClick();
    void VoiceRecordConfigNextButtonClick();
    void VoiceRecordConfigBackButtonClick();
    void VoiceRecordConfigCancelButtonClick();
    void VoiceRecordConfigTestButtonClick();
    void VoiceRecordConfigHelpButtonClick();
    void VoiceRecordVSliderChange();
    void WaveOutputConfigNextButtonClick();
    void WaveOutputConfigBackButtonClick();
    void WaveOutputConfigCancelButtonClick();
    void WaveOutputConfigTestButtonClick();
    void WaveOutputConfigHelpButtonClick();
    void WaveOutputConfigVSliderChange();
    void CombinedOutputConfigNextButtonClick();
    void CombinedOutputConfigBackButtonClick();
    void CombinedOutputConfigCancelButtonClick();
    void CombinedOutputConfigTestButtonClick();
    void CombinedOutputConfigHelpButtonClick();
    void CombinedMidiOutputconfigVSliderChange();
    void CombinedOutputconfigVSliderChange();
    void ProcessingModeFinishButtonClick();
    void ProcessingModeBackButtonClick();
    void ACWTimerTimer();
    void MidiPlayTimerTimer();
    // Esc and the close box close as Cancel does.
    void reject() override;

    // One panel per page, at the same place; exactly one is visible.
    QWidget* AudioConfigPanel = nullptr;
    QWidget* MasterVolumeConfigPanel = nullptr;
    QWidget* MidiOutputConfigPanel = nullptr;
    QWidget* VoiceRecordConfigPanel = nullptr;
    QWidget* WaveOutputConfigPanel = nullptr;
    QWidget* CombinedOutputConfigPanel = nullptr;
    QWidget* ProcessingModePanel = nullptr;

    QLabel* MasterMuteNoteLabel = nullptr;
    TVSlider* MasterVolumeConfigVSlider = nullptr;
    TVSlider* MidiOutputConfigVSlider = nullptr;
    TVSlider* VoiceRecordVSlider = nullptr;
    TVSlider* WaveOutputConfigVSlider = nullptr;
    TVSlider* CombinedMidiOutputconfigVSlider = nullptr;
    TVSlider* CombinedOutputconfigVSlider = nullptr;
    TVLEDRow* VoiceRecordVLEDRow = nullptr;
    QLabel* VoiceRecordLevelLabel = nullptr;
    QRadioButton* ProcessingModeYesRadioButton = nullptr;
    QRadioButton* ProcessingModeNoRadioButton = nullptr;

    QPushButton* AudioConfigNextButton = nullptr;
    QPushButton* AudioConfigCancelButton = nullptr;
    QPushButton* MasterVolumeConfigNextButton = nullptr;
    QPushButton* MasterVolumeConfigBackButton = nullptr;
    QPushButton* MasterVolumeConfigCancelButton = nullptr;
    QPushButton* MasterVolumeConfigTestButton = nullptr;
    QPushButton* MasterVolumeConfigHelpButton = nullptr;
    QPushButton* MidiOutputConfigNextButton = nullptr;
    QPushButton* MidiOutputConfigBackButton = nullptr;
    QPushButton* MidiOutputConfigCancelButton = nullptr;
    QPushButton* MidiOutputConfigTestButton = nullptr;
    QPushButton* MidiOutputConfigHelpButton = nullptr;
    QPushButton* SetMidiDeviceButton = nullptr;
    QPushButton* VoiceRecordConfigNextButton = nullptr;
    QPushButton* VoiceRecordConfigBackButton = nullptr;
    QPushButton* VoiceRecordConfigCancelButton = nullptr;
    QPushButton* VoiceRecordConfigTestButton = nullptr;
    QPushButton* VoiceRecordConfigHelpButton = nullptr;
    QPushButton* WaveOutputConfigNextButton = nullptr;
    QPushButton* WaveOutputConfigBackButton = nullptr;
    QPushButton* WaveOutputConfigCancelButton = nullptr;
    QPushButton* WaveOutputConfigTestButton = nullptr;
    QPushButton* WaveOutputConfigHelpButton = nullptr;
    QPushButton* CombinedOutputConfigNextButton = nullptr;
    QPushButton* CombinedOutputConfigBackButton = nullptr;
    QPushButton* CombinedOutputConfigCancelButton = nullptr;
    QPushButton* CombinedOutputConfigTestButton = nullptr;
    QPushButton* CombinedOutputConfigHelpButton = nullptr;
    QPushButton* ProcessingModeBackButton = nullptr;
    QPushButton* ProcessingModeFinishButton = nullptr;

    QTimer* ACWTimer = nullptr;
    QTimer* MidiPlayTimer = nullptr;

    // One flag per test; at most one runs, since every page change stops its page's test.
    bool masterTest = false;
    bool midiTest = false;
    bool recordTest = false;
    bool waveTest = false;
    bool combinedTest = false;
    // Cleared when the test sound starts, set when it ends or its test stops.
    bool testFinished = false;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* panel(Page page) const;
    QPushButton* forwardButton(Page page) const;
    void showPage(Page page);
    void loadSliders(Page page);
    // Every way out of the wizard: the tests stop and the mixer gets back what the wizard
    // changed on its own.
    void leave();
    void restoreOutputLevel();
    void showStop(QPushButton* test);
    void stopPageTest(Page page);
    void stopAllTests();
    void updateTimer();

    // The test sound, looped; false (and a box) when its file is missing or it would not
    // start.
    bool startTestSound(const char* missingText);
    void stopTestSound();
    bool startScale();
    void stopScale();
    void sendScaleStep(int step, bool on);
    void noteLevel(int level);

    void showBox(const std::string& text, const std::string& title);

    Hooks m_hooks;
    std::uint32_t m_owner = 0;
    Page m_page = Page::Welcome;

    // The microphone's mute when the wizard was shown; -1: nothing to give back.
    std::int32_t m_savedMicMute = -1;
    // The voice's volume before step 1 raised it, per channel; no channels: nothing to give
    // back (it was loud enough, or could not be read or raised).
    std::array<std::uint32_t, 2> m_savedOutput{};
    std::int32_t m_savedOutputChannels = 0;
    bool m_waveUnmuted = false;
    bool m_left = true;

    platform::MidiOutHandle m_midiOut = 0;
    int m_scaleStep = 0;
    int m_soundingStep = -1;
    // Whether the current test sound was started and has not yet ended.
    bool m_soundPlaying = false;
    const char* m_missingText = nullptr;

    std::array<int, kLevelHistory> m_levels{};
    int m_levelCount = 0;
    int m_levelNext = 0;
    InputVerdict m_verdict = InputVerdict::None;
};
