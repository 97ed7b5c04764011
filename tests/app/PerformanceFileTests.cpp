#include <QPushButton>

#include <sys/stat.h>

#include <filesystem>

#include "CantivoHarness.h"
#include "FaultGuard.h"
#include "Filestat.h"
#include "SmBmpBtn.h"
#include "WaveBuilder.h"

using namespace testing_support;

namespace {

namespace fs = std::filesystem;

std::uint32_t chunkSizeAt(const ByteVector& bytes, std::uint64_t at) {
    return bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | static_cast<std::uint32_t>(bytes[at + 7]) << 24;
}

class PerformanceFileTest : public CantivoTest {
protected:
    // A take waiting to be saved, as a recording leaves it; odd-sized so the pad shows.
    std::string pendingTake(std::size_t dataBytes = 3001) {
        ByteVector wave = waveFile(pcmFormat(22050, 1, 16), rampData(dataBytes & ~std::size_t{1}));
        if ((wave.size() & 1u) == 0) {
            wave.push_back(0x77);
        }
        m_take = wave;
        const std::string take = song("take.wav", wave);
        window().PendingWaveFile = take;
        window().RecordingFile = take;
        window().PerformanceUnsaved = true;
        return take;
    }
    const ByteVector& takeBytes() const { return m_take; }
    bool savePerformanceAs(const std::string& name) {
        dialogs.saveAnswers.push_back({QString::fromStdString(name), 0});
        return window().SavePerformance();
    }
    // The voice the window read from the loaded performance.
    ByteVector loadedVoice() { return fileBytes(window().RecordingFile); }
    bool showsPerformance() {
        return window().FileStatusDisplay->FileLoaded() == TFileStatusBox::performance &&
               window().ClearButton->Enabled() && window().BitBtn1->isEnabled();
    }

private:
    ByteVector m_take;
};

// Guards against the voice being lost or shifted on its way into the file and back, a
// wrong length or pad byte, the take's file being left behind, and the performance not
// showing as one after the save.
TEST_F(PerformanceFileTest, SavedAsPfcOpensAgainWithTheSameVoice) {
    open();
    const std::string song = songFile("duet.kar", karaokeSong({"la", "la", "la"}));
    openSong(song);
    const std::string take = pendingTake(999955);
    ASSERT_EQ(takeBytes().size(), 1000001u);
    ASSERT_TRUE(savePerformanceAs(path("songs/duet")));  // the extension comes with the dialog
    const std::string pfc = path("songs/duet.pfc");
    EXPECT_TRUE(boxTexts().empty());
    const cvkapp::FileDialogRequest& request = dialogs.saveRequests.at(0);
    EXPECT_EQ(request.fileName.toStdString(), "duet");
    EXPECT_EQ(request.filters, QStringList{"Performance files (*.pfc *.PFC)"});
    EXPECT_TRUE(request.confirmOverwrite);

    EXPECT_FALSE(fs::exists(take));
    EXPECT_EQ(window().SongFileName, pfc);
    EXPECT_EQ(window().windowTitle().toStdString(), "Cantivo Karaoke - duet.pfc");
    EXPECT_FALSE(window().PerformanceUnsaved);
    const std::uint64_t offset = window().PfcWaveOffset;
    const ByteVector bytes = fileBytes(pfc);
    ASSERT_EQ(bytes.size(), offset + 8 + takeBytes().size() + 1);
    EXPECT_EQ(chunkSizeAt(bytes, offset), takeBytes().size());
    EXPECT_TRUE(showsPerformance());
    EXPECT_EQ(loadedVoice(), takeBytes());
    EXPECT_EQ(window().PendingWaveFile, window().RecordingFile);

    window().New1Click();
    openSong(pfc);
    EXPECT_TRUE(showsPerformance());
    EXPECT_EQ(loadedVoice(), takeBytes());
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_EQ(songFolder(), (std::vector<std::string>{"duet.kar", "duet.pfc"}));
}

// Guards against a save of a loaded performance after a tempo change losing its voice,
// whether the song is rewritten in place (performance dialog cancelled) or the whole
// performance is written again over the same file.
TEST_F(PerformanceFileTest, SavedTwiceAfterATempoChangeKeepsItsVoice) {
    open();
    openSong(songFile("song.mid", noteSong(8)));
    pendingTake();
    ASSERT_TRUE(savePerformanceAs(path("songs/song.pfc")));
    const std::string pfc = path("songs/song.pfc");
    const std::size_t length = fileBytes(pfc).size();

    window().TempoSpinUpClick();
    window().Save1Click();  // the performance dialog that follows is cancelled
    EXPECT_EQ(window().TempoSetting, 121);
    EXPECT_TRUE(showsPerformance());
    EXPECT_EQ(loadedVoice(), takeBytes());
    EXPECT_EQ(fileBytes(pfc).size(), length);

    window().TempoSpinUpClick();
    dialogs.saveAnswers.push_back({QString::fromStdString(pfc), 0});
    window().Save1Click();
    EXPECT_EQ(window().TempoSetting, 122);
    EXPECT_TRUE(showsPerformance());
    EXPECT_EQ(loadedVoice(), takeBytes());
    EXPECT_EQ(fileBytes(pfc).size(), length);
    EXPECT_TRUE(boxTexts().empty()) << boxTexts().front();
    EXPECT_EQ(songFolder(), (std::vector<std::string>{"song.mid", "song.pfc"}));
}

// Guards against a song named .pfc being refused or given a voice, and a damaged voice
// chunk being played or reported more than once.
TEST_F(PerformanceFileTest, APfcWithoutAReadableVoiceOpensAsASong) {
    open();
    const ByteVector song = noteSong(4);
    openSong(songFile("renamed.pfc", song));
    EXPECT_TRUE(window().SongLoaded);
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_TRUE(window().RecordingFile.empty());
    EXPECT_EQ(window().FileStatusDisplay->FileLoaded(), TFileStatusBox::midiKaraoke);
    EXPECT_FALSE(window().ClearButton->Enabled());

    Bytes damaged;
    damaged.raw(song).text("Rvpf").raw({12, 0, 0, 0}).text("not a voice!");
    const std::string file = songFile("damaged.pfc", damaged.bytes());
    openSong(file);
    EXPECT_TRUE(window().SongLoaded);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"The voice recording in " + file +
                                                   " is damaged and cannot be played. The song is "
                                                   "opened without it."});
    EXPECT_TRUE(window().RecordingFile.empty());
    EXPECT_TRUE(window().PendingWaveFile.empty());
    EXPECT_EQ(window().FileStatusDisplay->FileLoaded(), TFileStatusBox::midiKaraoke);
    EXPECT_EQ(tempFiles(), 1u);  // the split copy only
}

// Guards against a performance saved on the way out being lost, its take left behind, or
// the closing window loading it again.
TEST_F(PerformanceFileTest, SavedWhileTheWindowCloses) {
    open();
    openSong(songFile("song.mid", noteSong(4)));
    const std::string take = pendingTake();
    boxes.answerNext(platform::MessageAnswer::Yes);
    dialogs.saveAnswers.push_back({QString::fromStdString(path("songs/last.pfc")), 0});
    EXPECT_TRUE(window().FormClose());
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Performance is not saved . Do you want to save it ?"});
    EXPECT_FALSE(fs::exists(take));
    EXPECT_FALSE(window().SongLoaded);
    EXPECT_EQ(tempFiles(), 0u);
    const ByteVector bytes = fileBytes(path("songs/last.pfc"));
    ASSERT_GT(bytes.size(), takeBytes().size());
    EXPECT_EQ(ByteVector(bytes.end() - static_cast<long>(takeBytes().size()) - 1, bytes.end() - 1), takeBytes());
}

struct SaveFault {
    const char* name;
    const char* box;
};

class PerformanceSaveFaultTest : public PerformanceFileTest,
                                 public ::testing::WithParamInterface<SaveFault> {};

// Guards against a failed performance save damaging the old file, losing the take, or
// passing in silence.
TEST_P(PerformanceSaveFaultTest, TheOldFileAndTheTakeStay) {
    const SaveFault& fault = GetParam();
    const std::string name = fault.name;
    FaultGuard guard;
    open();
    const std::string source = songFile("song.kar", karaokeSong({"a", "b"}));
    openSong(source);
    std::string target = path("songs/old.pfc");
    const ByteVector old = ByteVector{'o', 'l', 'd'};
    songFile("old.pfc", old);
    const std::string take = pendingTake();
    if (name == "ReadOnly") {
        ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    } else if (name == "DiskFull") {
        platform::setWriteFaultAfter(fileBytes(window().SplitFileName).size() + 100);
    } else if (name == "FlushFails") {
        platform::setFlushFault(true);
    } else if (name == "RenameFails") {
        platform::setReplaceFaultAfter(1);
    } else if (name == "NoFolder") {
        target = path("songs/gone/new.pfc");
    } else if (name == "TakeGone") {
        fs::remove(take);
    }
    const std::vector<std::string> folder = songFolder();
    EXPECT_FALSE(savePerformanceAs(target));
    platform::setWriteFaultAfter(std::nullopt);
    ASSERT_FALSE(boxTexts().empty());
    const std::string expected =
        std::string(fault.box) == "read-only"
            ? target + " This file exists with read only attribute, please Save As with a different file name"
            : fault.box;
    EXPECT_EQ(boxTexts().back(), expected);
    EXPECT_EQ(songFolder(), folder);
    if (name != "NoFolder") {
        EXPECT_EQ(fileBytes(target), old);
    }
    if (name != "TakeGone") {
        EXPECT_EQ(fileBytes(take), takeBytes());
    }
    EXPECT_EQ(window().PendingWaveFile, take);
    EXPECT_TRUE(window().PerformanceUnsaved);
    EXPECT_EQ(window().SongFileName, source);
    EXPECT_TRUE(window().SongLoaded);

    // Once the fault is gone, the kept take saves.
    if (name != "TakeGone" && name != "NoFolder") {
        platform::setFlushFault(false);
        platform::setReplaceFaultAfter(std::nullopt);
        ::chmod(target.c_str(), 0644);
        EXPECT_TRUE(savePerformanceAs(target));
        EXPECT_EQ(loadedVoice(), takeBytes());
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, PerformanceSaveFaultTest,
                         ::testing::Values(SaveFault{"ReadOnly", "read-only"},
                                           SaveFault{"DiskFull", "Cannot Save File"},
                                           SaveFault{"FlushFails", "Cannot Save File"},
                                           SaveFault{"RenameFails", "Cannot Save File"},
                                           SaveFault{"NoFolder", "Cannot Create File "},
                                           SaveFault{"TakeGone", "Cannot open recorded wave file"}),
                         CaseName());

// Guards against a name too long for the file system ending the save instead of asking
// again, and the length not being shown.
TEST_F(PerformanceFileTest, ATooLongNameIsShownAndAskedAgain) {
    open();
    openSong(songFile("song.mid", noteSong(4)));
    pendingTake();
    const std::string longName = path("songs/" + std::string(250, 'x') + ".pfc");
    dialogs.saveAnswers.push_back({QString::fromStdString(longName), 0});
    EXPECT_FALSE(window().SavePerformance());  // then cancelled
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"File name is too big !", std::to_string(longName.size())}));
    EXPECT_EQ(dialogs.saveRequests.size(), 2u);
    EXPECT_TRUE(fs::exists(window().PendingWaveFile));
}

}  // namespace
