#include "LibraryWindow.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

#include "LibraryIndexJob.h"
#include "platform/profile.h"

namespace cvkapp {
namespace {

constexpr int kShownRows = 200;
constexpr int kPathRole = Qt::UserRole;
constexpr int kTitleRole = Qt::UserRole + 1;
constexpr int kSingerRole = Qt::UserRole + 2;
// A burst of file changes (a copy of a whole album) is one refresh, a moment after it.
constexpr int kWatchDelayMs = 1500;
constexpr int kClockMs = 100;
constexpr int kMostWatched = 2000;
const char* const kQueueSection = "Queue";

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

QString lengthText(int seconds) {
    return QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

QString queueRowText(const library::QueueEntry& entry) {
    return text(entry.singer) + QString::fromUtf8(" \u2014 ") + text(entry.title);
}

}  // namespace

LibraryWindow::LibraryWindow(LibraryWindowHooks hooks, std::string databasePath, QWidget* parent)
    : QWidget(parent, Qt::Window), m_hooks(std::move(hooks)),
      m_databasePath(databasePath.empty() ? library::Library::defaultDatabasePath() : std::move(databasePath)),
      m_elapsed(std::make_unique<QElapsedTimer>()) {
    setWindowTitle("Song Library");
    setObjectName("SongLibrary");
    if (!m_hooks.askSinger) {
        m_hooks.askSinger = [](QWidget* owner, const QString& title) {
            return QInputDialog::getText(owner, "Add to Queue", "Singer for \"" + title + "\":");
        };
    }
    buildWidgets();
    loadQueue();
}

LibraryWindow::~LibraryWindow() = default;

void LibraryWindow::buildWidgets() {
    auto* layout = new QVBoxLayout(this);
    m_search = new QLineEdit(this);
    m_search->setObjectName("LibrarySearch");
    m_search->setPlaceholderText("Search titles, artists, lyrics and file names");
    m_search->setClearButtonEnabled(true);
    m_search->installEventFilter(this);
    layout->addWidget(m_search);

    m_results = new QTreeWidget(this);
    m_results->setObjectName("LibraryResults");
    m_results->setHeaderLabels({"Title", "Artist", "Length", "Lyrics", "Folder"});
    m_results->setRootIsDecorated(false);
    m_results->setUniformRowHeights(true);
    m_results->setAllColumnsShowFocus(true);
    m_results->header()->setStretchLastSection(true);
    m_results->setColumnWidth(0, 220);
    m_results->setColumnWidth(1, 150);
    m_results->setColumnWidth(2, 55);
    m_results->setColumnWidth(3, 50);
    layout->addWidget(m_results, 3);

    auto* buttons = new QHBoxLayout;
    m_addFolder = new QPushButton("Add &Folder...", this);
    m_addToQueue = new QPushButton("Add to &Queue", this);
    m_addToQueue->setToolTip("Ctrl+Q");
    auto* queueShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    buttons->addWidget(m_addFolder);
    buttons->addWidget(m_addToQueue);
    buttons->addStretch();
    m_progress = new QProgressBar(this);
    m_progress->setVisible(false);
    m_progress->setMaximumWidth(200);
    buttons->addWidget(m_progress);
    layout->addLayout(buttons);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    layout->addWidget(new QLabel("Singers' queue:", this));
    m_queueList = new QListWidget(this);
    m_queueList->setObjectName("SingersQueue");
    m_queueList->setDragDropMode(QAbstractItemView::InternalMove);
    m_queueList->setDefaultDropAction(Qt::MoveAction);
    m_queueList->installEventFilter(this);
    layout->addWidget(m_queueList, 1);
    auto* queueButtons = new QHBoxLayout;
    m_remove = new QPushButton("&Remove", this);
    m_next = new QPushButton("&Next Singer", this);
    m_countdown = new QSpinBox(this);
    m_countdown->setRange(0, 600);
    m_countdown->setValue(library::SingerQueue::kDefaultCountdownSeconds);
    m_countdown->setSuffix(" s");
    m_countdown->setPrefix("Countdown ");
    queueButtons->addWidget(m_remove);
    queueButtons->addWidget(m_next);
    queueButtons->addStretch();
    queueButtons->addWidget(m_countdown);
    layout->addLayout(queueButtons);

    m_watcher = new QFileSystemWatcher(this);
    m_watchDelay = new QTimer(this);
    m_watchDelay->setSingleShot(true);
    m_watchDelay->setInterval(kWatchDelayMs);
    m_clock = new QTimer(this);
    m_clock->setInterval(kClockMs);

    connect(m_search, &QLineEdit::textChanged, this, &LibraryWindow::search);
    connect(m_results, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { openRow(item); });
    connect(m_addFolder, &QPushButton::clicked, this, &LibraryWindow::addFolderClick);
    connect(m_addToQueue, &QPushButton::clicked, this, &LibraryWindow::addSelectedToQueue);
    connect(queueShortcut, &QShortcut::activated, this, &LibraryWindow::addSelectedToQueue);
    connect(m_remove, &QPushButton::clicked, this, &LibraryWindow::removeQueueRow);
    connect(m_next, &QPushButton::clicked, this, &LibraryWindow::nextClick);
    connect(m_countdown, &QSpinBox::valueChanged, this, [this](int seconds) {
        m_queue.setCountdownSeconds(seconds);
        saveQueue();
    });
    connect(m_queueList->model(), &QAbstractItemModel::rowsMoved, this, &LibraryWindow::queueRowsMoved);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_watchDelay, qOverload<>(&QTimer::start));
    connect(m_watchDelay, &QTimer::timeout, this, &LibraryWindow::refreshLibrary);
    connect(m_clock, &QTimer::timeout, this, &LibraryWindow::tick);
}

void LibraryWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_library) {
        // The whole check of the pages is left to the index run's thread.
        m_library = std::make_unique<library::Library>(m_databasePath, false);
        if (!m_library->notice().empty()) {
            m_status->setText(text(m_library->notice()));
        }
        if (!m_library->isOpen()) {
            m_status->setText(text(m_library->lastError()));
        }
        search();
    }
    // New, changed and removed files are noticed each time the window opens.
    refreshLibrary();
    m_search->setFocus();
}

// Enter in the search box opens the first row; Delete in the queue removes a row.
bool LibraryWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (watched == m_search && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            openRow(m_results->currentItem() != nullptr ? m_results->currentItem() : m_results->topLevelItem(0));
            return true;
        }
        if (watched == m_search && key == Qt::Key_Down && m_results->topLevelItemCount() > 0) {
            m_results->setFocus();
            m_results->setCurrentItem(m_results->topLevelItem(0));
            return true;
        }
        if (watched == m_queueList && key == Qt::Key_Delete) {
            removeQueueRow();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LibraryWindow::search() {
    if (!m_library || !m_library->isOpen()) {
        return;
    }
    const std::vector<library::Song> songs = m_library->search(m_search->text().toStdString(), kShownRows);
    if (!m_library->lastError().empty()) {
        m_status->setText(text(m_library->lastError()));
    }
    m_results->clear();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<int>(songs.size()));
    for (const library::Song& song : songs) {
        auto* row = new QTreeWidgetItem({text(song.title), text(song.artist), lengthText(song.seconds),
                                         song.hasLyrics ? "yes" : "", text(song.folder)});
        row->setData(0, kPathRole, text(song.path));
        row->setData(0, kTitleRole, text(song.title));
        row->setToolTip(0, text(song.path));
        rows.append(row);
    }
    m_results->addTopLevelItems(rows);
    if (!rows.isEmpty()) {
        m_results->setCurrentItem(rows.first());
    }
}

void LibraryWindow::openRow(QTreeWidgetItem* item) {
    if (item == nullptr || !m_hooks.openSong) {
        return;
    }
    const std::string path = item->data(0, kPathRole).toString().toStdString();
    rememberSettings();
    if (m_hooks.openSong(path)) {
        m_openedSong = path;
        offerLastSettings(path);
    }
}

void LibraryWindow::rememberSettings() {
    if (m_openedSong.empty() || !m_library || !m_hooks.currentSong || !m_hooks.currentSettings ||
        m_hooks.currentSong() != m_openedSong) {
        return;
    }
    m_library->saveSettings(m_openedSong, m_hooks.currentSettings());
}

void LibraryWindow::offerLastSettings(const std::string& path) {
    if (!m_library || !m_hooks.currentSettings || !m_hooks.applySettings || !m_hooks.ask) {
        return;
    }
    const std::optional<library::SongSettings> last = m_library->lastSettings(path);
    if (!last) {
        return;
    }
    const QString question = lastSettingsQuestion(*last, m_hooks.currentSettings());
    if (!question.isEmpty() && m_hooks.ask(question)) {
        m_hooks.applySettings(*last);
    }
}

QString lastSettingsQuestion(const library::SongSettings& last, const library::SongSettings& now) {
    QStringList parts;
    if (last.key != now.key) {
        // A real minus sign, as a printed key reads.
        parts << "key " + (last.key < 0 ? QString::fromUtf8("\u2212") + QString::number(-last.key)
                                        : "+" + QString::number(last.key));
    }
    if (last.tempo != now.tempo) {
        parts << "tempo " + QString::number(last.tempo);
    }
    if (last.volume != now.volume) {
        parts << "volume " + QString::number(last.volume);
    }
    return parts.isEmpty() ? QString() : "Last time: " + parts.join(", ") + ". Use them?";
}

void LibraryWindow::addSelectedToQueue() {
    QTreeWidgetItem* item = m_results->currentItem();
    if (item == nullptr) {
        return;
    }
    const QString title = item->data(0, kTitleRole).toString();
    const QString singer = m_hooks.askSinger(this, title).trimmed();
    if (singer.isEmpty()) {
        return;
    }
    m_queue.add({singer.toStdString(), item->data(0, kPathRole).toString().toStdString(), title.toStdString()});
    showQueue();
    saveQueue();
}

void LibraryWindow::addFolderClick() {
    const QString folder = QFileDialog::getExistingDirectory(this, "Add Folder");
    if (!folder.isEmpty()) {
        addFolder(folder.toStdString());
    }
}

void LibraryWindow::addFolder(const std::string& folder) {
    if (m_job) {
        m_pendingFolders.push_back(folder);
        return;
    }
    startJob({folder});
}

void LibraryWindow::refreshLibrary() {
    if (m_job) {
        m_refreshAgain = true;
        return;
    }
    startJob({});
}

void LibraryWindow::startJob(std::vector<std::string> folders) {
    m_progress->setRange(0, 0);
    m_progress->setVisible(true);
    m_addFolder->setEnabled(false);
    m_jobRefreshes = folders.empty();
    m_job = std::make_unique<LibraryIndexJob>(
        m_databasePath, std::move(folders), this, [this](const library::IndexProgress& progress) { jobProgress(progress); },
        [this](const LibraryIndexJob::Result& result) {
            jobFinished(result.ok, result.error, result.notice, result.report);
        });
}

void LibraryWindow::jobProgress(const library::IndexProgress& progress) {
    m_progress->setRange(0, static_cast<int>(progress.total));
    m_progress->setValue(static_cast<int>(progress.done));
    m_status->setText(QString("Reading songs: %1 of %2").arg(progress.done).arg(progress.total));
}

void LibraryWindow::jobFinished(bool ok, const std::string& error, const std::string& notice,
                                const library::IndexReport& report) {
    m_job.reset();
    m_progress->setVisible(false);
    m_addFolder->setEnabled(true);
    QString status;
    if (!notice.empty()) {
        status = text(notice) + "\n";
    }
    if (!ok) {
        status += text(error);
    } else {
        status += QString("%1 new, %2 read again, %3 removed").arg(report.added).arg(report.updated).arg(report.removed);
        if (!report.skipped.empty()) {
            status += QString(", %1 not songs (first: %2: %3)")
                          .arg(report.skipped.size())
                          .arg(text(report.skipped.front().path), text(report.skipped.front().reason));
        }
        if (!report.unreadableFolders.empty()) {
            status += ", cannot read " + text(report.unreadableFolders.front()) + ": its songs are kept";
        }
    }
    m_status->setText(status);
    search();
    if (ok && !report.cancelled) {
        watchFolders(report.folders, m_jobRefreshes);
    }
    emit indexFinished();
    if (!m_pendingFolders.empty()) {
        startJob(std::exchange(m_pendingFolders, {}));
    } else if (m_refreshAgain) {
        m_refreshAgain = false;
        refreshLibrary();
    }
}

void LibraryWindow::watchFolders(const std::vector<std::string>& folders, bool replace) {
    const QStringList watched = m_watcher->directories();
    if (replace && !watched.isEmpty()) {
        m_watcher->removePaths(watched);
    }
    // Each folder is one inotify watch of the user's limited number: a very large tree
    // is watched at its first folders only, and noticed in full when the window opens.
    QStringList paths;
    for (const std::string& folder : folders) {
        if (paths.size() + (replace ? 0 : watched.size()) >= kMostWatched) {
            break;
        }
        paths << text(folder);
    }
    if (!paths.isEmpty()) {
        m_watcher->addPaths(paths);
    }
}

void LibraryWindow::showQueue() {
    m_queueList->clear();
    for (const library::QueueEntry& entry : m_queue.entries()) {
        auto* row = new QListWidgetItem(queueRowText(entry), m_queueList);
        row->setData(kSingerRole, text(entry.singer));
        row->setData(kPathRole, text(entry.path));
        row->setData(kTitleRole, text(entry.title));
    }
    emit queueChanged();
}

// A drag moved rows in the list: the queue takes the list's order.
void LibraryWindow::queueRowsMoved() {
    library::SingerQueue ordered;
    ordered.setCountdownSeconds(m_queue.countdownSeconds());
    for (int i = 0; i < m_queueList->count(); ++i) {
        const QListWidgetItem* row = m_queueList->item(i);
        ordered.add({row->data(kSingerRole).toString().toStdString(), row->data(kPathRole).toString().toStdString(),
                     row->data(kTitleRole).toString().toStdString()});
    }
    m_queue.clear();
    for (const library::QueueEntry& entry : ordered.entries()) {
        m_queue.add(entry);
    }
    saveQueue();
    emit queueChanged();
}

void LibraryWindow::removeQueueRow() {
    const int row = m_queueList->currentRow();
    if (row >= 0 && m_queue.remove(static_cast<std::size_t>(row))) {
        showQueue();
        saveQueue();
    }
}

void LibraryWindow::setQueue(library::SingerQueue queue) {
    const int seconds = m_queue.countdownSeconds();
    m_queue = std::move(queue);
    m_queue.setCountdownSeconds(seconds);
    showQueue();
    saveQueue();
}

void LibraryWindow::songEnded(bool recording) {
    rememberSettings();
    if (recording) {
        m_queue.hold();
    }
    carryOut(m_queue.songEnded());
}

void LibraryWindow::holdQueue() {
    rememberSettings();
    m_queue.hold();
    m_clock->stop();
    showCountdown();
}

// Next Singer: a countdown that Stop held goes on; otherwise the next row opens.
void LibraryWindow::nextClick() {
    if (m_queue.held() && m_queue.countdown()) {
        m_queue.resume();
        m_elapsed->start();
        m_clock->start();
        showCountdown();
        return;
    }
    carryOut(m_queue.nextPressed());
}

void LibraryWindow::carryOut(library::SingerQueue::Action action) {
    using Action = library::SingerQueue::Action;
    if (action == Action::Open) {
        showQueue();
        saveQueue();
        const library::QueueEntry entry = *m_queue.opened();
        rememberSettings();
        m_openedSong.clear();
        if (!m_hooks.openSong || !m_hooks.openSong(entry.path)) {
            // The song did not open (gone, or the user kept the one open): the queue waits.
            m_queue.hold();
            m_status->setText("Could not open " + text(entry.path) + "; the queue waits.");
            showCountdown();
            return;
        }
        m_openedSong = entry.path;
        m_elapsed->start();
        m_clock->start();
        showCountdown();
        if (m_queue.countdownSeconds() == 0) {
            advanceCountdown(1);
        }
    } else if (action == Action::Play) {
        m_clock->stop();
        showCountdown();
        if (m_hooks.play) {
            m_hooks.play();
        }
    }
}

void LibraryWindow::showCountdown() {
    if (!m_hooks.showNext) {
        return;
    }
    const auto countdown = m_queue.countdown();
    if (!countdown) {
        m_hooks.showNext(QString());
        return;
    }
    QString line = "Next: " + queueRowText(countdown->next);
    line += m_queue.held() ? QString("  (held)") : QString("  %1").arg(countdown->secondsLeft);
    m_hooks.showNext(line);
}

void LibraryWindow::advanceCountdown(int milliseconds) {
    const auto action = m_queue.advance(milliseconds);
    if (action == library::SingerQueue::Action::None) {
        showCountdown();
    }
    carryOut(action);
}

void LibraryWindow::tick() {
    const int elapsed = static_cast<int>(m_elapsed->restart());
    advanceCountdown(elapsed);
}

void LibraryWindow::saveQueue() {
    if (m_hooks.settingsPath.empty()) {
        return;
    }
    const std::string saved = m_queue.save();
    int count = 0;
    std::size_t start = 0;
    while (start < saved.size()) {
        const std::size_t end = saved.find('\n', start);
        // The settings file keeps a value exactly, blanks at its ends included.
        platform::profileWriteString(kQueueSection, "Row" + std::to_string(++count), saved.substr(start, end - start),
                                     m_hooks.settingsPath);
        start = end + 1;
    }
    platform::profileWriteString(kQueueSection, "Count", std::to_string(count), m_hooks.settingsPath);
    platform::profileWriteString(kQueueSection, "Countdown", std::to_string(m_queue.countdownSeconds()),
                                 m_hooks.settingsPath);
}

void LibraryWindow::loadQueue() {
    if (m_hooks.settingsPath.empty()) {
        return;
    }
    const int count = platform::profileGetInt(kQueueSection, "Count", 0, m_hooks.settingsPath);
    std::string rows;
    for (int i = 1; i <= count && i <= 10000; ++i) {
        rows += platform::profileGetString(kQueueSection, "Row" + std::to_string(i), "", m_hooks.settingsPath) + "\n";
    }
    m_queue = library::SingerQueue::load(rows);
    m_queue.setCountdownSeconds(platform::profileGetInt(kQueueSection, "Countdown",
                                                        library::SingerQueue::kDefaultCountdownSeconds,
                                                        m_hooks.settingsPath));
    m_countdown->blockSignals(true);
    m_countdown->setValue(m_queue.countdownSeconds());
    m_countdown->blockSignals(false);
    showQueue();
}

}  // namespace cvkapp
