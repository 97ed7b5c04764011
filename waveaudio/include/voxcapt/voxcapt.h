#pragma once

// The wave library's exported interface: one voice playback stream and one recording with
// its live monitor per process, and the mixing of two takes. Flat C functions with 32-bit
// arguments and results (window messages carry pointer-sized parameters), linked by the
// program (libvoxcapt.so).
//
// Every function runs on the caller's window thread. The devices only post notifications
// (0x3BB..0x3C0) to the window given at the start; the window hands each one back through
// ProcessWavePlayMsg or ProcessWaveRecMsg, and all refilling and writing happens inside
// those calls. Failures show their own message boxes; nothing ever throws.

#include <stdint.h>

#include <functional>
#include <optional>
#include <string>

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
VOXCAPT_API int32_t AudioSetEchoDelay(int32_t milliseconds);
VOXCAPT_API int32_t ProcessWavePlayMsg(uint32_t message, uintptr_t wParam, intptr_t lParam);
VOXCAPT_API int32_t AudioLoadFile(const char* path);

// Recording.
VOXCAPT_API int32_t AudioStartRecord(uint32_t window, const char* target, int32_t samplesPerSec,
                                     int32_t channels, int32_t bitsPerSample, int32_t bufferBytes,
                                     int32_t monitor, int32_t failWithoutMonitor);
VOXCAPT_API int32_t AudioStopRecord();
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
    // Times the stream ran dry while more than the voice's last buffer was still to play
    // (running dry after that is the voice's end): a machine too busy to play it steadily.
    uint64_t underrunsBeforeTheEnd = 0;
};
PlaybackView playbackView();
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
RecordingView recordingView();
// Entries the echo line's ring holds (0 without one).
uint32_t echoRingEntries();

}  // namespace voxcapt
