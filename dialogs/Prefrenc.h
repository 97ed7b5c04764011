#pragma once

// File > Preferences: the lyric characters, and the ways to the processing mode, the MIDI
// output device and the offset between song and voice; and whether songs play their own
// tempo changes.

#include <QDialog>

#include <functional>

#include "DeviceSettings.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class TMidiOutDeviceSelectForm;
class TOffsetForm;
class TProcessForm;

class TPreference : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 390;
    // 300 pixels with its title bar, and the tempo group below the offset's.
    static constexpr int kClientHeight = 272 + 52;
    static constexpr int kButtonTop = 235 + 52;
    // Where the choice to follow a song's tempo changes is kept (0 or 1, off by default).
    static constexpr const char* kFollowTempoSection = "Settings";
    static constexpr const char* kFollowTempoKey = "FollowTempoChanges";
    static constexpr const char* kNoMidiDriver = "Cannot Initialize the MIDI Driver";

    struct Hooks {
        dialogs::SettingsFile settings;
        dialogs::MidiOutDeviceList devices;
        // A song plays or a recording runs: the mode and the device cannot change now.
        std::function<bool()> busy;
        std::function<bool()> nonEnglishCharacters;
        std::function<void(bool)> setNonEnglishCharacters;
        std::function<bool()> softwareProcessing;
        std::function<void()> help;
    };

    explicit TPreference(QWidget* parent = nullptr);

    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    void SetForms(TProcessForm* process, TMidiOutDeviceSelectForm* device, TOffsetForm* offset);

    void FormShow();
    void CharacterCheckBoxClick();
    void ProcessButtonClick();
    void MidiDeviceSelectButtonClick();
    void OffsetButtonClick();
    void OKButtonClick();
    void CancelButtonClick();
    void HelpButtonClick();
    // Cancel, Esc and the close box: the character setting as it was.
    void reject() override;

    QGroupBox* LyricsGroup = nullptr;
    QCheckBox* CharacterCheckBox = nullptr;
    QGroupBox* ModeGroup = nullptr;
    QLineEdit* ModeDisplayBox = nullptr;
    QPushButton* ProcessButton = nullptr;
    QGroupBox* MidiDeviceGroup = nullptr;
    QLineEdit* MidiDeviceDisplayBox = nullptr;
    QPushButton* MidiDeviceSelectButton = nullptr;
    QGroupBox* OffsetGroup = nullptr;
    QPushButton* OffsetButton = nullptr;
    QGroupBox* TempoGroup = nullptr;
    QCheckBox* FollowTempoCheckBox = nullptr;
    QGroupBox* AUCGroup = nullptr;
    QCheckBox* AUCCheckBox = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showMode();
    std::string storedDeviceName() const;

    Hooks m_hooks;
    TProcessForm* m_process = nullptr;
    TMidiOutDeviceSelectForm* m_device = nullptr;
    TOffsetForm* m_offset = nullptr;
    bool m_openingCharacters = false;
};
