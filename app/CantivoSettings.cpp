// The settings file: what the window reads at creation and writes at close, the recent
// files of the File menu, and the lyric font and background kept across songs.

#include <QAction>
#include <QPushButton>
#include <QTimer>

#include "Cantivo.h"
#include "FontMatch.h"
#include "Ledbuton.h"
#include "LyricFontCodes.h"
#include "Lyricbox.h"
#include "MonitorBtn.h"
#include "Recbtn.h"
#include "SmBmpBtn.h"
#include "Vledrow.h"
#include "platform/dialogs.h"
#include "platform/profile.h"
#include "synth/soundfont.h"

namespace cvkapp {

namespace {

constexpr const char* kRecentSection = "Most Recently Used Files";
constexpr const char* kFontSection = "FONT";

std::string recentKey(std::size_t index) { return "mru" + std::to_string(index); }

}  // namespace

void TCantivo::ReadCreationSettings() {
    const std::string ini = IniPath();
    RecordBufferSize =
        platform::profileGetInt("Configuration", "Buffer Size (bytes) of each buffer", -1, ini);
    if (RecordBufferSize < 0) {
        RecordBufferSize = 4096;
    }
    SoftwareProcessing = true;
    const int software = platform::profileGetInt("Configuration", "Software", -1, ini);
    if (software >= 0) {
        SoftwareProcessing = software == 1;
    }
    const int monitor = platform::profileGetInt("Monitor", "Status", -1, ini);
    MonitorButton->SetStateOn(monitor == -1 || monitor == 1);
    NonEnglishCharacters = false;
    const int nonEnglish = platform::profileGetInt("Enable non english charecters", "Enabled", -1, ini);
    if (nonEnglish >= 0) {
        NonEnglishCharacters = nonEnglish == 1;
    }
    LyricBox1->setNonEnglishCharacters(NonEnglishCharacters);
    // The offset between song and voice is read by its dialog when it is made.
}

void TCantivo::WriteCloseSettings() {
    writeSetting("Monitor", "Status", MonitorButton->StateOn() ? 1 : 0);
    if (RecordBufferSize != 0) {
        writeSetting("Configuration", "Buffer Size (bytes) of each buffer", RecordBufferSize);
    }
    writeSetting("Enable non english charecters", "Enabled", NonEnglishCharacters ? 1 : 0);
    writeSetting("Configuration", "Software", SoftwareProcessing ? 1 : 0);
    writeSetting("Configuration", "Slider Position", OffsetSliderPosition);
}

void TCantivo::ApplySoundFontChoice() {
    // The sequencer opens the device with only the settings path, and the synthesizer
    // behind it never sees that; an empty or missing key leaves the search to itself.
    synth::setSoundFontChoice(
        platform::profileGetString("Preferences", "SoundFont", "", IniPath()));
}

bool TCantivo::FormClose() {
    if (m_closed) {
        return true;
    }
    // A recording running is stopped first, as Stop stops it, so that the take is whole
    // before the question about keeping it.
    if (Recording) {
        StopRecording();
        waitForTake();
    }
    m_closing = true;
    const bool closed = CloseSong();
    m_closing = false;
    if (!closed) {
        return false;
    }
    if (SongPlaying || SongPaused) {
        Sequencer.CallStopSong(Handle());
        SongPlaying = false;
        SongPaused = false;
    }
    if (VoicePlaying) {
        Audio.AudioStopPlaying();
        VoicePlaying = false;
        RecLedLevel->SetLevel(0);
    }
    // CloseSong freed the lyrics and removed the split copy; the voice files are left, and
    // kept when nobody could be asked about them.
    if (!m_withoutQuestions) {
        deleteFileAndForget(RecordingFile);
        deleteFileAndForget(PendingWaveFile);
    }

    SaveLyricFont();
    WriteCloseSettings();
    CVKTimer->stop();
    FormDestroy();
    m_closed = true;
    return true;
}

void TCantivo::UpdateRecentFiles(const std::string& path, bool enable) {
    const std::string ini = IniPath();
    RecentList entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i] = platform::profileGetString(kRecentSection, recentKey(i), "", ini);
    }
    pushRecentFile(entries, path);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // Without a new path the list is as read: the file is left alone.
        if (!path.empty()) {
            writeSetting(kRecentSection, recentKey(i), entries[i]);
        }
        QAction* item = MRU[i];
        if (entries[i].empty()) {
            item->setText(QString());
            item->setVisible(false);
        } else {
            item->setText(QString::fromStdString(recentCaption(static_cast<int>(i), entries[i])));
            item->setVisible(true);
            item->setEnabled(enable);
        }
    }
}

void TCantivo::MRU0Click(QAction* item) {
    BitBtn1->setEnabled(false);
    BitBtn2->setEnabled(false);
    MidiOutMuteButton->SetState(false);
    WaveOutMuteButton->SetState(false);
    const std::string path = recentPath(item->text().toStdString());
    if (PerformanceUnsaved && askToSavePerformance() && !SavePerformance()) {
        return;
    }
    if (fileExists(path)) {
        LastOpenedFile = path;
        deleteFileAndForget(PendingWaveFile);
        PerformanceUnsaved = false;
        if (CloseSong()) {
            LoadSongFile(path);
        }
        return;
    }
    RecButton->SetEnabled(false);
    SavePfcButton->SetEnabled(false);
    ClearButton->SetEnabled(false);
    New1->setEnabled(true);
    Open1->setEnabled(true);
    Save1->setEnabled(false);
    SaveAs1->setEnabled(false);
    platform::showMessageBox("File: " + path + " does not exist", kTitle,
                             platform::MessageButtons::Ok, platform::MessageIcon::Error, Handle());
}

void TCantivo::setLyricFontName(QFont& font, const std::string& name) {
    m_lyricFontName = name;
    font.setFamily(installedFontFamily(QString::fromStdString(name)));
}

void TCantivo::SaveLyricFont() {
    const QFont font = LyricBox1->font();
    writeSetting(kFontSection, "Font_Size", std::to_string(font.pointSize()));
    writeSetting(kFontSection, "Font_Color", colorValue(LyricBox1->fontColor()));
    // A family the user did not change is written back under the name it was stored as.
    const QString drawn = installedFontFamily(font.family());
    if (drawn != installedFontFamily(QString::fromStdString(m_lyricFontName))) {
        m_lyricFontName = drawn.toStdString();
    }
    writeSetting(kFontSection, "Font Name", m_lyricFontName);
    writeSetting(kFontSection, "Font_Style", fontStyleCode(font));
    writeSetting(kFontSection, "Char_Set", LyricBox1->charSet());
}

void TCantivo::LoadLyricFont() {
    const std::string ini = IniPath();
    QFont font = LyricBox1->font();
    setLyricFontName(font, platform::profileGetString(kFontSection, "Font Name", "Times New Roman", ini));
    const int size = platform::profileGetInt(kFontSection, "Font_Size", -1, ini);
    if (size > 0) {
        font.setPointSize(size);
    }
    const int color = platform::profileGetInt(kFontSection, "Font_Color", 0, ini);
    if (color != 0) {
        LyricBox1->setFontColor(colorFromValue(color));
    }
    const int background = platform::profileGetInt("Background", "Background_color", 0, ini);
    LyricBox1->setColor(background != 0 ? colorFromValue(background) : kDefaultLyricBackground);
    applyFontStyleCode(platform::profileGetInt(kFontSection, "Font_Style", -1, ini), font);
    const int charSet = platform::profileGetInt(kFontSection, "Char_Set", 0, ini);
    if (charSet != 0) {
        LyricBox1->setCharSet(charSet);
    }
    LyricBox1->setFont(font);
}

void TCantivo::BackgroundColor1Click() {
    const QColor chosen = m_options.dialogs.chooseColor(this, LyricBox1->color());
    LyricBox1->setColor(chosen);
    writeSetting("Background", "Background_color", colorValue(chosen));
}

void TCantivo::PaintButtonClick() {
    if (PaintButton->Enabled()) {
        BackgroundColor1Click();
    }
}

void TCantivo::Font1Click() {
    LyricBox1->setFont(m_options.dialogs.chooseFont(this, LyricBox1->font()));
    if (SongLoaded) {
        RelayoutLyrics();
    }
}

void TCantivo::FontButtonClick() {
    if (!FontButton->Enabled() || SongLyrics == nullptr) {
        return;
    }
    Font1Click();
    SaveLyricFont();
}

void TCantivo::CheckForUpdatesClick() {
    writeSetting("CheckedForUpdate", "CheckforUpdateClicked", 1, true);
}

}  // namespace cvkapp
