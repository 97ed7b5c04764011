#pragma once

// The main window on a test server: its event loop run until a condition, and a take read
// back as the wave library wrote it.

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "CantivoHarness.h"
#include "TempDir.h"
#include "WaveFile.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "voice_support.h"

namespace cvktest {

// The samples of a take, full scale 1, read with the wave library's own reader.
inline std::optional<std::vector<float>> takeSamples(const std::string& path) {
    platform::FileReader file;
    voxcapt::ParsedWave parsed;
    if (!file.open(path) || voxcapt::parseWave(file, parsed) != voxcapt::WaveParseError::None ||
        parsed.format.samplesPerSec != kVoiceRate || parsed.format.blockAlign != 2) {
        return std::nullopt;
    }
    std::vector<std::int16_t> samples(parsed.dataSize / 2);
    file.seek(parsed.dataOffset);
    file.read(samples.data(), samples.size() * 2);
    std::vector<float> scaled(samples.size());
    std::transform(samples.begin(), samples.end(), scaled.begin(),
                   [](std::int16_t v) { return v / 32768.0f; });
    return scaled;
}

// Runs the window's event loop (its 50 ms timer, its messages) until `done`, calling
// `each` every 10 ms; false when `seconds` passed first.
inline bool runUntil(const std::function<bool()>& done, int seconds, const std::function<void()>& each) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        each();
        if (done()) {
            loop.quit();
        }
    });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(10);
    giveUp.start(seconds * 1000);
    loop.exec();
    return done();
}

using Setting = std::tuple<std::string, std::string, std::string>;  // section, key, value

// The window's settings and temporary folders in `dir`, its settings file holding
// `values`; false when the file could not be written.
inline bool useSettings(const testing_support::TempDir& dir, const std::vector<Setting>& values) {
    ::setenv("XDG_CONFIG_HOME", dir.path("config").c_str(), 1);
    ::setenv("TMPDIR", dir.path("").c_str(), 1);
    std::filesystem::create_directories(dir.path("config/cantivo"));
    const std::string ini = dir.path("config/cantivo/CANTIVO.INI");
    return std::all_of(values.begin(), values.end(), [&ini](const Setting& setting) {
        return platform::profileWriteString(std::get<0>(setting), std::get<1>(setting), std::get<2>(setting), ini);
    });
}

// The window as the user starts it, with `song` opened through File > Open; null when it
// could not open the MIDI device or the song.
inline std::unique_ptr<cvkapp::TCantivo> windowWithSong(testing_support::ScriptedDialogs& dialogs,
                                                        const std::string& song) {
    cvkapp::CantivoOptions options;
    options.dialogs = dialogs.host();
    auto window = std::make_unique<cvkapp::TCantivo>(options);
    window->show();
    if (window->MidiInitFailed) {
        return nullptr;
    }
    dialogs.openAnswers.push_back({QString::fromStdString(song), 0});
    window->Open1Click();
    return window->SongLoaded ? std::move(window) : nullptr;
}

}  // namespace cvktest
