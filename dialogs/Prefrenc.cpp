#include "Prefrenc.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>

#include "OffsetSlider.h"
#include "Process.h"
#include "SetMidiDeviceUnit.h"

namespace {

QLineEdit* displayBox(QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    box->setGeometry(12, 22, 180, 24);
    return box;
}

QGroupBox* group(QWidget* parent, const char* title, int y, int height) {
    auto* box = new QGroupBox(title, parent);
    box->setGeometry(8, y, TPreference::kClientWidth - 16, height);
    return box;
}

}  // namespace

TPreference::TPreference(QWidget* parent) : QDialog(parent) {
    setObjectName("Preference");
    setWindowTitle("Preferences");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    LyricsGroup = group(this, " Lyrics ", 4, 48);
    CharacterCheckBox = new QCheckBox("Enable Non-English Character Support", LyricsGroup);
    CharacterCheckBox->setObjectName("CharacterCheckBox");
    CharacterCheckBox->setGeometry(12, 20, 290, 22);

    ModeGroup = group(this, " Voice Processing Mode ", 56, 56);
    ModeDisplayBox = displayBox(ModeGroup);
    ModeDisplayBox->setObjectName("ModeDisplayBox");
    ProcessButton = new QPushButton("Change Processing Mode...", ModeGroup);
    ProcessButton->setObjectName("ProcessButton");
    ProcessButton->setGeometry(200, 21, 166, 26);

    MidiDeviceGroup = group(this, " MIDI Device to use ", 116, 56);
    MidiDeviceDisplayBox = displayBox(MidiDeviceGroup);
    MidiDeviceDisplayBox->setObjectName("MidiDeviceDisplayBox");
    MidiDeviceSelectButton = new QPushButton("Change MIDI Device...", MidiDeviceGroup);
    MidiDeviceSelectButton->setObjectName("MidiDeviceSelectButton");
    MidiDeviceSelectButton->setGeometry(200, 21, 166, 26);

    OffsetGroup = group(this, "Offset Slider", 176, 52);
    OffsetButton = new QPushButton("Offset Slider...", OffsetGroup);
    OffsetButton->setObjectName("OffsetButton");
    OffsetButton->setGeometry(12, 20, 180, 26);

    TempoGroup = group(this, " Tempo ", 232, 48);
    FollowTempoCheckBox = new QCheckBox("Follow the song's tempo changes", TempoGroup);
    FollowTempoCheckBox->setObjectName("FollowTempoCheckBox");
    FollowTempoCheckBox->setGeometry(12, 20, 290, 22);

    AUCGroup = group(this, "AUC", 284, 48);
    AUCCheckBox = new QCheckBox("Automatically download update information", AUCGroup);
    AUCCheckBox->setGeometry(12, 20, 290, 22);

    OKButton = new QPushButton("&OK", this);
    OKButton->setDefault(true);
    CancelButton = new QPushButton("&Cancel", this);
    HelpButton = new QPushButton("&Help!", this);

    // The update group has no part in this program: it goes, and the buttons take its place.
    AUCGroup->hide();
    OKButton->setGeometry(58, kButtonTop, 80, 25);
    CancelButton->setGeometry(155, kButtonTop, 80, 25);
    HelpButton->setGeometry(252, kButtonTop, 80, 25);
    setFixedSize(kClientWidth, kClientHeight);

    connect(CharacterCheckBox, &QCheckBox::clicked, this, &TPreference::CharacterCheckBoxClick);
    connect(ProcessButton, &QPushButton::clicked, this, &TPreference::ProcessButtonClick);
    connect(MidiDeviceSelectButton, &QPushButton::clicked, this, &TPreference::MidiDeviceSelectButtonClick);
    connect(OffsetButton, &QPushButton::clicked, this, &TPreference::OffsetButtonClick);
    connect(OKButton, &QPushButton::clicked, this, &TPreference::OKButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TPreference::CancelButtonClick);
    connect(HelpButton, &QPushButton::clicked, this, &TPreference::HelpButtonClick);
}

void TPreference::SetForms(TProcessForm* process, TMidiOutDeviceSelectForm* device, TOffsetForm* offset) {
    m_process = process;
    m_device = device;
    m_offset = offset;
}

void TPreference::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        FormShow();
    }
    QDialog::showEvent(event);
}

std::string TPreference::storedDeviceName() const {
    return m_hooks.settings.readString
               ? m_hooks.settings.readString(dialogs::kMidiDeviceSection, dialogs::kMidiDeviceKey)
               : std::string();
}

void TPreference::showMode() {
    const bool software = !m_hooks.softwareProcessing || m_hooks.softwareProcessing();
    ModeDisplayBox->setText(software ? "Software Processing" : "Hardware Pass-Through");
}

void TPreference::FormShow() {
    m_openingCharacters = m_hooks.nonEnglishCharacters && m_hooks.nonEnglishCharacters();
    const bool busy = m_hooks.busy && m_hooks.busy();
    ProcessButton->setEnabled(!busy);
    MidiDeviceSelectButton->setEnabled(!busy);
    CharacterCheckBox->setChecked(m_openingCharacters);
    showMode();

    const std::string stored = storedDeviceName();
    const int autoUpdate =
        m_hooks.settings.readInt ? m_hooks.settings.readInt("Settings", "AutoUpdateEnabled", 1) : 1;
    const std::vector<std::string> devices = m_hooks.devices ? m_hooks.devices() : std::vector<std::string>();
    if (devices.empty()) {
        MidiDeviceDisplayBox->setText(kNoMidiDriver);
    } else if (std::find(devices.begin(), devices.end(), stored) != devices.end()) {
        MidiDeviceDisplayBox->setText(QString::fromStdString(stored));
    } else {
        MidiDeviceDisplayBox->setText(dialogs::kDefaultMidiDevice);
    }
    AUCCheckBox->setChecked(autoUpdate != 0);
    FollowTempoCheckBox->setChecked(m_hooks.settings.readInt &&
                                    m_hooks.settings.readInt(kFollowTempoSection, kFollowTempoKey, 0) != 0);
}

void TPreference::CharacterCheckBoxClick() {
    if (m_hooks.setNonEnglishCharacters) {
        m_hooks.setNonEnglishCharacters(CharacterCheckBox->isChecked());
    }
}

void TPreference::ProcessButtonClick() {
    if (m_process == nullptr) {
        return;
    }
    m_process->exec();
    showMode();
    if (m_hooks.settings.writeInt) {
        m_hooks.settings.writeInt("Configuration", "Configured", 1);
    }
}

void TPreference::MidiDeviceSelectButtonClick() {
    if (m_device == nullptr) {
        return;
    }
    m_device->exec();
    const std::string stored = storedDeviceName();
    MidiDeviceDisplayBox->setText(stored.empty() ? QString(dialogs::kDefaultMidiDevice)
                                                 : QString::fromStdString(stored));
}

void TPreference::OffsetButtonClick() {
    if (m_offset != nullptr) {
        m_offset->exec();
    }
}

void TPreference::OKButtonClick() {
    CharacterCheckBoxClick();
    // Taken by the next song started.
    if (m_hooks.settings.writeInt) {
        m_hooks.settings.writeInt(kFollowTempoSection, kFollowTempoKey, FollowTempoCheckBox->isChecked() ? 1 : 0);
    }
    accept();
}

void TPreference::CancelButtonClick() { reject(); }

void TPreference::reject() {
    if (m_hooks.setNonEnglishCharacters) {
        m_hooks.setNonEnglishCharacters(m_openingCharacters);
    }
    QDialog::reject();
}

void TPreference::HelpButtonClick() {
    if (m_hooks.help) {
        m_hooks.help();
    }
}
