// Wave devices on the sound server: one stream per open device, s16le (or u8) at the
// format's rate and channels, on the process's one connection (pulse_context.h), whose
// mainloop thread also renders the built-in synthesizer.
//
// The callers' threads take the mainloop lock for every call; the mainloop thread holds
// it while it runs our callbacks, which only move bytes between the buffer queue and the
// server, mark buffers done and post notifications: no allocation of ours, no waiting.
//
// Output: a buffer is done once the server has played it (as far as its requests for more
// tell: to within a request), not when it took it: a player that closes at the last
// done must not cut off the audio still in the server's buffer. The stream keeps
// latencyMs of audio ahead of the speaker. When the queue runs out the server plays what
// it holds however little that is (a short wave would wait for its start level forever),
// and a few ms of silence follow it to push out the frames the server's resampler holds
// back; audio that comes before that silence is played takes its place. After running dry
// the stream waits until it is filled again rather than playing on into silence: a
// stream that plays on moves past what it has been given, and the server then throws
// away the start of what comes late.
//
// A live output (a monitor) is never padded or started early that way: its next audio is
// due within a buffer, and a silence partly played before it came would cost that audio
// its head (what falls before the server's play position is thrown away), buffer after
// buffer. It starts, and starts again after running dry, once its lead is there.
//
// Input: the server hands over about 10 ms at a time; a buffer is done once full. Audio
// that finds no buffer queued waits, up to kBacklogSeconds of it, and fills the buffers
// as they are added; only beyond that is audio lost.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "audio/pulse_context.h"
#include "audio/routing.h"
#include "platform/mm_timer.h"
#include "capture_backlog.h"
#include "wave_device.h"

namespace audio::detail {
namespace {

constexpr pa_usec_t kCaptureFragmentMicros = 10'000;
// Captured audio that may wait for the window's thread to hand buffers back.
constexpr std::size_t kBacklogSeconds = 5;
// Silence after the last audio handed over: a server's resampler holds back the last few
// frames it was given until more follow (a few frames at the qualities servers use, up to
// about 6 ms at the finest), and they would never be heard.
constexpr pa_usec_t kTailMicros = 8'000;
// How long after a live output starts its writer's audio is held to the rate it plays at:
// long enough for the burst after a stall, short enough that the clocks of microphone and
// speakers cannot part by a frame meanwhile.
constexpr std::uint64_t kLivePacedMicros = 200'000;

struct Endpoint {
    std::string name;         // the server's
    std::string description;  // the user's
};

// A sink or source list, the default first. With the lock held.
std::vector<Endpoint> listEndpoints(PulseContext& connection, bool input) {
    struct Listing {
        PulseContext* connection;
        std::string defaultName;
        std::vector<Endpoint> endpoints;
    } listing{&connection, {}, {}};
    connection.complete(pa_context_get_server_info(
        connection.context(),
        [](pa_context*, const pa_server_info* info, void* user) {
            auto* self = static_cast<Listing*>(user);
            if (info != nullptr) {
                self->defaultName = info->default_sink_name != nullptr ? info->default_sink_name : "";
                self->defaultName += '\n';
                self->defaultName += info->default_source_name != nullptr ? info->default_source_name : "";
            }
            self->connection->signal();
        },
        &listing));
    const std::size_t split = listing.defaultName.find('\n');
    const std::string defaultName = split == std::string::npos
                                        ? std::string()
                                        : (input ? listing.defaultName.substr(split + 1)
                                                 : listing.defaultName.substr(0, split));
    if (input) {
        connection.complete(pa_context_get_source_info_list(
            connection.context(),
            [](pa_context*, const pa_source_info* info, int, void* user) {
                auto* self = static_cast<Listing*>(user);
                if (info != nullptr) {
                    self->endpoints.push_back({info->name, info->description != nullptr ? info->description : info->name});
                }
                self->connection->signal();
            },
            &listing));
    } else {
        connection.complete(pa_context_get_sink_info_list(
            connection.context(),
            [](pa_context*, const pa_sink_info* info, int, void* user) {
                auto* self = static_cast<Listing*>(user);
                if (info != nullptr) {
                    self->endpoints.push_back({info->name, info->description != nullptr ? info->description : info->name});
                }
                self->connection->signal();
            },
            &listing));
    }
    std::stable_partition(listing.endpoints.begin(), listing.endpoints.end(),
                          [&defaultName](const Endpoint& e) { return e.name == defaultName; });
    return listing.endpoints;
}

pa_sample_spec sampleSpec(const WaveFormat& format) {
    pa_sample_spec spec{};
    spec.format = format.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = format.samplesPerSec;
    spec.channels = static_cast<std::uint8_t>(format.channels);
    return spec;
}

class PulseDevice final : public WaveDevice {
public:
    PulseDevice(std::shared_ptr<PulseContext> pulse, const WaveOpenRequest& request)
        : m_pulse(std::move(pulse)),
          m_input(request.input),
          m_eightBit(request.format.bitsPerSample == 8),
          m_frameBytes(request.format.blockAlign),
          m_liveLead(request.input ? 0 : request.liveLeadBytes),
          m_bytesPerSecond(request.format.avgBytesPerSec),
          m_queue(request.window, request.handle,
                  request.input ? kWaveInDataMessage : kWaveOutDoneMessage, !request.input),
          m_backlog(request.input ? std::size_t{request.format.avgBytesPerSec} * kBacklogSeconds : 0,
                    request.format.blockAlign) {}

    ~PulseDevice() override {
        if (m_stream == nullptr) {
            return;
        }
        PulseContext::Lock lock(*m_pulse);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
        pa_stream_set_started_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }

    // Connects the stream; with the lock not held.
    WaveError connect(const WaveOpenRequest& request, const std::string& device) {
        PulseContext::Lock lock(*m_pulse);
        const pa_sample_spec spec = sampleSpec(request.format);
        m_stream = pa_stream_new(m_pulse->context(), m_input ? "Voice recording" : "Voice", &spec, nullptr);
        if (m_stream == nullptr) {
            return WaveError::NoMemory;
        }
        pa_stream_set_state_callback(m_stream, &PulseDevice::onState, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(-1);
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        // Always explicit: left to the server, a stream's buffer would be seconds long. Never
        // moved by the server: when its device goes, a take would go on recording another
        // source (the speakers' monitor: the program's own output), a voice go on playing
        // elsewhere. Losing the device fails the stream instead (onState).
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
            (m_input ? PA_STREAM_START_CORKED : PA_STREAM_NOFLAGS));
        const char* target = device.empty() ? nullptr : device.c_str();
        int connected = -1;
        if (m_input) {
            pa_stream_set_read_callback(m_stream, &PulseDevice::onRead, this);
            attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kCaptureFragmentMicros, &spec));
            connected = pa_stream_connect_record(m_stream, target, &attr, flags);
        } else {
            pa_stream_set_write_callback(m_stream, &PulseDevice::onWrite, this);
            pa_stream_set_underflow_callback(m_stream, &PulseDevice::onUnderflow, this);
            pa_stream_set_started_callback(m_stream, &PulseDevice::onStarted, this);
            attr.tlength = static_cast<std::uint32_t>(
                pa_usec_to_bytes(static_cast<pa_usec_t>(request.latencyMs) * 1000, &spec));
            m_tailBytes = pa_usec_to_bytes(kTailMicros, &spec);
            connected = pa_stream_connect_playback(m_stream, target, &attr, flags, nullptr, nullptr);
        }
        if (connected != 0 ||
            !m_pulse->waitFor([this] {
                const pa_stream_state_t state = pa_stream_get_state(m_stream);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            }) ||
            pa_stream_get_state(m_stream) != PA_STREAM_READY) {
            return m_pulse->ready() ? WaveError::NoDriver : WaveError::NoSoundServer;
        }
        m_connected = true;
        return WaveError::Ok;
    }

    WaveError submit(WaveHeader* header) override {
        PulseContext::Lock lock(*m_pulse);
        if (m_queue.failure() != WaveError::Ok) {
            return m_queue.failure();
        }
        if (!m_queue.push(header)) {
            return WaveError::NoMemory;
        }
        if (m_input) {
            // Audio waiting for a buffer goes into it at once.
            m_waiting = false;
            m_backlog.drainInto(m_queue);
            if (!m_backlog.empty()) {
                noteWaiting();
            }
        } else {
            if (m_liveLead != 0) {
                keepLiveLead(header->dwBufferLength);
            }
            feed(pa_stream_writable_size(m_stream));
            if (m_liveLead != 0) {
                startLive();
            }
        }
        return WaveError::Ok;
    }

    WaveError run() override {
        PulseContext::Lock lock(*m_pulse);
        if (m_queue.failure() != WaveError::Ok) {
            return m_queue.failure();
        }
        const WaveError result = cork(false);
        restartLive();
        // A queue handed over whole while the stream stood still (a player fills it before
        // it starts) may hold less than the server waits for before it plays: the trigger
        // given then went to a corked stream, which forgets it.
        if (result == WaveError::Ok && !m_input && !m_queue.empty() && !m_queue.untaken()) {
            trigger();
        }
        return result;
    }

    WaveError halt() override {
        PulseContext::Lock lock(*m_pulse);
        if (m_queue.failure() != WaveError::Ok) {
            return m_queue.failure();
        }
        const WaveError result = cork(true);
        restartLive();
        if (m_input) {
            m_backlog.drainInto(m_queue);
            m_queue.finishPartial();
        }
        return result;
    }

    WaveError reset() override {
        PulseContext::Lock lock(*m_pulse);
        if (m_queue.failure() != WaveError::Ok) {
            return m_queue.failure();
        }
        // What the server holds of ours goes; a recording stops, a playback runs on. What was
        // recorded before the reset comes back in the buffers as far as they hold it.
        flushServer();
        m_backlog.drainInto(m_queue);
        m_backlog.clear();
        m_queue.finishAll();
        m_waiting = false;
        return cork(m_input);
    }

    bool busy() override {
        PulseContext::Lock lock(*m_pulse);
        return !m_queue.empty();
    }

    std::uint64_t xruns() override { return m_xruns.load(std::memory_order_relaxed); }

    bool playbackClock(WaveOutClock& out) override {
        PulseContext::Lock lock(*m_pulse);
        pa_usec_t heard = 0;
        if (m_input || !m_connected || m_queue.failure() != WaveError::Ok ||
            !m_pulse->refreshTiming(m_stream) ||
            pa_stream_get_time(m_stream, &heard) != 0) {
            return false;
        }
        out.heardMicros = heard;
        out.atMicros = platform::clockMicros();
        return true;
    }

    // The latency is the server's as of a timing update asked for now: the one a stream
    // gets by itself at its start can be seconds old.
    bool captureClock(WaveInClock& out) override {
        PulseContext::Lock lock(*m_pulse);
        if (!m_input || !m_connected || m_queue.failure() != WaveError::Ok ||
            pa_stream_is_corked(m_stream) != 0 || !m_pulse->freshLatency(m_stream, out.latencyMicros)) {
            return false;
        }
        out.frames = m_capturedBytes / m_frameBytes;
        out.atMicros = platform::clockMicros();
        return true;
    }

    WaveError failure() override {
        PulseContext::Lock lock(*m_pulse);
        return m_queue.failure();
    }

    WaveError setTap(CaptureTap* tap) override {
        if (!m_input) {
            return WaveError::InvalidParameter;
        }
        PulseContext::Lock lock(*m_pulse);
        m_tap = tap;
        return WaveError::Ok;
    }

private:
    // With the lock held. Corking is ordered with everything else on the stream, so there
    // is no need to wait for the server's answer.
    WaveError cork(bool corked) {
        pa_operation* operation = pa_stream_cork(m_stream, corked ? 1 : 0, nullptr, nullptr);
        if (operation == nullptr) {
            return WaveError::Error;
        }
        pa_operation_unref(operation);
        return WaveError::Ok;
    }

    // A live output's audio waiting to be heard is kept to its lead and half a buffer more
    // while it starts, and beyond that the oldest goes. Once its lead is with the server the
    // stream is started (whatever the server's start level became), and from then on the
    // server takes audio at the stream's rate: what was handed over since, less what that
    // rate has taken, is what it still holds. Counted like this for a while after each
    // start (the first, and after running dry or being emptied), a writer's stall ends in
    // a burst of which only the lead is kept, and the delay is what it was. Later, when
    // the server stops taking (its target reached: a device slower than the microphone),
    // what it holds goes first.
    void keepLiveLead(std::uint32_t bufferBytes) {
        if (m_queue.untakenBytes() > m_liveLead + bufferBytes) {
            flushServer();
            m_queue.dropOldest(m_liveLead, m_frameBytes);
        }
        const std::uint64_t now = platform::clockMicros();
        if (m_liveStart != 0 && now - m_liveStart > kLivePacedMicros) {
            return;
        }
        const std::uint64_t taken = m_liveStart != 0 ? (now - m_liveStart) * m_bytesPerSecond / 1'000'000 : 0;
        const std::uint64_t allowed = taken + m_liveLead + bufferBytes / 2;
        const std::uint64_t untaken = m_queue.untakenBytes();
        const std::uint64_t waiting = m_liveFed + untaken;
        if (waiting > allowed) {
            const std::uint64_t over = waiting - allowed;
            m_queue.dropOldest(untaken > over ? untaken - over : 0, m_frameBytes);
        }
    }

    // A live output whose lead is with the server plays.
    void startLive() {
        if (m_liveStart == 0 && m_liveFed >= m_liveLead) {
            trigger();
            m_liveStart = platform::clockMicros();
        }
    }

    // What the server holds of ours goes.
    void flushServer() {
        if (pa_operation* flushed = pa_stream_flush(m_stream, nullptr, nullptr)) {
            pa_operation_unref(flushed);
        }
        m_tail = 0;
        restartLive();
    }

    // The server holds nothing of a live output's (or nothing known), and waits.
    void restartLive() {
        m_liveStart = 0;
        m_liveFed = 0;
    }

    // Output: hands the server up to `bytes` of the queued buffers, in whole frames. When
    // that empties the queue, silence follows it (kTailMicros), which the next audio
    // overwrites as long as it has not been played; and the server plays what it has
    // without waiting to be filled to its start level: the last buffer of a take may be
    // shorter than that.
    void feed(std::size_t bytes) {
        const bool had = m_queue.untaken();
        while (bytes >= m_frameBytes && m_queue.untaken()) {
            void* data = nullptr;
            std::size_t room = bytes - bytes % m_frameBytes;
            if (pa_stream_begin_write(m_stream, &data, &room) < 0 || data == nullptr) {
                return;
            }
            room -= room % m_frameBytes;
            auto* out = static_cast<std::uint8_t*>(data);
            const std::size_t taken = room != 0 ? m_queue.take(out, room) : 0;
            if (taken == 0) {
                pa_stream_cancel_write(m_stream);
                return;
            }
            applyGain(out, taken, waveOutputGain());
            // The server refuses a write that ends inside a frame, and the queue ends inside
            // one only when its last buffer does: that frame is made whole with silence.
            const std::size_t whole = (taken + m_frameBytes - 1) / m_frameBytes * m_frameBytes;
            std::memset(out + taken, m_eightBit ? 0x80 : 0, whole - taken);
            const auto back = -static_cast<std::int64_t>(std::exchange(m_tail, 0));
            pa_stream_write(m_stream, data, whole, nullptr, back, PA_SEEK_RELATIVE);
            m_fed = true;
            m_liveFed += whole;
            bytes -= std::min(bytes, whole);
        }
        if (had && !m_queue.untaken() && m_liveLead == 0) {
            m_tail = writeSilence(m_tailBytes);
            trigger();
        }
    }

    void trigger() {
        if (pa_operation* triggered = pa_stream_trigger(m_stream, nullptr, nullptr)) {
            pa_operation_unref(triggered);
        }
    }

    // The mixer's "Wave" fader: a gain inside the process, applied to the server's copy of
    // the bytes, never to the caller's buffer.
    void applyGain(std::uint8_t* bytes, std::size_t count, float gain) const noexcept {
        if (gain >= 1.0f) {
            return;
        }
        if (m_eightBit) {
            for (std::size_t i = 0; i < count; ++i) {
                bytes[i] = static_cast<std::uint8_t>(128 + std::lround((bytes[i] - 128) * gain));
            }
            return;
        }
        for (std::size_t i = 0; i + 1 < count; i += 2) {
            std::int16_t sample = 0;
            std::memcpy(&sample, bytes + i, 2);
            sample = static_cast<std::int16_t>(std::lround(sample * gain));
            std::memcpy(bytes + i, &sample, 2);
        }
    }

    // A stream that was ready fails when the server goes away (the connection fails first)
    // or when it removes the device.
    static void onState(pa_stream* stream, void* user) {
        auto* self = static_cast<PulseDevice*>(user);
        if (self->m_connected && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            self->m_backlog.drainInto(self->m_queue);
            self->m_queue.fail(self->m_pulse->ready() ? WaveError::NoDriver : WaveError::NoSoundServer);
        }
        self->m_pulse->signal();
    }

    // The server asks for what it misses of its target length: what it holds beyond that
    // is all it has not played yet.
    static void onWrite(pa_stream* stream, std::size_t bytes, void* user) {
        auto* self = static_cast<PulseDevice*>(user);
        if (const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream)) {
            const std::uint64_t taken = self->m_queue.takenBytes();
            const std::uint64_t held = std::min<std::uint64_t>(
                taken, attr->tlength > bytes ? attr->tlength - bytes : 0);
            self->m_queue.release(taken - held);
        }
        self->feed(bytes);
    }

    // The server plays a live output once it has its own start level, if that came first.
    static void onStarted(pa_stream*, void* user) {
        auto* self = static_cast<PulseDevice*>(user);
        if (self->m_liveLead != 0 && self->m_liveStart == 0) {
            self->m_liveStart = platform::clockMicros();
        }
    }

    static void onUnderflow(pa_stream*, void* user) {
        auto* self = static_cast<PulseDevice*>(user);
        self->m_queue.release(self->m_queue.takenBytes());  // everything has been played
        self->m_tail = 0;
        self->restartLive();
        if (self->m_fed) {
            self->m_fed = false;
            self->m_xruns.fetch_add(1, std::memory_order_relaxed);
        }
    }

    // Output: up to `bytes` of silence (whole frames) after what the server holds; the
    // bytes written.
    std::size_t writeSilence(std::size_t bytes) {
        void* data = nullptr;
        std::size_t room = bytes;
        if (pa_stream_begin_write(m_stream, &data, &room) < 0 || data == nullptr) {
            return 0;
        }
        room = std::min(room, bytes);
        room -= room % m_frameBytes;
        std::memset(data, m_eightBit ? 0x80 : 0, room);
        if (room == 0 || pa_stream_write(m_stream, data, room, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            pa_stream_cancel_write(m_stream);
            return 0;
        }
        return room;
    }

    static void onRead(pa_stream* stream, std::size_t, void* user) {
        auto* self = static_cast<PulseDevice*>(user);
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0) {
            if (bytes == 0) {
                break;  // nothing there after all
            }
            // A hole in the recording is silence of its length.
            self->capture(static_cast<const std::uint8_t*>(data), bytes);
            pa_stream_drop(stream);
        }
        // The tap's reader gets each delivery whole at once.
        if (self->m_tap != nullptr) {
            self->m_tap->flush();
        }
    }

    // Input: recorded audio goes behind what waits into the queued buffers, and what finds
    // no room there waits in the backlog; only a full backlog loses audio.
    void capture(const std::uint8_t* data, std::size_t bytes) {
        if (m_tap != nullptr) {
            m_tap->write(data, bytes);
        }
        m_capturedBytes += bytes;
        m_backlog.drainInto(m_queue);
        const std::size_t stored = m_backlog.empty() ? m_queue.put(data, bytes) : 0;
        if (stored < bytes) {
            noteWaiting();
            m_backlog.store(data != nullptr ? data + stored : nullptr, bytes - stored);
        }
    }

    // Input: audio found no buffer queued; counted once until the next buffer is added.
    void noteWaiting() {
        if (!m_waiting) {
            m_waiting = true;
            m_xruns.fetch_add(1, std::memory_order_relaxed);
        }
    }

    std::shared_ptr<PulseContext> m_pulse;  // outlives the stream: held until it is disconnected
    bool m_input;
    bool m_eightBit;
    std::size_t m_frameBytes;
    std::uint64_t m_liveLead;      // output: 0, or the lead of a live output
    std::uint64_t m_bytesPerSecond;
    std::uint64_t m_liveStart = 0; // live output: when it was started (0: waiting for its lead)
    std::uint64_t m_liveFed = 0;   // live output: bytes handed to the server since it last waited
    WaveQueue m_queue;             // with the lock held
    pa_stream* m_stream = nullptr;
    bool m_connected = false;      // the stream was ready: its failure is the device's
    std::size_t m_tailBytes = 0;   // output: the silence after the last audio handed over
    std::size_t m_tail = 0;        // output: bytes of it the server holds, not yet played
    bool m_fed = false;            // output: the server had audio of ours since it last ran dry
    CaptureBacklog m_backlog;      // input: with the lock held
    CaptureTap* m_tap = nullptr;   // input: with the lock held
    bool m_waiting = false;        // input: audio found no buffer since one was last added
    std::uint64_t m_capturedBytes = 0;  // input: handed over by the server, with the lock held
    std::atomic<std::uint64_t> m_xruns{0};
};

class PulseBackend final : public WaveBackend {
public:
    std::vector<std::string> deviceNames(bool input) override {
        std::shared_ptr<PulseContext> connection = connected();
        std::vector<std::string> names;
        if (connection) {
            PulseContext::Lock lock(*connection);
            for (const Endpoint& endpoint : listEndpoints(*connection, input)) {
                names.push_back(endpoint.description);
            }
        }
        return names;
    }

    WaveError query(bool input, std::int32_t deviceId, const WaveFormat& format) override {
        std::string device;
        std::shared_ptr<PulseContext> connection;
        if (const WaveError found = find(input, deviceId, connection, device); found != WaveError::Ok) {
            return found;
        }
        return waveFormatPlayable(format) ? WaveError::Ok : WaveError::BadFormat;
    }

    WaveError open(const WaveOpenRequest& request, std::unique_ptr<WaveDevice>& out) override {
        std::string device;
        std::shared_ptr<PulseContext> connection;
        if (const WaveError found = find(request.input, request.deviceId, connection, device);
            found != WaveError::Ok) {
            return found;
        }
        if (!waveFormatPlayable(request.format)) {
            return WaveError::BadFormat;
        }
        // The default input records what the mixer's recording selector chose.
        if (request.input && request.deviceId == kWaveMapper) {
            if (std::string chosen = recordingSource(); !chosen.empty()) {
                device = std::move(chosen);
            }
        }
        auto opened = std::make_unique<PulseDevice>(connection, request);
        if (const WaveError result = opened->connect(request, device); result != WaveError::Ok) {
            return result;
        }
        out = std::move(opened);
        return WaveError::Ok;
    }

private:
    // The process's connection, made again when the server went away or the environment
    // names another one (a test's private server). Kept between calls, so that listing
    // devices does not connect each time.
    std::shared_ptr<PulseContext> connected() {
        std::lock_guard lock(m_mutex);
        m_connection = PulseContext::acquire();
        return m_connection;
    }

    // The server's name of a device (empty: its default).
    WaveError find(bool input, std::int32_t deviceId, std::shared_ptr<PulseContext>& connection,
                   std::string& device) {
        connection = connected();
        if (!connection) {
            return WaveError::NoSoundServer;
        }
        device.clear();
        if (deviceId == kWaveMapper) {
            return WaveError::Ok;
        }
        PulseContext::Lock lock(*connection);
        const std::vector<Endpoint> endpoints = listEndpoints(*connection, input);
        if (deviceId < 0 || static_cast<std::size_t>(deviceId) >= endpoints.size()) {
            return WaveError::BadDeviceId;
        }
        device = endpoints[static_cast<std::size_t>(deviceId)].name;
        return WaveError::Ok;
    }

    std::mutex m_mutex;  // the callers' threads
    std::shared_ptr<PulseContext> m_connection;
};

}  // namespace

std::unique_ptr<WaveBackend> makePulseWaveBackend() { return std::make_unique<PulseBackend>(); }

}  // namespace audio::detail
