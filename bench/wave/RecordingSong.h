#pragma once

// A song for a singer to record over: eighths at 120 bpm on a melody, a bass, a pad and
// drums, the melody changing to a program not heard before every 4 s (from the sequencer,
// as a song's own changes come).

#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

#include "SmfBuilder.h"

namespace bench {

// `channelVolume`: a volume controller on every channel at the start (the benchmarks that
// listen for clicks above the song turn it down); none leaves the synthesizer's default.
inline testing_support::ByteVector recordingSong(int eighths, std::optional<int> channelVolume = std::nullopt) {
    using testing_support::Track;
    constexpr std::uint32_t kDivision = 96;
    constexpr std::uint32_t kEighth = kDivision / 2;
    constexpr int kChanges[] = {0, 24, 40, 56, 65, 73, 11, 19, 33, 48, 81, 4, 16, 30, 52, 61, 71, 88, 104, 6};
    std::vector<Track> tracks;
    Track conductor;
    conductor.tempo(0, 500'000).end();
    tracks.push_back(conductor);
    struct Part {
        int channel;
        int program;
        int key;
    };
    for (const Part part : {Part{0, 0, 72}, Part{1, 33, 40}, Part{2, 48, 60}, Part{9, 0, 42}}) {
        Track track;
        if (channelVolume) {
            track.control(0, part.channel, 7, *channelVolume);
        }
        if (part.channel != 9) {
            track.program(0, part.channel, part.program);
        }
        std::uint32_t wait = 0;
        for (int n = 0; n < eighths; ++n) {
            if (part.channel == 0 && n > 0 && n % 32 == 0) {
                track.program(wait, 0, kChanges[(n / 32) % std::size(kChanges)]);
                wait = 0;
            }
            const int key = part.channel == 9 ? (n % 4 == 0 ? 36 : 42) : part.key + (n * 5) % 12;
            track.noteOn(wait, part.channel, key, 90);
            track.noteOff(kEighth - 8, part.channel, key);
            wait = 8;
        }
        tracks.push_back(track.end());
    }
    return testing_support::smf(1, kDivision, tracks);
}

}  // namespace bench
