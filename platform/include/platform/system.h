#pragma once

#include <optional>
#include <string>

#include "platform/export.h"

namespace platform {

// Operating-system families as the libraries know them. Linux reports the NT family;
// tests override it to reach the paths of the 9x family.
enum class PlatformId { Win32s = 0, Windows9x = 1, NT = 2 };

CVK_PLATFORM_API PlatformId platformId();
CVK_PLATFORM_API void setPlatformIdOverride(std::optional<PlatformId> id);

// The folder of the running executable, ending in '/'.
CVK_PLATFORM_API std::string programFolder();

// Loads a shared library by file name from the program's folder. nullptr on failure;
// libraryError() then says why.
CVK_PLATFORM_API void* loadProgramLibrary(const std::string& fileName);
CVK_PLATFORM_API void* resolveName(void* library, const char* name);
CVK_PLATFORM_API void freeLibrary(void* library);
CVK_PLATFORM_API std::string libraryError();

}  // namespace platform
