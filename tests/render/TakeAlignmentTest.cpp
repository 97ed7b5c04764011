#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TakeAlignment.h"
#include "TakeFile.h"
#include "TempDir.h"
#include "WaveFile.h"
#include "platform/files.h"

namespace {

constexpr std::uint32_t kRate = 22050;

// A reading of a microphone whose frame `head` was captured at the song's time zero
// (1 s on the clock) as the song was heard `delay` µs after it was due; taken `after` µs
// later, with `latency` µs of capture not yet handed over.
render::AlignmentReading readingOf(std::int64_t head, std::int64_t delay, std::int64_t after,
                                   std::int64_t latency) {
    const std::int64_t heardAt = 1'000'000 + delay;
    const std::int64_t at = heardAt + after;
    const std::int64_t capturedNow = head + after * kRate / 1'000'000;
    render::AlignmentReading reading;
    reading.capture.atMicros = static_cast<std::uint64_t>(at);
    reading.capture.latencyMicros = latency;
    reading.capture.frames = static_cast<std::uint64_t>(capturedNow - latency * kRate / 1'000'000);
    reading.outputDelayMicros = delay;
    return reading;
}

// Guards the arithmetic of the head: readings of one take at any moment, with any latency
// split, name the same frame; a stale reading among them does not move it; a song heard
// before the take began drops nothing.
TEST(TakeAlignment, ReadingsOfOneTakeNameOneHead) {
    struct Case {
        const char* what;
        std::vector<render::AlignmentReading> readings;
        std::optional<std::uint64_t> head;
    };
    const std::vector<Case> cases = {
        {"no reading", {}, std::nullopt},
        {"one reading", {readingOf(1500, 45'000, 200'000, 30'000)}, 1500},
        {"later readings, other latencies",
         {readingOf(1500, 45'000, 200'000, 30'000), readingOf(1500, 45'000, 3'000'000, 12'000),
          readingOf(1500, 60'000, 9'000'000, 80'000)},
         1500},
        {"a stale latency among them",
         {readingOf(1500, 45'000, 200'000, 30'000), readingOf(1500, 45'000, 400'000, 30'000),
          readingOf(1500, 45'000, 600'000, 30'000) /* below: two seconds wrong */,
          [] {
              auto stale = readingOf(1500, 45'000, 800'000, 30'000);
              stale.capture.latencyMicros += 2'000'000;
              return stale;
          }()},
         1500},
        {"heard before the take began", {readingOf(-400, 45'000, 200'000, 30'000)}, 0},
    };
    for (const Case& c : cases) {
        render::TakeAlignment alignment;
        alignment.start(1'000'000, kRate);
        for (const auto& reading : c.readings) {
            alignment.add(reading);
        }
        const auto head = alignment.headFrames();
        ASSERT_EQ(head.has_value(), c.head.has_value()) << c.what;
        if (head) {
            EXPECT_NEAR(static_cast<double>(*head), static_cast<double>(*c.head), 1.0) << c.what;
        }
    }
}

// A take as the recorder writes it: `frames` mono 16-bit frames, frame i holding i.
std::string writeTake(const testing_support::TempDir& dir, std::uint32_t frames) {
    voxcapt::TakeFile take;
    audio::WaveFormat format{};
    format.formatTag = audio::kWaveFormatPcm;
    format.channels = 1;
    format.samplesPerSec = kRate;
    format.avgBytesPerSec = kRate * 2;
    format.blockAlign = 2;
    format.bitsPerSample = 16;
    EXPECT_TRUE(take.create(dir.path(""), "WW", format));
    std::vector<std::int16_t> samples(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<std::int16_t>(i);
    }
    EXPECT_TRUE(take.append(samples.data(), frames * 2));
    EXPECT_TRUE(take.finish());
    return take.release();
}

std::vector<std::uint8_t> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Guards the take's rewrite: the frames after the head byte for byte, sizes a reader
// believes, the header otherwise as the recorder wrote it; a head longer than the take
// leaves a valid empty take; every failure leaves the take exactly as it was and nothing
// beside it.
TEST(DropTakeHead, KeepsTheFramesAfterTheHeadOrLeavesTheTake) {
    struct Case {
        const char* what;
        std::uint64_t drop;
        std::uint32_t keptFrames;
    };
    for (const Case& c : {Case{"a head", 300, 700}, Case{"nothing", 0, 1000},
                          Case{"more than the take", 5000, 0}}) {
        testing_support::TempDir dir;
        const std::string path = writeTake(dir, 1000);
        const std::vector<std::uint8_t> before = bytesOf(path);
        std::string error;
        ASSERT_TRUE(render::DropTakeHead(path, c.drop, error)) << c.what << ": " << error;
        const std::vector<std::uint8_t> after = bytesOf(path);
        ASSERT_EQ(after.size(), voxcapt::TakeFile::kHeaderBytes + c.keptFrames * 2u) << c.what;
        platform::FileReader file;
        voxcapt::ParsedWave parsed;
        ASSERT_TRUE(file.open(path));
        ASSERT_EQ(voxcapt::parseWave(file, parsed), voxcapt::WaveParseError::None) << c.what;
        EXPECT_EQ(parsed.dataSize, c.keptFrames * 2u) << c.what;
        EXPECT_TRUE(std::equal(before.begin() + 8, before.begin() + 42, after.begin() + 8)) << c.what;
        EXPECT_TRUE(std::equal(after.begin() + voxcapt::TakeFile::kHeaderBytes, after.end(),
                               before.begin() + static_cast<std::ptrdiff_t>(voxcapt::TakeFile::kHeaderBytes +
                                                                              (1000 - c.keptFrames) * 2)))
            << c.what;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path("")), {}), 1) << c.what;
    }

    struct Failure {
        const char* what;
        bool notAWave;
        bool fullDisk;
        bool refusedRename;
    };
    for (const Failure& f : {Failure{"not a wave file", true, false, false},
                             Failure{"a full disk", false, true, false},
                             Failure{"a refused rename", false, false, true}}) {
        testing_support::TempDir dir;
        const std::string path =
            f.notAWave ? dir.writeText("take.wav", "RIFF....WAVEjunk") : writeTake(dir, 30000);
        const std::vector<std::uint8_t> before = bytesOf(path);
        if (f.fullDisk) {
            platform::setWriteFaultAfter(1000);
        }
        platform::setReplaceFault(f.refusedRename);
        std::string error;
        EXPECT_FALSE(render::DropTakeHead(path, 100, error)) << f.what;
        platform::setWriteFaultAfter(std::nullopt);
        platform::setReplaceFault(false);
        EXPECT_FALSE(error.empty()) << f.what;
        EXPECT_EQ(bytesOf(path), before) << f.what;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path("")), {}), 1)
            << f.what << ": something was left beside the take";
    }
}

}  // namespace
