// The melody track of a song as the window gets it: split, scanned for words, chosen.

#include <gtest/gtest.h>

#include <optional>

#include "LyricScan.h"
#include "MidiSplit.h"
#include "PitchTestSong.h"
#include "SongMelody.h"
#include "TempDir.h"

namespace {

struct Loaded {
    pitch::SongMelody melody;
    std::size_t syllables = 0;
};

Loaded load(const std::vector<std::uint8_t>& bytes, const pitch::PlaySettings& settings = {}) {
    const testing_support::TempDir dir;
    const std::string song = dir.write("song.kar", bytes);
    const std::string split = dir.path("split.mid");
    EXPECT_EQ(songfile::SplitMidiFile(song, split).message, "");
    int tempo = 0;
    std::optional<std::uint64_t> offset;
    songfile::TlyricList* lyrics = songfile::ExtractLyrics(split, ".KAR", tempo, offset);
    Loaded loaded{pitch::LoadSongMelody(split, lyrics, settings), pitch::SyllableTicks(lyrics).size()};
    songfile::FreeLyricList(lyrics);
    return loaded;
}

struct ChoiceCase {
    const char* name;
    bool words;
    std::uint32_t wordsEarly;
    pitch::MelodyRule rule;
};

void PrintTo(const ChoiceCase& row, std::ostream* out) { *out << row.name; }

class MelodyChoice : public testing::TestWithParam<ChoiceCase> {};

// The chords restruck under every syllable, the high drums and the bass are each a
// plausible wrong answer; only the sung line is right.
TEST_P(MelodyChoice, FindsTheSungLine) {
    const ChoiceCase& c = GetParam();
    const Loaded loaded = load(pitch_test::songBytes(c.words, c.wordsEarly));
    ASSERT_EQ(loaded.melody.message, "");
    EXPECT_EQ(loaded.syllables, c.words ? pitch_test::melody().size() : 0u);
    EXPECT_EQ(loaded.melody.choice.track, pitch_test::melodyTrack(c.words));
    EXPECT_EQ(loaded.melody.choice.rule, c.rule);
    ASSERT_EQ(loaded.melody.notes.size(), pitch_test::melody().size());
}

INSTANTIATE_TEST_SUITE_P(Songs, MelodyChoice,
                         testing::Values(ChoiceCase{"WordsOnTheNotes", true, 0, pitch::MelodyRule::Lyrics},
                                         ChoiceCase{"WordsATadEarly", true, 12, pitch::MelodyRule::Lyrics},
                                         ChoiceCase{"WordsAThirtySecondEarly", true, 60, pitch::MelodyRule::Lyrics},
                                         ChoiceCase{"NoWords", false, 0, pitch::MelodyRule::HighestMonophonic}),
                         [](const auto& row) { return std::string(row.param.name); });

// The key and tempo the song plays with move what is drawn and scored: a note played a
// tone higher and 25 % slower is where the singer hears it, whether the player holds one
// tempo (96 beats per minute for a song written at 120) or follows the song's map scaled.
TEST(MelodyNotes, FollowKeyAndTempo) {
    const pitch_test::SongNote written = pitch_test::melody()[5];
    const double writtenSeconds = written.tick * pitch_test::kSecondsPerTick;
    const struct {
        pitch::PlaySettings settings;
        double pitch;
        double start;
    } rows[] = {
        {{0, 0, 1, 1}, written.key + 0.0, writtenSeconds},
        {{0, 120, 1, 1}, written.key + 0.0, writtenSeconds},
        {{2, 96, 1, 1}, written.key + 2.0, 1.25 * writtenSeconds},
        {{-3, 0, 125, 100}, written.key - 3.0, 1.25 * writtenSeconds},
    };
    for (const auto& row : rows) {
        const Loaded loaded = load(pitch_test::songBytes(true), row.settings);
        ASSERT_EQ(loaded.melody.notes.size(), pitch_test::melody().size());
        EXPECT_DOUBLE_EQ(loaded.melody.notes[5].pitch, row.pitch);
        EXPECT_NEAR(loaded.melody.notes[5].start, row.start, 1e-6);
    }
}

}  // namespace
