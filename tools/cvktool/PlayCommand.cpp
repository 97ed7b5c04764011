#include "PlayCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "MidiSplit.h"
#include "SongTempoMap.h"
#include "TerminalLyrics.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"
#include "platform/profile.h"
#include "synth/soundfont.h"

namespace cvktool {

namespace {

constexpr const char* kDeviceSection = "Selected midi device";
constexpr const char* kDeviceKey = "Device name";
constexpr const char* kCaptureDevice = "Capture";
constexpr const char* kPreferencesSection = "Preferences";
constexpr const char* kSoundFontKey = "SoundFont";
constexpr std::uint32_t kNoNewPosition = 0xFFFFFFFF;

// Real time: the window program's display rate. Virtual clock: the song plays in a blink,
// so look often or the player would sit idle long after the end.
constexpr int kPollMs = 50;
constexpr int kVirtualPollMs = 1;

// Width of the terminal, or 80 when stdout is none.
int terminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

bool debugEnabled() {
    static const bool enabled = std::getenv("CVK_DEBUG") != nullptr;
    return enabled;
}

// Empty when the file can be opened for reading; otherwise the reason.
std::string unreadableReason(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat info {};
    const bool isDirectory = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
    ::close(fd);
    return isDirectory ? std::strerror(EISDIR) : std::string();
}

// 0, or the errno of the step that failed.
int readWholeFile(const std::string& path, std::string& contents) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        error = EISDIR;
    }
    char buffer[4096];
    while (error == 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno != EINTR) {
                error = errno;
            }
            continue;
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return error;
}

// The settings file the sequencer reads. The user's own file is only ever read: a device
// choice made on the command line goes into a temporary copy, removed again at the end.
class SettingsFile {
public:
    static std::variant<SettingsFile, std::string> prepare(const PlayOptions& options) {
        std::optional<std::string> device = options.device;
        if (options.capture) {
            device = kCaptureDevice;
        }
        if (options.settings && !device) {
            return SettingsFile(*options.settings, false);
        }

        std::string contents;
        if (options.settings) {
            // A missing file reads as empty settings; any other failure is the user's to know.
            const int error = readWholeFile(*options.settings, contents);
            if (error != 0 && error != ENOENT) {
                return "cannot read " + *options.settings + ": " + std::strerror(error);
            }
        }

        std::string path;
        try {
            path = (std::filesystem::temp_directory_path() / "cvktool-XXXXXX.ini").string();
        } catch (const std::filesystem::filesystem_error& error) {
            return std::string("no folder for temporary files: ") + error.what();
        }
        const int fd = ::mkstemps(path.data(), 4);
        if (fd < 0) {
            return "cannot create " + path + ": " + std::strerror(errno);
        }
        SettingsFile file(path, true);
        std::size_t written = 0;
        while (written < contents.size()) {
            const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                const int error = errno;
                ::close(fd);
                return "cannot write " + path + ": " + std::strerror(error);
            }
            written += static_cast<std::size_t>(n);
        }
        ::close(fd);
        if (device && !platform::profileWriteString(kDeviceSection, kDeviceKey, *device, path)) {
            return "cannot write the device choice to " + path;
        }
        return file;
    }

    SettingsFile(SettingsFile&& other) noexcept
        : m_path(std::move(other.m_path)), m_temporary(std::exchange(other.m_temporary, false)) {}
    SettingsFile& operator=(SettingsFile&&) = delete;
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    ~SettingsFile() {
        if (m_temporary) {
            ::unlink(m_path.c_str());
        }
    }

    const std::string& path() const { return m_path; }

private:
    SettingsFile(std::string path, bool temporary)
        : m_path(std::move(path)), m_temporary(temporary) {}

    std::string m_path;
    bool m_temporary;
};

void drainMessages(platform::MessageQueue& window) {
    // The end-of-song message repeats every millisecond once the song is over; the end is
    // detected by polling, so the queue is only emptied to keep it from filling.
    platform::Message message;
    while (window.peek(message)) {
    }
}

void waitForInput(int fd, int timeoutMs) {
    pollfd input{fd, POLLIN, 0};
    ::poll(&input, fd >= 0 ? 1 : 0, timeoutMs);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "cvktool: %s\n%s", message.c_str(), kPlayUsage);
    return 2;
}

}  // namespace

SongFile::~SongFile() {
    if (m_temporary) {
        platform::removeFile(m_path);
    }
}

std::string SongFile::prepare(const std::string& path, bool noSplit) {
    if (noSplit) {
        m_path = path;
        return {};
    }
    m_path = platform::createTempFile(platform::tempFolder(), "cvksplit-");
    if (m_path.empty()) {
        return "cannot create a temporary file";
    }
    m_temporary = true;
    return songfile::SplitMidiFile(path, m_path).message;
}

PlaySession::PlaySession(const SequencerTable& sequencer, platform::WindowHandle window,
                         std::uint16_t division, int tempo, int key)
    : m_sequencer(sequencer), m_window(window), m_division(division), m_tempo(tempo), m_key(key) {}

PlaySession::Outcome PlaySession::handleKey(Key key) {
    switch (key) {
        case Key::Quit:
            return Outcome::Quit;
        case Key::Space:
            m_sequencer.CallPauseSong(m_window);
            m_paused = !m_paused;
            break;
        case Key::Left:
            // Seeking while paused would resume the song behind the user's back.
            if (!m_paused) {
                m_sequencer.CallRewind(m_window);
            }
            break;
        case Key::Right:
            if (!m_paused) {
                m_sequencer.CallFastForward(m_window);
            }
            break;
        case Key::TempoUp:
        case Key::TempoDown: {
            if (m_map) {
                const std::optional<pulsant::TempoMap::Scale> scale =
                    m_map->scaleForStep(m_position, key == Key::TempoUp ? 1 : -1);
                if (scale) {
                    m_map->restartScale(scale->numerator, scale->denominator);
                    m_sequencer.CallFollowTempoMapDLL(m_window, 1, scale->numerator, scale->denominator);
                    m_tempo = m_sequencer.CallGetTempo(m_window);
                }
                break;
            }
            const int tempo =
                std::clamp(m_tempo + (key == Key::TempoUp ? 1 : -1), kMinTempo, kMaxTempo);
            if (tempo != m_tempo) {
                m_tempo = tempo;
                m_sequencer.CallChangeTempo(m_window, tempo);
            }
            break;
        }
        case Key::Up:
        case Key::Down: {
            const int transposition =
                std::clamp(m_key + (key == Key::Up ? 1 : -1), -kMaxKey, kMaxKey);
            if (transposition != m_key) {
                m_key = transposition;
                m_sequencer.CallSetTransposition(m_window, transposition);
            }
            break;
        }
    }
    return Outcome::Continue;
}

bool PlaySession::poll() {
    std::int32_t minutes = 0;
    std::int32_t seconds = 0;
    if (m_sequencer.CallGetTime(m_window, &minutes, &seconds) == 0) {
        return false;
    }
    m_minutes = minutes;
    m_seconds = seconds;
    if (const std::uint32_t position = m_sequencer.CallGetLyricCounterDLL(m_window);
        position != kNoNewPosition) {
        m_position = position;
    }
    if (m_map) {
        m_tempo = m_sequencer.CallGetTempo(m_window);
    }
    return true;
}

std::string PlaySession::statusLine() const {
    return formatStatus(
        {m_minutes, m_seconds, splitPosition(m_position, m_division), m_tempo, m_key, m_paused});
}

int runPlay(std::span<const std::string_view> args) {
    const PlayCommandLine commandLine = parsePlayOptions(args);
    if (std::holds_alternative<HelpRequested>(commandLine)) {
        std::fputs(kPlayUsage, stdout);
        return 0;
    }
    if (const auto* error = std::get_if<UsageError>(&commandLine)) {
        return usageError(error->message);
    }
    const PlayOptions& options = std::get<PlayOptions>(commandLine);

    if (const std::string reason = unreadableReason(options.file); !reason.empty()) {
        std::fprintf(stderr, "cvktool: cannot read %s: %s\n", options.file.c_str(), reason.c_str());
        return 1;
    }

    // The capture device exists only if this is set when the devices are first listed.
    if (options.capture && ::setenv("CVK_MIDI_CAPTURE", options.capture->c_str(), 1) != 0) {
        std::fprintf(stderr, "cvktool: cannot set CVK_MIDI_CAPTURE: %s\n", std::strerror(errno));
        return 1;
    }

    auto loaded = loadSequencer();
    if (const auto* error = std::get_if<std::string>(&loaded)) {
        std::fprintf(stderr, "cvktool: %s\n", error->c_str());
        return 1;
    }
    const SequencerTable& sequencer = std::get<SequencerTable>(loaded);

    auto prepared = SettingsFile::prepare(options);
    if (const auto* error = std::get_if<std::string>(&prepared)) {
        std::fprintf(stderr, "cvktool: %s\n", error->c_str());
        return 1;
    }
    const SettingsFile& settings = std::get<SettingsFile>(prepared);
    if (debugEnabled()) {
        std::fprintf(stderr, "cvktool: settings file %s\n", settings.path().c_str());
    }

    if (options.virtualClock) {
        platform::setClockMode(platform::ClockMode::Virtual);
    }
    installStopSignals();

    SongFile song;
    if (const std::string failure = song.prepare(options.file, options.noSplit); !failure.empty()) {
        std::fprintf(stderr, "cvktool: %s\n", failure.c_str());
        return 1;
    }
    platform::MessageQueue window;
    const platform::WindowHandle handle = window.handle();

    // The synthesizer is opened without the settings at hand: the choice goes to it here.
    // One it cannot read is passed over, as the player does; here the user hears why.
    const std::string soundFont = options.soundFont.value_or(
        platform::profileGetString(kPreferencesSection, kSoundFontKey, "", settings.path()));
    if (!soundFont.empty()) {
        if (const std::string reason = unreadableReason(soundFont); !reason.empty()) {
            std::fprintf(stderr, "cvktool: cannot read SoundFont %s: %s; looking elsewhere\n",
                         soundFont.c_str(), reason.c_str());
        }
    }
    synth::setSoundFontChoice(soundFont);

    // On failure the sequencer has already shown the system's reason.
    if (sequencer.CallInitMIDIOut(handle, settings.path().c_str()) == 0) {
        std::fprintf(stderr, "cvktool: cannot open the MIDI device\n");
        return 1;
    }
    std::optional<pulsant::TempoMap> map;
    if (options.followTempo) {
        map = songfile::ReadTempoMap(song.path());
        if (!map) {
            std::fprintf(stderr, "cvktool: %s has no tempo map to follow (SMPTE timing); playing its one tempo\n",
                         options.file.c_str());
        }
    }
    // Following the map, --tempo is the tempo of the song's first section.
    pulsant::TempoMap::Scale scale{};
    if (map && options.tempo != 0) {
        scale = map->scaleForTempoAt(0, static_cast<std::uint32_t>(options.tempo));
        map->restartScale(scale.numerator, scale.denominator);
    }
    sequencer.CallFollowTempoMapDLL(handle, map ? 1 : 0, scale.numerator, scale.denominator);
    std::uint16_t division = 0;
    const std::int32_t started =
        sequencer.CallStartSong(song.path().c_str(), handle, &division, options.key, options.volumes.data(),
                            options.instruments.data(), options.tempo, settings.path().c_str());
    if ((started & 0xFF) == 0) {
        std::fprintf(stderr, "cvktool: cannot start the song\n");
        return 1;
    }
    // The key and tempo given to the start apply from the first note; sending them again now
    // would cut the notes of tick 0. The tempo shown is the one the sequencer settled on.
    PlaySession session(sequencer, handle, division, sequencer.CallGetTempo(handle), options.key);
    if (map) {
        session.followMap(std::move(*map));
    }

    KeyboardInput keyboard;
    const bool showStatus = ::isatty(STDOUT_FILENO) != 0;
    TerminalLyrics lyricsView;
    const bool showLyrics = options.lyrics && lyricsView.load(song.path(), options.file, terminalColumns());
    if (options.lyrics && !showLyrics) {
        std::puts("no lyrics");
    }
    const int pollMs = options.virtualClock ? kVirtualPollMs : kPollMs;
    bool ended = false;
    int lastLoggedLine = -1;
    std::vector<Key> keys;
    while (!stopRequested()) {
        drainMessages(window);
        keys.clear();
        if (keyboard.fd() >= 0) {
            pollfd input{keyboard.fd(), POLLIN, 0};
            if (::poll(&input, 1, 0) > 0) {
                keyboard.read(keys);
            }
        }
        bool quit = false;
        for (Key key : keys) {
            if (session.handleKey(key) == PlaySession::Outcome::Quit) {
                quit = true;
                break;
            }
        }
        if (quit) {
            break;
        }
        if (!session.poll()) {
            ended = true;
            break;
        }
        const bool lyricsMoved = showLyrics && lyricsView.follow(session.position());
        if (showStatus && showLyrics) {
            // Three rows, redrawn in place: the sung line, the next one, the status.
            std::printf("\r\x1b[2K%s\n\x1b[2K\x1b[2m%s\x1b[0m\n\x1b[2K%s\x1b[2A\r",
                        lyricsView.currentLine(true).c_str(), lyricsView.nextLine().c_str(),
                        session.statusLine().c_str());
            std::fflush(stdout);
        } else if (showStatus) {
            std::printf("\r\x1b[K%s", session.statusLine().c_str());
            std::fflush(stdout);
        } else if (lyricsMoved && lyricsView.started()) {
            // Not a terminal: each line once, when it is reached (with any passed between
            // two polls).
            while (lastLoggedLine < lyricsView.lineIndex()) {
                std::printf("%s\n", lyricsView.lineText(++lastLoggedLine).c_str());
            }
        }
        waitForInput(keyboard.fd(), pollMs);
    }

    sequencer.CallStopSong(handle);
    drainMessages(window);
    if (showStatus) {
        std::fputs(showLyrics ? "\n\n\n" : "\n", stdout);
    }
    std::puts(ended ? "ended" : "stopped");
    return 0;
}

}  // namespace cvktool
