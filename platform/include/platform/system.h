#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/export.h"

namespace platform {

// Operating-system families as the libraries know them. Linux reports the NT family
// unless CVK_PLATFORM names another ("9x" or "nt"); tests override it to reach the paths
// of the 9x family. An override wins over the environment.
enum class PlatformId { Win32s = 0, Windows9x = 1, NT = 2 };

CVK_PLATFORM_API PlatformId platformId();
CVK_PLATFORM_API void setPlatformIdOverride(std::optional<PlatformId> id);

// The folder of the running executable, ending in '/'.
CVK_PLATFORM_API std::string programFolder();
// Where the program keeps its settings for this user: $XDG_CONFIG_HOME/cantivo/, or
// ~/.config/cantivo/ without it, ending in '/'; empty when neither is an absolute path.
// Neither created nor checked here.
CVK_PLATFORM_API std::string userSettingsFolder();
// For tests: the program's folder becomes `folder` (ending in '/'), so that libraries load
// from a folder the test put together; an empty one restores the executable's folder.
CVK_PLATFORM_API void setProgramFolderOverride(std::optional<std::string> folder);

// A library may export, with C linkage, an attach entry
//     int32_t cvkLibraryAttach(void);
// which loadProgramLibrary() calls on the loading thread right after the library is
// loaded, as a process attach: a library that cannot serve (an outside part it needs is
// missing) returns 0, and the loader unloads it again and fails the load. It is called on
// every load, so a library already in the process answers again from its own state. Only
// the library's own export counts, never one of a library it depends on.
constexpr const char* kLibraryAttachName = "cvkLibraryAttach";
using LibraryAttachFn = std::int32_t (*)();

// Loads a shared library by file name from the program's folder and runs its attach
// entry. nullptr on failure; libraryError() then says why.
CVK_PLATFORM_API void* loadProgramLibrary(const std::string& fileName);
CVK_PLATFORM_API void* resolveName(void* library, const char* name);
CVK_PLATFORM_API void freeLibrary(void* library);
CVK_PLATFORM_API std::string libraryError();

}  // namespace platform
