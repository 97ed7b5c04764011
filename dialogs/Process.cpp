#include "Process.h"

#include <QButtonGroup>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "Config.h"
#include "Pictures.h"

namespace {

constexpr int kPanelWidth = 244;
constexpr int kPanelHeight = 244;
constexpr int kPictureHeight = 40;

QFrame* panel(QWidget* parent, int x, int y) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setGeometry(x, y, kPanelWidth, kPanelHeight);
    return frame;
}

QLabel* picture(QWidget* parent, const char* name) {
    auto* image = new QLabel(parent);
    image->setPixmap(controls::picture(name));
    image->setAlignment(Qt::AlignCenter);
    image->setGeometry(8, 8, kPanelWidth - 16, kPictureHeight);
    return image;
}

QLabel* text(QWidget* parent, const char* words, int y, int height) {
    auto* label = new QLabel(words, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(10, y, kPanelWidth - 20, height);
    return label;
}

}  // namespace

TProcessForm::TProcessForm(QWidget* parent) : QDialog(parent) {
    setObjectName("ProcessForm");
    setWindowTitle("Choose Processing Mode");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    Label1 = new QLabel(
        "Please choose either  software or hardware processing of your vocal effects. These "
        "options effect how Cantivo plays your vocals through the speakers while you sing.",
        this);
    Label1->setWordWrap(true);
    Label1->setGeometry(12, 8, 496, 50);

    SoftPanel = panel(this, 12, 62);
    SoftImage = picture(SoftPanel, "MODE_SOFTWARE");
    SoftRadioButton = new QRadioButton("Software Processing", SoftPanel);
    SoftRadioButton->setObjectName("SoftRadioButton");
    SoftRadioButton->setGeometry(10, 54, kPanelWidth - 20, 22);
    S1Label = text(SoftPanel,
                   "Software processing enables echo effects with vocal. Not all computers are "
                   "fast  enough to process the audio without introducing delays or distortion "
                   "into your  vocals. Press the button below to configure and test your system.",
                   80, 120);
    ConfigureButton = new QPushButton("Configure and Test...", SoftPanel);
    ConfigureButton->setObjectName("ConfigureButton");
    ConfigureButton->setGeometry(47, 206, 150, 27);

    HardPanel = panel(this, 264, 62);
    HardImage = picture(HardPanel, "MODE_HARDWARE");
    HardRadioButton = new QRadioButton("Hardware Pass-Through", HardPanel);
    HardRadioButton->setObjectName("HardRadioButton");
    HardRadioButton->setGeometry(10, 54, kPanelWidth - 20, 22);
    H1Label = text(HardPanel,
                   "Hardware pass-through eliminates delays and distortion caused by software "
                   "processing on slower systems. It will not be possible to add an echo to your "
                   "vocals using this mode.",
                   80, 150);
    H1Label->setObjectName("H1Label");

    // The two choices sit on panels of their own; one group keeps them exclusive.
    auto* choices = new QButtonGroup(this);
    choices->addButton(SoftRadioButton);
    choices->addButton(HardRadioButton);

    Label2 = new QLabel("You can change these options in the future by choosing Preferences from the File menu.",
                        this);
    Label2->setWordWrap(true);
    Label2->setGeometry(12, 312, 496, 34);

    OKButton = new QPushButton("&OK", this);
    OKButton->setGeometry(113, 354, 80, 25);
    OKButton->setDefault(true);
    CancelButton = new QPushButton("&Cancel", this);
    CancelButton->setGeometry(220, 354, 80, 25);
    HelpButton = new QPushButton("&Help!", this);
    HelpButton->setGeometry(327, 354, 80, 25);

    connect(SoftRadioButton, &QRadioButton::clicked, this, &TProcessForm::SoftRadioButtonClick);
    connect(HardRadioButton, &QRadioButton::clicked, this, &TProcessForm::HardRadioButtonClick);
    connect(ConfigureButton, &QPushButton::clicked, this, &TProcessForm::ConfigureButtonClick);
    connect(OKButton, &QPushButton::clicked, this, &TProcessForm::OKButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TProcessForm::CancelButtonClick);
    connect(HelpButton, &QPushButton::clicked, this, &TProcessForm::HelpButtonClick);
}

void TProcessForm::DisableHardware() {
    HardRadioButton->setEnabled(false);
    H1Label->setText(kNotSupported);
}

void TProcessForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        FormShow();
    }
    QDialog::showEvent(event);
}

void TProcessForm::FormShow() {
    const bool software = !m_hooks.softwareProcessing || m_hooks.softwareProcessing();
    (software ? SoftRadioButton : HardRadioButton)->setChecked(true);
    ConfigureButton->setEnabled(software);
    if (software) {
        return;
    }
    // The mute is what switches the pass-through on and off: a card without one cannot
    // do it.
    if (m_hooks.micOutMuteSetting && m_hooks.micOutMuteSetting() == -1) {
        DisableHardware();
    } else {
        H1Label->setText(
            "Hardware pass-through eliminates delays and distortion caused by softwareprocessing "
            "on slower systems. It will not bepossible to add an echo to your vocals using this "
            "mode.");
    }
}

void TProcessForm::SoftRadioButtonClick() { ConfigureButton->setEnabled(true); }

void TProcessForm::HardRadioButtonClick() { ConfigureButton->setEnabled(false); }

void TProcessForm::ConfigureButtonClick() {
    if (m_configForm != nullptr) {
        m_configForm->exec();
    }
}

void TProcessForm::OKButtonClick() {
    if (m_hooks.setSoftwareProcessing) {
        m_hooks.setSoftwareProcessing(SoftRadioButton->isChecked());
    }
    accept();
}

void TProcessForm::CancelButtonClick() { reject(); }

void TProcessForm::HelpButtonClick() {
    if (m_hooks.help) {
        m_hooks.help();
    }
}
