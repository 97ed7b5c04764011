#pragma once

// The instrument dialog of a track strip: shows the track's instrument and lets the user
// pick another, heard at once while choosing. Its voice form tells that the mixer's voice
// column carries the recorded voice.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <utility>

class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace songfile {
struct trackInfo;
}

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 214;
    static constexpr int kClientHeight = 186;
    // What the voice form takes off the dialog's height and moves "OK" up by.
    static constexpr int kVoiceShrink = 70;

    // The sequencer's program change for a track: track 0..63, channel, program 0..127.
    using ChangeInstrument = std::function<void(std::int32_t track, std::int32_t channel, std::int32_t program)>;

    explicit TAboutBox(QWidget* parent = nullptr);

    void SetChangeInstrument(ChangeInstrument change) { m_changeInstrument = std::move(change); }

    // Sets the dialog up for track `t` (its caption, current instrument and selection)
    // and shows it modally. `accepted` tells whether "OK" sent a new instrument, which
    // `instrument` then holds.
    void ShowForTrack(int t, const songfile::trackInfo& info);
    // The reduced form: "Performance" and "OK" only. Every change is undone afterwards.
    void ShowVoiceForm();

    // Dialog state, set by the opener before each showing.
    std::int32_t track = 0;
    std::uint8_t channel = 0;
    std::int32_t instrument = 0;  // at opening; after "OK" the chosen program
    std::int32_t initial = 0;     // the song file's own program, for "Restore Original"
    bool hasInstrument = false;
    bool accepted = false;
    bool voiceForm = false;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* Default = nullptr;
    QPushButton* Ok = nullptr;
    QPushButton* Button1 = nullptr;

    void ComboBox1Change(int item);
    void DefaultClick();
    void OkClick();
    void Button1Click();

private:
    // The one way out to the sequencer. Only a real program goes: "no instrument" (255)
    // or an empty selection (-1) would reach the device as a program byte of 0xFF.
    void sendInstrument(std::int32_t program);

    ChangeInstrument m_changeInstrument;
    std::int32_t m_openingInstrument = 0;
};
