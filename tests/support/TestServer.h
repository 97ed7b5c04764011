#pragma once

// The private sound server that scripts/pulse-server.sh starts, named by PULSE_SERVER.
// Tests and benchmarks that play or record through it stand aside without one.

#include <cstdio>
#include <cstdlib>

namespace testing_support {

inline bool testServerGiven() { return std::getenv("PULSE_SERVER") != nullptr; }

// For a benchmark's main: false, after saying how to start the server, when there is none.
inline bool benchServerGiven(const char* program) {
    if (testServerGiven()) {
        return true;
    }
    std::fprintf(stderr,
                 "%s: PULSE_SERVER is not set; run it against the test server "
                 "(source scripts/pulse-server.sh && pulse_start)\n",
                 program);
    return false;
}

}  // namespace testing_support

// For a test or a fixture's SetUp: skips it when there is no server.
#define SKIP_WITHOUT_TEST_SERVER()                                                             \
    do {                                                                                       \
        if (!testing_support::testServerGiven()) {                                             \
            GTEST_SKIP() << "PULSE_SERVER is not set: run under scripts/pulse-server.sh";      \
        }                                                                                      \
    } while (false)
