#include "TakeAlignment.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "WaveFile.h"
#include "platform/files.h"

namespace render {

void TakeAlignment::start(std::uint64_t songStartMicros, std::uint32_t rate) {
    m_songStart = songStartMicros;
    m_rate = rate;
    m_heads.clear();
}

// The frame captured at time X is frames + (latency + X - at) * rate; X is when the
// song's time zero reached the speakers.
void TakeAlignment::add(const AlignmentReading& reading) {
    if (m_rate == 0) {
        return;
    }
    const std::int64_t micros = reading.capture.latencyMicros +
                                static_cast<std::int64_t>(m_songStart - reading.capture.atMicros) +
                                reading.outputDelayMicros;
    const std::int64_t frames = static_cast<std::int64_t>(reading.capture.frames);
    m_heads.push_back(frames + micros * static_cast<std::int64_t>(m_rate) / 1'000'000);
}

std::optional<std::uint64_t> TakeAlignment::headFrames() const {
    if (m_heads.empty()) {
        return std::nullopt;
    }
    std::vector<std::int64_t> sorted = m_heads;
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    // A head before the take's first frame would mean the song was heard before the take
    // began, which a recording started first cannot have: nothing is dropped then.
    return static_cast<std::uint64_t>(std::max<std::int64_t>(*middle, 0));
}

bool DropTakeHead(const std::string& path, std::uint64_t frames, std::string& error) {
    platform::FileReader in;
    voxcapt::ParsedWave wave;
    if (!in.open(path)) {
        error = "cannot open " + path;
        return false;
    }
    if (const voxcapt::WaveParseError parsed = voxcapt::parseWave(in, wave);
        parsed != voxcapt::WaveParseError::None) {
        error = voxcapt::parseErrorText(parsed, path);
        return false;
    }
    const std::uint64_t frameBytes = std::max<std::uint32_t>(wave.format.blockAlign, 1);
    const std::uint64_t dropped = std::min<std::uint64_t>(frames * frameBytes, wave.dataSize / frameBytes * frameBytes);
    const std::uint64_t kept = wave.dataSize - dropped;

    // The header as the recording wrote it, with the new sizes.
    std::vector<std::uint8_t> header(wave.dataOffset);
    if (!in.seek(0) || !in.read(header.data(), header.size())) {
        error = "cannot read " + path;
        return false;
    }
    voxcapt::put32(header.data() + 4, static_cast<std::uint32_t>(header.size() + kept - 8));
    voxcapt::put32(header.data() + wave.dataHeaderOffset + 4, static_cast<std::uint32_t>(kept));

    platform::ReplacementFile replacement(path, platform::ReplacementFile::Start::Empty);
    platform::FileWriter out;
    if (!replacement.valid() || !out.open(replacement.path()) || !out.write(header.data(), header.size()) ||
        !in.seek(wave.dataOffset + dropped)) {
        error = "cannot write beside " + path;
        return false;
    }
    std::array<std::uint8_t, 64 * 1024> block{};
    for (std::uint64_t left = kept; left > 0;) {
        const std::size_t now = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        if (!in.read(block.data(), now) || !out.write(block.data(), now)) {
            error = "cannot copy " + path;
            return false;
        }
        left -= now;
    }
    if (!out.close() || !replacement.commit()) {
        error = "cannot replace " + path;
        return false;
    }
    return true;
}

}  // namespace render
