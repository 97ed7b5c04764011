#include "audio/wave_out.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/environment.h"
#include "wave_device.h"

namespace audio {
namespace detail {
namespace {

// One open device of either direction; both share one space of handles, so a handle of
// one direction is never mistaken for the other's.
struct Entry {
    std::unique_ptr<WaveDevice> device;
    bool input = false;
    platform::WindowHandle window = 0;
};

struct State {
    std::mutex mutex;  // the window's thread; never taken by an audio thread
    std::unique_ptr<WaveBackend> backend;
    std::map<std::uint32_t, Entry> open;
    std::uint32_t nextHandle = 1;
};

State& state() {
    static State s;
    return s;
}

WaveBackend& backendLocked(State& s) {
    if (!s.backend) {
        if (platform::environment("CVK_VIRTUAL_WAVE") == "1") {
            VirtualWaveSetup setup;
            setup.microphoneFile = platform::environment("CVK_WAVE_MICROPHONE");
            setup.speakersFile = platform::environment("CVK_WAVE_SPEAKERS");
            setup.failAfterMs = static_cast<std::uint32_t>(
                std::strtoul(platform::environment("CVK_WAVE_FAIL_MS").c_str(), nullptr, 10));
            s.backend = makeVirtualWaveBackend(setup);
        } else {
            s.backend = makePulseWaveBackend();
        }
    }
    return *s.backend;
}

Entry* find(State& s, bool input, std::uint32_t handle) {
    auto it = s.open.find(handle);
    return it != s.open.end() && it->second.input == input ? &it->second : nullptr;
}

template <typename Use>
WaveError withDevice(bool input, std::uint32_t handle, Use&& use) {
    try {
        State& s = state();
        std::lock_guard lock(s.mutex);
        Entry* entry = find(s, input, handle);
        return entry != nullptr ? use(*entry) : WaveError::InvalidHandle;
    } catch (const std::bad_alloc&) {
        return WaveError::NoMemory;
    } catch (...) {
        return WaveError::Error;
    }
}

// What the device with this handle answers, or `none` without one.
template <typename Answer, typename Ask>
Answer askDevice(bool input, std::uint32_t handle, Answer none, Ask ask) {
    Answer answer = none;
    (void)withDevice(input, handle, [&](Entry& entry) {
        answer = ask(*entry.device);
        return WaveError::Ok;
    });
    return answer;
}

}  // namespace

WaveBackend& waveBackend() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return backendLocked(s);
}

WaveError tableOpen(const WaveOpenRequest& request, std::uint32_t* handle) {
    if (handle == nullptr) {
        return WaveError::InvalidParameter;
    }
    *handle = 0;
    try {
        State& s = state();
        std::lock_guard lock(s.mutex);
        WaveOpenRequest opening = request;
        opening.handle = s.nextHandle;
        std::unique_ptr<WaveDevice> device;
        if (const WaveError result = backendLocked(s).open(opening, device); result != WaveError::Ok) {
            return result;
        }
        ++s.nextHandle;
        s.open.emplace(opening.handle, Entry{std::move(device), request.input, request.window});
        *handle = opening.handle;
        platform::postMessage(request.window, request.input ? kWaveInOpenMessage : kWaveOutOpenMessage,
                    opening.handle, 0);
        return WaveError::Ok;
    } catch (const std::bad_alloc&) {
        return WaveError::NoMemory;
    } catch (...) {
        return WaveError::Error;
    }
}

WaveError tableClose(bool input, std::uint32_t handle) {
    try {
        State& s = state();
        std::unique_ptr<WaveDevice> closing;
        platform::WindowHandle window = 0;
        {
            std::lock_guard lock(s.mutex);
            Entry* entry = find(s, input, handle);
            if (entry == nullptr) {
                return WaveError::InvalidHandle;
            }
            if (entry->device->busy()) {
                return WaveError::StillPlaying;
            }
            closing = std::move(entry->device);
            window = entry->window;
            s.open.erase(handle);
        }
        // The device's own thread is gone once it is destroyed, so the close notification
        // is the last one the window takes from this device.
        closing.reset();
        platform::postMessage(window, input ? kWaveInCloseMessage : kWaveOutCloseMessage, handle, 0);
        return WaveError::Ok;
    } catch (...) {
        return WaveError::Error;
    }
}

WaveError tablePrepare(bool input, std::uint32_t handle, WaveHeader* header) {
    return withDevice(input, handle, [header](Entry& entry) {
        if (header == nullptr) {
            return WaveError::InvalidParameter;
        }
        if (const WaveError failed = entry.device->failure(); failed != WaveError::Ok) {
            return failed;
        }
        header->dwFlags.fetch_or(kWaveHeaderPrepared);
        return WaveError::Ok;
    });
}

WaveError tableUnprepare(bool input, std::uint32_t handle, WaveHeader* header) {
    return withDevice(input, handle, [header](Entry&) {
        if (header == nullptr) {
            return WaveError::InvalidParameter;
        }
        if ((header->dwFlags.load() & kWaveHeaderInQueue) != 0) {
            return WaveError::StillPlaying;
        }
        header->dwFlags.fetch_and(~kWaveHeaderPrepared);
        return WaveError::Ok;
    });
}

WaveError tableSubmit(bool input, std::uint32_t handle, WaveHeader* header) {
    return withDevice(input, handle, [input, header](Entry& entry) {
        if (header == nullptr || (header->lpData == nullptr && header->dwBufferLength != 0)) {
            return WaveError::InvalidParameter;
        }
        const std::uint32_t flags = header->dwFlags.load();
        if ((flags & kWaveHeaderPrepared) == 0) {
            return WaveError::Unprepared;
        }
        if ((flags & kWaveHeaderInQueue) != 0) {
            return WaveError::StillPlaying;
        }
        if (input) {
            header->dwBytesRecorded = 0;
        }
        return entry.device->submit(header);
    });
}

WaveError tableRun(bool input, std::uint32_t handle) {
    return withDevice(input, handle, [](Entry& entry) { return entry.device->run(); });
}

WaveError tableHalt(bool input, std::uint32_t handle) {
    return withDevice(input, handle, [](Entry& entry) { return entry.device->halt(); });
}

WaveError tableReset(bool input, std::uint32_t handle) {
    return withDevice(input, handle, [](Entry& entry) { return entry.device->reset(); });
}

WaveError tableSetTap(std::uint32_t handle, CaptureTap* tap) {
    return withDevice(true, handle, [tap](Entry& entry) { return entry.device->setTap(tap); });
}

std::uint64_t tableXruns(bool input, std::uint32_t handle) {
    return askDevice(input, handle, std::uint64_t{0}, [](WaveDevice& device) { return device.xruns(); });
}

bool tablePlaybackClock(std::uint32_t handle, WaveOutClock& out) {
    return askDevice(false, handle, false, [&out](WaveDevice& device) { return device.playbackClock(out); });
}

bool tableCaptureClock(std::uint32_t handle, WaveInClock& out) {
    return askDevice(true, handle, false, [&out](WaveDevice& device) { return device.captureClock(out); });
}

}  // namespace detail

bool waveFormatPlayable(const WaveFormat& format) {
    const std::uint32_t bytesPerSample = format.bitsPerSample / 8u;
    return format.formatTag == kWaveFormatPcm &&
           (format.bitsPerSample == 8 || format.bitsPerSample == 16) &&
           (format.channels == 1 || format.channels == 2) && format.samplesPerSec >= 1 &&
           format.samplesPerSec <= 192000 &&
           format.blockAlign == format.channels * bytesPerSample &&
           format.avgBytesPerSec == format.samplesPerSec * format.blockAlign;
}

void useVirtualWave(const VirtualWaveSetup& setup) {
    auto backend = detail::makeVirtualWaveBackend(setup);
    detail::State& s = detail::state();
    std::lock_guard lock(s.mutex);
    s.backend = std::move(backend);
}

void useRealWave() {
    auto backend = detail::makePulseWaveBackend();
    detail::State& s = detail::state();
    std::lock_guard lock(s.mutex);
    s.backend = std::move(backend);
}

std::uint32_t waveOutDeviceCount() {
    try {
        return static_cast<std::uint32_t>(detail::waveBackend().deviceNames(false).size());
    } catch (...) {
        return 0;
    }
}

std::string waveOutDeviceName(std::uint32_t deviceId) {
    try {
        const auto names = detail::waveBackend().deviceNames(false);
        return deviceId < names.size() ? names[deviceId] : std::string();
    } catch (...) {
        return {};
    }
}

WaveError waveOutQuery(std::int32_t deviceId, const WaveFormat& format) {
    try {
        return detail::waveBackend().query(false, deviceId, format);
    } catch (...) {
        return WaveError::Error;
    }
}

WaveError waveOutOpen(WaveOutHandle* handle, std::int32_t deviceId, const WaveFormat& format,
                      platform::WindowHandle window, std::uint32_t latencyMs, std::uint32_t liveLeadBytes) {
    detail::WaveOpenRequest request;
    request.input = false;
    request.deviceId = deviceId;
    request.format = format;
    request.window = window;
    request.latencyMs = std::clamp<std::uint32_t>(latencyMs, kWaveOutMonitorLatencyMs, kWaveOutLatencyMs);
    request.liveLeadBytes = liveLeadBytes;
    return detail::tableOpen(request, handle);
}

WaveError waveOutPrepareHeader(WaveOutHandle handle, WaveHeader* header) {
    return detail::tablePrepare(false, handle, header);
}
WaveError waveOutUnprepareHeader(WaveOutHandle handle, WaveHeader* header) {
    return detail::tableUnprepare(false, handle, header);
}
WaveError waveOutWrite(WaveOutHandle handle, WaveHeader* header) {
    return detail::tableSubmit(false, handle, header);
}
WaveError waveOutPause(WaveOutHandle handle) { return detail::tableHalt(false, handle); }
WaveError waveOutRestart(WaveOutHandle handle) { return detail::tableRun(false, handle); }
WaveError waveOutReset(WaveOutHandle handle) { return detail::tableReset(false, handle); }
WaveError waveOutClose(WaveOutHandle handle) { return detail::tableClose(false, handle); }
std::uint64_t waveOutUnderruns(WaveOutHandle handle) { return detail::tableXruns(false, handle); }
bool waveOutClock(WaveOutHandle handle, WaveOutClock& out) { return detail::tablePlaybackClock(handle, out); }

}  // namespace audio
