#pragma once

// The wave library's entry points that the window calls, as replaceable functions: the
// program calls the library, a test may put its own in their place to see the calls.

#include <cstdint>
#include <functional>

#include "voxcapt/voxcapt.h"

namespace cvkapp {

struct AudioUnit {
    // 1 replaces the recorded voice by silence, 0 plays it again; returns the flag.
    std::function<std::int32_t(std::int32_t flag)> AudioPlaySilenceWave = ::AudioPlaySilenceWave;
    // The wave devices' notifications, handed back to the library by the window.
    std::function<std::int32_t(std::uint32_t, std::uintptr_t, std::intptr_t)> ProcessWavePlayMsg =
        ::ProcessWavePlayMsg;
    std::function<std::int32_t(std::uint32_t, std::uintptr_t, std::intptr_t)> ProcessWaveRecMsg =
        ::ProcessWaveRecMsg;
};

}  // namespace cvkapp
