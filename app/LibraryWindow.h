#pragma once

// The song library window beside the player: a search box over the library, the rows it
// finds (title, artist, length, lyrics, folder), Add Folder..., and the singers' queue.
// Index runs go on a thread of their own (LibraryIndexJob); this window's thread only
// searches, which the database answers in milliseconds.
//
// It reaches the player through the functions it is given, never through the main
// window's insides: opening a song as File > Open does, playing it, and the lyric box's
// "Next:" line.

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "library/Library.h"
#include "library/SingerQueue.h"

class QElapsedTimer;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace cvkapp {

class LibraryIndexJob;

struct LibraryWindowHooks {
    // Opens a song as File > Open does, with its questions; false when it did not open.
    std::function<bool(const std::string& path)> openSong;
    // Plays the song that is open.
    std::function<void()> play;
    // The line the lyric box shows between two songs; empty hides it.
    std::function<void(const QString& text)> showNext;
    // Asks for a singer's name; empty: the user cancelled.
    std::function<QString(QWidget* parent, const QString& title)> askSinger;
    // The song open in the player (empty: none), the key, tempo and volume it plays with,
    // and setting them.
    std::function<std::string()> currentSong;
    std::function<library::SongSettings()> currentSettings;
    std::function<void(const library::SongSettings&)> applySettings;
    // A question with Yes and No; true for Yes.
    std::function<bool(const QString& question)> ask;
    // The settings file the queue is kept in ([Queue]); empty: not kept.
    std::string settingsPath;
};

class LibraryWindow : public QWidget {
    Q_OBJECT

public:
    // `databasePath` empty: the user's library.
    LibraryWindow(LibraryWindowHooks hooks, std::string databasePath = {}, QWidget* parent = nullptr);
    ~LibraryWindow() override;

    // ---- the player's events
    // The song playing came to its end; `recording`: a recording ended with it.
    void songEnded(bool recording);
    // Stop was pressed or a recording started.
    void holdQueue();

    // ---- the queue, saved with the settings
    library::SingerQueue& queue() { return m_queue; }
    void setQueue(library::SingerQueue queue);

    // Brings the library up to date (new, changed and removed files) on the indexing thread.
    void refreshLibrary();
    // Adds a folder and reads it on the indexing thread.
    void addFolder(const std::string& folder);
    bool indexing() const { return m_job != nullptr; }

    // The rows shown, for tests.
    QTreeWidget* results() const { return m_results; }
    QLineEdit* searchBox() const { return m_search; }
    QListWidget* queueList() const { return m_queueList; }
    // Runs the countdown as the window's timer would, `milliseconds` later.
    void advanceCountdown(int milliseconds);

signals:
    void queueChanged();
    void indexFinished();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWidgets();
    void search();
    void openRow(QTreeWidgetItem* item);
    void addSelectedToQueue();
    void addFolderClick();
    void startJob(std::vector<std::string> folders);
    void jobProgress(const library::IndexProgress& progress);
    void jobFinished(bool ok, const std::string& error, const std::string& notice,
                     const library::IndexReport& report);
    // Watches the folders a run read: in place of those watched for a refresh of every
    // added folder, beside them for a folder just added.
    void watchFolders(const std::vector<std::string>& folders, bool replace);
    void showQueue();
    void queueRowsMoved();
    void removeQueueRow();
    void nextClick();
    void carryOut(library::SingerQueue::Action action);
    void showCountdown();
    void tick();
    void saveQueue();
    void loadQueue();
    // The player's key, tempo and volume kept for the library song it has open.
    void rememberSettings();
    // After a song of the library opened: its last settings offered when they differ.
    void offerLastSettings(const std::string& path);

    LibraryWindowHooks m_hooks;
    std::string m_databasePath;
    std::unique_ptr<library::Library> m_library;  // this thread's connection
    std::unique_ptr<LibraryIndexJob> m_job;
    bool m_refreshAgain = false;
    bool m_jobRefreshes = false;  // the run going refreshes every added folder
    std::vector<std::string> m_pendingFolders;  // added while a run was going
    library::SingerQueue m_queue;

    QLineEdit* m_search = nullptr;
    QTreeWidget* m_results = nullptr;
    QPushButton* m_addFolder = nullptr;
    QPushButton* m_addToQueue = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QListWidget* m_queueList = nullptr;
    QPushButton* m_remove = nullptr;
    QPushButton* m_next = nullptr;
    QSpinBox* m_countdown = nullptr;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_watchDelay = nullptr;
    QTimer* m_clock = nullptr;
    std::unique_ptr<QElapsedTimer> m_elapsed;
    // The library song this window opened, whose settings it keeps.
    std::string m_openedSong;
};

// "Last time: key −2, tempo 104. Use them?" naming what differs from `now`; empty when
// nothing does.
QString lastSettingsQuestion(const library::SongSettings& last, const library::SongSettings& now);

}  // namespace cvkapp
