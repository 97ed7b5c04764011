// Arbitrary bytes as a voice file: checked by AudioLoadFile, parsed by the wave reader, and
// when they parse, played to the end on the virtual speakers. Nothing may crash or read out
// of bounds; the reader's data chunk must lie inside the file; a file the reader and the
// speakers accept must play, finish and close; and the speakers must get exactly the data
// chunk's bytes (after a jump, the bytes from the jump's position on).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../FuzzFiles.h"
#include "WaveFile.h"
#include "audio/wave.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"
#include "voxcapt/voxcapt.h"

namespace {

// Manual-clock milliseconds an input may play for. Longer voices (a rate of a few frames a
// second makes a kilobyte last minutes) jump close to their end first.
constexpr std::uint64_t kPlayBudgetMs = 20'000;
constexpr std::uint32_t kStepMs = 5;

struct Host {
    platform::MessageQueue window;
    bool closed = false;

    Host() {
        platform::setMessageBoxHandler(
            [](const platform::MessageBoxRequest& box) { return platform::defaultAnswer(box.buttons); });
        platform::setClockMode(platform::ClockMode::Manual);
    }

    void pump() {
        platform::Message m;
        while (window.peek(m)) {
            if (m.message == audio::kWaveOutCloseMessage) {
                closed = true;
            }
            if (m.message >= audio::kWaveOutOpenMessage && m.message <= audio::kWaveOutDoneMessage) {
                ProcessWavePlayMsg(m.message, m.wParam, m.lParam);
            }
        }
    }
};

Host& host() {
    static Host instance;
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Host& h = host();
    const std::string path = fuzzing::scratchFile("voice.wav");
    fuzzing::storeBytes(path, data, size);
    voxcapt::resetForTest();
    audio::useVirtualWave({});
    h.pump();

    voxcapt::ParsedWave parsed;
    voxcapt::WaveParseError error = voxcapt::WaveParseError::CannotOpen;
    {
        platform::FileReader file;
        if (file.open(path)) {
            error = voxcapt::parseWave(file, parsed);
        }
    }
    const bool parses = error == voxcapt::WaveParseError::None;
    if (parses && (parsed.dataOffset != parsed.dataHeaderOffset + 8 || parsed.dataOffset > size ||
                   parsed.dataSize > size - parsed.dataOffset)) {
        std::abort();  // the data chunk reaches outside the file
    }
    const bool playable = parses && audio::waveFormatPlayable(parsed.format);
    if ((AudioLoadFile(path.c_str()) == 1) != playable) {
        std::abort();  // the check disagrees with the reader and the device
    }
    h.closed = false;
    if ((AudioPlayFile(h.window.handle(), path.c_str()) == 1) != playable) {
        std::abort();  // a playable file refused, or a refused one played
    }
    if (!playable) {
        return 0;
    }

    const std::uint64_t bytesPerSecond =
        std::uint64_t{parsed.format.blockAlign} * parsed.format.samplesPerSec;
    const std::uint64_t lengthMs = parsed.dataSize * 1000 / bytesPerSecond;
    std::uint64_t from = 0;  // where in the data the speakers start
    if (lengthMs + 1000 > kPlayBudgetMs) {
        const auto seconds = static_cast<std::int32_t>(lengthMs / 1000 - (kPlayBudgetMs / 2000));
        AudioForward(seconds);
        from = static_cast<std::uint64_t>(seconds) * bytesPerSecond;
        h.pump();
    }
    std::uint64_t playedMs = 0;
    for (; playedMs < kPlayBudgetMs && voxcapt::playbackView().playing; playedMs += kStepMs) {
        platform::advanceManualClock(kStepMs);
        h.pump();
    }
    // An empty voice queues nothing and plays on until it is stopped, as the player
    // expects; any other voice finishes by itself.
    if (voxcapt::playbackView().playing && parsed.dataSize != 0) {
        std::abort();  // the voice never finished
    }
    AudioStopPlaying();
    h.pump();
    if (!h.closed) {
        std::abort();  // the device was never closed
    }
    const auto outputs = audio::virtualWaveOutputs();
    if (outputs.size() != 1) {
        std::abort();  // one stream, one device
    }
    // The jump comes before the clock first moves, so nothing was heard before it.
    const std::uint8_t* voice = data + parsed.dataOffset;
    if (outputs.front() != std::vector<std::uint8_t>(voice + from, voice + parsed.dataSize)) {
        std::abort();  // bytes lost, repeated, or played from outside the data chunk
    }
    return 0;
}
