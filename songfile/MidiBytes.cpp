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
    value = 0;
    while (pos < end) {
        const std::uint8_t byte = data[pos++];
        value = (value << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    pos = end;
    return false;
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

namespace {

// Sets the length to `wanted` bytes from the event's start, or to what is left.
void take(MidiEvent& event, std::size_t pos, std::size_t end, std::size_t wanted) {
    const std::size_t left = end - pos;
    event.complete = wanted <= left;
    event.length = event.complete ? wanted : left;
}

bool isSingleByteSystem(std::uint8_t b) {
    return b == 0xF6 || b == 0xF8 || b == 0xFA || b == 0xFB || b == 0xFC || b == 0xFE;
}

}  // namespace

MidiEvent measureEvent(const std::uint8_t* data, std::size_t end, std::size_t pos,
                       std::uint8_t& runningStatus) {
    MidiEvent event;
    if (pos >= end) {
        return event;
    }
    const std::uint8_t b = data[pos];
    event.dataOffset = pos + 1;
    if (b < 0x80) {
        event.hasStatusByte = false;
        event.status = runningStatus;
        event.dataOffset = pos;
        const std::uint8_t kind = runningStatus & 0xF0;
        event.kind = runningStatus >= 0xF0 ? EventKind::RunningOther : EventKind::Channel;
        take(event, pos, end, (kind == 0xC0 || kind == 0xD0) ? 1 : 2);
        return event;
    }
    event.hasStatusByte = true;
    event.status = b;
    if (b == 0xFF) {
        event.kind = EventKind::Meta;
        if (pos + 1 >= end) {
            take(event, pos, end, 2);
            return event;
        }
        event.metaType = data[pos + 1];
        std::size_t cursor = pos + 2;
        if (!readVarLen(data, end, cursor, event.metaLength)) {
            event.complete = false;
            event.length = end - pos;
            return event;
        }
        event.dataOffset = cursor;
        take(event, pos, end, (cursor - pos) + std::size_t{event.metaLength});
        return event;
    }
    if (b == 0xF0) {
        event.kind = EventKind::SysEx;
        std::size_t cursor = pos + 1;
        while (cursor < end && data[cursor] != 0xF7) {
            ++cursor;
        }
        take(event, pos, end, cursor - pos + 1);
        return event;
    }
    if (b == 0xF1 || b == 0xF3) {
        event.kind = EventKind::System;
        take(event, pos, end, 2);
        return event;
    }
    if (b == 0xF2) {
        event.kind = EventKind::System;
        take(event, pos, end, 3);
        return event;
    }
    if (isSingleByteSystem(b)) {
        event.kind = EventKind::System;
        take(event, pos, end, 1);
        return event;
    }
    runningStatus = b;
    if (b >= 0xF0) {  // 0xF4, 0xF5, 0xF7, 0xF9, 0xFD
        event.kind = EventKind::Undefined;
        take(event, pos, end, 3);
        return event;
    }
    event.kind = EventKind::Channel;
    const std::uint8_t kind = b & 0xF0;
    take(event, pos, end, (kind == 0xC0 || kind == 0xD0) ? 2 : 3);
    return event;
}

}  // namespace songfile
