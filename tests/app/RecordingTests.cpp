#include <QLabel>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "CantivoHarness.h"
#include "Filestat.h"
#include "Ledbuton.h"
#include "OffsetSlider.h"
#include "Recbtn.h"
#include "Recslidr.h"
#include "SmBmpBtn.h"
#include "SpinButton.h"
#include "TakeRecovery.h"
#include "Trkbar.h"
#include "audio/wave.h"
#include "platform/atoms.h"
#include "platform/files.h"

using namespace testing_support;
using audio::ComponentType;
using audio::ControlType;
using audio::VirtualMixerLine;
using platform::MessageAnswer;

namespace {

// How the microphone reaches the speakers on the card: its mute, only an on/off switch,
// or only its volume.
enum class MicPath { Mute, Switch, Volume };

audio::VirtualMixerSetup card(MicPath path) {
    VirtualMixerLine microphone{ComponentType::SrcMicrophone, "Mic", "Microphone", 1,
                                {mixerVolume("mic", 20000)}, {}};
    microphone.controls[0].values = {20000};
    if (path == MicPath::Mute) microphone.controls.push_back(mixerSwitch(ControlType::Mute, "mic mute", 0));
    if (path != MicPath::Volume) microphone.controls.push_back(mixerSwitch(ControlType::OnOff, "mic select", 1));
    VirtualMixerLine speakers{ComponentType::DstSpeakers, "Speakers", "Speakers", 2, {mixerVolume("master", 50000)}, {}};
    speakers.sources = {{ComponentType::SrcWaveOut, "Wave", "Wave", 2, {mixerVolume("wave", 40000)}, {}},
                        {ComponentType::SrcSynthesizer, "Synth", "Synth", 2,
                         {mixerVolume("synth", 40000), mixerSwitch(ControlType::Mute, "synth mute", 0)}, {}},
                        microphone};
    VirtualMixerLine recording{ComponentType::DstWaveIn, "Recording", "Recording", 2, {mixerVolume("record", 30000)}, {}};
    const std::vector<std::string> names = {"Line In", "Mic"};
    for (const std::string& name : names) {
        recording.sources.push_back({ComponentType::SrcLine, name, name, 2, {}, {}});
    }
    recording.controls.push_back({ControlType::Mux, "Select", "selector", 0, 1, names, {1, 0}});
    audio::VirtualMixerSetup setup;
    setup.cards.push_back({{speakers, recording}, true});
    setup.outputs = {{"Sound Card", 0, false}};
    setup.inputs = {{"Sound Card", 0, false}};
    return setup;
}

// Half a second of a known voice, 16-bit mono at 22050 Hz.
std::vector<std::uint8_t> knownVoice() {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 11025; ++i) {
        const auto sample = static_cast<std::int16_t>((i * 37) % 2000 - 1000);
        bytes.push_back(static_cast<std::uint8_t>(sample & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
    }
    return bytes;
}

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class RecordingTest : public CantivoTest {
protected:
    void SetUp() override {
        CantivoTest::SetUp();
        audio::useVirtualMixer(card(MicPath::Mute));
        audio::VirtualWaveSetup wave;
        wave.microphone = knownVoice();
        audio::useVirtualWave(wave);
        setting("Configuration", "Configured", "1");
    }
    void TearDown() override {
        CantivoTest::TearDown();
        audio::useRealWave();
    }

    // The clock moves and the window takes its messages, as its event loop would.
    void step(int ticks = 1) {
        for (int i = 0; i < ticks; ++i) {
            tick();
            window().PumpMessages();
        }
    }
    void recordOverSong(int notes = 4) {
        openSong(song("song.kar", noteSong(notes)));
        window().RecButtonClick();
        ASSERT_TRUE(window().Recording);
    }
    // Takes the window's messages until the wave library has put the take in place.
    void finishTake() {
        for (int i = 0; i < 100 && window().Audio.AudioGetRecordResult(nullptr, 0) == -1; ++i) {
            window().PumpMessages();
        }
        ASSERT_NE(window().Audio.AudioGetRecordResult(nullptr, 0), -1);
    }
    // A finished take of one second; the window then holds an unsaved performance.
    void recordATake() {
        recordOverSong();
        step(20);
        window().StopButtonClick();
        finishTake();
        ASSERT_FALSE(window().PendingWaveFile.empty());
    }
    std::vector<bool> recordingLockedControls() {
        auto& w = window();
        return {w.PlayButton->Enabled(), w.PauseButton->Enabled(), w.RewindButton->Enabled(),
                w.FForwardButton->Enabled(), w.OpenButton->Enabled(), w.ClearButton->Enabled(),
                w.SavePfcButton->Enabled(), w.TempoSpin->isEnabled(), w.Save1->isEnabled(),
                w.SaveAs1->isEnabled(), w.New1->isEnabled(), w.Open1->isEnabled(),
                w.AudioConfigurationWizard1->isEnabled()};
    }
};

// ---- every way out of a recording, in both monitoring modes, on every kind of card

enum class WayOut { Stop, RecAgain, EndOfSong, OpenRequest, WindowClose };

using WayCase = std::tuple<WayOut, bool /*software*/, MicPath>;

class WayOutTest : public RecordingTest, public ::testing::WithParamInterface<WayCase> {};

// Guards against a recording that leaves the user's microphone muted, the wave line at
// full volume, the echo bar locked or the window's controls disabled, on any way out.
TEST_P(WayOutTest, TheMixerAndTheControlsComeBack) {
    const auto [way, software, mic] = GetParam();
    audio::useVirtualMixer(card(mic));
    setting("Configuration", "Software", software ? "1" : "0");
    // Hardware cases record without the monitor, so that every mode closes the path.
    setting("Monitor", "Status", software ? "1" : "0");
    open();
    window().DelayBar->SetCurrentPos(200);
    // The control that carries the microphone to the speakers: before, closed, open.
    const int m = static_cast<int>(mic);
    const std::string path = std::vector<std::string>{"mic mute", "mic select", "mic"}[m];
    const std::uint32_t before[] = {0, 1, 20000}, closed[] = {1, 0, 0}, opened[] = {0, 1, 32247};

    recordOverSong();
    EXPECT_EQ(mixerValue("wave"), software ? 65535u : 40000u);
    EXPECT_EQ(mixerValue(path), closed[m]);
    if (!software) {
        window().MonitorButtonClick();
        EXPECT_EQ(mixerValue(path), opened[m]) << "the monitor button opens the pass-through";
        EXPECT_EQ(window().DelayBar->CurrentPos(), 0) << "no echo in the pass-through";
        window().DelayBar->SetCurrentPos(300);
        EXPECT_EQ(window().DelayBar->CurrentPos(), 0) << "the echo bar is locked";
        EXPECT_EQ(window().EchoLabel->palette().color(QPalette::WindowText), QColor(0x80, 0x80, 0x80));
    }
    EXPECT_EQ(recordingLockedControls(), std::vector<bool>(13, false));
    step(10);

    switch (way) {
        case WayOut::Stop: window().StopButtonClick(); break;
        case WayOut::RecAgain: window().RecButtonClick(); break;
        case WayOut::EndOfSong:
            for (int i = 0; i < 200 && window().Recording; ++i) step();
            break;
        case WayOut::OpenRequest:
            boxes.answerNext(MessageAnswer::No);
            window().OpenFileRequest(platform::addAtom(song("next.kar", noteSong(2))));
            EXPECT_EQ(window().SongFileName, this->path("next.kar"));
            break;
        case WayOut::WindowClose:
            boxes.answerNext(MessageAnswer::No);
            EXPECT_TRUE(window().close());
            break;
    }
    EXPECT_FALSE(window().Recording || window().RecButton->Recording());
    EXPECT_EQ(mixerValue("wave"), 40000u);
    EXPECT_EQ(mixerValue(path), before[m]);
    EXPECT_EQ(window().DelayBar->CurrentPos(), 200);
    EXPECT_NE(window().EchoLabel->palette().color(QPalette::WindowText), QColor(0x80, 0x80, 0x80));
    if (way != WayOut::WindowClose) {
        const std::vector<bool> after = recordingLockedControls();
        // Pause, Clear and Save Performance follow the take: everything else is free again.
        EXPECT_TRUE(after[0] && after[2] && after[3] && after[4] && after[7] && after[8] &&
                    after[10] && after[11]);
    }
    EXPECT_FALSE(boxes.misuse());
}

std::string wayName(const ::testing::TestParamInfo<WayCase>& info) {
    const char* ways[] = {"Stop", "RecAgain", "EndOfSong", "OpenRequest", "WindowClose"};
    const char* paths[] = {"MicMute", "MicSwitch", "MicVolume"};
    return std::string(ways[static_cast<int>(std::get<0>(info.param))]) +
           (std::get<1>(info.param) ? "Software" : "Hardware") +
           paths[static_cast<int>(std::get<2>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Ways, WayOutTest,
                         ::testing::Combine(::testing::Values(WayOut::Stop, WayOut::RecAgain,
                                                              WayOut::EndOfSong, WayOut::OpenRequest,
                                                              WayOut::WindowClose),
                                            ::testing::Bool(),
                                            ::testing::Values(MicPath::Mute, MicPath::Switch,
                                                              MicPath::Volume)),
                         wayName);

// ---- the take itself

// Guards against a take that loses, reorders or pads what the microphone delivered.
TEST_F(RecordingTest, TheTakeHoldsWhatTheMicrophoneDelivered) {
    open();
    recordATake();
    const std::vector<std::uint8_t> voice = knownVoice();
    const std::vector<std::uint8_t> file = fileBytes(window().PendingWaveFile);
    const auto at = std::search(file.begin(), file.end(), voice.begin(), voice.end());
    ASSERT_NE(at, file.end());
    EXPECT_EQ(std::string(file.begin() + (at - file.begin()) - 8, file.begin() + (at - file.begin()) - 4), "data");
    EXPECT_TRUE(std::all_of(at + static_cast<long>(voice.size()), file.end(), [](std::uint8_t b) { return b == 0; }))
        << "after the voice the microphone gave silence";
    EXPECT_EQ(window().FileStatusDisplay->FileLoaded(), TFileStatusBox::performance);
    EXPECT_EQ(std::filesystem::path(window().RecordingFile).filename().string().substr(0, 2), "CW");
}

// Guards against buffers the wave library refuses (not whole frames, too small), a
// hardware recording with the software mode's size, and a failed start that leaves the
// mixer set for a recording or a file behind.
TEST_F(RecordingTest, BufferSizesAndAFailedStart) {
    struct Case { const char* software; const char* configured; int handed; };
    for (const Case c : {Case{"1", "1024", 1024}, Case{"1", "1023", 1020}, Case{"1", "10", 16},
                         Case{"1", "-5", 4096}, Case{"0", "100", 4096}}) {
        setting("Configuration", "Software", c.software);
        setting("Configuration", "Buffer Size (bytes) of each buffer", c.configured);
        open();
        openSong(song("song.kar", noteSong(4)));
        int handed = -1;
        window().Audio.AudioStartRecord = [&](std::uint32_t, const char*, std::int32_t rate, std::int32_t channels,
                                              std::int32_t bits, std::int32_t bytes, std::int32_t, std::int32_t) {
            handed = bytes;
            EXPECT_TRUE(std::make_tuple(rate, channels, bits) == std::make_tuple(22050, 1, 16));
            return 0;
        };
        const std::size_t files = tempFiles();
        window().RecButtonClick();
        EXPECT_EQ(handed, c.handed) << c.configured;
        EXPECT_FALSE(window().Recording);
        EXPECT_FALSE(window().SongPlaying);
        EXPECT_EQ(tempFiles(), files) << "the failed take's file is gone";
        EXPECT_EQ(mixerValue("wave"), 40000u);
        EXPECT_EQ(mixerValue("mic mute"), 0u);
    }
}

// Guards against a new take silently replacing one the user wanted to keep, and against a
// failed save that drops it all the same.
TEST_F(RecordingTest, RecOverAnUnsavedPerformanceAsksAndNoDiscardsIt) {
    open();
    recordATake();
    const std::string previous = window().PendingWaveFile;
    // Yes: nothing is saved (no file is chosen), so the question comes again.
    boxes.answerNext(MessageAnswer::Yes);
    boxes.answerNext(MessageAnswer::No);
    window().RecButtonClick();
    EXPECT_EQ(boxCount("The current performance will be lost if you record again.  Do you want to save "
                       "this performance?"), 2);
    EXPECT_TRUE(window().Recording);
    EXPECT_FALSE(std::filesystem::exists(previous));
}

// Guards against a take a crash could lose: unnoted while it records, or its note lost
// before the take is saved or thrown away; and a note that outlives the take.
TEST_F(RecordingTest, ATakeIsNotedUntilItIsSavedOrCleared) {
    open();
    recordOverSong();
    const std::string note = cvkapp::TakeNotePath(window().RecordingFile);
    const std::vector<std::uint8_t> text = fileBytes(note);
    const cvkapp::TakeNoteParse parsed = cvkapp::ParseTakeNote(std::string(text.begin(), text.end()));
    ASSERT_TRUE(parsed.note) << parsed.error;
    EXPECT_EQ(parsed.note->temporary, voxcapt::recordingView().temporaryName);
    EXPECT_EQ(parsed.note->song, window().SongFileName);
    EXPECT_EQ(parsed.note->pid, ::getpid());
    EXPECT_TRUE(cvkapp::FindInterruptedTakes(platform::tempFolder()).empty()) << "it is recording";
    window().StopButtonClick();
    finishTake();
    EXPECT_TRUE(std::filesystem::exists(note)) << "the take is not saved yet";
    boxes.answerNext(MessageAnswer::Yes);
    window().ClearButtonClick();
    EXPECT_FALSE(std::filesystem::exists(note));
}

// ---- the voice column

// Guards against mute LEDs that light, and tracks that go silent, with no voice to set
// against the song or while one is being recorded.
TEST_F(RecordingTest, MutesDoNothingWithoutATakeOrWhileRecording) {
    open();
    int silences = 0;
    window().Audio.AudioPlaySilenceWave = [&](std::int32_t flag) { ++silences; return flag; };
    openSong(song("song.kar", noteSong(4)));
    for (bool recording : {false, true}) {
        if (recording) {
            window().RecButtonClick();
            ASSERT_TRUE(window().Recording);
        }
        for (TLedButton* led : {window().WaveOutMuteButton, window().MidiOutMuteButton}) {
            led->SetState(true);  // the press switched the LED, then its handler runs
            emit led->OnChange();
            EXPECT_FALSE(led->State());
        }
        EXPECT_EQ(silences, 0);
        EXPECT_FALSE(window().MidiMuted || window().VoiceSilenced || window().TrackMix[0].Mute);
    }
}

// Guards against the mutes of a performance being lost when the song's end stops the
// recording, and a song mute that leaves the tracks muted.
TEST_F(RecordingTest, TheSongsEndGivesTheMutesBack) {
    open();
    recordATake();
    emit window().WaveOutMuteButton->OnChange();
    ASSERT_TRUE(window().VoiceSilenced && window().WaveOutMuteButton->State());
    boxes.answerNext(MessageAnswer::No);
    window().RecButtonClick();
    ASSERT_TRUE(window().Recording);
    EXPECT_FALSE(window().WaveOutMuteButton->State()) << "a recording starts unmuted";
    for (int i = 0; i < 200 && window().Recording; ++i) step();
    finishTake();
    EXPECT_TRUE(window().WaveOutMuteButton->State() && window().VoiceSilenced);

    emit window().MidiOutMuteButton->OnChange();
    EXPECT_TRUE(window().MidiMuted && window().TrackMix[0].Mute);
    EXPECT_FALSE(window().VoiceSilenced) << "the song's mute takes the voice's back";
    emit window().MidiOutMuteButton->OnChange();
    EXPECT_FALSE(window().MidiMuted || window().TrackMix[0].Mute);
}

// Guards against a Clear that leaves the take on disk or a performance to save.
TEST_F(RecordingTest, ClearDeletesTheTakeOnYesOnly) {
    open();
    recordATake();
    const std::string take = window().PendingWaveFile;
    boxes.answerNext(MessageAnswer::No);
    window().ClearButtonClick();
    EXPECT_TRUE(std::filesystem::exists(take));
    boxes.answerNext(MessageAnswer::Yes);
    window().ClearButtonClick();
    EXPECT_FALSE(std::filesystem::exists(take));
    EXPECT_TRUE(window().PendingWaveFile.empty() && window().RecordingFile.empty());
    EXPECT_FALSE(window().PerformanceUnsaved || window().ClearButton->Enabled() ||
                 window().SavePfcButton->Enabled());
    EXPECT_EQ(window().FileStatusDisplay->FileLoaded(), TFileStatusBox::midiKaraoke);
}

// Guards against a voice that starts without its offset (or gets it before it plays), at a
// volume other than its slider's, or that does not follow the song through the transport.
TEST_F(RecordingTest, TheVoiceFollowsTheTransportWithItsOffset) {
    open();
    recordATake();
    window().OffsetForm->SetPosition(2);
    window().WaveOutSlider->SetCurrentPos(63);
    audio::setVirtualMixerValues("wave", {100, 100});
    std::vector<std::string> calls;
    auto& a = window().Audio;
    const auto play = a.AudioPlayFile;
    a.AudioPlayFile = [&](std::uint32_t w, const char* file) { calls.push_back("play"); return play(w, file); };
    a.UpdateOffsetForPlayBack = [&](std::int32_t u) { calls.push_back("offset " + std::to_string(u)); return 1; };
    a.AudioPause = [&] { calls.push_back("pause"); return 0; };
    // The voice goes to the second after the song's present time.
    const auto moved = [&](const std::string& name, std::int32_t seconds) {
        std::int32_t m = 0, s = 0;
        window().Sequencer.CallGetTime(window().Handle(), &m, &s);
        calls.push_back(name + (seconds == m * 60 + s + 1 && seconds > 1 ? " to song" : " elsewhere"));
        return 0;
    };
    a.AudioRewind = [&](std::int32_t s) { return moved("rewind", s); };
    a.AudioForward = [&](std::int32_t s) { return moved("forward", s); };
    window().PlayButtonClick();
    EXPECT_EQ(mixerValue("wave"), 65535u);
    step(30);
    window().PauseButtonClick();
    window().RewindButtonClick();  // paused: nothing moves
    window().PlayButtonClick();    // resumes the voice with the song
    window().RewindButtonClick();
    window().FForwardButtonClick();
    EXPECT_EQ(calls, (std::vector<std::string>{"play", "offset -2", "pause", "pause", "play", "rewind to song",
                                               "offset -2", "forward to song", "offset -2"}));
}

// Guards against the close of a voice stopped earlier ending the voice started since, which
// would leave it playing after Stop.
TEST_F(RecordingTest, OnlyTheVoicesOwnEndStopsIt) {
    open();
    recordATake();
    window().PlayButtonClick();
    window().StopButtonClick();
    window().PlayButtonClick();
    window().PumpMessages();  // the first voice's close arrives now
    EXPECT_TRUE(window().VoicePlaying);
    for (int i = 0; i < 100 && window().VoicePlaying; ++i) step();
    EXPECT_FALSE(window().VoicePlaying) << "the voice's own end is seen";
    EXPECT_TRUE(window().SongPlaying) << "the song goes on after the one-second voice";
}

}  // namespace
