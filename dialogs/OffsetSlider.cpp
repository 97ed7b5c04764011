#include "OffsetSlider.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace {

constexpr const char* kSection = "Configuration";
constexpr const char* kKey = "Slider Position";

}  // namespace

TOffsetForm::TOffsetForm(QWidget* parent) : QDialog(parent) {
    setObjectName("OffsetForm");
    setWindowTitle("Offset");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    PlaybackDistanceSlider = new QSlider(Qt::Horizontal, this);
    PlaybackDistanceSlider->setObjectName("PlaybackDistanceSlider");
    PlaybackDistanceSlider->setGeometry(12, 10, 302, 28);
    PlaybackDistanceSlider->setRange(kLowest, kHighest);
    PlaybackDistanceSlider->setTickInterval(1);
    PlaybackDistanceSlider->setTickPosition(QSlider::TicksBelow);
    PlaybackDistanceSlider->setSingleStep(1);
    PlaybackDistanceSlider->setPageStep(1);

    MinusLabel = new QLabel("-5", this);
    MinusLabel->setGeometry(12, 40, 30, 16);
    ZeroLabel = new QLabel("0", this);
    ZeroLabel->setGeometry(148, 40, 30, 16);
    ZeroLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    PlusLabel = new QLabel("5", this);
    PlusLabel->setGeometry(284, 40, 30, 16);
    PlusLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);

    Label1 = new QLabel(
        "Use this slider to adjust the start of MIDI and voice playback if one of them always "
        "starts ahead of or behind the other.",
        this);
    Label1->setWordWrap(true);
    Label1->setGeometry(12, 62, 302, 48);

    OKButton = new QPushButton("OK", this);
    OKButton->setGeometry(33, 120, 75, 25);
    OKButton->setDefault(true);
    CancelButton = new QPushButton("Cancel", this);
    CancelButton->setGeometry(125, 120, 75, 25);
    HelpButton = new QPushButton("Help!", this);
    HelpButton->setGeometry(217, 120, 75, 25);

    connect(PlaybackDistanceSlider, &QSlider::valueChanged, this, &TOffsetForm::valueChanged);
    connect(OKButton, &QPushButton::clicked, this, &TOffsetForm::OKButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TOffsetForm::CancelButtonClick);
    connect(HelpButton, &QPushButton::clicked, this, &TOffsetForm::HelpButtonClick);
}

void TOffsetForm::FormCreate(const dialogs::SettingsFile& settings) {
    int position = settings.readInt ? settings.readInt(kSection, kKey, 0) : 0;
    if (position < kLowest || position > kHighest) {
        position = 0;
    }
    SetPosition(position);
    if (m_hooks.setVoiceOffset) {
        m_hooks.setVoiceOffset(0);
    }
    if (settings.writeInt) {
        settings.writeInt(kSection, kKey, position);
    }
    m_remembered = Position();
}

int TOffsetForm::Position() const { return PlaybackDistanceSlider->value(); }

void TOffsetForm::SetPosition(int position) {
    m_settingFromCode = true;
    PlaybackDistanceSlider->setValue(position);
    m_settingFromCode = false;
    // A value the slider did not change still has to reach the window's copy.
    if (m_hooks.positionChanged) {
        m_hooks.positionChanged(Position());
    }
}

void TOffsetForm::valueChanged(int position) {
    if (m_hooks.positionChanged) {
        m_hooks.positionChanged(position);
    }
    if (!m_settingFromCode) {
        PlaybackDistanceSliderChange();
    }
}

void TOffsetForm::PlaybackDistanceSliderChange() {
    if (!m_hooks.voiceOffset || !m_hooks.setVoiceOffset) {
        return;
    }
    const int position = Position();
    const int change = m_hooks.voiceOffset() - position;
    m_hooks.setVoiceOffset(position);
    if (change != 0 && m_hooks.updateOffsetForPlayBack) {
        m_hooks.updateOffsetForPlayBack(change);
    }
}

void TOffsetForm::OKButtonClick() {
    PlaybackDistanceSliderChange();
    m_remembered = Position();
    accept();
}

void TOffsetForm::CancelButtonClick() { reject(); }

void TOffsetForm::reject() {
    // Back to where the dialog was opened (also for Esc and the close box); what was
    // handed to the voice meanwhile stays until the next Play hands the whole offset again.
    SetPosition(m_remembered);
    QDialog::reject();
}

void TOffsetForm::HelpButtonClick() {
    if (m_hooks.help) {
        m_hooks.help();
    }
}
