#include "LiveTake.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace pitch {

namespace {

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
           (std::uint32_t{bytes[3]} << 24);
}

std::uint16_t littleEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// The recorder writes its buffers as they fill; a look every 20 ms keeps the trail within
// a frame or two of the file.
constexpr auto kPollEvery = std::chrono::milliseconds(20);
// Enough for the header of any wave file a recorder writes.
constexpr std::size_t kHeaderLook = 4096;

}  // namespace

std::optional<WaveLayout> ReadWaveLayout(const std::uint8_t* bytes, std::size_t size) {
    if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) {
        return std::nullopt;
    }
    std::optional<WaveLayout> format;
    std::size_t pos = 12;
    while (size - pos >= 8) {
        const std::uint8_t* chunk = bytes + pos;
        const std::uint64_t length = littleEndian32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            if (!format) {
                return std::nullopt;
            }
            format->dataOffset = pos + 8;
            return format;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || size - pos - 8 < 16) {
                return std::nullopt;
            }
            const std::uint16_t tag = littleEndian16(chunk + 8);
            WaveLayout layout;
            layout.channels = littleEndian16(chunk + 10);
            const std::uint32_t rate = littleEndian32(chunk + 12);
            layout.bits = littleEndian16(chunk + 22);
            if (tag != 1 || (layout.bits != 8 && layout.bits != 16) || layout.channels < 1 || layout.channels > 8 ||
                rate < 1000 || rate > 384000) {
                return std::nullopt;
            }
            layout.rate = static_cast<int>(rate);
            format = layout;
        }
        // Chunks are padded to an even length.
        const std::uint64_t next = pos + 8 + length + (length & 1);
        if (next > size) {
            return std::nullopt;
        }
        pos = static_cast<std::size_t>(next);
    }
    return std::nullopt;
}

LiveTake::~LiveTake() { stop(); }

void LiveTake::start(std::string path) {
    stop();
    m_stop.store(false, std::memory_order_relaxed);
    m_thread = std::thread([this, file = std::move(path)] { follow(file); });
}

void LiveTake::stop() {
    m_stop.store(true, std::memory_order_relaxed);
    if (m_thread.joinable()) {
        m_thread.join();
    }
    const std::lock_guard<std::mutex> guard(m_lock);
    m_frames.clear();
}

std::vector<PitchFrame> LiveTake::take() {
    std::vector<PitchFrame> frames;
    const std::lock_guard<std::mutex> guard(m_lock);
    frames.swap(m_frames);
    return frames;
}

void LiveTake::follow(const std::string& path) {
    std::FILE* file = nullptr;
    std::optional<WaveLayout> layout;
    std::optional<PitchTracker> tracker;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> partial;  // the start of a sample frame not yet whole
    std::uint64_t position = 0;
    while (!m_stop.load(std::memory_order_relaxed)) {
        std::this_thread::sleep_for(kPollEvery);
        if (file == nullptr && (file = std::fopen(path.c_str(), "rb")) == nullptr) {
            continue;  // not created yet
        }
        if (!layout) {
            bytes.resize(kHeaderLook);
            std::rewind(file);
            const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
            std::clearerr(file);
            if (!(layout = ReadWaveLayout(bytes.data(), got))) {
                continue;  // the header is not all there yet
            }
            tracker.emplace(layout->rate, layout->channels);
            position = layout->dataOffset;
        }
        if (std::fseek(file, static_cast<long>(position), SEEK_SET) != 0) {
            continue;
        }
        bytes.resize(1 << 16);
        const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
        std::clearerr(file);  // the end of the file moves on: read again next time
        position += got;
        partial.insert(partial.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(got));
        const std::size_t frameBytes = static_cast<std::size_t>(layout->channels) * (layout->bits / 8);
        const std::size_t whole = partial.size() / frameBytes * frameBytes;
        if (whole == 0) {
            continue;
        }
        if (layout->bits == 16) {
            std::vector<std::int16_t> samples(whole / 2);
            for (std::size_t i = 0; i < samples.size(); ++i) {
                samples[i] = static_cast<std::int16_t>(littleEndian16(partial.data() + 2 * i));
            }
            tracker->feed16(samples);
        } else {
            tracker->feed8(std::span<const std::uint8_t>(partial.data(), whole));
        }
        partial.erase(partial.begin(), partial.begin() + static_cast<std::ptrdiff_t>(whole));
        std::vector<PitchFrame> frames = tracker->take();
        if (!frames.empty()) {
            const std::lock_guard<std::mutex> guard(m_lock);
            m_frames.insert(m_frames.end(), frames.begin(), frames.end());
        }
    }
    if (file != nullptr) {
        std::fclose(file);
    }
}

}  // namespace pitch
