#include "State.h"

#include <cstdlib>
#include <new>
#include <optional>

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
std::unique_ptr<State> g_state = std::make_unique<State>();
}  // namespace

State& state() { return *g_state; }

void resetState() { g_state = std::make_unique<State>(); }

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

}  // namespace detail

void resetForTest() {
    detail::finishPlayback();
    detail::closeRecordingNow();
    detail::resetState();
    g_allocationsLeft.reset();
    setFreeSpaceProbe({});
}

uint32_t echoRingEntries() {
    const auto& echo = detail::state().echo;
    return echo ? echo->entries() : 0;
}

}  // namespace voxcapt
