#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/wave.h"

// A take lined up with its song. The singer hears each note some time after it was due
// (the synthesizer's scheduling and its stream's way to the speakers), and the microphone
// hands each sound over some time after it was made; the take's first frame, besides, was
// captured before the song started. Readings of both clocks taken while the take records
// say which frame of the take was captured when the song's time zero was heard: the frames
// before it are the take's head, dropped when the take is finished, so that a voice sung
// on the beat sits on the beat wherever the take is played from the song's start.
namespace render {

// One reading, every time on platform::clockMicros().
struct AlignmentReading {
    audio::WaveInClock capture;
    // From a note's due time to its sound at the speakers; 0 when the song's output cannot
    // tell (an external MIDI device).
    std::int64_t outputDelayMicros = 0;
};

class TakeAlignment {
public:
    // A new take: its song's time zero was due at `songStartMicros`; it records at `rate`.
    void start(std::uint64_t songStartMicros, std::uint32_t rate);
    void add(const AlignmentReading& reading);
    std::size_t readings() const { return m_heads.size(); }
    // The frames of the take's head: the median of the readings (the server's figures
    // wander by a few milliseconds from one to the next), none without a reading.
    std::optional<std::uint64_t> headFrames() const;

private:
    std::uint64_t m_songStart = 0;
    std::uint32_t m_rate = 0;
    std::vector<std::int64_t> m_heads;
};

// Drops the first `frames` frames of a wave file a recording wrote, through a copy beside
// it that replaces it once complete: a failure leaves the take as it was. A take shorter
// than its head becomes an empty take. The error says why it was left.
bool DropTakeHead(const std::string& path, std::uint64_t frames, std::string& error);

}  // namespace render
