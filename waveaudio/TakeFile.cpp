#include "TakeFile.h"

#include <algorithm>
#include <cstring>

#include "WaveFile.h"
#include "voxcapt/voxcapt.h"

namespace voxcapt {
namespace {

constexpr auto kPatchInterval = std::chrono::milliseconds(500);

std::uint16_t get16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

// The largest data size the 32-bit RIFF size can still describe.
constexpr std::uint64_t kLargestData = 0xFFFFFFFFull - TakeFile::kHeaderBytes;

// The RIFF and data sizes of a take holding `dataBytes` of audio (at most kLargestData).
bool writeSizes(platform::FileWriter& writer, std::uint64_t dataBytes) {
    std::uint8_t riffSize[4];
    std::uint8_t dataSize[4];
    put32(riffSize, static_cast<std::uint32_t>(dataBytes + TakeFile::kHeaderBytes - 8));
    put32(dataSize, static_cast<std::uint32_t>(dataBytes));
    return writer.writeAt(4, riffSize, 4) && writer.writeAt(42, dataSize, 4);
}

}  // namespace

bool TakeFile::create(const std::string& folder, const std::string& prefix,
                      const audio::WaveFormat& format) {
    finish();
    m_path = platform::createUserFile(folder, prefix);
    if (m_path.empty()) {
        return false;
    }
    std::uint8_t header[kHeaderBytes] = {};
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, kHeaderBytes - 8);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, sizeof(audio::WaveFormat));
    audio::WaveFormat record = format;
    record.cbSize = 0;
    std::memcpy(header + 20, &record, sizeof record);
    std::memcpy(header + 38, "data", 4);
    if (!m_writer.open(m_path) || !m_writer.write(header, sizeof header)) {
        abandon();
        return false;
    }
    m_dataBytes = 0;
    m_patchedBytes = 0;
    m_patchEveryBytes = format.avgBytesPerSec / 2;
    m_patchedAt = std::chrono::steady_clock::now();
    return true;
}

bool TakeFile::append(const void* data, std::uint32_t bytes) {
    if (!m_writer.isOpen()) {
        return false;
    }
    if (!m_writer.write(data, bytes)) {
        // Whatever part of the buffer reached the disk is cut off again, so the sizes and
        // the file agree.
        m_writer.truncate(fileSize());
        return false;
    }
    m_dataBytes += bytes;
    return true;
}

bool TakeFile::patchIfDue() {
    const auto now = std::chrono::steady_clock::now();
    // The first audio is covered at once: a recorder that dies in its first half second
    // leaves a take that plays, not one whose header claims no audio.
    const bool first = m_patchedBytes == 0 && m_dataBytes != 0;
    if (!first && m_dataBytes - m_patchedBytes < m_patchEveryBytes &&
        now - m_patchedAt < kPatchInterval) {
        return false;
    }
    m_patchedAt = now;
    patchSizes();
    return true;
}

bool TakeFile::patchSizes() {
    // A RIFF size is 32 bits: a take past 4 GB keeps the largest sizes that fit.
    const bool ok = writeSizes(m_writer, std::min<std::uint64_t>(m_dataBytes, kLargestData));
    if (ok) {
        m_patchedBytes = m_dataBytes;
    }
    return ok;
}

bool TakeFile::finish() {
    if (!m_writer.isOpen()) {
        return false;
    }
    const bool patched = patchSizes();
    const bool flushed = m_writer.sync();
    // close() also reports an earlier failed write, which append() has already cut off:
    // what is on the disk is complete all the same.
    m_writer.close();
    return patched && flushed;
}

bool TakeFile::repair(const std::string& path) {
    platform::FileReader reader;
    std::uint8_t header[kHeaderBytes];
    if (!reader.open(path) || !reader.read(header, sizeof header)) {
        return false;
    }
    const std::uint64_t size = reader.size();
    reader.close();
    // Exactly the header create() writes: anything else is not ours to rewrite.
    const std::uint16_t formatTag = get16(header + 20);
    const std::uint16_t blockAlign = get16(header + 32);
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVEfmt ", 8) != 0 ||
        header[16] != sizeof(audio::WaveFormat) || header[17] != 0 || header[18] != 0 ||
        header[19] != 0 || std::memcmp(header + 38, "data", 4) != 0 ||
        formatTag != audio::kWaveFormatPcm || blockAlign == 0) {
        return false;
    }
    const std::uint64_t present = size - kHeaderBytes;
    const std::uint64_t data = std::min(present - present % blockAlign, kLargestData);
    platform::FileWriter writer;
    if (!writer.open(path)) {
        return false;
    }
    // The sizes first: should the cut fail, the header already stops before the torn frame.
    bool ok = writeSizes(writer, data);
    if (ok && data == present - present % blockAlign && present % blockAlign != 0) {
        ok = writer.truncate(kHeaderBytes + data);
    }
    ok = writer.sync() && ok;
    return writer.close() && ok;
}

bool repairTake(const std::string& path) {
    return TakeFile::repair(path);
}

std::string TakeFile::release() {
    std::string path = std::move(m_path);
    m_path.clear();
    return path;
}

void TakeFile::abandon() {
    if (m_writer.isOpen()) {
        m_writer.close();
    }
    if (!m_path.empty()) {
        platform::removeFile(m_path);
        m_path.clear();
    }
}

}  // namespace voxcapt
