// The window's components: where each sits and what it shows. Handlers are connected
// here and live in the files of their concern.

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "BarBox.h"
#include "Bevel.h"
#include "Cantivo.h"
#include "FontMatch.h"
#include "Filestat.h"
#include "HelpWindow.h"
#include "Ledbuton.h"
#include "Lyricbox.h"
#include "MonitorBtn.h"
#include "Ownbuton.h"
#include "Pictures.h"
#include "Recbtn.h"
#include "Recslidr.h"
#include "SmBmpBtn.h"
#include "SpinButton.h"
#include "Timebox.h"
#include "Trecesed.h"
#include "Trkbar.h"
#include "Vledrow.h"
#include "Vslider.h"

namespace cvkapp {

namespace {

const QColor kDisplayText(255, 159, 0);
const QColor kPanelColor(0x2e, 0x2f, 0x33);
const QColor kCaptionText(0xd8, 0xd8, 0xdc);

// Colours go through palettes, never style sheets: a sheet on a panel reaches every widget
// below it, its hints included, and outranks the palettes the displays set.
void paintPanel(QWidget* panel) {
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, kPanelColor);
    panel->setPalette(palette);
}

QLabel* caption(QWidget* parent, const QString& text, int x, int y) {
    auto* label = new QLabel(text, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kCaptionText);
    label->setPalette(palette);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLabel* display(QWidget* parent, int x, int y, int width) {
    auto* label = new QLabel(parent);
    label->setGeometry(x, y, width, 26);
    label->setAlignment(Qt::AlignCenter);
    QFont font("Monospace");
    font.setStyleHint(QFont::TypeWriter);
    font.setBold(true);
    font.setPixelSize(17);
    label->setFont(font);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, kDisplayText);
    label->setPalette(palette);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return label;
}

// Internet menu items come from the build: "Caption|address" pairs separated by ';'.
QList<QPair<QString, QString>> internetLinks() {
    QList<QPair<QString, QString>> links;
#ifdef CVK_INTERNET_LINKS
    for (const QString& item : QString(CVK_INTERNET_LINKS).split(';', Qt::SkipEmptyParts)) {
        const int bar = static_cast<int>(item.indexOf('|'));
        if (bar > 0) {
            links.append({item.left(bar), item.mid(bar + 1)});
        }
    }
#endif
    return links;
}

}  // namespace

TSimpleBmpButton* TCantivo::pictureButton(QWidget* parent, const QString& picture, int x, int y) {
    auto* button = new TSimpleBmpButton(parent);
    const QPixmap up = controls::picture(picture + "Up");
    button->SetUpImage(up);
    button->SetDownImage(controls::picture(picture + "Down"));
    button->SetDisImage(controls::picture(picture + "Disabled"));
    button->setGeometry(x, y, qRound(up.width() / up.devicePixelRatio()),
                        qRound(up.height() / up.devicePixelRatio()));
    return button;
}

void TCantivo::buildMenus() {
    File1 = menuBar()->addMenu("&File");
    New1 = File1->addAction("&New");
    Open1 = File1->addAction("&Open...");
    SongLibrary1 = File1->addAction("Song &Library...");
    SongLibrary1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    Save1 = File1->addAction("&Save");
    SaveAs1 = File1->addAction("Save &As...");
    ExportAudio1 = File1->addAction("&Export Audio...");
    File1->addSeparator();
    Preferences1 = File1->addAction("&Preferences...");
    AudioConfigurationWizard1 = File1->addAction("Audio Configuration &Wizard...");
    CheckForUpdatesSeparator = File1->addSeparator();
    CheckForUpdates1 = File1->addAction("&Check For Updates");
    File1->addSeparator();
    Exit1 = File1->addAction("E&xit");
    File1->addSeparator();
    for (std::size_t i = 0; i < MRU.size(); ++i) {
        MRU[i] = File1->addAction(QString());
        MRU[i]->setObjectName(QString("MRU%1").arg(i));
        MRU[i]->setVisible(false);
    }

    Lyrics1 = menuBar()->addMenu("&Lyrics");
    NormalSize1 = Lyrics1->addAction("Normal Size");
    NormalSize1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F1));
    Maximize1 = Lyrics1->addAction("Maximize");
    Maximize1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F2));
    FullScreen1 = Lyrics1->addAction("Full Screen");
    FullScreen1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F3));
    Lyrics1->addSeparator();
    Font1 = Lyrics1->addAction("&Font...");
    BackgroundColor1 = Lyrics1->addAction("&Background Color...");
    // The size shortcuts keep working in full screen, where the menus are hidden.
    addAction(NormalSize1);
    addAction(Maximize1);
    addAction(FullScreen1);

    Help1 = menuBar()->addMenu("&Help");
    QAction* contents = Help1->addAction("&Contents");
    contents->setShortcut(QKeySequence::HelpContents);
    QAction* usingHelp = Help1->addAction("&How to Use Help");
    connect(contents, &QAction::triggered, this, [this] { showHelp(this, HelpPage::Contents); });
    connect(usingHelp, &QAction::triggered, this, [this] { showHelp(this, HelpPage::UsingHelp); });

    Internet1 = menuBar()->addMenu("&Internet");
    const auto links = internetLinks();
    for (const auto& [text, address] : links) {
        QAction* item = Internet1->addAction(text);
        const QUrl url(address);
        connect(item, &QAction::triggered, this, [url] { QDesktopServices::openUrl(url); });
    }
    Internet1->menuAction()->setVisible(!links.isEmpty());
}

void TCantivo::buildLeftPanel() {
    // Past the panels, where a maximized or full-screen window is larger than its layout.
    paintPanel(Client);
    LeftPanel = new QWidget(Client);
    LeftPanel->setObjectName("LeftPanel");
    LeftPanel->setGeometry(0, 0, 222, kClientHeight);
    paintPanel(LeftPanel);

    caption(LeftPanel, "Tempo", 16, 17);
    TempoDisplay = display(LeftPanel, 96, 12, 90);
    TempoSpin = new TSpinButton(LeftPanel);
    TempoSpin->setGeometry(188, 12, 18, 26);
    caption(LeftPanel, "Key", 16, 49);
    KeyDisplay = display(LeftPanel, 96, 44, 90);
    KeySpin = new TSpinButton(LeftPanel);
    KeySpin->setGeometry(188, 44, 18, 26);
    caption(LeftPanel, "Volume", 16, 81);
    VolumeDisplay = display(LeftPanel, 96, 76, 90);
    VolSpin = new TSpinButton(LeftPanel);
    VolSpin->setGeometry(188, 76, 18, 26);

    BarBox = new TBarBox(LeftPanel);
    BarBox->move(48, 120);
    MidiTime = new TTimeBox(LeftPanel);
    MidiTime->move(16, 168);

    RewindButton = pictureButton(LeftPanel, "Rewind", 14, 224);
    PlayButton = pictureButton(LeftPanel, "Play", 47, 224);
    PauseButton = pictureButton(LeftPanel, "Pause", 80, 224);
    PauseButton->SetPauseButton(true);
    StopButton = pictureButton(LeftPanel, "Stop", 113, 224);
    FForwardButton = pictureButton(LeftPanel, "FastForward", 146, 224);
    OpenButton = pictureButton(LeftPanel, "Open", 179, 224);
    RewindButton->setToolTip("Rewind");
    PlayButton->setToolTip("Play");
    PauseButton->setToolTip("Pause");
    StopButton->setToolTip("Stop");
    FForwardButton->setToolTip("Fast forward");
    OpenButton->setToolTip("Open a song");

    RecButton = new TRecBmpButton(LeftPanel);
    RecButton->SetUpImage(controls::picture("RecordUp"));
    RecButton->SetDownImage(controls::picture("RecordDown"));
    RecButton->SetDisabledImage(controls::picture("RecordDisabled"));
    RecButton->SetOnImage(controls::picture("RecordOn"));
    RecButton->setGeometry(14, 272, 29, 30);
    RecButton->setToolTip("Record");
    MonitorButton = new TMonitorButton(LeftPanel);
    MonitorButton->SetUpImage(controls::picture("MonitorOn"));
    MonitorButton->SetOffImage(controls::picture("MonitorOff"));
    MonitorButton->SetDownImage(controls::picture("MonitorDown"));
    MonitorButton->SetDisImage(controls::picture("MonitorDisabled"));
    MonitorButton->setGeometry(52, 276, 22, 22);
    MonitorButton->setToolTip("Hear yourself while recording");
    SavePfcButton = pictureButton(LeftPanel, "SavePerformance", 146, 276);
    SavePfcButton->setToolTip("Save the performance");
    ClearButton = pictureButton(LeftPanel, "ClearPerformance", 179, 276);
    ClearButton->setToolTip("Clear the performance");

    // Under the record row: the echo the singer hears and the microphone's volume.
    EchoLabel = caption(LeftPanel, "Echo", 16, 324);
    DelayBar = new TEchoTrackbar(LeftPanel);
    DelayBar->SetLoLimit(0);
    DelayBar->SetHiLimit(500);
    DelayBar->SetCurrentPos(0);
    DelayBar->setGeometry(62, 308, 14, 52);
    DelayBar->setAccessibleName("Echo delay");
    caption(LeftPanel, "Mic", 110, 324);
    RecVolSlider = new TRecSlider(LeftPanel);
    RecVolSlider->SetImage(controls::picture("RECVOL_THUMB"));
    RecVolSlider->SetLoLimit(0);
    RecVolSlider->SetHiLimit(63);
    RecVolSlider->SetCurrentPos(31);
    RecVolSlider->setGeometry(146, 308, 20, 52);
    RecVolSlider->setAccessibleName("Microphone volume");

    FileStatusDisplay = new TFileStatusBox(LeftPanel);
    FileStatusDisplay->move(11, 364);
    FileStatusDisplay->SetFileLoaded(TFileStatusBox::none);
}

void TCantivo::buildRightPanel() {
    RightPanel = new QWidget(Client);
    RightPanel->setObjectName("RightPanel");
    RightPanel->setGeometry(222, 0, kClientWidth - 222, kClientHeight);
    paintPanel(RightPanel);

    Panel5 = new TRecessedPanel(RightPanel);
    Panel5->setObjectName("Panel5");
    Panel5->setGeometry(24, 112, 383, 274);

    // The voice column: the recorded voice's level, volume and mutes.
    BitBtn1 = new QPushButton(Panel5);
    BitBtn1->setGeometry(3, 3, 20, 20);
    BitBtn1->setIcon(QIcon(controls::picture("info")));
    MidiOutMuteButton = new TLedButton(Panel5);
    MidiOutMuteButton->SetLedType(TLedButton::redLedButton);
    MidiOutMuteButton->move(3, 23);
    MidiOutMuteButton->setToolTip("Mute the song");
    WaveOutMuteButton = new TLedButton(Panel5);
    WaveOutMuteButton->SetLedType(TLedButton::greenLedButton);
    WaveOutMuteButton->move(3, 43);
    WaveOutMuteButton->setToolTip("Mute the recorded voice");
    RecLedLevel = new TVLEDRow(Panel5);
    RecLedLevel->move(3, 64);
    WaveOutSlider = new TRecSlider(Panel5);
    WaveOutSlider->SetImage(controls::picture("WAVEOUT_THUMB"));
    WaveOutSlider->SetLoLimit(0);
    WaveOutSlider->SetHiLimit(63);
    WaveOutSlider->SetCurrentPos(31);
    WaveOutSlider->setGeometry(3, 152, 20, 100);
    BitBtn2 = new QPushButton(Panel5);
    BitBtn2->setGeometry(3, 253, 20, 20);
    BitBtn2->setIcon(QIcon(controls::picture("notes")));
    BitBtn1->setEnabled(false);
    BitBtn2->setEnabled(false);

    buildTrackTemplates();
}

void TCantivo::buildTrackTemplates() {
    Bevel1 = new TBevel(Panel5);
    Bevel1->setGeometry(28, 2, 22, 272);
    MuteTrack01 = new TLedButton(Panel5);
    MuteTrack01->SetLedType(TLedButton::blueLedButton);
    MuteTrack01->setGeometry(29, 3, 20, 20);
    SoloTrack01 = new TLedButton(Panel5);
    SoloTrack01->SetLedType(TLedButton::yellowLedButton);
    SoloTrack01->setGeometry(29, 23, 20, 20);
    InfoTrack01 = new TOwnButton(Panel5);
    InfoTrack01->SetOwnType(TOwnButton::notesButton);
    InfoTrack01->setGeometry(29, 43, 20, 20);
    volLEDTrack01 = new TVLEDRow(Panel5);
    volLEDTrack01->setGeometry(29, 64, 20, 86);
    volTrack01 = new TVSlider(Panel5);
    volTrack01->setGeometry(29, 152, 20, 100);
    MasterTrack01 = new QPushButton(" 1", Panel5);
    MasterTrack01->setGeometry(29, 253, 20, 20);
    QFont number(installedFontFamily("MS Sans Serif"));
    number.setBold(true);
    number.setPixelSize(10);
    MasterTrack01->setFont(number);
    // A plain raised face with nothing around the two digits.
    MasterTrack01->setStyleSheet(
        "QPushButton { color: black; background-color: #c0c0c0; padding: 0px;"
        " border: 1px solid; border-color: #ffffff #404040 #404040 #ffffff; }"
        "QPushButton:pressed { border-color: #404040 #ffffff #ffffff #404040; }");

    // Under the sixteen strips, as wide as they are. It sits on the client rather than the
    // right panel so that it is drawn as the desktop draws scroll bars, not in the panel's
    // colours.
    TrackView = new QScrollBar(Qt::Horizontal, Client);
    TrackView->setObjectName("TrackView");
    TrackView->setGeometry(RightPanel->x() + Panel5->x() + Bevel1->x(), Panel5->y() + Panel5->height() + 2,
                           kStripCount * kStripStep, kTrackViewHeight - 2);
}

void TCantivo::buildLyricPanel() {
    LyricPanel = new QWidget(Client);
    LyricPanel->setObjectName("LyricPanel");
    LyricPanel->setGeometry(230, 8, 433, 97);
    auto* layout = new QVBoxLayout(LyricPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    LyricsBar = new QWidget(LyricPanel);
    LyricsBar->setObjectName("LyricsBar");
    LyricsBar->setFixedHeight(22);
    LyricsBar->setAutoFillBackground(true);
    QPalette bar = LyricsBar->palette();
    bar.setColor(QPalette::Window, Qt::black);
    LyricsBar->setPalette(bar);
    layout->addWidget(LyricsBar);

    LyricBox1 = new lyrics::TLyricBox(LyricPanel);
    layout->addWidget(LyricBox1, 1);

    DemagnifyButton = pictureButton(LyricsBar, "LyricZoomOut", 3, 3);
    MagnifyButton = pictureButton(LyricsBar, "LyricZoomIn", 21, 3);
    FontButton = pictureButton(LyricsBar, "LyricFont", 39, 3);
    PaintButton = pictureButton(LyricsBar, "LyricColour", 57, 3);
    SmallButton = pictureButton(LyricsBar, "LyricNormalSize", 0, 3);
    MediumButton = pictureButton(LyricsBar, "LyricMaximize", 0, 3);
    LargeButton = pictureButton(LyricsBar, "LyricFullScreen", 0, 3);
    DemagnifyButton->setToolTip("Smaller lyrics");
    MagnifyButton->setToolTip("Larger lyrics");
    FontButton->setToolTip("Lyric font");
    PaintButton->setToolTip("Lyric background colour");
    SmallButton->setToolTip("Normal size (Ctrl+F1)");
    MediumButton->setToolTip("Maximize (Ctrl+F2)");
    LargeButton->setToolTip("Full screen (Ctrl+F3)");
    DemagnifyButton->SetEnabled(false);
    MagnifyButton->SetEnabled(false);
    FontButton->SetEnabled(false);
}

void TCantivo::connectHandlers() {
    connect(New1, &QAction::triggered, this, &TCantivo::New1Click);
    connect(Open1, &QAction::triggered, this, &TCantivo::Open1Click);
    connect(SongLibrary1, &QAction::triggered, this, &TCantivo::SongLibrary1Click);
    connect(ExportAudio1, &QAction::triggered, this, &TCantivo::ExportAudio1Click);
    // An export is possible whenever Save As is: a song loaded, nothing playing or recording.
    connect(SaveAs1, &QAction::changed, ExportAudio1, [this] { ExportAudio1->setEnabled(SaveAs1->isEnabled()); });
    ExportAudio1->setEnabled(SaveAs1->isEnabled());
    connect(Save1, &QAction::triggered, this, &TCantivo::Save1Click);
    connect(SaveAs1, &QAction::triggered, this, &TCantivo::SaveAs1Click);
    connect(Preferences1, &QAction::triggered, this, &TCantivo::PreferencesClick);
    connect(AudioConfigurationWizard1, &QAction::triggered, this, &TCantivo::RunConfigWizard);
    connect(CheckForUpdates1, &QAction::triggered, this, &TCantivo::CheckForUpdatesClick);
    connect(Exit1, &QAction::triggered, this, &TCantivo::close);
    for (QAction* item : MRU) {
        connect(item, &QAction::triggered, this, [this, item] { MRU0Click(item); });
    }
    connect(NormalSize1, &QAction::triggered, this, &TCantivo::SmallButtonClick);
    connect(Maximize1, &QAction::triggered, this, &TCantivo::MediumButtonClick);
    connect(FullScreen1, &QAction::triggered, this, &TCantivo::LargeButtonClick);
    connect(Font1, &QAction::triggered, this, &TCantivo::Font1Click);
    connect(BackgroundColor1, &QAction::triggered, this, &TCantivo::BackgroundColor1Click);

    connect(PlayButton, &TSimpleBmpButton::OnClick, this, &TCantivo::PlayButtonClick);
    connect(PauseButton, &TSimpleBmpButton::OnClick, this, &TCantivo::PauseButtonClick);
    connect(StopButton, &TSimpleBmpButton::OnClick, this, &TCantivo::StopButtonClick);
    connect(RewindButton, &TSimpleBmpButton::OnClick, this, &TCantivo::RewindButtonClick);
    connect(FForwardButton, &TSimpleBmpButton::OnClick, this, &TCantivo::FForwardButtonClick);
    connect(OpenButton, &TSimpleBmpButton::OnClick, this, &TCantivo::OpenButtonClick);
    connect(RecButton, &TRecBmpButton::OnClick, this, &TCantivo::RecButtonClick);
    connect(MonitorButton, &TMonitorButton::OnClick, this, &TCantivo::MonitorButtonClick);
    connect(SavePfcButton, &TSimpleBmpButton::OnClick, this, &TCantivo::SavePfcButtonClick);
    connect(ClearButton, &TSimpleBmpButton::OnClick, this, &TCantivo::ClearButtonClick);
    connect(WaveOutMuteButton, &TLedButton::OnChange, this, &TCantivo::WaveOutMuteButtonChange);
    connect(MidiOutMuteButton, &TLedButton::OnChange, this, &TCantivo::MidiOutMuteButtonChange);
    connect(WaveOutSlider, &TVSlider::OnChange, this, &TCantivo::WaveOutSliderChange);
    connect(RecVolSlider, &TVSlider::OnChange, this, &TCantivo::RecVolSliderChange);
    connect(DelayBar, &TVSlider::OnChange, this, &TCantivo::DelayBarChange);
    connect(TempoSpin, &TSpinButton::DownClick, this, &TCantivo::TempoSpinDownClick);
    connect(TempoSpin, &TSpinButton::UpClick, this, &TCantivo::TempoSpinUpClick);
    connect(KeySpin, &TSpinButton::DownClick, this, &TCantivo::KeySpinDownClick);
    connect(KeySpin, &TSpinButton::UpClick, this, &TCantivo::KeySpinUpClick);
    connect(VolSpin, &TSpinButton::DownClick, this, &TCantivo::VolSpinDownClick);
    connect(VolSpin, &TSpinButton::UpClick, this, &TCantivo::VolSpinUpClick);

    connect(DemagnifyButton, &TSimpleBmpButton::OnClick, this, &TCantivo::DemagnifyButtonClick);
    connect(MagnifyButton, &TSimpleBmpButton::OnClick, this, &TCantivo::MagnifyButtonClick);
    connect(FontButton, &TSimpleBmpButton::OnClick, this, &TCantivo::FontButtonClick);
    connect(PaintButton, &TSimpleBmpButton::OnClick, this, &TCantivo::PaintButtonClick);
    connect(SmallButton, &TSimpleBmpButton::OnClick, this, &TCantivo::SmallButtonClick);
    connect(MediumButton, &TSimpleBmpButton::OnClick, this, &TCantivo::MediumButtonClick);
    connect(LargeButton, &TSimpleBmpButton::OnClick, this, &TCantivo::LargeButtonClick);

    connect(TrackView, &QScrollBar::valueChanged, this, &TCantivo::TrackViewChange);
    connect(BitBtn1, &QPushButton::clicked, this, &TCantivo::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TCantivo::BitBtn2Click);

    connect(CVKTimer, &QTimer::timeout, this, &TCantivo::CVKTimerTimer);
}

}  // namespace cvkapp
