#pragma once

#include <optional>

#include "platform/files.h"

namespace testing_support {

// Disarms the process-wide file fault switches however a test ends.
class FaultGuard {
public:
    FaultGuard() = default;
    ~FaultGuard() {
        platform::setWriteFaultAfter(std::nullopt);
        platform::setReplaceFault(false);
        platform::setReplaceFaultAfter(std::nullopt);
        platform::setFlushFault(false);
    }
    FaultGuard(const FaultGuard&) = delete;
    FaultGuard& operator=(const FaultGuard&) = delete;
};

}  // namespace testing_support
