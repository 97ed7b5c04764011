#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "audio/wave.h"

// The file a recording writes while it runs: a RIFF wave file with an 18-byte `fmt `
// chunk and the `data` chunk at byte 46. Its two size fields are brought up to date right
// after the first audio and then twice a second, so the file is a valid wave file at any
// moment and a crash loses at most the last second of the take.
namespace voxcapt {

class TakeFile {
public:
    static constexpr std::uint32_t kHeaderBytes = 46;

    // A take still open is the singer's work: it is finished and kept, never deleted.
    ~TakeFile() { finish(); }

    // Creates a new file named with `prefix` in `folder`, with the permissions of a file
    // the user saves, and writes the header (sizes 0).
    bool create(const std::string& folder, const std::string& prefix,
                const audio::WaveFormat& format);
    // Appends captured audio; false on a short write, after which the file holds exactly
    // what was written before it.
    bool append(const void* data, std::uint32_t bytes);
    // Writes the sizes after the first audio, and then when half a second of audio or of
    // time has passed since the last time; true when it did (the caller may then look at
    // the disk again).
    bool patchIfDue();
    // Writes the sizes, flushes and closes; false when the file could not be completed
    // (it is closed all the same and holds what reached the disk).
    bool finish();
    // Closes and deletes the file: only for a take whose start failed.
    void abandon();
    // Forgets a finished file, which now belongs to the caller; its path.
    std::string release();
    // A take whose recorder died before finish(): its sizes brought to the whole frames the
    // file holds, a partial frame at its end cut off. False, leaving the file as it was,
    // when it is not a file this class wrote; false also when the disk refused the sizes.
    static bool repair(const std::string& path);

    bool isOpen() const { return m_writer.isOpen(); }
    const std::string& path() const { return m_path; }
    std::uint64_t fileSize() const { return kHeaderBytes + m_dataBytes; }

private:
    bool patchSizes();

    platform::FileWriter m_writer;
    std::string m_path;
    std::uint64_t m_dataBytes = 0;
    std::uint64_t m_patchedBytes = 0;
    std::uint32_t m_patchEveryBytes = 0;
    std::chrono::steady_clock::time_point m_patchedAt;
};

}  // namespace voxcapt
