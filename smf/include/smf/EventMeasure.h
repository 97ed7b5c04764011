#pragma once

// The measure of one event in a Standard MIDI file track, and of a variable-length
// quantity. Every walker of track bytes uses these, so they all agree on where each
// event ends: a track read one way by the loader (which decides the song's length) and
// another way by the player would play stray bytes as events, or skip real ones.
//
// Bytes are read through `data[i]`, so the same code serves plain byte arrays and the
// sequencer's atomic track bytes. Nothing here reads at or past `end`.

#include <cstddef>
#include <cstdint>

namespace smf {

enum class EventKind {
    Channel,      // 0x80-0xEF, or a data byte under such a running status (or none yet)
    Meta,         // 0xFF type length data
    SysEx,        // 0xF0 through the next 0xF7
    System,       // 0xF1-0xF3, 0xF6, 0xF8, 0xFA-0xFC, 0xFE: keep the running status
    Undefined,    // 0xF4, 0xF5, 0xF7, 0xF9, 0xFD: two data bytes, become the running status
    RunningOther  // a data byte under a running status of 0xF0 or above
};

struct MidiEvent {
    EventKind kind = EventKind::Channel;
    std::size_t length = 0;      // bytes from the event's first byte to its end
    bool complete = false;       // false: the event runs past `end` (length then stops at end)
    bool hasStatusByte = false;  // false for a data byte under running status
    std::uint8_t status = 0;     // the event's status, explicit or running (0 if none yet)
    std::uint8_t metaType = 0;   // meta events only
    std::uint32_t metaLength = 0;
    std::size_t dataOffset = 0;  // offset of the first data byte (after status, or meta length)

    bool isEndOfTrack() const {
        return kind == EventKind::Meta && metaType == 0x2F && metaLength == 0;
    }
};

// Decodes a variable-length quantity at `pos` (any number of bytes, 32-bit result, high
// bits falling off). False, with `pos` at `end`, when it is cut off by `end`.
template <typename Bytes, typename Index>
bool readVarLen(const Bytes& data, Index end, Index& pos, std::uint32_t& value) {
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

// Data bytes after a channel status byte.
constexpr std::size_t channelDataBytes(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

namespace detail {

// Sets the length to `wanted` bytes from the event's start, or to what is left.
inline void take(MidiEvent& event, std::size_t pos, std::size_t end, std::size_t wanted) {
    const std::size_t left = end - pos;
    event.complete = wanted <= left;
    event.length = event.complete ? wanted : left;
}

constexpr bool isSingleByteSystem(std::uint8_t b) {
    return b == 0xF6 || b == 0xF8 || b == 0xFA || b == 0xFB || b == 0xFC || b == 0xFE;
}

}  // namespace detail

// Measures the event whose first byte is at `pos` (after its delta time), updating the
// running status as a status byte 0x80-0xEF or 0xF4, 0xF5, 0xF7, 0xF9, 0xFD does; meta
// events, system exclusive and the other system messages leave it as it was. A data
// byte with no running status yet (0) counts as a two-byte message.
template <typename Bytes>
MidiEvent measureEvent(const Bytes& data, std::size_t end, std::size_t pos,
                       std::uint8_t& runningStatus) {
    using detail::take;
    MidiEvent event;
    if (pos >= end) {
        return event;
    }
    const std::uint8_t b = data[pos];
    event.dataOffset = pos + 1;
    if (b < 0x80) {
        event.status = runningStatus;
        event.dataOffset = pos;
        event.kind = runningStatus >= 0xF0 ? EventKind::RunningOther : EventKind::Channel;
        take(event, pos, end, channelDataBytes(runningStatus));
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
    if (detail::isSingleByteSystem(b)) {
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
    take(event, pos, end, 1 + channelDataBytes(b));
    return event;
}

}  // namespace smf
