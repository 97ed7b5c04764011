#pragma once

// The program's string resources. The General MIDI instrument names sit under the
// identifiers 1..128: the name of program p is resource p + 1.

#include <string_view>

namespace resources {

constexpr int kInstrumentCount = 128;

// The string resource `identifier`; empty when there is none.
std::string_view loadString(int identifier);

// The name of General MIDI program 0..127; empty for any other number (255 = no program).
std::string_view instrumentName(int program);

}  // namespace resources
