#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "SmfBuilder.h"
#include "SongWriter.h"
#include "FaultGuard.h"
#include "TempDir.h"
#include "platform/files.h"

namespace {

using testing_support::FaultGuard;

using songfile::WriteEditedSong;
using testing_support::Bytes;
using testing_support::ByteVector;
using testing_support::concat;
using testing_support::fileBytes;
using testing_support::smf;
using testing_support::smfHeader;
using testing_support::TempDir;
using testing_support::Track;
using testing_support::trackChunk;

using Table = std::array<std::int16_t, 64>;

std::vector<std::string> entries(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path(""))) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

ByteVector header(std::uint32_t length, int format, int count) {
    return Bytes().text("MThd").u32(length).u16(format).u16(count).u16(480).bytes();
}

const ByteVector kTrack = trackChunk(Track().tempo(0, 500000).noteOn(0, 0, 60, 100).end());
// What the user's file held before the save: a song with a voice chunk behind it.
const ByteVector kOldTarget = concat({smf(1, 480, {Track().end()}), Bytes().text("Rvpf").raw({2, 0, 0, 0, 'h', 'i'}).bytes()});

// Runs the writer with neutral settings onto an existing target.
bool write(const std::string& source, const std::string& target, unsigned tempo = 120) {
    Table instruments;
    instruments.fill(255);
    Table velocities{};
    return WriteEditedSong(source, tempo, instruments.data(), target, 0, velocities.data());
}

struct BadSource {
    const char* name;
    ByteVector bytes;
};

void PrintTo(const BadSource& value, std::ostream* out) { *out << value.name; }

class WriterMalformed : public ::testing::TestWithParam<BadSource> {};

// Guards against a malformed source producing a partly written song in the user's file,
// or reading and allocating beyond the source.
TEST_P(WriterMalformed, FailsAndLeavesTarget) {
    TempDir dir;
    const std::string source = dir.write("split", GetParam().bytes);
    const std::string target = dir.write("song.pfc", kOldTarget);
    EXPECT_FALSE(write(source, target));
    EXPECT_EQ(fileBytes(target), kOldTarget);
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"song.pfc", "split"}));
}

INSTANTIATE_TEST_SUITE_P(
    WriterCases, WriterMalformed,
    ::testing::Values(
        BadSource{"Empty", {}},
        BadSource{"ShortHeader", Bytes().text("MThd").u32(6).u16(1).bytes()},
        BadSource{"NotMThd", concat({Bytes().text("RIFF").u32(6).u16(1).u16(1).u16(480).bytes(), kTrack})},
        BadSource{"HeaderLengthFive", concat({header(5, 1, 1), kTrack})},
        BadSource{"FormatTwo", concat({header(6, 2, 1), kTrack})},
        BadSource{"FormatHighByteOnly", concat({header(6, 0x0102, 1), kTrack})},
        BadSource{"ZeroTracks", header(6, 1, 0)},
        BadSource{"Format0TwoTracks", concat({header(6, 0, 2), kTrack, kTrack})},
        BadSource{"NoTrackChunk", header(6, 1, 1)},
        BadSource{"ChunkNotMTrk", concat({header(6, 1, 1), Bytes().text("XTrk").u32(4).raw({0, 0xFF, 0x2F, 0}).bytes()})},
        BadSource{"LengthAllOnes", concat({header(6, 1, 1), Bytes().text("MTrk").u32(0xFFFFFFFF).raw({0, 0xFF, 0x2F, 0}).bytes()})},
        BadSource{"LengthPastEnd", concat({header(6, 1, 1), Bytes().text("MTrk").u32(0x7FFFFFF0).raw({0, 0xFF, 0x2F, 0}).bytes()})},
        BadSource{"SecondTrackMissing", concat({header(6, 1, 2), kTrack})},
        BadSource{"CountBeyondTracks", concat({header(6, 1, 0x0101), kTrack})}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Guards against bad arguments reaching the file system: no tempo, missing tables,
// missing source, a target that is a folder or read-only.
TEST(WriterMalformed, BadArgumentsAndTargets) {
    TempDir dir;
    const std::string source = dir.write("split", concat({header(6, 1, 1), kTrack}));
    const std::string target = dir.write("song.kar", kOldTarget);
    Table table{};
    EXPECT_FALSE(write(source, target, 0));
    EXPECT_FALSE(WriteEditedSong(source, 120, nullptr, target, 0, table.data()));
    EXPECT_FALSE(WriteEditedSong(source, 120, table.data(), target, 0, nullptr));
    EXPECT_FALSE(write(dir.path("missing"), target));
    EXPECT_FALSE(write(source, ""));
    EXPECT_FALSE(write(source, dir.path("")));
    ::chmod(target.c_str(), 0444);
    EXPECT_FALSE(write(source, target));
    EXPECT_EQ(fileBytes(target), kOldTarget);
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"song.kar", "split"}));
}

class WriterFault : public ::testing::TestWithParam<std::uint64_t> {};

// Guards against a save that fails halfway (full disk) leaving a half-written song or
// a temporary file: the user's file must keep every old byte.
TEST_P(WriterFault, TargetUntouchedWhenWritesFail) {
    FaultGuard guard;
    TempDir dir;
    const std::string source = dir.write("split", smf(1, 480, {Track().noteOn(0, 0, 60, 100).end(), Track().end()}));
    const std::string target = dir.write("song.pfc", kOldTarget);
    // The budget counts the copy of the old file first, then the new song's bytes.
    platform::setWriteFaultAfter(GetParam());
    EXPECT_FALSE(write(source, target));
    platform::setWriteFaultAfter(std::nullopt);
    EXPECT_EQ(fileBytes(target), kOldTarget);
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"song.pfc", "split"}));
}

INSTANTIATE_TEST_SUITE_P(WriterBudgets, WriterFault,
                         ::testing::Values(0, 10, kOldTarget.size(), kOldTarget.size() + 13, kOldTarget.size() + 14,
                                           kOldTarget.size() + 30));

// Guards against a failed final rename leaving the temporary copy or changing the target.
TEST(WriterFault, ReplaceFailure) {
    FaultGuard guard;
    TempDir dir;
    const std::string source = dir.write("split", concat({header(6, 1, 1), kTrack}));
    const std::string target = dir.write("song.pfc", kOldTarget);
    platform::setReplaceFault(true);
    EXPECT_FALSE(write(source, target));
    EXPECT_EQ(fileBytes(target), kOldTarget);
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"song.pfc", "split"}));
}

// Guards against a save to a new name failing (the command-line writer relies on it) or,
// when it fails, leaving an empty file under that name.
TEST(WriterFault, MissingTargetCreatedOnlyOnSuccess) {
    FaultGuard guard;
    TempDir dir;
    const ByteVector song = concat({header(6, 1, 1), kTrack});
    const std::string source = dir.write("split", song);
    platform::setWriteFaultAfter(20);
    EXPECT_FALSE(write(source, dir.path("new.mid")));
    EXPECT_EQ(entries(dir), std::vector<std::string>{"split"});
    platform::setWriteFaultAfter(std::nullopt);
    ASSERT_TRUE(write(source, dir.path("new.mid")));
    EXPECT_EQ(fileBytes(dir.path("new.mid")).size(), song.size());
}

}  // namespace
