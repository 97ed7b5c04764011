// Voice playback: one wave file streamed from disk through up to eight buffers, refilled
// as the device hands them back, with pause, seeking, the alignment offset, the echo line,
// silent mode and peak levels.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "State.h"
#include "WaveFile.h"
#include "platform/guarded.h"
#include "audio/wave_out.h"
#include "voxcapt/voxcapt.h"

namespace voxcapt::detail {
namespace {

// The alignment offset's unit: a second of the recording format (22050 Hz, 16-bit mono).
constexpr std::int32_t kOffsetUnitBytes = 44100;

// Opens and parses a wave file, showing the box of whatever step fails.
bool openWave(const std::string& path, platform::FileReader& file, ParsedWave& parsed) {
    WaveParseError error = WaveParseError::CannotOpen;
    if (file.open(path)) {
        error = parseWave(file, parsed);
    }
    if (error != WaveParseError::None) {
        file.close();
        errorBox(parseErrorText(error, path));
        return false;
    }
    return true;
}

void measureSlot(Playback& play, int slot) {
    const Buffer* buffer = play.buffers[static_cast<std::size_t>(slot)].get();
    if (buffer != nullptr) {
        measurePeaks(reinterpret_cast<const std::uint8_t*>(buffer->data.get()),
                     buffer->header.dwBufferLength, play.format.channels,
                     play.format.bitsPerSample, play.peaks);
    }
}

void readOneBuffer(Playback& play, Buffer& buffer, std::uint32_t at) {
    const std::size_t got = play.file.readUpTo(buffer.data.get() + at, play.bufferSize - at);
    play.position += got;
    std::uint64_t length = at + got;
    // Whatever follows the data chunk in the file is never played.
    if (play.position > play.dataSize) {
        length -= std::min<std::uint64_t>(play.position - play.dataSize, got);
    }
    buffer.header.dwBufferLength = static_cast<std::uint32_t>(length);
}

void clearOffset(State& s) {
    s.pendingOffset = 0;
    s.offsetMode = 0;
}

void clearShift(State& s) {
    s.pendingShift = 0;
    s.pendingShiftMicros = 0;
}

// Fills one buffer from the current position, applying a pending offset first, and writes
// it to the device. Nothing happens once the data is used up and no offset waits.
void refill(State& s, Buffer& buffer) {
    Playback& play = s.play;
    if (s.pendingShiftMicros != 0) {
        const std::int64_t frames = s.pendingShiftMicros * play.format.samplesPerSec / 1'000'000;
        s.pendingShift = frames * play.format.blockAlign;
        s.pendingShiftMicros = 0;
    }
    if (s.pendingShift < 0) {
        const std::uint64_t skip = static_cast<std::uint64_t>(-s.pendingShift);
        if (play.position + skip < play.dataSize) {
            play.position += skip;
            play.file.seek(play.dataOffset + play.position);
        }
        s.pendingShift = 0;
    }
    if (play.position >= play.dataSize && s.pendingOffset == 0) {
        return;
    }
    if (s.pendingShift > 0 && s.offsetMode == 0) {
        // The voice waits: silence first, then on from where it was.
        const auto silence = static_cast<std::uint32_t>(std::min<std::int64_t>(s.pendingShift, play.bufferSize));
        std::memset(buffer.data.get(), play.format.bitsPerSample == 8 ? 0x80 : 0, silence);
        s.pendingShift -= silence;
        readOneBuffer(play, buffer, silence);
    } else if (s.offsetMode == 1) {
        const std::uint64_t skip = static_cast<std::uint32_t>(s.pendingOffset);
        const std::uint64_t remaining =
            play.position < play.dataSize ? play.dataSize - play.position : 0;
        if (skip < remaining) {
            play.position += skip;
            play.file.seek(play.dataOffset + play.position);
        }
        readOneBuffer(play, buffer, 0);
        clearOffset(s);
    } else if (s.offsetMode == 2) {
        const std::uint64_t back = static_cast<std::uint64_t>(-static_cast<std::int64_t>(s.pendingOffset));
        if (back < play.position) {
            play.position -= back;
            play.file.seek(play.dataOffset + play.position);
            readOneBuffer(play, buffer, 0);
            clearOffset(s);
        } else {
            // Further back than the voice goes: start it from its first byte, late by the
            // rest of the offset, which is played as silence.
            play.position = 0;
            play.file.seek(play.dataOffset);
            if (back > play.bufferSize) {
                std::memset(buffer.data.get(), 0, play.bufferSize);
                buffer.header.dwBufferLength = play.bufferSize;
                s.pendingOffset += static_cast<std::int32_t>(play.bufferSize);
            } else {
                const auto silence = static_cast<std::uint32_t>(back);
                std::memset(buffer.data.get(), 0, silence);
                readOneBuffer(play, buffer, silence);
                clearOffset(s);
            }
        }
    } else {
        readOneBuffer(play, buffer, 0);
    }
    auto* bytes = reinterpret_cast<std::uint8_t*>(buffer.data.get());
    if (s.echo && s.playbackEchoDelayMs > 10) {
        s.echo->apply(bytes, buffer.header.dwBufferLength, play.format, s.echoDelayMs);
    }
    if (s.silence) {
        std::memset(bytes, 0, buffer.header.dwBufferLength);
    }
    audio::waveOutWrite(play.device, &buffer.header);
    if (play.position >= play.dataSize) {
        play.underrunsBeforeTheEnd = audio::waveOutUnderruns(play.device);
    }
}

int stillQueued(const Playback& play) {
    int count = 0;
    for (int i = 0; i < play.queued; ++i) {
        const Buffer* buffer = play.buffers[static_cast<std::size_t>(i)].get();
        count += buffer != nullptr && (buffer->header.dwFlags.load(std::memory_order_acquire) &
                                       audio::kWaveHeaderInQueue) != 0
                     ? 1
                     : 0;
    }
    return count;
}

bool allQueuedDone(const Playback& play) {
    for (int i = 0; i < play.queued; ++i) {
        const Buffer* buffer = play.buffers[static_cast<std::size_t>(i)].get();
        if (buffer != nullptr && (buffer->header.dwFlags.load(std::memory_order_acquire) &
                                  audio::kWaveHeaderDone) == 0) {
            return false;
        }
    }
    return true;
}

// A monitor left open by a recording that is over goes once all of its buffers are back.
void closeIdleMonitor(State& s) {
    Monitor& monitor = s.monitor;
    if (!monitor.activeMarker || s.rec.recording || monitor.device == 0) {
        return;
    }
    for (const auto& slot : monitor.buffers) {
        if (slot && (slot->header.dwFlags.load(std::memory_order_acquire) &
                     audio::kWaveHeaderDone) == 0) {
            return;
        }
    }
    audio::waveOutReset(monitor.device);
    freeBuffers(monitor.buffers, monitor.device, audio::waveOutUnprepareHeader);
    audio::waveOutClose(monitor.device);
    monitor.device = 0;
    monitor.count = 0;
    s.echo.reset();
}

std::int32_t startPlayback(platform::WindowHandle window, const std::string& path) {
    State& s = state();
    Playback& play = s.play;
    if (path.empty() || play.playing) {
        return 0;
    }
    ParsedWave parsed;
    if (!openWave(path, play.file, parsed)) {
        errorBox("Cannot Open Wave File");
        return 0;
    }
    play.format = parsed.format;
    play.dataOffset = parsed.dataOffset;
    play.dataSize = parsed.dataSize;
    play.position = 0;
    play.underrunsBeforeTheEnd = 0;
    // About an eighth of a second in whole kilobytes.
    play.bufferSize = std::max<std::uint32_t>(
                          1, (static_cast<std::uint32_t>(play.format.blockAlign) *
                              play.format.samplesPerSec) >> 13) *
                      1024;
    auto release = [&](audio::WaveOutHandle device) {
        freeBuffers(play.buffers, device, audio::waveOutUnprepareHeader);
        play.allocated = 0;
        play.file.close();
    };
    play.allocated = allocateBuffers(play.buffers, play.bufferSize);
    if (play.allocated < 2) {
        release(0);
        errorBox("Cannot Allocate Enough Play Buffers");
        return 0;
    }
    if (const audio::WaveError query = audio::waveOutQuery(audio::kWaveMapper, play.format);
        query != audio::WaveError::Ok) {
        release(0);
        errorBox(query == audio::WaveError::NoSoundServer ? kNoSoundServerText
                                                          : "Wave Format not supported");
        return 0;
    }
    if (const audio::WaveError opened =
            audio::waveOutOpen(&play.device, audio::kWaveMapper, play.format, window);
        opened != audio::WaveError::Ok) {
        play.device = 0;
        release(0);
        if (opened == audio::WaveError::NoSoundServer) {
            errorBox(kNoSoundServerText);
        } else {
            ownedBox(window, "Cannot open audio device .Make sure that it is not in use by another application ");
        }
        return 0;
    }
    for (int i = 0; i < play.allocated; ++i) {
        audio::WaveHeader& header = play.buffers[static_cast<std::size_t>(i)]->header;
        if (audio::waveOutPrepareHeader(play.device, &header) != audio::WaveError::Ok) {
            ownedBox(window, "Cannot Prepare Play Buffers");
            release(play.device);
            audio::waveOutClose(play.device);
            play.device = 0;
            return 0;
        }
        header.dwFlags.store(audio::kWaveHeaderPrepared, std::memory_order_release);
    }
    s.echo = EchoLine::create(play.format);
    if (!s.echo) {
        errorBox("Cannot Allocate Echo Buffer");
    }
    s.monitor.activeMarker = false;
    play.playing = true;
    play.paused = false;
    play.file.seek(play.dataOffset);

    // The whole queue is written while the device stands still, so playback starts full.
    audio::waveOutPause(play.device);
    play.queued = 0;
    for (int i = 0; i < play.allocated && play.position < play.dataSize; ++i) {
        refill(s, *play.buffers[static_cast<std::size_t>(i)]);
        ++play.queued;
    }
    measureSlot(play, 0);
    play.levelIndex = 1;
    audio::waveOutRestart(play.device);
    return 1;
}

void bufferDone(const audio::WaveHeader* header) {
    State& s = state();
    Playback& play = s.play;
    // A notification posted before the stream it belonged to was finished, or for a
    // buffer that went back into the queue since, is not this stream's to act on.
    const int slot = slotOf(play.buffers, header);
    if (!play.playing || slot < 0 ||
        (header->dwFlags.load(std::memory_order_acquire) & audio::kWaveHeaderInQueue) != 0) {
        return;
    }
    closeIdleMonitor(s);
    play.levelIndex = play.levelIndex >= play.queued ? 1 : play.levelIndex + 1;
    measureSlot(play, play.levelIndex - 1);
    if (play.position < play.dataSize) {
        refill(s, *play.buffers[static_cast<std::size_t>(slot)]);
        return;
    }
    // A run dry while two buffers or more were still to play was not the voice's end;
    // the stream's delivery may stall after the last refill as well as before.
    if (stillQueued(play) >= 2) {
        play.underrunsBeforeTheEnd = audio::waveOutUnderruns(play.device);
    }
    if (allQueuedDone(play)) {
        finishPlayback();
    }
}

// An output whose stream failed: the voice's stops (its close notification tells the window
// that playback has ended, as at the end of the voice); the monitor's costs the monitor only.
void outputFailed(audio::WaveOutHandle device, audio::WaveError error) {
    State& s = state();
    if (s.play.playing && device == s.play.device) {
        finishPlayback();
        deferErrorBox("Playback stopped: the voice's stream failed (" + streamFailureText(error) + ").");
        return;
    }
    monitorStreamFailed(device, error);
}

std::int32_t seekTo(std::int32_t seconds) {
    Playback& play = state().play;
    if (!play.playing) {
        return 0;
    }
    audio::waveOutReset(play.device);
    if (play.paused) {
        audio::waveOutPause(play.device);
    }
    // The exact byte rate, on a whole frame, whichever the direction: the voice must land
    // where the song is.
    const std::uint64_t bytesPerSecond =
        static_cast<std::uint64_t>(play.format.blockAlign) * play.format.samplesPerSec;
    const std::uint64_t bytes = static_cast<std::uint64_t>(std::max(seconds, 0)) * bytesPerSecond;
    play.position = bytes - bytes % play.format.blockAlign;
    const std::uint64_t target = play.dataOffset + play.position;
    play.file.seek(std::min<std::uint64_t>(target, play.file.size()));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(target));
}

}  // namespace

void finishPlayback() {
    State& s = state();
    Playback& play = s.play;
    if (!play.playing) {
        return;
    }
    if (debugging()) {
        const std::uint64_t underruns = play.position >= play.dataSize
                                            ? play.underrunsBeforeTheEnd
                                            : audio::waveOutUnderruns(play.device);
        std::fprintf(stderr, "voice: %llu underruns before its end\n",
                     static_cast<unsigned long long>(underruns));
    }
    audio::waveOutReset(play.device);
    play.file.close();
    freeBuffers(play.buffers, play.device, audio::waveOutUnprepareHeader);
    play.allocated = 0;
    play.queued = 0;
    s.echo.reset();
    audio::waveOutClose(play.device);
    play.device = 0;
    play.playing = false;
    play.paused = false;
    clearShift(s);
}

}  // namespace voxcapt::detail

using platform::guarded;
using voxcapt::detail::state;

// Starts playing a wave file on the default output; notifications go to `window`. Window
// thread. 1 when it plays; 0 for an empty path, a stream already playing, or a failure
// (which showed its box).
int32_t AudioPlayFile(uint32_t window, const char* path) {
    return guarded(0, [&] {
        const std::int32_t started = voxcapt::detail::startPlayback(window, path != nullptr ? path : "");
        if (started == 0 && !state().play.playing) {
            // A shift asked for this playback does not wait for the next one.
            voxcapt::detail::clearShift(state());
        }
        return started;
    });
}

// Stops the stream and closes the device (its close notification follows). Window thread.
// Always 0.
int32_t AudioStopPlaying() {
    return guarded(0, [] {
        voxcapt::detail::finishPlayback();
        return 0;
    });
}

// Pauses a running stream or restarts a paused one. Window thread. The device's result
// (0 success), or 0 when nothing plays.
int32_t AudioPause() {
    return guarded(0, [] {
        auto& play = state().play;
        if (!play.playing) {
            return 0;
        }
        audio::WaveError result;
        if (play.paused) {
            result = audio::waveOutRestart(play.device);
            play.paused = false;
        } else {
            result = audio::waveOutPause(play.device);
            play.paused = true;
        }
        return static_cast<int32_t>(result);
    });
}

// The same toggle as AudioPause.
int32_t AudioResume() { return AudioPause(); }

// Moves playback to an absolute time in seconds. Window thread. The new file offset, or 0
// when nothing plays.
int32_t AudioRewind(int32_t seconds) {
    return guarded(0, [&] { return voxcapt::detail::seekTo(seconds); });
}

// Moves playback to an absolute time in seconds. Window thread. The new file offset, or 0
// when nothing plays.
int32_t AudioForward(int32_t seconds) {
    return guarded(0, [&] { return voxcapt::detail::seekTo(seconds); });
}

// The play levels, 0..16 each; 0 and 0 when nothing plays. Window thread. Always 0.
int32_t AudioGetWavePlayLevels(int32_t* left, int32_t* right) {
    return guarded(0, [&] {
        const auto& play = state().play;
        const bool on = play.playing;
        const unsigned bits = play.format.bitsPerSample;
        if (left != nullptr) {
            *left = on ? voxcapt::peakLevel(play.peaks.left, bits) : 0;
        }
        if (right != nullptr) {
            *right = on ? voxcapt::peakLevel(play.peaks.right, bits) : 0;
        }
        return 0;
    });
}

// Nonzero: every buffer is zeroed before it is played, keeping the timing. Any thread of
// the caller's window. Returns the flag.
int32_t AudioPlaySilenceWave(int32_t flag) {
    return guarded(flag, [&] {
        state().silence = flag != 0;
        return flag;
    });
}

// Shifts the voice against the song at the next refill: units > 0 skip that many seconds
// of voice, units <= 0 go back (or start late, with silence). Window thread. Always 0.
int32_t UpdateOffsetForPlayBack(int32_t units) {
    return guarded(0, [&] {
        auto& s = state();
        // Clamped to what 32 bits of bytes can carry (some 13 hours either way).
        const std::int64_t bytes = static_cast<std::int64_t>(units) * voxcapt::detail::kOffsetUnitBytes;
        s.pendingOffset = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(bytes, -0x7FFFFFFFll, 0x7FFFFFFFll));
        s.offsetMode = units > 0 ? 1 : 2;
        return 0;
    });
}

// Moves the voice later (milliseconds > 0: silence, at the next refill) or earlier (< 0:
// that much of it skipped) against the song, on top of any offset; asked before
// AudioPlayFile, from its very start. Window thread. Always 0.
int32_t AudioShiftPlayback(int32_t milliseconds) {
    return guarded(0, [&] {
        auto& s = state();
        voxcapt::detail::clearShift(s);
        s.pendingShiftMicros = static_cast<std::int64_t>(milliseconds) * 1000;
        return 0;
    });
}

// Sets the echo's delay for playback and the monitor; 10 ms or less switches it off.
// Window thread. Returns the delay.
int32_t AudioSetEchoDelay(int32_t milliseconds) {
    return guarded(milliseconds, [&] {
        auto& s = state();
        const auto delay = static_cast<std::uint32_t>(std::max(milliseconds, 0));
        s.echoDelayMs = delay;
        s.playbackEchoDelayMs = delay;
        return milliseconds;
    });
}

// Handles an output notification the window took from its queue: a finished buffer is
// refilled, or the stream finishes at the end of the data; a failed stream stops playback
// (or the recording's monitor). Window thread. Always 0.
int32_t ProcessWavePlayMsg(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return guarded(0, [&] {
        if (message == audio::kWaveOutDoneMessage) {
            voxcapt::detail::bufferDone(reinterpret_cast<const audio::WaveHeader*>(lParam));
        } else if (message == audio::kWaveOutErrorMessage) {
            voxcapt::detail::outputFailed(static_cast<audio::WaveOutHandle>(wParam),
                                          static_cast<audio::WaveError>(lParam));
        }
        voxcapt::detail::showDeferredBoxes();
        return 0;
    });
}

// Whether a file is a wave file the default output can play; opens nothing that stays.
// Window thread. 1 or 0 (0 for an empty path; a damaged file shows its box).
int32_t AudioLoadFile(const char* path) {
    return guarded(0, [&] {
        const std::string name = path != nullptr ? path : "";
        if (name.empty()) {
            return 0;
        }
        platform::FileReader file;
        voxcapt::ParsedWave parsed;
        if (!voxcapt::detail::openWave(name, file, parsed)) {
            return 0;
        }
        return audio::waveOutQuery(audio::kWaveMapper, parsed.format) == audio::WaveError::Ok
                   ? 1
                   : 0;
    });
}

namespace voxcapt {

PlaybackView playbackView() {
    const auto& s = detail::state();
    return {s.play.playing,   s.play.paused,  s.play.position,  s.play.dataSize, s.play.bufferSize,
            s.play.allocated, s.play.queued,  s.pendingOffset, s.offsetMode, s.play.device,
            s.play.underrunsBeforeTheEnd};
}

}  // namespace voxcapt
