#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "FaultGuard.h"
#include "TempDir.h"

namespace {

using testing_support::FaultGuard;
using testing_support::fileText;

namespace fs = std::filesystem;
using testing_support::TempDir;

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

unsigned modeOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Guards against temporary names that collide, ignore the prefix or land elsewhere.
TEST(FilesTemp, CreatesDistinctPrivateFilesWithPrefix) {
    TempDir dir;
    const std::string folder = dir.path("");
    const std::string first = platform::createTempFile(folder, "CV");
    const std::string second = platform::createTempFile(folder, "CV");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(fs::path(first).parent_path(), fs::path(folder).parent_path());
    EXPECT_EQ(fs::path(first).filename().string().rfind("CV", 0), 0u);
    EXPECT_EQ(fs::file_size(first), 0u);
    EXPECT_EQ(modeOf(first), 0600u);
    EXPECT_EQ(platform::createTempFile(dir.path("missing"), "CV"), "");
}

// Guards against reporting space for a folder that does not exist.
TEST(FilesSpace, FreeSpaceOfExistingFolderOnly) {
    TempDir dir;
    const std::optional<std::uint64_t> space = platform::freeDiskSpace(dir.path(""));
    ASSERT_TRUE(space.has_value());
    EXPECT_GT(*space, 0u);
    EXPECT_FALSE(platform::freeDiskSpace(dir.path("missing")).has_value());
}

// Guards against a save that cannot tell a missing file from a read-only one.
TEST(FilesAttributes, ExistsReadOnlyDirectory) {
    TempDir dir;
    const std::string writable = dir.writeText("song.kar", "x");
    const std::string locked = dir.writeText("locked.kar", "x");
    ::chmod(locked.c_str(), 0444);

    const platform::FileAttributes missing = platform::fileAttributes(dir.path("none.kar"));
    EXPECT_FALSE(missing.exists);
    EXPECT_FALSE(platform::fileAttributes("").exists);
    const platform::FileAttributes plain = platform::fileAttributes(writable);
    EXPECT_TRUE(plain.exists);
    EXPECT_FALSE(plain.readOnly);
    EXPECT_FALSE(plain.directory);
    EXPECT_TRUE(platform::fileAttributes(locked).readOnly);
    EXPECT_TRUE(platform::fileAttributes(dir.path("")).directory);
}

// Guards against a copy that drops bytes (NULs, the tail past a buffer) or permissions.
TEST(FilesCopy, CopiesBytesAndPermissions) {
    TempDir dir;
    std::string bytes(200'000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    const std::string source = dir.writeText("source", bytes);
    ::chmod(source.c_str(), 0640);
    const std::string target = dir.writeText("target", std::string(300'000, 'x'));
    ASSERT_TRUE(platform::copyFile(source, target));
    EXPECT_EQ(fileText(target), bytes);
    EXPECT_EQ(modeOf(target), 0640u);
}

// Guards against a copy from something that is not a regular file hanging or "succeeding".
TEST(FilesCopy, RefusesMissingSourceAndFifo) {
    TempDir dir;
    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(platform::copyFile(dir.path("missing"), dir.path("a")));
    EXPECT_FALSE(platform::copyFile(fifo, dir.path("b")));
    EXPECT_FALSE(platform::copyFile(dir.path(""), dir.path("c")));
}

// Guards against the fault switch letting more (or fewer) bytes through than armed.
TEST(FilesFault, CopyStopsAfterArmedBytes) {
    FaultGuard guard;
    TempDir dir;
    const std::string source = dir.writeText("source", std::string(1000, 's'));
    const std::string target = dir.path("target");
    platform::setWriteFaultAfter(300);
    EXPECT_FALSE(platform::copyFile(source, target));
    EXPECT_EQ(fileText(target), std::string(300, 's'));
    platform::setWriteFaultAfter(std::nullopt);
    EXPECT_TRUE(platform::copyFile(source, target));
}

// Guards against a replace that leaves both names, or neither, or changes a failed target.
TEST(FilesReplace, RenamesOverTargetOrLeavesBoth) {
    FaultGuard guard;
    TempDir dir;
    const std::string target = dir.writeText("song.kar", "old");
    const std::string replacement = dir.writeText(".song.kar.new", "new");

    platform::setReplaceFault(true);
    EXPECT_FALSE(platform::replaceFile(replacement, target));
    EXPECT_EQ(fileText(target), "old");
    EXPECT_EQ(fileText(replacement), "new");

    platform::setReplaceFault(false);
    EXPECT_TRUE(platform::replaceFile(replacement, target));
    EXPECT_EQ(fileText(target), "new");
    EXPECT_EQ(entries(dir.path("")), std::vector<std::string>{"song.kar"});
    EXPECT_FALSE(platform::replaceFile(dir.path("gone"), target));
}

// Guards against reads that return part of a request as success or run past the end.
TEST(FilesReader, ReadsExactlyOrFails) {
    TempDir dir;
    const std::string path = dir.writeText("data", "0123456789");
    platform::FileReader reader;
    ASSERT_TRUE(reader.open(path));
    EXPECT_EQ(reader.size(), 10u);
    char buffer[8] = {};
    ASSERT_TRUE(reader.read(buffer, 4));
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(reader.remaining(), 6u);
    EXPECT_FALSE(reader.read(buffer, 8));
    EXPECT_EQ(reader.remaining(), 0u);
    EXPECT_FALSE(reader.read(buffer, 1));
    EXPECT_TRUE(reader.read(buffer, 0));

    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(reader.open(fifo));
    EXPECT_FALSE(reader.open(dir.path("")));
    EXPECT_FALSE(reader.open(dir.path("missing")));
    EXPECT_FALSE(reader.read(buffer, 1));
}

// Guards against a writer that truncates (a performance's voice chunk would be lost) or
// reports success after the disk filled up.
TEST(FilesWriter, OverwritesInPlaceAndReportsFaults) {
    FaultGuard guard;
    TempDir dir;
    const std::string path = dir.writeText("song", "abcdefghij");
    platform::FileWriter writer;
    ASSERT_TRUE(writer.open(path));
    ASSERT_TRUE(writer.write("XYZ", 3));
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(fileText(path), "XYZdefghij");

    ASSERT_TRUE(writer.open(path));
    platform::setWriteFaultAfter(2);
    EXPECT_FALSE(writer.write("1234", 4));
    EXPECT_FALSE(writer.write("5", 1));
    EXPECT_FALSE(writer.close());
    EXPECT_EQ(fileText(path), "12Zdefghij");
    EXPECT_FALSE(writer.open(dir.path("missing")));
}

// Guards against a replacement that loses the old bytes behind what is rewritten, or
// the file's permissions.
TEST(FilesReplacement, StartsAsCopyAndKeepsPermissions) {
    TempDir dir;
    const std::string target = dir.writeText("song.pfc", "MIDI-PART+VOICE");
    ::chmod(target.c_str(), 0604);
    platform::ReplacementFile replacement(target);
    ASSERT_TRUE(replacement.valid());
    EXPECT_EQ(fs::path(replacement.path()).parent_path(), fs::path(target).parent_path());
    EXPECT_EQ(fileText(replacement.path()), "MIDI-PART+VOICE");
    platform::FileWriter writer;
    ASSERT_TRUE(writer.open(replacement.path()));
    ASSERT_TRUE(writer.write("midi-part", 9));
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(fileText(target), "MIDI-PART+VOICE");
    ASSERT_TRUE(replacement.commit());
    EXPECT_EQ(fileText(target), "midi-part+VOICE");
    EXPECT_EQ(modeOf(target), 0604u);
    EXPECT_EQ(entries(dir.path("")), std::vector<std::string>{"song.pfc"});
}

// Guards against a whole-file replacement that keeps old bytes behind the new ones, touches
// the file before the commit, or loses the file's permissions.
TEST(FilesReplacement, EmptyStartReplacesTheWholeFileAndKeepsPermissions) {
    TempDir dir;
    const std::string target = dir.writeText("song.kar", "A LONGER OLD SONG");
    ::chmod(target.c_str(), 0604);
    platform::ReplacementFile replacement(target, platform::ReplacementFile::Start::Empty);
    ASSERT_TRUE(replacement.valid());
    EXPECT_EQ(fileText(replacement.path()), "");
    writeBytes(replacement.path(), "new");
    EXPECT_EQ(fileText(target), "A LONGER OLD SONG");
    ASSERT_TRUE(replacement.commit());
    EXPECT_EQ(fileText(target), "new");
    EXPECT_EQ(modeOf(target), 0604u);
    EXPECT_EQ(entries(dir.path("")), std::vector<std::string>{"song.kar"});
}

// Guards against a temporary copy left behind, or the target touched, by an abandoned save.
TEST(FilesReplacement, AbandonedOrFailedCommitLeavesTarget) {
    FaultGuard guard;
    TempDir dir;
    const std::string target = dir.writeText("song.kar", "old");
    {
        platform::ReplacementFile replacement(target);
        ASSERT_TRUE(replacement.valid());
        writeBytes(replacement.path(), "new");
    }
    EXPECT_EQ(fileText(target), "old");
    EXPECT_EQ(entries(dir.path("")), std::vector<std::string>{"song.kar"});
    {
        platform::ReplacementFile replacement(target);
        writeBytes(replacement.path(), "new");
        platform::setReplaceFault(true);
        EXPECT_FALSE(replacement.commit());
    }
    EXPECT_EQ(fileText(target), "old");
    EXPECT_EQ(entries(dir.path("")), std::vector<std::string>{"song.kar"});
}

// Guards against a failed copy of the target leaving a half-made temporary behind.
TEST(FilesReplacement, FailedCopyLeavesNothing) {
    FaultGuard guard;
    TempDir dir;
    const std::string target = dir.writeText("song.kar", std::string(5000, 'k'));
    platform::setWriteFaultAfter(100);
    platform::ReplacementFile replacement(target);
    EXPECT_FALSE(replacement.valid());
    EXPECT_FALSE(replacement.commit());
    EXPECT_EQ(entries(dir.path("")), std::vector<std::string>{"song.kar"});
}

// Guards against a save to a new name failing, or creating it with the temporary's 0600.
TEST(FilesReplacement, CreatesMissingTargetWithUsualPermissions) {
    TempDir dir;
    const std::string target = dir.path("new.mid");
    const mode_t mask = ::umask(022);
    platform::ReplacementFile replacement(target);
    ::umask(mask);
    ASSERT_TRUE(replacement.valid());
    EXPECT_EQ(fileText(replacement.path()), "");
    writeBytes(replacement.path(), "song");
    ASSERT_TRUE(replacement.commit());
    EXPECT_EQ(fileText(target), "song");
    EXPECT_EQ(modeOf(target), 0644u);
}

// Guards against replacing a symbolic link by a plain file (the user's link would break).
TEST(FilesReplacement, ReplacesTheFileALinkNames) {
    TempDir dir;
    const std::string real = dir.writeText("real.kar", "old");
    const std::string link = dir.path("link.kar");
    fs::create_symlink(real, link);
    platform::ReplacementFile replacement(link);
    ASSERT_TRUE(replacement.valid());
    writeBytes(replacement.path(), "new");
    ASSERT_TRUE(replacement.commit());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fileText(real), "new");
}

// Guards against a save replacing a read-only file or a folder just because the folder
// around it allows the rename.
TEST(FilesReplacement, RefusesReadOnlyTargetAndFolder) {
    TempDir dir;
    const std::string locked = dir.writeText("locked.kar", "old");
    ::chmod(locked.c_str(), 0444);
    fs::create_directory(dir.path("folder.kar"));
    EXPECT_FALSE(platform::ReplacementFile(locked).valid());
    EXPECT_FALSE(platform::ReplacementFile(dir.path("folder.kar")).valid());
    EXPECT_FALSE(platform::ReplacementFile(dir.path("missing/x.kar")).valid());
    EXPECT_EQ(fileText(locked), "old");
    EXPECT_EQ(entries(dir.path("")), (std::vector<std::string>{"folder.kar", "locked.kar"}));
}

}  // namespace
