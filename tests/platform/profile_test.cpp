#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"

namespace {

namespace fs = std::filesystem;
using platform::profileGetInt;
using platform::profileGetString;
using platform::profileWriteString;
using testing_support::fileText;

// A fresh folder per test, removed with everything in it.
class ProfileFolder {
public:
    ProfileFolder() {
        std::string pattern = (fs::temp_directory_path() / "cvk-profile-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_path = pattern;
    }
    ~ProfileFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    ProfileFolder(const ProfileFolder&) = delete;
    ProfileFolder& operator=(const ProfileFolder&) = delete;

    std::string file(const std::string& name) const { return (m_path / name).string(); }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_path)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

private:
    fs::path m_path;
};

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A literal with embedded NUL bytes, whole.
template <std::size_t N>
std::string bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

constexpr const char* kNoString = "<fallback>";
constexpr std::int32_t kNoInt = -99;

struct ReadCase {
    const char* name;
    std::string content;
    const char* section;
    const char* key;
    std::optional<std::string> text;  // nullopt: the fallback
    std::optional<std::int32_t> number;
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

// Guards each parsing rule against a reader that trusts the bytes or forgets a rule.
class ProfileRead : public testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, ReadsOnlyWellFormedEntries) {
    const ReadCase& c = GetParam();
    ProfileFolder folder;
    const std::string path = folder.file("read.ini");
    writeBytes(path, c.content);
    EXPECT_EQ(profileGetString(c.section, c.key, kNoString, path), c.text.value_or(kNoString));
    EXPECT_EQ(profileGetInt(c.section, c.key, kNoInt, path), c.number.value_or(kNoInt));
}

const std::string kLongLine(70000, '1');

INSTANTIATE_TEST_SUITE_P(
    Profile, ProfileRead,
    testing::Values(
        ReadCase{"Plain", "[Song]\nVolume=80\n", "Song", "Volume", "80", 80},
        ReadCase{"CaseInsensitive", "[sOnG]\nvOLUME=80\n", "SONG", "volume", "80", 80},
        ReadCase{"BlanksTrimmed", "  [ Song ]  \n\t Volume  =  80 \t\n", " Song", "Volume ", "80", 80},
        ReadCase{"CommentSkipped", "[Song]\n;Volume=1\n  ; Volume=2\nVolume=3\n", "Song", "Volume", "3", 3},
        ReadCase{"OnlyCommented", "[Song]\n;Volume=1\n", "Song", "Volume", std::nullopt, std::nullopt},
        ReadCase{"QuotesRemoved", "[Song]\nTitle=\" Star \"\n", "Song", "Title", " Star ", std::nullopt},
        ReadCase{"QuotedNumber", "[Song]\nVolume=\"-42\"\n", "Song", "Volume", "-42", -42},
        ReadCase{"OneQuoteKept", "[Song]\nTitle=\"Star\n", "Song", "Title", "\"Star", std::nullopt},
        ReadCase{"LoneQuoteKept", "[Song]\nTitle=\"\n", "Song", "Title", "\"", std::nullopt},
        ReadCase{"EqualsInValue", "[Song]\nUrl=a=b\n", "Song", "Url", "a=b", std::nullopt},
        ReadCase{"SemicolonInValue", "[Song]\nVolume=5 ; loud\n", "Song", "Volume", "5 ; loud", 5},
        ReadCase{"Crlf", "[Song]\r\nVolume=80\r\n", "Song", "Volume", "80", 80},
        ReadCase{"Bom", "\xEF\xBB\xBF[Song]\nVolume=80\n", "Song", "Volume", "80", 80},
        ReadCase{"BomLaterIsText", "x\n\xEF\xBB\xBF[Song]\nVolume=1\n", "Song", "Volume", std::nullopt,
                 std::nullopt},
        ReadCase{"NoFinalNewline", "[Song]\nVolume=7", "Song", "Volume", "7", 7},
        ReadCase{"HeaderTrailingText", "[Song] ; notes\nVolume=1\n", "Song", "Volume", "1", 1},
        ReadCase{"KeyBeforeAnySection", "Volume=1\n[Song]\n", "Song", "Volume", std::nullopt, std::nullopt},
        ReadCase{"KeyInOtherSection", "[Other]\nVolume=1\n[Song]\nTempo=2\n", "Song", "Volume", std::nullopt,
                 std::nullopt},
        ReadCase{"FirstKeyWins", "[Song]\nVolume=1\nvolume=2\n", "Song", "Volume", "1", 1},
        ReadCase{"FirstSectionWins", "[Song]\nVolume=1\n[song]\nVolume=2\n", "Song", "Volume", "1", 1},
        ReadCase{"LaterDuplicateIgnored", "[Song]\nTempo=1\n[Song]\nVolume=2\n", "Song", "Volume", std::nullopt,
                 std::nullopt},
        ReadCase{"LineWithoutEquals", "[Song]\nVolume\nVolume=3\n", "Song", "Volume", "3", 3},
        ReadCase{"UnclosedHeaderOpensNothing", "[Song\nVolume=1\n", "Song", "Volume", std::nullopt, std::nullopt},
        ReadCase{"UnclosedHeaderEndsNothing", "[Song]\n[Other\nVolume=1\n", "Song", "Volume", "1", 1},
        ReadCase{"EmptyValue", "[Song]\nVolume=\n", "Song", "Volume", "", std::nullopt},
        ReadCase{"EmptyQueryNames", "[]\n=5\n", "", "", std::nullopt, std::nullopt},
        ReadCase{"PlusSign", "[Song]\nVolume=+7\n", "Song", "Volume", "+7", 7},
        ReadCase{"SignWithoutDigits", "[Song]\nVolume=- 5\n", "Song", "Volume", "- 5", std::nullopt},
        ReadCase{"TrailingTextIgnored", "[Song]\nVolume=12abc\n", "Song", "Volume", "12abc", 12},
        ReadCase{"NoDigits", "[Song]\nVolume=loud\n", "Song", "Volume", "loud", std::nullopt},
        ReadCase{"Largest", "[Song]\nVolume=2147483647\n", "Song", "Volume", "2147483647", INT32_MAX},
        ReadCase{"Smallest", "[Song]\nVolume=-2147483648\n", "Song", "Volume", "-2147483648", INT32_MIN},
        ReadCase{"OverflowSaturates", "[Song]\nVolume=2147483648\n", "Song", "Volume", "2147483648", INT32_MAX},
        ReadCase{"UnderflowSaturates", "[Song]\nVolume=-99999999999999999999\n", "Song", "Volume",
                 "-99999999999999999999", INT32_MIN},
        ReadCase{"NulLineIgnored", bytes("[Song]\nVolume=8\0 0\n"), "Song", "Volume", std::nullopt,
                 std::nullopt},
        ReadCase{"NulElsewhereHarmless", bytes("[Song]\n\0\0\xff\nVolume=5\n"), "Song", "Volume", "5", 5},
        ReadCase{"BinaryGarbage", bytes("\xff\xfe[\x00=\x01\n\x80]\x1b=\n[Song\xff]\nVolume=1\n"), "Song",
                 "Volume", std::nullopt, std::nullopt},
        ReadCase{"OverLongLineIgnored", "[Song]\nVolume=" + kLongLine + "\n", "Song", "Volume", std::nullopt,
                 std::nullopt},
        ReadCase{"AfterOverLongLine", "[Song]\n" + kLongLine + "\nVolume=4\n", "Song", "Volume", "4", 4},
        ReadCase{"EmptyFile", "", "Song", "Volume", std::nullopt, std::nullopt}),
    [](const testing::TestParamInfo<ReadCase>& param) { return std::string(param.param.name); });

// Guards against a reader that blocks on, or trusts, something that is not a regular file.
TEST(ProfileReadFile, MissingOrSpecialFilesReadAsDefaults) {
    ProfileFolder folder;
    EXPECT_EQ(profileGetString("Song", "Volume", "d", folder.file("missing.ini")), "d");
    EXPECT_EQ(profileGetInt("Song", "Volume", 5, folder.file("no/such/folder.ini")), 5);
    EXPECT_EQ(profileGetInt("Song", "Volume", 5, folder.file("")), 5);  // the folder itself
    const std::string fifo = folder.file("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(profileGetInt("Song", "Volume", 6, fifo), 6);  // would hang if opened blocking
    EXPECT_EQ(profileGetInt("Song", "Volume", 7, "/dev/zero"), 7);
}

// Guards against reading a whole huge file and against cutting a value at the cap.
TEST(ProfileReadFile, ReadsOnlyTheFirstMebibyte) {
    ProfileFolder folder;
    const std::string path = folder.file("huge.ini");
    const std::size_t cap = std::size_t{1} << 20;
    const std::string filler = ";" + std::string(99, 'x') + "\n";
    std::string content = "[Song]\nEarly=1\n";
    while (content.size() + filler.size() < cap - 5) {
        content += filler;
    }
    content += std::string(cap - 6 - content.size(), ';') + "\n";
    content += "Cut=123456789\nLate=2\n";  // "Cut" starts 5 bytes before the cap
    writeBytes(path, content);
    EXPECT_EQ(profileGetInt("Song", "Early", -1, path), 1);
    EXPECT_EQ(profileGetInt("Song", "Cut", -1, path), -1);
    EXPECT_EQ(profileGetInt("Song", "Late", -1, path), -1);
}

// Guards against a reader that caches the file between calls.
TEST(ProfileReadFile, EveryCallSeesTheCurrentFile) {
    ProfileFolder folder;
    const std::string path = folder.file("live.ini");
    writeBytes(path, "[Song]\nVolume=1\n");
    EXPECT_EQ(profileGetInt("Song", "Volume", 0, path), 1);
    writeBytes(path, "[Song]\nVolume=2\n");
    EXPECT_EQ(profileGetInt("Song", "Volume", 0, path), 2);
}

struct WriteCase {
    const char* name;
    std::optional<std::string> before;  // nullopt: no file yet
    const char* section;
    const char* key;
    std::string value;
    std::string after;
};

void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.name; }

// Guards against a writer that loses, reorders or reformats lines it was not asked to touch.
class ProfileWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, ChangesOnlyTheOneEntry) {
    const WriteCase& c = GetParam();
    ProfileFolder folder;
    const std::string path = folder.file("write.ini");
    if (c.before) {
        writeBytes(path, *c.before);
    }
    ASSERT_TRUE(profileWriteString(c.section, c.key, c.value, path));
    EXPECT_EQ(fileText(path), c.after);
    EXPECT_EQ(profileGetString(c.section, c.key, kNoString, path), c.value);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"write.ini"});  // no temporary left
}

INSTANTIATE_TEST_SUITE_P(
    Profile, ProfileWrite,
    testing::Values(
        WriteCase{"ReplaceInPlace", "; top\n[A]\nx=1\n\n[Song]\n  Volume = 80 \nOther=1\n[B]\ny=2\n", "Song",
                  "volume", "90", "; top\n[A]\nx=1\n\n[Song]\n  Volume = 90\nOther=1\n[B]\ny=2\n"},
        WriteCase{"ReplaceKeepsCrlf", "[Song]\r\nVolume=80\r\nOther=1\r\n", "Song", "Volume", "",
                  "[Song]\r\nVolume=\r\nOther=1\r\n"},
        WriteCase{"ReplaceEmptyCrlfValue", "[Song]\r\nVolume=\r\n", "Song", "Volume", "5", "[Song]\r\nVolume=5\r\n"},
        WriteCase{"ReplaceLastLineWithoutNewline", "[Song]\nVolume=80", "Song", "Volume", "1", "[Song]\nVolume=1"},
        WriteCase{"ReplaceFirstOfTwo", "[Song]\nVolume=1\nVolume=2\n", "Song", "Volume", "3",
                  "[Song]\nVolume=3\nVolume=2\n"},
        WriteCase{"NewKeyAfterLastKey", "[A]\nx=1\n\n[B]\ny=2\n", "A", "z", "3", "[A]\nx=1\nz=3\n\n[B]\ny=2\n"},
        WriteCase{"NewKeyBeforeTrailingComment", "[A]\nx=1\n; about B\n[B]\n", "a", "z", "3",
                  "[A]\nx=1\nz=3\n; about B\n[B]\n"},
        WriteCase{"NewKeyInEmptySection", "[A]\n\n[B]\n", "A", "z", "3", "[A]\nz=3\n\n[B]\n"},
        WriteCase{"NewKeyAfterUnterminatedLine", "[A]\nx=1", "A", "z", "3", "[A]\nx=1\nz=3\n"},
        WriteCase{"NewKeyAfterUnterminatedHeader", "[A]", "A", "z", "3", "[A]\nz=3\n"},
        WriteCase{"NewKeyUsesCrlf", "[A]\r\nx=1\r\n", "A", "z", "3", "[A]\r\nx=1\r\nz=3\r\n"},
        WriteCase{"NewKeyInFirstDuplicate", "[A]\nx=1\n[A]\nz=2\n", "A", "z", "5", "[A]\nx=1\nz=5\n[A]\nz=2\n"},
        WriteCase{"NewSectionAfterBlankLine", "[A]\nx=1\n", "B", "z", "3", "[A]\nx=1\n\n[B]\nz=3\n"},
        WriteCase{"NewSectionReusesBlankLine", "[A]\nx=1\n\n", "B", "z", "3", "[A]\nx=1\n\n[B]\nz=3\n"},
        WriteCase{"NewSectionAfterUnterminatedLine", "[A]\nx=1", "B", "z", "3", "[A]\nx=1\n\n[B]\nz=3\n"},
        WriteCase{"NewSectionCrlf", "[A]\r\nx=1\r\n", "B", "z", "3", "[A]\r\nx=1\r\n\r\n[B]\r\nz=3\r\n"},
        WriteCase{"NewSectionInEmptyFile", "", "B", "z", "3", "[B]\nz=3\n"},
        WriteCase{"NewFile", std::nullopt, " B ", " z ", "3", "[B]\nz=3\n"},
        WriteCase{"BomKept", "\xEF\xBB\xBF[A]\nx=1\n", "A", "x", "2", "\xEF\xBB\xBF[A]\nx=2\n"},
        WriteCase{"BomOnly", "\xEF\xBB\xBF", "A", "x", "2", "\xEF\xBB\xBF[A]\nx=2\n"},
        WriteCase{"OtherBytesKept", bytes("\xff\0junk\n[A]\nx=1\n"), "A", "x", "2",
                  bytes("\xff\0junk\n[A]\nx=2\n")},
        WriteCase{"PaddedValueQuoted", "[A]\nx=1\n", "A", "x", " padded ", "[A]\nx=\" padded \"\n"},
        WriteCase{"QuotedValueQuoted", "[A]\nx=1\n", "A", "x", "\"q\"", "[A]\nx=\"\"q\"\"\n"},
        WriteCase{"UnchangedValue", "[A]\nx=1\n", "A", "x", "1", "[A]\nx=1\n"}),
    [](const testing::TestParamInfo<WriteCase>& param) { return std::string(param.param.name); });

struct UnsafeCase {
    const char* name;
    std::string section;
    std::string key;
    std::string value;
};

void PrintTo(const UnsafeCase& c, std::ostream* out) { *out << c.name; }

// Guards against names or values that would inject lines or headers into the file.
class ProfileWriteRefused : public testing::TestWithParam<UnsafeCase> {};

TEST_P(ProfileWriteRefused, LeavesTheFileAlone) {
    const UnsafeCase& c = GetParam();
    ProfileFolder folder;
    const std::string existing = folder.file("existing.ini");
    const std::string original = "[A]\nx=1\n";
    writeBytes(existing, original);
    EXPECT_FALSE(profileWriteString(c.section, c.key, c.value, existing));
    EXPECT_EQ(fileText(existing), original);
    EXPECT_FALSE(profileWriteString(c.section, c.key, c.value, folder.file("new.ini")));
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"existing.ini"});
}

INSTANTIATE_TEST_SUITE_P(
    Profile, ProfileWriteRefused,
    testing::Values(UnsafeCase{"SectionEmpty", " ", "x", "1"}, UnsafeCase{"SectionBracket", "A]\n[B", "x", "1"},
                    UnsafeCase{"SectionOpenBracket", "[A", "x", "1"}, UnsafeCase{"SectionEquals", "A=B", "x", "1"},
                    UnsafeCase{"SectionNewline", "A\nx=2", "x", "1"}, UnsafeCase{"KeyEmpty", "A", "", "1"},
                    UnsafeCase{"KeyEquals", "A", "x=2", "1"}, UnsafeCase{"KeyBracket", "A", "[B]", "1"},
                    UnsafeCase{"KeyNewline", "A", "x\ny", "1"}, UnsafeCase{"KeyComment", "A", ";x", "1"},
                    UnsafeCase{"KeyNul", "A", bytes("x\0y"), "1"}, UnsafeCase{"ValueNewline", "A", "x", "1\n[B]"},
                    UnsafeCase{"ValueCarriageReturn", "A", "x", "1\r2"},
                    UnsafeCase{"ValueNul", "A", "x", bytes("1\0002")},
                    UnsafeCase{"ValueOverLong", "A", "x", std::string(40000, 'v')}),
    [](const testing::TestParamInfo<UnsafeCase>& param) { return std::string(param.param.name); });

// Guards against a failed write that damages or replaces what was there.
TEST(ProfileWriteFailure, UnwritablePlacesAreRefused) {
    ProfileFolder folder;
    const std::string directory = folder.file("dir.ini");
    ASSERT_TRUE(fs::create_directory(directory));
    EXPECT_FALSE(profileWriteString("A", "x", "1", directory));
    EXPECT_TRUE(fs::is_directory(directory));

    const std::string plain = folder.file("plain");
    writeBytes(plain, "not a folder");
    EXPECT_FALSE(profileWriteString("A", "x", "1", plain + "/inside.ini"));  // parent is a file
    EXPECT_EQ(fileText(plain), "not a folder");

    EXPECT_FALSE(profileWriteString("A", "x", "1", folder.file("absent/new.ini")));
    EXPECT_FALSE(fs::exists(folder.file("absent")));  // the folder is not created

    const std::string dangling = folder.file("dangling.ini");
    fs::create_symlink(folder.file("nowhere/target.ini"), dangling);
    EXPECT_FALSE(profileWriteString("A", "x", "1", dangling));
}

// Guards against a writer that truncates a file it could not read whole, or writes one
// that readers would only read in part.
TEST(ProfileWriteFailure, OversizedFileIsLeftAlone) {
    ProfileFolder folder;
    const std::string path = folder.file("big.ini");
    const std::string original = "[A]\nx=1\n" + std::string((std::size_t{1} << 20), ';');
    writeBytes(path, original);
    EXPECT_FALSE(profileWriteString("A", "x", "2", path));
    EXPECT_EQ(fileText(path), original);

    const std::string nearlyFull = "[A]\nx=1\n;" + std::string((std::size_t{1} << 20) - 10, ';') + "\n";
    writeBytes(path, nearlyFull);
    EXPECT_FALSE(profileWriteString("A", "x", "12", path));
    EXPECT_EQ(fileText(path), nearlyFull);
}

// Guards against a write that fails halfway (disk full) leaving a cut file or a temporary.
// The file-size limit makes write() fail even for root, which ignores permissions.
TEST(ProfileWriteFailure, FailedWriteKeepsOldFile) {
    ProfileFolder folder;
    const std::string path = folder.file("full.ini");
    const std::string original = "; settings\n[A]\nx=1\n";
    writeBytes(path, original);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64;
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) {
        GTEST_SKIP() << "cannot lower the file-size limit here";
    }
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    const bool written = profileWriteString("A", "x", std::string(4096, 'v'), path);
    std::signal(SIGXFSZ, previousHandler);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);

    EXPECT_FALSE(written);
    EXPECT_EQ(fileText(path), original);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"full.ini"});
}

// Guards against a rewrite that widens a private file's permissions or breaks a symlink.
TEST(ProfileWriteFile, KeepsModeAndSymlink) {
    ProfileFolder folder;
    const std::string real = folder.file("real.ini");
    writeBytes(real, "[A]\nx=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    const std::string link = folder.file("link.ini");
    fs::create_symlink(real, link);

    ASSERT_TRUE(profileWriteString("A", "x", "2", link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fileText(real), "[A]\nx=2\n");
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

}  // namespace
