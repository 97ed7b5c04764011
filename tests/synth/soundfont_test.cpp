#include "synth/soundfont.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "TempDir.h"

namespace {

using testing_support::TempDir;

// "<dir>/x" names x in the test's folder.
std::string resolve(const TempDir& dir, const std::string& entry) {
    return entry.rfind("<dir>/", 0) == 0 ? dir.path(entry.substr(6)) : entry;
}

std::vector<std::string> resolveAll(const TempDir& dir, const std::vector<std::string>& entries) {
    std::vector<std::string> resolved;
    for (const std::string& entry : entries) {
        resolved.push_back(resolve(dir, entry));
    }
    return resolved;
}

struct ReadableCase {
    const char* name;
    std::vector<std::string> candidates;
    std::string expected;

    friend void PrintTo(const ReadableCase& c, std::ostream* out) { *out << c.name; }
};

class FirstReadableSoundFont : public testing::TestWithParam<ReadableCase> {};

// Guards against picking a missing file, a folder, or a later candidate over an earlier one.
TEST_P(FirstReadableSoundFont, PicksTheFirstReadableFile) {
    TempDir dir;
    dir.writeText("first.sf2", "RIFF");
    dir.writeText("second.sf2", "RIFF");
    std::filesystem::create_directory(dir.path("folder.sf2"));
    std::filesystem::create_symlink(dir.path("missing.sf2"), dir.path("dangling.sf2"));
    const std::string expected =
        GetParam().expected.empty() ? "" : resolve(dir, GetParam().expected);
    EXPECT_EQ(synth::firstReadableSoundFont(resolveAll(dir, GetParam().candidates)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Candidates, FirstReadableSoundFont,
    testing::Values(
        ReadableCase{"None", {}, ""},
        ReadableCase{"AllMissing", {"<dir>/missing.sf2", "/nonexistent/x.sf2"}, ""},
        ReadableCase{"EmptyEntry", {"", "<dir>/second.sf2"}, "<dir>/second.sf2"},
        ReadableCase{
            "MissingThenPresent", {"<dir>/missing.sf2", "<dir>/second.sf2"}, "<dir>/second.sf2"},
        ReadableCase{
            "DanglingLinkSkipped", {"<dir>/dangling.sf2", "<dir>/second.sf2"}, "<dir>/second.sf2"},
        ReadableCase{"FolderSkipped", {"<dir>/folder.sf2", "<dir>/first.sf2"}, "<dir>/first.sf2"},
        ReadableCase{"FirstWins", {"<dir>/first.sf2", "<dir>/second.sf2"}, "<dir>/first.sf2"}),
    [](const testing::TestParamInfo<ReadableCase>& param) {
        return std::string(param.param.name);
    });

struct PlacesCase {
    const char* name;
    synth::SoundFontPlaces places;  // "<dir>/" is the test's folder, also in dataDirs
    std::vector<std::string> expected;

    friend void PrintTo(const PlacesCase& c, std::ostream* out) { *out << c.name; }
};

class SoundFontCandidates : public testing::TestWithParam<PlacesCase> {};

// Guards against places tried out of order, data folders listed unsorted or in the wrong
// order, files that are not SoundFonts offered, upper-case extensions missed, and unusable
// XDG values (relative, empty entries) used instead of their defaults.
TEST_P(SoundFontCandidates, ListsEveryPlaceInOrder) {
    TempDir dir;
    for (const char* folder : {"user/sounds/sf2", "house/.local/share/sounds/sf2",
                               "system1/sounds/sf2", "system2/sounds/sf2"}) {
        std::filesystem::create_directories(dir.path(folder));
    }
    for (const char* file :
         {"user/sounds/sf2/b.sf2", "user/sounds/sf2/A.SF3", "user/sounds/sf2/readme.txt",
          "user/sounds/sf2/b.sf2.orig", "house/.local/share/sounds/sf2/home.sf2",
          "system1/sounds/sf2/z.sf2", "system2/sounds/sf2/m.sf3", "system2/sounds/sf2/c.sf2"}) {
        dir.writeText(file, "RIFF");
    }
    synth::SoundFontPlaces places = GetParam().places;
    places.choice = resolve(dir, places.choice);
    places.variable = resolve(dir, places.variable);
    places.packaged = resolveAll(dir, places.packaged);
    places.dataHome = resolve(dir, places.dataHome);
    places.home = resolve(dir, places.home);
    std::string dataDirs;
    for (std::size_t at = 0; at < places.dataDirs.size();) {
        const std::size_t marker = places.dataDirs.find("<dir>/", at);
        dataDirs += places.dataDirs.substr(at, marker - at);
        if (marker == std::string::npos) {
            break;
        }
        dataDirs += dir.path("");
        at = marker + 6;
    }
    places.dataDirs = dataDirs;
    EXPECT_EQ(synth::soundFontCandidates(places), resolveAll(dir, GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Places, SoundFontCandidates,
    testing::Values(
        PlacesCase{"EveryPlace",
                   {"<dir>/chosen.sf2",
                    "<dir>/variable.sf2",
                    {"<dir>/p1.sf2", "<dir>/p2.sf3"},
                    "<dir>/user",
                    "<dir>/system1:<dir>/system2",
                    "<dir>/house"},
                   {"<dir>/chosen.sf2", "<dir>/variable.sf2", "<dir>/p1.sf2", "<dir>/p2.sf3",
                    "<dir>/user/sounds/sf2/A.SF3", "<dir>/user/sounds/sf2/b.sf2",
                    "<dir>/system1/sounds/sf2/z.sf2", "<dir>/system2/sounds/sf2/c.sf2",
                    "<dir>/system2/sounds/sf2/m.sf3"}},
        PlacesCase{"NoChoiceNoVariable",
                   {"", "", {"<dir>/p1.sf2"}, "<dir>/user", "<dir>/system1", "<dir>/house"},
                   {"<dir>/p1.sf2", "<dir>/user/sounds/sf2/A.SF3", "<dir>/user/sounds/sf2/b.sf2",
                    "<dir>/system1/sounds/sf2/z.sf2"}},
        PlacesCase{"DataHomeUnsetMeansHomeLocalShare",
                   {"", "", {}, "", "<dir>/system2", "<dir>/house"},
                   {"<dir>/house/.local/share/sounds/sf2/home.sf2",
                    "<dir>/system2/sounds/sf2/c.sf2", "<dir>/system2/sounds/sf2/m.sf3"}},
        PlacesCase{
            "RelativeDataHomeIgnored",
            {"", "", {}, "user", "<dir>/system1", "<dir>/house"},
            {"<dir>/house/.local/share/sounds/sf2/home.sf2", "<dir>/system1/sounds/sf2/z.sf2"}},
        PlacesCase{"EmptyAndRelativeDataDirsSkipped",
                   {"", "", {}, "<dir>/user", "::system1:<dir>/system2/:", ""},
                   {"<dir>/user/sounds/sf2/A.SF3", "<dir>/user/sounds/sf2/b.sf2",
                    "<dir>/system2/sounds/sf2/c.sf2", "<dir>/system2/sounds/sf2/m.sf3"}},
        PlacesCase{"AFontNamedTwiceIsTriedOnce",
                   {"<dir>/system1/sounds/sf2/z.sf2",
                    "",
                    {"<dir>/system1/sounds/sf2/z.sf2"},
                    "<dir>/user",
                    "<dir>/system1",
                    ""},
                   {"<dir>/system1/sounds/sf2/z.sf2", "<dir>/user/sounds/sf2/A.SF3",
                    "<dir>/user/sounds/sf2/b.sf2"}}),
    [](const testing::TestParamInfo<PlacesCase>& param) { return std::string(param.param.name); });

// Sets or clears an environment variable for one scope and puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Guards against the user's choice losing to $CVK_SOUNDFONT, and against a chosen file
// that has gone away leaving the synthesizer without any SoundFont.
TEST(FindSoundFont, TheChoiceComesFirstAndAMissingOneIsPassedOver) {
    TempDir dir;
    const std::string chosen = dir.writeText("chosen.sf2", "RIFF");
    const std::string variable = dir.writeText("variable.sf2", "RIFF");
    ScopedEnv environment("CVK_SOUNDFONT", variable);

    synth::setSoundFontChoice(chosen);
    EXPECT_EQ(synth::findSoundFont(), chosen);
    synth::setSoundFontChoice(dir.path("removed.sf2"));
    EXPECT_EQ(synth::findSoundFont(), variable);
    synth::setSoundFontChoice("");
    EXPECT_EQ(synth::findSoundFont(), variable);
}

}  // namespace
