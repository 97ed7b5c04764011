#include "platform/midi_out.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "midi_backend.h"

namespace platform {
namespace {

enum class DeviceKind { Synthesizer, AlsaPort, Capture, TestPort };

struct DeviceEntry {
    DeviceKind kind;
    std::string name;
    std::uint32_t port = 0;
};

constexpr std::uint32_t kMaxOpen = 16;

// An open device. Senders announce themselves in `users` before checking `handle`, and
// close clears `handle` before waiting for `users` to drain, so a backend is never
// destroyed while a message is being sent through it.
struct OpenSlot {
    std::atomic<MidiOutHandle> handle{0};
    std::atomic<detail::MidiOutBackend*> backend{nullptr};
    std::atomic<std::uint32_t> users{0};
    std::string deviceName;  // guarded by State::mutex
};

struct State {
    std::array<OpenSlot, kMaxOpen> slots;
    std::atomic<std::uint32_t> nextGeneration{1};
    std::mutex mutex;  // open and close only
    std::mutex testPortMutex;  // guards the two below (listing and opening devices)
    std::string testPortName;  // empty: no test port
    detail::MidiSink testPortSink;
    std::atomic<MidiDeviceOpener> synthesizer{nullptr};
};

State& state() {
    static State s;
    return s;
}

std::string capturePath() {
    const char* path = std::getenv("CVK_MIDI_CAPTURE");
    return path != nullptr ? std::string(path) : std::string();
}

std::vector<DeviceEntry> listDevices() {
    std::vector<DeviceEntry> devices;
    devices.push_back({DeviceKind::Synthesizer, kBuiltInSynthesizerName, 0});
    const std::vector<std::string> ports = detail::alsaOutputPortNames();
    for (std::uint32_t i = 0; i < ports.size(); ++i) {
        devices.push_back({DeviceKind::AlsaPort, ports[i].substr(0, kMidiProductNameMax), i});
    }
    if (!capturePath().empty()) {
        devices.push_back({DeviceKind::Capture, detail::kCaptureName, 0});
    }
    State& s = state();
    std::lock_guard lock(s.testPortMutex);
    if (!s.testPortName.empty()) {
        devices.push_back({DeviceKind::TestPort, s.testPortName, 0});
    }
    return devices;
}

OpenSlot* findOpen(MidiOutHandle handle) {
    if (handle == 0) {
        return nullptr;
    }
    return &state().slots[(handle - 1) % kMaxOpen];
}

// Runs `use` on the device behind `handle` if it is open, keeping it open meanwhile.
template <typename Use>
MidiError withOpenDevice(MidiOutHandle handle, Use&& use) {
    OpenSlot* slot = findOpen(handle);
    if (slot == nullptr) {
        return MidiError::InvalidHandle;
    }
    struct Using {
        OpenSlot* slot;
        ~Using() { slot->users.fetch_sub(1); }
    } using_{slot};
    slot->users.fetch_add(1);
    if (slot->handle.load() != handle) {
        return MidiError::InvalidHandle;
    }
    use(*slot->backend.load());
    return MidiError::Ok;
}

}  // namespace

std::uint32_t midiOutDeviceCount() {
    try {
        return static_cast<std::uint32_t>(listDevices().size());
    } catch (...) {
        return 0;
    }
}

std::string midiOutDeviceName(std::uint32_t deviceId) {
    try {
        const auto devices = listDevices();
        return deviceId < devices.size() ? devices[deviceId].name : std::string();
    } catch (...) {
        return {};
    }
}

std::int32_t midiOutDeviceNamed(const std::string& name) {
    if (name.empty()) {
        return kMidiMapper;
    }
    try {
        const auto devices = listDevices();
        for (std::size_t id = 0; id < devices.size(); ++id) {
            if (devices[id].name == name) {
                return static_cast<std::int32_t>(id);
            }
        }
    } catch (...) {
    }
    return kMidiMapper;
}

MidiError midiOutOpen(MidiOutHandle* handle, std::int32_t deviceId) {
    if (handle == nullptr) {
        return MidiError::Error;
    }
    *handle = 0;
    try {
        const auto devices = listDevices();
        const std::uint32_t index = deviceId == kMidiMapper ? 0 : static_cast<std::uint32_t>(deviceId);
        if (deviceId < kMidiMapper || index >= devices.size()) {
            return MidiError::BadDeviceId;
        }
        const DeviceEntry& device = devices[index];

        State& s = state();
        std::lock_guard lock(s.mutex);
        OpenSlot* freeSlot = nullptr;
        std::uint32_t freeIndex = 0;
        for (std::uint32_t i = 0; i < kMaxOpen; ++i) {
            OpenSlot& slot = s.slots[i];
            if (slot.backend.load() != nullptr) {
                if (slot.deviceName == device.name) {
                    return MidiError::Allocated;
                }
            } else if (freeSlot == nullptr) {
                freeSlot = &slot;
                freeIndex = i;
            }
        }
        if (freeSlot == nullptr) {
            return MidiError::NoMemory;
        }

        std::unique_ptr<detail::MidiOutBackend> backend;
        MidiError result = MidiError::Error;
        switch (device.kind) {
            case DeviceKind::Synthesizer: {
                const MidiDeviceOpener openSynthesizer = s.synthesizer.load();
                result = openSynthesizer != nullptr ? openSynthesizer(backend) : MidiError::SynthFailed;
                break;
            }
            case DeviceKind::AlsaPort:
                result = detail::openAlsaPort(device.port, backend);
                break;
            case DeviceKind::Capture:
                result = detail::openCapture(capturePath(), backend);
                break;
            case DeviceKind::TestPort: {
                std::lock_guard testLock(s.testPortMutex);
                if (!s.testPortSink) {
                    return MidiError::BadDeviceId;  // taken off the list since
                }
                backend = detail::openQueuedPort(s.testPortSink);
                result = MidiError::Ok;
                break;
            }
        }
        if (result != MidiError::Ok) {
            return result;
        }
        freeSlot->deviceName = device.name;
        freeSlot->backend.store(backend.release());
        const MidiOutHandle opened = s.nextGeneration.fetch_add(1) * kMaxOpen + freeIndex + 1;
        freeSlot->handle.store(opened);
        *handle = opened;
        return MidiError::Ok;
    } catch (const std::bad_alloc&) {
        return MidiError::NoMemory;
    } catch (...) {
        return MidiError::Error;
    }
}

MidiError midiOutShortMessage(MidiOutHandle handle, std::uint32_t message) noexcept {
    return withOpenDevice(handle, [message](detail::MidiOutBackend& backend) noexcept {
        backend.shortMessage(message);
    });
}

std::uint64_t midiOutDroppedCount(MidiOutHandle handle) noexcept {
    std::uint64_t count = 0;
    (void)withOpenDevice(handle, [&count](detail::MidiOutBackend& backend) noexcept {
        count = backend.dropped();
    });
    return count;
}

MidiError midiOutPreparePrograms(MidiOutHandle handle, std::span<const MidiProgram> programs) {
    try {
        return withOpenDevice(handle, [programs](detail::MidiOutBackend& backend) {
            backend.preparePrograms(programs);
        });
    } catch (const std::bad_alloc&) {
        return MidiError::NoMemory;
    } catch (...) {
        return MidiError::Error;
    }
}

MidiError useMidiOutDevice(MidiOutHandle handle, const std::function<void(MidiOutDevice&)>& use) {
    try {
        return withOpenDevice(handle, use);
    } catch (...) {
        return MidiError::Error;
    }
}

void setBuiltInSynthesizer(MidiDeviceOpener opener) {
    state().synthesizer.store(opener);
}

MidiError midiOutReset(MidiOutHandle handle) {
    try {
        return withOpenDevice(handle, [](detail::MidiOutBackend& backend) { backend.reset(); });
    } catch (...) {
        return MidiError::Error;
    }
}

MidiError midiOutClose(MidiOutHandle handle) {
    OpenSlot* slot = findOpen(handle);
    if (slot == nullptr) {
        return MidiError::InvalidHandle;
    }
    State& s = state();
    std::lock_guard lock(s.mutex);
    MidiOutHandle expected = handle;
    if (!slot->handle.compare_exchange_strong(expected, 0)) {
        return MidiError::InvalidHandle;
    }
    while (slot->users.load() != 0) {
        std::this_thread::yield();
    }
    delete slot->backend.load();
    slot->deviceName.clear();
    slot->backend.store(nullptr);
    return MidiError::Ok;
}

namespace detail {

void setTestPort(const std::string& name, MidiSink sink) {
    State& s = state();
    std::lock_guard lock(s.testPortMutex);
    s.testPortName = sink ? name.substr(0, kMidiProductNameMax) : std::string();
    s.testPortSink = std::move(sink);
}

}  // namespace detail

std::string midiOutErrorText(MidiError error) {
    switch (error) {
        case MidiError::Ok:
            return "The operation completed.";
        case MidiError::Error:
            return "An unexpected error occurred in the MIDI output.";
        case MidiError::BadDeviceId:
            return "There is no MIDI output device with that number.";
        case MidiError::Allocated:
            return "The MIDI output device is already in use.";
        case MidiError::InvalidHandle:
            return "The MIDI output device is not open.";
        case MidiError::NoMemory:
            return "Not enough memory to open the MIDI output device.";
        case MidiError::NoSoundFont:
            // The sequencer shows at most 249 characters of this.
            return "No General MIDI SoundFont in /usr/share/sounds/sf2 or sf3, "
                   "/usr/share/soundfonts or ~/.local/share/sounds/sf2. Install "
                   "fluid-soundfont-gm (Debian, Ubuntu, Fedora, openSUSE) or soundfont-fluid "
                   "(Arch), or set [Preferences] SoundFont in CANTIVO.INI.";
        case MidiError::NoSoundServer:
            return "Cannot connect to the sound server. Start PulseAudio or PipeWire and try "
                   "again.";
        case MidiError::SynthFailed:
            return "The built-in synthesizer could not be started.";
        case MidiError::PortFailed:
            return "The MIDI output port could not be opened.";
        case MidiError::CaptureFile:
            return "The MIDI capture file could not be created.";
    }
    return "Unknown MIDI output error.";
}

}  // namespace platform
