// Recording from the virtual microphone: the take on disk, the monitor the singer hears,
// the meters, and what happens to a take when the disk or the device lets it down.

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "FaultGuard.h"
#include "VoiceHarness.h"
#include "WaveFile.h"

namespace {

using testing_support::pcmFormat;
using testing_support::rampData;

constexpr std::int32_t kBuffer = 4096;

std::vector<std::uint8_t> header46(std::uint32_t dataBytes) {
    auto file = testing_support::waveFile(pcmFormat(22050, 1, 16), {});
    for (int i = 0; i < 4; ++i) {
        file[4 + i] = static_cast<std::uint8_t>((dataBytes + 38) >> (8 * i));
        file[42 + i] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
    }
    return file;
}

std::vector<std::uint8_t> dataOf(const std::vector<std::uint8_t>& file) {
    return file.size() < 46 ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>(file.begin() + 46, file.end());
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// How the last take ended, as AudioGetRecordResult tells it.
std::pair<std::int32_t, std::string> recordResult() {
    char path[4096] = "?";
    const std::int32_t result = AudioGetRecordResult(path, sizeof path);
    return {result, path};
}

std::vector<std::string> textsOf(const platform::ScriptedMessageBoxes& script) {
    std::vector<std::string> texts;
    for (const auto& box : script.shown()) {
        texts.push_back(box.text);
    }
    return texts;
}

unsigned modeOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

class RecordTest : public VoiceTest {
protected:
    void microphone(const std::vector<std::uint8_t>& bytes) {
        audio::VirtualWaveSetup setup;
        setup.microphone = bytes;
        useDevices(setup);
    }
    std::int32_t start(const std::string& target, bool monitor = true, std::int32_t buffer = kBuffer) {
        return AudioStartRecord(window.handle(), target.c_str(), 22050, 1, 16, buffer, monitor ? -1 : 0, 0);
    }
    // Records `ms` of audio, stops, and waits for the take to be finished.
    void recordFor(int ms) {
        run(ms);
        AudioStopRecord();
        recordToEnd();
    }
};

// Guards the take's layout and completeness: the 46-byte header with both sizes right,
// every captured byte in order, an old file of the same name replaced, no temporary left.
TEST_F(RecordTest, TheTakeHoldsTheVoiceBehindItsHeaderAndReplacesTheTarget) {
    const auto voice = rampData(3 * 44100);
    microphone(voice);
    const auto target = dir.write("take.wav", {'o', 'l', 'd'});
    ASSERT_EQ(start(target), 1);
    EXPECT_EQ(std::filesystem::path(voxcapt::recordingView().temporaryName).parent_path(),
              std::filesystem::path(target).parent_path());
    recordFor(2000);
    const auto file = readFile(target);
    ASSERT_GE(file.size(), 46u);
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(file.size() - 46);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 46), header46(dataBytes));
    EXPECT_GE(dataBytes, 2 * 44100 - kBuffer);
    EXPECT_EQ(dataOf(file), std::vector<std::uint8_t>(voice.begin(), voice.begin() + dataBytes));
    EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"take.wav"});
    EXPECT_TRUE(boxTexts().empty());
}

// Guards a stop right after the start: the take is the bare header with patched sizes.
TEST_F(RecordTest, StoppingAtOnceLeavesAnEmptyTake) {
    const auto target = dir.path("take.wav");
    ASSERT_EQ(start(target), 1);
    AudioStopRecord();
    recordToEnd();
    EXPECT_EQ(readFile(target), header46(0));
    EXPECT_FALSE(voxcapt::recordingView().active);
}

// Guards the monitor: the singer hears the voice three buffers late, with the echo when
// one is set, while the file gets the dry voice; a suppressed voice is silence on the
// monitor only; without a file nothing is written anywhere.
TEST_F(RecordTest, TheMonitorCarriesTheVoiceAndTheEchoTheFileStaysDry) {
    std::vector<std::int16_t> impulse(22050 * 2, 0);
    impulse[100] = 10'000;
    const auto voice = testing_support::samples16(impulse);
    struct Case {
        const char* name;
        int echoMs;
        int audible;
        bool file;
    };
    for (const Case c : {Case{"Dry", 0, 1, true}, Case{"Echo", 250, 1, true},
                         Case{"Suppressed", 250, 0, true}, Case{"NoFile", 0, 1, false}}) {
        SCOPED_TRACE(c.name);
        microphone(voice);
        AudioSetEchoDelay(c.echoMs);
        AudioSuppressWave(c.audible);
        const std::string target = c.file ? dir.path(std::string(c.name) + ".wav") : "";
        ASSERT_EQ(start(target), 1);
        run(1500);
        std::int32_t left = 0;
        std::int32_t right = 0;
        AudioGetWaveRecLevels(&left, &right);
        AudioStopRecord();
        recordToEnd();
        const auto heard = lastOutput();
        ASSERT_GE(heard.size(), 2u * 12'000);
        std::vector<std::pair<std::size_t, std::int16_t>> nonzero;
        for (std::size_t i = 0; i < heard.size() / 2; ++i) {
            if (testing_support::sampleAt(heard, i) != 0) {
                nonzero.emplace_back(i, testing_support::sampleAt(heard, i));
            }
        }
        using Hits = std::vector<std::pair<std::size_t, std::int16_t>>;
        if (!c.audible) {
            EXPECT_EQ(nonzero, Hits{});
        } else if (c.echoMs > 0) {
            const std::size_t delay = 22050 * 250 / 1000 - 1;
            EXPECT_EQ(nonzero, (Hits{{100, 10'000}, {100 + delay, 7'000}}));
        } else {
            EXPECT_EQ(nonzero, (Hits{{100, 10'000}}));
        }
        if (c.file) {
            const auto take = dataOf(readFile(target));
            ASSERT_GT(take.size(), 202u);
            EXPECT_EQ(take, std::vector<std::uint8_t>(voice.begin(), voice.begin() + static_cast<std::ptrdiff_t>(take.size())));
        } else {
            EXPECT_EQ(filesIn(dir.path("")),
                      (std::vector<std::string>{"Dry.wav", "Echo.wav", "Suppressed.wav"}));
        }
    }
}

// Guards the record-silence flag and the meters: the file gets silence while the meters
// still show the voice, and the meters drop to 0 as soon as capture stops.
TEST_F(RecordTest, RecordSilenceBlanksTheFileNotTheMeters) {
    microphone(testing_support::samples16(std::vector<std::int16_t>(44100, 32767)));
    AudioRecordSilence(1);
    const auto target = dir.path("take.wav");
    ASSERT_EQ(start(target, false), 1);
    run(500);
    std::int32_t left = 0;
    std::int32_t right = 0;
    GetWaveRecLevels(&left, &right);
    EXPECT_EQ(std::make_pair(left, right), std::make_pair(16, 16));
    AudioStopRecord();
    AudioGetWaveRecLevels(&left, &right);
    EXPECT_EQ(std::make_pair(left, right), std::make_pair(0, 0)) << "before the take is finished";
    recordToEnd();
    const auto take = dataOf(readFile(target));
    EXPECT_GT(take.size(), 0u);
    EXPECT_EQ(take, std::vector<std::uint8_t>(take.size(), 0));
}

// Guards the stop call's other duty and a second start over a running take.
TEST_F(RecordTest, StopClearsThePendingOffsetAndASecondStartIsRefused) {
    UpdateOffsetForPlayBack(3);
    EXPECT_EQ(AudioStopRecord(), 1) << "nothing records";
    EXPECT_EQ(voxcapt::playbackView().offsetMode, 0);
    EXPECT_EQ(voxcapt::playbackView().pendingOffset, 0);
    const auto target = dir.path("take.wav");
    ASSERT_EQ(start(target), 1);
    EXPECT_EQ(start(dir.path("other.wav")), 0);
    recordFor(300);
    EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"take.wav"});
}

// Guards a disk that fills mid-take: the take up to there is kept (sizes right, renamed
// to its target), capture stops, and the device and buffers are given back.
TEST_F(RecordTest, AFailedWriteKeepsTheTakeSoFar) {
    testing_support::FaultGuard guard;
    const auto voice = rampData(4 * 44100);
    microphone(voice);
    const auto target = dir.path("take.wav");
    ASSERT_EQ(start(target), 1);
    platform::setWriteFaultAfter(10 * kBuffer + 100);
    run(3000);
    recordToEnd();
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error saving recording to disk"});
    EXPECT_FALSE(voxcapt::recordingView().active);
    const auto file = readFile(target);
    ASSERT_EQ(file.size(), 46u + 10 * kBuffer);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 46), header46(10 * kBuffer));
    EXPECT_EQ(dataOf(file), std::vector<std::uint8_t>(voice.begin(), voice.begin() + 10 * kBuffer));
    EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"take.wav"});
    EXPECT_EQ(recordResult(), std::make_pair(2, target)) << "cut short, kept whole";
}

// Guards the disk guard: it asks about the disk the take is written to (not the current
// folder), asks again as the take grows, and stops with room to spare.
TEST_F(RecordTest, TheDiskGuardWatchesTheTakesDiskAsItFills) {
    microphone(rampData(10 * 44100));
    std::vector<std::string> asked;
    std::uint64_t free = 400 * 1024;
    voxcapt::setFreeSpaceProbe([&](const std::string& folder) -> std::optional<std::uint64_t> {
        asked.push_back(folder);
        // Another program fills the disk faster than the take does.
        free = free > 80 * 1024 ? free - 80 * 1024 : 0;
        return free;
    });
    const auto target = dir.path("take.wav");
    ASSERT_EQ(start(target, false), 1);
    run(8000);
    recordToEnd();
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Hard Disk Full!"});
    ASSERT_GE(asked.size(), 3u);
    for (const auto& folder : asked) {
        EXPECT_EQ(folder, dir.path("").substr(0, dir.path("").size() - 1));
    }
    const auto take = readFile(target);
    EXPECT_GT(take.size(), 46u);
    EXPECT_LT(take.size(), 46u + 6 * 44100) << "capture went on";
}

// Guards a take against a crash: while recording, the file on disk is a complete wave
// file whose sizes trail the captured audio by at most a second.
TEST_F(RecordTest, TheTemporaryTakeIsAlwaysAValidWaveFile) {
    const auto voice = rampData(6 * 44100);
    microphone(voice);
    ASSERT_EQ(start(dir.path("take.wav"), false), 1);
    const std::string temporary = voxcapt::recordingView().temporaryName;
    {
        // A crash in the first half second: the sizes already cover the first buffer.
        run(100);
        platform::FileReader reader;
        ASSERT_TRUE(reader.open(temporary));
        voxcapt::ParsedWave parsed;
        ASSERT_EQ(voxcapt::parseWave(reader, parsed), voxcapt::WaveParseError::None);
        EXPECT_EQ(parsed.dataSize, static_cast<std::uint32_t>(kBuffer));
    }
    for (int second = 1; second <= 4; ++second) {
        run(1000);
        platform::FileReader reader;
        ASSERT_TRUE(reader.open(temporary));
        voxcapt::ParsedWave parsed;
        ASSERT_EQ(voxcapt::parseWave(reader, parsed), voxcapt::WaveParseError::None);
        const std::uint64_t written = voxcapt::recordingView().fileSize - 46;
        EXPECT_LE(parsed.dataSize, written);
        EXPECT_GE(parsed.dataSize + 44100, written) << "second " << second;
    }
}

struct StartFailure {
    const char* name;
    audio::VirtualWaveSetup devices;
    std::int32_t buffer;
    std::int32_t failWithoutMonitor;
    std::int32_t result;
    std::vector<std::string> boxes;
};

// Guards every failed start: its message, its result, and nothing left behind (no
// temporary file, no device), and a monitor failure that only costs the monitor.
TEST_F(RecordTest, FailedStartsSayWhyAndLeaveNothingBehind) {
    audio::VirtualWaveSetup refused;
    refused.formatRefused = true;
    audio::VirtualWaveSetup noInput;
    noInput.inputOpenFails = true;
    audio::VirtualWaveSetup noOutput;
    noOutput.outputOpenFails = true;
    const std::string duplex =
        "Either your audio device is busy or Your sound card does not support full duplex operation.This means that you will not be able to listen to your karaoke file as you record your voice. However, you will be able to play back your performance without difficulty.";
    const StartFailure cases[] = {
        {"FormatRefused", refused, kBuffer, 0, 0,
         {"Your device is unable to record at the rate or mode you have selected.  Please check your manual."}},
        {"NoRoomForBuffers", {}, 0, 0, 0,
         {"Unable to allocate sufficient memory for record operation.  Please exit from other applications and try again."}},
        {"InputWillNotOpen", noInput, kBuffer, 0, 0,
         {"Your device is unavailable or unable to record .  Please check your installation."}},
        {"MonitorRequiredAndMissing", noOutput, kBuffer, -1, 0, {}},
        {"MonitorMissingRecordsAnyway", noOutput, kBuffer, 0, 1, {duplex}},
    };
    for (const StartFailure& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ScriptedMessageBoxes record;
        useDevices(c.devices);
        const auto target = dir.path("take.wav");
        EXPECT_EQ(AudioStartRecord(window.handle(), target.c_str(), 22050, 1, 16, c.buffer, -1,
                                   c.failWithoutMonitor),
                  c.result);
        std::vector<std::string> shown;
        for (const auto& box : record.shown()) {
            shown.push_back(box.text);
        }
        EXPECT_EQ(shown, c.boxes);
        if (c.result == 1) {
            recordFor(200);
            EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"take.wav"});
            std::filesystem::remove(target);
        } else {
            EXPECT_FALSE(voxcapt::recordingView().active);
            EXPECT_TRUE(filesIn(dir.path("")).empty());
        }
        pump();
    }
}

// Guards the take of a host that returns from main while recording: it is finished and
// kept under its name, not deleted with the library's state.
TEST_F(RecordTest, ATakeRunningAtExitIsFinishedAndKept) {
    // Forked, so that the child records into this test's folder.
    GTEST_FLAG_SET(death_test_style, "fast");
    const auto voice = rampData(4 * 44100);
    microphone(voice);
    const auto target = dir.path("take.wav");
    EXPECT_EXIT(
        {
            if (start(target) != 1) {
                std::_Exit(3);
            }
            run(2000);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    const auto file = readFile(target);
    ASSERT_GE(file.size(), 46u);
    const auto dataBytes = static_cast<std::uint32_t>(file.size() - 46);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 46), header46(dataBytes));
    EXPECT_GE(dataBytes, 2 * 44100 - kBuffer) << "only the buffer being filled may be missing";
    EXPECT_EQ(dataOf(file), std::vector<std::uint8_t>(voice.begin(), voice.begin() + dataBytes));
    EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"take.wav"});
}

// Guards a take whose recorder was killed between two updates of its sizes, halfway
// through a frame: repaired, its sizes cover every whole frame recorded, in order; and a
// file the recorder did not write in that layout is left exactly as it is.
TEST_F(RecordTest, ATakeKilledBetweenUpdatesIsRepairedToItsLastWholeFrame) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const auto voice = rampData(4 * 44100);
    microphone(voice);
    EXPECT_EXIT(
        {
            if (start(dir.path("take.wav"), false) != 1) {
                std::_Exit(3);
            }
            // Fifteen buffers: the sizes were last brought up to date after the thirteenth,
            // unless half a second of real time passed first on a busy machine.
            run(1400);
            std::ofstream(voxcapt::recordingView().temporaryName, std::ios::app | std::ios::binary).put('\x55');
            std::_Exit(0);  // as a kill: nothing finishes the take
        },
        testing::ExitedWithCode(0), "");
    const std::vector<std::string> left = filesIn(dir.path(""));
    ASSERT_EQ(left.size(), 1u);
    const std::string take = dir.path(left[0]);
    const auto killed = readFile(take);
    ASSERT_GT(killed.size(), 46u + 44100);
    const auto whole = static_cast<std::uint32_t>((killed.size() - 46) & ~std::size_t{1});
    ASSERT_EQ(killed.size(), 46u + whole + 1) << "the torn frame is there";
    if (std::vector<std::uint8_t>(killed.begin(), killed.begin() + 46) == header46(whole)) {
        std::cout << "note: the sizes were current at the kill; only the torn frame is judged\n";
    }
    ASSERT_TRUE(voxcapt::repairTake(take));
    const auto repaired = readFile(take);
    ASSERT_EQ(repaired.size(), 46u + whole);
    EXPECT_EQ(std::vector<std::uint8_t>(repaired.begin(), repaired.begin() + 46), header46(whole));
    EXPECT_EQ(dataOf(repaired), std::vector<std::uint8_t>(voice.begin(), voice.begin() + whole));

    auto standard = testing_support::waveFile(pcmFormat(22050, 1, 16), {1, 2, 3, 4});
    standard[16] = 16;  // the common 16-byte `fmt `, 44-byte header
    standard.erase(standard.begin() + 36, standard.begin() + 38);
    auto adpcm = header46(0);
    adpcm[20] = 2;
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::vector<std::uint8_t>>>{
             {"empty", {}}, {"short", {'R', 'I', 'F', 'F'}}, {"standard", standard}, {"adpcm", adpcm},
             {"text", std::vector<std::uint8_t>(60, 'a')}}) {
        const std::string path = dir.write(name, bytes);
        EXPECT_FALSE(voxcapt::repairTake(path)) << name;
        EXPECT_EQ(readFile(path), bytes) << name;
    }
}

// Guards a take only its owner can open (the unique temporary file's 0600): it gets the
// permissions of any file the user saves.
TEST_F(RecordTest, ATakeGetsThePermissionsOfASavedFile) {
    for (const auto& [mask, mode] : {std::pair<mode_t, unsigned>{022, 0644}, {027, 0640}}) {
        SCOPED_TRACE(mask);
        const auto target = dir.path("take" + std::to_string(mask) + ".wav");
        const mode_t before = ::umask(mask);
        const std::int32_t started = start(target);
        ::umask(before);
        ASSERT_EQ(started, 1);
        recordFor(300);
        EXPECT_EQ(modeOf(target), mode);
    }
}

struct FinishCase {
    const char* name;
    bool flushFails;
    bool targetIsFolder;
    bool relative;  // the target is given relative to the current folder
    std::int32_t result;
    std::string box;  // with <take> for where the take is kept, <target> for its name
};

// Guards a take reported safe when it is not: a failed flush or a rename and copy that
// failed must give one box naming where the take is (its full path, whatever the target
// was relative to), a 0 result, and leave an older take of the target's name alone; a good
// finish says where the take is, without a box.
TEST_F(RecordTest, FinishingSaysWhereTheTakeIsWhenItCouldNotBePutInPlace) {
    const FinishCase cases[] = {
        {"Complete", false, false, false, 1, ""},
        {"FlushFails", true, false, false, 0,
         "The recording could not be completed on disk. What was written is kept as <take>."},
        {"TargetIsAFolder", false, true, false, 0,
         "The recording could not be saved as <target>. It is kept as <take>."},
        {"RelativeTargetIsAFolder", false, true, true, 0,
         "The recording could not be saved as <target>. It is kept as <take>."},
    };
    const std::filesystem::path home = std::filesystem::current_path();
    const auto voice = rampData(2 * 44100);
    for (const FinishCase& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::FaultGuard guard;
        platform::ScriptedMessageBoxes shown;
        testing_support::TempDir folder;
        microphone(voice);
        const std::string target = folder.path("take.wav");
        if (c.targetIsFolder) {
            std::filesystem::create_directory(target);
        } else {
            folder.write("take.wav", {'o', 'l', 'd'});
        }
        if (c.relative) {
            std::filesystem::current_path(folder.path(""));
        }
        const std::int32_t started = start(c.relative ? "take.wav" : target);
        const std::string temporary =
            std::filesystem::absolute(voxcapt::recordingView().temporaryName).lexically_normal().string();
        run(500);
        platform::setFlushFault(c.flushFails);
        AudioStopRecord();
        recordToEnd();
        std::filesystem::current_path(home);
        ASSERT_EQ(started, 1);
        const std::string kept = c.result == 1 ? target : temporary;
        const std::vector<std::string> texts = textsOf(shown);
        std::string box = c.box;
        if (const auto at = box.find("<target>"); at != std::string::npos) {
            box.replace(at, 8, target);
        }
        if (const auto at = box.find("<take>"); at != std::string::npos) {
            box.replace(at, 6, kept);
        }
        EXPECT_EQ(texts, c.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{box});
        EXPECT_EQ(recordResult(), std::make_pair(c.result, kept));
        const auto file = readFile(kept);
        ASSERT_GT(file.size(), 46u);
        EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 46),
                  header46(static_cast<std::uint32_t>(file.size() - 46)));
        if (c.flushFails) {
            EXPECT_EQ(readFile(target), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        }
    }
}

struct InHandlerCase {
    const char* name;
    std::optional<std::uint64_t> writeFaultAfter;
    std::optional<std::uint64_t> freeBytes;
    std::string box;
};

// Guards a box shown from inside a notification before the failure was acted upon: its
// event loop takes the next notifications, each fails again and stacks another box.
// Capture stops first, and one box follows.
TEST_F(RecordTest, AFailureInANotificationStopsCaptureThenShowsOneBox) {
    const InHandlerCase cases[] = {
        {"WriteFails", 3 * kBuffer + 10, std::nullopt, "Error saving recording to disk"},
        {"DiskFull", std::nullopt, 60 * 1024, "Hard Disk Full!"},
    };
    for (const InHandlerCase& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::FaultGuard guard;
        microphone(rampData(6 * 44100));
        if (c.freeBytes) {
            voxcapt::setFreeSpaceProbe([&c](const std::string&) { return c.freeBytes; });
        }
        ASSERT_EQ(start(dir.path(std::string(c.name) + ".wav")), 1);
        platform::setWriteFaultAfter(c.writeFaultAfter);
        // A modal box: while it is up, its event loop hands the window's notifications on.
        std::vector<std::pair<std::string, bool>> shown;
        const auto previous = platform::setMessageBoxHandler([&](const platform::MessageBoxRequest& box) {
            shown.emplace_back(box.text, voxcapt::recordingView().recording);
            run(400);
            return platform::MessageAnswer::Ok;
        });
        run(2000);
        recordToEnd();
        platform::setMessageBoxHandler(previous);
        voxcapt::setFreeSpaceProbe({});
        EXPECT_EQ(shown, (std::vector<std::pair<std::string, bool>>{{c.box, false}}))
            << "one box, shown once capture had stopped";
        EXPECT_FALSE(voxcapt::recordingView().active);
    }
}

struct StreamCase {
    const char* name;
    bool input;  // the capture stream fails; otherwise the monitor's
    audio::WaveError why;
    std::string box;
    std::int32_t result;
};

// Guards a stream that dies unnoticed: a failed capture stream stops the take and keeps
// what was recorded (with buffers the device returned before its failure was handled);
// a failed monitor costs the monitor only. One box each, naming what happened.
TEST_F(RecordTest, AFailedStreamStopsWhatItCarriedAndKeepsTheTake) {
    const StreamCase cases[] = {
        {"Capture", true, audio::WaveError::NoSoundServer,
         "The recording stopped: the microphone's stream failed (the sound server went away). "
         "What was recorded so far is kept.",
         2},
        {"Monitor", false, audio::WaveError::NoDriver,
         "You can no longer hear yourself: the monitor's stream failed (its device was removed). "
         "The recording goes on.",
         1},
    };
    const auto voice = rampData(5 * 44100);
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ScriptedMessageBoxes shown;
        microphone(voice);
        const auto target = dir.path(std::string(c.name) + ".wav");
        ASSERT_EQ(start(target), 1);
        run(1000);
        // Buffers filled and not yet handed back when the stream fails.
        platform::advanceManualClock(200);
        const auto view = voxcapt::recordingView();
        ASSERT_TRUE(audio::failVirtualWaveDevice(c.input ? view.inputDevice : view.monitorDevice, c.why));
        run(100);
        const std::size_t heardAtFailure = lastOutput().size();
        run(1000);
        EXPECT_EQ(voxcapt::recordingView().active, !c.input);
        EXPECT_FALSE(voxcapt::recordingView().monitorOpen);
        AudioStopRecord();
        recordToEnd();
        const std::vector<std::string> texts = textsOf(shown);
        EXPECT_EQ(texts, std::vector<std::string>{c.box});
        EXPECT_EQ(recordResult(), std::make_pair(c.result, target));
        EXPECT_EQ(lastOutput().size(), heardAtFailure) << "the monitor is silent from the failure on";
        const auto take = dataOf(readFile(target));
        EXPECT_GE(take.size(), (c.input ? 1200u : 2300u) * 44 - kBuffer);
        EXPECT_LE(take.size(), (c.input ? 1200u : 2300u) * 45);
        EXPECT_EQ(take, std::vector<std::uint8_t>(voice.begin(), voice.begin() + static_cast<std::ptrdiff_t>(take.size())));
    }
}

}  // namespace
