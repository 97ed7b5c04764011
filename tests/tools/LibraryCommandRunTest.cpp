#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "SmfBuilder.h"
#include "ToolTestSupport.h"

using namespace tooltest;

namespace {

std::vector<std::uint8_t> karaoke(const std::string& title, const std::string& artist, const std::string& words) {
    testing_support::Track text;
    text.meta(0, 1, "@T" + title).meta(0, 1, "@T" + artist).meta(480, 1, words).end(0);
    testing_support::Track notes;
    notes.noteOn(0, 0, 60, 90).noteOff(960, 0, 60).end(0);
    return testing_support::smf(1, 480, {notes, notes, text});
}

struct LibraryRun {
    TempFolder folder;
    std::vector<std::string> environment() const { return {"CVK_LIBRARY_DATABASE=" + folder.file("db/library.sqlite")}; }
    RunResult run(std::vector<std::string> args) const {
        args.insert(args.begin(), {CVKTOOL_PATH, "library"});
        return runProgram(args, "/dev/null", environment());
    }
};

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    writeText(path, std::string(bytes.begin(), bytes.end()));
}

// Guards against the terminal commands and the window disagreeing on the library, a JSON
// field missing, or a fault reported as success.
TEST(LibraryCommandRun, AddSearchListForget) {
    LibraryRun library;
    std::filesystem::create_directories(library.folder.file("songs"));
    writeBytes(library.folder.file("songs/a.kar"), karaoke("Quiet \"Night\"", "Sandra", "stars shine"));
    writeBytes(library.folder.file("songs/b.kar"), karaoke("Night Train", "Otis", "rolling on"));
    writeText(library.folder.file("songs/c.mid"), "not a song");

    RunResult run = library.run({"add", library.folder.file("songs")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("skipped " + library.folder.file("songs/c.mid") + ": not a Standard MIDI file"),
              std::string::npos) << run.out;
    EXPECT_NE(run.out.find("2 added, 0 read again, 0 unchanged, 0 removed, 1 skipped"), std::string::npos) << run.out;

    run = library.run({"search", "night", "sandra", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "[{\"path\": \"" + library.folder.file("songs/a.kar") +
                           "\", \"title\": \"Quiet \\\"Night\\\"\", \"artist\": \"Sandra\", \"seconds\": 1, "
                           "\"lyrics\": true, \"folder\": \"" + library.folder.file("songs") + "\"}]\n");
    run = library.run({"search", "nothing-like-it", "--json"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "[]\n");

    run = library.run({"forget", library.folder.file("songs/b.kar")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    run = library.run({"list"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Quiet \"Night\"\tSandra\t0:01\tlyrics\t" + library.folder.file("songs/a.kar") + "\n");
    run = library.run({"forget", library.folder.file("songs/b.kar")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("knows no song or folder"), std::string::npos) << run.err;
}

// Guards against usage errors and library faults sharing an exit status, or a fault that
// prints nothing.
TEST(LibraryCommandRun, ExitStatuses) {
    LibraryRun library;
    const std::vector<std::vector<std::string>> usage = {
        {}, {"add"}, {"search"}, {"list", "extra"}, {"forget"}, {"forget", "a", "b"}, {"shuffle"}, {"list", "--bad"},
    };
    for (const std::vector<std::string>& args : usage) {
        EXPECT_EQ(library.run(args).exitCode, 2) << (args.empty() ? "" : args[0]);
    }
    RunResult run = library.run({"add", library.folder.file("missing")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Not a folder"), std::string::npos) << run.err;

    // A library where no folder can be made for it.
    writeText(library.folder.file("file"), "");
    run = runProgram({CVKTOOL_PATH, "library", "list"}, "/dev/null",
                     {"CVK_LIBRARY_DATABASE=" + library.folder.file("file/library.sqlite")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Cannot open the song library"), std::string::npos) << run.err;
}

}  // namespace
