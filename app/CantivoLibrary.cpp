// The song library window and the singers' queue, reached from File > Song Library....
// The player is reached only through the hooks given to the window: the open-song path of
// a drop (File > Open's questions, then the song), Play, the settings the left panel
// shows, and a line over the lyric box for the next singer.

#include <QLabel>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QString>

#include <algorithm>

#include "Cantivo.h"
#include "LibraryWindow.h"
#include "Lyricbox.h"
#include "platform/dialogs.h"

namespace cvkapp {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

bool TCantivo::OpenLibrarySong(const std::string& path) {
    if (!Open1->isEnabled() || !prepareToOpen()) {
        return false;
    }
    openChosenFile(path);
    return SongLoaded && SongFileName == path;
}

void TCantivo::SongLibrary1Click() {
    if (SongLibraryWindow == nullptr) {
        LibraryWindowHooks hooks;
        hooks.openSong = [this](const std::string& path) { return OpenLibrarySong(path); };
        hooks.play = [this] { PlayButtonClick(); };
        hooks.showNext = [this](const QString& line) {
            if (m_nextSingerLine == nullptr) {
                m_nextSingerLine = new QLabel(LyricPanel);
                m_nextSingerLine->setObjectName("NextSinger");
                m_nextSingerLine->setAlignment(Qt::AlignCenter);
                m_nextSingerLine->setStyleSheet("QLabel { background: #FFFFE0; color: #000080; font-weight: bold; }");
            }
            m_nextSingerLine->setText(line);
            m_nextSingerLine->setGeometry(0, 0, LyricPanel->width(), m_nextSingerLine->sizeHint().height() + 8);
            m_nextSingerLine->setVisible(!line.isEmpty());
            m_nextSingerLine->raise();
        };
        hooks.currentSong = [this] { return SongLoaded ? SongFileName : std::string(); };
        // The tempo as the display shows it (following the song's tempo changes, the tempo
        // at its start).
        hooks.currentSettings = [this] { return library::SongSettings{KeySetting, ShownTempo, MasterVolume}; };
        // As the spin buttons would set them, within their ranges (a tempo is the song's:
        // it marks the song changed, as a step of the button does).
        hooks.applySettings = [this](const library::SongSettings& settings) {
            const int key = std::clamp(settings.key, -127, 127);
            const int tempo = std::clamp(settings.tempo, 60, 240);
            const int volume = std::clamp(settings.volume, 50, 150);
            if (key != KeySetting) {
                stepKey(key - KeySetting);
            }
            if (tempo != ShownTempo) {
                stepTempo(tempo - ShownTempo);
            }
            if (volume != MasterVolume) {
                stepVolume(volume - MasterVolume);
            }
        };
        hooks.ask = [this](const QString& question) {
            return platform::showMessageBox(question.toStdString(), kTitle, MessageButtons::YesNo,
                                            MessageIcon::Question, Handle()) == MessageAnswer::Yes;
        };
        hooks.askSinger = [this](QWidget* parent, const QString& title) {
            return m_options.dialogs.askText(parent, "Add to Queue", "Singer for \"" + title + "\":");
        };
        hooks.settingsPath = IniPath();
        SongLibraryWindow = new LibraryWindow(std::move(hooks), {}, this);
        // Beside the player, not over its lyrics, where the screen has room: on its right,
        // else on its left, else as far right as the screen goes; always whole on screen.
        const QRect screen = this->screen() != nullptr ? this->screen()->availableGeometry() : QRect(0, 0, 1024, 768);
        const QRect player = frameGeometry();
        const QSize size(std::min(640, screen.width()), std::min(560, screen.height()));
        SongLibraryWindow->resize(size);
        int x = player.right() + 8;
        if (x + size.width() > screen.right()) {
            x = player.left() - 8 - size.width() >= screen.left() ? player.left() - 8 - size.width()
                                                                  : screen.right() + 1 - size.width();
        }
        const int y = std::clamp(player.top(), screen.top(), screen.bottom() + 1 - size.height());
        SongLibraryWindow->move(std::max(x, screen.left()), y);
    }
    SongLibraryWindow->show();
    SongLibraryWindow->raise();
    SongLibraryWindow->activateWindow();
}

}  // namespace cvkapp
