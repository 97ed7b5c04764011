#pragma once

// Performance files: a song exactly as the song writer emits it, followed by one chunk
// "Rvpf" (size little-endian) holding the recorded voice, a complete wave file, byte for
// byte, and a zero pad byte when its size is odd. Where the chunk starts is not stored: it
// is the song's length, which the reader learns from the split file of the same song (the
// song writer never changes a byte count, so both have the same length).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "SongWriter.h"
#include "audio/wave.h"

namespace songfile {

inline constexpr char kVoiceChunkId[4] = {'R', 'v', 'p', 'f'};
constexpr std::uint64_t kVoiceChunkHeaderBytes = 8;

// The song part: the split file and the settings the song writer burns into it (the
// arguments of WriteEditedSong; 64 entries in each table).
struct PerformanceSong {
    std::string splitFile;
    unsigned tempo = 120;
    const std::int16_t* instruments = nullptr;
    int key = 0;
    const std::int16_t* velocities = nullptr;
    TempoScaling scale;  // every tempo event scaled instead of set to `tempo` when given
};

enum class PerformanceWriteStep {
    None,           // written
    OpenVoice,      // the recorded wave cannot be read
    VoiceTooBig,    // the wave does not fit a chunk's 32-bit size
    PrepareTarget,  // no new version of the target can be made beside it (read-only, folder)
    WriteSong,      // the song writer failed
    WriteVoice,     // the chunk could not be written in full (a full disk)
    Finish,         // the new version did not reach the disk
    Rename,         // the new version could not take the target's place
};

struct PerformanceWriteResult {
    PerformanceWriteStep failedStep = PerformanceWriteStep::None;
    std::string message;          // what failed, naming the file; empty when written
    std::uint64_t songBytes = 0;  // the song part: where the chunk starts
    std::uint32_t voiceBytes = 0;
    bool ok() const { return failedStep == PerformanceWriteStep::None; }
};

// GUI thread. Writes the song and the wave file at `voice` to `target` whole or not at all:
// everything goes into a new file beside the target, which is flushed and renamed over it
// only once complete. On failure the target is exactly as before (a missing one stays
// missing) and the voice is never touched.
PerformanceWriteResult WritePerformance(const PerformanceSong& song, const std::string& voice,
                                        const std::string& target);

enum class VoiceReadOutcome {
    Voice,        // the chunk holds a readable wave file, extracted
    CutShort,     // the file ends inside the chunk; what is there is a readable wave
    NoChunk,      // nothing at the offset, or not an "Rvpf" chunk (a plain song renamed)
    NotWave,      // the chunk's bytes are not a readable wave file
    CannotOpen,   // the performance file cannot be read
    CannotWrite,  // no temporary file could be made or written
};

struct VoiceReadResult {
    VoiceReadOutcome outcome = VoiceReadOutcome::NoChunk;
    // The extracted wave (Voice, CutShort); the caller owns and deletes it.
    std::string voiceFile;
    std::uint32_t declaredBytes = 0;  // the chunk's size field
    std::uint64_t heldBytes = 0;      // the chunk's bytes the file really holds
    audio::WaveFormat format{};       // of the extracted wave
    std::uint32_t dataBytes = 0;      // its sound data, as far as held
    std::string message;              // why there is no voice, naming the file
    bool hasVoice() const {
        return outcome == VoiceReadOutcome::Voice || outcome == VoiceReadOutcome::CutShort;
    }
};

// GUI thread. The voice chunk at `waveOffset` of `performance` into a new file
// "<folder>/<prefix>XXXXXX" (readable by the user only). The chunk's size is never trusted:
// the copy stops at the end of the file. Only a readable wave file is left behind.
VoiceReadResult ExtractPerformanceVoice(const std::string& performance, std::uint64_t waveOffset,
                                        const std::string& folder, const std::string& prefix);

// Any thread. The song part's length as its own chunks measure it: the header chunk and as
// many track chunks as the header counts, each within the file; nothing when the file does
// not start as a Standard MIDI file or a track chunk is cut off.
std::optional<std::uint64_t> MeasureSongPart(const std::string& path);

struct PerformanceInfo {
    std::string message;      // not empty: the file could not be examined
    std::uint64_t fileBytes = 0;
    std::optional<std::uint64_t> songBytes;  // MeasureSongPart
    std::uint64_t waveOffset = 0;            // where the player looks for the voice
    VoiceReadResult voice;                   // voiceFile is always empty here
    double seconds() const;
};

// GUI thread (splits the file as song loading does). Examines a performance file without
// keeping anything: temporary files go into the temporary folder and are removed.
PerformanceInfo ProbePerformance(const std::string& path);

}  // namespace songfile
