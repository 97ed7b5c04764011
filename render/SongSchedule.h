#pragma once

// A song's messages with the times the sequencer sends them, played on the event-driven
// virtual clock into the capture device: the sequencer decides everything it does when it
// plays (tempo, key, volumes, instruments, the song's own tempo map), and nothing of it is
// heard. The renderer then plays the messages into the synthesizer at those times.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "pulsant/binding.h"

namespace render {

struct TimedMessage {
    std::uint64_t micros = 0;  // from the song's start
    std::uint32_t message = 0;  // status | data1 << 8 | data2 << 16
};

struct ScheduleRequest {
    std::string splitFile;  // the song, split one channel a track
    int tempo = 0;          // beats per minute; 0: the song's own
    int key = 0;
    const std::int16_t* volumes = nullptr;       // 64 velocity offsets
    const std::uint16_t* instruments = nullptr;  // 64 programs, 255 keeps the song's
    bool followTempo = false;                    // play the song's own tempo map
    std::uint32_t scaleNumerator = 1;            // and the ratio it plays it at
    std::uint32_t scaleDenominator = 1;
};

// The process's clock becomes the virtual clock and CVK_MIDI_CAPTURE is set while it
// runs: a program that renders does nothing else meanwhile. The messages in time order, or
// why the song could not be played.
std::variant<std::vector<TimedMessage>, std::string> ScheduleSong(const pulsant::Entries& sequencer,
                                                                 const ScheduleRequest& request);

}  // namespace render
