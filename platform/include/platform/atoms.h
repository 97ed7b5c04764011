#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/export.h"

namespace platform {

// A process-wide table of short texts named by 16-bit numbers, so that a text can travel
// in a message's wParam. Numbers are never 0 and start at 0xC000, where string atoms live.
// Adding a text that is already in the table returns the same number and counts one more
// reference; taking it removes one reference.

// Longest text the table holds, in bytes.
constexpr std::size_t kMaxAtomText = 255;

// Any thread. Adds a text; its number, or 0 when the text is empty, longer than
// kMaxAtomText (a cut path would name another file) or the table is full.
CVK_PLATFORM_API std::uint16_t addAtom(const std::string& text) noexcept;

// Any thread. The text of an atom, dropping one reference; empty for an unknown atom.
CVK_PLATFORM_API std::string takeAtom(std::uint16_t atom) noexcept;

}  // namespace platform
