#include <gtest/gtest.h>

#include <string>

#include "audio/source_roles.h"

namespace {

struct Named {
    bool monitor;
    std::string description;
};

// Guards against: the server mixer's names and the mixer library's search drifting apart,
// so that the microphone or the stereo mix is no longer found (also once a long
// description has been cut to the 63 characters a name may have).
TEST(SourceRoles, EverySourceIsFoundByTheSearchForItsRole) {
    const Named sources[] = {
        {false, "Blue Yeti"},
        {false, "Built-in Audio Analog Stereo"},
        {true, "Monitor of Built-in Audio Analog Stereo"},
        {true, "Monitor of HDA NVidia Digital Stereo (HDMI 2) with a description far too long"},
        {false, "A headset whose description runs on well past what a mixer line may hold"},
    };
    for (const Named& source : sources) {
        const audio::SourceRole role = audio::roleOfSource(source.monitor);
        const std::string name = audio::sourceName(role, source.description);
        EXPECT_LE(name.size(), 63u) << name;
        EXPECT_TRUE(audio::nameShowsRole(name, role)) << name;
        if (role == audio::SourceRole::OutputMix) {
            EXPECT_FALSE(audio::nameShowsRole(name, audio::SourceRole::Microphone)) << name;
        }
    }
}

}  // namespace
