#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TempDir.h"
#include "WaveBuilder.h"
#include "audio/wave.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"
#include "voxcapt/voxcapt.h"

// The wave library on the virtual devices and the manual clock, with the window's part
// played by a queue whose notifications go back into the library as the program's window
// procedure hands them.
class VoiceTest : public testing::Test {
protected:
    void SetUp() override {
        platform::setClockMode(platform::ClockMode::Manual);
        useDevices({});
        voxcapt::resetForTest();
    }
    void TearDown() override {
        voxcapt::resetForTest();
        pump();
    }

    void useDevices(audio::VirtualWaveSetup setup) { audio::useVirtualWave(setup); }

    void pump() {
        platform::Message m;
        while (window.peek(m)) {
            messages.push_back(m.message);
            if ((m.message >= audio::kWaveOutOpenMessage && m.message <= audio::kWaveOutDoneMessage) ||
                m.message == audio::kWaveOutErrorMessage) {
                ProcessWavePlayMsg(m.message, m.wParam, m.lParam);
            } else {
                ProcessWaveRecMsg(m.message, m.wParam, m.lParam);
            }
        }
    }
    void run(int ms) {
        for (int i = 0; i < ms; ++i) {
            platform::advanceManualClock(1);
            pump();
        }
    }
    // Runs until the playback stream has finished (or the limit passes).
    void playToEnd(int limitMs = 60'000) {
        for (int i = 0; i < limitMs && voxcapt::playbackView().playing; ++i) {
            run(1);
        }
        run(5);
    }
    void recordToEnd(int limitMs = 10'000) {
        for (int i = 0; i < limitMs && voxcapt::recordingView().active; ++i) {
            run(1);
        }
    }

    std::vector<std::string> boxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes.shown()) {
            texts.push_back(box.text);
        }
        return texts;
    }
    std::vector<std::uint8_t> lastOutput() const {
        const auto outputs = audio::virtualWaveOutputs();
        return outputs.empty() ? std::vector<std::uint8_t>{} : outputs.back();
    }
    static std::vector<std::uint8_t> readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    platform::MessageQueue window;
    platform::ScriptedMessageBoxes boxes;
    testing_support::TempDir dir;
    std::vector<std::uint32_t> messages;
};
