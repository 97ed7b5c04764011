#include "platform/system.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <string_view>

namespace platform {
namespace {

constexpr int kNoOverride = -1;

std::atomic<int> g_platformOverride{kNoOverride};  // written by tests on any thread, read by any
thread_local std::string t_libraryError;           // each thread's own last failure, like dlerror()

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

}  // namespace

// Any thread. The family the libraries should behave for.
PlatformId platformId() {
    const int overridden = g_platformOverride.load(std::memory_order_relaxed);
    return overridden == kNoOverride ? PlatformId::NT : static_cast<PlatformId>(overridden);
}

// Any thread; for tests. An empty id restores the real family.
void setPlatformIdOverride(std::optional<PlatformId> id) {
    g_platformOverride.store(id ? static_cast<int>(*id) : kNoOverride, std::memory_order_relaxed);
}

// Any thread. The executable's folder with a trailing '/', or empty when /proc cannot say.
std::string programFolder() {
    try {
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
