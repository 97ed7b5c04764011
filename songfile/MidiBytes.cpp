#include "MidiBytes.h"

namespace songfile {

std::uint16_t readBigEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

std::uint32_t readBigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

void appendBigEndian16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    appendBigEndian16(out, static_cast<std::uint16_t>(value >> 16));
    appendBigEndian16(out, static_cast<std::uint16_t>(value));
}

bool readVarLen(const std::uint8_t* data, std::size_t end, std::size_t& pos, std::uint32_t& value) {
    return smf::readVarLen(data, end, pos, value);
}

void appendVarLen(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1) {
        out.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
    }
    out.push_back(groups[0]);
}

}  // namespace songfile
