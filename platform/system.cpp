#include "platform/system.h"

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace platform {
namespace {

constexpr int kNoOverride = -1;

std::atomic<int> g_platformOverride{kNoOverride};  // written by tests on any thread, read by any
thread_local std::string t_libraryError;           // each thread's own last failure, like dlerror()

struct FolderOverride {
    std::mutex mutex;  // any thread may ask for the folder while a test sets it
    std::optional<std::string> folder;
};

FolderOverride& folderOverride() {
    static FolderOverride instance;
    return instance;
}

void* fail(std::string reason) {
    t_libraryError = std::move(reason);
    return nullptr;
}

// Only a bare file name: a path could load code from anywhere, and the program's
// libraries are exactly the files beside it.
bool isBareFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

// The library's own attach entry, or nullptr. dlsym() on a handle also searches the
// libraries it depends on, and an entry found there is theirs, not this library's answer.
LibraryAttachFn ownAttachEntry(void* library) {
    ::dlerror();
    void* address = ::dlsym(library, kLibraryAttachName);
    ::dlerror();
    if (address == nullptr) {
        return nullptr;
    }
    link_map* own = nullptr;
    link_map* holder = nullptr;
    Dl_info info;
    if (::dlinfo(library, RTLD_DI_LINKMAP, &own) != 0 ||
        ::dladdr1(address, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) == 0 ||
        holder != own) {
        return nullptr;
    }
    return reinterpret_cast<LibraryAttachFn>(address);
}

}  // namespace

// Any thread. The family the libraries should behave for. The environment is read at
// every call: a test may set it after the process started.
PlatformId platformId() {
    const int overridden = g_platformOverride.load(std::memory_order_relaxed);
    if (overridden != kNoOverride) {
        return static_cast<PlatformId>(overridden);
    }
    const char* named = std::getenv("CVK_PLATFORM");
    return named != nullptr && ::strcasecmp(named, "9x") == 0 ? PlatformId::Windows9x
                                                              : PlatformId::NT;
}

// Any thread; for tests. An empty id restores the real family.
void setPlatformIdOverride(std::optional<PlatformId> id) {
    g_platformOverride.store(id ? static_cast<int>(*id) : kNoOverride, std::memory_order_relaxed);
}

// Any thread. The executable's folder with a trailing '/', or empty when /proc cannot say.
std::string userSettingsFolder() {
    try {
        const char* config = std::getenv("XDG_CONFIG_HOME");
        if (config != nullptr && config[0] == '/') {
            return std::string(config) + "/cantivo/";
        }
        if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
            return std::string(home) + "/.config/cantivo/";
        }
    } catch (...) {
    }
    return std::string();
}

std::string programFolder() {
    try {
        {
            FolderOverride& overridden = folderOverride();
            const std::lock_guard<std::mutex> lock(overridden.mutex);
            if (overridden.folder) {
                return *overridden.folder;
            }
        }
        // readlink does not say whether it truncated: grow until the answer fits.
        for (std::size_t capacity = 256; capacity <= 65536; capacity *= 2) {
            std::string path(capacity, '\0');
            const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
            if (length < 0) {
                return std::string();
            }
            if (static_cast<std::size_t>(length) < path.size()) {
                path.resize(static_cast<std::size_t>(length));
                // A replaced executable reads "<path> (deleted)"; only the file part changes.
                const std::size_t slash = path.rfind('/');
                return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
            }
        }
        return std::string();
    } catch (...) {
        return std::string();
    }
}

// Any thread; for tests.
void setProgramFolderOverride(std::optional<std::string> folder) {
    FolderOverride& overridden = folderOverride();
    const std::lock_guard<std::mutex> lock(overridden.mutex);
    overridden.folder = std::move(folder);
}

// Any thread. A handle for resolveName(), or nullptr with libraryError() saying why.
void* loadProgramLibrary(const std::string& fileName) {
    try {
        if (!isBareFileName(fileName)) {
            return fail("refused to load \"" + fileName + "\": only a file name from the program's folder is allowed");
        }
        const std::string folder = programFolder();
        if (folder.empty()) {
            return fail("cannot load " + fileName + ": the program's folder is unknown");
        }
        const std::string path = folder + fileName;
        ::dlerror();
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* reason = ::dlerror();
            return fail(reason != nullptr ? reason : "cannot load " + path);
        }
        if (const LibraryAttachFn attach = ownAttachEntry(library)) {
            bool accepted = false;
            try {
                accepted = attach() != 0;
            } catch (...) {
            }
            if (!accepted) {
                ::dlclose(library);
                return fail(fileName + " refused to load: its attach entry returned 0");
            }
        }
        t_libraryError.clear();
        return library;
    } catch (...) {
        return nullptr;
    }
}

// Any thread. The address of `name` in the library, or nullptr with libraryError() set.
void* resolveName(void* library, const char* name) {
    try {
        if (library == nullptr) {
            return fail("no library to look in");
        }
        if (name == nullptr) {
            return fail("no name to look up");
        }
        ::dlerror();
        void* address = ::dlsym(library, name);
        // A symbol may legitimately be null; only dlerror() tells a failure apart.
        if (const char* reason = ::dlerror()) {
            return fail(reason);
        }
        t_libraryError.clear();
        return address;
    } catch (...) {
        return nullptr;
    }
}

// Any thread. Null is ignored; the library stays loaded while other handles to it remain.
void freeLibrary(void* library) {
    try {
        if (library == nullptr) {
            return;
        }
        ::dlerror();
        if (::dlclose(library) != 0) {
            const char* reason = ::dlerror();
            fail(reason != nullptr ? reason : "cannot unload the library");
            return;
        }
        t_libraryError.clear();
    } catch (...) {
    }
}

// Any thread. The calling thread's last failure of the three functions above; empty after
// a success.
std::string libraryError() {
    try {
        return t_libraryError;
    } catch (...) {
        return std::string();
    }
}

}  // namespace platform
