#pragma once

// The MIDI output device the songs play through: "Default MIDI Device" or one of the
// system's devices by name. The choice is stored in the settings file; the sequencer opens
// the device by that name.

#include <QDialog>

#include <functional>
#include <string>

#include "DeviceSettings.h"

class QComboBox;
class QGroupBox;
class QPushButton;

class TMidiOutDeviceSelectForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 316;
    static constexpr int kClientHeight = 134;

    struct Hooks {
        dialogs::SettingsFile settings;
        dialogs::MidiOutDeviceList devices;
        // After a choice is stored: the sequencer tries the device once, and the window
        // selects its mixers again.
        std::function<void()> deviceChanged;
        std::function<void()> help;
    };

    explicit TMidiOutDeviceSelectForm(QWidget* parent = nullptr);

    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // The list and its selection from the devices and the stored name.
    void FormShow();
    void DefaultButtonClick();
    void OKButtonClick();
    void CancelButtonClick();
    void HelpButtonClick();

    QGroupBox* GroupBox1 = nullptr;
    QComboBox* MidiOutDeviceBox = nullptr;
    QPushButton* DefaultButton = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    Hooks m_hooks;
};
