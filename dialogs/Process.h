#pragma once

// How the singer hears their own voice while recording: through the program (software
// processing, echo possible, with a buffer test) or through the sound card's own path from
// the microphone to the speakers (hardware pass-through).

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;
class QRadioButton;
class TConfigSoftwareForm;

class TProcessForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 520;
    static constexpr int kClientHeight = 390;
    static constexpr const char* kNotSupported = "Your computers soundcard does not support this mode";

    struct Hooks {
        std::function<bool()> softwareProcessing;
        std::function<void(bool)> setSoftwareProcessing;
        // The microphone's mute on the sound card's output: -1 when the card has none.
        std::function<int()> micOutMuteSetting;
        std::function<void()> help;
    };

    explicit TProcessForm(QWidget* parent = nullptr);

    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    void SetConfigForm(TConfigSoftwareForm* form) { m_configForm = form; }

    // The sound card cannot pass the microphone through: the hardware choice goes.
    void DisableHardware();

    void FormShow();
    void SoftRadioButtonClick();
    void HardRadioButtonClick();
    void ConfigureButtonClick();
    void OKButtonClick();
    void CancelButtonClick();
    void HelpButtonClick();

    QLabel* Label1 = nullptr;
    QWidget* SoftPanel = nullptr;
    QLabel* SoftImage = nullptr;
    QRadioButton* SoftRadioButton = nullptr;
    QLabel* S1Label = nullptr;
    QPushButton* ConfigureButton = nullptr;
    QWidget* HardPanel = nullptr;
    QLabel* HardImage = nullptr;
    QRadioButton* HardRadioButton = nullptr;
    QLabel* H1Label = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    Hooks m_hooks;
    TConfigSoftwareForm* m_configForm = nullptr;
};
