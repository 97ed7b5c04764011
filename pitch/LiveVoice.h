#pragma once

// The singer's pitch as the microphone hears it, for the trail: whatever capture runs (a
// take, or the monitor alone) writes what it captures into this tap on its audio thread;
// the window reads the tap at the strip's frame rate and analyses what arrived on its own
// thread. Nothing is analysed on the audio thread, and nothing waits for a take file.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "PitchTracker.h"
#include "audio/capture_tap.h"

namespace pitch {

class LiveVoice {
public:
    LiveVoice();
    ~LiveVoice();
    LiveVoice(const LiveVoice&) = delete;
    LiveVoice& operator=(const LiveVoice&) = delete;

    // Where captures write (voxcapt::setCaptureTap); lives as long as this.
    audio::CaptureTap& tap() { return *m_tap; }

    struct Heard {
        std::vector<PitchFrame> frames;  // oldest first, seconds from the capture's start
        double seconds = 0.0;            // of audio heard since the capture's start
        bool restarted = false;          // a new capture began: earlier frames are another's
    };
    // The reader's thread. Takes what arrived since the last call and analyses it.
    Heard poll();

private:
    std::unique_ptr<audio::CaptureTap> m_tap;
    std::optional<PitchTracker> m_tracker;
    std::uint64_t m_capture = 0;    // the tap's capture analysed
    std::uint64_t m_frames = 0;     // sample frames heard of it
    std::vector<std::uint8_t> m_partial;  // the start of a sample frame not yet whole
    std::vector<float> m_samples;
};

}  // namespace pitch
