// The built-in synthesizer: FluidSynth with a General MIDI SoundFont, rendered inside the
// write callback of one PulseAudio playback stream that lives as long as the process.
//
// Opening and closing the device costs next to nothing: the SoundFont stays loaded and
// the stream connected between songs. A closed device's stream is corked, so an idle
// player costs no CPU; a session's start and end travel through the message queue as
// commands, in order with the notes: the start resets every channel, the end cuts every
// voice and the effects' tails at once, so Stop is heard within one latency.
//
// Timing. Messages arrive from the 1 ms timer thread; calling the synthesizer there loses
// notes, and applying them at the start of the next rendered block would quantise them to
// the stream's request size (10 ms and more). Instead each message is stamped with the
// time it was due (the timer's deadline, not its late wake-up) and applied at the frame
// that plays one fixed latency later. A write request anchors the two clocks: "a message
// sent now belongs at frame A, a little after the end of this request"; a message sent
// at t then belongs at A + (t - now) * rate. The server never asks for more than tlength
// ahead of what it has played, so the latency is at most tlength plus that little (the
// headroom), and every message is queued before the block holding its frame is rendered.
// followClock keeps the anchor true to the sound card's clock. Every jump of the anchor
// would shift the notes after it, so it jumps only when a message could otherwise miss
// its block, or when the latency has been needlessly long for a whole second; after the
// server ran dry it anchors again with the headroom it had. A resting stream anchors at
// its first request, so whoever wakes it waits for that before sending a song's first
// notes. What is left is FluidSynth's own 64-frame event granularity: notes sound at a
// constant delay, within 1.45 ms, after they were due.
//
// Instruments. A program change loads its instrument's samples in whichever thread
// applies it. The render thread cannot afford that, so when the window's thread sends
// one (a song's first beat, a seek) it loads the instrument itself first, with the stream
// resting; the timer thread cannot, and an instrument first chosen in the middle of a
// song costs the render thread its load once.
//
// The stream lives on the process's one sound-server connection: its write callback
// shares the mainloop thread (and its real-time priority) with the wave devices and the
// mixer, so nothing here holds the mainloop lock for longer than a block's bookkeeping.

#include <pulse/pulseaudio.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "audio/pulse_context.h"
#include "audio/routing.h"
#include "platform/lockfree_queue.h"
#include "platform/midi_device.h"
#include "platform/mm_timer.h"
#include "synth/soundfont.h"
#include "synth/synthesizer.h"
#include "synth_engine.h"

namespace synth::detail {

using platform::MidiError;

namespace {

constexpr std::int64_t kSampleRate = SynthEngine::kSampleRate;
constexpr int kChannels = 2;
constexpr std::size_t kFrameBytes = kChannels * sizeof(float);
constexpr std::uint64_t kTargetLengthMicros = 40'000;
constexpr std::uint64_t kMinRequestMicros = 10'000;
// Headroom: how far after the end of the block being rendered a message sent right now
// lands. The timer thread stamps a message a little before it is queued, and the server's
// requests come a few milliseconds early or late; the headroom absorbs both, so that no
// message misses its block. Below kMinHeadroomMicros one could: anchor again.
constexpr std::int64_t kHeadroomMicros = 8'000;
constexpr std::int64_t kMinHeadroomMicros = 500;
// Headroom above kHeadroomMicros + kSlackMicros for kSlackRequests requests in a row (a
// second): the server played silence in between (a stall), or the card runs slow. Every
// note would sound that much later than needed, so anchor again. Shorter runs are only
// our thread woken late, and moving the anchor for them would move the notes.
constexpr std::int64_t kSlackMicros = 15'000;
constexpr int kSlackRequests = 100;
// How long a sender waits for a resting stream to run again before it sends a song's
// first notes.
constexpr std::uint64_t kWakePatienceMicros = 500'000;
// Messages in flight between their senders and the next write request. A song's densest
// moments send a few hundred per block; a pause or stop silences up to a few thousand
// notes at once. The timer thread never waits: a full queue there drops (and counts);
// other threads wait for the next block to make room.
constexpr std::size_t kQueueCapacity = 16384;
// How long a sender other than the timer thread waits for room before it gives up on a
// stalled stream (and counts the message as dropped).
constexpr std::uint64_t kSenderPatienceMicros = 1'000'000;

// Session commands, queued in order with the MIDI messages. A MIDI short message always
// has a status byte of 0x80 or above.
constexpr std::uint32_t kStartSession = 0x01;
constexpr std::uint32_t kEndSession = 0x02;

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

bool debugging() {
    const char* debug = std::getenv("CVK_DEBUG");
    return debug != nullptr && *debug != '\0';
}

std::int64_t framesFromMicros(std::int64_t micros) {
    // Floor, so a message never lands a frame later than its time.
    const std::int64_t scaled = micros * kSampleRate;
    return scaled >= 0 ? scaled / 1'000'000 : -((-scaled + 999'999) / 1'000'000);
}

struct TimedMessage {
    std::uint32_t message = 0;
    std::uint64_t sentMicros = 0;
};

// The process's one synthesizer: its engine, its stream and the queue between them.
class SynthService {
public:
    static SynthService& instance() {
        static SynthService service;
        return service;
    }

    // At the process's end the stream leaves the server properly: one that just vanishes
    // with the process can trip the server up (PulseAudio 16 has been seen to abort on
    // the memory blocks such a client leaves behind). Created at the first open, the
    // service is destroyed before anything it uses.
    ~SynthService() {
        std::lock_guard lock(m_mutex);
        disconnect();
    }

    // Opening thread. Makes sure the server, the stream and the SoundFont are there and
    // starts a session: every channel at its defaults, the stream running.
    platform::MidiError beginSession();
    // Cuts every voice, at once, and rests the stream once that has been rendered.
    void endSession();

    void send(std::uint32_t message) noexcept;
    std::uint64_t dropped() const noexcept { return m_dropped.load(); }
    std::uint64_t underruns() const noexcept { return m_sessionUnderruns.load(std::memory_order_relaxed); }
    bool readChannels(std::array<SynthChannelState, 16>& out);

private:
    SynthService() = default;

    platform::MidiError connect();
    bool openStream();
    void disconnect();
    bool push(const TimedMessage& timed) noexcept;
    // Opening thread: the stream wakes for a session, and the sender waits until it runs;
    // or it rests. corkNow does either with the mainloop locked.
    void resume();
    void rest();
    void corkNow(bool corked);
    void waitUntilRunning(std::uint64_t anchorsBefore);

    static void onStreamState(pa_stream* stream, void* user);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* user);
    static void onUnderflow(pa_stream* stream, void* user);
    static void onOperationDone(pa_stream* stream, int success, void* user);

    // Mainloop thread.
    void write(std::size_t bytes);
    void writeBlock(std::size_t bytes);
    void anchor(std::uint64_t nowMicros, std::int64_t requestFrames, std::int64_t headroomFrames);
    void followClock(std::uint64_t nowMicros, std::int64_t requestFrames);
    void render(float* out, std::int64_t frames);
    void applyGain(float* out, std::int64_t frames);
    void applyCommand(std::uint32_t command);

    // Loads, on the sender's thread, the instrument a message is about to select, so
    // that the render thread does not stall on it. Not on the timer thread.
    void prepareInstrument(std::uint32_t message);

    std::mutex m_mutex;  // open and close, and preparing instruments
    // What the senders have selected this session, per channel: the bank a program change
    // will choose from, and whether the channel has had a program change at all.
    std::array<std::atomic<std::uint8_t>, 16> m_bankSelect{};
    std::array<std::atomic<bool>, 16> m_programmed{};
    std::set<int> m_prepared;  // bank * 128 + program, guarded by m_mutex
    std::unique_ptr<SynthEngine> m_engine;
    platform::BoundedQueue<TimedMessage, kQueueCapacity> m_queue;
    std::atomic<bool> m_timed{false};  // this session's messages are time-stamped

    // Set up and torn down by the opening thread, the stream with the mainloop locked.
    std::shared_ptr<audio::PulseContext> m_pulse;
    pa_stream* m_stream = nullptr;

    // Mainloop thread, or another with the mainloop locked.
    std::int64_t m_writtenFrames = 0;
    // A message sent at m_anchorMicros plays at frame m_anchorFrame.
    std::int64_t m_anchorFrame = 0;
    std::uint64_t m_anchorMicros = 0;
    bool m_anchored = false;
    bool m_underflow = false;
    int m_slackRequests = 0;
    std::int64_t m_steadyHeadroom = 0;  // the smallest headroom since the last anchor
    bool m_holding = false;  // m_held was popped but belongs to a later block
    TimedMessage m_held;
    // An instrument is being loaded by a sender: the engine is the sender's until then,
    // and the render thread writes silence (the stream rests meanwhile).
    bool m_preparing = false;
    bool m_corkPending = false;  // a session ended: cork once this block is out
    float m_gain = 1.0f;  // the synthesizer fader's gain at the end of the last block

    // Written with the mainloop locked, so that a cork decided by the render thread and an
    // uncork by a new session never cross.
    std::atomic<bool> m_corked{true};
    std::atomic<bool> m_sessionOpen{false};
    // A session's end is queued: the render thread plays everything up to it at once
    // instead of at its time, so Stop is heard within a block, not a latency.
    std::atomic<bool> m_endQueued{false};
    // A sender other than the timer thread waited for room in vain: the stream has
    // stalled, and later senders drop at once until the render thread takes a message.
    std::atomic<bool> m_stalled{false};
    // Reported at a session's end when CVK_DEBUG is set.
    std::atomic<std::uint32_t> m_anchors{0};
    std::atomic<std::uint32_t> m_underflows{0};
    // Never reset: runs dry while a session was open, for tests and benchmarks to tell a
    // machine too busy to judge the sound by.
    std::atomic<std::uint64_t> m_sessionUnderruns{0};
    std::atomic<std::uint64_t> m_anchorCount{0};  // never reset: a sender waits for it to move
    std::atomic<std::uint32_t> m_lateMessages{0};  // applied after their frame
    // The longest write callback: the wave devices' and the mixer's callbacks wait that
    // long on the shared thread.
    std::atomic<std::uint64_t> m_longestWriteMicros{0};
    // Messages queued by senders, applied by the mainloop thread, and lost.
    std::atomic<std::uint64_t> m_queued{0};
    std::atomic<std::uint64_t> m_applied{0};
    std::atomic<std::uint64_t> m_dropped{0};
};

void SynthService::onStreamState(pa_stream*, void* user) {
    static_cast<SynthService*>(user)->m_pulse->signal();
}

void SynthService::onWrite(pa_stream*, std::size_t bytes, void* user) {
    static_cast<SynthService*>(user)->write(bytes);
}

void SynthService::onUnderflow(pa_stream*, void* user) {
    auto* self = static_cast<SynthService*>(user);
    self->m_underflow = true;
    self->m_underflows.fetch_add(1, std::memory_order_relaxed);
    if (self->m_sessionOpen.load(std::memory_order_relaxed)) {
        self->m_sessionUnderruns.fetch_add(1, std::memory_order_relaxed);
    }
}

void SynthService::onOperationDone(pa_stream*, int, void* user) {
    static_cast<SynthService*>(user)->m_pulse->signal();
}

// Connects to the server and opens the stream, corked. Opening thread, m_mutex held.
platform::MidiError SynthService::connect() {
    // The server and sink the environment names are read when a context is made: a
    // change of them (a test's private sink) takes a new context, and a new stream.
    std::shared_ptr<audio::PulseContext> pulse = audio::PulseContext::acquire();
    if (pulse != nullptr && pulse == m_pulse && m_stream != nullptr) {
        audio::PulseContext::Lock lock(*m_pulse);
        if (pa_stream_get_state(m_stream) == PA_STREAM_READY) {
            return platform::MidiError::Ok;
        }
    }
    disconnect();  // whatever is left of a server that went away
    if (pulse == nullptr) {
        return platform::MidiError::NoSoundServer;
    }
    m_pulse = std::move(pulse);
    if (!openStream()) {
        disconnect();
        return platform::MidiError::NoSoundServer;
    }
    return platform::MidiError::Ok;
}

// The stream, corked, on m_pulse. Opening thread, m_mutex held.
bool SynthService::openStream() {
    audio::PulseContext::Lock lock(*m_pulse);
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(kSampleRate), kChannels};
    m_stream = pa_stream_new(m_pulse->context(), platform::kBuiltInSynthesizerName, &spec, nullptr);
    if (m_stream == nullptr) {
        return false;
    }
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
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
    m_corked = true;
    const bool settled =
        pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) == 0 &&
        m_pulse->waitFor([this] {
            const pa_stream_state_t state = pa_stream_get_state(m_stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
    if (!settled || pa_stream_get_state(m_stream) != PA_STREAM_READY) {
        return false;
    }
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(m_stream);
    if (granted != nullptr && debugging()) {
        std::fprintf(stderr, "synth: tlength %u minreq %u prebuf %u bytes\n", granted->tlength,
                     granted->minreq, granted->prebuf);
    }
    return true;
}

// Takes the stream off the server and lets go of the connection. Opening thread, m_mutex
// held, the mainloop not locked.
void SynthService::disconnect() {
    if (m_pulse == nullptr) {
        return;
    }
    if (m_stream != nullptr) {
        // With the lock held, no callback of ours runs now or later.
        audio::PulseContext::Lock lock(*m_pulse);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    m_pulse.reset();
    m_corked = true;
}

// With the mainloop locked: rests or wakes the stream, and waits until the server has.
void SynthService::corkNow(bool corked) {
    m_pulse->complete(pa_stream_cork(m_stream, corked ? 1 : 0, onOperationDone, this));
    m_corked = corked;
    if (!corked) {
        m_anchored = false;  // frames and clock parted while the stream rested
    }
}

void SynthService::resume() {
    bool wake = false;
    std::uint64_t anchors = 0;
    {
        audio::PulseContext::Lock lock(*m_pulse);
        m_sessionOpen = true;
        wake = m_corked.load() && m_stream != nullptr;
        if (wake) {
            // What the server still holds is the last session's silence: start afresh.
            if (pa_operation* flushed = pa_stream_flush(m_stream, nullptr, nullptr)) {
                pa_operation_unref(flushed);
            }
            corkNow(false);
        }
        anchors = m_anchorCount.load(std::memory_order_acquire);
    }
    if (wake) {
        waitUntilRunning(anchors);
    }
}

void SynthService::rest() {
    audio::PulseContext::Lock lock(*m_pulse);
    m_sessionOpen = false;
    if (!m_corked.load() && m_stream != nullptr) {
        corkNow(true);
    }
}

// A message sent before a resting stream runs again would be anchored late, out of step
// with the notes after it: the sender waits until the render thread has anchored.
void SynthService::waitUntilRunning(std::uint64_t anchorsBefore) {
    if (!m_timed.load()) {
        return;  // untimed messages have nothing to keep in step with
    }
    const std::uint64_t giveUp = monotonicMicros() + kWakePatienceMicros;
    while (m_anchorCount.load(std::memory_order_acquire) == anchorsBefore &&
           monotonicMicros() < giveUp) {
        pauseBriefly();
    }
}

platform::MidiError SynthService::beginSession() {
    std::lock_guard lock(m_mutex);
    const std::string path = synth::findSoundFont();
    if (path.empty()) {
        return platform::MidiError::NoSoundFont;
    }
    // Connecting is cheap and fails fast without a server, so it comes before the
    // SoundFont is loaded.
    if (const platform::MidiError result = connect(); result != platform::MidiError::Ok) {
        return result;
    }
    if (m_engine == nullptr || m_engine->path() != path) {
        // The stream is corked between sessions, so nothing renders while the engine is
        // replaced; the lock keeps a late callback out all the same. The old one is freed
        // after: the other modules' callbacks wait on that lock too.
        std::unique_ptr<SynthEngine> engine = SynthEngine::load(path);
        if (engine == nullptr) {
            return platform::MidiError::SynthFailed;
        }
        {
            audio::PulseContext::Lock locked(*m_pulse);
            m_engine.swap(engine);
        }
        engine.reset();
        m_prepared.clear();
    }
    // Other clocks (virtual, manual) do not run at the speed of the sound card: there
    // each message simply plays with the next block. CVK_SYNTH_UNTIMED does the same on
    // the real clock, to measure what the time stamps buy.
    const char* untimed = std::getenv("CVK_SYNTH_UNTIMED");
    m_timed = platform::clockMode() == platform::ClockMode::Real && (untimed == nullptr || std::strcmp(untimed, "1") != 0);
    m_dropped = 0;
    m_stalled = false;
    for (int channel = 0; channel < 16; ++channel) {
        m_bankSelect[channel] = 0;
        m_programmed[channel] = false;
    }
    if (!push(TimedMessage{kStartSession, platform::clockMicros()})) {
        return platform::MidiError::SynthFailed;
    }
    resume();
    return platform::MidiError::Ok;
}

void SynthService::endSession() {
    std::lock_guard lock(m_mutex);
    if (m_pulse == nullptr) {
        return;
    }
    m_sessionOpen = false;
    if (push(TimedMessage{kEndSession, platform::clockMicros()})) {
        m_endQueued = true;
    } else {
        // The stream has stalled: cut everything here, with the callback kept out.
        {
            audio::PulseContext::Lock locked(*m_pulse);
            m_engine->reset();
        }
        rest();
    }
    if (debugging()) {
        std::fprintf(stderr,
                     "synth: session ended after %u anchors, %u underflows, %u late messages, "
                     "longest block %.1f ms\n",
                     m_anchors.exchange(0), m_underflows.exchange(0), m_lateMessages.exchange(0),
                     static_cast<double>(m_longestWriteMicros.exchange(0)) / 1000.0);
    }
}

bool SynthService::push(const TimedMessage& timed) noexcept {
    if (m_queue.push(timed)) {
        m_queued.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    if (platform::onTimerThread() || m_stalled.load(std::memory_order_relaxed)) {
        return false;
    }
    // The render thread empties the queue at every write request, a few ms apart.
    const std::uint64_t giveUp = monotonicMicros() + kSenderPatienceMicros;
    while (monotonicMicros() < giveUp) {
        pauseBriefly();
        if (m_queue.push(timed)) {
            m_queued.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
    }
    m_stalled = true;
    return false;
}

void SynthService::prepareInstrument(std::uint32_t message) {
    constexpr int kDrumChannel = 9;
    constexpr int kDrumBank = 128;
    const int kind = static_cast<int>(message & 0xF0);
    const int channel = static_cast<int>(message & 0x0F);
    const int data1 = static_cast<int>((message >> 8) & 0x7F);
    const int data2 = static_cast<int>((message >> 16) & 0x7F);
    int program = 0;
    if (kind == 0xC0) {
        program = data1;
    } else if (kind != 0x90 || data2 == 0 || m_programmed[channel].load()) {
        return;  // only a program change, or a channel's first note, selects an instrument
    }
    const int bank = channel == kDrumChannel ? kDrumBank : m_bankSelect[channel].load();
    std::lock_guard lock(m_mutex);
    if (m_engine == nullptr || m_pulse == nullptr || !m_prepared.insert(bank * 128 + program).second) {
        return;
    }
    // The render thread leaves the engine alone meanwhile, so the stream rests too: left
    // running it would run dry, and the clocks would be anchored again with the first
    // notes of a song already late. What the server holds plays on when it wakes; nothing
    // sounds at a song's start or at a seek, the only times this thread selects
    // instruments. The load runs without the mainloop lock: it takes tens of
    // milliseconds, and the wave devices' and the mixer's callbacks wait on that lock.
    bool rested = false;
    {
        audio::PulseContext::Lock locked(*m_pulse);
        // The server must have the stream at rest before the render thread stops rendering.
        rested = !m_corked.load() && m_stream != nullptr;
        if (rested) {
            corkNow(true);
        }
        m_preparing = true;
    }
    m_engine->prepare(bank, program);
    std::uint64_t anchors = 0;
    {
        audio::PulseContext::Lock locked(*m_pulse);
        m_preparing = false;
        if (rested) {
            corkNow(false);
        }
        anchors = m_anchorCount.load(std::memory_order_acquire);
    }
    if (rested) {
        waitUntilRunning(anchors);
    }
}

void SynthService::send(std::uint32_t message) noexcept {
    const std::uint32_t kind = message & 0xF0;
    if (!platform::onTimerThread()) {
        try {
            prepareInstrument(message);
        } catch (...) {
            // Out of memory for the record: the render thread loads the instrument itself.
        }
    }
    if (kind == 0xB0 && ((message >> 8) & 0x7F) == 0) {
        m_bankSelect[message & 0x0F] = static_cast<std::uint8_t>((message >> 16) & 0x7F);
    } else if (kind == 0xC0) {
        m_programmed[message & 0x0F] = true;
    }
    // Stamped with the timer's deadline: a wake-up made late by a busy machine does not
    // make the note late, as long as it is not later than the headroom.
    if (!push(TimedMessage{message, platform::timerDeadlineMicros()})) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
    }
}

// Waits until every message queued so far has reached the synthesizer, then reads the
// state of its channels. Tests only.
bool SynthService::readChannels(std::array<SynthChannelState, 16>& out) {
    const std::uint64_t queued = m_queued.load();
    const std::uint64_t giveUp = monotonicMicros() + 5'000'000;
    while (m_applied.load(std::memory_order_acquire) < queued) {
        if (monotonicMicros() > giveUp) {
            return false;
        }
        pauseBriefly();
    }
    // The write callback runs with the mainloop locked: holding it keeps rendering out.
    audio::PulseContext::Lock locked(*m_pulse);
    m_engine->readChannels(out);
    return true;
}

// Mainloop thread: the server wants `bytes` more.
// The thread's priority is the shared connection's (pulse_context.h).
void SynthService::write(std::size_t bytes) {
    const std::uint64_t began = monotonicMicros();
    writeBlock(bytes);
    const std::uint64_t took = monotonicMicros() - began;
    if (took > m_longestWriteMicros.load(std::memory_order_relaxed)) {
        m_longestWriteMicros.store(took, std::memory_order_relaxed);
    }
}

void SynthService::writeBlock(std::size_t bytes) {
    SynthEngine* engine = m_preparing ? nullptr : m_engine.get();
    if (m_timed.load(std::memory_order_relaxed)) {
        followClock(platform::clockMicros(), static_cast<std::int64_t>(bytes / kFrameBytes));
    }
    while (bytes >= kFrameBytes) {
        void* data = nullptr;
        std::size_t chunk = bytes;
        if (pa_stream_begin_write(m_stream, &data, &chunk) < 0 || data == nullptr) {
            return;
        }
        chunk = std::min(chunk, bytes) / kFrameBytes * kFrameBytes;
        if (chunk == 0) {
            pa_stream_cancel_write(m_stream);
            return;
        }
        if (engine != nullptr) {
            render(static_cast<float*>(data), static_cast<std::int64_t>(chunk / kFrameBytes));
            applyGain(static_cast<float*>(data), static_cast<std::int64_t>(chunk / kFrameBytes));
        } else {
            // A new stream asks to be filled before the SoundFont is there, and a resting
            // one may ask while a sender loads an instrument.
            std::memset(data, 0, chunk);
        }
        if (pa_stream_write(m_stream, data, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            return;
        }
        bytes -= chunk;
    }
    if (m_corkPending && !m_sessionOpen.load()) {
        // The session's end is rendered and no other has begun: drop what the server
        // still holds of the song, and rest. (A session begun meanwhile plays on: what
        // the server holds is the old one's last few milliseconds, already cut.)
        if (pa_operation* flushed = pa_stream_flush(m_stream, nullptr, nullptr)) {
            pa_operation_unref(flushed);
        }
        if (pa_operation* operation = pa_stream_cork(m_stream, 1, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
        m_anchored = false;
        m_corked = true;
    }
    m_corkPending = false;
}

void SynthService::anchor(std::uint64_t nowMicros, std::int64_t requestFrames,
                          std::int64_t headroomFrames) {
    m_anchorMicros = nowMicros;
    m_anchorFrame = m_writtenFrames + requestFrames + headroomFrames;
    m_anchored = true;
    m_underflow = false;
    m_slackRequests = 0;
    m_anchorCount.fetch_add(1, std::memory_order_release);
    m_anchors.fetch_add(1, std::memory_order_relaxed);
}

// Called at each write request, before rendering. Our thread waking late only makes the
// headroom look larger than it is, so a short reading is always real.
void SynthService::followClock(std::uint64_t nowMicros, std::int64_t requestFrames) {
    const std::int64_t usual = framesFromMicros(kHeadroomMicros);
    if (!m_anchored) {
        anchor(nowMicros, requestFrames, usual);
        m_steadyHeadroom = usual;
        return;
    }
    if (m_underflow) {
        // The server ran dry and asks for a whole buffer: anchored with the headroom the
        // requests had before, the notes keep the latency they had.
        anchor(nowMicros, requestFrames, m_steadyHeadroom);
        return;
    }
    const std::int64_t landsAt =
        m_anchorFrame + framesFromMicros(static_cast<std::int64_t>(nowMicros - m_anchorMicros));
    const std::int64_t headroom = landsAt - (m_writtenFrames + requestFrames);
    if (headroom < framesFromMicros(kMinHeadroomMicros)) {
        anchor(nowMicros, requestFrames, usual);
        m_steadyHeadroom = usual;
    } else if (headroom > framesFromMicros(kHeadroomMicros + kSlackMicros)) {
        if (++m_slackRequests >= kSlackRequests) {
            anchor(nowMicros, requestFrames, usual);
            m_steadyHeadroom = usual;
        }
    } else {
        m_slackRequests = 0;
        // Our thread waking late only adds to a reading, so the smallest is the truth.
        m_steadyHeadroom = std::min(m_steadyHeadroom, headroom);
    }
}

void SynthService::applyCommand(std::uint32_t command) {
    m_engine->reset();
    if (command == kEndSession) {
        m_corkPending = true;
        m_endQueued = false;
    }
}

// The mixer's synthesizer fader, a gain inside our process: session managers restore
// per-application stream volumes over whatever we set on the stream. A change glides
// over one block, so that a fader moved while notes sound does not click.
void SynthService::applyGain(float* out, std::int64_t frames) {
    const float target = audio::synthesizerGain();
    if (target == 1.0f && m_gain == 1.0f) {
        return;
    }
    const float step = (target - m_gain) / static_cast<float>(frames);
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        m_gain += step;
        out[frame * kChannels] *= m_gain;
        out[frame * kChannels + 1] *= m_gain;
    }
    m_gain = target;
}

// Renders frames [m_writtenFrames, m_writtenFrames + frames), splitting the block at
// each message's frame.
void SynthService::render(float* out, std::int64_t frames) {
    const std::int64_t blockStart = m_writtenFrames;
    const std::int64_t blockEnd = blockStart + frames;
    std::int64_t position = blockStart;
    for (;;) {
        // Up to a queued end, everything plays at once; after it, in time again.
        const bool timed = m_timed.load(std::memory_order_relaxed) && !m_endQueued.load();
        TimedMessage next;
        if (m_holding) {
            next = m_held;
            m_holding = false;
        } else if (!m_queue.pop(next)) {
            break;
        }
        if (timed && m_anchored) {
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
                m_engine->render(out + (position - blockStart) * kChannels,
                                 static_cast<int>(due - position));
                position = due;
            } else if (due < blockStart) {
                m_lateMessages.fetch_add(1, std::memory_order_relaxed);
            }
        }
        if ((next.message & 0x80) == 0) {
            applyCommand(next.message);
        } else {
            m_engine->apply(next.message);
        }
        m_applied.fetch_add(1, std::memory_order_release);
        m_stalled.store(false, std::memory_order_relaxed);
    }
    if (position < blockEnd) {
        m_engine->render(out + (position - blockStart) * kChannels,
                         static_cast<int>(blockEnd - position));
    }
    m_writtenFrames = blockEnd;
}

class SynthBackend final : public platform::MidiOutDevice {
public:
    SynthBackend() = default;
    ~SynthBackend() override { SynthService::instance().endSession(); }

    SynthBackend(const SynthBackend&) = delete;
    SynthBackend& operator=(const SynthBackend&) = delete;

    void shortMessage(std::uint32_t message) noexcept override {
        SynthService::instance().send(message);
    }

    void reset() override {
        for (std::uint32_t channel = 0; channel < 16; ++channel) {
            shortMessage(0xB0 | channel | (64u << 8));   // sustain off first, or the
            shortMessage(0xB0 | channel | (123u << 8));  // notes off only sustain them
        }
    }

    std::uint64_t dropped() const noexcept override { return SynthService::instance().dropped(); }
};

}  // namespace

platform::MidiError openSynthesizer(std::unique_ptr<platform::MidiOutDevice>& out) {
    out.reset();
    try {
        // The device table allows one open of a device at a time, so sessions never overlap.
        if (const platform::MidiError result = SynthService::instance().beginSession(); result != platform::MidiError::Ok) {
            return result;
        }
        out = std::make_unique<SynthBackend>();
        return platform::MidiError::Ok;
    } catch (const std::bad_alloc&) {
        return platform::MidiError::NoMemory;
    } catch (...) {
        return platform::MidiError::SynthFailed;
    }
}

}  // namespace synth::detail

namespace synth {

void install() {
    platform::setBuiltInSynthesizer(&detail::openSynthesizer);
}

std::uint64_t synthesizerUnderruns() {
    return detail::SynthService::instance().underruns();
}

bool readSynthesizerChannels(platform::MidiOutHandle handle, std::array<SynthChannelState, 16>& out) {
    bool read = false;
    platform::useMidiOutDevice(handle, [&](platform::MidiOutDevice& device) {
        read = dynamic_cast<detail::SynthBackend*>(&device) != nullptr &&
               detail::SynthService::instance().readChannels(out);
    });
    return read;
}

namespace {

// Loading the library installs the synthesizer, so every program and test that links it
// plays through it.
[[gnu::constructor]] void installAtLoad() {
    install();
}

}  // namespace
}  // namespace synth
