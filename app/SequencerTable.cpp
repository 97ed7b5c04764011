#include "SequencerTable.h"

#include "platform/system.h"

namespace cvkapp {

std::string sequencerLibraryName() {
    return platform::platformId() == platform::PlatformId::Windows9x ? "libpulsbrdg.so"
                                                                     : "libpulsant.so";
}

SequencerTable bindSequencer(const std::string& fileName, void*& library) {
    SequencerTable table;
    library = platform::loadProgramLibrary(fileName);
    if (library != nullptr) {
        pulsant::bindEntries(library, table);
    }
    return table;
}

}  // namespace cvkapp
