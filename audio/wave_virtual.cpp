// The virtual wave devices of tests: speakers that keep what they play and a microphone
// that delivers given bytes, both moved by a 1 ms timer of platform/mm_timer. On the
// manual clock nothing moves until the test advances it, so a test decides exactly which
// buffers have come back at each step; on the virtual clock a whole take runs as fast as
// the window's thread handles its notifications.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>

#include "platform/files.h"
#include "platform/mm_timer.h"
#include "wave_device.h"

namespace audio {
namespace detail {
namespace {

const char* const kSpeakersName = "Virtual Speakers";
const char* const kMicrophoneName = "Virtual Microphone";

class VirtualDevice;

struct VirtualShared {
    std::mutex mutex;  // the devices' timers and the callers of their devices
    VirtualWaveSetup setup;
    std::vector<std::shared_ptr<std::vector<std::uint8_t>>> outputs;
    std::map<std::uint32_t, VirtualDevice*> open;  // by handle
    WaveError failure = WaveError::Ok;  // failVirtualWave's
};

// What both virtual devices share: their 1 ms timer, and a place among the open devices a
// test can make fail.
class VirtualDevice : public WaveDevice {
public:
    // With the shared mutex held.
    virtual void failLocked(WaveError why) = 0;

protected:
    VirtualDevice(std::shared_ptr<VirtualShared> shared, std::uint32_t handle)
        : m_shared(std::move(shared)), m_handle(handle) {}

    // `user`: the device itself, as `tick` takes it.
    bool startTicking(platform::TimerCallback tick, void* user) {
        {
            std::lock_guard lock(m_shared->mutex);
            m_shared->open[m_handle] = this;
        }
        m_timer = platform::timerStart(1, tick, user);
        return m_timer != 0;
    }
    // Called first by a device's destructor: no tick runs after it.
    void stopTicking() {
        platform::timerKill(m_timer);
        std::lock_guard lock(m_shared->mutex);
        m_shared->open.erase(m_handle);
    }

    std::shared_ptr<VirtualShared> m_shared;

private:
    std::uint32_t m_handle;
    std::uint32_t m_timer = 0;
};

std::mutex g_currentMutex;
std::weak_ptr<VirtualShared> g_current;

void putLittle(std::uint8_t* out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    }
}

// Writes a plain PCM wave file through a temporary beside it, so a failed write leaves
// an earlier file of that name as it was.
void writeWaveFile(const std::string& path, const WaveFormat& format,
                   const std::vector<std::uint8_t>& data) {
    std::uint8_t header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                               'f', 'm', 't', ' ', 16, 0, 0, 0};
    putLittle(header + 4, static_cast<std::uint32_t>(36 + data.size()), 4);
    putLittle(header + 20, format.formatTag, 2);
    putLittle(header + 22, format.channels, 2);
    putLittle(header + 24, format.samplesPerSec, 4);
    putLittle(header + 28, format.avgBytesPerSec, 4);
    putLittle(header + 32, format.blockAlign, 2);
    putLittle(header + 34, format.bitsPerSample, 2);
    std::memcpy(header + 36, "data", 4);
    putLittle(header + 40, static_cast<std::uint32_t>(data.size()), 4);

    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::string folder = parent.empty() ? std::string(1, '.') : parent.string();
    const std::string temporary = platform::createTempFile(folder, ".speakers");
    if (temporary.empty()) {
        return;
    }
    bool written = false;
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(header), sizeof header);
        file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        written = static_cast<bool>(file.flush());
    }
    if (!written || !platform::replaceFile(temporary, path)) {
        platform::removeFile(temporary);
    }
}

class VirtualOutput final : public VirtualDevice {
public:
    VirtualOutput(std::shared_ptr<VirtualShared> shared, const WaveOpenRequest& request)
        : VirtualDevice(std::move(shared), request.handle),
          m_format(request.format),
          m_liveLead(request.liveLeadBytes),
          m_queue(request.window, request.handle, kWaveOutDoneMessage),
          m_played(std::make_shared<std::vector<std::uint8_t>>()) {
        m_shared->outputs.push_back(m_played);
    }

    bool start() { return startTicking(&VirtualOutput::onTick, this); }

    ~VirtualOutput() override {
        stopTicking();
        std::lock_guard lock(m_shared->mutex);
        if (!m_shared->setup.speakersFile.empty()) {
            writeWaveFile(m_shared->setup.speakersFile, m_format, *m_played);
        }
    }

    WaveError submit(WaveHeader* header) override {
        std::lock_guard lock(m_shared->mutex);
        if (m_queue.failure() != WaveError::Ok) {
            return m_queue.failure();
        }
        if (!m_queue.push(header)) {
            return WaveError::NoMemory;
        }
        if (m_liveLead != 0 && m_queue.untakenBytes() > m_liveLead + header->dwBufferLength) {
            m_queue.dropOldest(m_liveLead, m_format.blockAlign);
        }
        return WaveError::Ok;
    }
    WaveError run() override {
        std::lock_guard lock(m_shared->mutex);
        m_paused = false;
        return m_queue.failure();
    }
    WaveError halt() override {
        std::lock_guard lock(m_shared->mutex);
        m_paused = true;
        return m_queue.failure();
    }
    WaveError reset() override {
        std::lock_guard lock(m_shared->mutex);
        m_queue.finishAll();
        m_paused = false;
        m_fed = false;
        return m_queue.failure();
    }
    bool busy() override {
        std::lock_guard lock(m_shared->mutex);
        return !m_queue.empty();
    }
    std::uint64_t xruns() override {
        std::lock_guard lock(m_shared->mutex);
        return m_underruns;
    }
    WaveError failure() override {
        std::lock_guard lock(m_shared->mutex);
        return m_queue.failure();
    }
    void failLocked(WaveError why) override { m_queue.fail(why); }

private:
    static void onTick(std::uint32_t, void* user) { static_cast<VirtualOutput*>(user)->tick(); }

    // A paused device's clock stands still; a running one plays the frames of each
    // millisecond whether or not it has them.
    void tick() {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->failure != WaveError::Ok) {
            failLocked(m_shared->failure);
        }
        if (m_paused || m_queue.failure() != WaveError::Ok) {
            return;
        }
        if (++m_ticks == m_shared->setup.failAfterMs) {
            failLocked(WaveError::NoSoundServer);
            return;
        }
        const std::uint64_t due = m_ticks * m_format.samplesPerSec / 1000 - m_frames;
        m_frames += due;
        const std::size_t bytes = due * m_format.blockAlign;
        const std::size_t before = m_played->size();
        m_played->resize(before + bytes);
        const std::size_t taken = m_queue.take(m_played->data() + before, bytes);
        m_played->resize(before + taken);
        if (taken != 0) {
            m_fed = true;
        }
        if (taken < bytes && m_fed) {
            ++m_underruns;
            m_fed = false;
        }
    }

    WaveFormat m_format;
    std::uint64_t m_liveLead;  // 0, or the lead of a live output
    WaveQueue m_queue;
    std::shared_ptr<std::vector<std::uint8_t>> m_played;
    bool m_paused = false;
    bool m_fed = false;  // played something since the device last ran dry
    std::uint64_t m_ticks = 0;
    std::uint64_t m_frames = 0;
    std::uint64_t m_underruns = 0;
};

class VirtualInput final : public VirtualDevice {
public:
    VirtualInput(std::shared_ptr<VirtualShared> shared, const WaveOpenRequest& request)
        : VirtualDevice(std::move(shared), request.handle),
          m_format(request.format),
          m_queue(request.window, request.handle, kWaveInDataMessage) {}

    bool start() { return startTicking(&VirtualInput::onTick, this); }

    ~VirtualInput() override { stopTicking(); }

    WaveError submit(WaveHeader* header) override {
        std::lock_guard lock(m_shared->mutex);
        if (m_queue.failure() != WaveError::Ok) {
            return m_queue.failure();
        }
        m_waiting = false;  // audio that finds no buffer after this one is counted again
        return m_queue.push(header) ? WaveError::Ok : WaveError::NoMemory;
    }
    WaveError run() override {
        std::lock_guard lock(m_shared->mutex);
        m_running = m_queue.failure() == WaveError::Ok;
        return m_queue.failure();
    }
    WaveError halt() override {
        std::lock_guard lock(m_shared->mutex);
        m_running = false;
        deliver();
        m_queue.finishPartial();
        return m_queue.failure();
    }
    WaveError reset() override {
        std::lock_guard lock(m_shared->mutex);
        m_running = false;
        deliver();
        m_pending = 0;
        m_waiting = false;
        m_queue.finishAll();
        return m_queue.failure();
    }
    bool busy() override {
        std::lock_guard lock(m_shared->mutex);
        return !m_queue.empty();
    }
    std::uint64_t xruns() override {
        std::lock_guard lock(m_shared->mutex);
        return m_overruns;
    }
    WaveError failure() override {
        std::lock_guard lock(m_shared->mutex);
        return m_queue.failure();
    }
    WaveError setTap(CaptureTap* tap) override {
        std::lock_guard lock(m_shared->mutex);
        m_tap = tap;
        return WaveError::Ok;
    }
    // The virtual microphone hands each millisecond over as it ends: no latency.
    bool captureClock(WaveInClock& out) override {
        std::lock_guard lock(m_shared->mutex);
        if (!m_running) {
            return false;
        }
        out = WaveInClock{m_frames, 0, platform::clockMicros()};
        return true;
    }
    // What the microphone had not yet stored goes with the stream.
    void failLocked(WaveError why) override {
        m_running = false;
        m_pending = 0;
        m_queue.fail(why);
    }

private:
    static void onTick(std::uint32_t, void* user) { static_cast<VirtualInput*>(user)->tick(); }

    void tick() {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->failure != WaveError::Ok) {
            failLocked(m_shared->failure);
            return;
        }
        if (!m_running) {
            return;
        }
        if (++m_ticks == m_shared->setup.failAfterMs) {
            failLocked(WaveError::NoSoundServer);
            return;
        }
        const std::uint64_t due = m_ticks * m_format.samplesPerSec / 1000 - m_frames;
        m_frames += due;
        m_pending += due * m_format.blockAlign;
        heard(due * m_format.blockAlign);
        // No buffer to record into: the microphone waits for one.
        if (!deliver() && !m_waiting) {
            ++m_overruns;
            m_waiting = true;
        }
    }

    // What the microphone heard this tick goes to the tap at once, in pieces of 10 ms as a
    // sound server delivers them, whether or not a buffer waits for it.
    void heard(std::size_t bytes) {
        if (m_tap == nullptr) {
            return;
        }
        const std::vector<std::uint8_t>& voice = m_shared->setup.microphone;
        const std::size_t speaking = m_heard < voice.size() ? std::min(bytes, voice.size() - m_heard) : 0;
        m_tap->write(speaking != 0 ? voice.data() + m_heard : nullptr, speaking);
        m_tap->write(nullptr, bytes - speaking);
        m_heard += bytes;
        if (m_ticks % 10 == 0) {
            m_tap->flush();
        }
    }

    // Stores what was recorded and not yet stored in the queued buffers; whether all of it.
    bool deliver() {
        const std::vector<std::uint8_t>& voice = m_shared->setup.microphone;
        while (m_pending != 0) {
            const bool speaking = m_position < voice.size();
            const std::size_t offer =
                speaking ? std::min<std::size_t>(m_pending, voice.size() - m_position) : m_pending;
            const std::size_t stored =
                m_queue.put(speaking ? voice.data() + m_position : nullptr, offer);
            m_position += stored;
            m_pending -= stored;
            if (stored < offer) {
                return false;
            }
        }
        return true;
    }

    WaveFormat m_format;
    WaveQueue m_queue;
    bool m_running = false;
    bool m_waiting = false;  // audio found no buffer since one was last added
    std::uint64_t m_ticks = 0;
    std::uint64_t m_frames = 0;
    std::size_t m_pending = 0;   // bytes recorded and not yet stored
    std::size_t m_position = 0;  // bytes of the voice delivered
    std::size_t m_heard = 0;     // bytes of the voice the tap was given
    CaptureTap* m_tap = nullptr;
    std::uint64_t m_overruns = 0;
};

class VirtualBackend final : public WaveBackend {
public:
    explicit VirtualBackend(std::shared_ptr<VirtualShared> shared) : m_shared(std::move(shared)) {}

    std::vector<std::string> deviceNames(bool input) override {
        return {input ? kMicrophoneName : kSpeakersName};
    }

    WaveError query(bool, std::int32_t deviceId, const WaveFormat& format) override {
        {
            std::lock_guard lock(m_shared->mutex);
            if (m_shared->failure != WaveError::Ok) {
                return m_shared->failure;
            }
        }
        if (deviceId != kWaveMapper && deviceId != 0) {
            return WaveError::BadDeviceId;
        }
        return m_shared->setup.formatRefused || !waveFormatPlayable(format) ? WaveError::BadFormat
                                                                            : WaveError::Ok;
    }

    WaveError open(const WaveOpenRequest& request, std::unique_ptr<WaveDevice>& out) override {
        if (const WaveError result = query(request.input, request.deviceId, request.format);
            result != WaveError::Ok) {
            return result;
        }

        if (request.input ? m_shared->setup.inputOpenFails : m_shared->setup.outputOpenFails) {
            return WaveError::NoDriver;
        }
        if (request.input) {
            auto device = std::make_unique<VirtualInput>(m_shared, request);
            if (!device->start()) {
                return WaveError::NoMemory;
            }
            out = std::move(device);
        } else {
            std::unique_ptr<VirtualOutput> device;
            {
                std::lock_guard lock(m_shared->mutex);
                device = std::make_unique<VirtualOutput>(m_shared, request);
            }
            if (!device->start()) {
                return WaveError::NoMemory;
            }
            out = std::move(device);
        }
        return WaveError::Ok;
    }

private:
    std::shared_ptr<VirtualShared> m_shared;
};

}  // namespace

std::unique_ptr<WaveBackend> makeVirtualWaveBackend(const VirtualWaveSetup& setup) {
    auto shared = std::make_shared<VirtualShared>();
    shared->setup = setup;
    if (!setup.microphoneFile.empty()) {
        shared->setup.microphone = readWaveData(setup.microphoneFile);
    }
    std::lock_guard lock(g_currentMutex);
    g_current = shared;
    return std::make_unique<VirtualBackend>(shared);
}

std::vector<std::uint8_t> readWaveData(const std::string& path) {
    platform::FileReader file;
    char riff[12];
    if (!file.open(path) || !file.read(riff, sizeof riff) || std::string(riff, 4) != "RIFF" ||
        std::string(riff + 8, 4) != "WAVE") {
        return {};
    }
    for (;;) {
        unsigned char chunk[8];
        if (!file.read(chunk, sizeof chunk)) {
            return {};
        }
        const std::uint32_t size = static_cast<std::uint32_t>(chunk[4]) | chunk[5] << 8 |
                                   chunk[6] << 16 | static_cast<std::uint32_t>(chunk[7]) << 24;
        if (size > file.remaining()) {
            return {};
        }
        std::vector<std::uint8_t> bytes(size);
        if (!file.read(bytes.data(), size)) {
            return {};
        }
        if (std::string(reinterpret_cast<char*>(chunk), 4) == "data") {
            return bytes;
        }
        if ((size & 1) != 0 && file.remaining() != 0) {
            unsigned char pad = 0;
            file.read(&pad, 1);
        }
    }
}

}  // namespace detail

bool failVirtualWaveDevice(std::uint32_t handle, WaveError why) {
    std::shared_ptr<detail::VirtualShared> shared;
    {
        std::lock_guard lock(detail::g_currentMutex);
        shared = detail::g_current.lock();
    }
    if (!shared) {
        return false;
    }
    std::lock_guard lock(shared->mutex);
    const auto found = shared->open.find(handle);
    if (found == shared->open.end()) {
        return false;
    }
    found->second->failLocked(why);
    return true;
}

void failVirtualWave(WaveError error) {
    std::shared_ptr<detail::VirtualShared> shared;
    {
        std::lock_guard lock(detail::g_currentMutex);
        shared = detail::g_current.lock();
    }
    if (shared) {
        std::lock_guard lock(shared->mutex);
        shared->failure = error;
    }
}

std::vector<std::vector<std::uint8_t>> virtualWaveOutputs() {
    std::shared_ptr<detail::VirtualShared> shared;
    {
        std::lock_guard lock(detail::g_currentMutex);
        shared = detail::g_current.lock();
    }
    std::vector<std::vector<std::uint8_t>> outputs;
    if (shared) {
        std::lock_guard lock(shared->mutex);
        for (const auto& played : shared->outputs) {
            outputs.push_back(*played);
        }
    }
    return outputs;
}

}  // namespace audio
