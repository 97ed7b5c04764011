// Every test of this program starts, and leaves, the process and the test server as the
// program found them, whichever test ran before (or failed halfway) and however often the
// tests are repeated: the wave library's streams, the mixer library's selection, the
// routing the mixer set (the recording source, the faders' gains), the mixer and wave
// backends, the clock, the SoundFont choice, the message box handler, the environment,
// and the server's volumes, mutes, defaults and pass-through. A test that needs another
// state sets it up itself.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "TestServer.h"
#include "audio/mixer.h"
#include "audio/routing.h"
#include "audio/wave.h"
#include "engine.h"
#include "faderlib/faderlib.h"
#include "platform/dialogs.h"
#include "platform/mm_timer.h"
#include "pulse_support.h"
#include "synth/soundfont.h"
#include "voxcapt/voxcapt.h"

extern char** environ;

namespace {

std::map<std::string, std::string> environment() {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::size_t equals = variable.find('=');
        if (equals != std::string::npos) {
            variables[variable.substr(0, equals)] = variable.substr(equals + 1);
        }
    }
    return variables;
}

class FreshGlobals : public testing::EmptyTestEventListener {
public:
    FreshGlobals() : m_environment(environment()) {}

    void OnTestStart(const testing::TestInfo&) override { putBack(); }
    void OnTestEnd(const testing::TestInfo&) override { putBack(); }

private:
    void putBack() {
        restoreEnvironment();
        // Streams first: they hold devices of the backends replaced below.
        voxcapt::resetForTest();
        faderlib::resetForTest();
        audio::useRealMixer();  // and the routing with it
        audio::resetRouting();
        audio::useRealWave();
        if (!pulsant::engine().playing.load()) {
            pulsant::resetForTest();
        }
        platform::setClockMode(platform::ClockMode::Real);
        platform::setMessageBoxHandler({});
        synth::setSoundFontChoice("");
        std::string error;
        if (testing_support::testServerGiven() && !cvktest::putServerBack(error)) {
            std::fprintf(stderr, "fresh_globals: %s\n", error.c_str());
        }
    }

    // What the tests set or changed goes back to what the program was started with.
    void restoreEnvironment() const {
        for (const auto& [name, value] : environment()) {
            if (m_environment.count(name) == 0) {
                ::unsetenv(name.c_str());
            }
        }
        for (const auto& [name, value] : m_environment) {
            const char* now = std::getenv(name.c_str());
            if (now == nullptr || value != now) {
                ::setenv(name.c_str(), value.c_str(), 1);
            }
        }
    }

    const std::map<std::string, std::string> m_environment;
};

// Before main: gtest_main runs the tests with the listeners registered by then.
[[maybe_unused]] const bool g_registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FreshGlobals);
    return true;
}();

}  // namespace
