#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "FaultGuard.h"
#include "LyricScan.h"
#include "MidiSplit.h"
#include "Performance.h"
#include "SmfBuilder.h"
#include "TempDir.h"
#include "WaveBuilder.h"
#include "platform/files.h"

namespace {

using songfile::PerformanceWriteStep;
using songfile::VoiceReadOutcome;
using testing_support::Bytes;
using testing_support::ByteVector;
using testing_support::concat;
using testing_support::FaultGuard;
using testing_support::fileBytes;
using testing_support::smf;
using testing_support::TempDir;
using testing_support::Track;

using Table = std::array<std::int16_t, 64>;

const ByteVector kSong = smf(1, 96, {Track().tempo(0, 500000).end(),
                                     Track().program(0, 0, 4).noteOn(0, 0, 60, 100).noteOff(96, 0, 60).end()});

// A voice with an odd length (a stray byte after the RIFF form), so the pad byte shows.
ByteVector oddVoice() {
    ByteVector voice = testing_support::waveFile(testing_support::pcmFormat(22050, 1, 16),
                                                 testing_support::rampData(1000));
    voice.push_back(0x5A);
    return voice;
}

ByteVector voiceChunk(const ByteVector& wave, std::optional<std::uint32_t> declared = std::nullopt) {
    Bytes chunk;
    chunk.text("Rvpf");
    const std::uint32_t size = declared.value_or(static_cast<std::uint32_t>(wave.size()));
    for (int i = 0; i < 4; ++i) chunk.u8(size >> (8 * i));
    chunk.raw(wave);
    return chunk.bytes();
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Fixture {
    TempDir dir;
    std::string split;
    Table instruments;
    Table velocities{};

    Fixture() {
        instruments.fill(255);
        const std::string source = dir.write("song.mid", kSong);
        split = dir.write("split.mid", {});
        EXPECT_TRUE(songfile::SplitMidiFile(source, split).message.empty());
        std::filesystem::remove(source);
    }
    songfile::PerformanceSong song(unsigned tempo = 120) const {
        return {split, tempo, instruments.data(), 0, velocities.data(), {}};
    }
    std::uint64_t splitOffset() const {
        int tempo = 0;
        std::optional<std::uint64_t> offset;
        songfile::FreeLyricList(songfile::ExtractLyrics(split, "", tempo, offset));
        return offset.value_or(0);
    }
};

// Guards against the voice landing anywhere but at the song's end, a wrong size field,
// a missing pad byte, and the voice not coming back byte for byte.
TEST(Performance, WrittenAndReadBackWhole) {
    Fixture f;
    for (const ByteVector& wave : {oddVoice(), testing_support::waveFile(testing_support::pcmFormat(8000, 2, 8),
                                                                         testing_support::rampData(64))}) {
        const std::string voice = f.dir.write("take.wav", wave);
        const std::string target = f.dir.path("song.pfc");
        const songfile::PerformanceWriteResult written = songfile::WritePerformance(f.song(), voice, target);
        ASSERT_TRUE(written.ok()) << written.message;
        const std::uint64_t offset = f.splitOffset();
        EXPECT_EQ(written.songBytes, offset);
        const ByteVector bytes = fileBytes(target);
        const std::size_t pad = wave.size() & 1u;
        ASSERT_EQ(bytes.size(), offset + 8 + wave.size() + pad);
        const ByteVector chunk = voiceChunk(wave);
        EXPECT_EQ(ByteVector(bytes.begin() + static_cast<long>(offset), bytes.begin() + static_cast<long>(offset) + 8),
                  ByteVector(chunk.begin(), chunk.begin() + 8));
        if (pad != 0) {
            EXPECT_EQ(bytes.back(), 0);
        }
        EXPECT_EQ(songfile::MeasureSongPart(target), offset);

        const songfile::VoiceReadResult read =
            songfile::ExtractPerformanceVoice(target, offset, f.dir.path(""), "CV");
        ASSERT_EQ(read.outcome, VoiceReadOutcome::Voice) << read.message;
        EXPECT_EQ(fileBytes(read.voiceFile), wave);
        EXPECT_EQ(fileBytes(voice), wave);  // the take is the caller's to delete
        std::filesystem::remove(read.voiceFile);
    }
}

struct WriteFault {
    const char* name;
    PerformanceWriteStep step;
};

// Guards against a failed save leaving a damaged or voiceless file in the old one's place,
// touching the take, or leaving its half-made file behind; and against the error naming
// the wrong step.
TEST(Performance, EveryFailureKeepsTheOldFileAndTheTake) {
    const WriteFault faults[] = {
        {"voice missing", PerformanceWriteStep::OpenVoice},
        {"target read-only", PerformanceWriteStep::PrepareTarget},
        {"split not a song", PerformanceWriteStep::WriteSong},
        {"flush refused", PerformanceWriteStep::WriteSong},
        {"disk full in the song", PerformanceWriteStep::WriteSong},
        {"disk full at the chunk header", PerformanceWriteStep::WriteVoice},
        {"disk full in the voice", PerformanceWriteStep::WriteVoice},
        {"disk full at the pad byte", PerformanceWriteStep::WriteVoice},
        {"rename refused", PerformanceWriteStep::Rename},
    };
    for (const WriteFault& fault : faults) {
        SCOPED_TRACE(fault.name);
        const std::string name = fault.name;
        Fixture f;
        const ByteVector wave = oddVoice();
        const ByteVector old = concat({kSong, voiceChunk(testing_support::waveFile(
                                                  testing_support::pcmFormat(22050, 1, 16), {1, 2, 3, 4}))});
        const std::string target = f.dir.write("song.pfc", old);
        std::string voice = f.dir.write("take.wav", wave);
        const std::uint64_t songBytes = f.splitOffset();
        FaultGuard guard;
        if (name == "voice missing") voice = f.dir.path("gone.wav");
        if (name == "target read-only") ::chmod(target.c_str(), 0444);
        if (name == "split not a song") f.dir.write("split.mid", Bytes().text("MThd").bytes());
        if (name == "flush refused") platform::setFlushFault(true);
        if (name == "disk full in the song") platform::setWriteFaultAfter(songBytes / 2);
        if (name == "disk full at the chunk header") platform::setWriteFaultAfter(songBytes + 4);
        if (name == "disk full in the voice") platform::setWriteFaultAfter(songBytes + 8 + 500);
        if (name == "disk full at the pad byte") platform::setWriteFaultAfter(songBytes + 8 + wave.size());
        if (name == "rename refused") platform::setReplaceFaultAfter(1);  // the song writer's own rename passes

        const std::vector<std::string> before = entries(f.dir.path(""));
        const songfile::PerformanceWriteResult result = songfile::WritePerformance(f.song(), voice, target);
        EXPECT_EQ(result.failedStep, fault.step) << result.message;
        EXPECT_NE(result.message.find(fault.step == PerformanceWriteStep::OpenVoice ? voice : target),
                  std::string::npos)
            << result.message;
        EXPECT_EQ(fileBytes(target), old);
        if (name != "voice missing") {
            EXPECT_EQ(fileBytes(voice), wave);
        }
        EXPECT_EQ(entries(f.dir.path("")), before);
    }
}

struct ReadCase {
    const char* name;
    ByteVector file;
    std::uint64_t offset;
    VoiceReadOutcome outcome;
    std::uint64_t held;
};

// Guards against a damaged or hostile performance file crashing the reader, being read
// past its end, or handing the player bytes that are not a wave file.
TEST(Performance, BadFilesTable) {
    const ByteVector wave = testing_support::waveFile(testing_support::pcmFormat(22050, 1, 16),
                                                      testing_support::rampData(400));
    const std::uint64_t at = kSong.size();
    const auto cut = [](const ByteVector& bytes, std::size_t drop) {
        return ByteVector(bytes.begin(), bytes.end() - static_cast<long>(drop));
    };
    ByteVector notPcm = wave;
    notPcm[20] = 3;  // float samples: not a format the player takes
    const ReadCase cases[] = {
        {"plain song renamed", kSong, at, VoiceReadOutcome::NoChunk, 0},
        {"offset past the end", kSong, at + 100, VoiceReadOutcome::NoChunk, 0},
        {"offset zero", concat({kSong, voiceChunk(wave)}), 0, VoiceReadOutcome::NoChunk, 0},
        {"another chunk", concat({kSong, Bytes().text("RIFF").raw({4, 0, 0, 0}).bytes(), wave}), at,
         VoiceReadOutcome::NoChunk, 0},
        {"header cut", concat({kSong, Bytes().text("Rvpf").raw({9, 0}).bytes()}), at, VoiceReadOutcome::NoChunk, 0},
        {"empty chunk", concat({kSong, voiceChunk({})}), at, VoiceReadOutcome::NotWave, 0},
        {"text in the chunk", concat({kSong, voiceChunk(Bytes().text("no voice here").bytes())}), at,
         VoiceReadOutcome::NotWave, 13},
        {"not PCM", concat({kSong, voiceChunk(notPcm)}), at, VoiceReadOutcome::NotWave, notPcm.size()},
        {"size claims a gigabyte", concat({kSong, voiceChunk(wave, 1u << 30)}), at, VoiceReadOutcome::CutShort,
         wave.size()},
        {"cut inside the wave header", cut(concat({kSong, voiceChunk(wave)}), wave.size() - 20), at,
         VoiceReadOutcome::NotWave, 20},
        {"cut inside the sound", cut(concat({kSong, voiceChunk(wave)}), 101), at, VoiceReadOutcome::CutShort,
         wave.size() - 101},
        {"whole", concat({kSong, voiceChunk(wave)}), at, VoiceReadOutcome::Voice, wave.size()},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string file = dir.write("song.pfc", c.file);
        std::filesystem::create_directory(dir.path("tmp"));
        const songfile::VoiceReadResult read = songfile::ExtractPerformanceVoice(file, c.offset, dir.path("tmp"), "CV");
        EXPECT_EQ(read.outcome, c.outcome) << read.message;
        EXPECT_EQ(read.heldBytes, c.held);
        EXPECT_EQ(read.hasVoice(), !read.voiceFile.empty());
        if (read.hasVoice()) {
            const ByteVector voice = fileBytes(read.voiceFile);
            EXPECT_EQ(voice, ByteVector(c.file.begin() + static_cast<long>(at) + 8, c.file.end()));
            std::filesystem::remove(read.voiceFile);
        } else {
            EXPECT_NE(read.message.find(file), std::string::npos) << read.message;
        }
        EXPECT_TRUE(entries(dir.path("tmp")).empty());
        EXPECT_EQ(fileBytes(file), c.file);
    }
    TempDir dir;
    EXPECT_EQ(songfile::ExtractPerformanceVoice(dir.path("none.pfc"), at, dir.path(""), "CV").outcome,
              VoiceReadOutcome::CannotOpen);
}

// Guards against the probe reporting another offset than the player looks at, or a
// wrong duration.
TEST(Performance, ProbeOfAWrittenPerformance) {
    Fixture f;
    const ByteVector wave = testing_support::waveFile(testing_support::pcmFormat(22050, 1, 16),
                                                      testing_support::rampData(44100));
    const std::string target = f.dir.path("song.pfc");
    ASSERT_TRUE(songfile::WritePerformance(f.song(90), f.dir.write("take.wav", wave), target).ok());
    const songfile::PerformanceInfo info = songfile::ProbePerformance(target);
    ASSERT_TRUE(info.message.empty()) << info.message;
    EXPECT_EQ(info.waveOffset, f.splitOffset());
    EXPECT_EQ(info.songBytes, info.waveOffset);
    EXPECT_EQ(info.voice.outcome, VoiceReadOutcome::Voice);
    EXPECT_EQ(info.voice.format.samplesPerSec, 22050u);
    EXPECT_DOUBLE_EQ(info.seconds(), 1.0);
    EXPECT_TRUE(info.voice.voiceFile.empty());

    const songfile::PerformanceInfo plain = songfile::ProbePerformance(f.dir.write("plain.pfc", kSong));
    EXPECT_EQ(plain.voice.outcome, VoiceReadOutcome::NoChunk);
    EXPECT_FALSE(songfile::ProbePerformance(f.dir.path("none.pfc")).message.empty());
}

}  // namespace
