// Voice playback on the virtual speakers: what reaches them, byte for byte, with the
// offset, seeks, silence, echo and levels, and how damaged files are turned away.

#include <algorithm>

#include "VoiceHarness.h"

namespace {

using testing_support::pcmFormat;
using testing_support::rampData;
using testing_support::waveFile;

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& v, std::size_t from,
                                std::size_t to = SIZE_MAX) {
    to = std::min(to, v.size());
    return from >= to ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>(v.begin() + from, v.begin() + to);
}

struct PlayCase {
    const char* name;
    audio::WaveFormat format;
    std::size_t dataBytes;
    std::size_t fmtExtra;
};

class PlayWhole : public VoiceTest, public testing::WithParamInterface<PlayCase> {};

// Guards against lost, repeated or extra bytes (a chunk behind the data played as voice),
// a long `fmt ` refused, and a stream that never closes.
TEST_P(PlayWhole, SpeakersGetTheDataExactlyThenTheCloseNotification) {
    const PlayCase& c = GetParam();
    const auto data = rampData(c.dataBytes);
    std::vector<std::uint8_t> trailer;
    testing_support::appendChunk(trailer, "LIST", std::vector<std::uint8_t>(300, 0x55));
    const auto path = dir.write("voice.wav", waveFile(c.format, data, c.fmtExtra, trailer));
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    EXPECT_EQ(AudioPlayFile(window.handle(), path.c_str()), 0) << "a second stream while one plays";
    playToEnd();
    EXPECT_EQ(lastOutput(), data);
    EXPECT_EQ(messages.back(), audio::kWaveOutCloseMessage);
    EXPECT_TRUE(boxTexts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PlayWhole,
    testing::Values(PlayCase{"VoiceManyBuffers", pcmFormat(22050, 1, 16), 123'456, 0},
                    PlayCase{"ShorterThanOneBuffer", pcmFormat(22050, 1, 16), 3'000, 0},
                    PlayCase{"StereoEightBitLongFmt", pcmFormat(11025, 2, 8), 50'001 & ~1u, 6},
                    PlayCase{"CdStereo", pcmFormat(44100, 2, 16), 400'000, 0}),
    [](const auto& param) { return std::string(param.param.name); });

struct OffsetCase {
    const char* name;
    int units;
    int afterMs;  // -1: set before playback starts
    std::size_t dataBytes;
};

class PlayOffset : public VoiceTest, public testing::WithParamInterface<OffsetCase> {};

// Guards the alignment offset: a skip that lands elsewhere or is applied twice, a skip
// past the end, a move back by the wrong amount, silence of the wrong length before the
// voice.
TEST_P(PlayOffset, IsAppliedOnceAtTheNextRefillByteExact) {
    const OffsetCase& c = GetParam();
    const auto data = rampData(c.dataBytes);
    const auto path = dir.write("voice.wav", waveFile(pcmFormat(22050, 1, 16), data));
    if (c.afterMs < 0) {
        UpdateOffsetForPlayBack(c.units);
    }
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    std::size_t at = 0;  // where the voice stands at the refill that applies the offset
    if (c.afterMs >= 0) {
        run(c.afterMs);
        at = voxcapt::playbackView().position;
        UpdateOffsetForPlayBack(c.units);
    }
    playToEnd();
    const std::size_t bytes = static_cast<std::size_t>(std::abs(c.units)) * 44100;
    std::vector<std::uint8_t> expected;
    if (c.units > 0) {
        expected = bytes < data.size() - at ? concat({slice(data, 0, at), slice(data, at + bytes)}) : data;
    } else if (bytes < at) {
        expected = concat({slice(data, 0, at), slice(data, at - bytes)});
    } else {
        expected = concat({slice(data, 0, at), std::vector<std::uint8_t>(bytes, 0), data});
    }
    EXPECT_EQ(lastOutput(), expected);
    EXPECT_EQ(voxcapt::playbackView().offsetMode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, PlayOffset,
    testing::Values(OffsetCase{"SkipTwoSeconds", 2, 300, 300'000},
                    OffsetCase{"SkipBeyondTheEndSkipsNothing", 2, 0, 60'000},
                    OffsetCase{"BackOneSecondBeforeStartIsSilenceFirst", -1, -1, 30'000},
                    OffsetCase{"BackOneSecondWhilePlaying", -1, 1500, 200'000},
                    OffsetCase{"BackFurtherThanPlayedRestartsLate", -3, 500, 100'000},
                    OffsetCase{"ZeroBeforeStartChangesNothing", 0, -1, 30'000}),
    [](const auto& param) { return std::string(param.param.name); });

struct ShiftCase {
    const char* name;
    int milliseconds;
    std::size_t dataBytes;
    bool beforeStart = false;
};

class PlayShift : public VoiceTest, public testing::WithParamInterface<ShiftCase> {};

// Guards the window's line-up of a voice with its song: silence of the wrong length or
// spread over the wrong buffers, voice repeated instead of waiting, a skip that loses more
// or less than asked, a skip past the end that cuts the voice.
TEST_P(PlayShift, WaitsOrSkipsExactlyOnceAtTheNextRefill) {
    const ShiftCase& c = GetParam();
    const auto data = rampData(c.dataBytes);
    const auto path = dir.write("voice.wav", waveFile(pcmFormat(22050, 1, 16), data));
    std::size_t at = 0;  // where the voice stands at the refill that shifts it
    if (c.beforeStart) {
        AudioShiftPlayback(c.milliseconds);
    }
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    if (!c.beforeStart) {
        run(300);
        at = voxcapt::playbackView().position;
        AudioShiftPlayback(c.milliseconds);
    }
    playToEnd();
    const std::size_t bytes = static_cast<std::size_t>(std::abs(c.milliseconds)) * 22050 / 1000 * 2;
    std::vector<std::uint8_t> expected;
    if (c.milliseconds > 0) {
        expected = concat({slice(data, 0, at), std::vector<std::uint8_t>(bytes, 0), slice(data, at)});
    } else {
        expected = at + bytes < data.size() ? concat({slice(data, 0, at), slice(data, at + bytes)}) : data;
    }
    EXPECT_EQ(lastOutput(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Shifts, PlayShift,
    testing::Values(ShiftCase{"WaitFortyMilliseconds", 43, 200'000}, ShiftCase{"WaitLongerThanABuffer", 400, 200'000},
                    ShiftCase{"SkipFortyMilliseconds", -43, 200'000},
                    ShiftCase{"SkipPastTheEndSkipsNothing", -900, 60'000},
                    ShiftCase{"WaitBeforeStartIsSilenceFirst", 43, 200'000, true},
                    ShiftCase{"SkipBeforeStartLosesTheVoicesFirstFrames", -12, 200'000, true}),
    [](const auto& param) { return std::string(param.param.name); });

// Guards the seek arithmetic: both directions at the exact byte rate (the voice drifted
// 0.7 s from the song at minute 5 with 44000 bytes a second), and playback going on from
// exactly there.
TEST_F(VoiceTest, SeeksLandOnTheExactByteOfTheSongTime) {
    const auto data = rampData(20 * 44100);
    const auto path = dir.write("voice.wav", waveFile(pcmFormat(22050, 1, 16), data));
    const std::int32_t dataOffset = 46;
    EXPECT_EQ(AudioRewind(10), 0) << "nothing plays";
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    run(200);
    EXPECT_EQ(AudioForward(10), dataOffset + 441000);
    run(300);
    EXPECT_EQ(AudioRewind(10), dataOffset + 441000);
    EXPECT_EQ(AudioRewind(300), dataOffset + 300 * 44100);
    EXPECT_EQ(AudioRewind(2), dataOffset + 88200);
    playToEnd();
    const auto out = lastOutput();
    const auto tail = slice(data, 88200);
    ASSERT_GE(out.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), out.end() - static_cast<std::ptrdiff_t>(tail.size())));
}

// Guards the meters and silent mode: full scale reads 16, silence and idle read 0, and a
// silenced voice keeps its length (the song's timing) while nothing is heard.
TEST_F(VoiceTest, LevelsFollowWhatIsPlayedAndSilenceKeepsTheTiming) {
    const auto loud = testing_support::samples16(std::vector<std::int16_t>(30'000, -32768));
    const auto path = dir.write("loud.wav", waveFile(pcmFormat(22050, 1, 16), loud));
    std::int32_t left = -1;
    std::int32_t right = -1;
    AudioGetWavePlayLevels(&left, &right);
    EXPECT_EQ(std::make_pair(left, right), std::make_pair(0, 0));
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    AudioGetWavePlayLevels(&left, &right);
    EXPECT_EQ(std::make_pair(left, right), std::make_pair(16, 16));
    playToEnd();

    EXPECT_EQ(AudioPlaySilenceWave(1), 1);
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    AudioGetWavePlayLevels(&left, &right);
    EXPECT_EQ(std::make_pair(left, right), std::make_pair(0, 0));
    playToEnd();
    EXPECT_EQ(lastOutput(), std::vector<std::uint8_t>(loud.size(), 0));
}

struct EchoCase {
    const char* name;
    audio::WaveFormat format;
    int delayMs;
    std::size_t echoFrame;  // where the 70 % copy of the first frame lands; 0: no echo
};

class PlayEcho : public VoiceTest, public testing::WithParamInterface<EchoCase> {};

// Guards the echo line: the delay in frames, the 70 % feed-forward that never repeats,
// a delay above half a second reaching outside the ring, and the 10 ms gate.
TEST_P(PlayEcho, AnImpulseComesBackOnceAtTheDelay) {
    const EchoCase& c = GetParam();
    const std::size_t frames = c.format.samplesPerSec * 3;
    std::vector<std::int16_t> samples(frames * c.format.channels, 0);
    samples[0] = 10'000;
    if (c.format.channels == 2) {
        samples[1] = -20'000;
    }
    const auto path = dir.write("impulse.wav", waveFile(c.format, testing_support::samples16(samples)));
    AudioSetEchoDelay(c.delayMs);
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    EXPECT_EQ(voxcapt::echoRingEntries(), c.format.samplesPerSec * c.format.channels + c.format.channels);
    playToEnd();
    const auto out = lastOutput();
    ASSERT_EQ(out.size(), samples.size() * 2);
    std::vector<std::size_t> nonzero;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (testing_support::sampleAt(out, i) != 0) {
            nonzero.push_back(i);
        }
    }
    std::vector<std::size_t> expected{0};
    if (c.format.channels == 2) {
        expected.push_back(1);
    }
    if (c.echoFrame != 0) {
        for (std::size_t ch = 0; ch < c.format.channels; ++ch) {
            expected.push_back(c.echoFrame * c.format.channels + ch);
        }
        EXPECT_EQ(testing_support::sampleAt(out, c.echoFrame * c.format.channels), 7000);
        if (c.format.channels == 2) {
            EXPECT_EQ(testing_support::sampleAt(out, c.echoFrame * 2 + 1), -14000);
        }
    }
    EXPECT_EQ(nonzero, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Delays, PlayEcho,
    testing::Values(EchoCase{"HalfSecondVoice", pcmFormat(22050, 1, 16), 500, 11024},
                    EchoCase{"FullSecondStereo", pcmFormat(44100, 2, 16), 1000, 44099},
                    EchoCase{"BeyondASecondIsCut", pcmFormat(22050, 1, 16), 5000, 22049},
                    EchoCase{"TenMillisecondsIsOff", pcmFormat(22050, 1, 16), 10, 0}),
    [](const auto& param) { return std::string(param.param.name); });

struct BadFile {
    const char* name;
    std::vector<std::uint8_t> bytes;  // empty: the file does not exist
    std::string message;              // with %s for the path
};

std::vector<std::uint8_t> patched(std::vector<std::uint8_t> bytes, std::size_t at,
                                  std::vector<std::uint8_t> with) {
    std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

std::vector<BadFile> badFiles() {
    const auto good = waveFile(pcmFormat(22050, 1, 16), rampData(1000));
    std::vector<std::uint8_t> dataFirst{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    testing_support::appendChunk(dataFirst, "data", rampData(100));
    const auto format = pcmFormat(22050, 1, 16);
    std::vector<std::uint8_t> fmt(18);
    std::memcpy(fmt.data(), &format, fmt.size());
    testing_support::appendChunk(dataFirst, "fmt ", fmt);
    dataFirst[4] = static_cast<std::uint8_t>(dataFirst.size() - 8);
    auto truncatedFmt = slice(good, 0, 30);
    return {
        {"Missing", {}, "Cannot Open File: %s"},
        {"NotRiff", patched(good, 0, {'R', 'I', 'F', 'X'}), "File: %s, is not a WAVE file"},
        {"NotWave", patched(good, 8, {'A', 'V', 'I', ' '}), "File: %s, is not a WAVE file"},
        {"TooShortForAHeader", slice(good, 0, 7), "File: %s, is not a WAVE file"},
        {"NoFmt", patched(good, 12, {'f', 'm', 'x', ' '}), "WAVE file: %s, has no fmt chunk."},
        {"FmtCutOff", truncatedFmt, "Error reading fmt chunk from: %s"},
        {"NotPcm", patched(good, 20, {3, 0}), "Format of File: %s, not supported."},
        {"ZeroChannels", patched(good, 22, {0, 0}), "Format of File: %s, not supported."},
        {"ZeroRate", patched(good, 24, {0, 0, 0, 0}), "Format of File: %s, not supported."},
        {"ZeroBlockAlign", patched(good, 32, {0, 0}), "Format of File: %s, not supported."},
        {"ByteRateBeyondArithmetic", patched(good, 24, {0xFF, 0xFF, 0xFF, 0x7F}), "Format of File: %s, not supported."},
        {"NoData", patched(good, 38, {'d', 'a', 't', 'x'}), "WAVE file: %s, has no data chunk."},
        {"DataBeforeFmt", dataFirst, "WAVE file: %s, has no data chunk."},
        {"HugeFmtSize", patched(good, 16, {0xF0, 0xFF, 0xFF, 0xFF}), "WAVE file: %s, has no data chunk."},
    };
}

// Guards every reader step against damaged files: each is refused with its own message
// (then "Cannot Open Wave File"), nothing is read past the end, and no device stays open.
TEST_F(VoiceTest, DamagedFilesAreRefusedWithTheirMessage) {
    for (const BadFile& bad : badFiles()) {
        SCOPED_TRACE(bad.name);
        platform::ScriptedMessageBoxes record;
        const std::string path = bad.bytes.empty() ? dir.path("none.wav") : dir.write("bad.wav", bad.bytes);
        std::string message = bad.message;
        message.replace(message.find("%s"), 2, path);
        EXPECT_EQ(AudioLoadFile(path.c_str()), 0);
        EXPECT_EQ(AudioPlayFile(window.handle(), path.c_str()), 0);
        EXPECT_FALSE(voxcapt::playbackView().playing);
        ASSERT_EQ(record.shown().size(), 3u);
        EXPECT_EQ(record.shown()[0].text, message);
        EXPECT_EQ(record.shown()[0].title, "ERROR!");
        EXPECT_EQ(record.shown()[1].text, message);
        EXPECT_EQ(record.shown()[2].text, "Cannot Open Wave File");
    }
    pump();
    EXPECT_TRUE(messages.empty()) << "a device was opened";
}

// Guards a data chunk that claims more than the file holds (a take cut off by a crash):
// what is there plays, nothing beyond the file is read.
TEST_F(VoiceTest, ADataChunkLongerThanTheFilePlaysWhatIsThere) {
    auto bytes = waveFile(pcmFormat(22050, 1, 16), rampData(10'000));
    bytes = patched(bytes, 42, {0x00, 0x00, 0x10, 0x00});
    const auto path = dir.write("cut.wav", bytes);
    EXPECT_EQ(AudioLoadFile(path.c_str()), 1);
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    playToEnd();
    EXPECT_EQ(lastOutput(), rampData(10'000));
}

// Guards the empty take: nothing is queued, the stream waits for a stop, then closes.
TEST_F(VoiceTest, AnEmptyDataChunkPlaysUntilStopped) {
    const auto path = dir.write("empty.wav", waveFile(pcmFormat(22050, 1, 16), {}));
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    run(500);
    EXPECT_TRUE(voxcapt::playbackView().playing);
    EXPECT_EQ(voxcapt::playbackView().queued, 0);
    EXPECT_EQ(AudioStopPlaying(), 0);
    pump();
    EXPECT_EQ(messages.back(), audio::kWaveOutCloseMessage);
}

// Guards notifications that outlive their stream: a stop and a new start before the
// window got to them must not refill buffers of the new stream that are still queued.
TEST_F(VoiceTest, NotificationsOfAStoppedStreamDoNotTouchTheNextOne) {
    const auto first = rampData(80'000);
    const auto second = rampData(90'000);
    const auto pathA = dir.write("a.wav", waveFile(pcmFormat(22050, 1, 16), first));
    const auto pathB = dir.write("b.wav", waveFile(pcmFormat(22050, 1, 16), std::vector<std::uint8_t>(second.rbegin(), second.rend())));
    ASSERT_EQ(AudioPlayFile(window.handle(), pathA.c_str()), 1);
    run(100);
    platform::advanceManualClock(150);  // buffers come back; the window is busy elsewhere
    AudioStopPlaying();
    ASSERT_EQ(AudioPlayFile(window.handle(), pathB.c_str()), 1);
    playToEnd();
    EXPECT_EQ(lastOutput(), std::vector<std::uint8_t>(second.rbegin(), second.rend()));
}

// Guards the memory failures: too few buffers refuse the start and free what was had; a
// missing echo line only costs the echo.
TEST_F(VoiceTest, MemoryFailuresAreReportedAndReleased) {
    const auto path = dir.write("v.wav", waveFile(pcmFormat(22050, 1, 16), rampData(20'000)));
    voxcapt::setAllocationFaultAfter(1);
    EXPECT_EQ(AudioPlayFile(window.handle(), path.c_str()), 0);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Cannot Allocate Enough Play Buffers"});
    voxcapt::setAllocationFaultAfter(8);
    AudioSetEchoDelay(200);
    EXPECT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    EXPECT_EQ(boxTexts().back(), "Cannot Allocate Echo Buffer");
    playToEnd();
    EXPECT_EQ(lastOutput(), rampData(20'000));
}

// Guards the pause toggle: nothing moves while paused, nothing is lost across it.
TEST_F(VoiceTest, PauseHoldsThePlaceAndResumeGoesOn) {
    const auto data = rampData(100'000);
    const auto path = dir.write("v.wav", waveFile(pcmFormat(22050, 1, 16), data));
    EXPECT_EQ(AudioPause(), 0) << "nothing plays";
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    run(300);
    EXPECT_EQ(AudioPause(), 0);
    EXPECT_TRUE(voxcapt::playbackView().paused);
    const auto before = voxcapt::playbackView().position;
    run(1000);
    EXPECT_EQ(voxcapt::playbackView().position, before);
    EXPECT_EQ(AudioResume(), 0);
    playToEnd();
    EXPECT_EQ(lastOutput(), data);
}

// Guards a stream that dies unnoticed (the command waiting for an end that never comes):
// playback stops with one box naming what happened, and the window hears of the end
// through the usual close notification; what was played stays a prefix of the voice.
TEST_F(VoiceTest, AFailedStreamEndsPlaybackWithOneBoxAndTheCloseNotification) {
    const auto data = rampData(200'000);
    const auto path = dir.write("v.wav", waveFile(pcmFormat(22050, 1, 16), data));
    ASSERT_EQ(AudioPlayFile(window.handle(), path.c_str()), 1);
    run(500);
    platform::advanceManualClock(150);  // buffers come back; the window is busy elsewhere
    ASSERT_TRUE(audio::failVirtualWaveDevice(voxcapt::playbackView().device, audio::WaveError::NoSoundServer));
    run(100);
    EXPECT_FALSE(voxcapt::playbackView().playing);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Playback stopped: the voice's stream failed (the sound server went away)."});
    const auto error = std::find(messages.begin(), messages.end(), audio::kWaveOutErrorMessage);
    ASSERT_NE(error, messages.end());
    EXPECT_NE(std::find(error, messages.end(), audio::kWaveOutCloseMessage), messages.end());
    const auto heard = lastOutput();
    EXPECT_EQ(heard, slice(data, 0, heard.size()));
}

}  // namespace
