#include "audio/mixer.h"

#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <vector>

#include "audio/routing.h"
#include "mixer_backend.h"

namespace audio {
namespace {

// An open handle, as the server's thread reads it to post a notification: written under
// the handles' mutex, read without a lock. The version is odd while the slot is rewritten
// and changes with every rewrite, so a reader that sees it odd or changed skips the slot;
// only a handle opening or closing at that very moment misses a notification.
struct OpenSlot {
    std::atomic<std::uint32_t> version{0};
    std::atomic<MixerHandle> handle{0};  // 0: free
    std::atomic<MixerId> mixer{0};
    std::atomic<platform::WindowHandle> window{0};
};

constexpr std::size_t kMostOpen = 64;

// A mute the recording path needs off.
struct HeldMute {
    MixerId mixer = 0;
    std::uint32_t control = 0;
};

struct State {
    // Ends with the process: a microphone a recording left open is muted again.
    ~State();

    // The open handles: read by the server's thread to post notifications. Declared
    // first, so that they outlive a backend whose thread still posts while it ends.
    std::mutex handlesMutex;  // the callers' threads, for writing the slots
    std::array<OpenSlot, kMostOpen> open;
    MixerHandle nextHandle = 1;
    // Calls into the backend, one at a time; the sound server's answers are waited for
    // with this held, so the server's thread never takes it.
    std::mutex backendMutex;
    std::unique_ptr<detail::MixerBackend> backend;
    // The microphone's holds and the mutes they switch: the callers' threads, never taken
    // inside a backend call.
    std::mutex holdMutex;
    int holds = 0;
    std::vector<HeldMute> heldMutes;  // registered
    std::vector<HeldMute> unmuted;    // switched off by the holds, to be switched on again
};

// With the handles' mutex held.
void writeSlot(OpenSlot& slot, MixerHandle handle, MixerId mixer, platform::WindowHandle window) {
    const std::uint32_t version = slot.version.load(std::memory_order_relaxed);
    slot.version.store(version + 1, std::memory_order_relaxed);
    // Released: a reader that sees a new field sees the odd version too.
    slot.handle.store(handle, std::memory_order_release);
    slot.mixer.store(mixer, std::memory_order_release);
    slot.window.store(window, std::memory_order_release);
    slot.version.store(version + 2, std::memory_order_release);
}

State& state() {
    static State s;
    return s;
}

// Runs `call` on the backend in use, the sound server unless a test chose otherwise.
template <typename Call>
auto withBackend(State& s, Call call) -> decltype(call(std::declval<detail::MixerBackend&>())) {
    std::lock_guard lock(s.backendMutex);
    try {
        if (s.backend == nullptr) {
            s.backend = detail::makeServerMixer();
        }
        return call(*s.backend);
    } catch (const std::bad_alloc&) {
        if constexpr (std::is_same_v<decltype(call(*s.backend)), MixerError>) {
            return MixerError::NoMemory;
        } else {
            return {};
        }
    }
}

template <typename Call>
auto withBackend(Call call) -> decltype(call(std::declval<detail::MixerBackend&>())) {
    return withBackend(state(), call);
}

void replaceBackend(std::unique_ptr<detail::MixerBackend> backend) {
    State& s = state();
    // What the old mixer routed, and the mutes registered with it, mean nothing to the new
    // one; a hold that goes on does not switch the old one's mutes back either.
    resetRouting();
    {
        std::lock_guard hold(s.holdMutex);
        s.heldMutes.clear();
        s.unmuted.clear();
    }
    {
        std::lock_guard handles(s.handlesMutex);
        for (OpenSlot& slot : s.open) {
            if (slot.handle.load(std::memory_order_relaxed) != 0) {
                writeSlot(slot, 0, 0, 0);
            }
        }
    }
    std::lock_guard lock(s.backendMutex);
    s.backend = std::move(backend);
}

// A selector takes one channel; any other control as many as its line has.
MixerError checkChannels(detail::MixerBackend& backend, MixerId mixer, std::uint32_t controlId,
                         std::uint32_t channels, std::size_t available) {
    MixerControlInfo control;
    if (const MixerError error = backend.controlById(mixer, controlId, control);
        error != MixerError::Ok) {
        return error;
    }
    const std::uint32_t most =
        isMultipleItem(control.type) ? 1 : backend.controlChannels(mixer, controlId);
    const std::size_t needed = isMultipleItem(control.type) ? control.items : channels;
    if (channels == 0 || channels > most || available < needed) {
        return MixerError::InvalidValue;
    }
    return MixerError::Ok;
}

// A switch's value (0 or 1) through the backend of `s`; false when it cannot be read.
bool readSwitch(State& s, const HeldMute& mute, std::uint32_t& value) {
    return withBackend(s, [&](detail::MixerBackend& b) {
        std::array<std::uint32_t, 1> values{};
        if (checkChannels(b, mute.mixer, mute.control, 1, values.size()) != MixerError::Ok ||
            b.getValues(mute.mixer, mute.control, 1, values) != MixerError::Ok) {
            return false;
        }
        value = values[0];
        return true;
    });
}

bool writeSwitch(State& s, const HeldMute& mute, std::uint32_t value) {
    return withBackend(s, [&](detail::MixerBackend& b) {
        const std::array<std::uint32_t, 1> values{value};
        return checkChannels(b, mute.mixer, mute.control, 1, values.size()) == MixerError::Ok &&
               b.setValues(mute.mixer, mute.control, 1, values) == MixerError::Ok;
    });
}

// Switches a registered mute off for a hold; remembers it when it was on.
void unmuteForHold(State& s, const HeldMute& mute) {
    std::uint32_t value = 0;
    if (readSwitch(s, mute, value) && value != 0 && writeSwitch(s, mute, 0)) {
        s.unmuted.push_back(mute);
    }
}

// The hold has ended: what it switched off is switched on again, where it is still off.
void remuteAfterHold(State& s) {
    for (const HeldMute& mute : s.unmuted) {
        std::uint32_t value = 1;
        if (readSwitch(s, mute, value) && value == 0) {
            writeSwitch(s, mute, 1);
        }
    }
    s.unmuted.clear();
}

State::~State() {
    try {
        std::lock_guard hold(holdMutex);
        if (backend != nullptr) {
            remuteAfterHold(*this);
        }
    } catch (...) {
        // Nothing more can be done at the process's end.
    }
}

}  // namespace

namespace detail {

void notifyMixerChange(MixerId mixer, std::uint32_t message, std::uint32_t id) {
    for (const OpenSlot& slot : state().open) {
        const std::uint32_t version = slot.version.load(std::memory_order_acquire);
        const MixerHandle handle = slot.handle.load(std::memory_order_acquire);
        const MixerId slotMixer = slot.mixer.load(std::memory_order_acquire);
        const platform::WindowHandle window = slot.window.load(std::memory_order_acquire);
        if ((version & 1) != 0 || slot.version.load(std::memory_order_acquire) != version ||
            handle == 0 || slotMixer != mixer || window == 0) {
            continue;
        }
        platform::postMessage(window, message, handle, static_cast<std::intptr_t>(id));
    }
}

}  // namespace detail

std::uint32_t mixerOutputDeviceCount() {
    return withBackend([](detail::MixerBackend& b) { return b.outputCount(); });
}

MixerError mixerOutputDeviceName(std::uint32_t device, std::string& name) {
    name.clear();
    return withBackend([&](detail::MixerBackend& b) { return b.outputName(device, name); });
}

std::uint32_t mixerInputDeviceCount() {
    return withBackend([](detail::MixerBackend& b) { return b.inputCount(); });
}

MixerError mixerInputDeviceName(std::uint32_t device, std::string& name) {
    name.clear();
    return withBackend([&](detail::MixerBackend& b) { return b.inputName(device, name); });
}

MixerError mixerIdOfOutput(std::uint32_t device, MixerId& id) {
    return withBackend([&](detail::MixerBackend& b) { return b.outputMixer(device, id); });
}

MixerError mixerIdOfInput(std::uint32_t device, MixerId& id) {
    return withBackend([&](detail::MixerBackend& b) { return b.inputMixer(device, id); });
}

MixerError mixerDestination(MixerId mixer, ComponentType type, MixerLineInfo& line) {
    return withBackend([&](detail::MixerBackend& b) { return b.destination(mixer, type, line); });
}

MixerError mixerSourceLine(MixerId mixer, std::uint32_t destination, std::uint32_t source,
                           MixerLineInfo& line) {
    return withBackend(
        [&](detail::MixerBackend& b) { return b.sourceLine(mixer, destination, source, line); });
}

MixerError mixerLineControl(MixerId mixer, std::uint32_t lineId, ControlType type,
                            MixerControlInfo& control) {
    return withBackend(
        [&](detail::MixerBackend& b) { return b.lineControl(mixer, lineId, type, control); });
}

MixerError mixerControlById(MixerId mixer, std::uint32_t controlId, MixerControlInfo& control) {
    return withBackend(
        [&](detail::MixerBackend& b) { return b.controlById(mixer, controlId, control); });
}

MixerError mixerGetValues(MixerId mixer, std::uint32_t controlId, std::uint32_t channels,
                          std::span<std::uint32_t> values) {
    return withBackend([&](detail::MixerBackend& b) {
        if (const MixerError error = checkChannels(b, mixer, controlId, channels, values.size());
            error != MixerError::Ok) {
            return error;
        }
        return b.getValues(mixer, controlId, channels, values);
    });
}

MixerError mixerSetValues(MixerId mixer, std::uint32_t controlId, std::uint32_t channels,
                          std::span<const std::uint32_t> values) {
    return withBackend([&](detail::MixerBackend& b) {
        if (const MixerError error = checkChannels(b, mixer, controlId, channels, values.size());
            error != MixerError::Ok) {
            return error;
        }
        return b.setValues(mixer, controlId, channels, values);
    });
}

MixerError mixerItemTexts(MixerId mixer, std::uint32_t controlId, std::vector<std::string>& texts) {
    texts.clear();
    return withBackend(
        [&](detail::MixerBackend& b) { return b.itemTexts(mixer, controlId, texts); });
}

MixerError mixerOpen(MixerHandle& handle, MixerId mixer, platform::WindowHandle window) {
    handle = 0;
    State& s = state();
    return withBackend([&](detail::MixerBackend& b) {
        bool first = true;
        bool room = false;
        {
            std::lock_guard lock(s.handlesMutex);
            for (const OpenSlot& slot : s.open) {
                const bool free = slot.handle.load(std::memory_order_relaxed) == 0;
                room = room || free;
                first = first && (free || slot.mixer.load(std::memory_order_relaxed) != mixer);
            }
        }
        if (!room) {
            return MixerError::NoMemory;
        }
        if (first) {
            if (const MixerError error = b.opened(mixer); error != MixerError::Ok) {
                return error;
            }
        }
        std::lock_guard lock(s.handlesMutex);
        for (OpenSlot& slot : s.open) {
            if (slot.handle.load(std::memory_order_relaxed) == 0) {
                handle = s.nextHandle++;
                writeSlot(slot, handle, mixer, window);
                return MixerError::Ok;
            }
        }
        return MixerError::NoMemory;
    });
}

MixerError mixerClose(MixerHandle handle) {
    State& s = state();
    return withBackend([&](detail::MixerBackend& b) {
        MixerId mixer = 0;
        bool found = false;
        {
            std::lock_guard lock(s.handlesMutex);
            for (OpenSlot& slot : s.open) {
                if (handle != 0 && slot.handle.load(std::memory_order_relaxed) == handle) {
                    mixer = slot.mixer.load(std::memory_order_relaxed);
                    found = true;
                    writeSlot(slot, 0, 0, 0);
                    break;
                }
            }
        }
        if (!found) {
            return MixerError::InvalidHandle;
        }
        b.closed(mixer);
        return MixerError::Ok;
    });
}

void mixerUnmuteWhileHeld(MixerId mixer, std::uint32_t muteControl) {
    State& s = state();
    std::lock_guard lock(s.holdMutex);
    const HeldMute mute{mixer, muteControl};
    s.heldMutes.push_back(mute);
    if (s.holds > 0) {
        unmuteForHold(s, mute);
    }
}

void mixerForgetHeldMutes() {
    State& s = state();
    std::lock_guard lock(s.holdMutex);
    s.heldMutes.clear();
}

void mixerHoldMicrophone() {
    State& s = state();
    std::lock_guard lock(s.holdMutex);
    if (s.holds++ == 0) {
        for (const HeldMute& mute : s.heldMutes) {
            unmuteForHold(s, mute);
        }
    }
}

void mixerReleaseMicrophone() {
    State& s = state();
    std::lock_guard lock(s.holdMutex);
    if (s.holds > 0 && --s.holds == 0) {
        remuteAfterHold(s);
    }
}

void useVirtualMixer(const VirtualMixerSetup& setup) {
    replaceBackend(detail::makeVirtualMixer(setup));
}

void useRealMixer() {
    replaceBackend(nullptr);
}

std::uint32_t virtualMixerControlId(const std::string& tag) {
    return withBackend([&](detail::MixerBackend& b) { return detail::virtualControlId(b, tag); });
}

std::vector<std::uint32_t> virtualMixerValues(const std::string& tag) {
    return withBackend([&](detail::MixerBackend& b) { return detail::virtualValues(b, tag); });
}

void setVirtualMixerValues(const std::string& tag, std::vector<std::uint32_t> values) {
    withBackend([&](detail::MixerBackend& b) {
        detail::setVirtualValues(b, tag, std::move(values));
        return 0;
    });
}

}  // namespace audio
