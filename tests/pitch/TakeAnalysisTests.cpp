// A finished take analysed on its worker thread, as the window does after recording.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "PitchTestSong.h"
#include "TakeAnalysis.h"
#include "TempDir.h"

namespace {

void putU32(std::ofstream& out, std::uint32_t v) {
    const char bytes[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    out.write(bytes, 4);
}

// The window records 16-bit mono at 22,050 Hz.
std::string writeTake(const testing_support::TempDir& dir, const std::vector<float>& voice) {
    const std::string path = dir.path("take.wav");
    std::ofstream out(path, std::ios::binary);
    const auto dataBytes = static_cast<std::uint32_t>(voice.size() * 2);
    out.write("RIFF", 4);
    putU32(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    putU32(out, 16);
    const char format[] = {1, 0, 1, 0};
    out.write(format, 4);
    putU32(out, 22050);
    putU32(out, 44100);
    const char align[] = {2, 0, 16, 0};
    out.write(align, 4);
    out.write("data", 4);
    putU32(out, dataBytes);
    for (float sample : voice) {
        const auto value = static_cast<std::int16_t>(sample * 32767.0f);
        out.write(reinterpret_cast<const char*>(&value), 2);
    }
    return path;
}

std::vector<pitch::MelodyNote> writtenMelody() {
    std::vector<pitch::MelodyNote> notes;
    for (const pitch_test::SongNote& note : pitch_test::melody()) {
        notes.push_back({note.tick * pitch_test::kSecondsPerTick, (note.tick + note.length) * pitch_test::kSecondsPerTick,
                         static_cast<double>(note.key)});
    }
    return notes;
}

std::optional<pitch::TakeResult> waitFor(pitch::TakeAnalysis& analysis) {
    // A watchdog, not a timing assertion: a hang fails here instead of stalling the suite.
    for (int i = 0; i < 6000; ++i) {
        if (std::optional<pitch::TakeResult> result = analysis.take()) {
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

}  // namespace

// Guards against the worker's result being lost or handed over twice, and against the
// take file being read differently from cvktool's.
TEST(TakeAnalysis, ScoresTheTakeOnItsThread) {
    const testing_support::TempDir dir;
    const std::string take = writeTake(dir, pitch_test::singMelody({-3.0, 0.0, false}, 22050));
    pitch::TakeAnalysis analysis;
    analysis.start(writtenMelody(), take);
    const std::optional<pitch::TakeResult> result = waitFor(analysis);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->message, "");
    EXPECT_EQ(result->score.suggestedKey, -3);
    EXPECT_FALSE(result->frames.empty());
    EXPECT_GT(analysis.progressSeconds(), 15.0);
    EXPECT_FALSE(analysis.take().has_value());
}

// Guards against a take that vanished (removed, disk gone) passing as a silent take.
TEST(TakeAnalysis, MissingTakeNamesIt) {
    const testing_support::TempDir dir;
    pitch::TakeAnalysis analysis;
    analysis.start(writtenMelody(), dir.path("gone.wav"));
    const std::optional<pitch::TakeResult> result = waitFor(analysis);
    ASSERT_TRUE(result.has_value());
    EXPECT_NE(result->message.find(dir.path("gone.wav")), std::string::npos);
}

// Guards against a cancelled analysis (a new take, a new song, the window closing)
// handing its stale result over, or the worker outliving its owner.
TEST(TakeAnalysis, CancelledAnalysisHandsNothingOver) {
    const testing_support::TempDir dir;
    const std::string take = writeTake(dir, pitch_test::singMelody({}, 22050));
    {
        pitch::TakeAnalysis analysis;
        analysis.start(writtenMelody(), take);
        analysis.cancel();
        EXPECT_FALSE(analysis.take().has_value());
        analysis.start(writtenMelody(), take);
    }  // destroyed while running: joins
    pitch::TakeAnalysis again;
    again.start(writtenMelody(), take);
    again.start(writtenMelody(), take);  // restarted: one result, of the second run
    const std::optional<pitch::TakeResult> result = waitFor(again);
    ASSERT_TRUE(result.has_value());
    EXPECT_GE(result->score.score, 95);
}

TEST(TakeAnalysis, SuggestionTexts) {
    const std::pair<std::optional<int>, const char*> rows[] = {
        {-3, "Try key \u22123: your voice sat 3 semitones below the melody"},
        {2, "Try key +2: your voice sat 2 semitones above the melody"},
        {-1, "Try key \u22121: your voice sat 1 semitone below the melody"},
        {0, ""},
        {std::nullopt, ""},
    };
    for (const auto& [key, text] : rows) {
        EXPECT_EQ(pitch::KeySuggestionText(key), text);
    }
}
