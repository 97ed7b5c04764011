#pragma once

// The wave library's entry points that the window calls, as replaceable functions: the
// program calls the library, a test may put its own in their place to see the calls and
// their order.

#include <cstdint>
#include <functional>

#include "voxcapt/voxcapt.h"

namespace cvkapp {

struct AudioUnit {
    using Call0 = std::function<std::int32_t()>;
    using Call1 = std::function<std::int32_t(std::int32_t)>;
    using Levels = std::function<std::int32_t(std::int32_t*, std::int32_t*)>;
    using Notification = std::function<std::int32_t(std::uint32_t, std::uintptr_t, std::intptr_t)>;

    // Playback of the recorded voice.
    std::function<std::int32_t(std::uint32_t window, const char* path)> AudioPlayFile =
        ::AudioPlayFile;
    Call0 AudioStopPlaying = ::AudioStopPlaying;
    Call0 AudioPause = ::AudioPause;
    Call1 AudioRewind = ::AudioRewind;
    Call1 AudioForward = ::AudioForward;
    Levels AudioGetWavePlayLevels = ::AudioGetWavePlayLevels;
    // 1 replaces the recorded voice by silence, 0 plays it again; returns the flag.
    Call1 AudioPlaySilenceWave = ::AudioPlaySilenceWave;
    Call1 UpdateOffsetForPlayBack = ::UpdateOffsetForPlayBack;
    Call1 AudioShiftPlayback = ::AudioShiftPlayback;
    Call1 AudioSetEchoDelay = ::AudioSetEchoDelay;

    // Recording.
    std::function<std::int32_t(std::uint32_t window, const char* target, std::int32_t rate,
                               std::int32_t channels, std::int32_t bits, std::int32_t bufferBytes,
                               std::int32_t monitor, std::int32_t failWithoutMonitor)>
        AudioStartRecord = ::AudioStartRecord;
    Call0 AudioStopRecord = ::AudioStopRecord;
    std::function<std::int32_t(char* path, std::int32_t pathBytes)> AudioGetRecordResult =
        ::AudioGetRecordResult;
    Levels AudioGetWaveRecLevels = ::AudioGetWaveRecLevels;
    Call1 AudioSuppressWave = ::AudioSuppressWave;

    // The wave devices' notifications, handed back to the library by the window.
    Notification ProcessWavePlayMsg = ::ProcessWavePlayMsg;
    Notification ProcessWaveRecMsg = ::ProcessWaveRecMsg;
};

}  // namespace cvkapp
