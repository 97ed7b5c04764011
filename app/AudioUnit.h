#pragma once

// The wave library's entry points that the window calls. The library is not part of the
// program yet: until it is linked, the entries stay empty and a call through them does
// nothing, which is what the library itself does with no voice loaded.

#include <cstdint>
#include <functional>

namespace cvkapp {

struct AudioUnit {
    // 1 replaces the recorded voice by silence, 0 plays it again; returns the flag.
    std::function<std::int32_t(std::int32_t flag)> AudioPlaySilenceWave;
};

}  // namespace cvkapp
