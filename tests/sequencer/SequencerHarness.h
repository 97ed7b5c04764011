#pragma once

// Drives the sequencer through its exported interface on the manual clock, with the
// capture device as the MIDI output, and reads back every message it sent.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureReader.h"
#include "SmfBuilder.h"
#include "TempDir.h"
#include "engine.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"
#include "pulsant/pulsant.h"

namespace testing_support {

class SequencerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setClockMode(platform::ClockMode::Manual);
        m_capture = m_dir.path("capture.csv");
        setenv("CVK_MIDI_CAPTURE", m_capture.c_str(), 1);
        m_ini = m_dir.writeText("settings.ini", "[Selected midi device]\nDevice name=Capture\n");
        pulsant::resetForTest();
        m_volumes.fill(0);
        m_instruments.fill(255);
    }

    void TearDown() override {
        CallStopSong(window());
        unsetenv("CVK_MIDI_CAPTURE");
    }

    platform::WindowHandle window() const { return m_window.handle(); }

    bool start(const ByteVector& song, int key = 0, int tempo = 0) {
        const std::string file = m_dir.write("song.mid", song);
        return (CallStartSong(file.c_str(), window(), &m_division, key, m_volumes.data(),
                              m_instruments.data(), tempo, m_ini.c_str()) & 0xFF) == 1;
    }

    void advance(std::uint32_t ms) { platform::advanceManualClock(ms); }

    // Advances until the song has ended (or `limit` ms have passed); the ms it took.
    std::uint32_t runToEnd(std::uint32_t limit = 1'000'000) {
        std::uint32_t ms = 0;
        while (ms < limit && engineOf().songEnded.load() == false) {
            advance(1);
            ++ms;
        }
        return ms;
    }

    // Stops the song (closing the capture file) and returns everything sent.
    std::vector<Captured> stopAndRead() {
        CallStopSong(window());
        return readCapture(m_capture);
    }

    static pulsant::Engine& engineOf() { return pulsant::engine(); }

    int countMessages(std::uint32_t message) {
        int count = 0;
        platform::Message m;
        while (m_window.peek(m)) {
            count += m.message == message ? 1 : 0;
        }
        return count;
    }

    TempDir m_dir;
    std::string m_capture;
    std::string m_ini;
    platform::MessageQueue m_window;
    std::uint16_t m_division = 0;
    std::array<std::int16_t, 64> m_volumes{};
    std::array<std::uint16_t, 64> m_instruments{};
};

inline std::vector<Captured> noteOns(const std::vector<Captured>& all) {
    std::vector<Captured> out;
    for (const Captured& c : all) {
        if ((c.status & 0xF0) == 0x90) {
            out.push_back(c);
        }
    }
    return out;
}

inline std::vector<Captured> before(const std::vector<Captured>& all, std::uint64_t micros) {
    std::vector<Captured> out;
    for (const Captured& c : all) {
        if (c.micros < micros) {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace testing_support
