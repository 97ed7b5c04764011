#pragma once

// Helpers for tests against a real PulseAudio server (scripts/pulse-server.sh), shared by
// the integration tests and bench/synth:
// - PrivateSink: a null sink of the test's own, made the default for streams this process
//   opens, so tests running side by side never hear each other;
// - PulseRecorder: records a source (a sink's monitor) into memory with each frame's time
//   on platform::clockMicros(), so a test can say when a sound started relative to the
//   message that caused it;
// - onsets: where sounds start in such a recording;
// - putServerBack: the server's volumes, mutes, defaults and modules as it started.
//
// Writing a test that plays or records through the server:
// - judge the sound from the recording (what was heard, how long, in what order), never a
//   latency or a deadline: those are benchmark figures (bench/);
// - wrap the body in testing_support::retryWhileDisturbed (tests/support/SteadyRuns.h)
//   and count what the test's own streams say about the machine: the Feeder's
//   underrunsBeforeTheEnd, audio::waveOutUnderruns of a monitor, audio::waveInOverruns,
//   PulseRecorder::holes, synth::synthesizerUnderruns. A run that failed while something
//   was counted runs again; when every run was disturbed the test skips with the counts;
//   a run that failed with nothing counted fails;
// - wait for the thing itself (a buffer back, a sound in the recording, a line a child
//   printed) with a generous watchdog, never a sleep that races it;
// - put it in tests/integration: that program's tests run one at a time (the ctest
//   resource lock "sound_server"), and each starts and ends with the process's globals and
//   the server as they were (fresh_globals.cpp). A tools test that starts cvktool against
//   the server has a suite name ending in "OnServer", which gets the same lock.

#include <pulse/pulseaudio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <optional>
#include <string>
#include <utility>
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

// A connection of the test's own to the server, for requests answered one at a time.
class ServerRequests {
public:
    ServerRequests() = default;
    ServerRequests(const ServerRequests&) = delete;
    ServerRequests& operator=(const ServerRequests&) = delete;
    ~ServerRequests() { disconnect(); }

    // Fails (with the reason in `error`) when the server cannot be reached in 3 s.
    bool connect(const char* name, std::string& error) {
        if (m_context != nullptr) {
            return true;
        }
        m_mainloop = pa_mainloop_new();
        m_context = pa_context_new(pa_mainloop_get_api(m_mainloop), name);
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error = "cannot connect to the sound server";
            disconnect();
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
                disconnect();
                return false;
            }
            pa_mainloop_iterate(m_mainloop, 0, nullptr);
            pauseMicros(1000);
        }
    }

    void disconnect() {
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

    pa_context* context() const { return m_context; }

    // Runs the mainloop until the operation is done (3 s at most); false when it failed
    // to start or ran out of time.
    bool wait(pa_operation* operation) {
        if (operation == nullptr) {
            return false;
        }
        const std::uint64_t giveUp = platform::clockMicros() + 3'000'000;
        while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING &&
               platform::clockMicros() < giveUp) {
            pa_mainloop_iterate(m_mainloop, 0, nullptr);
            pauseMicros(500);
        }
        const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
        pa_operation_unref(operation);
        return done;
    }

    // Callbacks for requests that answer with a success flag (which only ever clears the
    // caller's bool, so one flag can follow many requests) or an index.
    static void onSuccess(pa_context*, int success, void* user) {
        if (success == 0) {
            *static_cast<bool*>(user) = false;
        }
    }
    static void onIndex(pa_context*, std::uint32_t index, void* user) {
        *static_cast<std::uint32_t*>(user) = index;
    }

private:
    pa_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
};

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
        if (!m_server.connect("cvk-test-sink", error)) {
            return false;
        }
        m_module = PA_INVALID_INDEX;
        if (!m_server.wait(pa_context_load_module(m_server.context(), "module-null-sink", arguments.c_str(),
                                                  &ServerRequests::onIndex, &m_module)) ||
            m_module == PA_INVALID_INDEX) {
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
        if (m_server.context() != nullptr && m_module != PA_INVALID_INDEX) {
            bool unloaded = true;
            m_server.wait(pa_context_unload_module(m_server.context(), m_module, &ServerRequests::onSuccess,
                                                   &unloaded));
            m_module = PA_INVALID_INDEX;
            if (m_previousSink) {
                ::setenv("PULSE_SINK", m_previousSink->c_str(), 1);
            } else {
                ::unsetenv("PULSE_SINK");
            }
        }
        m_server.disconnect();
    }

private:
    ServerRequests m_server;
    std::uint32_t m_module = PA_INVALID_INDEX;
    std::string m_name;
    std::optional<std::string> m_previousSink;
};

// Puts the test server (scripts/pulse-server.sh) back as it started, whatever a test left
// behind: every sink and source at full volume and unmuted, "speakers" and "mic" the
// defaults, and no loopback (the mixer's microphone pass-through) left playing. False,
// with the reason, when the server cannot be reached.
inline bool putServerBack(std::string& error) {
    ServerRequests server;
    if (!server.connect("cvk-test-reset", error)) {
        return false;
    }
    struct Listed {
        std::vector<std::pair<std::string, std::uint8_t>> sinks;  // name, channels
        std::vector<std::pair<std::string, std::uint8_t>> sources;
        std::vector<std::uint32_t> loopbacks;
    } listed;
    pa_context* context = server.context();
    bool ok = server.wait(pa_context_get_sink_info_list(
        context,
        [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            if (eol == 0 && info != nullptr) {
                static_cast<Listed*>(user)->sinks.emplace_back(info->name, info->channel_map.channels);
            }
        },
        &listed));
    ok = ok && server.wait(pa_context_get_source_info_list(
                   context,
                   [](pa_context*, const pa_source_info* info, int eol, void* user) {
                       if (eol == 0 && info != nullptr) {
                           static_cast<Listed*>(user)->sources.emplace_back(info->name, info->channel_map.channels);
                       }
                   },
                   &listed));
    ok = ok && server.wait(pa_context_get_module_info_list(
                   context,
                   [](pa_context*, const pa_module_info* info, int eol, void* user) {
                       if (eol == 0 && info != nullptr && std::string(info->name) == "module-loopback") {
                           static_cast<Listed*>(user)->loopbacks.push_back(info->index);
                       }
                   },
                   &listed));
    bool answered = true;
    for (const auto& [name, channels] : listed.sinks) {
        pa_cvolume full;
        pa_cvolume_reset(&full, channels);
        ok = ok && server.wait(pa_context_set_sink_volume_by_name(context, name.c_str(), &full,
                                                                  &ServerRequests::onSuccess, &answered));
        ok = ok && server.wait(pa_context_set_sink_mute_by_name(context, name.c_str(), 0,
                                                                &ServerRequests::onSuccess, &answered));
    }
    for (const auto& [name, channels] : listed.sources) {
        pa_cvolume full;
        pa_cvolume_reset(&full, channels);
        ok = ok && server.wait(pa_context_set_source_volume_by_name(context, name.c_str(), &full,
                                                                    &ServerRequests::onSuccess, &answered));
        ok = ok && server.wait(pa_context_set_source_mute_by_name(context, name.c_str(), 0,
                                                                  &ServerRequests::onSuccess, &answered));
    }
    for (const std::uint32_t module : listed.loopbacks) {
        ok = ok && server.wait(pa_context_unload_module(context, module, &ServerRequests::onSuccess, &answered));
    }
    ok = ok && server.wait(pa_context_set_default_sink(context, "speakers", &ServerRequests::onSuccess, &answered));
    ok = ok && server.wait(pa_context_set_default_source(context, "mic", &ServerRequests::onSuccess, &answered));
    if (!ok || !answered) {
        error = "the sound server refused to be put back as it started";
    }
    return ok && answered;
}

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

    // Stretches the server could not hand over (holes in the stream, recorded as silence):
    // a machine too busy for the recording to be judged.
    std::uint64_t holes() const { return m_holes.load(std::memory_order_acquire); }

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
        } else {
            m_holes.fetch_add(1, std::memory_order_release);
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
    std::atomic<std::uint64_t> m_holes{0};        // counted by the mainloop thread
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

// Amplitude of `frequency` in frames [first, last) of a signal at `rate` (a single-bin
// Fourier sum), on the samples' own scale; `sampleAt(i)` gives frame i.
template <typename SampleAt>
double amplitudeOf(SampleAt sampleAt, std::size_t first, std::size_t last, double frequency, double rate) {
    double re = 0;
    double im = 0;
    for (std::size_t i = first; i < last; ++i) {
        const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
        const double sample = static_cast<double>(sampleAt(i));
        re += sample * std::cos(phase);
        im += sample * std::sin(phase);
    }
    return 2 * std::hypot(re, im) / static_cast<double>(last - first);
}

template <typename Sample>
double amplitudeAt(const std::vector<Sample>& samples, std::size_t first, std::size_t last, double frequency,
                   double rate) {
    return amplitudeOf([&samples](std::size_t i) { return samples[i]; }, first, last, frequency, rate);
}

// Full scale 1.
inline double amplitudeAt(const PulseRecorder& recording, std::size_t first, std::size_t last, double frequency) {
    return amplitudeOf([&recording](std::size_t i) { return recording.sample(i); }, first, last, frequency,
                       PulseRecorder::kRate);
}

}  // namespace cvktest
