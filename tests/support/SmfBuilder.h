#pragma once

// A small byte-builder for Standard MIDI files in tests: exact bytes, nothing hidden.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testing_support {

using ByteVector = std::vector<std::uint8_t>;

class Bytes {
public:
    Bytes& u8(std::uint32_t value) {
        m_bytes.push_back(static_cast<std::uint8_t>(value));
        return *this;
    }
    Bytes& u16(std::uint32_t value) { return u8(value >> 8).u8(value); }
    Bytes& u24(std::uint32_t value) { return u8(value >> 16).u8(value >> 8).u8(value); }
    Bytes& u32(std::uint32_t value) { return u16(value >> 16).u16(value); }
    Bytes& raw(std::initializer_list<std::uint32_t> values) {
        for (std::uint32_t v : values) {
            u8(v);
        }
        return *this;
    }
    Bytes& raw(const ByteVector& values) {
        m_bytes.insert(m_bytes.end(), values.begin(), values.end());
        return *this;
    }
    Bytes& text(const std::string& value) {
        m_bytes.insert(m_bytes.end(), value.begin(), value.end());
        return *this;
    }
    // Variable-length quantity: seven bits a byte, most significant first.
    Bytes& varLen(std::uint32_t value) {
        std::uint8_t groups[5];
        int count = 0;
        do {
            groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value != 0);
        while (count > 1) {
            u8(groups[--count] | 0x80);
        }
        return u8(groups[0]);
    }
    const ByteVector& bytes() const { return m_bytes; }
    std::size_t size() const { return m_bytes.size(); }

private:
    ByteVector m_bytes;
};

// Events of one track chunk, each written as a delta time and its bytes.
class Track {
public:
    Track& noteOn(std::uint32_t delta, int channel, int note, int velocity) {
        return event(delta, {0x90u | channel, static_cast<std::uint32_t>(note),
                             static_cast<std::uint32_t>(velocity)});
    }
    Track& noteOff(std::uint32_t delta, int channel, int note, int velocity = 0x40) {
        return event(delta, {0x80u | channel, static_cast<std::uint32_t>(note),
                             static_cast<std::uint32_t>(velocity)});
    }
    Track& control(std::uint32_t delta, int channel, int controller, int value) {
        return event(delta, {0xB0u | channel, static_cast<std::uint32_t>(controller),
                             static_cast<std::uint32_t>(value)});
    }
    Track& program(std::uint32_t delta, int channel, int program) {
        return event(delta, {0xC0u | channel, static_cast<std::uint32_t>(program)});
    }
    Track& tempo(std::uint32_t delta, std::uint32_t microsPerQuarter) {
        m_body.varLen(delta).raw({0xFF, 0x51, 0x03}).u24(microsPerQuarter);
        return *this;
    }
    Track& meta(std::uint32_t delta, int type, const std::string& data) {
        m_body.varLen(delta).u8(0xFF).u8(type).varLen(static_cast<std::uint32_t>(data.size())).text(data);
        return *this;
    }
    // Any bytes after a delta: running-status events, system exclusive, malformed data.
    Track& event(std::uint32_t delta, std::initializer_list<std::uint32_t> bytes) {
        m_body.varLen(delta).raw(bytes);
        return *this;
    }
    Track& end(std::uint32_t delta = 0) {
        m_body.varLen(delta).raw({0xFF, 0x2F, 0x00});
        return *this;
    }
    Track& rawBytes(const ByteVector& bytes) {
        m_body.raw(bytes);
        return *this;
    }
    const ByteVector& body() const { return m_body.bytes(); }

private:
    Bytes m_body;
};

// The parts one after the other, as they follow each other in a file.
inline ByteVector concat(std::initializer_list<ByteVector> parts) {
    ByteVector all;
    for (const ByteVector& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

inline ByteVector trackChunk(const Track& track) {
    Bytes chunk;
    chunk.text("MTrk").u32(static_cast<std::uint32_t>(track.body().size())).raw(track.body());
    return chunk.bytes();
}

inline ByteVector smfHeader(int format, int trackCount, int division) {
    Bytes header;
    header.text("MThd").u32(6).u16(format).u16(trackCount).u16(division);
    return header.bytes();
}

inline ByteVector smf(int format, int division, const std::vector<Track>& tracks) {
    Bytes file;
    file.raw(smfHeader(format, static_cast<int>(tracks.size()), division));
    for (const Track& track : tracks) {
        file.raw(trackChunk(track));
    }
    return file.bytes();
}

}  // namespace testing_support
