#pragma once

#include <cstdint>

namespace platform {

// Runs a library export's body; anything thrown becomes the export's failure result, so
// no exception ever crosses into the caller.
template <typename Body>
std::int32_t guarded(std::int32_t failure, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace platform
