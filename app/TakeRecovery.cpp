#include "TakeRecovery.h"

namespace cvkapp {

bool WriteTakeNote(const TakeNote&) {
    return true;
}

void RemoveTakeNote(const std::string&) {}

std::vector<TakeNote> FindInterruptedTakes(const std::string&) {
    return {};
}

}  // namespace cvkapp
