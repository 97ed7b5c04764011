#pragma once

// Reading the environment.

#include <cstdlib>
#include <string>

namespace platform {

// The variable's value; empty when it is not set.
inline std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace platform
