// The built-in synthesizer: FluidSynth with the system's General MIDI SoundFont, rendered
// inside the write callback of a PulseAudio playback stream.
//
// Timing. Messages arrive from the 1 ms timer thread; calling the synthesizer there loses
// notes, and applying them at the start of the next rendered block would quantise them to
// the stream's request size (10 ms and more). Instead each message is stamped with the
// clock when it is sent and applied at the frame that plays one fixed latency later.
// A write request anchors the two clocks: "a message sent now belongs at frame A, a little
// after the end of this request"; a message sent at t then belongs at A + (t - now) * rate.
// The server never asks for more than tlength ahead of what it has played, so the latency
// is at most tlength plus that little (the headroom), and every message is queued before
// the block holding its frame is rendered. followClock keeps the anchor true to the sound
// card's clock. What is left is FluidSynth's own 64-frame event granularity: notes sound
// at a constant delay, within 1.45 ms, after they were sent.

#include <fluidsynth.h>
#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lockfree_queue.h"
#include "midi_backend.h"
#include "platform/mm_timer.h"
#include "platform/soundfont.h"

namespace platform::detail {

const char* const kSynthesizerName = "Built-in Synthesizer";

namespace {

constexpr std::uint32_t kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr int kPolyphony = 256;
constexpr std::uint64_t kTargetLengthMicros = 40'000;
constexpr std::uint64_t kMinRequestMicros = 10'000;
// Headroom: how far after the end of the block being rendered a message sent right now
// lands. An anchor sets it to kHeadroomMicros; below kMinHeadroomMicros (the server asked
// earlier than before, or the card runs fast) messages could miss their block, so we
// anchor again. The gap between the two keeps request jitter from moving the anchor
// every time; repeated moves settle it just above the largest jitter.
constexpr std::int64_t kHeadroomMicros = 4'000;
constexpr std::int64_t kMinHeadroomMicros = 500;
// Headroom above kHeadroomMicros + kSlackMicros for kSlackRequests requests in a row: the
// server played silence in between (a stall), or the card runs slow, or the stream's
// first requests were larger than the rest. Every note would sound that much later than
// needed, so anchor again. A single large reading is only our thread woken late.
constexpr std::int64_t kSlackMicros = 10'000;
constexpr int kSlackRequests = 8;
constexpr std::uint64_t kConnectTimeoutMicros = 3'000'000;
// Rendered into nowhere at close, for the effects' tails to die away (below -100 dB).
constexpr int kFlushFrames = kSampleRate / 2;
// Messages in flight between their senders and the next write request. A song's densest
// moments send a few hundred per block; a pause or stop silences up to a few thousand
// notes at once. The timer thread never waits: a full queue there drops (and counts);
// other threads wait for the next block to make room.
constexpr std::size_t kQueueCapacity = 16384;
// How long a sender other than the timer thread waits for room before it gives up on a
// stalled stream (and counts the message as dropped).
constexpr std::uint64_t kSenderPatienceMicros = 1'000'000;

std::atomic<bool> g_debug{false};

void fluidLog(int level, const char* message, void*) {
    if (g_debug.load(std::memory_order_relaxed)) {
        std::fprintf(stderr, "synth: fluidsynth (%d): %s\n", level, message);
    }
}

// One FluidSynth instance with its SoundFont loaded, shared across opens: loading a GM
// SoundFont takes about a second, and the sequencer opens the device for a probe at
// start-up and again for every song. Whoever holds the last reference (the process-wide
// cache or a backend still open at exit) frees it.
class SynthEngine {
public:
    ~SynthEngine() {
        if (m_synth != nullptr) {
            delete_fluid_synth(m_synth);
        }
        if (m_settings != nullptr) {
            delete_fluid_settings(m_settings);
        }
    }

    static std::shared_ptr<SynthEngine> load(const std::string& path) {
        auto engine = std::make_shared<SynthEngine>();
        engine->m_path = path;
        engine->m_settings = new_fluid_settings();
        if (engine->m_settings == nullptr) {
            return nullptr;
        }
        fluid_settings_t* settings = engine->m_settings;
        fluid_settings_setnum(settings, "synth.sample-rate", kSampleRate);
        fluid_settings_setint(settings, "synth.polyphony", kPolyphony);
        fluid_settings_setint(settings, "synth.cpu-cores", 1);
        // Only the stream's callback drives the synthesizer while it is open, and open and
        // close hand it over with the mainloop stopped: the API mutex would be pure cost
        // in the callback.
        fluid_settings_setint(settings, "synth.threadsafe-api", 0);
        // Pinning 140 MB of samples is not worth failing over on a desktop.
        fluid_settings_setint(settings, "synth.lock-memory", 0);
        engine->m_synth = new_fluid_synth(settings);
        if (engine->m_synth == nullptr) {
            return nullptr;
        }
        if (fluid_synth_sfload(engine->m_synth, path.c_str(), 1) == FLUID_FAILED) {
            return nullptr;
        }
        return engine;
    }

    fluid_synth_t* synth() const { return m_synth; }

    // Controllers and programs back to their defaults, every voice cut, and the reverb and
    // chorus tails run out (a system reset alone lets voices ring on in their release, and
    // FluidSynth applies changes only from its next 64-frame block). Not for the render
    // thread: it allocates.
    void silence() noexcept {
        fluid_synth_system_reset(m_synth);
        fluid_synth_all_sounds_off(m_synth, -1);
        try {
            std::vector<float> scratch(kFlushFrames * kChannels);
            fluid_synth_write_float(m_synth, kFlushFrames, scratch.data(), 0, kChannels,
                                    scratch.data(), 1, kChannels);
        } catch (...) {
            // Out of memory: the tails will play at the next open, nothing worse.
        }
    }
    const std::string& path() const { return m_path; }

    // One open device at a time drives the synthesizer.
    bool acquire() { return !m_inUse.exchange(true, std::memory_order_acq_rel); }
    void release() { m_inUse.store(false, std::memory_order_release); }

private:
    fluid_settings_t* m_settings = nullptr;
    fluid_synth_t* m_synth = nullptr;
    std::string m_path;
    std::atomic<bool> m_inUse{false};
};

struct EngineCache {
    std::mutex mutex;  // open calls only
    std::shared_ptr<SynthEngine> engine;
};

EngineCache& engineCache() {
    static EngineCache cache;
    return cache;
}

void quietFluidSynth() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* debug = std::getenv("CVK_DEBUG");
        g_debug.store(debug != nullptr && *debug != '\0');
        for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level) {
            fluid_set_log_function(level, fluidLog, nullptr);
        }
    });
}

std::uint64_t monotonicMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

void pauseBriefly() {
    const timespec pause{0, 200'000};
    nanosleep(&pause, nullptr);
}

struct TimedMessage {
    std::uint32_t message = 0;
    std::uint64_t sentMicros = 0;
};

std::int64_t framesFromMicros(std::int64_t micros) {
    // Floor, so a message never lands a frame later than its time.
    const std::int64_t scaled = micros * static_cast<std::int64_t>(kSampleRate);
    return scaled >= 0 ? scaled / 1'000'000 : -((-scaled + 999'999) / 1'000'000);
}

void applyMessage(fluid_synth_t* synth, std::uint32_t message) {
    const int status = static_cast<int>(message & 0xFF);
    const int channel = status & 0x0F;
    const int data1 = static_cast<int>((message >> 8) & 0x7F);
    const int data2 = static_cast<int>((message >> 16) & 0x7F);
    switch (status & 0xF0) {
        case 0x80:
            fluid_synth_noteoff(synth, channel, data1);
            break;
        case 0x90:
            if (data2 == 0) {
                fluid_synth_noteoff(synth, channel, data1);
            } else {
                fluid_synth_noteon(synth, channel, data1, data2);
            }
            break;
        case 0xA0:
            fluid_synth_key_pressure(synth, channel, data1, data2);
            break;
        case 0xB0:
            // FluidSynth treats 120 (all sound off), 121 (reset controllers) and 123 (all
            // notes off) as the channel mode messages they are.
            fluid_synth_cc(synth, channel, data1, data2);
            break;
        case 0xC0:
            fluid_synth_program_change(synth, channel, data1);
            break;
        case 0xD0:
            fluid_synth_channel_pressure(synth, channel, data1);
            break;
        case 0xE0:
            fluid_synth_pitch_bend(synth, channel, data1 | (data2 << 7));
            break;
        default:
            break;  // system messages and stray data bytes mean nothing to a GM synthesizer
    }
}

class SynthBackend final : public MidiOutBackend {
public:
    explicit SynthBackend(bool timed) : m_timed(timed) {}

    ~SynthBackend() override {
        disconnect();
        if (g_debug.load() && m_timed) {
            std::fprintf(stderr, "synth: closed after %u anchors\n", m_anchors.load());
        }
        // The stream is gone and its thread joined: hand the synthesizer back as the next
        // open expects it, silent and with its channels at their defaults.
        if (m_engine != nullptr) {
            m_engine->silence();
            m_engine->release();
        }
    }

    SynthBackend(const SynthBackend&) = delete;
    SynthBackend& operator=(const SynthBackend&) = delete;

    // Connecting is cheap and fails fast without a server, so it comes before the
    // SoundFont is loaded; the stream, which renders at once, after.
    MidiError connectServer();
    // Takes over an engine acquired for this device.
    void attach(std::shared_ptr<SynthEngine> engine) { m_engine = std::move(engine); }
    MidiError startStream();

    void shortMessage(std::uint32_t message) noexcept override {
        const TimedMessage timed{message, clockMicros()};
        if (m_queue.push(timed)) {
            m_queued.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        if (!onTimerThread()) {
            // The render thread empties the queue at every write request, a few ms apart.
            const std::uint64_t giveUp = monotonicMicros() + kSenderPatienceMicros;
            while (monotonicMicros() < giveUp) {
                pauseBriefly();
                if (m_queue.push(timed)) {
                    m_queued.fetch_add(1, std::memory_order_relaxed);
                    return;
                }
            }
        }
        m_dropped.fetch_add(1, std::memory_order_relaxed);
    }

    std::uint64_t dropped() const noexcept override { return m_dropped.load(); }

    // Waits until every message queued so far has reached the synthesizer, then reads the
    // state of its channels. Tests only.
    bool readChannels(std::array<SynthChannelState, 16>& out);

    void reset() override {
        for (std::uint32_t channel = 0; channel < 16; ++channel) {
            shortMessage(0xB0 | channel | (64u << 8));   // sustain off first, or the
            shortMessage(0xB0 | channel | (123u << 8));  // notes off only sustain them
        }
    }

private:
    static void onContextState(pa_context* context, void* user);
    static void onStreamState(pa_stream* stream, void* user);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* user);
    static void onUnderflow(pa_stream* stream, void* user);
    static void onTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval* tv,
                          void* user);

    bool waitFor(const std::atomic<bool>& done);
    void disconnect();
    void write(std::size_t bytes);
    void anchor(std::uint64_t nowMicros, std::int64_t requestFrames);
    void followClock(std::uint64_t nowMicros, std::int64_t requestFrames);
    void render(float* out, std::int64_t frames);
    void synthesize(float* out, std::int64_t frames);

    std::shared_ptr<SynthEngine> m_engine;
    const bool m_timed;
    BoundedQueue<TimedMessage, kQueueCapacity> m_queue;

    // Set up and torn down by the opening/closing thread; the mainloop thread only reads
    // them, under the mainloop lock or while the caller waits.
    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    std::atomic<bool> m_contextSettled{false};
    std::atomic<bool> m_streamSettled{false};
    std::atomic<bool> m_timedOut{false};

    // Mainloop thread only.
    std::int64_t m_writtenFrames = 0;
    // A message sent at m_anchorMicros plays at frame m_anchorFrame.
    std::int64_t m_anchorFrame = 0;
    std::uint64_t m_anchorMicros = 0;
    bool m_anchored = false;
    bool m_underflow = false;
    int m_slackRequests = 0;
    bool m_holding = false;  // m_held was popped but belongs to a later block
    TimedMessage m_held;

    // Counted by the mainloop thread, reported at close when CVK_DEBUG is set.
    std::atomic<std::uint32_t> m_anchors{0};

    // Messages queued by senders, applied by the mainloop thread, and lost.
    std::atomic<std::uint64_t> m_queued{0};
    std::atomic<std::uint64_t> m_applied{0};
    std::atomic<std::uint64_t> m_dropped{0};
};

void SynthBackend::onContextState(pa_context* context, void* user) {
    auto* self = static_cast<SynthBackend*>(user);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)) {
        self->m_contextSettled.store(true);
        pa_threaded_mainloop_signal(self->m_mainloop, 0);
    }
}

void SynthBackend::onStreamState(pa_stream* stream, void* user) {
    auto* self = static_cast<SynthBackend*>(user);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state)) {
        self->m_streamSettled.store(true);
        pa_threaded_mainloop_signal(self->m_mainloop, 0);
    }
}

void SynthBackend::onWrite(pa_stream*, std::size_t bytes, void* user) {
    static_cast<SynthBackend*>(user)->write(bytes);
}

void SynthBackend::onUnderflow(pa_stream*, void* user) {
    static_cast<SynthBackend*>(user)->m_underflow = true;
}

void SynthBackend::onTimeout(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
    auto* self = static_cast<SynthBackend*>(user);
    self->m_timedOut.store(true);
    pa_threaded_mainloop_signal(self->m_mainloop, 0);
}

// Waits, with the mainloop locked, until `done` or the connect deadline.
bool SynthBackend::waitFor(const std::atomic<bool>& done) {
    while (!done.load() && !m_timedOut.load()) {
        pa_threaded_mainloop_wait(m_mainloop);
    }
    return done.load();
}

MidiError SynthBackend::connectServer() {
    m_mainloop = pa_threaded_mainloop_new();
    if (m_mainloop == nullptr) {
        return MidiError::NoMemory;
    }
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_mainloop), "Cantivo");
    if (m_context == nullptr) {
        return MidiError::NoMemory;
    }
    pa_context_set_state_callback(m_context, onContextState, this);
    // Never spawn a server of our own: a desktop without one has its reasons.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return MidiError::NoSoundServer;
    }
    if (pa_threaded_mainloop_start(m_mainloop) < 0) {
        return MidiError::NoSoundServer;
    }
    pa_threaded_mainloop_lock(m_mainloop);
    m_timedOut.store(false);
    pa_time_event* deadline = pa_context_rttime_new(
        m_context, pa_rtclock_now() + kConnectTimeoutMicros, onTimeout, this);
    const bool ready =
        waitFor(m_contextSettled) && pa_context_get_state(m_context) == PA_CONTEXT_READY;
    if (deadline != nullptr) {
        pa_threaded_mainloop_get_api(m_mainloop)->time_free(deadline);
    }
    pa_threaded_mainloop_unlock(m_mainloop);
    return ready ? MidiError::Ok : MidiError::NoSoundServer;
}

MidiError SynthBackend::startStream() {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kSampleRate, kChannels};
    pa_threaded_mainloop_lock(m_mainloop);
    m_timedOut.store(false);
    pa_time_event* deadline = pa_context_rttime_new(
        m_context, pa_rtclock_now() + kConnectTimeoutMicros, onTimeout, this);
    MidiError result = MidiError::NoSoundServer;
    m_stream = pa_stream_new(m_context, kSynthesizerName, &spec, nullptr);
    if (m_stream != nullptr) {
        pa_stream_set_state_callback(m_stream, onStreamState, this);
        pa_stream_set_write_callback(m_stream, onWrite, this);
        pa_stream_set_underflow_callback(m_stream, onUnderflow, this);
        // Left to the server, the buffer would be seconds long.
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLengthMicros, &spec));
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kMinRequestMicros, &spec));
        attr.fragsize = static_cast<std::uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) == 0 &&
            waitFor(m_streamSettled) && pa_stream_get_state(m_stream) == PA_STREAM_READY) {
            const pa_buffer_attr* granted = pa_stream_get_buffer_attr(m_stream);
            if (granted != nullptr && g_debug.load()) {
                std::fprintf(stderr, "synth: tlength %u minreq %u prebuf %u bytes\n",
                             granted->tlength, granted->minreq, granted->prebuf);
            }
            result = MidiError::Ok;
        }
    }
    if (deadline != nullptr) {
        pa_threaded_mainloop_get_api(m_mainloop)->time_free(deadline);
    }
    pa_threaded_mainloop_unlock(m_mainloop);
    return result;
}

void SynthBackend::disconnect() {
    if (m_mainloop == nullptr) {
        return;
    }
    if (m_stream != nullptr) {
        pa_threaded_mainloop_lock(m_mainloop);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_threaded_mainloop_unlock(m_mainloop);
    }
    // Joins the mainloop thread: no callback runs after this.
    pa_threaded_mainloop_stop(m_mainloop);
    if (m_stream != nullptr) {
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context != nullptr) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_free(m_mainloop);
    m_mainloop = nullptr;
}

// Mainloop thread: the server wants `bytes` more.
void SynthBackend::write(std::size_t bytes) {
    const std::size_t frameBytes = kChannels * sizeof(float);
    if (m_timed) {
        followClock(clockMicros(), static_cast<std::int64_t>(bytes / frameBytes));
    }
    while (bytes >= frameBytes) {
        void* data = nullptr;
        std::size_t chunk = bytes;
        if (pa_stream_begin_write(m_stream, &data, &chunk) < 0 || data == nullptr) {
            return;
        }
        chunk = std::min(chunk, bytes) / frameBytes * frameBytes;
        if (chunk == 0) {
            pa_stream_cancel_write(m_stream);
            return;
        }
        render(static_cast<float*>(data), static_cast<std::int64_t>(chunk / frameBytes));
        if (pa_stream_write(m_stream, data, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            return;
        }
        bytes -= chunk;
    }
}

void SynthBackend::anchor(std::uint64_t nowMicros, std::int64_t requestFrames) {
    m_anchorMicros = nowMicros;
    m_anchorFrame = m_writtenFrames + requestFrames + framesFromMicros(kHeadroomMicros);
    m_anchored = true;
    m_underflow = false;
    m_slackRequests = 0;
    m_anchors.fetch_add(1, std::memory_order_relaxed);
}

// Called at each write request, before rendering. Our thread waking late only makes the
// headroom look larger than it is, so a short reading is always real.
void SynthBackend::followClock(std::uint64_t nowMicros, std::int64_t requestFrames) {
    if (!m_anchored || m_underflow) {
        anchor(nowMicros, requestFrames);
        return;
    }
    const std::int64_t landsAt =
        m_anchorFrame + framesFromMicros(static_cast<std::int64_t>(nowMicros - m_anchorMicros));
    const std::int64_t headroom = landsAt - (m_writtenFrames + requestFrames);
    if (headroom < framesFromMicros(kMinHeadroomMicros)) {
        anchor(nowMicros, requestFrames);
    } else if (headroom > framesFromMicros(kHeadroomMicros + kSlackMicros)) {
        if (++m_slackRequests >= kSlackRequests) {
            anchor(nowMicros, requestFrames);
        }
    } else {
        m_slackRequests = 0;
    }
}

void SynthBackend::synthesize(float* out, std::int64_t frames) {
    fluid_synth_write_float(m_engine->synth(), static_cast<int>(frames), out, 0, kChannels, out,
                            1, kChannels);
}

// Renders frames [m_writtenFrames, m_writtenFrames + frames), splitting the block at
// each message's frame.
void SynthBackend::render(float* out, std::int64_t frames) {
    const std::int64_t blockStart = m_writtenFrames;
    const std::int64_t blockEnd = blockStart + frames;
    std::int64_t position = blockStart;
    for (;;) {
        TimedMessage next;
        if (m_holding) {
            next = m_held;
            m_holding = false;
        } else if (!m_queue.pop(next)) {
            break;
        }
        if (m_timed) {
            const std::int64_t due =
                m_anchorFrame +
                framesFromMicros(static_cast<std::int64_t>(next.sentMicros - m_anchorMicros));
            // One beyond this block waits for the next; one whose frame has passed (sent
            // during a stall, or stamped just before another sender's) plays at once.
            if (due >= blockEnd) {
                m_held = next;
                m_holding = true;
                break;
            }
            if (due > position) {
                synthesize(out + (position - blockStart) * kChannels, due - position);
                position = due;
            }
        }
        applyMessage(m_engine->synth(), next.message);
        m_applied.fetch_add(1, std::memory_order_release);
    }
    if (position < blockEnd) {
        synthesize(out + (position - blockStart) * kChannels, blockEnd - position);
    }
    m_writtenFrames = blockEnd;
}

bool SynthBackend::readChannels(std::array<SynthChannelState, 16>& out) {
    const std::uint64_t queued = m_queued.load();
    const std::uint64_t giveUp = monotonicMicros() + 5'000'000;
    while (m_applied.load(std::memory_order_acquire) < queued) {
        if (monotonicMicros() > giveUp) {
            return false;
        }
        pauseBriefly();
    }
    // The write callback runs with the mainloop locked: holding it keeps rendering out.
    pa_threaded_mainloop_lock(m_mainloop);
    fluid_synth_t* synth = m_engine->synth();
    for (int channel = 0; channel < 16; ++channel) {
        SynthChannelState& state = out[static_cast<std::size_t>(channel)];
        for (int controller = 0; controller < 128; ++controller) {
            fluid_synth_get_cc(synth, channel, controller, &state.controllers[static_cast<std::size_t>(controller)]);
        }
        int font = 0;
        fluid_synth_get_program(synth, channel, &font, &state.bank, &state.program);
        fluid_synth_get_pitch_bend(synth, channel, &state.pitchBend);
        fluid_synth_get_pitch_wheel_sens(synth, channel, &state.pitchBendRange);
    }
    pa_threaded_mainloop_unlock(m_mainloop);
    return true;
}

}  // namespace

bool readSynthChannels(MidiOutBackend& backend, std::array<SynthChannelState, 16>& out) {
    auto* synth = dynamic_cast<SynthBackend*>(&backend);
    return synth != nullptr && synth->readChannels(out);
}

MidiError openSynthesizer(std::unique_ptr<MidiOutBackend>& out) {
    out.reset();
    try {
        quietFluidSynth();
        const std::string path = platform::findSoundFont();
        if (path.empty()) {
            return MidiError::NoSoundFont;
        }

        // Other clocks (virtual, manual) do not run at the speed of the sound card: there
        // each message simply plays with the next block. CVK_SYNTH_UNTIMED does the same
        // on the real clock, to measure what the time stamps buy.
        const char* untimed = std::getenv("CVK_SYNTH_UNTIMED");
        const bool timed = clockMode() == ClockMode::Real &&
                           (untimed == nullptr || std::strcmp(untimed, "1") != 0);
        auto backend = std::make_unique<SynthBackend>(timed);
        if (const MidiError result = backend->connectServer(); result != MidiError::Ok) {
            return result;
        }

        {
            EngineCache& cache = engineCache();
            std::lock_guard lock(cache.mutex);
            std::shared_ptr<SynthEngine> engine = cache.engine;
            if (engine != nullptr && engine->path() != path) {
                // Another SoundFont was chosen since: switch, unless the old one is playing.
                if (!engine->acquire()) {
                    return MidiError::Allocated;
                }
                engine->release();
                engine = nullptr;
            }
            if (engine == nullptr) {
                engine = SynthEngine::load(path);
                if (engine == nullptr) {
                    return MidiError::SynthFailed;
                }
                cache.engine = engine;
            }
            if (!engine->acquire()) {
                return MidiError::Allocated;
            }
            backend->attach(std::move(engine));
        }

        if (const MidiError result = backend->startStream(); result != MidiError::Ok) {
            return result;
        }
        out = std::move(backend);
        return MidiError::Ok;
    } catch (const std::bad_alloc&) {
        return MidiError::NoMemory;
    } catch (...) {
        return MidiError::SynthFailed;
    }
}

}  // namespace platform::detail
