#include "pulsant/binding.h"

#include "platform/system.h"

namespace pulsant {

void bindEntry(void* library, void*& entry, const char* name, std::vector<std::string>& missing) {
    entry = library != nullptr ? platform::resolveName(library, name) : nullptr;
    if (entry == nullptr) {
        missing.emplace_back(name);
    }
}

std::vector<std::string> bindEntries(void* library, Entries& entries) {
    std::vector<std::string> missing;
    PULSANT_EXPORTS(PULSANT_BIND_ENTRY)
    return missing;
}

bool windowComplete(const Entries& entries) {
#define PULSANT_BOUND(name, result, parameters) &&entries.name != nullptr
    return true PULSANT_WINDOW_EXPORTS(PULSANT_BOUND);
#undef PULSANT_BOUND
}

}  // namespace pulsant
