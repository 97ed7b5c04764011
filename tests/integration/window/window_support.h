#pragma once

// The main window on a test server: its event loop run until a condition, and a take read
// back as the wave library wrote it.

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "WaveFile.h"
#include "platform/files.h"
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

}  // namespace cvktest
