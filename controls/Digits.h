#pragma once

#include <QString>
#include <array>
#include <optional>

// Splitting the display boxes' counters into digit faces.
namespace controls::digits {

// The decimal digits of `value`, most significant first, with leading zeros, when it fits
// in `Count` digits; nothing for a negative value or one too wide. A box then shows only
// its background rather than a misleading truncated number.
template <int Count>
std::optional<std::array<int, Count>> split(int value) {
    static_assert(Count > 0 && Count < 10);
    int limit = 1;
    for (int i = 0; i < Count; ++i) {
        limit *= 10;
    }
    if (value < 0 || value >= limit) {
        return std::nullopt;
    }
    std::array<int, Count> digits{};
    for (int i = Count - 1; i >= 0; --i) {
        digits[static_cast<std::size_t>(i)] = value % 10;
        value /= 10;
    }
    return digits;
}

}  // namespace controls::digits
