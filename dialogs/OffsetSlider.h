#pragma once

// The offset between song and voice: a slider of -10..10 seconds of voice. A move by the
// user is handed to the voice at once, also while it plays; Play hands the whole offset
// again to every new voice playback.

#include <QDialog>

#include <functional>

#include "DeviceSettings.h"

class QLabel;
class QPushButton;
class QSlider;

class TOffsetForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 326;
    static constexpr int kClientHeight = 156;
    static constexpr int kLowest = -10;
    static constexpr int kHighest = 10;

    struct Hooks {
        // The offset already handed to the voice, in seconds of voice.
        std::function<int()> voiceOffset;
        std::function<void(int)> setVoiceOffset;
        // The wave library's change of the playing voice's offset.
        std::function<void(int units)> updateOffsetForPlayBack;
        // Every new slider position, however it came about.
        std::function<void(int position)> positionChanged;
        std::function<void()> help;
    };

    explicit TOffsetForm(QWidget* parent = nullptr);

    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    // At program start: "Slider Position" from the settings file, kept within -10..10 and
    // written back; no offset has been handed to the voice yet.
    void FormCreate(const dialogs::SettingsFile& settings);

    int Position() const;
    // Sets the slider without handing anything to the voice.
    void SetPosition(int position);
    int RememberedPosition() const { return m_remembered; }

    // The slider's change: what the voice has not been given yet of the position.
    void PlaybackDistanceSliderChange();
    void OKButtonClick();
    void CancelButtonClick();
    void HelpButtonClick();
    void reject() override;

    QSlider* PlaybackDistanceSlider = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* MinusLabel = nullptr;
    QLabel* ZeroLabel = nullptr;
    QLabel* PlusLabel = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

private:
    void valueChanged(int position);

    Hooks m_hooks;
    int m_remembered = 0;
    bool m_settingFromCode = false;
};
