#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "LyricScan.h"
#include "SmfBuilder.h"
#include "SongWriter.h"
#include "TempDir.h"

namespace {

using songfile::ExtractLyrics;
using songfile::FreeLyricList;
using songfile::TlyricList;
using songfile::TrackInfoTable;
using testing_support::Bytes;
using testing_support::ByteVector;
using testing_support::concat;
using testing_support::smf;
using testing_support::smfHeader;
using testing_support::TempDir;
using testing_support::Track;
using testing_support::trackChunk;

constexpr std::uint64_t kUntouched = 0xDEADBEEF;

// Track 0 with tempo 100 and a name, so that a failure after it shows what survives.
ByteVector namedTrack() { return trackChunk(Track().tempo(0, 600000).meta(0, 3, "Name").meta(10, 5, "la").end()); }

ByteVector header(std::uint32_t length, int format, int count) {
    return Bytes().text("MThd").u32(length).u16(format).u16(count).u16(480).bytes();
}

struct BadFile {
    const char* name;
    ByteVector bytes;
    int tempo;  // what was found before the failure
};

void PrintTo(const BadFile& value, std::ostream* out) { *out << value.name; }

class ScanMalformed : public ::testing::TestWithParam<BadFile> {};

// Guards against a malformed file yielding lyrics, an offset or stale track information,
// and against reads or allocations beyond the file.
TEST_P(ScanMalformed, FailsSilently) {
    TempDir dir;
    const std::string path = dir.write("bad.mid", GetParam().bytes);
    TrackInfoTable[5].TrackName = "stale";
    int tempo = -1;
    std::optional<std::uint64_t> offset = kUntouched;
    TlyricList* first = ExtractLyrics(path, ".MID", tempo, offset);
    EXPECT_EQ(first, nullptr);
    FreeLyricList(first);
    EXPECT_EQ(tempo, GetParam().tempo);
    EXPECT_EQ(offset, kUntouched);
    EXPECT_EQ(TrackInfoTable[0].TrackName, "");
    EXPECT_EQ(TrackInfoTable[5].TrackName, "");
}

INSTANTIATE_TEST_SUITE_P(
    ScanCases, ScanMalformed,
    ::testing::Values(
        BadFile{"Empty", {}, 120},
        BadFile{"ShortHeader", Bytes().text("MThd").u32(6).u16(1).bytes(), 120},
        BadFile{"NotMThd", concat({Bytes().text("MThx").u32(6).u16(1).u16(1).u16(480).bytes(), namedTrack()}), 120},
        BadFile{"RiffFile", Bytes().text("RIFF").u32(100).text("WAVEfmt ").u32(16).bytes(), 120},
        BadFile{"HeaderLengthFive", concat({header(5, 1, 1), namedTrack()}), 120},
        BadFile{"Format0TwoTracks", concat({header(6, 0, 2), namedTrack(), namedTrack()}), 120},
        BadFile{"Format0CountHighByte", concat({header(6, 0, 0x0101), namedTrack()}), 120},
        BadFile{"CountHighByteTwo", concat({header(6, 1, 0x0201), namedTrack()}), 120},
        BadFile{"CountLowByteZero", concat({header(6, 1, 0x0100), namedTrack()}), 120},
        BadFile{"NoTrackChunk", header(6, 1, 1), 120},
        BadFile{"ChunkNotMTrk", concat({header(6, 1, 1), Bytes().text("MTrx").u32(4).raw({0, 0xFF, 0x2F, 0}).bytes()}), 120},
        BadFile{"LengthAllOnes", concat({header(6, 1, 1), Bytes().text("MTrk").u32(0xFFFFFFFF).raw({0, 0xFF, 0x2F, 0}).bytes()}), 120},
        BadFile{"LengthPastEnd", concat({header(6, 1, 1), Bytes().text("MTrk").u32(5).raw({0, 0xFF, 0x2F, 0}).bytes()}), 120},
        BadFile{"CutChunkHeader", concat({header(6, 1, 1), Bytes().text("MTr").bytes()}), 120},
        BadFile{"SecondTrackMissing", concat({header(6, 1, 2), namedTrack()}), 100},
        BadFile{"SecondTrackPastEnd", concat({header(6, 1, 2), namedTrack(), Bytes().text("MTrk").u32(1000).u8(0).bytes()}),
                100}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Guards against treating a missing file or a folder as a song.
TEST(ScanMalformed, UnreadablePaths) {
    TempDir dir;
    for (const std::string& path : {dir.path("missing.kar"), dir.path("")}) {
        int tempo = -1;
        std::optional<std::uint64_t> offset;
        EXPECT_EQ(ExtractLyrics(path, ".KAR", tempo, offset), nullptr);
        EXPECT_EQ(tempo, 120);
        EXPECT_FALSE(offset.has_value());
    }
}

struct CutBody {
    const char* name;
    ByteVector body;
    std::vector<std::string> items;
};

void PrintTo(const CutBody& value, std::ostream* out) { *out << value.name; }

class ScanCutBody : public ::testing::TestWithParam<CutBody> {};

// Guards against a walk that runs past its chunk (into the next track or beyond the
// file) when an event is cut off, or that stops the whole scan instead of the track.
TEST_P(ScanCutBody, EndsTheTrackOnly) {
    TempDir dir;
    Bytes chunk;
    chunk.text("MTrk").u32(static_cast<std::uint32_t>(GetParam().body.size())).raw(GetParam().body);
    const ByteVector last = trackChunk(Track().meta(20, 5, "next").end());
    const ByteVector file = concat({smfHeader(1, 2, 480), chunk.bytes(), last});
    int tempo = 0;
    std::optional<std::uint64_t> offset;
    TlyricList* first = ExtractLyrics(dir.write("cut.mid", file), ".MID", tempo, offset);
    std::vector<std::string> items;
    for (const TlyricList* item = first; item != nullptr; item = item->Next) {
        items.push_back(item->Text);
    }
    FreeLyricList(first);
    std::vector<std::string> expected = GetParam().items;
    expected.push_back("next");
    EXPECT_EQ(items, expected);
    EXPECT_EQ(offset, file.size());
}

INSTANTIATE_TEST_SUITE_P(
    ScanCases, ScanCutBody,
    ::testing::Values(
        CutBody{"Empty", {}, {}},
        CutBody{"DeltaCut", Bytes().raw(Track().meta(10, 5, "a").body()).raw({0x81, 0x80}).bytes(), {"a"}},
        CutBody{"MetaLengthPastEnd", Bytes().raw(Track().meta(10, 5, "a").body()).raw({0, 0xFF, 0x05, 0x40, 'b'}).bytes(),
                {"a"}},
        CutBody{"MetaLengthCut", Bytes().raw(Track().meta(10, 5, "a").body()).raw({0, 0xFF, 0x05, 0x81}).bytes(), {"a"}},
        CutBody{"MetaTypeMissing", Bytes().raw({0, 0xFF}).bytes(), {}},
        CutBody{"SysExUnterminated", Bytes().raw({0, 0xF0, 1, 2, 3}).raw(Track().meta(10, 5, "hidden").body()).bytes(), {}},
        CutBody{"NoteCut", Bytes().raw(Track().meta(10, 5, "a").body()).raw({0, 0x90, 60}).bytes(), {"a"}},
        CutBody{"ProgramByteMissing", Bytes().raw({0, 0xC0}).bytes(), {}},
        CutBody{"DataWithoutStatus", Bytes().raw({0, 0x40, 0x40}).raw(Track().meta(10, 5, "a").body()).bytes(), {"a"}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Guards against rejecting headers the scan accepts: a count's high byte of 1 (only the
// low byte counts) and a format word above 1.
TEST(ScanMalformed, LenientHeaderWords) {
    TempDir dir;
    const ByteVector track = trackChunk(Track().meta(10, 5, "a").end());
    for (const ByteVector& file : {concat({header(6, 1, 0x0101), track}), concat({header(6, 2, 1), track})}) {
        int tempo = 0;
        std::optional<std::uint64_t> offset;
        TlyricList* first = ExtractLyrics(dir.write("ok.mid", file), ".MID", tempo, offset);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->Text, "a");
        EXPECT_EQ(offset, file.size());
        FreeLyricList(first);
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define CVK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CVK_ADDRESS_SANITIZER 1
#endif
#endif

#ifndef CVK_ADDRESS_SANITIZER
std::uint64_t addressSpaceInUse() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}
#endif

// Guards against either reader allocating a chunk's declared length before finding that
// the file is shorter (a 2 GB length in a tiny file must not cost 2 GB).
TEST(ScanAllocation, LengthBeyondFileAllocatesNothing) {
#ifdef CVK_ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#else
    TempDir dir;
    const std::string source =
        dir.write("huge.mid", concat({header(6, 1, 1), Bytes().text("MTrk").u32(0x7FFFFFF0).raw({0, 0xFF, 0x2F, 0}).bytes()}));
    const std::string target = dir.path("out.mid");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{addressSpaceInUse() + (std::uint64_t{256} << 20), RLIM_INFINITY};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) {
            std::_Exit(2);
        }
        std::set_new_handler([] { std::_Exit(3); });
        int tempo = 0;
        std::optional<std::uint64_t> offset;
        FreeLyricList(ExtractLyrics(source, ".MID", tempo, offset));
        std::array<std::int16_t, 64> table{};
        songfile::WriteEditedSong(source, 120, table.data(), target, 0, table.data());
        std::_Exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) {
        GTEST_SKIP() << "cannot limit the address space here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a reader asked for more memory than the file holds";
#endif
}

}  // namespace
