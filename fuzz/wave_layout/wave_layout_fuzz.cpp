// Arbitrary bytes as the start of a take being recorded: nothing may crash or read out of
// bounds, and a layout found must point inside the bytes with a format a tracker takes.
#include <cstdint>
#include <cstdlib>

#include "LiveTake.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<pitch::WaveLayout> layout = pitch::ReadWaveLayout(data, size);
    if (layout && (layout->dataOffset > size || (layout->bits != 8 && layout->bits != 16) ||
                   layout->channels < 1 || layout->channels > 8 || layout->rate < 1000)) {
        std::abort();
    }
    return 0;
}
