#include "AboutIns.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "InstrumentNames.h"
#include "LyricScan.h"
#include "SongText.h"

namespace {

constexpr int kNoProgram = 0xFF;

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutBox");
    setWindowTitle("Instrument Name");
    // A close box and nothing else on the border.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    GroupBox1 = new QGroupBox("GroupBox1", this);
    GroupBox1->setGeometry(13, 5, 186, 139);
    Label1 = new QLabel("Current Instrument :", GroupBox1);
    Label1->move(8, 18);
    Memo1 = new QPlainTextEdit(GroupBox1);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(8, 34, 170, 20);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->document()->setDocumentMargin(1);
    Memo1->setFrameShape(QFrame::NoFrame);
    QPalette face = Memo1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    Memo1->setPalette(face);
    Label2 = new QLabel("New Instrument :", GroupBox1);
    Label2->move(8, 62);
    ComboBox1 = new QComboBox(GroupBox1);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(8, 78, 170, 22);
    ComboBox1->setMaxVisibleItems(16);
    for (int program = 0; program < resources::kInstrumentCount; ++program) {
        const std::string_view name = resources::instrumentName(program);
        ComboBox1->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    }

    Default = new QPushButton("Restore Original", this);
    Default->setGeometry(52, 117, 105, 20);
    Ok = new QPushButton("OK", this);
    Ok->setGeometry(28, 154, 65, 20);
    Ok->setDefault(true);
    Button1 = new QPushButton("Cancel", this);
    Button1->setGeometry(119, 154, 65, 20);

    // A user's choice only: the selection set by the dialog itself previews nothing.
    connect(ComboBox1, &QComboBox::activated, this, &TAboutBox::ComboBox1Change);
    connect(Default, &QPushButton::clicked, this, &TAboutBox::DefaultClick);
    connect(Ok, &QPushButton::clicked, this, &TAboutBox::OkClick);
    connect(Button1, &QPushButton::clicked, this, &TAboutBox::Button1Click);
}

void TAboutBox::sendInstrument(std::int32_t program) {
    if (program < 0 || program >= resources::kInstrumentCount || !m_changeInstrument) {
        return;
    }
    m_changeInstrument(track, channel, program);
}

void TAboutBox::ShowForTrack(int t, const songfile::trackInfo& info) {
    track = t;
    Memo1->setPlainText(" ");
    setWindowTitle("Track No. " + QString::number(t + 1));
    std::string text;
    if (info.Program != kNoProgram) {
        text = std::string(resources::instrumentName(info.Program)) + (info.MorePrograms ? " and Others" : "");
        instrument = info.Program;
        channel = info.Channel;
        hasInstrument = true;
    } else {
        instrument = 0;
        channel = 0;
        hasInstrument = false;
    }
    text = dialogs::trimmed(text);
    if (!text.empty()) {
        Memo1->setPlainText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    }
    ComboBox1->setCurrentIndex(instrument);
    initial = info.FileProgram;
    accepted = false;
    m_openingInstrument = instrument;
    exec();
}

void TAboutBox::ShowVoiceForm() {
    const int groupHeight = GroupBox1->height();
    const int dialogHeight = height();
    const QPoint okPlace = Ok->pos();
    const QString caption = windowTitle();

    setWindowTitle("Voice");
    Memo1->clear();
    Memo1->setPlainText("Performance");
    Memo1->setEnabled(false);
    ComboBox1->hide();
    Default->hide();
    Label2->hide();
    Button1->hide();
    GroupBox1->resize(GroupBox1->width(), groupHeight - kVoiceShrink);
    setFixedSize(width(), dialogHeight - kVoiceShrink);
    Ok->move(okPlace.x() + 35, okPlace.y() - kVoiceShrink);
    voiceForm = true;

    exec();

    GroupBox1->resize(GroupBox1->width(), groupHeight);
    setFixedSize(width(), dialogHeight);
    Ok->move(okPlace);
    ComboBox1->show();
    Default->show();
    Label2->show();
    Button1->show();
    Memo1->setEnabled(true);
    setWindowTitle(caption);
    voiceForm = false;
}

void TAboutBox::ComboBox1Change(int item) { sendInstrument(item); }

void TAboutBox::DefaultClick() {
    // A track the song gives no program has nothing to restore; selecting "item 255"
    // would empty the list's selection.
    if (initial >= 0 && initial < resources::kInstrumentCount) {
        ComboBox1->setCurrentIndex(initial);
    }
}

void TAboutBox::OkClick() {
    if (voiceForm) {
        accept();
        return;
    }
    const int selected = ComboBox1->currentIndex();
    if (selected >= 0) {
        instrument = selected;
        if (hasInstrument) {
            sendInstrument(instrument);
            accepted = true;
        }
    }
    accept();
}

void TAboutBox::Button1Click() {
    // Undoes whatever the list previewed.
    sendInstrument(m_openingInstrument);
    reject();
}
