#include "SequencerTable.h"

#include "platform/system.h"

namespace cvktool {

std::variant<SequencerTable, std::string> loadSequencer(const std::string& fileName) {
    void* library = platform::loadProgramLibrary(fileName);
    if (library == nullptr) {
        return "cannot load " + fileName + " from " + platform::programFolder() + ": " +
               platform::libraryError();
    }
    SequencerTable table;
    const std::vector<std::string> missing = pulsant::bindEntries(library, table);
    if (!missing.empty()) {
        // A half-bound table would crash at the first empty entry; refuse it whole.
        platform::freeLibrary(library);
        return fileName + " does not export " + missing.front();
    }
    return table;
}

}  // namespace cvktool
