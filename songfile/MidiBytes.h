#pragma once

// Reading and writing the raw bytes of Standard MIDI files: big-endian words, variable-
// length quantities, and the measure of one event. Every read is bounded by the end it
// is given; nothing here reads past it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace songfile {

std::uint16_t readBigEndian16(const std::uint8_t* bytes);
std::uint32_t readBigEndian32(const std::uint8_t* bytes);
void appendBigEndian16(std::vector<std::uint8_t>& out, std::uint16_t value);
void appendBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value);

// Decodes a variable-length quantity at `pos` (any number of bytes, 32-bit result, high
// bits falling off). False, with `pos` at `end`, when it is cut off by `end`.
bool readVarLen(const std::uint8_t* data, std::size_t end, std::size_t& pos, std::uint32_t& value);

// Appends `value` in the shortest form (one to five bytes).
void appendVarLen(std::vector<std::uint8_t>& out, std::uint32_t value);

enum class EventKind {
    Channel,      // 0x80-0xEF, or a data byte under a running status below 0xF0
    Meta,         // 0xFF
    SysEx,        // 0xF0 through the next 0xF7
    System,       // 0xF1-0xF3, 0xF6, 0xF8, 0xFA-0xFC, 0xFE
    Undefined,    // 0xF4, 0xF5, 0xF7, 0xF9, 0xFD: two data bytes, becomes the running status
    RunningOther  // a data byte under a running status of 0xF0 or above
};

struct MidiEvent {
    EventKind kind = EventKind::Channel;
    std::size_t length = 0;     // bytes from the event's first byte to its end
    bool complete = false;      // false: the event runs past `end` (length then stops at end)
    bool hasStatusByte = false; // false for a data byte under running status
    std::uint8_t status = 0;    // the event's status, explicit or running (0 if none yet)
    std::uint8_t metaType = 0;  // meta events only
    std::uint32_t metaLength = 0;
    std::size_t dataOffset = 0; // offset of the first data byte (after status, or meta length)
};

// Measures the event whose first byte is at `pos`, updating the running status as a
// status byte 0x80-0xEF or 0xF4, 0xF5, 0xF7, 0xF9, 0xFD does. A data byte with no running
// status yet (0) counts as a two-byte message.
MidiEvent measureEvent(const std::uint8_t* data, std::size_t end, std::size_t pos,
                       std::uint8_t& runningStatus);

}  // namespace songfile
