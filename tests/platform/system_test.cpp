#include "platform/system.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
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

// Guards against a misread CVK_PLATFORM, and against the environment beating a test's override.
TEST(SystemTest, PlatformFromTheEnvironment) {
    struct Case {
        const char* value;  // nullptr: not set
        std::optional<PlatformId> overridden;
        PlatformId expected;
    };
    const Case cases[] = {
        {"9x", std::nullopt, PlatformId::Windows9x},
        {"9X", std::nullopt, PlatformId::Windows9x},
        {"nt", std::nullopt, PlatformId::NT},
        {"", std::nullopt, PlatformId::NT},
        {"9x95", std::nullopt, PlatformId::NT},
        {nullptr, std::nullopt, PlatformId::NT},
        {"9x", PlatformId::NT, PlatformId::NT},
        {nullptr, PlatformId::Windows9x, PlatformId::Windows9x},
    };
    for (const Case& c : cases) {
        c.value != nullptr ? setenv("CVK_PLATFORM", c.value, 1) : unsetenv("CVK_PLATFORM");
        platform::setPlatformIdOverride(c.overridden);
        EXPECT_EQ(platform::platformId(), c.expected) << (c.value ? c.value : "(unset)");
    }
    platform::setPlatformIdOverride(std::nullopt);
    unsetenv("CVK_PLATFORM");
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

struct AttachCase {
    const char* name;
    const char* library;
    bool loads;
    int attachCalls;  // the count the library's attachCalls shows after a successful load
};

void PrintTo(const AttachCase& c, std::ostream* out) {
    *out << c.name;
}

class AttachTest : public testing::TestWithParam<AttachCase> {};

// Guards against an attach entry that is not called, a refusal that is reported as a
// success or leaves the library loaded, and a dependency's entry taken for the library's own.
TEST_P(AttachTest, TheLibrarysOwnAttachEntryDecidesTheLoad) {
    const AttachCase& c = GetParam();
    const std::string path = programFolder() + c.library;
    if (!fs::exists(path)) {
        GTEST_SKIP() << c.library << " is not beside the test executable";
    }
    void* library = loadProgramLibrary(c.library);
    ASSERT_EQ(library != nullptr, c.loads) << libraryError();
    if (library == nullptr) {
        EXPECT_NE(libraryError().find(c.library), std::string::npos) << libraryError();
        EXPECT_EQ(::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
        return;
    }
    EXPECT_EQ(libraryError(), "");
    const auto* calls = static_cast<const std::int32_t*>(resolveName(library, "attachCalls"));
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(*calls, c.attachCalls);
    freeLibrary(library);
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, AttachTest,
    testing::Values(AttachCase{"accepts", "libcvktest_attach_accepts.so", true, 1},
                    AttachCase{"refuses", "libcvktest_attach_refuses.so", false, 0},
                    AttachCase{"dependsOnARefusingOne", "libcvktest_attach_dependent.so", true, 0}),
    [](const testing::TestParamInfo<AttachCase>& param) { return std::string(param.param.name); });

}  // namespace
