// Start-up and end of the main window: binding the sequencer, the first showing, the
// window's messages and size changes.

#include "Cantivo.h"
#include "PitchFeature.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QToolTip>
#include <QWindow>
#include <QWindowStateChangeEvent>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "ACWUnit.h"
#include "AboutIns.h"
#include "Aboutinf.h"
#include "LyricFontCodes.h"
#include "LyricScan.h"
#include "Lyricbox.h"
#include "MonitorBtn.h"
#include "Pictures.h"
#include "Recbtn.h"
#include "SmBmpBtn.h"
#include "SpinButton.h"
#include "audio/wave.h"
#include "platform/atoms.h"
#include "platform/dialogs.h"
#include "platform/instance.h"
#include "platform/profile.h"
#include "platform/system.h"

namespace cvkapp {

namespace {

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The settings folder is asked for at every settings access (the timer's included), so
// an existing folder costs one stat and nothing more.
bool makeFolders(const std::string& folder) {
    if (isFolder(folder)) {
        return true;
    }
    std::string partial;
    for (std::size_t i = 0; i < folder.size(); ++i) {
        partial += folder[i];
        if ((folder[i] == '/' && i > 0) || i + 1 == folder.size()) {
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return isFolder(folder);
}

}  // namespace

TCantivo::TCantivo(CantivoOptions options, QWidget* parent)
    : QMainWindow(parent),
      m_options(std::move(options)),
      m_queue(std::make_unique<platform::MessageQueue>()) {
    HostDialogs standard = HostDialogs::standard();
    if (!m_options.dialogs.openFile) m_options.dialogs.openFile = standard.openFile;
    if (!m_options.dialogs.saveFile) m_options.dialogs.saveFile = standard.saveFile;
    if (!m_options.dialogs.chooseFont) m_options.dialogs.chooseFont = standard.chooseFont;
    if (!m_options.dialogs.chooseColor) m_options.dialogs.chooseColor = standard.chooseColor;
    if (!m_options.dialogs.askText) m_options.dialogs.askText = standard.askText;

    setObjectName("TCantivo");
    setWindowIcon(QIcon(controls::picture("AppIcon")));
    Client = new QWidget(this);
    // The components sit where the design puts them in this area. It may grow, though:
    // window managers maximize or make full screen only a window that can change its size,
    // and the maximize box brings the full-screen lyric layout (see changeEvent).
    Client->setMinimumSize(kClientWidth, kClientHeight);
    Client->installEventFilter(this);
    setCentralWidget(Client);
    CVKTimer = new QTimer(this);
    CVKTimer->setInterval(50);

    buildMenus();
    buildLeftPanel();
    buildRightPanel();
    buildLyricPanel();
    buildPitchStrip();
    LyricPanel->raise();
    connectHandlers();
    setUpDesktopHabits();

    // Library messages arrive through the queue's descriptor on the GUI thread.
    m_queueNotifier = new QSocketNotifier(m_queue->notifyFd(), QSocketNotifier::Read, this);
    connect(m_queueNotifier, &QSocketNotifier::activated, this, &TCantivo::PumpMessages);

    FormCreate();
}

TCantivo::~TCantivo() {
    // A wizard still open gives back what it changed while everything it calls is here.
    if (AudioConfigWelcomeForm != nullptr) {
        AudioConfigWelcomeForm->FormClose();
    }
    if (!m_closed) {
        // Destroyed without a close (a test, or the session ending): the sequencer must
        // not go on playing into a window that is gone, nor the wave library recording
        // for it; the mixer is given back as a recording's stop gives it back.
        StopRecording();
        waitForTake();
        if (VoicePlaying) {
            Audio.AudioStopPlaying();
            VoicePlaying = false;
        }
        if (SongPlaying || SongPaused) {
            if (Sequencer.CallStopSong) Sequencer.CallStopSong(Handle());
        }
        songfile::FreeLyricList(SongLyrics);
        SongLyrics = nullptr;
        if (LyricBox1 != nullptr) LyricBox1->SetLyrics(nullptr, true);
        deleteFileAndForget(SplitFileName);
    }
    FormDestroy();
}

std::string TCantivo::GetIniFolder() {
    std::string folder = platform::userSettingsFolder();
    if (folder.empty() || !makeFolders(folder)) {
        // No usable home: the settings live beside the program, as a last resort.
        folder = platform::programFolder();
    }
    return folder;
}

void TCantivo::AttachInstance(platform::SingleInstance* instance) {
    m_instance = instance;
    delete m_instanceNotifier;
    m_instanceNotifier = nullptr;
    if (instance == nullptr) {
        return;
    }
    instance->setWindow(Handle());
    if (instance->notifyFd() >= 0) {
        m_instanceNotifier =
            new QSocketNotifier(instance->notifyFd(), QSocketNotifier::Read, this);
        connect(m_instanceNotifier, &QSocketNotifier::activated, this,
                [this] { m_instance->poll(); });
    }
}

void TCantivo::FormCreate() {
    // "Check For Updates" and the separator above it are never shown.
    CheckForUpdates1->setVisible(false);
    CheckForUpdatesSeparator->setVisible(false);

    SongPlaying = SongPaused = Recording = VoicePlaying = false;
    SongLoaded = SongModified = false;
    LastLyricCounter = 0;
    SongDivision = 0;

    SongsFolder = ProgramFolder() + "KAR/";
    LastOpenedFile = SongsFolder;
    setWindowTitle(kTitle);

    const std::string library =
        m_options.sequencerLibrary.empty() ? sequencerLibraryName() : m_options.sequencerLibrary;
    Sequencer = bindSequencer(library, SequencerLibrary);
    // A missing library or name counts as a MIDI output that cannot be opened: nothing
    // calls an empty entry, and the user hears why at the first showing and at Play.
    if (!Sequencer.complete()) {
        MidiInitFailed = true;
    } else {
        ApplySoundFontChoice();
        if (Sequencer.CallInitMIDIOut(Handle(), IniPath().c_str()) == 0) {
            MidiInitFailed = true;
        }
    }
    SelectAudioDevices();

    TempoSetting = 120;
    ShowTempo();
    KeySetting = 0;
    ShowKey();
    MasterVolume = 100;
    ShowVolume();

    // The track panel: its strips, and its tables neutral (no volume change, the song's
    // own programs). The dialogs of the strips live as long as the window.
    FirstVisibleTrack = 0;
    BuildTrackStrips();
    AboutBox = new TAboutBox(this);
    AboutBox->SetChangeInstrument([this](std::int32_t track, std::int32_t channel, std::int32_t program) {
        if (Sequencer.CallChangeInstrumentDLL != nullptr) {
            Sequencer.CallChangeInstrumentDLL(track, channel, program);
        }
    });
    AboutTrack = new TAboutTrack(this);

    Recording = false;
    RecordingFile.clear();
    UpdateRecentFiles("", true);

    QPalette hints = QToolTip::palette();
    hints.setColor(QPalette::ToolTipBase, QColor(255, 255, 223));
    hints.setColor(QPalette::ToolTipText, Qt::black);
    QToolTip::setPalette(hints);

    Save1->setEnabled(false);
    SaveAs1->setEnabled(false);
    SmallButton->SetEnabled(false);
    MediumButton->SetEnabled(true);
    LargeButton->SetEnabled(true);
    TempoSpin->setEnabled(false);
    KeySpin->setEnabled(false);
    VolSpin->setEnabled(false);
    RecButton->SetEnabled(false);
    SavePfcButton->SetEnabled(false);
    ClearButton->SetEnabled(false);

    LyricBox1->setColor(kDefaultLyricBackground);
    QFont font = LyricBox1->font();
    setLyricFontName(font, "Times New Roman");
    font.setPointSize(16);
    LyricBox1->setFont(font);
    // The lyric font and background of the last session: the next song's load writes the
    // font in force back before reading it, so it must be the stored one from the start.
    LoadLyricFont();
    LyricBox1->SetLyrics(nullptr, true);

    ReadCreationSettings();
    CreatePreferenceDialogs();

    SavedBounds = geometry();
    NormalLyricHeight = LyricPanel->height();
    PlaceSizeButtons();
    LyricPanel->hide();
}

void TCantivo::FormShow() {
    if (m_shown) {
        return;
    }
    m_shown = true;
    CVKTimer->start();
    if (!m_options.commandLineFile.isEmpty()) {
        LyricBox1->SetLyrics(nullptr, true);
        LoadSongFile(m_options.commandLineFile.toStdString());
    }
    if (MidiInitFailed) {
        platform::showMessageBox("Cannot Initialize the MIDI Driver", kTitle,
                                 platform::MessageButtons::Ok, platform::MessageIcon::None,
                                 Handle());
    }
    const int midi = platform::profileGetInt("Preferences", "Midi", -1, IniPath());
    if (midi >= 0) {
        keepMidiWhileRecording = midi == 1;
    }
    NormalLyricHeight = LyricPanel->height();
    if (std::getenv("CVK_DEBUG") != nullptr) {
        // The start-up benchmark waits for this line.
        std::fprintf(stderr, "cvk: window shown%s%s\n", SongLoaded ? ", song loaded: " : "",
                     SongFileName.c_str());
    }
    OfferInterruptedTakes();
}

void TCantivo::FormDestroy() {
    DeselectAudioDevices();
    if (SequencerLibrary != nullptr) {
        platform::freeLibrary(SequencerLibrary);
        SequencerLibrary = nullptr;
        Sequencer = {};
        // From here on the table is empty: nothing may start a song again.
        MidiInitFailed = true;
    }
}

void TCantivo::PumpMessages() {
    // Reset the queue's descriptor before taking the messages: one posted after the reset
    // makes it readable again, so none is left waiting, and a drained queue no longer
    // wakes the notifier over and over.
    std::uint64_t posted = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_queue->notifyFd(), &posted, sizeof posted);
    platform::Message message;
    while (m_queue->peek(message)) {
        WndProc(message);
    }
}

void TCantivo::WndProc(const platform::Message& message) {
    switch (message.message) {
        case platform::kOpenFileMessage:
            OpenFileRequest(static_cast<std::uint16_t>(message.wParam & 0xFFFF));
            break;
        case audio::kWaveOutCloseMessage:
            Audio.ProcessWavePlayMsg(message.message, message.wParam, message.lParam);
            VoicePlaybackClosed();
            break;
        case audio::kWaveOutOpenMessage:
        case audio::kWaveOutDoneMessage:
        case audio::kWaveOutErrorMessage:
            Audio.ProcessWavePlayMsg(message.message, message.wParam, message.lParam);
            break;
        case audio::kWaveInOpenMessage:
        case audio::kWaveInCloseMessage:
        case audio::kWaveInDataMessage:
        case audio::kWaveInErrorMessage:
            Audio.ProcessWaveRecMsg(message.message, message.wParam, message.lParam);
            lineUpFinishedTake();
            break;
        default:
            // The sequencer's end-of-song message is not needed: the timer sees the end.
            break;
    }
}

void TCantivo::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_shown) {
        // After the window is on screen, so the first boxes have a parent to sit on.
        QTimer::singleShot(0, this, &TCantivo::FormShow);
    }
}

void TCantivo::closeEvent(QCloseEvent* event) {
    if (m_closed || FormClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TCantivo::CloseWithoutQuestions(const std::function<void()>& closed) {
    m_withoutQuestions = true;
    // A box or dialog in front runs an event loop of its own, the one this runs inside: it
    // is cancelled, and the close comes once that loop has returned. One that will not go
    // is left after a few tries.
    if (QWidget* modal = QApplication::activeModalWidget();
        modal != nullptr && modal != this && m_modalsCancelled < 10) {
        ++m_modalsCancelled;
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        QTimer::singleShot(0, this, [this, closed] { CloseWithoutQuestions(closed); });
        return;
    }
    if (close() && closed) {
        closed();
    }
}

void TCantivo::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) {
        return;
    }
    if (isMaximized() && LargeButton->Enabled()) {
        SystemMaximized();
    } else if (!isMaximized() && MaximizedBySystem) {
        SystemRestored();
    }
}

bool TCantivo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Client && event->type() == QEvent::Resize) {
        fitFullScreenLayout();
    } else if (FullScreen && event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        // Installed on the application while full screen: the key is caught on its way to
        // the window system's window or to whichever widget has the focus, and only for
        // this window (a dialog in front keeps its own Esc).
        const auto* widget = watched->isWidgetType() ? static_cast<QWidget*>(watched) : nullptr;
        const bool ours =
            watched == windowHandle() || (widget != nullptr && widget->window() == this);
        if (ours) {
            SmallButtonClick();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TCantivo::writeSetting(const std::string& section, const std::string& key,
                            const std::string& value, bool quiet) {
    const std::string path = IniPath();
    if (platform::profileWriteString(section, key, value, path)) {
        return true;
    }
    if (!quiet) {
        platform::showMessageBox("Unable to write to " + path, kTitle,
                                 platform::MessageButtons::Ok, platform::MessageIcon::Error,
                                 Handle());
    }
    return false;
}

bool TCantivo::writeSetting(const std::string& section, const std::string& key, int value,
                            bool quiet) {
    return writeSetting(section, key, std::to_string(value), quiet);
}

void TCantivo::setIdleMenus(bool enabled) {
    Save1->setEnabled(enabled);
    SaveAs1->setEnabled(enabled);
    New1->setEnabled(enabled);
    Open1->setEnabled(enabled);
    AudioConfigurationWizard1->setEnabled(enabled);
    OpenButton->SetEnabled(enabled);
}

std::string TCantivo::fileNameOnly(const std::string& path) const {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace cvkapp
