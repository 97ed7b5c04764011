#include "LiveVoice.h"

namespace pitch {

LiveVoice::LiveVoice() : m_tap(std::make_unique<audio::CaptureTap>()) {}

LiveVoice::~LiveVoice() = default;

LiveVoice::Heard LiveVoice::poll() {
    Heard heard;
    const audio::WaveFormat& format = m_tap->format();
    if (m_tap->captures() != m_capture) {
        m_capture = m_tap->captures();
        m_tracker.emplace(static_cast<int>(format.samplesPerSec), format.channels);
        m_frames = 0;
        m_partial.clear();
        heard.restarted = true;
    }
    const std::size_t frameBytes = format.blockAlign;
    const bool eightBit = format.bitsPerSample == 8;
    if (!m_tracker || !m_tracker->valid() || frameBytes == 0 || (!eightBit && format.bitsPerSample != 16)) {
        m_tap->read([](const std::uint8_t*, std::size_t, bool) {});
        return heard;
    }
    m_tap->read([&](const std::uint8_t* bytes, std::size_t size, bool lost) {
        if (lost) {
            // Dropped while the reader was late: silence of its length keeps the time.
            m_partial.insert(m_partial.end(), size, eightBit ? 0x80 : 0x00);
        } else {
            m_partial.insert(m_partial.end(), bytes, bytes + size);
        }
    });
    const std::size_t whole = m_partial.size() / frameBytes * frameBytes;
    if (whole == 0) {
        return heard;
    }
    const std::size_t sampleBytes = eightBit ? 1 : 2;
    m_samples.resize(whole / sampleBytes);
    for (std::size_t i = 0; i < m_samples.size(); ++i) {
        if (eightBit) {
            m_samples[i] = (static_cast<float>(m_partial[i]) - 128.0f) / 128.0f;
        } else {
            const auto value = static_cast<std::int16_t>(m_partial[2 * i] | (m_partial[2 * i + 1] << 8));
            m_samples[i] = static_cast<float>(value) / 32768.0f;
        }
    }
    m_partial.erase(m_partial.begin(), m_partial.begin() + static_cast<std::ptrdiff_t>(whole));
    m_tracker->feed(m_samples);
    m_frames += whole / frameBytes;
    heard.frames = m_tracker->take();
    heard.seconds = static_cast<double>(m_frames) / format.samplesPerSec;
    return heard;
}

}  // namespace pitch
