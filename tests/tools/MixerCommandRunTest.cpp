// cvktool mixer's refusals that need no sound server.

#include <gtest/gtest.h>

#include "ToolTestSupport.h"

using namespace tooltest;

// Guards values that are not volumes: a negative number wrapped around into a huge one
// (-18446744073709551615 became 1) or was refused without a word. Each is refused as a
// usage error, naming the value, before the mixer is touched.
TEST(MixerCommandRun, SetRefusesValuesThatAreNotNumbersFromZeroUp) {
    for (const std::string value : {"-1", "-18446744073709551615", "+5", "5,-1", " 5", "4294967296", "1,2,3"}) {
        SCOPED_TRACE(value);
        const RunResult run = runProgram({CVKTOOL_PATH, "mixer", "set", "Speakers/Volume", value}, "/dev/null",
                                         {"PULSE_SERVER=unix:/nonexistent/cvk-no-server"});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err.rfind("cvktool: '" + value + "' is not a value: a number from 0 up, or LEFT,RIGHT\n", 0), 0u)
            << run.err;
    }
}
