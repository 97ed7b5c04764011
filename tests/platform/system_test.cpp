#include "platform/system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using platform::freeLibrary;
using platform::libraryError;
using platform::loadProgramLibrary;
using platform::PlatformId;
using platform::programFolder;
using platform::resolveName;

// The platform library sits beside every executable of the build and of an installation.
constexpr const char* kPlatformLibrary = "libcvkplatform.so";

// Guards against an override that sticks after being cleared.
TEST(SystemTest, PlatformOverrideRoundTrip) {
    EXPECT_EQ(platform::platformId(), PlatformId::NT);
    platform::setPlatformIdOverride(PlatformId::Windows9x);
    EXPECT_EQ(platform::platformId(), PlatformId::Windows9x);
    platform::setPlatformIdOverride(std::nullopt);
    EXPECT_EQ(platform::platformId(), PlatformId::NT);
}

// Guards against a folder without its trailing '/' or taken from the working directory.
TEST(SystemTest, ProgramFolderIsTheExecutablesFolder) {
    const std::string folder = programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    const fs::path executable = fs::canonical(testing::internal::GetArgvs().at(0));
    EXPECT_EQ(fs::path(folder), executable.parent_path() / "");
}

// Guards against loading by search path instead of from the program's folder.
TEST(SystemTest, LoadsAndResolvesFromTheProgramFolder) {
    ASSERT_TRUE(fs::exists(programFolder() + kPlatformLibrary))
        << kPlatformLibrary << " is not beside the test executable";
    void* library = loadProgramLibrary(kPlatformLibrary);
    ASSERT_NE(library, nullptr) << libraryError();
    EXPECT_EQ(libraryError(), "");
    // platform::platformId(), by its exported name.
    EXPECT_EQ(resolveName(library, "_ZN8platform10platformIdEv"), reinterpret_cast<void*>(&platform::platformId));
    EXPECT_EQ(resolveName(library, "noSuchFunctionAnywhere"), nullptr);
    EXPECT_NE(libraryError().find("noSuchFunctionAnywhere"), std::string::npos);
    freeLibrary(library);
}

// Guards against loading code from outside the program's folder, and against silent failures.
TEST(SystemTest, RefusesPathsAndReportsFailures) {
    const std::string absolute = programFolder() + kPlatformLibrary;  // loadable if paths were allowed
    for (const std::string& name : {absolute, std::string("../") + kPlatformLibrary, std::string("sub/x.so"),
                                    std::string(), std::string("."), std::string(".."),
                                    std::string("lib\0x.so", 8)}) {
        EXPECT_EQ(loadProgramLibrary(name), nullptr) << name;
        EXPECT_NE(libraryError(), "") << name;
    }
    EXPECT_EQ(loadProgramLibrary("libcvk-no-such-library.so"), nullptr);
    EXPECT_NE(libraryError().find("libcvk-no-such-library.so"), std::string::npos) << libraryError();

    EXPECT_EQ(resolveName(nullptr, "platformId"), nullptr);
    EXPECT_NE(libraryError(), "");
    freeLibrary(nullptr);
}

// Guards against one thread's failure text showing up in another thread.
TEST(SystemTest, LibraryErrorBelongsToTheThread) {
    EXPECT_EQ(loadProgramLibrary("sub/x.so"), nullptr);
    std::string otherThreadError = "unset";
    std::thread([&otherThreadError] { otherThreadError = libraryError(); }).join();
    EXPECT_EQ(otherThreadError, "");
    EXPECT_NE(libraryError(), "");
}

}  // namespace
