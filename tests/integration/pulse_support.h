#pragma once

// Helpers for tests against a real PulseAudio server (scripts/pulse-server.sh), shared by
// the integration tests and bench/synth:
// - PrivateSink: a null sink of the test's own, made the default for streams this process
//   opens, so tests running side by side never hear each other;
// - PulseRecorder: records a source (a sink's monitor) into memory with each frame's time
//   on platform::clockMicros(), so a test can say when a sound started relative to the
//   message that caused it;
// - onsets: where sounds start in such a recording.

#include <pulse/pulseaudio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/mm_timer.h"

namespace cvktest {

// What a shell command prints on its standard output (for pactl).
inline std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        ::pclose(pipe);
    }
    return output;
}

inline void pauseMicros(long micros) {
    timespec pause{0, micros * 1000};
    nanosleep(&pause, nullptr);
}

class PrivateSink {
public:
    PrivateSink() = default;
    PrivateSink(const PrivateSink&) = delete;
    PrivateSink& operator=(const PrivateSink&) = delete;
    ~PrivateSink() { remove(); }

    // Loads the sink and points PULSE_SINK at it. Fails when the server cannot be reached.
    bool create(std::string& error) {
        static int serial = 0;
        m_name = "cvktest_" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
        const std::string arguments =
            "sink_name=" + m_name + " rate=44100 channels=2 format=float32le norewinds=1";
        if (!connect(error)) {
            return false;
        }
        m_module = PA_INVALID_INDEX;
        m_done = false;
        pa_operation* operation = pa_context_load_module(
            m_context, "module-null-sink", arguments.c_str(),
            [](pa_context*, std::uint32_t index, void* user) {
                auto* self = static_cast<PrivateSink*>(user);
                self->m_module = index;
                self->m_done = true;
            },
            this);
        if (!run(operation) || m_module == PA_INVALID_INDEX) {
            error = "cannot load a null sink on the sound server";
            return false;
        }
        const char* previous = std::getenv("PULSE_SINK");
        m_previousSink = previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
        ::setenv("PULSE_SINK", m_name.c_str(), 1);
        return true;
    }

    std::string monitor() const { return m_name + ".monitor"; }

    void remove() {
        if (m_context != nullptr && m_module != PA_INVALID_INDEX) {
            m_done = false;
            run(pa_context_unload_module(
                m_context, m_module,
                [](pa_context*, int, void* user) { static_cast<PrivateSink*>(user)->m_done = true; },
                this));
            m_module = PA_INVALID_INDEX;
            if (m_previousSink) {
                ::setenv("PULSE_SINK", m_previousSink->c_str(), 1);
            } else {
                ::unsetenv("PULSE_SINK");
            }
        }
        if (m_context != nullptr) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
        if (m_mainloop != nullptr) {
            pa_mainloop_free(m_mainloop);
            m_mainloop = nullptr;
        }
    }

private:
    bool connect(std::string& error) {
        m_mainloop = pa_mainloop_new();
        m_context = pa_context_new(pa_mainloop_get_api(m_mainloop), "cvk-test-sink");
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error = "cannot connect to the sound server";
            return false;
        }
        const std::uint64_t giveUp = platform::clockMicros() + 3'000'000;
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(m_context);
            if (state == PA_CONTEXT_READY) {
                return true;
            }
            if (!PA_CONTEXT_IS_GOOD(state) || platform::clockMicros() > giveUp) {
                error = "the sound server did not answer";
                return false;
            }
            pa_mainloop_iterate(m_mainloop, 0, nullptr);
            pauseMicros(1000);
        }
    }

    // Runs the mainloop until the operation's callback sets m_done (3 s at most).
    bool run(pa_operation* operation) {
        if (operation == nullptr) {
            return false;
        }
        const std::uint64_t giveUp = platform::clockMicros() + 3'000'000;
        while (!m_done && platform::clockMicros() < giveUp) {
            pa_mainloop_iterate(m_mainloop, 0, nullptr);
            pauseMicros(1000);
        }
        pa_operation_unref(operation);
        return m_done;
    }

    pa_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    std::uint32_t m_module = PA_INVALID_INDEX;
    bool m_done = false;
    std::string m_name;
    std::optional<std::string> m_previousSink;
};

class PulseRecorder {
public:
    static constexpr std::uint32_t kRate = 44100;

    PulseRecorder() = default;
    PulseRecorder(const PulseRecorder&) = delete;
    PulseRecorder& operator=(const PulseRecorder&) = delete;
    ~PulseRecorder() { stop(); }

    // Starts recording `source` as mono float; keeps at most `seconds` of sound.
    // Fails (with the reason in `error`) when the server cannot be reached in 3 s.
    bool start(const char* source, double seconds, std::string& error) {
        m_samples.assign(static_cast<std::size_t>(seconds * kRate), 0.0f);
        m_mainloop = pa_threaded_mainloop_new();
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_mainloop), "cvk-test-recorder");
        if (m_context == nullptr ||
            pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(m_mainloop) < 0) {
            error = "cannot connect to the sound server";
            return false;
        }
        pa_threaded_mainloop_lock(m_mainloop);
        const bool ready = waitUntil([this] {
            return !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)) ||
                   pa_context_get_state(m_context) == PA_CONTEXT_READY;
        }) && pa_context_get_state(m_context) == PA_CONTEXT_READY;
        if (!ready) {
            pa_threaded_mainloop_unlock(m_mainloop);
            error = "the sound server did not answer";
            return false;
        }
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, 1};
        m_stream = pa_stream_new(m_context, "cvk test recording", &spec, nullptr);
        pa_stream_set_read_callback(m_stream, &PulseRecorder::onRead, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(5000, &spec));
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
        bool streaming = pa_stream_connect_record(m_stream, source, &attr, flags) == 0;
        streaming = streaming && waitUntil([this] {
                        return !PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)) ||
                               pa_stream_get_state(m_stream) == PA_STREAM_READY;
                    }) && pa_stream_get_state(m_stream) == PA_STREAM_READY;
        pa_threaded_mainloop_unlock(m_mainloop);
        if (!streaming) {
            error = std::string("cannot record from ") + source;
        }
        return streaming;
    }

    void stop() {
        if (m_mainloop == nullptr) {
            return;
        }
        if (m_stream != nullptr) {
            pa_threaded_mainloop_lock(m_mainloop);
            pa_stream_disconnect(m_stream);
            pa_threaded_mainloop_unlock(m_mainloop);
        }
        pa_threaded_mainloop_stop(m_mainloop);
        if (m_stream != nullptr) {
            pa_stream_unref(m_stream);
            m_stream = nullptr;
        }
        if (m_context != nullptr) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
        pa_threaded_mainloop_free(m_mainloop);
        m_mainloop = nullptr;
    }

    // Frames recorded so far; samples [0, frames()) may be read while recording goes on.
    std::size_t frames() const { return m_frames.load(std::memory_order_acquire); }
    float sample(std::size_t frame) const { return m_samples[frame]; }

    // Clock time of a frame: the earliest "arrival minus n frames" seen over all reads.
    // A sink hands its monitor each block as it mixes it, so this is right to within a
    // block (a few ms, earlier rather than later); the offset is the same for every frame,
    // so the time between two frames is exact.
    std::uint64_t frameMicros(std::size_t frame) const {
        return m_startMicros.load(std::memory_order_acquire) + frame * 1'000'000ull / kRate;
    }
    std::size_t frameAt(std::uint64_t micros) const {
        const std::uint64_t start = m_startMicros.load(std::memory_order_acquire);
        return micros <= start ? 0 : static_cast<std::size_t>((micros - start) * kRate / 1'000'000);
    }

    // Loudest sample in [first, last).
    float peak(std::size_t first, std::size_t last) const {
        float loudest = 0.0f;
        for (std::size_t i = first; i < std::min(last, frames()); ++i) {
            loudest = std::max(loudest, std::fabs(m_samples[i]));
        }
        return loudest;
    }

    // First frame in [first, last) louder than `threshold`.
    std::optional<std::size_t> onset(std::size_t first, std::size_t last, float threshold) const {
        for (std::size_t i = first; i < std::min(last, frames()); ++i) {
            if (std::fabs(m_samples[i]) > threshold) {
                return i;
            }
        }
        return std::nullopt;
    }

    // Waits until the recording reaches `untilMicros` on the clock.
    bool waitForSound(std::uint64_t untilMicros, std::uint64_t timeoutMicros) const {
        const std::uint64_t giveUp = platform::clockMicros() + timeoutMicros;
        while (frames() == 0 || frameMicros(frames()) < untilMicros) {
            if (platform::clockMicros() > giveUp) {
                return false;
            }
            pauseMicros(2000);
        }
        return true;
    }

private:
    template <typename Done>
    bool waitUntil(Done done) {
        const std::uint64_t giveUp = platform::clockMicros() + 3'000'000;
        while (!done()) {
            if (platform::clockMicros() > giveUp) {
                return false;
            }
            pa_threaded_mainloop_unlock(m_mainloop);
            pauseMicros(5000);
            pa_threaded_mainloop_lock(m_mainloop);
        }
        return true;
    }

    static void onRead(pa_stream* stream, std::size_t, void* user) {
        auto* self = static_cast<PulseRecorder*>(user);
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 &&
               bytes > 0) {
            self->append(static_cast<const float*>(data), bytes / sizeof(float));
            pa_stream_drop(stream);
        }
    }

    // A hole in the stream (data == nullptr) is silence of that length.
    void append(const float* data, std::size_t count) {
        const std::size_t have = m_frames.load(std::memory_order_relaxed);
        const std::size_t take = std::min(count, m_samples.size() - have);
        if (data != nullptr) {
            std::copy(data, data + take, m_samples.begin() + static_cast<std::ptrdiff_t>(have));
        }
        const std::uint64_t arrived =
            platform::clockMicros() - (have + count) * 1'000'000ull / kRate;
        if (have == 0 || arrived < m_startMicros.load(std::memory_order_relaxed)) {
            m_startMicros.store(arrived, std::memory_order_release);
        }
        m_frames.store(have + take, std::memory_order_release);
    }

    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    std::vector<float> m_samples;                // written by the mainloop thread
    std::atomic<std::size_t> m_frames{0};        // published by the mainloop thread
    std::atomic<std::uint64_t> m_startMicros{0};  // clock time of frame 0, refined per read
};

// Frames from `first` on where the sound rises above `threshold` after at least
// `quietFrames` below it; the first needs no quiet before it.
inline std::vector<std::size_t> onsets(const PulseRecorder& recording, std::size_t first,
                                       float threshold, std::size_t quietFrames) {
    std::vector<std::size_t> found;
    std::size_t quiet = quietFrames;
    for (std::size_t i = first; i < recording.frames(); ++i) {
        if (std::fabs(recording.sample(i)) > threshold) {
            if (quiet >= quietFrames) {
                found.push_back(i);
            }
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

}  // namespace cvktest
