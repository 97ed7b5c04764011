#pragma once

// The wave library's exported interface: one voice playback stream and one recording with
// its live monitor per process, and the mixing of two takes. Flat C functions with 32-bit
// arguments and results (window messages carry pointer-sized parameters), linked by the
// program (libvoxcapt.so).
//
// Every function runs on the caller's window thread. The devices only post notifications
// (0x3BB..0x3C2) to the window given at the start; the window hands each one back through
// ProcessWavePlayMsg (0x3BB..0x3BD and the output error 0x3C1) or ProcessWaveRecMsg
// (0x3BE..0x3C0 and the input error 0x3C2), and all refilling and writing happens inside
// those calls. Failures show their own message boxes; nothing ever throws. A failure met
// inside a notification is acted upon first (capture stopped, stream closed) and its box
// shown once that notification is handled, so the next ones, taken from the queue by the
// box's own event loop, find it dealt with.
//
// A stream that fails (the sound server went away, a device was removed) stops what it
// carried with a box naming what happened: playback ends (its close notification follows,
// as at the end of the voice), a recording keeps what was recorded and is finished as
// after AudioStopRecord, a recording's monitor closes while the take goes on.

#include <stdint.h>

#include <functional>
#include <optional>
#include <string>

namespace audio {
class CaptureTap;
}

#define VOXCAPT_API extern "C" __attribute__((visibility("default")))

// Playback.
VOXCAPT_API int32_t AudioPlayFile(uint32_t window, const char* path);
VOXCAPT_API int32_t AudioStopPlaying();
VOXCAPT_API int32_t AudioPause();
VOXCAPT_API int32_t AudioResume();
VOXCAPT_API int32_t AudioRewind(int32_t seconds);
VOXCAPT_API int32_t AudioForward(int32_t seconds);
VOXCAPT_API int32_t AudioGetWavePlayLevels(int32_t* left, int32_t* right);
VOXCAPT_API int32_t AudioPlaySilenceWave(int32_t flag);
VOXCAPT_API int32_t UpdateOffsetForPlayBack(int32_t units);
// Moves the voice that plays later (milliseconds > 0) or earlier (< 0) against the song
// at its next refill, by silence or by skipping voice; asked before AudioPlayFile, from
// the voice's very start. The window lines a performance's voice up with the song as
// they are heard. Always 0.
VOXCAPT_API int32_t AudioShiftPlayback(int32_t milliseconds);
VOXCAPT_API int32_t AudioSetEchoDelay(int32_t milliseconds);
VOXCAPT_API int32_t ProcessWavePlayMsg(uint32_t message, uintptr_t wParam, intptr_t lParam);
VOXCAPT_API int32_t AudioLoadFile(const char* path);

// Recording.
VOXCAPT_API int32_t AudioStartRecord(uint32_t window, const char* target, int32_t samplesPerSec,
                                     int32_t channels, int32_t bitsPerSample, int32_t bufferBytes,
                                     int32_t monitor, int32_t failWithoutMonitor);
VOXCAPT_API int32_t AudioStopRecord();
// How the last recording ended. AudioStopRecord returns before the take is finished, so a
// caller that must know whether its take is safe asks here once the recording's input
// device has closed (its close notification, 0x3BF, is handed back after the take was put
// in place). 1: the take is complete under its target name. 2: it is complete under its
// target name but ended early, stopped by the library (a full disk, a failed write, a
// failed input stream; a box said which). 0: it could not be completed on disk or put in
// its place; a box named where it is kept. -1: a recording runs, or none has ended yet.
// `path` (when not null) receives where the take is, cut to pathBytes - 1 bytes and
// terminated: the target, the place it was kept instead, or empty for a recording without
// a file.
VOXCAPT_API int32_t AudioGetRecordResult(char* path, int32_t pathBytes);
VOXCAPT_API int32_t ProcessWaveRecMsg(uint32_t message, uintptr_t wParam, intptr_t lParam);
VOXCAPT_API int32_t AudioGetWaveRecLevels(int32_t* left, int32_t* right);
VOXCAPT_API int32_t GetWaveRecLevels(int32_t* left, int32_t* right);
VOXCAPT_API int32_t AudioSuppressWave(int32_t flag);
VOXCAPT_API int32_t AudioRecordSilence(int32_t flag);

// Mixing.
VOXCAPT_API int32_t AudioMixFiles(const char* first, const char* second, const char* output);

namespace voxcapt {

// Tests: forgets everything, as at the process's start (closing what is open).
void resetForTest();
// Tests: after `count` more buffer or echo-line allocations, every further one fails as
// an exhausted memory would; nothing switches the fault off.
void setAllocationFaultAfter(std::optional<int> count);
// Tests: what the disk-space guard asks instead of the file system (bytes free in the
// folder given); an empty function restores the real question.
using FreeSpaceProbe = std::function<std::optional<uint64_t>(const std::string& folder)>;
void setFreeSpaceProbe(FreeSpaceProbe probe);

// What tests look at.
struct PlaybackView {
    bool playing = false;
    bool paused = false;
    uint64_t position = 0;
    uint32_t dataSize = 0;
    uint32_t bufferSize = 0;
    int allocated = 0;
    int queued = 0;
    int32_t pendingOffset = 0;
    int offsetMode = 0;
    uint32_t device = 0;  // the platform's handle of the output
    // Times the stream ran dry while more than the voice's last buffer was still to play
    // (running dry after that is the voice's end): a machine too busy to play it steadily.
    uint64_t underrunsBeforeTheEnd = 0;
};
// Also the window's: whether a voice still plays when an output's close comes back.
__attribute__((visibility("default"))) PlaybackView playbackView();
struct RecordingView {
    bool active = false;     // from a successful start until the recording is finished
    bool recording = false;  // capturing and writing
    std::string temporaryName;
    uint64_t fileSize = 0;
    int inputCount = 0;
    int monitorCount = 0;
    bool monitorOpen = false;
    uint32_t inputDevice = 0;    // the platform's handles, for counting over- and underruns
    uint32_t monitorDevice = 0;
};
// Also the window's: where a take is written while it records, for its recovery note.
__attribute__((visibility("default"))) RecordingView recordingView();
// Also the window's: a take left behind by a recorder that died while it wrote it (its
// sizes were last brought up to date up to half a second earlier) made a wave file of all
// the whole frames it holds. Any thread; touches no recording. False, the file unchanged,
// when it is not a take in the layout the recorder writes; false too when the sizes could
// not be written.
__attribute__((visibility("default"))) bool repairTake(const std::string& path);
// Also the window's: every capture from now on (a take or the monitor alone) also writes
// what it captures into `tap` as it arrives, on the device's audio thread, and a capture
// running now does so from here on; nullptr detaches. Each capture restarts the tap in
// its format. Window thread, which is also the tap's reader; the tap must outlive its
// attachment.
__attribute__((visibility("default"))) void setCaptureTap(audio::CaptureTap* tap);
// Entries the echo line's ring holds (0 without one).
uint32_t echoRingEntries();

}  // namespace voxcapt
