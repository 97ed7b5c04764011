#pragma once

#include <cstdint>
#include <string>

#include "platform/export.h"

// Private-profile (INI) files: [Section] headers and Key=Value lines. Section and key
// names compare without regard to case. Every call opens the file anew, so nothing in
// memory mirrors it; a write replaces the whole file atomically.
namespace platform {

// The value as a decimal integer (leading blanks and a sign allowed, trailing text
// ignored); `fallback` when the file, section or key is missing or the value has no digits.
CVK_PLATFORM_API std::int32_t profileGetInt(const std::string& section, const std::string& key,
                                            std::int32_t fallback, const std::string& path);

// The value with surrounding blanks (and one pair of surrounding quotes) removed;
// `fallback` when the file, section or key is missing.
CVK_PLATFORM_API std::string profileGetString(const std::string& section, const std::string& key,
                                              const std::string& fallback, const std::string& path);

// Sets Key=Value in the section, creating the file, the section or the key as needed and
// keeping every other line. False when the file could not be written; the old file is
// then unchanged.
CVK_PLATFORM_API bool profileWriteString(const std::string& section, const std::string& key,
                                         const std::string& value, const std::string& path);

}  // namespace platform
