#pragma once

// Helpers for driving the wave library against the test server (scripts/pulse-server.sh),
// shared by the voice integration tests and bench/wave:
// - VoiceHost: the program's window for the library, handing each wave notification back
//   to it, and pumping a Feeder beside it on the same thread;
// - Feeder: plays a signal into an output device (the "Microphone" sink, as a singer into
//   a microphone, or the speakers) as the player does;
// - clicks, and where they are in a recording of a sink's monitor.
//
// A test judging what it heard wraps its body in testing_support::retryWhileDisturbed
// (tests/support/SteadyRuns.h; see pulse_support.h for the rules) and counts what these
// say about the machine: Feeder::underrunsBeforeTheEnd (give the signal a tail of silence
// of two buffers or more, so that a run dry anywhere in the sound is counted),
// voxcapt::playbackView().underrunsBeforeTheEnd for the library's voice, and for a
// recording audio::waveInOverruns(recordingView().inputDevice) and
// audio::waveOutUnderruns(recordingView().monitorDevice), read before the take stops.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/wave_out.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"
#include "pulse_support.h"
#include "voxcapt/voxcapt.h"

namespace cvktest {

constexpr std::uint32_t kVoiceRate = 22050;

inline audio::WaveFormat voiceFormat() { return {}; }  // 22050 Hz, 16-bit, mono

// The output device with this name, or nothing.
inline std::optional<std::int32_t> outputNamed(const std::string& name) {
    for (std::uint32_t i = 0; i < audio::waveOutDeviceCount(); ++i) {
        if (audio::waveOutDeviceName(i) == name) {
            return static_cast<std::int32_t>(i);
        }
    }
    return std::nullopt;
}

// Plays samples into an output device as the player does: a few buffers, the whole queue
// in before the device runs, each buffer refilled when its done notification comes back.
// The notifications go to a window of the feeder's own, pumped by handle(), or to the
// caller's window, whose messages the caller hands to take().
class Feeder {
public:
    static constexpr std::uint32_t kBufferBytes = 2048;
    static constexpr int kBuffers = 16;  // 740 ms queued: the test thread may stall on a busy machine

    explicit Feeder(std::vector<std::int16_t> samples, platform::MessageQueue* window = nullptr,
                    std::uint32_t bufferBytes = kBufferBytes, int buffers = kBuffers)
        : m_ownWindow(window != nullptr ? nullptr : std::make_unique<platform::MessageQueue>()),
          m_window(window != nullptr ? *window : *m_ownWindow),
          m_samples(std::move(samples)),
          m_bufferBytes(bufferBytes),
          m_buffers(buffers) {}
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;
    ~Feeder() { close(); }

    bool open(std::int32_t device) {
        if (audio::waveOutOpen(&m_out, device, voiceFormat(), m_window.handle()) !=
            audio::WaveError::Ok) {
            m_out = 0;
            return false;
        }
        for (int i = 0; i < m_buffers; ++i) {
            auto slot = std::make_unique<Slot>(m_bufferBytes);
            audio::waveOutPrepareHeader(m_out, &slot->header);
            m_slots.push_back(std::move(slot));
        }
        audio::waveOutPause(m_out);
        for (auto& slot : m_slots) {
            refill(slot->header);
        }
        audio::waveOutRestart(m_out);
        return true;
    }

    audio::WaveOutHandle device() const { return m_out; }
    int fd() const { return m_window.notifyFd(); }

    // A notification from the caller's window: true when it was this feeder's done, and
    // the buffer has been refilled.
    bool take(const platform::Message& m) {
        if (m.message != audio::kWaveOutDoneMessage || m.wParam != m_out) {
            return false;
        }
        --m_queued;
        if (m_queued >= 2) {
            m_underrunsBeforeTheEnd = underruns();
        }
        refill(*reinterpret_cast<audio::WaveHeader*>(m.lParam));
        return true;
    }

    // Refills whatever came back to the feeder's own window.
    void handle() {
        platform::Message m;
        while (m_window.peek(m)) {
            take(m);
        }
    }

    bool finished() const { return m_out != 0 && m_queued == 0; }
    // Whether the device took every buffer it was given.
    bool wroteAll() const { return m_refused == 0; }
    std::uint64_t underruns() const { return m_out != 0 ? audio::waveOutUnderruns(m_out) : 0; }
    // The server runs dry once at the end of the signal; this counts the times it did
    // while two buffers or more were still to play (the stream's delivery may stall after
    // the last bytes were handed over as well as before).
    std::uint64_t underrunsBeforeTheEnd() const { return m_underrunsBeforeTheEnd; }

    // The device's answer to being closed (Ok when it was never open).
    audio::WaveError close() {
        if (m_out == 0) {
            return audio::WaveError::Ok;
        }
        audio::waveOutReset(m_out);
        for (auto& slot : m_slots) {
            audio::waveOutUnprepareHeader(m_out, &slot->header);
        }
        const audio::WaveError closed = audio::waveOutClose(m_out);
        m_out = 0;
        return closed;
    }

private:
    struct Slot {
        explicit Slot(std::uint32_t bytes) : data(bytes) {
            header.lpData = data.data();
            header.dwBufferLength = bytes;
        }
        std::vector<char> data;
        audio::WaveHeader header;
    };

    void refill(audio::WaveHeader& header) {
        const std::size_t left = (m_samples.size() - m_position) * 2;
        if (left == 0) {
            return;
        }
        header.dwBufferLength = static_cast<std::uint32_t>(std::min<std::size_t>(left, m_bufferBytes));
        std::memcpy(header.lpData, m_samples.data() + m_position, header.dwBufferLength);
        m_position += header.dwBufferLength / 2;
        if (audio::waveOutWrite(m_out, &header) == audio::WaveError::Ok) {
            ++m_queued;
        } else {
            ++m_refused;
        }
        if (m_position == m_samples.size()) {
            m_underrunsBeforeTheEnd = underruns();
        }
    }

    std::unique_ptr<platform::MessageQueue> m_ownWindow;  // when no window was given
    platform::MessageQueue& m_window;
    std::vector<std::int16_t> m_samples;
    const std::uint32_t m_bufferBytes;
    const int m_buffers;
    std::size_t m_position = 0;
    int m_queued = 0;
    int m_refused = 0;
    std::uint64_t m_underrunsBeforeTheEnd = 0;
    audio::WaveOutHandle m_out = 0;
    std::vector<std::unique_ptr<Slot>> m_slots;
};

class VoiceHost {
public:
    platform::MessageQueue window;
    std::vector<std::uint32_t> messages;  // every wave notification taken, in order
    std::uint64_t closeMicros = 0;        // when the last output close notification was taken

    // Takes notifications until `done` or `seconds` have passed, the library's and, when
    // given, the feeder's. False when time ran out.
    bool pumpUntil(const std::function<bool()>& done, double seconds, Feeder* feeder = nullptr) {
        const std::uint64_t giveUp = platform::clockMicros() + static_cast<std::uint64_t>(seconds * 1e6);
        while (!done()) {
            const std::uint64_t now = platform::clockMicros();
            if (now >= giveUp) {
                return false;
            }
            pollfd fds[2] = {{window.notifyFd(), POLLIN, 0}, {feeder != nullptr ? feeder->fd() : -1, POLLIN, 0}};
            if (::poll(fds, 2, static_cast<int>(std::min<std::uint64_t>((giveUp - now) / 1000 + 1, 20))) > 0) {
                // A queue's descriptor stays readable until it is read: cleared before the
                // queue is emptied, so a message posted meanwhile wakes the next poll.
                for (const pollfd& fd : fds) {
                    if ((fd.revents & POLLIN) != 0) {
                        std::uint64_t count = 0;
                        [[maybe_unused]] const auto got = ::read(fd.fd, &count, sizeof count);
                    }
                }
            }
            takeAll();
            if (feeder != nullptr) {
                feeder->handle();
            }
        }
        return true;
    }

    void pumpFor(double seconds, Feeder* feeder = nullptr) {
        pumpUntil([] { return false; }, seconds, feeder);
    }

private:
    void takeAll() {
        platform::Message m;
        while (window.peek(m)) {
            messages.push_back(m.message);
            if (m.message == audio::kWaveOutCloseMessage) {
                closeMicros = platform::clockMicros();
            }
            if ((m.message >= audio::kWaveOutOpenMessage && m.message <= audio::kWaveOutDoneMessage) ||
                m.message == audio::kWaveOutErrorMessage) {
                ProcessWavePlayMsg(m.message, m.wParam, m.lParam);
            } else if ((m.message >= audio::kWaveInOpenMessage && m.message <= audio::kWaveInDataMessage) ||
                       m.message == audio::kWaveInErrorMessage) {
                ProcessWaveRecMsg(m.message, m.wParam, m.lParam);
            }
        }
    }
};

// A click: 2 ms of a 2 kHz tone under a Hann window, sharp enough to time to a frame and
// smooth enough to pass the server's resampling unchanged in shape.
inline std::vector<std::int16_t> click(double amplitude = 24000) {
    constexpr int kFrames = 48;
    std::vector<std::int16_t> samples(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2 * M_PI * i / (kFrames - 1));
        samples[static_cast<std::size_t>(i)] =
            static_cast<std::int16_t>(amplitude * window * std::sin(2 * M_PI * 2000.0 * i / kVoiceRate));
    }
    return samples;
}

// `seconds` of silence with a click at each of `at` (frames at the voice rate).
inline std::vector<std::int16_t> clickTrack(double seconds, const std::vector<std::size_t>& at) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kVoiceRate), 0);
    const std::vector<std::int16_t> one = click();
    for (std::size_t start : at) {
        for (std::size_t i = 0; i < one.size() && start + i < samples.size(); ++i) {
            samples[start + i] = one[i];
        }
    }
    return samples;
}

// The sound, `silence` frames of nothing, and a click that ends it. A test of how a stream
// ends listens for the click: running dry at the very end is how every stream ends, and a
// run dry counted while two buffers or more were still to play (the feeder's and the
// voice's underrunsBeforeTheEnd) then covers all of the sound, when `silence` spans two
// buffers.
inline std::vector<std::int16_t> endingInAClick(std::vector<std::int16_t> sound, std::size_t silence) {
    sound.resize(sound.size() + silence, 0);
    const std::vector<std::int16_t> last = click();
    sound.insert(sound.end(), last.begin(), last.end());
    return sound;
}

// The frame of the loudest sample in [first, last).
inline std::size_t loudestFrame(const PulseRecorder& recording, std::size_t first, std::size_t last) {
    std::size_t best = first;
    for (std::size_t i = first; i < std::min(last, recording.frames()); ++i) {
        if (std::fabs(recording.sample(i)) > std::fabs(recording.sample(best))) {
            best = i;
        }
    }
    return best;
}

// The lag in [minLag, maxLag] at which the recording best matches the stretch
// [from, from + length) of itself: where a copy of that stretch (an echo) sits.
inline std::size_t bestLag(const PulseRecorder& recording, std::size_t from, std::size_t length,
                           std::size_t minLag, std::size_t maxLag) {
    std::size_t best = minLag;
    double bestSum = -1e300;
    for (std::size_t lag = minLag; lag <= maxLag; ++lag) {
        if (from + lag + length > recording.frames()) {
            break;
        }
        double sum = 0;
        for (std::size_t i = 0; i < length; ++i) {
            sum += static_cast<double>(recording.sample(from + i)) * recording.sample(from + lag + i);
        }
        if (sum > bestSum) {
            bestSum = sum;
            best = lag;
        }
    }
    return best;
}

}  // namespace cvktest
