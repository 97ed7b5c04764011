#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "SmfReader.h"
#include "ToolTestSupport.h"

using namespace tooltest;

namespace {

Smf readExample() {
    Smf smf;
    EXPECT_EQ(readSmf(fileBytes(EXAMPLE_SONG), smf), "");
    return smf;
}

std::string stripMarks(std::string text) {
    if (!text.empty() && (text.front() == '/' || text.front() == '\\')) {
        text.erase(0, 1);
    }
    return text;
}

}  // namespace

// Guards against: the committed example and the generator drifting apart.
TEST(Mksong, OutputEqualsCommittedExample) {
    TempFolder folder;
    const RunResult run = runProgram({MKSONG_PATH, folder.file("out.kar")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fileBytes(folder.file("out.kar")), fileBytes(EXAMPLE_SONG));
}

// Guards against: a file that players reject, mixed channels in a track, or lyrics out of step
// with the notes they belong to.
TEST(Mksong, ExampleIsWellFormedKaraoke) {
    const Smf smf = readExample();
    EXPECT_EQ(smf.format, 1);
    EXPECT_EQ(smf.division, 480);
    ASSERT_EQ(smf.tracks.size(), 7u);
    EXPECT_EQ(checkChannelLayout(smf), "");

    std::uint32_t end = 0;
    for (const auto& track : smf.tracks) {
        end = std::max(end, track.back().tick);
    }
    const double seconds = end / 480.0 * 0.6;
    EXPECT_GE(seconds, 30.0);
    EXPECT_LE(seconds, 40.0);

    EXPECT_EQ(smf.tracks[1].front().text(), "@KMIDI KARAOKE FILE");
    const auto tempo = std::find_if(smf.tracks[0].begin(), smf.tracks[0].end(),
                                    [](const SmfEvent& e) { return e.metaType == 0x51; });
    ASSERT_NE(tempo, smf.tracks[0].end());
    EXPECT_EQ(tempo->data, (std::vector<std::uint8_t>{0x09, 0x27, 0xC0}));

    std::vector<std::pair<std::uint32_t, std::string>> texts;
    std::vector<std::pair<std::uint32_t, std::string>> lyrics;
    std::set<std::uint32_t> melodyNotes;
    for (const SmfEvent& e : smf.tracks[2]) {
        if (e.metaType == 0x01) {
            texts.emplace_back(e.tick, stripMarks(e.text()));
        }
    }
    for (const SmfEvent& e : smf.tracks[3]) {
        if (e.metaType == 0x05) {
            lyrics.emplace_back(e.tick, e.text());
        } else if (e.isNoteOn()) {
            melodyNotes.insert(e.tick);
        }
    }
    ASSERT_EQ(texts.size(), 42u);
    EXPECT_EQ(texts, lyrics);
    EXPECT_GT(texts.front().first, 0u);
    for (const auto& [tick, text] : texts) {
        EXPECT_TRUE(melodyNotes.count(tick)) << text << " at " << tick << " has no note";
    }
}

// Guards against: a checker so lax that the well-formedness test above could never fail.
TEST(Mksong, CheckerRejectsDamagedSongs) {
    const std::vector<std::uint8_t> good = fileBytes(EXAMPLE_SONG);
    auto find = [&](std::vector<std::uint8_t> pattern) {
        return static_cast<std::size_t>(
            std::search(good.begin(), good.end(), pattern.begin(), pattern.end()) - good.begin());
    };
    const std::vector<std::pair<const char*, std::function<void(std::vector<std::uint8_t>&)>>>
        damage{
            {"cut short", [](auto& b) { b.pop_back(); }},
            {"first chunk too long", [](auto& b) { ++b[21]; }},
            {"no End-of-Track", [](auto& b) { b[b.size() - 2] = 0x01; }},
            {"second channel in melody",
             [&](auto& b) {
                 b[find({0xC0, 0x49})] = 0xC5;
             }},
        };
    for (const auto& [name, apply] : damage) {
        SCOPED_TRACE(name);
        std::vector<std::uint8_t> bytes = good;
        apply(bytes);
        Smf smf;
        const std::string problem = readSmf(bytes, smf);
        EXPECT_FALSE(problem.empty() && checkChannelLayout(smf).empty());
    }
    Smf reordered = readExample();
    std::swap(reordered.tracks[0], reordered.tracks[3]);
    EXPECT_NE(checkChannelLayout(reordered), "");
}

// Guards against: a failed write destroying the old file or leaving its temporary beside it.
TEST(Mksong, FailedWriteLeavesOldFileAndNoTemporary) {
    TempFolder folder;
    const std::string target = folder.file("song.kar");
    std::filesystem::create_directory(target);
    writeText(target + "/keep", "old");
    const RunResult run = runProgram({MKSONG_PATH, target});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos);
    EXPECT_EQ(fileBytes(target + "/keep").size(), 3u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);
}
