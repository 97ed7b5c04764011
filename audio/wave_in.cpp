#include "audio/wave_in.h"

#include "audio/mixer.h"
#include "wave_device.h"

namespace audio {

std::uint32_t waveInDeviceCount() {
    try {
        return static_cast<std::uint32_t>(detail::waveBackend().deviceNames(true).size());
    } catch (...) {
        return 0;
    }
}

std::string waveInDeviceName(std::uint32_t deviceId) {
    try {
        const auto names = detail::waveBackend().deviceNames(true);
        return deviceId < names.size() ? names[deviceId] : std::string();
    } catch (...) {
        return {};
    }
}

WaveError waveInQuery(std::int32_t deviceId, const WaveFormat& format) {
    try {
        return detail::waveBackend().query(true, deviceId, format);
    } catch (...) {
        return WaveError::Error;
    }
}

WaveError waveInOpen(WaveInHandle* handle, std::int32_t deviceId, const WaveFormat& format,
                     platform::WindowHandle window) {
    detail::WaveOpenRequest request;
    request.input = true;
    request.deviceId = deviceId;
    request.format = format;
    request.window = window;
    const WaveError result = detail::tableOpen(request, handle);
    if (result == WaveError::Ok) {
        mixerHoldMicrophone();
    }
    return result;
}

WaveError waveInPrepareHeader(WaveInHandle handle, WaveHeader* header) {
    return detail::tablePrepare(true, handle, header);
}
WaveError waveInUnprepareHeader(WaveInHandle handle, WaveHeader* header) {
    return detail::tableUnprepare(true, handle, header);
}
WaveError waveInAddBuffer(WaveInHandle handle, WaveHeader* header) {
    return detail::tableSubmit(true, handle, header);
}
WaveError waveInStart(WaveInHandle handle) { return detail::tableRun(true, handle); }
WaveError waveInStop(WaveInHandle handle) { return detail::tableHalt(true, handle); }
WaveError waveInReset(WaveInHandle handle) { return detail::tableReset(true, handle); }
WaveError waveInClose(WaveInHandle handle) {
    const WaveError result = detail::tableClose(true, handle);
    if (result == WaveError::Ok) {
        mixerReleaseMicrophone();
    }
    return result;
}
std::uint64_t waveInOverruns(WaveInHandle handle) { return detail::tableXruns(true, handle); }
WaveError waveInSetTap(WaveInHandle handle, CaptureTap* tap) { return detail::tableSetTap(handle, tap); }
bool waveInClock(WaveInHandle handle, WaveInClock& out) { return detail::tableCaptureClock(handle, out); }

}  // namespace audio
