#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "CantivoHarness.h"
#include "Filestat.h"
#include "SmBmpBtn.h"
#include "TakeRecovery.h"
#include "WaveBuilder.h"
#include "platform/files.h"

using namespace testing_support;
using cvkapp::TakeNote;
using platform::MessageAnswer;
namespace fs = std::filesystem;

namespace {

// No process has this number: the kernel's numbers stay below it.
constexpr long kNoProcess = 4194304;

const std::string kValidNote =
    "CVK take note 1\ntarget=/tmp/CWa1\ntemporary=/tmp/WWb2\nsong=/songs/My Way.kar\npid=42\n"
    "started=7\n";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

struct BadNote {
    const char* name;
    std::string text;
    const char* error;
};

// Guards against a note that is read although it was never written so: a torn write, a
// newer program's note, a note edited or converted by hand, numbers that overflow.
TEST(TakeRecoveryNoteTest, MalformedNotesAreRefusedWithTheirReason) {
    const cvkapp::TakeNoteParse valid = cvkapp::ParseTakeNote(kValidNote);
    ASSERT_TRUE(valid.note) << valid.error;
    EXPECT_EQ(*valid.note, (TakeNote{"/tmp/CWa1", "/tmp/WWb2", "/songs/My Way.kar", 42, 7}));
    EXPECT_EQ(cvkapp::FormatTakeNote(*valid.note), kValidNote);

    const std::vector<BadNote> cases = {
        {"Empty", "", "last line unterminated"},
        {"TornLastLine", kValidNote.substr(0, kValidNote.size() - 1), "last line unterminated"},
        {"TornInside", kValidNote.substr(0, kValidNote.find("pid")), "missing pid"},
        {"OtherFile", "[Settings]\n", "not a take note"},
        {"NewerVersion", replaced(kValidNote, "note 1", "note 2"), "unknown version"},
        {"CarriageReturns", replaced(kValidNote, "\n", "\r\n"), "unknown version"},
        {"ExtraLine", kValidNote + "colour=red\n", "extra line"},
        {"OutOfOrder", replaced(kValidNote, "target=/tmp/CWa1\ntemporary=/tmp/WWb2",
                                "temporary=/tmp/WWb2\ntarget=/tmp/CWa1"),
         "expected target"},
        {"BlankBeforeEquals", replaced(kValidNote, "song=", "song ="), "expected song"},
        {"EmptyTemporary", replaced(kValidNote, "/tmp/WWb2", ""), "empty temporary"},
        {"NulInTarget", replaced(kValidNote, "CWa1", std::string("CW\0a", 4)), "NUL in target"},
        {"NegativePid", replaced(kValidNote, "pid=42", "pid=-42"), "bad pid"},
        {"PidZero", replaced(kValidNote, "pid=42", "pid=0"), "bad pid"},
        {"PidLeadingZero", replaced(kValidNote, "pid=42", "pid=042"), "bad pid"},
        {"PidTooLarge", replaced(kValidNote, "pid=42", "pid=99999999999"), "bad pid"},
        {"PidWithBlank", replaced(kValidNote, "pid=42", "pid=42 "), "bad pid"},
        {"StartOverflows", replaced(kValidNote, "started=7", "started=18446744073709551616"),
         "bad start time"},
        {"TooLong", replaced(kValidNote, "My Way", std::string(cvkapp::kLongestTakeNote, 'a')),
         "too long"},
    };
    for (const BadNote& c : cases) {
        const cvkapp::TakeNoteParse parsed = cvkapp::ParseTakeNote(c.text);
        EXPECT_FALSE(parsed.note) << c.name;
        EXPECT_EQ(parsed.error, c.error) << c.name;
    }
}

class TakeRecoveryTest : public CantivoTest {
protected:
    std::string folder() const { return platform::tempFolder(); }
    std::string inFolder(const std::string& name) const { return folder() + "/" + name; }

    void writeNote(const TakeNote& note, const std::string& notePath = {}) {
        const std::string text = cvkapp::FormatTakeNote(note);
        ASSERT_FALSE(text.empty());
        std::ofstream(notePath.empty() ? cvkapp::TakeNotePath(note.target) : notePath) << text;
    }

    // What a recorder killed while recording over `songPath` leaves: the target's name
    // reserved by an empty file, the take under the wave library's temporary name with
    // sizes half a second old and a frame torn by the kill, and the note.
    TakeNote crashedTake(const std::string& songPath) {
        const TakeNote note{inFolder("CWtake01"), inFolder("WWtake01"), songPath, kNoProcess, 1};
        std::ofstream(note.target).flush();
        ByteVector stale = completeTake();
        stale[4] = 46 - 8 + 200;
        stale[5] = stale[6] = stale[7] = 0;
        stale[42] = 200;
        stale[43] = stale[44] = stale[45] = 0;
        stale.push_back(0x55);
        std::ofstream(note.temporary, std::ios::binary)
            .write(reinterpret_cast<const char*>(stale.data()), static_cast<std::streamsize>(stale.size()));
        writeNote(note);
        return note;
    }
    // The take as the recorder would have finished it.
    static ByteVector completeTake() {
        ByteVector voice;
        for (int i = 0; i < 2000; ++i) voice.push_back(static_cast<std::uint8_t>(i * 7));
        return waveFile(pcmFormat(22050, 1, 16), voice);
    }
};

// Guards against a restored take that is not the pending performance over its song, keeps
// sizes that hide the audio recorded after the last update, or whose note is lost while it
// is still unsaved.
TEST_F(TakeRecoveryTest, YesOpensTheSongWithTheTakeAsTheUnsavedPerformance) {
    const std::string songPath = song("song.kar", noteSong(4));
    const TakeNote note = crashedTake(songPath);
    boxes.answerNext(MessageAnswer::Yes);
    auto& w = open();
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"A recording of song.kar was interrupted. Restore it?"});
    EXPECT_TRUE(w.SongLoaded);
    EXPECT_EQ(w.SongFileName, songPath);
    EXPECT_EQ(w.PendingWaveFile, note.target);
    EXPECT_EQ(w.RecordingFile, note.target);
    EXPECT_TRUE(w.PerformanceUnsaved);
    EXPECT_EQ(w.FileStatusDisplay->FileLoaded(), TFileStatusBox::performance);
    EXPECT_TRUE(w.SavePfcButton->Enabled() && w.ClearButton->Enabled());
    EXPECT_EQ(fileBytes(note.target), completeTake());
    EXPECT_FALSE(fs::exists(note.temporary));
    // Unsaved, it is this process's now: kept noted, not offered while it runs.
    EXPECT_TRUE(fs::exists(cvkapp::TakeNotePath(note.target)));
    EXPECT_TRUE(cvkapp::FindInterruptedTakes(folder()).empty());

    boxes.answerNext(MessageAnswer::Yes);
    w.ClearButtonClick();
    EXPECT_FALSE(fs::exists(note.target) || fs::exists(cvkapp::TakeNotePath(note.target)));
    EXPECT_FALSE(boxes.misuse());
}

// Guards against a refused take that lingers on disk, or is offered again at every start.
TEST_F(TakeRecoveryTest, NoDeletesTheTakeAndItsNote) {
    const TakeNote note = crashedTake(song("song.kar", noteSong(4)));
    boxes.answerNext(MessageAnswer::No);
    auto& w = open();
    EXPECT_EQ(boxTexts().size(), 1u);
    EXPECT_FALSE(w.SongLoaded || w.PerformanceUnsaved);
    EXPECT_TRUE(w.PendingWaveFile.empty());
    EXPECT_FALSE(fs::exists(note.target) || fs::exists(note.temporary));
    EXPECT_EQ(tempFiles(), 0u);
}

// Guards against a take lost because its song was moved away: it is kept, and the user is
// told where.
TEST_F(TakeRecoveryTest, ATakeWhoseSongIsGoneIsKeptAndItsPlaceNamed) {
    const TakeNote note = crashedTake(path("gone.kar"));
    boxes.answerNext(MessageAnswer::Yes);
    open();
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{
                              "A recording of gone.kar was interrupted. Restore it?",
                              "The song gone.kar could not be opened. The recording is kept as " +
                                  fs::absolute(note.target).lexically_normal().string() + "."}));
    EXPECT_EQ(fileBytes(note.target), completeTake());
    EXPECT_FALSE(fs::exists(cvkapp::TakeNotePath(note.target)));
}

// Whose number the note gives: this process, one that has ended but was not yet
// collected by its parent (the recorder just killed), or none.
enum class Recorder { ThisProcess, Zombie, Gone };

struct FoundCase {
    const char* name;
    Recorder recorder;
    int startedShift;     // added to that process's start time
    bool otherFolder;     // the note names a take outside the folder
    bool misnamed;        // the note's file is not named after its take
    bool offered;
};

// Guards against offering a take still being recorded, missing one whose recorder was
// killed a moment ago or whose process number was given to another process since, and
// acting on notes that name files elsewhere.
TEST_F(TakeRecoveryTest, OnlyTakesOfProcessesThatAreGoneAreFound) {
    const std::optional<std::uint64_t> started = cvkapp::ProcessStartTime(::getpid());
    ASSERT_TRUE(started);
    // A child that ends when told and is left uncollected until the end of the test.
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t zombie = ::fork();
    ASSERT_GE(zombie, 0);
    if (zombie == 0) {
        ::close(pipe[1]);
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(pipe[0], &byte, 1);
        ::_exit(0);
    }
    const std::optional<std::uint64_t> zombieStarted = cvkapp::ProcessStartTime(zombie);
    ::close(pipe[1]);
    ::close(pipe[0]);
    siginfo_t ended{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(zombie), &ended, WEXITED | WNOWAIT), 0);
    ASSERT_TRUE(zombieStarted);

    const std::vector<FoundCase> cases = {
        {"Recording", Recorder::ThisProcess, 0, false, false, false},
        {"NumberReused", Recorder::ThisProcess, 1, false, false, true},
        {"RecorderJustKilled", Recorder::Zombie, 0, false, false, true},
        {"ProcessGone", Recorder::Gone, 0, false, false, true},
        {"TakeElsewhere", Recorder::Gone, 0, true, false, false},
        {"Misnamed", Recorder::Gone, 0, false, true, false},
    };
    for (const FoundCase& c : cases) {
        const std::string target = c.otherFolder ? path("CWtake") : inFolder("CWtake");
        const long pid = c.recorder == Recorder::ThisProcess ? static_cast<long>(::getpid())
                         : c.recorder == Recorder::Zombie    ? static_cast<long>(zombie)
                                                             : kNoProcess;
        const std::uint64_t start = c.recorder == Recorder::Zombie ? *zombieStarted : *started;
        const TakeNote note{target, inFolder("WWtake"), "/songs/a.kar", pid,
                            start + static_cast<std::uint64_t>(c.startedShift)};
        const std::string notePath = inFolder(c.misnamed ? "CWother.take" : "CWtake.take");
        writeNote(note, notePath);
        EXPECT_EQ(cvkapp::FindInterruptedTakes(folder()).size(), c.offered ? 1u : 0u) << c.name;
        fs::remove(notePath);
    }
    ::waitpid(zombie, nullptr, 0);
    // A malformed note is passed over and left as it is.
    std::ofstream(inFolder("CWbad.take")) << "CVK take note 1\ntarget=";
    EXPECT_TRUE(cvkapp::FindInterruptedTakes(folder()).empty());
    EXPECT_TRUE(fs::exists(inFolder("CWbad.take")));
}

}  // namespace
