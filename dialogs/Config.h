#pragma once

// The buffer test of software processing: the singer hears their own voice through the
// program with the buffer size of the slider and picks the smallest that sounds clean.

#include <QDialog>

#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;
class QSlider;

class TConfigSoftwareForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 380;
    static constexpr int kClientHeight = 226;
    static constexpr int kMaximumBuffer = 5000;
    static constexpr int kSmallestTestBuffer = 16;

    struct Hooks {
        // Bytes of each recording buffer in software processing.
        std::function<int()> recordBufferSize;
        std::function<void(int)> setRecordBufferSize;
        // A recording without a file that plays the voice back; true when it runs.
        std::function<bool(int bufferBytes, bool monitor)> startMonitorTest;
        std::function<void()> stopMonitorTest;
        std::function<void()> help;
    };

    explicit TConfigSoftwareForm(QWidget* parent = nullptr);

    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    // The owner of the failure message.
    void SetOwner(std::uint32_t owner) { m_owner = owner; }

    // Buffer sizes from a slider position: what the test uses, and what "OK" stores.
    static int TestBufferBytes(int position);
    static int StoredBufferBytes(int position);

    void FormShow();
    void TestStopButtonClick();
    void OKButtonClick();
    void CancelButtonClick();
    void HelpButtonClick();
    // Cancel, Esc and the close box: the test ends, the buffer size stays.
    void reject() override;

    bool testRunning = false;

    QSlider* CVKSlider = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* TestStopButton = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Ends a running test and makes the dialog usable again.
    void stopTest();

    Hooks m_hooks;
    std::uint32_t m_owner = 0;
};
