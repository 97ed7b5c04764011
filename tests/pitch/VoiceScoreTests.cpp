// Takes of synthesised voices scored against the test song's melody.

#include <gtest/gtest.h>

#include <optional>

#include "LyricScan.h"
#include "MidiSplit.h"
#include "PitchTestSong.h"
#include "Score.h"
#include "SongMelody.h"
#include "TempDir.h"

namespace {

std::vector<pitch::MelodyNote> songMelody() {
    const testing_support::TempDir dir;
    const std::string song = dir.write("song.kar", pitch_test::songBytes(true));
    const std::string split = dir.path("split.mid");
    EXPECT_EQ(songfile::SplitMidiFile(song, split).message, "");
    int tempo = 0;
    std::optional<std::uint64_t> offset;
    songfile::TlyricList* lyrics = songfile::ExtractLyrics(split, ".KAR", tempo, offset);
    pitch::SongMelody melody = pitch::LoadSongMelody(split, lyrics, {});
    songfile::FreeLyricList(lyrics);
    return melody.notes;
}

struct VoiceCase {
    const char* name;
    pitch_test::VoiceShape shape;
    bool noise;
    bool silent;
    int rate;
    int channels;
    int lowestScore;
    int highestScore;
    std::optional<int> suggestedKey;
};

void PrintTo(const VoiceCase& row, std::ostream* out) { *out << row.name; }

class VoiceScore : public testing::TestWithParam<VoiceCase> {};

TEST_P(VoiceScore, ScoresAndSuggests) {
    const VoiceCase& c = GetParam();
    std::vector<float> voice;
    if (c.noise) {
        voice = pitch_test::noise(c.rate);
    } else if (c.silent) {
        voice.assign(static_cast<std::size_t>(pitch_test::songEndTick() * pitch_test::kSecondsPerTick * c.rate), 0.0f);
    } else {
        voice = pitch_test::singMelody(c.shape, c.rate, c.channels);
    }
    const std::vector<pitch::PitchFrame> frames = pitch::TrackPitch(voice, c.rate, c.channels);
    const pitch::TakeScore score = pitch::ScoreTake(songMelody(), frames, false);
    EXPECT_GE(score.score, c.lowestScore);
    EXPECT_LE(score.score, c.highestScore);
    EXPECT_EQ(score.suggestedKey, c.suggestedKey);
}

// Each row is a singer the score must judge as a listener would.
INSTANTIATE_TEST_SUITE_P(
    Singers, VoiceScore,
    testing::Values(
        // Every note exactly: nothing may be lost to the detector's window at note changes.
        VoiceCase{"Exact", {}, false, false, 22050, 1, 95, 100, std::nullopt},
        // A man singing a woman's melody: octave folding must forgive it.
        VoiceCase{"OctaveDown", {-12.0, 0.0, false}, false, false, 22050, 1, 95, 100, std::nullopt},
        // A recording at CD rate in stereo goes through the resampler and the downmix.
        VoiceCase{"ExactStereo44k", {}, false, false, 44100, 2, 95, 100, std::nullopt},
        // Three semitones low all through: out of tune, and the song should come down.
        VoiceCase{"ThreeSemitonesLow", {-3.0, 0.0, false}, false, false, 22050, 1, 0, 10, -3},
        VoiceCase{"TwoSemitonesHigh", {2.0, 0.0, false}, false, false, 16000, 1, 0, 10, 2},
        // A quarter-tone off is within the semitone, and not a reason to change key.
        VoiceCase{"QuarterToneSharp", {0.5, 0.0, false}, false, false, 22050, 1, 95, 100, std::nullopt},
        VoiceCase{"QuarterToneFlat", {-0.5, 0.0, false}, false, false, 22050, 1, 95, 100, std::nullopt},
        // A singer's vibrato is in tune.
        VoiceCase{"Vibrato30Cents", {0.0, 30.0, false}, false, false, 22050, 1, 95, 100, std::nullopt},
        // A bright voice (rich in harmonics) must not be heard an octave off.
        VoiceCase{"SawtoothWithVibrato", {0.0, 30.0, true}, false, false, 48000, 1, 95, 100, std::nullopt},
        // Nobody sang.
        VoiceCase{"Silence", {}, false, true, 22050, 1, 0, 0, std::nullopt},
        // Hiss is not a voice: no score, no key.
        VoiceCase{"Noise", {}, true, false, 22050, 1, 0, 5, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
