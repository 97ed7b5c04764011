#include "State.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <optional>
#include <vector>

#include "platform/dialogs.h"
#include "voxcapt/voxcapt.h"

namespace voxcapt {
namespace {

std::optional<int> g_allocationsLeft;  // test fault: allocations until they fail

}  // namespace

bool allocationAllowed() {
    if (!g_allocationsLeft) {
        return true;
    }
    if (*g_allocationsLeft <= 0) {
        return false;
    }
    --*g_allocationsLeft;
    return true;
}

void setAllocationFaultAfter(std::optional<int> count) { g_allocationsLeft = count; }

namespace detail {

namespace {

// The module state, and its last duty at the process's exit: a take still running there
// (a host that returned from main without stopping it) is kept, not lost with the memory.
class StateHolder {
public:
    ~StateHolder() {
        if (m_state && keepTakeAtExit(*m_state)) {
            // A device may still fill the buffers: they stay (reachable, not leaked).
            s_keptAtExit = m_state.release();
        }
    }
    State& get() { return *m_state; }
    void reset() { m_state = std::make_unique<State>(); }

private:
    std::unique_ptr<State> m_state = std::make_unique<State>();
    static inline State* s_keptAtExit = nullptr;
};

StateHolder g_state;

std::vector<std::string> g_deferredBoxes;  // window thread
bool g_showingBoxes = false;               // window thread

}  // namespace

State& state() { return g_state.get(); }

void resetState() { g_state.reset(); }

int allocateBuffers(BufferSlots& slots, std::uint32_t bytes) {
    int made = 0;
    for (auto& slot : slots) {
        if (!allocationAllowed()) {
            break;
        }
        auto buffer = std::unique_ptr<Buffer>(new (std::nothrow) Buffer);
        if (!buffer) {
            break;
        }
        buffer->data.reset(new (std::nothrow) char[bytes]());
        if (!buffer->data) {
            break;
        }
        buffer->header.lpData = buffer->data.get();
        buffer->header.dwBufferLength = bytes;
        slot = std::move(buffer);
        ++made;
    }
    return made;
}

void freeBuffers(BufferSlots& slots, std::uint32_t device,
                 audio::WaveError (*unprepare)(std::uint32_t, audio::WaveHeader*)) {
    for (auto& slot : slots) {
        if (slot) {
            if (device != 0) {
                unprepare(device, &slot->header);
            }
            slot.reset();
        }
    }
}

int slotOf(const BufferSlots& slots, const audio::WaveHeader* header) {
    for (int i = 0; i < kMaxBuffers; ++i) {
        if (slots[static_cast<std::size_t>(i)] && &slots[static_cast<std::size_t>(i)]->header == header) {
            return i;
        }
    }
    return -1;
}

bool debugging() {
    static const bool enabled = [] {
        const char* debug = std::getenv("CVK_DEBUG");
        return debug != nullptr && *debug != '\0';
    }();
    return enabled;
}

void errorBox(const std::string& text) {
    platform::showMessageBox(text, "ERROR!", platform::MessageButtons::Ok,
                             platform::MessageIcon::None);
}

void ownedBox(platform::WindowHandle window, const std::string& text) {
    platform::showMessageBox(text, "Veyra Audio Cantivo Karaoke", platform::MessageButtons::Ok,
                             platform::MessageIcon::None, window);
}

void deferErrorBox(const std::string& text) {
    if (std::find(g_deferredBoxes.begin(), g_deferredBoxes.end(), text) == g_deferredBoxes.end()) {
        g_deferredBoxes.push_back(text);
    }
}

void showDeferredBoxes() {
    if (g_showingBoxes) {
        return;
    }
    struct Showing {
        Showing() { g_showingBoxes = true; }
        ~Showing() { g_showingBoxes = false; }
    } showing;
    while (!g_deferredBoxes.empty()) {
        const std::string text = std::move(g_deferredBoxes.front());
        g_deferredBoxes.erase(g_deferredBoxes.begin());
        errorBox(text);
    }
}

void forgetDeferredBoxes() {
    g_deferredBoxes.clear();
    g_showingBoxes = false;
}

const char* const kNoSoundServerText =
    "The sound server is not running, so the voice can be neither played nor recorded. "
    "Start PulseAudio or PipeWire and try again.";

std::string streamFailureText(audio::WaveError error) {
    switch (error) {
        case audio::WaveError::NoSoundServer:
            return "the sound server went away";
        case audio::WaveError::BadDeviceId:
        case audio::WaveError::NoDriver:
            return "its device was removed";
        default:
            return "the sound server ended it";
    }
}

}  // namespace detail

void resetForTest() {
    detail::finishPlayback();
    detail::closeRecordingNow();
    detail::showDeferredBoxes();
    detail::forgetDeferredBoxes();
    detail::resetState();
    g_allocationsLeft.reset();
    setFreeSpaceProbe({});
}

uint32_t echoRingEntries() {
    const auto& echo = detail::state().echo;
    return echo ? echo->entries() : 0;
}

}  // namespace voxcapt
