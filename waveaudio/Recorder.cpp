// Voice recording: the default input captured into a temporary wave file, metered, and
// played back at once through the monitor with the echo line, then renamed to its target
// once the last buffer is back.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "State.h"
#include "platform/guarded.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "voxcapt/voxcapt.h"

namespace voxcapt {
namespace {

FreeSpaceProbe g_freeSpaceProbe;  // tests: stands in for the file system

}  // namespace

void setFreeSpaceProbe(FreeSpaceProbe probe) { g_freeSpaceProbe = std::move(probe); }

namespace detail {
namespace {

// Largest buffer a caller may ask for: far beyond any sensible latency, and small enough
// that sixteen of them stay a modest amount of memory.
constexpr std::int32_t kMaxBufferBytes = 4 * 1024 * 1024;
// Capture stops when less than this much room would be left beside the take.
constexpr std::uint64_t kDiskReserveKb = 100;

// Free room for the take, in kilobytes, as if the take so far were not on the disk yet:
// the measure the guard compares the take's size with. Unknown room never stops a take.
std::uint64_t measureFreeKb(const std::string& takePath, std::uint64_t takeBytes) {
    const std::string folder = platform::folderOf(takePath);
    const std::optional<std::uint64_t> free =
        g_freeSpaceProbe ? g_freeSpaceProbe(folder) : platform::freeDiskSpace(folder);
    if (!free) {
        return UINT64_MAX;
    }
    return (*free + takeBytes) / 1024;
}

void freeInputBuffers(Recording& rec) {
    freeBuffers(rec.buffers, rec.device, audio::waveInUnprepareHeader);
    rec.inputCount = 0;
}

void freeMonitorBuffers(Monitor& monitor) {
    freeBuffers(monitor.buffers, monitor.device, audio::waveOutUnprepareHeader);
    monitor.count = 0;
}

void closeMonitor(State& s) {
    Monitor& monitor = s.monitor;
    if (monitor.device != 0) {
        audio::waveOutReset(monitor.device);
    }
    freeMonitorBuffers(monitor);
    if (monitor.device != 0) {
        audio::waveOutClose(monitor.device);
        monitor.device = 0;
    }
    s.echo.reset();
}

enum class MonitorOpen { Ok, Failed, WithoutEcho };

// The monitor is a live output: beyond the three buffers feedMonitor gathers before it
// starts (and the one being written), the oldest captured audio waiting to be heard is
// dropped, so that a stall or an underrun never adds to the singer's delay for the rest
// of the take.
std::uint32_t monitorLeadBytes(const Recording& rec) { return 3 * rec.bufferBytes; }

MonitorOpen openMonitor(State& s) {
    Recording& rec = s.rec;
    Monitor& monitor = s.monitor;
    monitor.count = allocateBuffers(monitor.buffers, rec.bufferBytes);
    if (monitor.count == 0) {
        errorBox("Cannot Allocate Enough Play Buffers");
        return MonitorOpen::Failed;
    }
    if (audio::waveOutQuery(audio::kWaveMapper, rec.format) != audio::WaveError::Ok ||
        audio::waveOutOpen(&monitor.device, audio::kWaveMapper, rec.format, rec.window,
                              audio::kWaveOutMonitorLatencyMs, monitorLeadBytes(rec)) != audio::WaveError::Ok) {
        monitor.device = 0;
        freeMonitorBuffers(monitor);
        return MonitorOpen::Failed;
    }
    for (int i = 0; i < monitor.count; ++i) {
        audio::WaveHeader& header = monitor.buffers[static_cast<std::size_t>(i)]->header;
        if (audio::waveOutPrepareHeader(monitor.device, &header) != audio::WaveError::Ok) {
            ownedBox(rec.window, "Cannot Prepare Play Buffers");
            closeMonitor(s);
            return MonitorOpen::Failed;
        }
        header.dwFlags.store(audio::kWaveHeaderPrepared, std::memory_order_release);
    }
    s.echo = EchoLine::create(rec.format);
    if (!s.echo) {
        errorBox("Cannot Allocate Echo Buffer");
        closeMonitor(s);
        return MonitorOpen::WithoutEcho;
    }
    return MonitorOpen::Ok;
}

bool monitorRunning(const State& s) {
    return s.monitor.requested && !s.monitor.unavailable && s.monitor.device != 0;
}

// Where a finished take is, and whether that is its target.
struct Placement {
    std::string where;
    bool atTarget = false;
};

// Puts the take in the target's place. The temporary file lives beside the target, so
// this is one rename that replaces an old take at once; across file systems (a target
// folder that refused the temporary file) the take is copied, through a copy beside the
// target, so that a copy cut short leaves an old take of that name as it was. When both
// fail the take stays under its temporary name rather than being lost.
Placement placeTake(const std::string& temporary, const std::string& target) {
    if (std::rename(temporary.c_str(), target.c_str()) == 0) {
        return {target, true};
    }
    platform::ReplacementFile copy(target, platform::ReplacementFile::Start::Empty);
    if (copy.valid() && platform::copyFile(temporary, copy.path()) && copy.commit()) {
        platform::removeFile(temporary);
        return {target, true};
    }
    return {temporary, false};
}

// The full path of a file, for a message that must let the user find it from anywhere.
std::string fullPath(const std::string& path) {
    std::error_code failed;
    const std::filesystem::path full = std::filesystem::absolute(path, failed);
    return failed ? path : full.lexically_normal().string();
}

// Finishes the take file and puts it in its place; false, with the text saying where the
// take now is, when either failed. A take that could not be completed on disk stays under
// its temporary name: it must not replace an older take of the target's name.
bool keepTake(TakeFile& file, const std::string& target, Placement& placed, std::string& failure) {
    const bool completed = file.finish();
    const std::string temporary = file.release();
    if (temporary.empty()) {
        return true;
    }
    if (!completed) {
        placed = {fullPath(temporary), false};
        failure = "The recording could not be completed on disk. What was written is kept as " +
                  placed.where + ".";
        return false;
    }
    placed = placeTake(temporary, target);
    if (!placed.atTarget) {
        placed.where = fullPath(temporary);
        failure = "The recording could not be saved as " + fullPath(target) + ". It is kept as " +
                  placed.where + ".";
        return false;
    }
    return true;
}

void finishRecording(State& s) {
    Recording& rec = s.rec;
    freeInputBuffers(rec);
    if (rec.device != 0) {
        audio::waveInClose(rec.device);
        rec.device = 0;
    }
    if (monitorRunning(s)) {
        closeMonitor(s);
    }
    rec.active = false;
    rec.recording = false;
    s.takeResult = rec.cutShort ? 2 : 1;
    s.takePath.clear();
    if (rec.noFile) {
        return;
    }
    Placement placed;
    std::string failure;
    if (!keepTake(rec.file, rec.target, placed, failure)) {
        s.takeResult = 0;
        deferErrorBox(failure);
    }
    s.takePath = placed.where;
}

// Stops capturing: every queued buffer comes back through its data notification, and the
// recording finishes when the last one has.
void stopCapture(Recording& rec) {
    rec.recording = false;
    if (rec.device != 0) {
        audio::waveInReset(rec.device);
    }
}

// Counts a buffer that came back for good; the last one finishes the recording.
void finishIfAllBack(State& s) {
    Recording& rec = s.rec;
    if (++rec.returned >= static_cast<std::uint32_t>(rec.inputCount) && !rec.recording) {
        finishRecording(s);
    }
}

void releaseFailedStart(State& s) {
    Recording& rec = s.rec;
    if (rec.device != 0) {
        audio::waveInReset(rec.device);
    }
    freeInputBuffers(rec);
    if (rec.device != 0) {
        audio::waveInClose(rec.device);
        rec.device = 0;
    }
    if (s.monitor.device != 0) {
        closeMonitor(s);
    }
    rec.file.abandon();
    rec.active = false;
    rec.recording = false;
}

std::int32_t startRecording(platform::WindowHandle window, const std::string& target,
                            std::int32_t rate, std::int32_t channels, std::int32_t bits,
                            std::int32_t bufferBytes, bool monitor, bool failWithoutMonitor) {
    State& s = state();
    Recording& rec = s.rec;
    // One recording at a time: a second start would orphan the first take.
    if (rec.active) {
        return 0;
    }
    rec.noFile = target.empty();
    s.monitor.requested = monitor;
    s.monitor.unavailable = false;
    rec.target = target;
    rec.window = window;

    audio::WaveFormat format;
    format.formatTag = audio::kWaveFormatPcm;
    format.channels = static_cast<std::uint16_t>(std::clamp(channels, 0, 0xFFFF));
    format.samplesPerSec = static_cast<std::uint32_t>(std::max(rate, 0));
    format.bitsPerSample = static_cast<std::uint16_t>(std::clamp(bits, 0, 0xFFFF));
    format.blockAlign = static_cast<std::uint16_t>(format.channels * (format.bitsPerSample / 8));
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    format.cbSize = 0;
    rec.format = format;
    const audio::WaveError query = channels <= 0 || rate <= 0 || bits <= 0
                                       ? audio::WaveError::BadFormat
                                       : audio::waveInQuery(audio::kWaveMapper, format);
    if (query == audio::WaveError::NoSoundServer) {
        errorBox(kNoSoundServerText);
        return 0;
    }
    if (query != audio::WaveError::Ok) {
        errorBox("Your device is unable to record at the rate or mode you have selected.  Please check your manual.");
        return 0;
    }

    rec.bufferBytes = static_cast<std::uint32_t>(bufferBytes);
    rec.inputCount = bufferBytes >= format.blockAlign && bufferBytes <= kMaxBufferBytes
                         ? allocateBuffers(rec.buffers, rec.bufferBytes)
                         : 0;
    if (rec.inputCount < 2) {
        freeInputBuffers(rec);
        errorBox("Unable to allocate sufficient memory for record operation.  Please exit from other applications and try again.");
        return 0;
    }

    if (!rec.noFile) {
        // Beside the target, so that finishing is one rename on one file system and the
        // disk guard watches the disk the take goes to.
        if (!rec.file.create(platform::folderOf(target), "WW", format) &&
            !rec.file.create(platform::tempFolder(), "WW", format)) {
            freeInputBuffers(rec);
            errorBox("Unable to open file for temporary storage of record data.  Please exit from other applications and try again.");
            return 0;
        }
    }

    if (const audio::WaveError opened = audio::waveInOpen(&rec.device, audio::kWaveMapper, format, window);
        opened != audio::WaveError::Ok) {
        rec.device = 0;
        freeInputBuffers(rec);
        rec.file.abandon();
        errorBox(opened == audio::WaveError::NoSoundServer
                     ? kNoSoundServerText
                     : "Your device is unavailable or unable to record .  Please check your installation.");
        return 0;
    }

    if (s.tap != nullptr) {
        s.tap->restart(format);
        audio::waveInSetTap(rec.device, s.tap);
    }

    if (monitor) {
        const MonitorOpen opened = openMonitor(s);
        if (opened == MonitorOpen::WithoutEcho) {
            s.monitor.unavailable = true;
        } else if (opened == MonitorOpen::Failed) {
            if (failWithoutMonitor) {
                releaseFailedStart(s);
                return 0;
            }
            s.monitor.unavailable = true;
            errorBox("Either your audio device is busy or Your sound card does not support full duplex operation.This means that you will not be able to listen to your karaoke file as you record your voice. However, you will be able to play back your performance without difficulty.");
        }
    }

    for (int i = 0; i < rec.inputCount; ++i) {
        audio::WaveHeader& header = rec.buffers[static_cast<std::size_t>(i)]->header;
        if (audio::waveInPrepareHeader(rec.device, &header) != audio::WaveError::Ok) {
            releaseFailedStart(s);
            errorBox("Unable to start recording.");
            return 0;
        }
        header.dwFlags.store(audio::kWaveHeaderPrepared, std::memory_order_release);
        audio::waveInAddBuffer(rec.device, &header);
    }

    rec.freeKb = rec.noFile ? UINT64_MAX : measureFreeKb(rec.file.path(), rec.file.fileSize());
    s.monitor.preRoll = 3;
    s.monitor.index = 0;
    rec.returned = 0;
    rec.peaks = {};

    if (audio::waveInStart(rec.device) != audio::WaveError::Ok) {
        releaseFailedStart(s);
        errorBox("Unable to start recording.");
        return 0;
    }
    rec.active = true;
    rec.recording = true;
    rec.cutShort = false;
    s.takeResult = -1;
    s.takePath.clear();
    s.monitor.activeMarker = true;
    return 1;
}

void feedMonitor(State& s, const std::uint8_t* captured, std::uint32_t bytes) {
    Monitor& monitor = s.monitor;
    monitor.index = monitor.index >= monitor.count ? 1 : monitor.index + 1;
    if (!monitorRunning(s)) {
        return;
    }
    Buffer& buffer = *monitor.buffers[static_cast<std::size_t>(monitor.index - 1)];
    // A buffer the device still plays is not overwritten under it: the singer misses this
    // piece of the monitor rather than hearing it torn.
    if ((buffer.header.dwFlags.load(std::memory_order_acquire) & audio::kWaveHeaderInQueue) != 0) {
        return;
    }
    const std::uint32_t length = std::min(bytes, s.rec.bufferBytes);
    if (monitor.voiceAudible) {
        std::memcpy(buffer.data.get(), captured, length);
    } else {
        std::memset(buffer.data.get(), 0, length);
    }
    buffer.header.dwBufferLength = length;
    if (s.echo && s.echoDelayMs > 10) {
        s.echo->apply(reinterpret_cast<std::uint8_t*>(buffer.data.get()), length, s.rec.format,
                      s.echoDelayMs);
    }
    if (monitor.preRoll > 0) {
        // Three buffers are gathered before the first is played, against scheduling jitter.
        if (--monitor.preRoll == 0) {
            for (int i = 0; i < std::min(3, monitor.count); ++i) {
                audio::waveOutWrite(monitor.device, &monitor.buffers[static_cast<std::size_t>(i)]->header);
            }
        }
        return;
    }
    audio::waveOutWrite(monitor.device, &buffer.header);
}

void bufferFilled(audio::WaveHeader* header) {
    State& s = state();
    Recording& rec = s.rec;
    const int slot = slotOf(rec.buffers, header);
    if (!rec.active || slot < 0 ||
        (header->dwFlags.load(std::memory_order_acquire) & audio::kWaveHeaderInQueue) != 0) {
        return;
    }
    const std::uint32_t bytes = std::min(header->dwBytesRecorded, rec.bufferBytes);
    auto* data = reinterpret_cast<std::uint8_t*>(header->lpData);
    measurePeaks(data, bytes, rec.format.channels, rec.format.bitsPerSample, rec.peaks);
    feedMonitor(s, data, bytes);
    if (s.recordSilence) {
        std::memset(data, 0, bytes);
    }
    if (!rec.noFile && rec.recording) {
        if (!rec.file.append(data, bytes)) {
            // The take so far is kept: capture stops and the file is finished as usual
            // with what reached the disk.
            stopCapture(rec);
            rec.cutShort = true;
            deferErrorBox("Error saving recording to disk");
        } else {
            if (rec.file.patchIfDue()) {
                rec.freeKb = measureFreeKb(rec.file.path(), rec.file.fileSize());
            }
            const std::uint64_t sizeKb = rec.file.fileSize() / 1024;
            if (sizeKb <= rec.freeKb && rec.freeKb - sizeKb < kDiskReserveKb) {
                stopCapture(rec);
                rec.cutShort = true;
                deferErrorBox("Hard Disk Full!");
            }
        }
    }
    // A device whose stream has failed takes no buffer back: this one is home for good,
    // like those its failure returns.
    if (rec.recording && audio::waveInAddBuffer(rec.device, header) == audio::WaveError::Ok) {
        return;
    }
    finishIfAllBack(s);
}

std::int32_t recordLevels(std::int32_t* left, std::int32_t* right) {
    const Recording& rec = state().rec;
    const unsigned bits = rec.format.bitsPerSample;
    if (left != nullptr) {
        *left = rec.recording ? peakLevel(rec.peaks.left, bits) : 0;
    }
    if (right != nullptr) {
        *right = rec.recording ? peakLevel(rec.peaks.right, bits) : 0;
    }
    return 0;
}

}  // namespace

void closeRecordingNow() {
    State& s = state();
    if (!s.rec.active) {
        return;
    }
    stopCapture(s.rec);
    finishRecording(s);
}

void recordingStreamFailed(audio::WaveInHandle device, audio::WaveError error) {
    State& s = state();
    Recording& rec = s.rec;
    if (!rec.active || device != rec.device || !rec.recording) {
        // After a stop the take is finishing anyway: the failure returns its buffers.
        return;
    }
    stopCapture(rec);
    rec.cutShort = true;
    deferErrorBox("The recording stopped: the microphone's stream failed (" +
                  streamFailureText(error) + "). What was recorded so far is kept.");
    // Every buffer may be back already (the device had none queued when it failed).
    if (rec.returned >= static_cast<std::uint32_t>(rec.inputCount)) {
        finishRecording(s);
    }
}

void monitorStreamFailed(audio::WaveOutHandle device, audio::WaveError error) {
    State& s = state();
    if (device == 0 || device != s.monitor.device) {
        return;
    }
    closeMonitor(s);
    s.monitor.unavailable = true;
    deferErrorBox("You can no longer hear yourself: the monitor's stream failed (" +
                  streamFailureText(error) + "). The recording goes on.");
}

bool keepTakeAtExit(State& s) {
    Recording& rec = s.rec;
    if (!rec.active) {
        return false;
    }
    rec.active = false;
    rec.recording = false;
    if (!rec.noFile) {
        Placement placed;
        std::string failure;
        if (!keepTake(rec.file, rec.target, placed, failure)) {
            // Nobody is left to answer a box.
            std::fprintf(stderr, "ERROR!: %s\n", failure.c_str());
        }
    }
    return true;
}

}  // namespace detail

void setCaptureTap(audio::CaptureTap* tap) {
    auto& s = detail::state();
    if (tap == s.tap) {
        return;
    }
    if (s.rec.device != 0) {
        if (tap != nullptr) {
            tap->restart(s.rec.format);
        }
        audio::waveInSetTap(s.rec.device, tap);
    }
    s.tap = tap;
}

RecordingView recordingView() {
    const auto& s = detail::state();
    return {s.rec.active,      s.rec.recording,  s.rec.file.path(), s.rec.file.fileSize(),
            s.rec.inputCount,  s.monitor.count,  s.monitor.device != 0,   s.rec.device,
            s.monitor.device};
}

}  // namespace voxcapt

using platform::guarded;
using voxcapt::detail::state;

// Starts recording the default input into `target` (empty: meter and monitor only, no
// file), in the format given, with buffers of `bufferBytes`; `monitor` plays the voice back
// at once with the echo, and `failWithoutMonitor` makes a monitor that cannot open fail the
// start. Window thread. 1 when recording started, 0 otherwise (a box said why).
int32_t AudioStartRecord(uint32_t window, const char* target, int32_t samplesPerSec,
                         int32_t channels, int32_t bitsPerSample, int32_t bufferBytes,
                         int32_t monitor, int32_t failWithoutMonitor) {
    return guarded(0, [&] {
        return voxcapt::detail::startRecording(window, target != nullptr ? target : "",
                                               samplesPerSec, channels, bitsPerSample,
                                               bufferBytes, monitor != 0, failWithoutMonitor != 0);
    });
}

// Stops capturing; the take is finished and renamed once the last buffer has come back
// (AudioGetRecordResult then says how that went). Clears a pending playback offset. Window
// thread. Always 1.
int32_t AudioStopRecord() {
    return guarded(1, [] {
        auto& s = state();
        if (s.rec.active && voxcapt::detail::debugging()) {
            std::fprintf(stderr, "take: %llu monitor underruns, %llu input overruns\n",
                         static_cast<unsigned long long>(
                             s.monitor.device != 0 ? audio::waveOutUnderruns(s.monitor.device) : 0),
                         static_cast<unsigned long long>(audio::waveInOverruns(s.rec.device)));
        }
        if (s.rec.active) {
            voxcapt::detail::stopCapture(s.rec);
        }
        s.pendingOffset = 0;
        s.offsetMode = 0;
        return 1;
    });
}

// Handles an input notification the window took from its queue: a filled buffer is
// written, a failed stream stops the recording. Window thread. Always 0.
int32_t ProcessWaveRecMsg(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return guarded(0, [&] {
        if (message == audio::kWaveInDataMessage) {
            voxcapt::detail::bufferFilled(reinterpret_cast<audio::WaveHeader*>(lParam));
        } else if (message == audio::kWaveInErrorMessage) {
            voxcapt::detail::recordingStreamFailed(static_cast<audio::WaveInHandle>(wParam),
                                                   static_cast<audio::WaveError>(lParam));
        }
        voxcapt::detail::showDeferredBoxes();
        return 0;
    });
}

// How the last recording ended, and where its take is. Window thread. 1 complete, 2
// complete but cut short by the library, 0 kept elsewhere or incomplete, -1 none yet.
int32_t AudioGetRecordResult(char* path, int32_t pathBytes) {
    return guarded(-1, [&] {
        const auto& s = state();
        if (path != nullptr && pathBytes > 0) {
            const std::size_t length =
                std::min(s.takePath.size(), static_cast<std::size_t>(pathBytes) - 1);
            std::memcpy(path, s.takePath.data(), length);
            path[length] = '\0';
        }
        return s.takeResult;
    });
}

// The recording levels, 0..16 each, of the last captured buffer; 0 and 0 unless capturing.
// Window thread. Always 0.
int32_t AudioGetWaveRecLevels(int32_t* left, int32_t* right) {
    return guarded(0, [&] { return voxcapt::detail::recordLevels(left, right); });
}

// The same as AudioGetWaveRecLevels.
int32_t GetWaveRecLevels(int32_t* left, int32_t* right) { return AudioGetWaveRecLevels(left, right); }

// Nonzero: the monitor carries the voice; zero: it carries silence (the file still gets
// the voice). Window thread. Returns the flag.
int32_t AudioSuppressWave(int32_t flag) {
    return guarded(flag, [&] {
        state().monitor.voiceAudible = flag != 0;
        return flag;
    });
}

// Nonzero: the file receives silence while the meters and the monitor still get the voice.
// Window thread. Returns the flag.
int32_t AudioRecordSilence(int32_t flag) {
    return guarded(flag, [&] {
        state().recordSilence = flag != 0;
        return flag;
    });
}
