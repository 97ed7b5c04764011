// Singing in tune: the pitch strip under the lyric box (Lyrics > Pitch Strip, Ctrl+P, kept
// in the settings), the melody of the loaded song drawn as the song plays with the user's
// key and tempo, the singer's trail while the microphone is recorded or only monitored
// (what the capture hears, handed over by its audio thread and analysed here at the
// strip's frame rate), and a take's score with the key that suits the singer once it
// ends. While the strip is off nothing here runs and the window is laid out as ever: the
// strip is a hidden widget of the lyric panel's layout, which takes no room.

#include <QAction>
#include <QBoxLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

#include "Cantivo.h"
#include "PitchFeature.h"
#include "SongMelody.h"
#include "platform/profile.h"
#include "voxcapt/voxcapt.h"

namespace cvkapp {

namespace {

constexpr char kSection[] = "Pitch";
constexpr char kStripKey[] = "Strip";
// The strip takes a quarter of the lyric panel: in the normal layout the panel is under a
// hundred pixels high, and a fixed strip of the full-screen layout's size would leave the
// words no room.
constexpr int kStripShare = 4;
constexpr int kStripLowest = 24;
constexpr int kStripHighest = 128;
// The live voice is read as often as the strip is drawn: a sung note reaches the screen
// with the next frame that analyses it, not with the 50 ms loop.
constexpr int kLiveEveryMs = 16;

}  // namespace

void TCantivo::buildPitchStrip() {
    m_pitch = std::make_unique<PitchFeature>();
    m_pitch->strip = new lyrics::TPitchStrip(LyricPanel);
    m_pitch->strip->hide();
    if (auto* layout = qobject_cast<QBoxLayout*>(LyricPanel->layout())) {
        layout->addWidget(m_pitch->strip);
    }
    m_pitch->menuItem = Lyrics1->addAction("&Pitch Strip");
    m_pitch->menuItem->setCheckable(true);
    m_pitch->menuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    addAction(m_pitch->menuItem);
    const bool on = platform::profileGetInt(kSection, kStripKey, 0, IniPath()) == 1;
    m_pitch->menuItem->setChecked(on);
    m_pitch->strip->setVisible(on);
    connect(m_pitch->menuItem, &QAction::triggered, this, &TCantivo::PitchStripClick);
    m_pitch->liveTimer.setInterval(kLiveEveryMs);
    connect(&m_pitch->liveTimer, &QTimer::timeout, this, &TCantivo::pollLiveVoice);
    listenForVoice(on);
    fitPitchStrip();
}

void TCantivo::listenForVoice(bool on) {
    if (on != m_pitch->listening) {
        voxcapt::setCaptureTap(on ? &m_pitch->live.tap() : nullptr);
        m_pitch->listening = on;
    }
    if (!on) {
        m_pitch->liveTimer.stop();
    }
}

void TCantivo::pollLiveVoice() {
    if (!m_pitch || !m_pitch->listening) {
        return;
    }
    const pitch::LiveVoice::Heard heard = m_pitch->live.poll();
    if (heard.restarted) {
        m_pitch->strip->clearSung();
    }
    // Heard while the song stands still, a voice has no place on the strip. What was
    // heard last was sung to the song as it sounded that much earlier.
    if (SongPlaying) {
        m_pitch->strip->addHeard(heard.frames, heard.seconds + m_heardLateSeconds);
    }
}

void TCantivo::fitPitchStrip() {
    if (m_pitch) {
        m_pitch->strip->setFixedHeight(std::clamp(LyricPanel->height() / kStripShare, kStripLowest, kStripHighest));
    }
}

bool TCantivo::pitchStripOn() const { return m_pitch && m_pitch->menuItem->isChecked(); }

void TCantivo::PitchStripClick() {
    const bool on = m_pitch->menuItem->isChecked();
    m_pitch->strip->setVisible(on);
    writeSetting(kSection, kStripKey, on ? 1 : 0);
    RelayoutLyrics();
    if (!on) {
        // Off, nothing runs: no frame timer, no analysis.
        m_pitch->strip->setPlaying(false);
        m_pitch->analysis.cancel();
        m_pitch->pendingTake.clear();
    }
    listenForVoice(on);
}

void TCantivo::loadSongMelody() {
    if (!m_pitch) {
        return;
    }
    const pitch::NotesResult read = pitch::ReadSongNotesFile(SplitFileName);
    m_pitch->notes = read.error == pitch::NotesError::None ? read.song : pitch::SongNotes{};
    m_pitch->choice = pitch::ChooseMelodyTrack(m_pitch->notes, pitch::SyllableTicks(SongLyrics));
    m_pitch->strip->clearSung();
    updateSongMelody();
}

void TCantivo::clearSongMelody() {
    if (!m_pitch) {
        return;
    }
    m_pitch->analysis.cancel();
    m_pitch->pendingTake.clear();
    m_pitch->notes = {};
    m_pitch->choice = {};
    m_pitch->strip->setPlaying(false);
    m_pitch->strip->setSongSeconds(0.0);
    m_pitch->strip->setMelody({});
    m_pitch->strip->clearSung();
}

int TCantivo::melodyTrack() const { return m_pitch ? m_pitch->choice.track : -1; }

void TCantivo::updateSongMelody() {
    if (!m_pitch || m_pitch->notes.division == 0) {
        return;
    }
    m_pitch->strip->setMelody(pitch::MelodyNotes(m_pitch->notes, m_pitch->choice.track, playSettings()));
}

pitch::PlaySettings TCantivo::playSettings() const {
    // Following the song's tempo changes, its map at the ratio set; otherwise the player
    // plays the whole song at the tempo shown, in beats per minute.
    if (FollowsTempoMap()) {
        return {KeySetting, 0, TempoScale.numerator, TempoScale.denominator};
    }
    return {KeySetting, static_cast<std::uint32_t>(std::max(1, TempoSetting)), 1, 1};
}

double TCantivo::melodySeconds(std::uint32_t tick) const {
    if (FollowsTempoMap()) {
        return static_cast<double>(SongTempoMap->timeAt(tick)) / 1e6;
    }
    return pitch::SecondsAtTempo(tick, m_pitch->notes.division, playSettings().beatsPerMinute);
}

void TCantivo::pitchTick(std::uint32_t lyricCounter) {
    if (!pitchStripOn()) {
        return;
    }
    m_pitch->strip->setPlaying(SongPlaying);
    if (SongPlaying && m_pitch->notes.division != 0 && lyricCounter != 0xFFFFFFFFu) {
        m_pitch->strip->setSongSeconds(melodySeconds(lyricCounter));
    } else if (!SongPlaying) {
        // Stopped: back to the song's start, as the bar and time displays go.
        m_pitch->strip->setSongSeconds(0.0);
    }
    // While the microphone is captured, recorded or only monitored, the trail follows what
    // it hears at the strip's frame rate; the loop reads it too, for a window whose frame
    // timer is held up.
    const voxcapt::RecordingView recording = voxcapt::recordingView();
    if (recording.recording && !m_pitch->liveTimer.isActive()) {
        m_pitch->liveTimer.start();
    } else if (!recording.recording) {
        m_pitch->liveTimer.stop();
    }
    pollLiveVoice();
    if (!m_pitch->pendingTake.empty() && !recording.active) {
        m_pitch->analysis.start(pitch::MelodyNotes(m_pitch->notes, m_pitch->choice.track, playSettings()),
                                m_pitch->pendingTake);
        m_pitch->pendingTake.clear();
    }
    if (std::optional<pitch::TakeResult> result = m_pitch->analysis.take()) {
        showTakeScore(*result);
    }
}

void TCantivo::analyseTake(const std::string& takeFile) {
    // A take is analysed only while the strip is on: off, the window is as it always was.
    if (!pitchStripOn() || m_pitch->choice.track < 0 || takeFile.empty()) {
        return;
    }
    // The take is complete once the wave library has had its last buffers back; the
    // timer loop starts the analysis then.
    m_pitch->pendingTake = takeFile;
}

void TCantivo::showTakeScore(const pitch::TakeResult& result) {
    if (!result.message.empty()) {
        return;  // the take is gone; the recording's own messages have said so
    }
    auto* box = new QMessageBox(QMessageBox::Information, "Your Score",
                                QString("Score: %1 of 100").arg(result.score.score), QMessageBox::Close, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    // Wide enough for its title in the window manager's frame and for the suggestion.
    box->setStyleSheet("QLabel { min-width: 300px; }");
    const std::optional<int> key = result.score.suggestedKey;
    if (key) {
        box->setInformativeText(QString::fromStdString(pitch::KeySuggestionText(key)));
        QPushButton* apply = box->addButton("&Apply Key", QMessageBox::AcceptRole);
        connect(apply, &QPushButton::clicked, this, [this, step = *key] {
            for (int i = 0; i < std::abs(step); ++i) {
                stepKey(step < 0 ? -1 : 1);
            }
            updateSongMelody();
        });
    }
    box->show();
}

}  // namespace cvkapp
