#include "ACWUnit.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>

#include <cmath>

#include "Vledrow.h"
#include "Vslider.h"
#include "faderlib/faderlib.h"
#include "platform/dialogs.h"

namespace {

constexpr const char* kTitle = "Audio Configuration Wizard";
constexpr const char* kBoxTitle = "Cantivo Karaoke";
constexpr const char* kMasterUnmuted =
    "Your master volume control was muted.  It has been unmuted for this test.";
constexpr const char* kWaveUnmuted =
    "Your Wave Out volume control was muted. It has been unmuted for this test";
constexpr const char* kOutputRaised =
    "In order to make sure you can hear the sound being played we have turned up your Wave "
    "Out volume.  This may result in the sound being louder than you expect.";

constexpr int kSliderTop = 0;
constexpr int kSliderBottom = 63;
constexpr double kMixerFull = 65535.0;

std::uint32_t sliderToMixer(int position) {
    return static_cast<std::uint32_t>(std::lround(position * kMixerFull / kSliderBottom));
}

int mixerToSlider(std::uint32_t value) {
    return static_cast<int>(std::lround(value * static_cast<double>(kSliderBottom) / kMixerFull));
}

using VolumeGetter = std::int32_t (*)(std::int32_t, std::uint32_t*);
using VolumeSetter = std::int32_t (*)(std::int32_t, const std::uint32_t*);

// Reads a volume on two channels, or on one where two cannot be read: the channels read,
// 0 when the control cannot be read at all.
std::int32_t readVolume(VolumeGetter get, std::uint32_t* values) {
    if (get(2, values) == 0) {
        return 2;
    }
    return get(1, values) == 0 ? 1 : 0;
}

// The slider shows the control's volume; a control that cannot be read leaves it where it
// was. Loading writes nothing back: walking through the pages leaves every level as it is.
void loadSlider(TVSlider* slider, VolumeGetter get) {
    std::uint32_t values[2] = {0, 0};
    if (readVolume(get, values) == 0) {
        return;
    }
    const QSignalBlocker quiet(slider);
    slider->SetCurrentPos(mixerToSlider(values[0]));
}

void writeSlider(const TVSlider* slider, VolumeSetter set) {
    // A failed write is not reported: the slider simply has no effect, which the page's
    // help explains.
    const std::uint32_t value = sliderToMixer(slider->CurrentPos());
    set(1, &value);
}

QLabel* text(const QString& words, QWidget* panel, const QRect& place) {
    auto* label = new QLabel(words, panel);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(place);
    return label;
}

QLabel* heading(const QString& words, QWidget* panel) {
    QLabel* label = text(words, panel, {16, 12, TAudioConfigWelcomeForm::kClientWidth - 32, 24});
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    label->setFont(font);
    return label;
}

QPushButton* button(const QString& caption, QWidget* panel, int left, int top, int width = 90) {
    auto* b = new QPushButton(caption, panel);
    b->setGeometry(left, top, width, 27);
    return b;
}

TVSlider* volumeSlider(QWidget* panel, int left, const QString& caption) {
    auto* slider = new TVSlider(panel);
    slider->SetLoLimit(kSliderTop);
    slider->SetHiLimit(kSliderBottom);
    slider->SetCurrentPos(50);
    slider->setGeometry(left, 52, 24, 200);
    auto* label = new QLabel(caption, panel);
    label->setAlignment(Qt::AlignHCenter);
    label->setGeometry(left - 28, 256, 80, 18);
    return slider;
}

// The bottom row every step shares: Back, Next (or Finish) and Cancel.
constexpr int kRowTop = TAudioConfigWelcomeForm::kClientHeight - 42;

}  // namespace

TAudioConfigWelcomeForm::TAudioConfigWelcomeForm(QWidget* parent) : QDialog(parent) { FormCreate(); }

TAudioConfigWelcomeForm::~TAudioConfigWelcomeForm() {
    // A wizard taken down with its window while it runs leaves nothing sounding or changed.
    if (!m_left) {
        leave();
    }
}

void TAudioConfigWelcomeForm::FormCreate() {
    setObjectName("AudioConfigWelcomeForm");
    setWindowTitle(kTitle);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    const QRect whole(0, 0, kClientWidth, kClientHeight);
    const QRect words(16, 48, 300, 200);
    auto makePanel = [&](const char* name) {
        auto* p = new QWidget(this);
        p->setObjectName(name);
        p->setGeometry(whole);
        p->hide();
        return p;
    };
    const int back = kClientWidth - 3 * 100 - 6;
    const int next = back + 100;
    const int cancel = next + 100;

    AudioConfigPanel = makePanel("AudioConfigPanel");
    heading("Welcome", AudioConfigPanel);
    text("This wizard sets your sound levels once, by ear: the master volume, the volume of "
         "the songs, your microphone, the volume of your recorded voice, and the balance of "
         "song against voice.\n\nEach step has a Test button that plays a sound, plays a "
         "scale or shows your microphone's level while you move the slider. The sliders move "
         "the real levels on your sound server, the same ones your desktop's volume control "
         "shows.\n\nYou can run this wizard again at any time from File > Audio "
         "Configuration Wizard.",
         AudioConfigPanel, {16, 48, kClientWidth - 32, 220});
    AudioConfigNextButton = button("&Next >", AudioConfigPanel, next, kRowTop);
    AudioConfigCancelButton = button("Cancel", AudioConfigPanel, cancel, kRowTop);

    MasterVolumeConfigPanel = makePanel("MasterVolumeConfigPanel");
    heading("Master volume", MasterVolumeConfigPanel);
    text("Press Test: a short tune plays over and over. Move the slider until it sounds "
         "comfortably loud through your speakers or headphones, then press Stop.\n\nThis is "
         "the volume of your sound output as a whole.",
         MasterVolumeConfigPanel, words);
    MasterMuteNoteLabel = text(kMasterUnmuted, MasterVolumeConfigPanel, {16, 200, 300, 44});
    MasterMuteNoteLabel->hide();
    MasterVolumeConfigVSlider = volumeSlider(MasterVolumeConfigPanel, 400, "Master");
    MasterVolumeConfigTestButton = button(kTest, MasterVolumeConfigPanel, 16, 252);
    MasterVolumeConfigHelpButton = button("&Help", MasterVolumeConfigPanel, 116, 252);
    MasterVolumeConfigBackButton = button("< &Back", MasterVolumeConfigPanel, back, kRowTop);
    MasterVolumeConfigNextButton = button("&Next >", MasterVolumeConfigPanel, next, kRowTop);
    MasterVolumeConfigCancelButton = button("Cancel", MasterVolumeConfigPanel, cancel, kRowTop);

    MidiOutputConfigPanel = makePanel("MidiOutputConfigPanel");
    heading("Song (MIDI) volume", MidiOutputConfigPanel);
    text("Press Test: a scale plays on the MIDI device the songs play on. Move the slider "
         "until the scale is as loud as you want the music, then press Stop.\n\nTo play "
         "the songs on another device, press Set MIDI Device.",
         MidiOutputConfigPanel, words);
    MidiOutputConfigVSlider = volumeSlider(MidiOutputConfigPanel, 400, "MIDI");
    MidiOutputConfigTestButton = button(kTest, MidiOutputConfigPanel, 16, 252);
    MidiOutputConfigHelpButton = button("&Help", MidiOutputConfigPanel, 116, 252);
    SetMidiDeviceButton = button("&Set MIDI Device...", MidiOutputConfigPanel, 216, 252, 140);
    MidiOutputConfigBackButton = button("< &Back", MidiOutputConfigPanel, back, kRowTop);
    MidiOutputConfigNextButton = button("&Next >", MidiOutputConfigPanel, next, kRowTop);
    MidiOutputConfigCancelButton = button("Cancel", MidiOutputConfigPanel, cancel, kRowTop);

    VoiceRecordConfigPanel = makePanel("VoiceRecordConfigPanel");
    heading("Microphone level", VoiceRecordConfigPanel);
    text("Press Test and sing into your microphone as loud as you will sing along. The meter "
         "shows what is recorded. Move the slider until the loudest parts light most of the "
         "meter without reaching the top, then press Stop.\n\nYou will not hear yourself "
         "during this test.",
         VoiceRecordConfigPanel, words);
    VoiceRecordVSlider = volumeSlider(VoiceRecordConfigPanel, 380, "Record");
    VoiceRecordVLEDRow = new TVLEDRow(VoiceRecordConfigPanel);
    VoiceRecordVLEDRow->move(440, 52);
    VoiceRecordLevelLabel = text({}, VoiceRecordConfigPanel, {16, 200, 330, 44});
    VoiceRecordLevelLabel->setObjectName("VoiceRecordLevelLabel");
    VoiceRecordConfigTestButton = button(kTest, VoiceRecordConfigPanel, 16, 252);
    VoiceRecordConfigHelpButton = button("&Help", VoiceRecordConfigPanel, 116, 252);
    VoiceRecordConfigBackButton = button("< &Back", VoiceRecordConfigPanel, back, kRowTop);
    VoiceRecordConfigNextButton = button("&Next >", VoiceRecordConfigPanel, next, kRowTop);
    VoiceRecordConfigCancelButton = button("Cancel", VoiceRecordConfigPanel, cancel, kRowTop);

    WaveOutputConfigPanel = makePanel("WaveOutputConfigPanel");
    heading("Voice volume", WaveOutputConfigPanel);
    text("Press Test: the tune plays again, this time at the volume your recorded voice "
         "plays back with. Move the slider until it sounds right, then press Stop.",
         WaveOutputConfigPanel, words);
    WaveOutputConfigVSlider = volumeSlider(WaveOutputConfigPanel, 400, "Voice");
    WaveOutputConfigTestButton = button(kTest, WaveOutputConfigPanel, 16, 252);
    WaveOutputConfigHelpButton = button("&Help", WaveOutputConfigPanel, 116, 252);
    WaveOutputConfigBackButton = button("< &Back", WaveOutputConfigPanel, back, kRowTop);
    WaveOutputConfigNextButton = button("&Next >", WaveOutputConfigPanel, next, kRowTop);
    WaveOutputConfigCancelButton = button("Cancel", WaveOutputConfigPanel, cancel, kRowTop);

    CombinedOutputConfigPanel = makePanel("CombinedOutputConfigPanel");
    heading("Song against voice", CombinedOutputConfigPanel);
    text("Press Test: the scale and the tune play together. Move the left slider (song) and "
         "the right one (voice) until neither covers the other, then press Stop.",
         CombinedOutputConfigPanel, words);
    CombinedMidiOutputconfigVSlider = volumeSlider(CombinedOutputConfigPanel, 370, "Song");
    CombinedOutputconfigVSlider = volumeSlider(CombinedOutputConfigPanel, 450, "Voice");
    CombinedOutputConfigTestButton = button(kTest, CombinedOutputConfigPanel, 16, 252);
    CombinedOutputConfigHelpButton = button("&Help", CombinedOutputConfigPanel, 116, 252);
    CombinedOutputConfigBackButton = button("< &Back", CombinedOutputConfigPanel, back, kRowTop);
    CombinedOutputConfigNextButton = button("&Next >", CombinedOutputConfigPanel, next, kRowTop);
    CombinedOutputConfigCancelButton = button("Cancel", CombinedOutputConfigPanel, cancel, kRowTop);

    ProcessingModePanel = makePanel("ProcessingModePanel");
    heading("The Audio Configuration Wizard is complete!", ProcessingModePanel);
    text("Your levels are set. One more choice decides how you hear yourself while you "
         "record: through the program, with echo, or straight through your sound card. "
         "Would you like to choose it now?",
         ProcessingModePanel, {16, 48, kClientWidth - 32, 80});
    ProcessingModeYesRadioButton = new QRadioButton("Yes, configure Processing Mode now", ProcessingModePanel);
    ProcessingModeYesRadioButton->setGeometry(32, 140, 400, 24);
    ProcessingModeYesRadioButton->setChecked(true);
    ProcessingModeNoRadioButton = new QRadioButton("No, thanks", ProcessingModePanel);
    ProcessingModeNoRadioButton->setGeometry(32, 170, 400, 24);
    ProcessingModeBackButton = button("< &Back", ProcessingModePanel, next - 100, kRowTop);
    ProcessingModeFinishButton = button("&Finish", ProcessingModePanel, next, kRowTop);

    ACWTimer = new QTimer(this);
    ACWTimer->setInterval(kAcwInterval);
    MidiPlayTimer = new QTimer(this);
    MidiPlayTimer->setInterval(kScaleStepMs);

    using F = TAudioConfigWelcomeForm;
    auto on = [this](QPushButton* b, void (F::*handler)()) { connect(b, &QPushButton::clicked, this, handler); };
    on(AudioConfigNextButton, &F::AudioConfigNextButtonClick);
    on(AudioConfigCancelButton, &F::AudioConfigCancelButtonClick);
    on(MasterVolumeConfigNextButton, &F::MasterVolumeConfigNextButtonClick);
    on(MasterVolumeConfigBackButton, &F::MasterVolumeConfigBackButtonClick);
    on(MasterVolumeConfigCancelButton, &F::MasterVolumeConfigCancelButtonClick);
    on(MasterVolumeConfigTestButton, &F::MasterVolumeConfigTestButtonClick);
    on(MasterVolumeConfigHelpButton, &F::MasterVolumeConfigHelpButtonClick);
    on(MidiOutputConfigNextButton, &F::MidiOutputConfigNextButtonClick);
    on(MidiOutputConfigBackButton, &F::MidiOutputConfigBackButtonClick);
    on(MidiOutputConfigCancelButton, &F::MidiOutputConfigCancelButtonClick);
    on(MidiOutputConfigTestButton, &F::MidiOutputConfigTestButtonClick);
    on(MidiOutputConfigHelpButton, &F::nClick);
    on(SetMidiDeviceButton, &F::SetMidiDeviceButtonClick);
    on(VoiceRecordConfigNextButton, &F::VoiceRecordConfigNextButtonClick);
    on(VoiceRecordConfigBackButton, &F::VoiceRecordConfigBackButtonClick);
    on(VoiceRecordConfigCancelButton, &F::VoiceRecordConfigCancelButtonClick);
    on(VoiceRecordConfigTestButton, &F::VoiceRecordConfigTestButtonClick);
    on(VoiceRecordConfigHelpButton, &F::VoiceRecordConfigHelpButtonClick);
    on(WaveOutputConfigNextButton, &F::WaveOutputConfigNextButtonClick);
    on(WaveOutputConfigBackButton, &F::WaveOutputConfigBackButtonClick);
    on(WaveOutputConfigCancelButton, &F::WaveOutputConfigCancelButtonClick);
    on(WaveOutputConfigTestButton, &F::WaveOutputConfigTestButtonClick);
    on(WaveOutputConfigHelpButton, &F::WaveOutputConfigHelpButtonClick);
    on(CombinedOutputConfigNextButton, &F::CombinedOutputConfigNextButtonClick);
    on(CombinedOutputConfigBackButton, &F::CombinedOutputConfigBackButtonClick);
    on(CombinedOutputConfigCancelButton, &F::CombinedOutputConfigCancelButtonClick);
    on(CombinedOutputConfigTestButton, &F::CombinedOutputConfigTestButtonClick);
    on(CombinedOutputConfigHelpButton, &F::CombinedOutputConfigHelpButtonClick);
    on(ProcessingModeFinishButton, &F::ProcessingModeFinishButtonClick);
    on(ProcessingModeBackButton, &F::ProcessingModeBackButtonClick);

    auto onSlider = [this](TVSlider* s, void (F::*handler)()) {
        connect(s, &TVSlider::OnChange, this, [this, handler] { (this->*handler)(); });
    };
    onSlider(MasterVolumeConfigVSlider, &F::MasterVolumeConfigVSliderChange);
    onSlider(MidiOutputConfigVSlider, &F::MidiOutputConfigVSliderChange);
    onSlider(VoiceRecordVSlider, &F::VoiceRecordVSliderChange);
    onSlider(WaveOutputConfigVSlider, &F::WaveOutputConfigVSliderChange);
    onSlider(CombinedMidiOutputconfigVSlider, &F::CombinedMidiOutputconfigVSliderChange);
    onSlider(CombinedOutputconfigVSlider, &F::CombinedOutputconfigVSliderChange);

    connect(ACWTimer, &QTimer::timeout, this, &F::ACWTimerTimer);
    connect(MidiPlayTimer, &QTimer::timeout, this, &F::MidiPlayTimerTimer);

    showPage(Page::Welcome);
}

// ---- showing and leaving

void TAudioConfigWelcomeForm::PrepareToShow(const QWidget* mainWindow) {
    showPage(Page::Welcome);
    setWindowTitle(kTitle);
    if (mainWindow != nullptr) {
        move(mainWindow->frameGeometry().left() + kLeftOffset, mainWindow->frameGeometry().top());
    }
}

void TAudioConfigWelcomeForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        FormShow();
    }
    QDialog::showEvent(event);
}

void TAudioConfigWelcomeForm::FormShow() {
    if (!m_left) {
        return;  // shown again without having been left: the saved state still holds
    }
    m_left = false;
    m_savedOutputChannels = 0;
    m_waveUnmuted = false;
    // The microphone must not feed the speakers during the tests.
    m_savedMicMute = GetMicOutMuteSetting();
    if (m_savedMicMute == 0) {
        SetMicOutMuteSetting(1);
    }
}

void TAudioConfigWelcomeForm::closeEvent(QCloseEvent* event) {
    FormClose();
    QDialog::closeEvent(event);
}

void TAudioConfigWelcomeForm::reject() {
    FormClose();
    QDialog::reject();
}

void TAudioConfigWelcomeForm::FormClose() {
    if (!m_left) {
        leave();
    }
}

void TAudioConfigWelcomeForm::leave() {
    m_left = true;
    stopAllTests();
    // The output level step 1 raised is given back however the page is left.
    restoreOutputLevel();
    if (m_waveUnmuted) {
        SetWaveOutMuteSetting(1);
        m_waveUnmuted = false;
    }
    ACWTimer->stop();
    MidiPlayTimer->stop();
    testFinished = false;
    if (m_savedMicMute == 0 || m_savedMicMute == 1) {
        SetMicOutMuteSetting(m_savedMicMute);
    }
    m_savedMicMute = -1;
}

void TAudioConfigWelcomeForm::restoreOutputLevel() {
    if (m_savedOutputChannels > 0) {
        SetCurrentOutputVolSetting(m_savedOutputChannels, m_savedOutput.data());
        m_savedOutputChannels = 0;
    }
}

// ---- pages

QWidget* TAudioConfigWelcomeForm::panel(Page page) const {
    switch (page) {
        case Page::Welcome: return AudioConfigPanel;
        case Page::MasterVolume: return MasterVolumeConfigPanel;
        case Page::MidiOutput: return MidiOutputConfigPanel;
        case Page::VoiceRecord: return VoiceRecordConfigPanel;
        case Page::WaveOutput: return WaveOutputConfigPanel;
        case Page::CombinedOutput: return CombinedOutputConfigPanel;
        case Page::Complete: return ProcessingModePanel;
    }
    return AudioConfigPanel;
}

QPushButton* TAudioConfigWelcomeForm::forwardButton(Page page) const {
    switch (page) {
        case Page::Welcome: return AudioConfigNextButton;
        case Page::MasterVolume: return MasterVolumeConfigNextButton;
        case Page::MidiOutput: return MidiOutputConfigNextButton;
        case Page::VoiceRecord: return VoiceRecordConfigNextButton;
        case Page::WaveOutput: return WaveOutputConfigNextButton;
        case Page::CombinedOutput: return CombinedOutputConfigNextButton;
        case Page::Complete: return ProcessingModeFinishButton;
    }
    return AudioConfigNextButton;
}

void TAudioConfigWelcomeForm::showPage(Page page) {
    static constexpr const char* kCaptions[] = {
        kTitle,
        "Audio Configuration Wizard - Step 1 of 5",
        "Audio Configuration Wizard - Step 2 of 5",
        "Audio Configuration Wizard - Step 3 of 5",
        "Audio Configuration Wizard - Step 4 of 5",
        "Audio Configuration Wizard - Step 5 of 5",
        "Audio Configuration Wizard - Complete",
    };
    for (Page each : {Page::Welcome, Page::MasterVolume, Page::MidiOutput, Page::VoiceRecord,
                      Page::WaveOutput, Page::CombinedOutput, Page::Complete}) {
        panel(each)->setVisible(each == page);
        forwardButton(each)->setDefault(each == page);
    }
    m_page = page;
    setWindowTitle(kCaptions[static_cast<int>(page)]);
    forwardButton(page)->setFocus(Qt::OtherFocusReason);
}

void TAudioConfigWelcomeForm::loadSliders(Page page) {
    switch (page) {
        case Page::MasterVolume:
            loadSlider(MasterVolumeConfigVSlider, GetCurrentMasterOutputVolSetting);
            break;
        case Page::MidiOutput:
            loadSlider(MidiOutputConfigVSlider, GetCurrentMidiOutputVolSetting);
            break;
        case Page::VoiceRecord:
            loadSlider(VoiceRecordVSlider, GetCurrentInputVolSetting);
            break;
        case Page::WaveOutput:
            loadSlider(WaveOutputConfigVSlider, GetCurrentOutputVolSetting);
            break;
        case Page::CombinedOutput:
            loadSlider(CombinedMidiOutputconfigVSlider, GetCurrentMidiOutputVolSetting);
            loadSlider(CombinedOutputconfigVSlider, GetCurrentOutputVolSetting);
            break;
        case Page::Welcome:
        case Page::Complete:
            break;
    }
}

void TAudioConfigWelcomeForm::AudioConfigNextButtonClick() {
    if (GetMasterOutMuteSetting() == 1) {
        SetMasterOutMuteSetting(0);
        MasterMuteNoteLabel->show();
    } else {
        MasterMuteNoteLabel->hide();
    }
    if (GetWaveOutMuteSetting() == 1) {
        SetWaveOutMuteSetting(0);
        m_waveUnmuted = true;
        showBox(kWaveUnmuted, kBoxTitle);
    }
    // A level that cannot be read or raised is left alone, and the user is told nothing was
    // turned up.
    m_savedOutputChannels = 0;
    const std::int32_t level = GetCurrentOutputLevel();
    if (level >= 0 && level < kAudibleOutputLevel) {
        // Given back as it was read, not through the coarser level scale.
        const std::int32_t channels = readVolume(GetCurrentOutputVolSetting, m_savedOutput.data());
        if (channels > 0 && SetCurrentOutputLevel(kAudibleOutputLevel) == 0) {
            m_savedOutputChannels = channels;
            showBox(kOutputRaised, kBoxTitle);
        }
    }
    loadSliders(Page::MasterVolume);
    showPage(Page::MasterVolume);
}

void TAudioConfigWelcomeForm::AudioConfigCancelButtonClick() { reject(); }

void TAudioConfigWelcomeForm::MasterVolumeConfigNextButtonClick() {
    stopPageTest(Page::MasterVolume);
    restoreOutputLevel();
    loadSliders(Page::MidiOutput);
    showPage(Page::MidiOutput);
}

void TAudioConfigWelcomeForm::MasterVolumeConfigBackButtonClick() {
    stopPageTest(Page::MasterVolume);
    restoreOutputLevel();
    showPage(Page::Welcome);
}

void TAudioConfigWelcomeForm::MasterVolumeConfigCancelButtonClick() { reject(); }

void TAudioConfigWelcomeForm::MidiOutputConfigNextButtonClick() {
    stopPageTest(Page::MidiOutput);
    loadSliders(Page::VoiceRecord);
    showPage(Page::VoiceRecord);
}

void TAudioConfigWelcomeForm::MidiOutputConfigBackButtonClick() {
    stopPageTest(Page::MidiOutput);
    showPage(Page::MasterVolume);
}

void TAudioConfigWelcomeForm::MidiOutputConfigCancelButtonClick() { reject(); }

void TAudioConfigWelcomeForm::VoiceRecordConfigNextButtonClick() {
    stopPageTest(Page::VoiceRecord);
    loadSliders(Page::WaveOutput);
    showPage(Page::WaveOutput);
}

void TAudioConfigWelcomeForm::VoiceRecordConfigBackButtonClick() {
    stopPageTest(Page::VoiceRecord);
    showPage(Page::MidiOutput);
}

void TAudioConfigWelcomeForm::VoiceRecordConfigCancelButtonClick() { reject(); }

void TAudioConfigWelcomeForm::WaveOutputConfigNextButtonClick() {
    stopPageTest(Page::WaveOutput);
    loadSliders(Page::CombinedOutput);
    showPage(Page::CombinedOutput);
}

void TAudioConfigWelcomeForm::WaveOutputConfigBackButtonClick() {
    stopPageTest(Page::WaveOutput);
    if (m_hooks.voiceSliderPosition) {
        VoiceRecordVSlider->SetCurrentPos(m_hooks.voiceSliderPosition());
    }
    showPage(Page::VoiceRecord);
}

void TAudioConfigWelcomeForm::WaveOutputConfigCancelButtonClick() { reject(); }

void TAudioConfigWelcomeForm::CombinedOutputConfigNextButtonClick() {
    stopPageTest(Page::CombinedOutput);
    showPage(Page::Complete);
}

void TAudioConfigWelcomeForm::CombinedOutputConfigBackButtonClick() {
    stopPageTest(Page::CombinedOutput);
    showPage(Page::WaveOutput);
}

void TAudioConfigWelcomeForm::CombinedOutputConfigCancelButtonClick() { reject(); }

void TAudioConfigWelcomeForm::ProcessingModeBackButtonClick() { showPage(Page::CombinedOutput); }

void TAudioConfigWelcomeForm::ProcessingModeFinishButtonClick() {
    const bool configure = ProcessingModeYesRadioButton->isChecked();
    FormClose();
    accept();
    if (configure && m_hooks.configureProcessingMode) {
        m_hooks.configureProcessingMode();
    }
}

// ---- sliders

void TAudioConfigWelcomeForm::MasterVolumeConfigVSliderChange() {
    writeSlider(MasterVolumeConfigVSlider, SetCurrentMasterOutputVolSetting);
}

void TAudioConfigWelcomeForm::MidiOutputConfigVSliderChange() {
    writeSlider(MidiOutputConfigVSlider, SetCurrentMidiOutputVolSetting);
}

void TAudioConfigWelcomeForm::VoiceRecordVSliderChange() {
    writeSlider(VoiceRecordVSlider, SetCurrentInputVolSetting);
}

void TAudioConfigWelcomeForm::WaveOutputConfigVSliderChange() {
    writeSlider(WaveOutputConfigVSlider, SetCurrentOutputVolSetting);
}

void TAudioConfigWelcomeForm::CombinedMidiOutputconfigVSliderChange() {
    writeSlider(CombinedMidiOutputconfigVSlider, SetCurrentMidiOutputVolSetting);
}

void TAudioConfigWelcomeForm::CombinedOutputconfigVSliderChange() {
    writeSlider(CombinedOutputconfigVSlider, SetCurrentOutputVolSetting);
}

// ---- help

void TAudioConfigWelcomeForm::MasterVolumeConfigHelpButtonClick() {
    if (m_hooks.help) m_hooks.help("MasterVolume.txt");
}
void TAudioConfigWelcomeForm::nClick() {
    if (m_hooks.help) m_hooks.help("MIDIVolume.txt");
}
void TAudioConfigWelcomeForm::VoiceRecordConfigHelpButtonClick() {
    if (m_hooks.help) m_hooks.help("VoiceRecord.txt");
}
void TAudioConfigWelcomeForm::WaveOutputConfigHelpButtonClick() {
    if (m_hooks.help) m_hooks.help("WaveOut.txt");
}
void TAudioConfigWelcomeForm::CombinedOutputConfigHelpButtonClick() {
    if (m_hooks.help) m_hooks.help("CombinedOutput.txt");
}

void TAudioConfigWelcomeForm::showBox(const std::string& text, const std::string& title) {
    platform::showMessageBox(text, title, platform::MessageButtons::Ok, platform::MessageIcon::None, m_owner);
}
