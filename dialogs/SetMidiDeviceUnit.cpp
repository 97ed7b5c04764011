#include "SetMidiDeviceUnit.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QShowEvent>

TMidiOutDeviceSelectForm::TMidiOutDeviceSelectForm(QWidget* parent) : QDialog(parent) {
    setObjectName("MidiOutDeviceSelectForm");
    setWindowTitle("Set MIDI Device");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    GroupBox1 = new QGroupBox(" MIDI Device ", this);
    GroupBox1->setGeometry(8, 6, 300, 86);
    MidiOutDeviceBox = new QComboBox(GroupBox1);
    MidiOutDeviceBox->setObjectName("MidiOutDeviceBox");
    MidiOutDeviceBox->setGeometry(12, 22, 276, 24);
    DefaultButton = new QPushButton(dialogs::kDefaultMidiDevice, GroupBox1);
    DefaultButton->setGeometry(12, 52, 150, 25);

    OKButton = new QPushButton("&OK", this);
    OKButton->setGeometry(23, 100, 80, 25);
    OKButton->setDefault(true);
    CancelButton = new QPushButton("&Cancel", this);
    CancelButton->setGeometry(118, 100, 80, 25);
    HelpButton = new QPushButton("&Help!", this);
    HelpButton->setGeometry(213, 100, 80, 25);

    connect(DefaultButton, &QPushButton::clicked, this, &TMidiOutDeviceSelectForm::DefaultButtonClick);
    connect(OKButton, &QPushButton::clicked, this, &TMidiOutDeviceSelectForm::OKButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TMidiOutDeviceSelectForm::CancelButtonClick);
    connect(HelpButton, &QPushButton::clicked, this, &TMidiOutDeviceSelectForm::HelpButtonClick);
}

void TMidiOutDeviceSelectForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        FormShow();
    }
    QDialog::showEvent(event);
}

void TMidiOutDeviceSelectForm::FormShow() {
    MidiOutDeviceBox->clear();
    MidiOutDeviceBox->addItem(dialogs::kDefaultMidiDevice);
    if (m_hooks.devices) {
        for (const std::string& name : m_hooks.devices()) {
            MidiOutDeviceBox->addItem(QString::fromStdString(name));
        }
    }
    const std::string stored = m_hooks.settings.readString
                                   ? m_hooks.settings.readString(dialogs::kMidiDeviceSection,
                                                                 dialogs::kMidiDeviceKey)
                                   : std::string();
    // The exact name, letter case and all; a device that has gone shows the default while
    // the file keeps its name until the user confirms a choice.
    int selected = 0;
    for (int i = 1; i < MidiOutDeviceBox->count(); ++i) {
        if (MidiOutDeviceBox->itemText(i).toStdString() == stored) {
            selected = i;
            break;
        }
    }
    MidiOutDeviceBox->setCurrentIndex(selected);
}

void TMidiOutDeviceSelectForm::DefaultButtonClick() { MidiOutDeviceBox->setCurrentIndex(0); }

void TMidiOutDeviceSelectForm::OKButtonClick() {
    // The first entry is the default device, whatever a device of that name might exist.
    const int selected = MidiOutDeviceBox->currentIndex();
    const std::string name = selected > 0 ? MidiOutDeviceBox->currentText().toStdString() : std::string();
    if (m_hooks.settings.writeString) {
        m_hooks.settings.writeString(dialogs::kMidiDeviceSection, dialogs::kMidiDeviceKey, name);
    }
    if (m_hooks.deviceChanged) {
        m_hooks.deviceChanged();
    }
    accept();
}

void TMidiOutDeviceSelectForm::CancelButtonClick() { reject(); }

void TMidiOutDeviceSelectForm::HelpButtonClick() {
    if (m_hooks.help) {
        m_hooks.help();
    }
}
