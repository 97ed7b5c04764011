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
// Instruments. The render thread never loads one (program_loader.h): a song's programs
// are prepared before it plays (preparePrograms). A program change whose instrument is not
// ready - one the song never announced, such as an instrument tried out while it plays -
// is held on its channel while a worker thread loads it, and applied at the first block
// after: the channel's notes meanwhile play with the instrument it had. Holding the notes
// back instead would put the channel out of time with the song for as long as the load
// takes, up to a tenth of a second; a few notes in the old instrument are heard less.
// The piano and the standard kit, which channels play before any program change and
// after every reset, are loaded by the worker as soon as the SoundFont is, and waited for
// with a song's programs. A sender that plays notes at once after opening, without
// preparing, may come before them; the render thread then loads them itself.
//
// Senders. Each sending thread has a lane of its own (platform/message_lanes.h): the
// timer thread's notes never wait behind a window-thread sender preempted in the middle
// of a push. The render thread merges the lanes by time stamp.
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
#include <span>
#include <string>
#include <vector>

#include "audio/pulse_context.h"
#include "audio/routing.h"
#include "platform/message_lanes.h"
#include "platform/midi_device.h"
#include "platform/mm_timer.h"
#include "synth/soundfont.h"
#include "program_loader.h"
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
// Messages in flight between a sender and the next write request. A song's densest
// moments send a few hundred per block; a pause or stop silences up to a few thousand
// notes at once. The timer thread never waits: a full lane there drops (and counts);
// other threads wait for the next block to make room.
constexpr std::size_t kLaneCapacity = 8192;
// The timer threads' lane (one timer sends at a time; a second one sending at the same
// moment finds it taken and drops, as on a full lane), two lanes for the first two other
// threads that send (the window's or the caller's, the opening thread), and one that
// the threads after them share, taking turns.
constexpr std::size_t kTimerLane = 0;
constexpr std::size_t kFirstOwnLane = 1;
constexpr std::size_t kSharedLane = 3;
constexpr std::size_t kLaneCount = 4;
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

using Lanes = platform::MessageLanes<TimedMessage, kLaneCapacity, kLaneCount>;

// Never destroyed: a thread that ends after the process's static objects still gives its
// lane back.
Lanes& lanes() {
    static Lanes* const all = new Lanes;
    return *all;
}

// The lane of a sending thread other than a timer's, claimed at its first send.
class LaneOfThread {
public:
    ~LaneOfThread() {
        if (m_claimed) {
            lanes().release(m_lane);
        }
    }
    std::size_t lane() {
        if (!m_chosen) {
            m_chosen = true;
            m_claimed = lanes().claim(kFirstOwnLane, kSharedLane, m_lane);
            if (!m_claimed) {
                m_lane = kSharedLane;
            }
        }
        return m_lane;
    }

private:
    bool m_chosen = false;
    bool m_claimed = false;
    std::size_t m_lane = kSharedLane;
};

thread_local LaneOfThread t_lane;

// The process's one synthesizer: its engine, its stream and the lanes between them.
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
        m_loader.stop();
        std::lock_guard lock(m_mutex);
        disconnect();
    }

    // Opening thread. Makes sure the server, the stream and the SoundFont are there and
    // starts a session: every channel at its defaults, the stream running.
    platform::MidiError beginSession();
    // Cuts every voice, at once, and rests the stream once that has been rendered.
    void endSession();

    // Opening thread: loads the instruments of every program in `programs`.
    void preparePrograms(std::span<const platform::MidiProgram> programs);

    void send(std::uint32_t message) noexcept;
    std::uint64_t dropped() const noexcept { return m_dropped.load(); }
    std::uint64_t underruns() const noexcept { return m_sessionUnderruns.load(std::memory_order_relaxed); }
    // Times the render thread moved its clock (a new anchor) or applied a message after its
    // frame since the process started: the notes after either are heard off their time.
    std::uint64_t timingSlips() const noexcept {
        return m_anchorCount.load(std::memory_order_relaxed) + m_lateTotal.load(std::memory_order_relaxed);
    }
    bool readChannels(std::array<SynthChannelState, 16>& out);
    std::uint64_t heldPrograms() const noexcept { return m_heldPrograms.load(); }
    // Any thread but the mainloop's: see synthesizerOutputDelay.
    bool outputDelay(std::int64_t& micros, std::int64_t* sinkMicros);

private:
    SynthService() : m_loader([this](const Instrument& instrument) { pinInPlayer(instrument); }) {
        m_heldProgram.fill(kNoProgram);
        lanes();  // made here, not by the first render callback
    }

    platform::MidiError prepareEngine(const std::string& path);
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
    void applyMessage(std::uint32_t message);
    void applyReadyPrograms();

    // The loader's thread, holding it: pins an instrument with the render callback out.
    void pinInPlayer(const Instrument& instrument);

    std::mutex m_mutex;  // open and close
    // Replaced by the opening thread holding m_mutex, m_loader and the mainloop lock.
    std::unique_ptr<SynthEngine> m_engine;
    ProgramLoader m_loader;
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
    // Per channel: the bank controller 0 selected, and the program change waiting for its
    // instrument (a key of program_loader.h; kNoProgram for none).
    static constexpr int kNoProgram = -1;
    std::array<int, 16> m_bankMsb{};
    std::array<int, 16> m_heldProgram{};
    int m_heldCount = 0;
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
    std::atomic<std::uint64_t> m_lateTotal{0};      // the same, never reset
    // The longest write callback: the wave devices' and the mixer's callbacks wait that
    // long on the shared thread. And the longest an instrument's pin kept it out.
    std::atomic<std::uint64_t> m_longestWriteMicros{0};
    std::atomic<std::uint64_t> m_longestPinMicros{0};
    // Messages queued by senders, applied by the mainloop thread, and lost.
    std::atomic<std::uint64_t> m_queued{0};
    std::atomic<std::uint64_t> m_applied{0};
    // Program changes held for their instrument since the process started, and how many
    // channels hold one now.
    std::atomic<std::uint64_t> m_heldPrograms{0};
    std::atomic<int> m_channelsHolding{0};
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

// Opening thread, m_mutex held: the server, the stream and an engine playing `path`.
platform::MidiError SynthService::prepareEngine(const std::string& path) {
    // No instrument is pinned into the engine while it or its connection is replaced.
    auto still = m_loader.hold();
    // Connecting is cheap and fails fast without a server, so it comes before the
    // SoundFont is loaded.
    if (const platform::MidiError result = connect(); result != platform::MidiError::Ok) {
        return result;
    }
    if (m_engine != nullptr && m_engine->path() == path) {
        return platform::MidiError::Ok;
    }
    // The stream is corked between sessions, so nothing renders while the engine is
    // replaced; the lock keeps a late callback out all the same. The old one is freed
    // after: the other modules' callbacks wait on that lock too.
    std::unique_ptr<SynthEngine> engine = SynthEngine::load(path);
    if (engine == nullptr) {
        return platform::MidiError::SynthFailed;
    }
    // What was ready in the old engine is not in the new one.
    m_loader.useSoundFont(path);
    {
        audio::PulseContext::Lock locked(*m_pulse);
        m_engine.swap(engine);
    }
    engine.reset();
    return platform::MidiError::Ok;
}

platform::MidiError SynthService::beginSession() {
    std::lock_guard lock(m_mutex);
    const std::string path = synth::findSoundFont();
    if (path.empty()) {
        return platform::MidiError::NoSoundFont;
    }
    if (const platform::MidiError result = prepareEngine(path); result != platform::MidiError::Ok) {
        return result;
    }
    // Other clocks (virtual, manual) do not run at the speed of the sound card: there
    // each message simply plays with the next block. CVK_SYNTH_UNTIMED does the same on
    // the real clock, to measure what the time stamps buy.
    const char* untimed = std::getenv("CVK_SYNTH_UNTIMED");
    m_timed = platform::clockMode() == platform::ClockMode::Real && (untimed == nullptr || std::strcmp(untimed, "1") != 0);
    m_dropped = 0;
    m_stalled = false;
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
                     "longest block %.1f ms, longest pin %.2f ms; so far %llu program changes "
                     "held for their instrument, %llu SoundFont opens while rendering\n",
                     m_anchors.exchange(0), m_underflows.exchange(0), m_lateMessages.exchange(0),
                     static_cast<double>(m_longestWriteMicros.exchange(0)) / 1000.0,
                     static_cast<double>(m_longestPinMicros.exchange(0)) / 1000.0,
                     static_cast<unsigned long long>(m_heldPrograms.load()),
                     static_cast<unsigned long long>(fontOpensWhileRendering()));
    }
}

bool SynthService::push(const TimedMessage& timed) noexcept {
    const bool timer = platform::onTimerThread();
    const std::size_t lane = timer ? kTimerLane : t_lane.lane();
    if (lanes().push(lane, timed) == Lanes::Push::Done) {
        m_queued.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    if (timer || m_stalled.load(std::memory_order_relaxed)) {
        return false;
    }
    // The render thread empties the lanes at every write request, a few ms apart; a
    // shared lane is taken only for the length of a push.
    const std::uint64_t giveUp = monotonicMicros() + kSenderPatienceMicros;
    while (monotonicMicros() < giveUp) {
        pauseBriefly();
        if (lanes().push(lane, timed) == Lanes::Push::Done) {
            m_queued.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
    }
    m_stalled = true;
    return false;
}

void SynthService::send(std::uint32_t message) noexcept {
    // Stamped with the timer's deadline: a wake-up made late by a busy machine does not
    // make the note late, as long as it is not later than the headroom.
    if (!push(TimedMessage{message, platform::timerDeadlineMicros()})) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
    }
}

void SynthService::preparePrograms(std::span<const platform::MidiProgram> programs) {
    std::vector<int> keys;
    keys.reserve(programs.size());
    for (const platform::MidiProgram& program : programs) {
        keys.push_back(programKey(program.channel & 0x0F, program.bankMsb, program.program));
    }
    const std::uint64_t began = monotonicMicros();
    m_loader.prepare(keys);
    if (debugging()) {
        std::fprintf(stderr, "synth: %zu programs ready in %.1f ms\n", keys.size(),
                     static_cast<double>(monotonicMicros() - began) / 1000.0);
    }
}

void SynthService::pinInPlayer(const Instrument& instrument) {
    if (m_engine == nullptr) {
        return;
    }
    if (m_pulse == nullptr) {
        m_engine->pin(instrument);  // no stream, no render callback
        return;
    }
    audio::PulseContext::Lock locked(*m_pulse);
    const std::uint64_t began = monotonicMicros();
    m_engine->pin(instrument);
    const std::uint64_t took = monotonicMicros() - began;
    if (took > m_longestPinMicros.load(std::memory_order_relaxed)) {
        m_longestPinMicros.store(took, std::memory_order_relaxed);
    }
}

// Waits until every message queued so far has reached the synthesizer (a program change
// held for its instrument included), then reads the state of its channels. Tests only.
bool SynthService::readChannels(std::array<SynthChannelState, 16>& out) {
    const std::uint64_t queued = m_queued.load();
    const std::uint64_t giveUp = monotonicMicros() + 5'000'000;
    while (m_applied.load(std::memory_order_acquire) < queued || m_channelsHolding.load() != 0) {
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

// From a message's stamp to its frame (the anchor's arithmetic, for a message sent now),
// and from that frame's place in the stream to the sink's output, as the server tells
// once asked for fresh timing.
bool SynthService::outputDelay(std::int64_t& micros, std::int64_t* sinkMicros) {
    std::lock_guard lock(m_mutex);
    if (m_pulse == nullptr || m_stream == nullptr || !m_sessionOpen.load()) {
        return false;
    }
    audio::PulseContext::Lock locked(*m_pulse);
    std::int64_t latency = 0;
    // The wait for the server lets the render thread run: what it left is read after.
    if (!m_pulse->freshLatency(m_stream, latency) || !m_anchored || m_corked.load() || !m_timed.load()) {
        return false;
    }
    const std::uint64_t now = platform::clockMicros();
    const std::int64_t landsAt =
        m_anchorFrame + framesFromMicros(static_cast<std::int64_t>(now - m_anchorMicros));
    micros = latency + (landsAt - m_writtenFrames) * 1'000'000 / kSampleRate;
    if (sinkMicros != nullptr) {
        const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
        *sinkMicros = timing != nullptr ? static_cast<std::int64_t>(timing->sink_usec) : 0;
    }
    return true;
}

// Mainloop thread: the server wants `bytes` more.
// The thread's priority is the shared connection's (pulse_context.h).
void SynthService::write(std::size_t bytes) {
    const RenderingScope rendering;
    const std::uint64_t began = monotonicMicros();
    writeBlock(bytes);
    const std::uint64_t took = monotonicMicros() - began;
    if (took > m_longestWriteMicros.load(std::memory_order_relaxed)) {
        m_longestWriteMicros.store(took, std::memory_order_relaxed);
    }
}

void SynthService::writeBlock(std::size_t bytes) {
    SynthEngine* engine = m_engine.get();
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
            // A new stream asks to be filled before the SoundFont is there.
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
    m_bankMsb.fill(0);
    m_heldProgram.fill(kNoProgram);
    m_heldCount = 0;
    m_channelsHolding.store(0, std::memory_order_relaxed);
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

// A program change whose instrument is not ready is held on its channel, and asked for;
// a later one on the channel replaces it. The bank selects are followed here, in the
// order the synthesizer applies them.
void SynthService::applyMessage(std::uint32_t message) {
    const int kind = static_cast<int>(message & 0xF0);
    const int channel = static_cast<int>(message & 0x0F);
    const int data1 = static_cast<int>((message >> 8) & 0x7F);
    const int data2 = static_cast<int>((message >> 16) & 0x7F);
    if (kind == 0xB0 && data1 == 0) {
        m_bankMsb[channel] = data2;
    } else if (kind == 0xC0) {
        const int key = programKey(channel, m_bankMsb[channel], data1);
        const bool ready = m_loader.ready(key);
        int& held = m_heldProgram[channel];
        if (held == kNoProgram && !ready) {
            ++m_heldCount;
            m_channelsHolding.fetch_add(1, std::memory_order_relaxed);
        } else if (held != kNoProgram && ready) {
            --m_heldCount;
            m_channelsHolding.fetch_sub(1, std::memory_order_relaxed);
        }
        held = ready ? kNoProgram : key;
        if (!ready) {
            m_heldPrograms.fetch_add(1, std::memory_order_relaxed);
            m_loader.request(key);
            return;
        }
    }
    m_engine->apply(message);
}

// At the start of a block: the held program changes whose instruments have come.
void SynthService::applyReadyPrograms() {
    for (int channel = 0; channel < 16; ++channel) {
        int& held = m_heldProgram[channel];
        if (held != kNoProgram && m_loader.ready(held)) {
            m_engine->changeProgram(channel, held / 128, held % 128, m_bankMsb[channel]);
            held = kNoProgram;
            --m_heldCount;
            m_channelsHolding.fetch_sub(1, std::memory_order_relaxed);
        }
    }
}

// Renders frames [m_writtenFrames, m_writtenFrames + frames), splitting the block at
// each message's frame.
void SynthService::render(float* out, std::int64_t frames) {
    const std::int64_t blockStart = m_writtenFrames;
    const std::int64_t blockEnd = blockStart + frames;
    std::int64_t position = blockStart;
    if (m_heldCount != 0) {
        applyReadyPrograms();
    }
    const auto stampOf = [](const TimedMessage& timed) { return timed.sentMicros; };
    for (;;) {
        // Up to a queued end, everything plays at once; after it, in time again.
        const bool timed = m_timed.load(std::memory_order_relaxed) && !m_endQueued.load();
        std::size_t lane = 0;
        const TimedMessage* front = lanes().front(stampOf, lane);
        if (front == nullptr) {
            break;
        }
        const TimedMessage next = *front;
        if (timed && m_anchored) {
            const std::int64_t due =
                m_anchorFrame +
                framesFromMicros(static_cast<std::int64_t>(next.sentMicros - m_anchorMicros));
            // One beyond this block waits for the next, and so does every later one; one
            // whose frame has passed (sent during a stall, or stamped just before another
            // sender's) plays at once.
            if (due >= blockEnd) {
                break;
            }
            if (due > position) {
                m_engine->render(out + (position - blockStart) * kChannels,
                                 static_cast<int>(due - position));
                position = due;
            } else if (due < blockStart) {
                m_lateMessages.fetch_add(1, std::memory_order_relaxed);
                m_lateTotal.fetch_add(1, std::memory_order_relaxed);
            }
        }
        lanes().pop(lane);
        if ((next.message & 0x80) == 0) {
            applyCommand(next.message);
        } else {
            applyMessage(next.message);
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

    void preparePrograms(std::span<const platform::MidiProgram> programs) override {
        SynthService::instance().preparePrograms(programs);
    }
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

SynthLoadCounts synthesizerLoadCounts() {
    return {detail::fontOpensWhileRendering(), detail::SynthService::instance().heldPrograms()};
}

std::uint64_t synthesizerUnderruns() {
    return detail::SynthService::instance().underruns();
}

std::uint64_t synthesizerTimingSlips() {
    return detail::SynthService::instance().timingSlips();
}

bool synthesizerOutputDelay(std::int64_t& micros, std::int64_t* sinkMicros) {
    try {
        return detail::SynthService::instance().outputDelay(micros, sinkMicros);
    } catch (...) {
        return false;
    }
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
