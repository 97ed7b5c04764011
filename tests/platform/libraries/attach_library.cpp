// Libraries for the loader's tests: built with ATTACH_ANSWER, one whose attach entry
// answers it; built without, one with no entry of its own that depends on a library
// that has one.

#include <cstdint>

#define TEST_EXPORT __attribute__((visibility("default")))

extern "C" {

#ifdef ATTACH_ANSWER
// How often the loader called the entry.
TEST_EXPORT std::int32_t attachCalls = 0;

TEST_EXPORT std::int32_t cvkLibraryAttach() {
    ++attachCalls;
    return ATTACH_ANSWER;
}
#else
extern std::int32_t attachCalls;

// Keeps the dependency: a linker that drops unused libraries would lose it.
TEST_EXPORT std::int32_t dependencyAttachCalls() {
    return attachCalls;
}
#endif

}  // extern "C"
