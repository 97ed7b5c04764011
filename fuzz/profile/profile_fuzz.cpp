// Arbitrary bytes as a profile file: the readers must not crash or read out of bounds, and
// a write must keep every other entry and read back exactly what was written.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../FuzzFiles.h"
#include "platform/profile.h"

namespace {

// Values that take the writer's quoting paths as well as the plain one.
const char* const kValues[] = {"42", "", " padded ", "\"quoted\"", "a=b;c", "\""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string original = fuzzing::scratchFile("input.ini");
    const std::string copy = fuzzing::scratchFile("copy.ini");
    fuzzing::storeBytes(original, data, size);
    fuzzing::storeBytes(copy, data, size);

    const std::string fallback = "\x01missing";
    platform::profileGetInt("Settings", "Volume", -1, original);
    platform::profileGetString("settings", "NAME", fallback, original);
    const std::string otherKey = platform::profileGetString("Settings", "Name", fallback, original);
    const std::string otherSection = platform::profileGetString("Song", "Volume", fallback, original);

    const std::string value = kValues[size % (sizeof kValues / sizeof kValues[0])];
    if (platform::profileWriteString("Settings", "Volume", value, copy)) {
        if (platform::profileGetString("SETTINGS", "volume", fallback, copy) != value) {
            std::abort();  // what was written does not read back
        }
        if (platform::profileGetString("Settings", "Name", fallback, copy) != otherKey ||
            platform::profileGetString("Song", "Volume", fallback, copy) != otherSection) {
            std::abort();  // the write disturbed another entry
        }
    } else if (fuzzing::loadBytes(copy) != std::vector<std::uint8_t>(data, data + size)) {
        std::abort();  // a refused write changed the file
    }
    return 0;
}
