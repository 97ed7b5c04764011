#pragma once

// The main window: the transport, the lyric panel, the song's life from opening to
// closing, the settings file and the recent-files list. Every handler runs on the GUI
// thread; the sequencer's own timer thread is only polled.

#include <QMainWindow>
#include <QRect>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "AudioUnit.h"
#include "HostDialogs.h"
#include "LyricFallback.h"
#include "RecentFiles.h"
#include "SequencerTable.h"
#include "SongWriter.h"
#include "TakeAlignment.h"
#include "TempoMap.h"
#include "VolumeTable.h"
#include "platform/messages.h"

class QAction;
class QFont;
class QLabel;
class QMenu;
class QMimeData;
class QPushButton;
class QScrollBar;
class QSocketNotifier;
class QTimer;
struct PitchFeature;
namespace pitch {
struct PlaySettings;
struct TakeResult;
}
class TAboutBox;
class TAboutTrack;
class TAudioConfigWelcomeForm;
class TBarBox;
class TBevel;
class TConfigSoftwareForm;
class TEchoTrackbar;
class TFileStatusBox;
class TLedButton;
class TMidiOutDeviceSelectForm;
class TMonitorButton;
class TOffsetForm;
class TOwnButton;
class TPreference;
class TProcessForm;
class TRecBmpButton;
class TRecSlider;
class TRecessedPanel;
class TSimpleBmpButton;
class TTimeBox;
class TVLEDRow;
class TVSlider;

namespace lyrics {
class TLyricBox;
}
namespace songfile {
struct TlyricList;
}
namespace platform {
class SingleInstance;
}

namespace cvkapp {

class LibraryWindow;
class TSpinButton;
struct TakeNote;

// One of the sixteen strips of the track panel; every control's "Tag" is the strip's index.
struct TrackStrip {
    TBevel* StripBevel = nullptr;
    TLedButton* MuteLed = nullptr;
    TLedButton* SoloLed = nullptr;
    TOwnButton* InstrumentButton = nullptr;
    TVLEDRow* ActivityMeter = nullptr;
    TVSlider* VolumeSlider = nullptr;
    QPushButton* NumberButton = nullptr;
};

struct CantivoOptions {
    // A song or performance named on the command line, opened at the first showing.
    QString commandLineFile;
    // Empty: the library of this platform family.
    std::string sequencerLibrary;
    // Empty functions are filled with the Qt dialogs.
    HostDialogs dialogs;
    // The folder of the program's data files (songs, test sound, help texts), ending in
    // '/'; empty: the folder of the running program.
    std::string programFolder;
};

class TCantivo : public QMainWindow {
    Q_OBJECT

public:
    static constexpr const char* kTitle = "Cantivo Karaoke";
    static constexpr int kClientWidth = 666;
    // The mixer panel ends 4 pixels above 390; its scroll bar runs under it.
    static constexpr int kTrackViewHeight = 16;
    static constexpr int kClientHeight = 390 + kTrackViewHeight;

    explicit TCantivo(CantivoOptions options = {}, QWidget* parent = nullptr);
    ~TCantivo() override;

    // The window's message queue, the handle every library call is given.
    platform::WindowHandle Handle() const { return m_queue->handle(); }
    // Readable while messages posted to the window may wait.
    int MessageNotifyFd() const { return m_queue->notifyFd(); }
    // Hand-overs from later starts arrive through this claim; the window polls it.
    void AttachInstance(platform::SingleInstance* instance);

    // The folder of the settings file, ending in '/', created when missing.
    static std::string GetIniFolder();
    static std::string IniPath() { return GetIniFolder() + "CANTIVO.INI"; }

    // ---- start-up and close (Cantivo.cpp, CantivoSettings.cpp)
    void FormCreate();
    void FormShow();
    // True when the window may close; false when the user kept it open.
    bool FormClose();
    // Closes as File > Exit does, without a question (a stop signal): a changed song is
    // left unsaved and no recorded voice is deleted; a dialog open in front is cancelled
    // first. `closed` runs once the window has closed.
    void CloseWithoutQuestions(const std::function<void()>& closed = {});
    void FormDestroy();
    // Takes every message waiting in the window's queue, as the window procedure.
    void PumpMessages();
    void WndProc(const platform::Message& message);

    // ---- transport (CantivoTransport.cpp)
    void PlayButtonClick();
    void PauseButtonClick();
    void StopButtonClick();
    void RewindButtonClick();
    void FForwardButtonClick();
    void OpenButtonClick();
    void TempoSpinDownClick();
    void TempoSpinUpClick();
    void KeySpinDownClick();
    void KeySpinUpClick();
    void VolSpinDownClick();
    void VolSpinUpClick();
    void CVKTimerTimer();
    void StopPlayback();
    void ShowTempo();
    void ShowKey();
    void ShowVolume();

    // ---- track panel (CantivoTracks.cpp)
    static constexpr int kStripCount = 16;
    static constexpr int kStripStep = 22;  // the width of a strip's frame
    void BuildTrackStrips();
    void ShowTrackStrips();
    void UpdateTrackHints();
    void TrackViewChange();
    void TrackMuteChange(TLedButton* sender);
    void TrackSoloChange(TLedButton* sender);
    void TrackVolumeChange(TVSlider* sender);
    void SendVolumeTable();
    void UpdateTrackLevels();
    void TrackInstrumentClick(TOwnButton* sender);
    void TrackNumberClick(QPushButton* sender);
    void BitBtn1Click();
    void BitBtn2Click();
    void ResetSongState();

    // ---- following the song's own tempo changes (CantivoTempoMap.cpp)
    // Whether the song plays (or will play) by its own tempo map: chosen in File >
    // Preferences, the song has a map, and the sequencer can follow it.
    bool FollowsTempoMap() const;
    void LoadSongTempoMap();
    // Before a start: tells the sequencer the mode and the ratio for the song.
    void StartFollowingTempo();
    // The tempo in effect where the song is (at its start while stopped), as it plays.
    int MapTempoShown() const;
    // One beat per minute faster or slower where the song is: the whole map by one ratio.
    void StepMapTempo(int direction);

    // ---- File > Export Audio... (CantivoExport.cpp)
    void ExportAudio1Click();
    // What `cvktool render` is given for the song as it is set up now, writing `target`.
    QStringList exportArguments(const QString& target) const;
    // What a save does to the song's tempo events: scaled by the ratio while following
    // the map, else set to the one tempo.
    songfile::TempoScaling savedTempoScaling() const;
    std::uint32_t mapTick() const;  // where the song is for the tempo display

    // ---- recording and the performance's voice (CantivoRecording.cpp)
    void RecButtonClick();
    // Ends a recording: every way out (Stop, Rec again, the song's end, a file sent by a
    // later start, the window's close) comes through here.
    void StopRecording();
    void MonitorButtonClick();
    void DelayBarChange();
    void WaveOutMuteButtonChange();
    void MidiOutMuteButtonChange();
    void WaveOutSliderChange();
    void RecVolSliderChange();
    void ClearButtonClick();
    void SavePfcButtonClick();
    // The voice's output device closed (MM_WOM_CLOSE handed back): the voice has ended.
    void VoicePlaybackClosed();
    // The processing-mode question asked before the first recording; false when there was
    // no dialog to ask it with.
    bool ShowProcessingModeDialog();
    void OpenFileRequest(std::uint16_t atom);
    // File > Audio Configuration Wizard, and the first start: Stop, then the wizard, modal.
    void RunConfigWizard();
    // The mixers: the first output and input devices that can be selected, the microphone
    // as the recording source; let go when the window closes.
    void SelectAudioDevices();
    void DeselectAudioDevices();
    void SelectMicrophoneSource();

    // ---- performance files (CantivoPerformance.cpp)
    // Asks for a .pfc name and writes the song with the pending voice; true when written.
    bool SavePerformance();
    // The voice chunk of the performance at `path` into a new temporary wave file, which
    // becomes RecordingFile and PendingWaveFile; false when the file holds none, or none
    // that plays (the user is told so, once).
    bool ReadPerformanceWave(const std::string& path);

    // ---- takes a crash interrupted (CantivoTakes.cpp)
    // Offers back, one by one, every take whose recording process is gone: Yes opens its
    // song with the take as the unsaved performance, No deletes it.
    void OfferInterruptedTakes();

    // ---- preferences and device dialogs (CantivoPreferences.cpp)
    void PreferencesClick();
    // Play's step: VoiceOffset back to 0, then the offset slider's position handed to the
    // voice as a change by the user would hand it.
    void ReapplyVoiceOffset();
    // A recording without a file for the processing-mode test; true when it runs.
    bool StartMonitorTest(int bufferBytes, bool monitor);
    void StopMonitorTest();
    // The six dialogs, made once at window creation after the settings are read.
    void CreatePreferenceDialogs();
    // The folder of the program's data files, ending in '/'.
    std::string ProgramFolder() const;

    // ---- songs (CantivoSongs.cpp)
    void Open1Click();
    void New1Click();
    bool CloseSong();
    void LoadSongFile(const std::string& path);
    bool SaveSong();
    void Save1Click();
    void SaveAs1Click();

    // ---- the song library and the singers' queue (CantivoLibrary.cpp)
    // File > Song Library...: the library window beside the player, made at the first call.
    void SongLibrary1Click();
    // Opens a song of the library as a drop does: File > Open's questions, then the song.
    // False when it did not open.
    bool OpenLibrarySong(const std::string& path);
    // The library window; nullptr until File > Song Library... was chosen.
    LibraryWindow* SongLibraryWindow = nullptr;

    // ---- settings and recent files (CantivoSettings.cpp)
    void UpdateRecentFiles(const std::string& path, bool enable);
    void MRU0Click(QAction* item);
    void SaveLyricFont();
    void LoadLyricFont();
    void BackgroundColor1Click();
    void PaintButtonClick();
    void Font1Click();
    void FontButtonClick();
    void CheckForUpdatesClick();
    void ReadCreationSettings();
    void WriteCloseSettings();
    // Hands [Preferences] SoundFont to the built-in synthesizer; called right before every
    // call that opens the MIDI output.
    void ApplySoundFontChoice();

    // ---- lyric window sizes (CantivoLyricSizes.cpp)
    void SmallButtonClick();
    void MediumButtonClick();
    void LargeButtonClick();
    void MagnifyButtonClick();
    void DemagnifyButtonClick();
    void RelayoutLyrics();
    void PlaceSizeButtons();

    // ---- singing in tune (CantivoPitch.cpp): the pitch strip, the melody, a take's score
    void PitchStripClick();
    bool pitchStripOn() const;
    // The melody track of the loaded song; -1 with no song or no notes.
    int melodyTrack() const;

    // ---- state (names shared by the whole window)
    void* SequencerLibrary = nullptr;
    SequencerTable Sequencer;
    bool MidiInitFailed = false;
    std::string SongsFolder;

    bool SongPlaying = false;
    bool SongPaused = false;
    bool Recording = false;
    bool VoicePlaying = false;
    std::string PendingWaveFile;
    int VoiceOffset = 0;
    int TempoSetting = 120;
    // The song's tempo map, played at TempoScale (numerator / denominator scales every
    // quarter's length) when following the song's tempo changes.
    std::optional<pulsant::TempoMap> SongTempoMap;
    pulsant::TempoMap::Scale TempoScale{};
    bool FollowingTempo = false;  // the song playing plays by its map
    int ShownTempo = 0;           // what the tempo display shows now
    int KeySetting = 0;
    int MasterVolume = 100;
    std::uint16_t SongDivision = 0;
    std::uint32_t LastLyricCounter = 0;

    std::string SongFileName;
    std::string SplitFileName;
    bool SongLoaded = false;
    bool SongModified = false;
    std::uint64_t PfcWaveOffset = 0;
    bool PerformanceUnsaved = false;
    std::string LastOpenedFile;
    songfile::TlyricList* SongLyrics = nullptr;
    songfile::LyricSource SongLyricsSource = songfile::LyricSource::None;  // the rule that found SongLyrics
    std::string RecordingFile;
    // Frames dropped from the head of the last take to line it up with its song.
    std::uint64_t TakeHeadDropped = 0;

    TrackMixTable TrackMix{};
    int FirstVisibleTrack = 0;
    std::array<bool, kStripCount> RowHidden{};
    std::array<TrackStrip, kStripCount> TrackStrips{};
    VelocityTable VolumeTable{};
    std::array<std::int16_t, kTrackCount> InstrumentOverride{};
    bool MidiMuted = false;
    bool VoiceSilenced = false;

    // What a recording changed in the mixer and in the voice column, given back when it ends.
    enum class MicrophonePath { Mute, Switch, Volume };
    struct RecordingRestore {
        std::array<std::uint32_t, 2> waveVolume{};
        std::array<std::uint32_t, 2> microphoneVolume{};
        // The microphone mute or on/off switch before the recording; -1 when neither exists.
        int microphoneSwitch = -1;
        MicrophonePath microphone = MicrophonePath::Volume;
        // The mixer's MIDI mute before a recording that set it; -1: it was not set.
        int midiLineMute = -1;
        int delayPosition = 0;
        // The mode the recording set the mixer for, and whether it locked the echo bar.
        bool software = true;
        bool echoLocked = false;
        bool voiceMuteWasOn = false;
        bool midiMuteWasOn = false;
    };
    RecordingRestore SavedMixer;

    int RecordBufferSize = 4096;
    bool SoftwareProcessing = true;
    bool NonEnglishCharacters = false;
    bool keepMidiWhileRecording = true;
    // The offset dialog's slider position, as the dialog reports it.
    int OffsetSliderPosition = 0;

    bool FullScreen = false;
    QRect SavedBounds;
    int NormalLyricHeight = 97;
    bool MaximizedBySystem = false;
    bool RememberedMediumEnabled = true;
    bool RememberedSmallEnabled = false;

    // ---- components, named as in the window's design
    QWidget* Client = nullptr;
    QWidget* LeftPanel = nullptr;
    QWidget* RightPanel = nullptr;
    TRecessedPanel* Panel5 = nullptr;
    QWidget* LyricPanel = nullptr;
    QWidget* LyricsBar = nullptr;
    lyrics::TLyricBox* LyricBox1 = nullptr;
    TSimpleBmpButton* DemagnifyButton = nullptr;
    TSimpleBmpButton* MagnifyButton = nullptr;
    TSimpleBmpButton* FontButton = nullptr;
    TSimpleBmpButton* PaintButton = nullptr;
    TSimpleBmpButton* SmallButton = nullptr;
    TSimpleBmpButton* MediumButton = nullptr;
    TSimpleBmpButton* LargeButton = nullptr;

    QLabel* TempoDisplay = nullptr;
    QLabel* KeyDisplay = nullptr;
    QLabel* VolumeDisplay = nullptr;
    TSpinButton* TempoSpin = nullptr;
    TSpinButton* KeySpin = nullptr;
    TSpinButton* VolSpin = nullptr;
    TBarBox* BarBox = nullptr;
    TTimeBox* MidiTime = nullptr;
    TFileStatusBox* FileStatusDisplay = nullptr;

    TSimpleBmpButton* PlayButton = nullptr;
    TSimpleBmpButton* PauseButton = nullptr;
    TSimpleBmpButton* StopButton = nullptr;
    TSimpleBmpButton* RewindButton = nullptr;
    TSimpleBmpButton* FForwardButton = nullptr;
    TSimpleBmpButton* OpenButton = nullptr;
    TRecBmpButton* RecButton = nullptr;
    TMonitorButton* MonitorButton = nullptr;
    TSimpleBmpButton* SavePfcButton = nullptr;
    TSimpleBmpButton* ClearButton = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    TLedButton* MidiOutMuteButton = nullptr;
    TLedButton* WaveOutMuteButton = nullptr;
    TRecSlider* WaveOutSlider = nullptr;
    TRecSlider* RecVolSlider = nullptr;
    TEchoTrackbar* DelayBar = nullptr;
    QLabel* EchoLabel = nullptr;
    TVLEDRow* RecLedLevel = nullptr;
    // The design-time strip the sixteen are copied from, hidden once they are built.
    TBevel* Bevel1 = nullptr;
    TLedButton* MuteTrack01 = nullptr;
    TLedButton* SoloTrack01 = nullptr;
    TOwnButton* InfoTrack01 = nullptr;
    TVLEDRow* volLEDTrack01 = nullptr;
    TVSlider* volTrack01 = nullptr;
    QPushButton* MasterTrack01 = nullptr;
    QScrollBar* TrackView = nullptr;
    TAboutBox* AboutBox = nullptr;
    TAboutTrack* AboutTrack = nullptr;
    TPreference* Preference = nullptr;
    TAudioConfigWelcomeForm* AudioConfigWelcomeForm = nullptr;
    TProcessForm* ProcessForm = nullptr;
    TConfigSoftwareForm* ConfigSoftwareForm = nullptr;
    TMidiOutDeviceSelectForm* MidiOutDeviceSelectForm = nullptr;
    TOffsetForm* OffsetForm = nullptr;
    // The wave library's calls; tests may put their own in their place.
    AudioUnit Audio;

    QMenu* File1 = nullptr;
    QMenu* Lyrics1 = nullptr;
    QMenu* Help1 = nullptr;
    QMenu* Internet1 = nullptr;
    QAction* New1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* SongLibrary1 = nullptr;
    QAction* ExportAudio1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* SaveAs1 = nullptr;
    QAction* Preferences1 = nullptr;
    QAction* AudioConfigurationWizard1 = nullptr;
    QAction* CheckForUpdatesSeparator = nullptr;
    QAction* CheckForUpdates1 = nullptr;
    std::array<QAction*, 5> MRU{};
    QAction* Exit1 = nullptr;
    QAction* NormalSize1 = nullptr;
    QAction* Maximize1 = nullptr;
    QAction* FullScreen1 = nullptr;
    QAction* Font1 = nullptr;
    QAction* BackgroundColor1 = nullptr;

    QTimer* CVKTimer = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Esc while full screen, and the client area's size while full screen or maximized.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A song file dropped on the window opens as File > Open would open it.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    void buildLeftPanel();
    void buildRightPanel();
    void buildLyricPanel();
    void buildPitchStrip();
    // The strip's height for the lyric panel's present size.
    void fitPitchStrip();
    // After a song's lyrics are shown: its notes and melody.
    void loadSongMelody();
    // The key and tempo the song plays with, for the melody.
    // Seconds from the song's start to `tick` as it plays (the melody's clock).
    double melodySeconds(std::uint32_t tick) const;
    pitch::PlaySettings playSettings() const;
    void clearSongMelody();
    // The melody again after the key or tempo changed.
    void updateSongMelody();
    // From the timer loop: the strip follows the song; a finished take is analysed.
    void pitchTick(std::uint32_t lyricCounter);
    void analyseTake(const std::string& takeFile);
    void showTakeScore(const pitch::TakeResult& result);
    // The wave library's captures write into the live voice's tap (on) or into none.
    void listenForVoice(bool on);
    // At the strip's frame rate while a capture runs: the voice heard since, onto the strip.
    void pollLiveVoice();
    void buildTrackTemplates();
    void connectHandlers();
    // Drops and the Space key.
    void setUpDesktopHabits();
    TSimpleBmpButton* pictureButton(QWidget* parent, const QString& picture, int x, int y);

    // The window's size messages: the maximize and restore paths of the lyric layouts.
    void SystemMaximized();
    void SystemRestored();
    void applyLyricLayout(int left, int top, int width, int height);
    // Full screen: the lyric panel to the client area's present size.
    void fitFullScreenLayout();
    void setMenusVisible(bool visible);

    // Settings access: a refused write shows "Unable to write to <path>".
    bool writeSetting(const std::string& section, const std::string& key, const std::string& value,
                      bool quiet = false);
    bool writeSetting(const std::string& section, const std::string& key, int value,
                      bool quiet = false);

    // Open's steps around its dialog: the voice buttons and the unsaved performance's
    // question before (false: the user's save failed, nothing opens), and the check,
    // close and load after.
    bool prepareToOpen();
    void openChosenFile(const std::string& name);
    // Space: Play, or Pause and resume while a song plays.
    void PlayPauseKey();
    // The song file a drag carries: one local .mid, .kar or .pfc file; empty otherwise.
    static std::string droppedSong(const QMimeData* data);

    // A file (not a folder) is at `path`.
    static bool fileExists(const std::string& path);
    // "Performance is not saved ..." with Yes and No; true for Yes.
    bool askToSavePerformance();
    // Back from full screen to the window's own size, place and menus.
    void leaveFullScreen();
    void zoomLyrics(int (*step)(int size));
    void stepTempo(int direction);
    void stepKey(int direction);
    void stepVolume(int direction);
    // The save's failure box: read-only or not writable at all.
    void showSaveFailure(bool withFullStop);
    void setIdleMenus(bool enabled);
    // The lyric font's family as stored ("Times New Roman"): `font` gets the installed
    // family standing in for it.
    void setLyricFontName(QFont& font, const std::string& name);
    // Also removes the take's recovery note when `path` is a take.
    void deleteFileAndForget(std::string& path);
    void restoreInterruptedTake(const TakeNote& note);
    std::string fileNameOnly(const std::string& path) const;

    // The track on strip `strip` (its "Tag"); -1 for a strip whose row is hidden.
    int stripTrack(int strip) const;
    void playSilenceWave(int flag);

    // Recording's helpers (CantivoRecording.cpp).
    // Where the microphone reaches the speakers: its mute, else its on/off switch, else
    // its volume.
    static MicrophonePath microphonePath();
    // The hardware pass-through open or closed for the monitor button's state.
    void setHardwareMonitor(bool on);
    void setRecordingControls(bool enabled);
    // The mixer and the mute buttons as they were before the recording started.
    void restoreMixer();
    void restoreMuteButtons();
    // The voice stops where it plays: the library, the meter, the save button.
    void stopVoice();
    // The song's mute ends: every track's solo and mute cleared and the volumes resent.
    void clearSongMute();
    // Waits (a little) until the wave library has put the last take in place.
    void waitForTake();
    // The voice moved to the song's present time after the song was moved (Rewind, Fast
    // forward), the offset applied again.
    void moveVoiceToSong(const AudioUnit::Call1& move);
    // The wave line's volume from the voice slider.
    void setWaveOutVolume();

    // Lining a take up with its song (CantivoAlignment.cpp): readings of the song's and
    // the microphone's clocks while it records, its head dropped once it is finished.
    void startTakeLineUp(std::uint32_t rate);
    void readTakeClocks();
    void endTakeLineUp();
    void lineUpFinishedTake();
    // A performance played from its start: the voice started to be heard with the song (as
    // the song is heard, after it started), and moved by what is left once both streams
    // tell where they are (from the timer loop).
    bool voiceLinedUp() const;
    void startVoice();
    void startVoiceOnTheSong();
    void lineUpVoice();

    CantivoOptions m_options;
    std::unique_ptr<platform::MessageQueue> m_queue;
    std::unique_ptr<PitchFeature> m_pitch;
    QSocketNotifier* m_queueNotifier = nullptr;
    platform::SingleInstance* m_instance = nullptr;
    QSocketNotifier* m_instanceNotifier = nullptr;
    bool m_shown = false;
    // Inside FormClose: a performance saved on the way out is not loaded again.
    bool m_closing = false;
    bool m_closed = false;
    // Closing for a stop signal: nothing is asked.
    bool m_withoutQuestions = false;
    int m_modalsCancelled = 0;
    // Song saves write a fresh file (Save As) rather than over the old one's start.
    bool m_saveFresh = false;
    // The lyric font's family as the settings file names it; what is drawn may differ.
    std::string m_lyricFontName = "Times New Roman";
    // The activity meters are driven once the strips exist.
    bool m_stripsBuilt = false;
    // A refused write of the wizard key is reported once, not on every tick.
    bool m_wizardWriteReported = false;
    // The queue's "Next: SINGER — TITLE" line over the lyric box.
    QLabel* m_nextSingerLine = nullptr;
    // When the playing song's time zero was due (platform::clockMicros()).
    std::uint64_t m_songStartMicros = 0;
    render::TakeAlignment m_takeAlignment;
    int m_takeClockTicks = 0;
    // The head to drop from the take being finished.
    std::optional<std::uint64_t> m_takeHead;
    // The voice started with the song waits to be lined up with it; the silence (or the
    // skip, below zero) it started with.
    bool m_voiceLineUpPending = false;
    std::int64_t m_voiceWaitMicros = 0;
    // How long after the song's time a sound sung to it reaches the capture: the song's
    // way to the speakers and the microphone's to us, from the last reading of a take.
    double m_heardLateSeconds = 0.0;
};

}  // namespace cvkapp
