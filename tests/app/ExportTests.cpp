// File > Export Audio... from the window: what the render is told, and the file it writes.

#include <QAction>

#include <fstream>
#include <iterator>

#include "CantivoHarness.h"
#include "Prefrenc.h"

using namespace testing_support;

namespace {

class ExportTest : public CantivoTest {
protected:
    // The 16-bit samples of a WAV file this program wrote (its data follows a 44-byte header).
    static std::vector<std::int16_t> wavSamples(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        std::vector<std::int16_t> samples;
        for (std::size_t at = 44; at + 1 < bytes.size(); at += 2) {
            samples.push_back(static_cast<std::int16_t>(static_cast<unsigned char>(bytes[at]) |
                                                        (static_cast<unsigned char>(bytes[at + 1]) << 8)));
        }
        return samples;
    }
    static int peak(const std::vector<std::int16_t>& samples) {
        int most = 0;
        for (const std::int16_t s : samples) {
            most = std::max(most, std::abs(static_cast<int>(s)));
        }
        return most;
    }
};

// Guards against an export that leaves out the settings as they are (tempo, key, the mix
// and its mutes, the song's own tempo changes at the ratio set) or is offered while a song
// plays.
TEST_F(ExportTest, TheRenderIsToldTheSongAsItIsSetUp) {
    open();
    EXPECT_FALSE(window().ExportAudio1->isEnabled());
    openSong(songFile("song.mid", noteSong(8)));
    EXPECT_TRUE(window().ExportAudio1->isEnabled());
    window().TempoSpinUpClick();
    window().KeySpinDownClick();
    window().TrackMix[1].Mute = true;
    const QStringList plain = window().exportArguments("out.ogg");
    EXPECT_EQ(plain.mid(0, 1), QStringList{"render"});
    EXPECT_EQ(plain[2], "out.ogg");
    EXPECT_EQ(plain.mid(3, 4), (QStringList{"--tempo", "121", "--key", "-1"}));
    const int volumes = plain.indexOf("--volumes");
    ASSERT_GE(volumes, 0);
    EXPECT_EQ(plain[volumes + 1].split(',').value(1), "-128") << "the muted track";
    EXPECT_FALSE(plain.contains("--voice"));

    setting(TPreference::kFollowTempoSection, TPreference::kFollowTempoKey, "1");
    window().ShowTempo();
    window().TempoSpinUpClick();  // 120 at the start becomes 121: the map at 120/121
    const QStringList following = window().exportArguments("out.ogg");
    EXPECT_EQ(following.mid(3, 3), (QStringList{"--follow-tempo", "--tempo-ratio", "120/121"}));

    window().PlayButtonClick();
    EXPECT_FALSE(window().ExportAudio1->isEnabled());
    window().StopButtonClick();
    EXPECT_TRUE(window().ExportAudio1->isEnabled());
}

// Guards against an export that writes nothing, writes under another name than the one
// chosen with its filter, or plays the mutes wrong: the song exported heard, then with
// every track muted silent.
TEST_F(ExportTest, TheFileIsWrittenWithTheFiltersExtension) {
    open();
    openSong(songFile("song.mid", noteSong(4)));
    dialogs.saveAnswers.push_back({QString::fromStdString(path("songs/heard")), 0});
    window().ExportAudio1Click();
    EXPECT_TRUE(boxTexts().empty()) << boxTexts().front();
    const std::vector<std::int16_t> heard = wavSamples(path("songs/heard.wav"));
    EXPECT_GT(heard.size(), 2u * 44100);  // four quarters at 120 and the tail
    EXPECT_GT(peak(heard), 1000);

    for (auto& track : window().TrackMix) {
        track.Mute = true;
    }
    dialogs.saveAnswers.push_back({QString::fromStdString(path("songs/muted.WAV")), 2});
    window().ExportAudio1Click();
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_LE(peak(wavSamples(path("songs/muted.WAV"))), 1);  // at most the last bit
}

}  // namespace
