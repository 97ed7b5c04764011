// Performance files: the song followed by one chunk holding the recorded voice.

#include "Cantivo.h"

namespace cvkapp {

bool TCantivo::SavePerformance() {
    return false;
}

bool TCantivo::ReadPerformanceWave(const std::string&) {
    return false;
}

}  // namespace cvkapp
