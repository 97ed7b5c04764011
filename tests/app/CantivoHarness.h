#pragma once

// The main window offscreen: the real sequencer library on the manual clock with the
// capture MIDI device, settings and temporary files in a folder of the test's own,
// message boxes and the open, save, font and colour dialogs answered by script. The
// 50 ms timer is not left running; tests call its handler after moving the clock.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Cantivo.h"
#include "CaptureReader.h"
#include "SmfBuilder.h"
#include "TempDir.h"
#include "audio/mixer.h"
#include "platform/dialogs.h"
#include "platform/mm_timer.h"
#include "platform/profile.h"

namespace testing_support {

// Answers for the window's file, font and colour dialogs, in the order they are asked.
// An unscripted dialog is cancelled; every request is recorded.
struct ScriptedDialogs {
    std::deque<cvkapp::FileDialogAnswer> openAnswers;
    std::deque<cvkapp::FileDialogAnswer> saveAnswers;
    std::deque<QFont> fonts;
    std::deque<QColor> colors;
    std::deque<QString> texts;  // lines typed into text questions; none left: cancelled
    std::vector<cvkapp::FileDialogRequest> openRequests;
    std::vector<cvkapp::FileDialogRequest> saveRequests;
    int fontDialogs = 0;
    std::vector<QFont> fontRequests;  // the font each font dialog started on
    int colorDialogs = 0;

    cvkapp::HostDialogs host() {
        cvkapp::HostDialogs dialogs;
        dialogs.openFile = [this](QWidget*, const cvkapp::FileDialogRequest& request) {
            openRequests.push_back(request);
            return take(openAnswers, request);
        };
        dialogs.saveFile = [this](QWidget*, const cvkapp::FileDialogRequest& request) {
            saveRequests.push_back(request);
            return take(saveAnswers, request);
        };
        dialogs.chooseFont = [this](QWidget*, const QFont& initial) {
            ++fontDialogs;
            fontRequests.push_back(initial);
            if (fonts.empty()) return initial;
            QFont font = fonts.front();
            fonts.pop_front();
            return font;
        };
        dialogs.askText = [this](QWidget*, const QString&, const QString&) {
            if (texts.empty()) return QString();
            QString text = texts.front();
            texts.pop_front();
            return text;
        };
        dialogs.chooseColor = [this](QWidget*, const QColor& initial) {
            ++colorDialogs;
            if (colors.empty()) return initial;
            QColor color = colors.front();
            colors.pop_front();
            return color;
        };
        return dialogs;
    }

private:
    static cvkapp::FileDialogAnswer take(std::deque<cvkapp::FileDialogAnswer>& answers,
                                         const cvkapp::FileDialogRequest& request) {
        if (answers.empty()) {
            return {QString(), request.filterIndex};
        }
        cvkapp::FileDialogAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// `act` runs inside the dialog's own loop once it is shown; a dialog still open then is
// closed, so a test never hangs on it. Returns whether the dialog was shown at all.
inline std::shared_ptr<bool> whileShown(QDialog* dialog, std::function<void()> act) {
    auto shown = std::make_shared<bool>(false);
    QTimer::singleShot(0, dialog, [dialog, act, shown] {
        *shown = dialog->isVisible();
        if (*shown) act();
        if (dialog->isVisible()) dialog->reject();
    });
    return shown;
}

// Controls of a virtual mixer for the window's tests, found by their tags: a volume of
// 0..65535 and a switch of 0..1 (a mute or an on/off), each at `value` on both channels.
inline audio::VirtualMixerControl mixerVolume(const std::string& tag, std::uint32_t value) {
    return {audio::ControlType::Volume, "Volume", tag, 0, 65535, {}, {value, value}};
}
inline audio::VirtualMixerControl mixerSwitch(audio::ControlType type, const std::string& tag,
                                              std::uint32_t value) {
    return {type, "Switch", tag, 0, 1, {}, {value, value}};
}
// A tagged control's value on its first channel.
inline std::uint32_t mixerValue(const std::string& tag) { return audio::virtualMixerValues(tag).at(0); }

// Names a parameterised test's cases after the `name` field of their parameter.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return info.param.name;
    }
};

class CantivoTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setClockMode(platform::ClockMode::Manual);
        setenv("XDG_CONFIG_HOME", m_dir.path("config").c_str(), 1);
        m_temp = m_dir.path("tmp");
        std::filesystem::create_directories(m_temp);
        setenv("TMPDIR", m_temp.c_str(), 1);
        m_capture = m_dir.path("capture.csv");
        setenv("CVK_MIDI_CAPTURE", m_capture.c_str(), 1);
        std::filesystem::create_directories(m_dir.path("config/cantivo"));
        // A machine without mixers: the window's tests never move a real sound server.
        audio::useVirtualMixer({});
        // The capture device plays; the audio wizard has already run.
        setting("Selected midi device", "Device name", "Capture");
        setting("Configuration", "RunConfigWizard", "0");
    }

    void TearDown() override {
        m_window.reset();
        audio::useRealMixer();
        unsetenv("CVK_MIDI_CAPTURE");
        unsetenv("TMPDIR");
        unsetenv("XDG_CONFIG_HOME");
    }

    std::string ini() const { return m_dir.path("config/cantivo/CANTIVO.INI"); }
    void setting(const std::string& section, const std::string& key, const std::string& value) {
        ASSERT_TRUE(platform::profileWriteString(section, key, value, ini()));
    }
    int intSetting(const std::string& section, const std::string& key, int fallback = -99) {
        return platform::profileGetInt(section, key, fallback, ini());
    }
    std::string stringSetting(const std::string& section, const std::string& key) {
        return platform::profileGetString(section, key, "<missing>", ini());
    }

    // Creates and first-shows the window (without the event loop: its timer is stopped).
    cvkapp::TCantivo& open(const QString& commandLineFile = {}, const std::string& library = {}) {
        cvkapp::CantivoOptions options;
        options.commandLineFile = commandLineFile;
        options.sequencerLibrary = library;
        options.dialogs = dialogs.host();
        options.programFolder = programFolder;
        m_window = std::make_unique<cvkapp::TCantivo>(options);
        m_window->FormShow();
        m_window->CVKTimer->stop();
        return *m_window;
    }
    cvkapp::TCantivo& window() { return *m_window; }
    // The window goes away without a close, as at the end of a session.
    void destroyWindow() { m_window.reset(); }

    // A song file in the test's folder.
    std::string song(const std::string& name, const ByteVector& bytes) {
        return m_dir.write(name, bytes);
    }
    // A song in a folder of its own, so that stray files beside it show.
    std::string songFile(const std::string& name, const ByteVector& bytes) {
        std::filesystem::create_directories(path("songs"));
        return song("songs/" + name, bytes);
    }
    // What that folder holds, by name.
    std::vector<std::string> songFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path("songs"))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // Loads a song through File > Open with the dialog answering `path`.
    void openSong(const std::string& path) {
        dialogs.openAnswers.push_back({QString::fromStdString(path), 0});
        window().Open1Click();
    }

    // The clock moves on and the 50 ms timer's handler runs once.
    void tick(std::uint32_t ms = 50) {
        platform::advanceManualClock(ms);
        window().CVKTimerTimer();
    }

    std::vector<Captured> captured() const { return readCapture(m_capture); }
    std::vector<std::string> boxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes.shown()) texts.push_back(box.text);
        return texts;
    }
    // How many boxes with exactly this text were shown.
    long boxCount(const std::string& text) const {
        const auto texts = boxTexts();
        return std::count(texts.begin(), texts.end(), text);
    }
    // The window's 50 ms loop runs for `ms` milliseconds of the song.
    void play(std::uint32_t ms) {
        for (std::uint32_t done = 0; done < ms; done += 50) tick();
    }
    // Temporary files the window left in its temporary folder.
    std::size_t tempFiles() const {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_temp)) {
            ++count;
        }
        return count;
    }
    std::string path(const std::string& name) const { return m_dir.path(name); }

    platform::ScriptedMessageBoxes boxes;
    ScriptedDialogs dialogs;
    // The program's data files come from here when set (ending in '/').
    std::string programFolder;

private:
    TempDir m_dir;
    std::string m_temp;
    std::string m_capture;
    std::unique_ptr<cvkapp::TCantivo> m_window;
};

// A song of `count` notes on channel 0, one on each quarter from tick 0, each lasting half
// a quarter; 120 bpm unless a tempo (microseconds per quarter) is given.
inline ByteVector noteSong(int count, std::uint32_t microsPerQuarter = 500000, int note = 60,
                           int velocity = 100) {
    constexpr std::uint32_t kQuarter = 96;
    Track conductor;
    conductor.tempo(0, microsPerQuarter).end();
    Track notes;
    for (int i = 0; i < count; ++i) {
        notes.noteOn(i == 0 ? 0 : kQuarter / 2, 0, note, velocity).noteOff(kQuarter / 2, 0, note);
    }
    notes.end();
    return smf(1, kQuarter, {conductor, notes});
}

// A karaoke song at 120 bpm: from the first quarter on, a text syllable (third track)
// and a note (second track, channel 0) on each quarter: syllable i and its note at tick
// (i + 1) * division. The syllables are text events (meta type 1) unless another meta
// type is given (5: lyric events).
inline ByteVector karaokeSong(const std::vector<std::string>& syllables, int division = 96,
                              int textType = 0x01) {
    const auto quarter = static_cast<std::uint32_t>(division);
    Track conductor;
    conductor.tempo(0, 500000).end();
    Track words;
    Track notes;
    notes.program(0, 0, 0);
    for (std::size_t i = 0; i < syllables.size(); ++i) {
        const int note = 60 + static_cast<int>(i % 12);
        words.meta(quarter, textType, syllables[i]);
        notes.noteOn(i == 0 ? quarter : 0, 0, note, 100).noteOff(quarter, 0, note);
    }
    words.end();
    notes.end();
    // Karaoke files carry their words in the third track.
    return smf(1, division, {conductor, notes, words});
}

}  // namespace testing_support
