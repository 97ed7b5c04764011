#include "Config.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>

#include <algorithm>

#include "platform/dialogs.h"

namespace {

constexpr const char* kTest = "Test Now!";
constexpr const char* kStop = "Stop and Adjust";

}  // namespace

TConfigSoftwareForm::TConfigSoftwareForm(QWidget* parent) : QDialog(parent) {
    setObjectName("ConfigSoftwareForm");
    setWindowTitle("ConfigSoftwareForm");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    Label1 = new QLabel(
        "Press the test button below and sing or speak into your microphone. Then press Stop "
        "and adjust the slider as needed use the lowest possible delay that does not introduce "
        "distortion.",
        this);
    Label1->setWordWrap(true);
    Label1->setGeometry(12, 8, 356, 58);

    CVKSlider = new QSlider(Qt::Horizontal, this);
    CVKSlider->setObjectName("CVKSlider");
    CVKSlider->setGeometry(12, 72, 356, 28);
    CVKSlider->setRange(0, kMaximumBuffer);
    CVKSlider->setTickInterval(250);
    CVKSlider->setTickPosition(QSlider::TicksBelow);
    CVKSlider->setSingleStep(4);
    CVKSlider->setPageStep(250);

    Label2 = new QLabel("Please make sure that your speakers are on for this test.", this);
    Label2->setWordWrap(true);
    Label2->setGeometry(12, 108, 356, 20);

    TestStopButton = new QPushButton(kTest, this);
    TestStopButton->setObjectName("TestStopButton");
    TestStopButton->setGeometry(125, 140, 130, 27);

    OKButton = new QPushButton("OK", this);
    OKButton->setGeometry(43, 188, 80, 25);
    CancelButton = new QPushButton("Cancel", this);
    CancelButton->setGeometry(150, 188, 80, 25);
    HelpButton = new QPushButton("Help!", this);
    HelpButton->setGeometry(257, 188, 80, 25);

    connect(TestStopButton, &QPushButton::clicked, this, &TConfigSoftwareForm::TestStopButtonClick);
    connect(OKButton, &QPushButton::clicked, this, &TConfigSoftwareForm::OKButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TConfigSoftwareForm::CancelButtonClick);
    connect(HelpButton, &QPushButton::clicked, this, &TConfigSoftwareForm::HelpButtonClick);
}

int TConfigSoftwareForm::TestBufferBytes(int position) {
    return std::max(StoredBufferBytes(position), kSmallestTestBuffer);
}

int TConfigSoftwareForm::StoredBufferBytes(int position) {
    return std::clamp(position, 0, kMaximumBuffer) / 4 * 4;
}

void TConfigSoftwareForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        FormShow();
    }
    QDialog::showEvent(event);
}

void TConfigSoftwareForm::FormShow() {
    if (m_hooks.recordBufferSize) {
        CVKSlider->setValue(m_hooks.recordBufferSize());  // the slider keeps it in 0..5000
    }
}

void TConfigSoftwareForm::TestStopButtonClick() {
    if (TestStopButton->text() != kTest) {
        stopTest();
        return;
    }
    const int buffer = TestBufferBytes(CVKSlider->value());
    if (!m_hooks.startMonitorTest || !m_hooks.startMonitorTest(buffer, true)) {
        platform::showMessageBox("Cannot open audio device .Make sure that it is not in use by another application",
                                 "Error", platform::MessageButtons::Ok, platform::MessageIcon::None,
                                 m_owner);
        return;
    }
    TestStopButton->setText(kStop);
    CVKSlider->setEnabled(false);
    OKButton->setEnabled(false);
    CancelButton->setEnabled(false);
    HelpButton->setEnabled(false);
    testRunning = true;
}

void TConfigSoftwareForm::stopTest() {
    if (testRunning && m_hooks.stopMonitorTest) {
        m_hooks.stopMonitorTest();
    }
    TestStopButton->setText(kTest);
    CVKSlider->setEnabled(true);
    OKButton->setEnabled(true);
    CancelButton->setEnabled(true);
    HelpButton->setEnabled(true);
    testRunning = false;
}

void TConfigSoftwareForm::OKButtonClick() {
    // No minimum here: a recording raises a small size to 16 bytes when it starts.
    if (m_hooks.setRecordBufferSize) {
        m_hooks.setRecordBufferSize(StoredBufferBytes(CVKSlider->value()));
    }
    stopTest();
    accept();
}

void TConfigSoftwareForm::CancelButtonClick() { reject(); }

void TConfigSoftwareForm::reject() {
    stopTest();
    QDialog::reject();
}

void TConfigSoftwareForm::HelpButtonClick() {
    if (m_hooks.help) {
        m_hooks.help();
    }
}
