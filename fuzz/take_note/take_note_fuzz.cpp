// Arbitrary bytes as a take's note: the reader must not crash or read out of bounds, and
// what it accepts must be exactly what the writer makes of the note it read, so that no
// two texts mean the same note and nothing is read that was never written.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "TakeRecovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const cvkapp::TakeNoteParse parsed = cvkapp::ParseTakeNote(text);
    if (parsed.note.has_value() == !parsed.error.empty()) {
        std::abort();  // a note with an error, or neither
    }
    if (parsed.note && cvkapp::FormatTakeNote(*parsed.note) != text) {
        std::abort();  // accepted a text the writer would not write
    }
    return 0;
}
