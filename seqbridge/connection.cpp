#include "connection.h"

#include <cstring>

#include "platform/dialogs.h"
#include "platform/system.h"

namespace pulsbrdg {
namespace {

struct State {
    // Written by the loading thread inside the attach entry, before any export can be
    // bound; read by the caller's thread afterwards.
    void* library = nullptr;
    Puls16Entries entries;

    // The bridge's statics end when it is unloaded, and with them its hold on the outside
    // sequencer. The caller stops its song before unloading, so no timer runs its code.
    ~State() { platform::freeLibrary(library); }
};

State g_state;

// A library is the outside sequencer of this interface when its thunk data says so.
bool isOutsideSequencer(void* library) {
    const auto* data =
        static_cast<const PulsThunkData*>(platform::resolveName(library, "thk_ThunkData16"));
    return data != nullptr &&
           std::memcmp(data->signature, kPulsThunkData.signature, sizeof data->signature) == 0 &&
           data->interfaceVersion == kPulsThunkData.interfaceVersion;
}

void bindEntries(void* library, Puls16Entries& entries) {
    // Names the outside sequencer lacks stay empty: each export answers without them.
    std::vector<std::string> missing = pulsant::bindEntries(library, entries);
    PULSBRDG_EXPORTS(PULSANT_BIND_ENTRY)
}

}  // namespace

bool connectPuls16() {
    if (g_state.library != nullptr) {
        return true;
    }
    void* library = platform::loadProgramLibrary(kOutsideSequencer);
    if (library != nullptr && !isOutsideSequencer(library)) {
        platform::freeLibrary(library);
        library = nullptr;
    }
    if (library == nullptr) {
        platform::showMessageBox("Failed ThunkConnect32", "Error ", platform::MessageButtons::Ok,
                                 platform::MessageIcon::None);
        return false;
    }
    bindEntries(library, g_state.entries);
    g_state.library = library;
    return true;
}

const Puls16Entries& puls16() {
    return g_state.entries;
}

}  // namespace pulsbrdg

// The platform's loader calls this right after loading the bridge: without the outside
// sequencer the bridge cannot serve, and the load fails. Loading thread. 1 when connected.
extern "C" __attribute__((visibility("default"))) int32_t cvkLibraryAttach() {
    try {
        return pulsbrdg::connectPuls16() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
