#pragma once

// Judging sound on a machine that may be too busy to play it steadily.
//
// A test that plays or records through the sound server judges what it heard: which
// sounds, how long, in what order. A stream that ran dry, or captured audio that found no
// buffer, changes what is heard without the code under test being at fault; the streams
// count such stretches (audio::waveOutUnderruns, audio::waveInOverruns, the test feeder's
// and recorder's own counts, synth::synthesizerUnderruns). retryWhileDisturbed runs a
// test's body again when a run failed and its counts say the machine stalled, and skips
// with those counts when every run was disturbed. A run that failed with nothing counted
// fails the test at once: a wrong sound never skips.
//
//   TEST_F(WaveOnServer, SomethingIsHeard) {
//       testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
//           ... open, play, record (a fresh start each run) ...
//           disturbed.count("the player ran dry", player.underrunsBeforeTheEnd());
//           ... EXPECT_/ASSERT_ on what was recorded ...
//       });
//   }
//
// Read the counts before the devices close (a closed handle counts nothing), and count
// only what the test cannot help: a stream's last run dry at its end is not a stall.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// What disturbed one run: each count the test read off its own streams.
class Disturbances {
public:
    // `times` stretches of `what` ("the singer ran dry"); zero adds nothing.
    void count(std::string what, std::uint64_t times) {
        if (times != 0) {
            m_counts.emplace_back(std::move(what), times);
        }
    }
    bool any() const { return !m_counts.empty(); }
    // "the singer ran dry 2 times, captured audio was lost 1 time"
    std::string text() const {
        std::string said;
        for (const auto& [what, times] : m_counts) {
            said += (said.empty() ? "" : ", ") + what + " " + std::to_string(times) +
                    (times == 1 ? " time" : " times");
        }
        return said;
    }

private:
    std::vector<std::pair<std::string, std::uint64_t>> m_counts;
};

// Runs `body(Disturbances&)` up to `runs` times. Each run starts afresh and judges with
// EXPECT_ and ASSERT_ as any test does; its failures are held back until the run is over:
// - no failure: the test passes (whatever was counted, the sound was right);
// - failures and nothing counted: they are the test's failures;
// - failures and something counted: the run is set aside (its failures printed) and the
//   body runs again; when every run was set aside the test skips with the counts.
// A skip inside the body skips the test. Call it last in the test: a skip or a failure
// ends the test once it returns.
template <typename Body>
void retryWhileDisturbed(Body&& body, int runs = 5) {
    std::string setAside;
    for (int run = 1; run <= runs; ++run) {
        Disturbances disturbed;
        testing::TestPartResultArray results;
        {
            testing::ScopedFakeTestPartResultReporter hold(
                testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
            SCOPED_TRACE("run " + std::to_string(run) + " of " + std::to_string(runs));
            body(disturbed);
        }
        bool failed = false;
        for (int i = 0; i < results.size(); ++i) {
            const testing::TestPartResult& result = results.GetTestPartResult(i);
            if (result.skipped()) {
                GTEST_SKIP() << result.message();
            }
            failed = failed || result.failed();
        }
        if (!failed) {
            return;
        }
        if (!disturbed.any()) {
            for (int i = 0; i < results.size(); ++i) {
                const testing::TestPartResult& result = results.GetTestPartResult(i);
                if (result.failed()) {
                    testing::internal::AssertHelper(result.type(), result.file_name(), result.line_number(),
                                                    result.message()) = testing::Message();
                }
            }
            return;
        }
        std::printf("[ SET ASIDE ] run %d of %d, disturbed (%s); its checks said:\n", run, runs,
                    disturbed.text().c_str());
        for (int i = 0; i < results.size(); ++i) {
            const testing::TestPartResult& result = results.GetTestPartResult(i);
            if (result.failed()) {
                std::printf("%s:%d: %s\n", result.file_name() != nullptr ? result.file_name() : "unknown",
                            result.line_number(), result.summary());
            }
        }
        setAside += (setAside.empty() ? "" : "; ") + ("run " + std::to_string(run) + ": ") +
                    disturbed.text();
    }
    GTEST_SKIP() << "the machine was too busy to judge the sound: every run was disturbed ("
                 << setAside << ")";
}

}  // namespace testing_support
